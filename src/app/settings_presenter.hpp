#pragma once
// What the Settings window says: where verified recordings and the library are kept (the real
// folders, with the home folder written "~") and the safety promise. It edits no setting.

#include <filesystem>
#include <string>
#include <vector>

namespace velk {

struct SettingsLine {
    std::string text;
    bool caption = false; // caption style, secondary colour
    bool reachedByTab = false; // a folder or the safety promise: Tab reaches it, a screen reader reads it, and the
                               // keyboard selects and copies from it
};

struct SettingsSection {
    std::string title;
    std::vector<SettingsLine> lines;
};

namespace SettingsText {
inline constexpr const char* windowTitle = "Kestova Settings";
inline constexpr const char* storage = "Storage";
inline constexpr const char* verifiedRecordings = "Verified recordings: ";
inline constexpr const char* library = "Library: ";
inline constexpr const char* legacyPaths = "Legacy-compatible storage paths are preserved after the rename.";
inline constexpr const char* safety = "Safety";
inline constexpr const char* safetyPromise = "Kestova never deletes phone recordings or overwrites an export directory.";
} // namespace SettingsText

// `path` with a leading `home` folder written "~" ("~/Videos/Velk"); other paths unchanged.
std::string homeAbbreviated(const std::filesystem::path& path, const std::filesystem::path& home);

// The two sections, in order: "Storage" (recordings, library, the legacy note) and "Safety".
std::vector<SettingsSection> settingsSections(const std::filesystem::path& recordingsFolder,
                                              const std::filesystem::path& libraryFolder,
                                              const std::filesystem::path& home);

} // namespace velk

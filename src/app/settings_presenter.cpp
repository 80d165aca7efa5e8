#include "app/settings_presenter.hpp"

namespace velk {

std::string homeAbbreviated(const std::filesystem::path& path, const std::filesystem::path& home) {
    const std::filesystem::path full = path.lexically_normal();
    std::filesystem::path base = home.lexically_normal();
    if (!base.empty() && !base.has_filename()) base = base.parent_path(); // "/home/a/" → "/home/a"
    if (base.empty() || base == base.root_path() || !full.is_absolute()) return path.string();
    auto fullPart = full.begin();
    for (auto basePart = base.begin(); basePart != base.end(); ++basePart, ++fullPart) {
        if (fullPart == full.end() || *fullPart != *basePart) return path.string();
    }
    std::string rest;
    for (; fullPart != full.end(); ++fullPart) {
        if (fullPart->empty()) continue; // a trailing separator
        rest += "/" + fullPart->string();
    }
    return "~" + rest;
}

std::vector<SettingsSection> settingsSections(const std::filesystem::path& recordingsFolder,
                                              const std::filesystem::path& libraryFolder,
                                              const std::filesystem::path& home) {
    return {
        {SettingsText::storage,
         {{SettingsText::verifiedRecordings + homeAbbreviated(recordingsFolder, home), false, true},
          {SettingsText::library + homeAbbreviated(libraryFolder, home), false, true},
          {SettingsText::legacyPaths, true}}},
        {SettingsText::safety, {{SettingsText::safetyPromise, false, true}}},
    };
}

} // namespace velk

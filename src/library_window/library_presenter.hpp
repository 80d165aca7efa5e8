#pragma once
// The Library window's view rules as plain functions of the store's values: the sidebar's filter
// and rows, the toolbar's enabling, the take list and the dashboard. Widgets call these and only
// wire the results.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/library.hpp"
#include "model/progress.hpp"

namespace velk::library {

// Named colours; the window maps them to the theme.
enum class Tint { primary, secondary, green, orange, red };

// "3 projects", "1 takes": a count joined to its noun has no singular form.
std::string countText(std::size_t count, std::string_view suffix);

// --- Sidebar. ---

// Indexes into `projects`, in library order, of the projects whose name contains the trimmed
// search text ignoring case; all of them when the trimmed text is empty. Ids are not searched.
std::vector<std::size_t> filteredProjectIndexes(const std::vector<VELKProject>& projects, std::string_view search);

struct ProjectRow {
    std::string symbol;
    Tint tint;
    std::string title;
    std::string subtitle;
};
ProjectRow projectRow(const VELKProject& project);

// "Rename" acts on a selected project that is not the holder of unassigned takes.
bool canRenameProject(const VELKProject* selected);

// A confirmation acts only on the project it was opened for, and only while that one is still
// selected.
bool confirmationStillApplies(const std::optional<std::string>& openedFor, const std::optional<std::string>& selectedNow);

// --- Toolbar and Project menu. ---

struct ToolbarInputs {
    bool isBusy = false;
    bool canDownloadSelectedTake = false;
    bool canDownloadSelectedProject = false;
    bool canTrashSelectedProjectSources = false;
    bool hasSelectedTake = false;
};
struct ToolbarState {
    bool director = true;
    bool importManifest = true;
    bool downloadTake = false;
    bool projectMenu = true;
    bool exportForResolve = false;
    bool downloadWholeProject = false;
    bool moveSourceToTrash = false;
    bool operator==(const ToolbarState&) const = default;
};
ToolbarState toolbarState(const ToolbarInputs& inputs);

// --- Take list. ---

// At least one clip, and every clip has a local path (any value).
bool isMediaReady(const VELKTake& take);

struct TakeRow {
    std::string symbol;
    Tint tint;
    std::string title;
    std::string subtitle;
};
TakeRow takeRow(const VELKTake& take);

// The take selection after the selected project changed: kept when it names a take of the new
// project, else that project's first take, else none.
std::optional<std::string> takeSelectionAfterProjectChange(const VELKProject* project,
                                                           const std::optional<std::string>& selectedTakeID);

// --- Dashboard. ---

enum class LibraryDashboardTab { overview, media, exportPackage, activity };
inline constexpr std::array<LibraryDashboardTab, 4> allDashboardTabs = {
    LibraryDashboardTab::overview, LibraryDashboardTab::media, LibraryDashboardTab::exportPackage,
    LibraryDashboardTab::activity};
std::string_view rawValue(LibraryDashboardTab tab);
std::string_view symbol(LibraryDashboardTab tab);
std::optional<LibraryDashboardTab> dashboardTabFromRawValue(std::string_view raw);

struct Pill {
    std::string text;
    Tint tint;
    bool operator==(const Pill&) const = default;
};
Pill mediaPill(const VELKTake& take);

struct Metric {
    std::string title;
    std::string value;
    std::string symbol;
    bool operator==(const Metric&) const = default;
};
std::array<Metric, 3> takeMetrics(const VELKTake& take);

struct Readiness {
    std::string label;
    bool ready;
    bool operator==(const Readiness&) const = default;
};
std::vector<Readiness> takeReadiness(const VELKProject& project, const VELKTake& take);

struct Detail {
    std::string label;
    std::string value;
    bool operator==(const Detail&) const = default;
};
std::vector<Detail> takeDetails(const VELKProject& project, const VELKTake& take);

struct StatusLine {
    std::string text;
    std::string symbol;
    Tint tint;
    bool operator==(const StatusLine&) const = default;
};
StatusLine resolveMediaStatus(const VELKTake& take);

// The clip's camera is the take's reference camera (exact comparison).
bool isReferenceClip(const VELKTake& take, const VELKClip& clip);

struct ClipRowView {
    std::string symbol;
    Tint tint;
    std::string copyText;
    std::string anchorsText;
    bool showsReferencePill;
    bool showsReferenceButton;
    // The row as one text, which a screen reader reads as the keyboard comes to it: its camera, file,
    // where its copy is, its anchors and whether it is the reference.
    std::string spokenText;
};
ClipRowView clipRow(const VELKClip& clip, bool isReference);
// What assistive tools are told as the take's reference camera changes.
std::string referenceNews(const std::string& cameraID);

struct ActivityRowView {
    std::string symbol;
    Tint tint;
};
ActivityRowView activityRow(const ActivityEntry& entry);

} // namespace velk::library

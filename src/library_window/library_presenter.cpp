#include "library_window/library_presenter.hpp"

#include <algorithm>

#include "base/unicode.hpp"
#include "library_window/library_texts.hpp"
#include "store/store_text.hpp"

namespace velk::library {

namespace T = library_text;

std::string countText(std::size_t count, std::string_view suffix) {
    return std::to_string(count) + std::string(suffix);
}

std::vector<std::size_t> filteredProjectIndexes(const std::vector<VELKProject>& projects, std::string_view search) {
    std::vector<std::size_t> indexes;
    const std::string needle = text::trimmedWhitespace(search);
    indexes.reserve(projects.size());
    for (std::size_t i = 0; i < projects.size(); ++i) {
        if (text::localizedCaseInsensitiveContains(projects[i].name, needle)) indexes.push_back(i);
    }
    return indexes;
}

ProjectRow projectRow(const VELKProject& project) {
    const bool unassigned = StoreText::isUnassignedProjectID(project.id);
    return {unassigned ? "tray" : "folder.fill", unassigned ? Tint::orange : Tint::green, project.name,
            countText(project.takes.size(), T::takesSuffix)};
}

bool canRenameProject(const VELKProject* selected) {
    return selected && !StoreText::isUnassignedProjectID(selected->id);
}

bool confirmationStillApplies(const std::optional<std::string>& openedFor, const std::optional<std::string>& selectedNow) {
    return openedFor && selectedNow && *openedFor == *selectedNow;
}

ToolbarState toolbarState(const ToolbarInputs& in) {
    ToolbarState state;
    state.downloadTake = in.canDownloadSelectedTake && !in.isBusy;
    state.exportForResolve = in.hasSelectedTake && !in.isBusy;
    state.downloadWholeProject = in.canDownloadSelectedProject && !in.isBusy;
    state.moveSourceToTrash = in.canTrashSelectedProjectSources && !in.isBusy;
    return state;
}

bool isMediaReady(const VELKTake& take) {
    return !take.clips.empty() &&
           std::all_of(take.clips.begin(), take.clips.end(), [](const VELKClip& clip) { return clip.localPath.has_value(); });
}

TakeRow takeRow(const VELKTake& take) {
    const bool ready = isMediaReady(take);
    return {ready ? "checkmark.circle.fill" : "film", ready ? Tint::green : Tint::secondary, take.id,
            std::to_string(take.clips.size()) + T::camerasJoin + take.timelineFPS + T::fpsSuffix};
}

std::optional<std::string> takeSelectionAfterProjectChange(const VELKProject* project,
                                                           const std::optional<std::string>& selectedTakeID) {
    if (!project || project->takes.empty()) return std::nullopt;
    if (selectedTakeID) {
        for (const VELKTake& take : project->takes) {
            if (take.id == *selectedTakeID) return selectedTakeID;
        }
    }
    return project->takes.front().id;
}

std::string_view rawValue(LibraryDashboardTab tab) {
    switch (tab) {
    case LibraryDashboardTab::overview: return "Overview";
    case LibraryDashboardTab::media: return "Media";
    case LibraryDashboardTab::exportPackage: return "Resolve";
    case LibraryDashboardTab::activity: return "Activity";
    }
    return {};
}

std::string_view symbol(LibraryDashboardTab tab) {
    switch (tab) {
    case LibraryDashboardTab::overview: return "square.grid.2x2";
    case LibraryDashboardTab::media: return "film.stack";
    case LibraryDashboardTab::exportPackage: return "wand.and.stars";
    case LibraryDashboardTab::activity: return "clock.arrow.circlepath";
    }
    return {};
}

std::optional<LibraryDashboardTab> dashboardTabFromRawValue(std::string_view raw) {
    for (LibraryDashboardTab tab : allDashboardTabs) {
        if (rawValue(tab) == raw) return tab;
    }
    return std::nullopt;
}

Pill mediaPill(const VELKTake& take) {
    return isMediaReady(take) ? Pill{T::ready, Tint::green} : Pill{T::mediaPending, Tint::orange};
}

static std::size_t clipsOnComputer(const VELKTake& take) {
    return static_cast<std::size_t>(std::count_if(take.clips.begin(), take.clips.end(),
                                                  [](const VELKClip& clip) { return clip.localPath.has_value(); }));
}

std::array<Metric, 3> takeMetrics(const VELKTake& take) {
    const std::string count = std::to_string(take.clips.size());
    return {Metric{T::metricCameras, count, "video.fill"},
            Metric{T::metricOnComputer, std::to_string(clipsOnComputer(take)) + "/" + count, "checkmark.circle.fill"},
            Metric{T::metricTimeline, take.timelineFPS + T::fpsSuffix, "timeline.selection"}};
}

std::vector<Readiness> takeReadiness(const VELKProject& project, const VELKTake& take) {
    const bool anchored = std::any_of(take.clips.begin(), take.clips.end(),
                                      [](const VELKClip& clip) { return !clip.anchors.empty(); });
    return {{T::readyProjectIdentity, !project.id.empty()},
            {T::readyRecordings, !take.clips.empty()},
            {T::readyDownloads, isMediaReady(take)},
            {T::readyReference, take.referenceCameraId.has_value()},
            {T::readyAnchors, anchored}};
}

std::vector<Detail> takeDetails(const VELKProject& project, const VELKTake& take) {
    return {{T::detailTakeID, take.id},
            {T::detailFrameRate, take.timelineFPS},
            {T::detailReference, take.referenceCameraId.value_or(T::notSelected)},
            {T::detailCapturedAs, take.projectNameAtCapture.value_or(project.name)},
            {T::detailManifest, take.sourceManifestPath ? T::manifestImported : T::manifestCatalog}};
}

StatusLine resolveMediaStatus(const VELKTake& take) {
    if (isMediaReady(take)) return {T::mediaPresent, "checkmark.circle.fill", Tint::green};
    return {T::downloadAllFirst, "exclamationmark.triangle.fill", Tint::orange};
}

bool isReferenceClip(const VELKTake& take, const VELKClip& clip) {
    return take.referenceCameraId && *take.referenceCameraId == clip.cameraId;
}

ClipRowView clipRow(const VELKClip& clip, bool isReference) {
    const bool local = clip.localPath.has_value();
    ClipRowView view{local ? "video.fill" : "iphone.gen3.radiowaves.left.and.right",
                     local ? Tint::green : Tint::orange,
                     local ? T::verifiedOnComputer : T::onDevice,
                     countText(clip.anchors.size(), T::anchorsSuffix),
                     isReference,
                     !isReference,
                     {}};
    view.spokenText = clip.cameraId + ", " + clip.fileName + ", " + view.copyText + ", " + view.anchorsText + ", " +
                      (isReference ? T::referenceSpoken : T::notReferenceSpoken);
    return view;
}

std::string referenceNews(const std::string& cameraID) { return cameraID + T::referenceNowSuffix; }

ActivityRowView activityRow(const ActivityEntry& entry) {
    if (entry.isError) return {"exclamationmark.triangle.fill", Tint::red};
    return {"checkmark.circle.fill", Tint::green};
}

} // namespace velk::library

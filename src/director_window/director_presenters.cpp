#include "director_window/director_presenters.hpp"

#include <algorithm>
#include <cmath>

#include "base/unicode.hpp"
#include "director_window/number_text.hpp"

namespace velk::DirectorPresenters {

namespace {

constexpr const char* kUnassignedPrefix = "unassigned-";

// Parts of an accessible description, in the order the eye reads them.
std::string joinedParts(const std::vector<std::string>& parts) {
    std::string joined;
    for (const auto& part : parts) {
        if (part.empty()) continue;
        if (!joined.empty()) joined += ", ";
        joined += part;
    }
    return joined;
}

} // namespace

StatusPillValue cameraCountPill(std::size_t onlineCameraCount) {
    return {std::to_string(onlineCameraCount) + " CAMERAS", onlineCameraCount == 0 ? StudioColor::orange : StudioColor::green};
}

StatusPillValue phasePill(DirectorRecordingPhase phase) {
    return {text::uppercased(rawValue(phase)),
            phase == DirectorRecordingPhase::recording ? StudioColor::red : StudioColor::secondary};
}

ProductionBar productionBar(std::size_t onlineCameraCount, const std::optional<VELKProject>& project,
                            const std::string& plannedTakeID, const std::string& policyTitle) {
    const bool live = onlineCameraCount > 0;
    return {live ? StudioColor::green : StudioColor::orange, live ? "Live network active" : "Waiting for cameras",
            project ? project->name : "No project selected", "/  " + plannedTakeID, "JPEG \u2022 " + policyTitle};
}

std::string multiviewSubtitle(bool isActiveScanning) {
    return isActiveScanning ? "Scanning local network\u2026" : "Eight locked slots \u2022 offline cameras keep their position";
}

std::vector<WallCell> wallCells(const DirectorCameraSlotLayout& slots, const Cameras& cameras) {
    std::vector<WallCell> cells;
    for (const auto& slot : slots.slots()) {
        WallCell cell;
        cell.number = slot.index + 1;
        if (!slot.cameraID) {
            cell.kind = WallCellKind::empty;
        } else if (const LiveCamera* camera = DirectorRules::findCamera(cameras, slot.cameraID)) {
            cell.kind = WallCellKind::live;
            cell.camera = camera;
        } else {
            cell.kind = WallCellKind::lockedOffline;
            cell.lockedName = slot.cameraName.value_or("Camera");
        }
        cells.push_back(std::move(cell));
    }
    return cells;
}

std::vector<std::size_t> keyboardHome(const std::vector<WallCell>& cells, const std::optional<std::string>& programCameraID) {
    std::vector<std::size_t> home;
    std::vector<std::size_t> onProgram;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].kind != WallCellKind::live) continue;
        (cells[i].camera->id == programCameraID ? onProgram : home).push_back(i);
    }
    home.insert(home.end(), onProgram.begin(), onProgram.end());
    return home;
}

bool wallShowsEmptyState(const DirectorCameraSlotLayout& slots) {
    return std::none_of(slots.slots().begin(), slots.slots().end(), [](const auto& s) { return s.cameraID.has_value(); });
}

bool slotIsLocked(const DirectorCameraSlotLayout& slots, int index, const Cameras& cameras) {
    if (index < 0 || index >= static_cast<int>(slots.slots().size())) return false;
    const auto& slot = slots.slots()[static_cast<std::size_t>(index)];
    return slot.cameraID && !DirectorRules::findCamera(cameras, slot.cameraID);
}

double wallCellHeight(double wallHeight) { return (wallHeight - 7) * 0.5; }

std::string emptySlotTitle(int number) { return "CAM " + std::to_string(number); }

std::string lockedSlotLine(int number) { return "Offline \u2022 slot " + std::to_string(number) + " locked"; }

std::string wallCellAccessibleName(int number, const std::optional<std::string>& cameraName) {
    return "Slot " + std::to_string(number) + ": " + cameraName.value_or(emptySlotStatus);
}

std::string lockedCellAccessibleDescription(int number) {
    return joinedParts({lockedSlotLine(number), lockedSlotHint});
}

TileState tileState(const LiveCamera& camera, WallTime now, bool hasImage, const std::optional<std::string>& previewError,
                    bool isPreview, bool isProgram, bool takeUnavailable) {
    TileState state;
    const bool online = camera.isOnline(now);
    state.showsFrame = online && hasImage;
    if (!state.showsFrame) state.placeholderText = !online ? "Offline" : previewError.value_or("Connecting\u2026");
    state.dotColor = !online ? StudioColor::gray : camera.recording ? StudioColor::red : StudioColor::green;
    if (camera.displaysRecording(now)) state.badge = TileBadge::rec;
    else if (online && camera.finalizing) state.badge = TileBadge::saving;
    else if (online && camera.takeBusy) state.badge = TileBadge::busy;
    state.tag = isProgram ? TileTag::program : isPreview ? TileTag::preview : TileTag::none;
    state.outline = isProgram ? TileOutline::program : isPreview ? TileOutline::preview : TileOutline::normal;
    state.meterValue = online ? camera.leftDB : -60;
    if (auto elapsed = camera.recordingElapsed(now)) {
        state.levelText = *elapsed;
        state.levelIsElapsed = true;
    } else {
        state.levelText = online ? levelText(std::max(camera.leftDB, camera.rightDB)) : "OFFLINE";
    }
    if (online && camera.battery) state.batteryText = std::to_string(*camera.battery) + "%";
    const char* routing = isProgram && isPreview ? "Program and Preview" : isProgram ? "Program" : isPreview ? "Preview" : "";
    const char* take = isPreview && takeUnavailable ? takeUnavailableAccessibleText : "";
    const char* badge = state.badge == TileBadge::rec      ? recordingBadgeAccessibleText
                        : state.badge == TileBadge::saving ? "Saving"
                        : state.badge == TileBadge::busy   ? "Busy"
                                                           : "";
    state.accessibleDescription = joinedParts({routing, take, badge, state.placeholderText});
    return state;
}

MonitorState monitorState(bool program, const std::optional<std::string>& cameraID, const Cameras& cameras,
                          WallTime now, bool hasImage) {
    MonitorState state;
    state.title = program ? "PROGRAM" : "PREVIEW";
    state.color = program ? StudioColor::red : StudioColor::green;
    const DirectorRules::CameraNameText camera = DirectorRules::cameraNameText(cameraID, cameras, now);
    state.cameraLine = camera.text();
    state.cameraState = camera.state;
    const bool online = DirectorRules::cameraIsOnline(cameraID, cameras, now);
    state.showsRecordingBadge = online && DirectorRules::cameraIsRecording(cameraID, cameras, now);
    state.picture = !online ? MonitorPicture::offline : hasImage ? MonitorPicture::frame : MonitorPicture::waiting;
    state.accessibleName = program ? "Program" : "Preview";
    // A listed offline camera's line already ends in " • OFFLINE"; one that left the list shows its id.
    const bool unlisted = cameraID && !DirectorRules::findCamera(cameras, cameraID);
    state.accessibleDescription = joinedParts(
        {state.cameraLine, unlisted ? "OFFLINE" : "", state.showsRecordingBadge ? recordingBadgeAccessibleText : ""});
    return state;
}

std::vector<ProjectOption> projectOptions(const VELKLibrary& library) {
    std::vector<ProjectOption> options;
    for (const auto& project : library.projects)
        if (!project.id.starts_with(kUnassignedPrefix)) options.push_back({project.id, project.name});
    return options;
}

std::string startTitle(bool timelineRunning) { return timelineRunning ? "Session Running" : "Start Director Session"; }

bool startEnabled(const std::optional<std::string>& selectedProjectID, const std::string& plannedTakeID,
                  bool timelineRunning) {
    return selectedProjectID && !text::trimmedWhitespace(plannedTakeID).empty() && !timelineRunning;
}

bool recAllEnabled(const Cameras& onlineCameras, WallTime now, bool hasSelectedProject, bool blocksStart) {
    if (onlineCameras.empty()) return false;
    for (const auto& camera : onlineCameras)
        if (!camera.canPrepareRecording(now)) return false;
    return hasSelectedProject && !blocksStart;
}

std::string controlMessage(const std::optional<std::string>& lastControlMessage) {
    return lastControlMessage.value_or("Commands use the trusted private LAN. Camera status remains the confirmation source.");
}

std::string newTakeIDNews(const std::string& takeID) { return std::string(AccessibleName::newTakeID) + ": " + takeID; }

std::vector<std::string> stopResultLines(const std::map<std::string, std::string>& stopResults, const Cameras& cameras,
                                         WallTime now) {
    std::vector<std::string> lines;
    for (const auto& [id, result] : stopResults) lines.push_back(DirectorRules::cameraName(id, cameras, now) + ": " + result);
    return lines;
}

std::vector<DirectorEditEvent> editEvents(const LiveEditTimeline& timeline) {
    std::vector<DirectorEditEvent> events;
    for (auto it = timeline.events.rbegin(); it != timeline.events.rend(); ++it)
        if (it->kind != DirectorEditEventKind::sessionStarted) events.push_back(*it);
    return events;
}

std::string editsHeadingDetail(std::size_t count) { return std::to_string(count) + " events in this session"; }

std::string timeCode(double elapsedSeconds) {
    const double truncated = std::trunc(elapsedSeconds);
    const std::int64_t t = std::isfinite(truncated) ? static_cast<std::int64_t>(std::clamp(truncated, -1e15, 1e15)) : 0;
    using numberText::padded;
    return padded(t / 3600, 2) + ":" + padded((t / 60) % 60, 2) + ":" + padded(t % 60, 2);
}

std::string editTag(const DirectorEditEvent& event) {
    return event.transition ? std::string(rawValue(*event.transition)) : "MARK";
}

DirectorRules::CameraNameText editDetail(const DirectorEditEvent& event, const Cameras& cameras, WallTime now) {
    if (event.kind == DirectorEditEventKind::marker) return {event.label.value_or("Marker"), {}};
    return DirectorRules::cameraNameText(event.toCameraID, cameras, now);
}

EditRow editRow(const DirectorEditEvent& event, const Cameras& cameras, WallTime now) {
    const DirectorRules::CameraNameText detail = editDetail(event, cameras, now);
    EditRow row{event.id, timeCode(event.elapsedSeconds), editTag(event), detail.text(), detail.state, {}};
    row.accessibleText = row.timeCode + " " + row.tag + " " + row.detail;
    return row;
}

std::vector<EditRow> editRows(const LiveEditTimeline& timeline, const Cameras& cameras, WallTime now) {
    std::vector<EditRow> rows;
    for (const auto& event : editEvents(timeline)) rows.push_back(editRow(event, cameras, now));
    return rows;
}

EditRowsSource editRowsSource(const LiveEditTimeline& timeline, const Cameras& cameras, WallTime now) {
    EditRowsSource source{timeline.events.size(), {}, {}, {}};
    if (!timeline.events.empty()) {
        source.firstID = timeline.events.front().id;
        source.lastID = timeline.events.back().id;
    }
    for (const LiveCamera& camera : cameras)
        source.cameraNames.emplace_back(camera.id, DirectorRules::cameraNameText(camera.id, cameras, now));
    return source;
}

std::optional<std::size_t> editRowsAddedOnTop(const std::vector<EditRow>& shown, const std::vector<EditRow>& next) {
    if (next.size() < shown.size()) return std::nullopt;
    const std::size_t added = next.size() - shown.size();
    for (std::size_t i = 0; i < shown.size(); ++i)
        if (next[added + i].id != shown[i].id) return std::nullopt;
    return added;
}

EditListPlace editListPlaceAfterRowsOnTop(const EditListPlace& place, std::size_t added) {
    if (place.atTop && place.currentRow.value_or(0) == 0) return {true, 0, place.currentRow};
    const int shift = static_cast<int>(added);
    const std::optional<int> current = place.currentRow ? std::optional(*place.currentRow + shift) : std::nullopt;
    return {false, place.firstShownRow + shift, current};
}

OrientationLabel orientationLabel(const std::optional<LiveCamera>& selected) {
    if (selected && selected->orientationLocked()) return {"Orientation locked \u00b7 take active", "lock.fill"};
    return {"Preview orientation", "rotate.right"};
}

bool rotateEnabled(const std::optional<LiveCamera>& selected, WallTime now) {
    return selected && selected->isOnline(now) && !selected->orientationLocked();
}

bool recCameraEnabled(const std::optional<LiveCamera>& selected, WallTime now, bool hasSelectedProject, bool blocksStart) {
    if (!selected || !selected->canPrepareRecording(now)) return false;
    return hasSelectedProject && !blocksStart;
}

bool stopCameraEnabled(const std::optional<LiveCamera>& selected) { return selected.has_value(); }

std::string captureText(const std::optional<LiveCamera>& selected) { return selected ? selected->quality : "\u2014"; }

std::string fpsOptionTitle(std::int64_t fps) { return std::to_string(fps) + " fps"; }

StudioColor meterColor(double valueDB) {
    if (valueDB > -6) return StudioColor::red;
    if (valueDB > -18) return StudioColor::yellow;
    return StudioColor::green;
}

double meterFill(double valueDB) {
    const double fraction = (valueDB + 60) / 60;
    if (std::isnan(fraction)) return 0;
    return std::clamp(fraction, 0.0, 1.0);
}

std::string levelText(double db) { return numberText::fixed(db, 0) + " dB"; }

std::string channelLevelText(const LiveCamera* camera, WallTime now) {
    if (!camera || !camera->isOnline(now)) return "OFFLINE";
    return "L " + numberText::fixed(camera->leftDB, 0) + "  R " + numberText::fixed(camera->rightDB, 0) + " dB";
}

std::pair<std::string, std::string> channelMeterAccessibleTexts(const std::string& channelName, const LiveCamera* camera,
                                                                WallTime now) {
    const auto sides = [&](const std::string& left, const std::string& right) {
        return std::pair{spokenWithCamera(channelName, "Left " + left), spokenWithCamera(channelName, "Right " + right)};
    };
    if (!camera || !camera->isOnline(now)) return sides("OFFLINE", "OFFLINE");
    auto spoken = [](double db) {
        std::string text = numberText::fixed(db, 0);
        if (text.starts_with('-')) text.replace(0, 1, "\u2212");
        return text + " dB";
    };
    return sides(spoken(camera->leftDB), spoken(camera->rightDB));
}

std::string spokenWithCamera(const std::string& cameraName, const std::string& text) {
    return cameraName.empty() ? text : cameraName + ", " + text;
}

std::pair<double, double> channelMeterValues(const LiveCamera* camera, WallTime now) {
    if (!camera || !camera->isOnline(now)) return {-60, -60};
    return {camera->leftDB, camera->rightDB};
}

} // namespace velk::DirectorPresenters

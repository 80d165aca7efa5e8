#include "director_window/director_workspace.hpp"

#include <ctime>
#include <map>

#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "director_window/number_text.hpp"

namespace velk {

std::string_view rawValue(DirectorPlanState state) {
    return state == DirectorPlanState::planned ? "READY" : "IDLE";
}

std::string_view rawValue(DirectorInspectorTab tab) {
    switch (tab) {
    case DirectorInspectorTab::session: return "Session";
    case DirectorInspectorTab::audio: return "Audio";
    case DirectorInspectorTab::camera: return "Camera";
    case DirectorInspectorTab::edits: return "Edits";
    }
    return "Session";
}

namespace DirectorRules {

namespace {

constexpr const char* kNoCameraSelected = "No camera selected";
constexpr const char* kOfflineSuffix = " \u2022 OFFLINE";

const char* flagText(bool value) { return value ? "true" : "false"; }

template <class Keep>
Cameras camerasOfSlots(const DirectorCameraSlotLayout& slots, const Cameras& cameras, Keep keep) {
    Cameras result;
    for (const auto& slot : slots.slots()) {
        if (!slot.cameraID) continue;
        for (const auto& camera : cameras) {
            if (camera.id == *slot.cameraID && keep(camera)) {
                result.push_back(camera);
                break;
            }
        }
    }
    return result;
}

} // namespace

bool isDirectorRole(const LiveCamera& camera) { return text::uppercased(camera.role) == "DIRECTOR"; }

const LiveCamera* findCamera(const Cameras& cameras, const std::optional<std::string>& id) {
    if (!id) return nullptr;
    for (const auto& camera : cameras)
        if (camera.id == *id) return &camera;
    return nullptr;
}

std::vector<std::string> cameraIdentitySignature(const Cameras& cameras) {
    std::vector<std::string> result;
    for (const auto& c : cameras) result.push_back(c.id + "|" + c.name + "|" + c.role);
    return result;
}

std::vector<std::string> previewRosterSignature(const Cameras& cameras) {
    std::vector<std::string> result;
    for (const auto& c : cameras) result.push_back(c.id + "|" + c.host + "|" + c.sourceSessionID.value_or("legacy") + "|" + c.role);
    return result;
}

std::vector<std::string> orientationSignature(const Cameras& cameras) {
    std::vector<std::string> result;
    for (const auto& c : cameras) {
        const std::string oriented = c.previewPixelsOriented ? flagText(*c.previewPixelsOriented) : "nil";
        result.push_back(c.id + "|" + std::to_string(c.previewRotation) + "|" + c.aspect + "|" + oriented + "|" +
                         flagText(c.orientationLocked()));
    }
    return result;
}

Cameras onlineCameras(const DirectorCameraSlotLayout& slots, const Cameras& cameras, WallTime now) {
    return camerasOfSlots(slots, cameras, [now](const LiveCamera& c) { return c.isOnline(now); });
}

Cameras slottedCameras(const DirectorCameraSlotLayout& slots, const Cameras& cameras) {
    return camerasOfSlots(slots, cameras, [](const LiveCamera&) { return true; });
}

Cameras policyCameras(const LiveEditTimeline& timeline, const Cameras& cameras, WallTime now) {
    std::set<std::string> ids;
    if (timeline.previewCameraID) ids.insert(*timeline.previewCameraID);
    if (timeline.programCameraID) ids.insert(*timeline.programCameraID);
    Cameras result;
    for (const auto& camera : cameras)
        if (ids.contains(camera.id) && camera.isOnline(now)) result.push_back(camera);
    return result;
}

std::optional<LiveCamera> selectedCamera(const LiveEditTimeline& timeline, const Cameras& cameras) {
    const LiveCamera* camera = findCamera(cameras, timeline.previewCameraID);
    if (!camera) return std::nullopt;
    return *camera;
}

void synchronizeCameras(DirectorWorkspace& workspace, const Cameras& cameras, WallTime now) {
    Cameras known;
    for (const auto& camera : cameras)
        if (!isDirectorRole(camera)) known.push_back(camera);

    workspace.cameraSlots.reconcile(known, [now](const LiveCamera& c) { return c.isOnline(now); });

    if (!workspace.timeline.previewCameraID) {
        Cameras online = onlineCameras(workspace.cameraSlots, known, now);
        if (!online.empty()) workspace.timeline.selectPreview(online.front().id);
    }

    std::map<std::string, AudioChannelState> current;
    for (const auto& channel : workspace.audioChannels) current.emplace(channel.id, channel);
    std::vector<AudioChannelState> channels;
    for (const auto& camera : known) {
        auto found = current.find(camera.id);
        if (found != current.end()) channels.push_back(found->second);
        else channels.push_back(AudioChannelState{camera.id, camera.name});
    }
    workspace.audioChannels = std::move(channels);
}

void synchronizeOrientations(DirectorWorkspace& workspace, const Cameras& cameras, const FrameSizeLookup& frameSize) {
    for (const auto& camera : cameras) {
        std::optional<FrameSize> size = frameSize ? frameSize(camera.id) : std::nullopt;
        workspace.orientation.update(camera.id, camera.previewRotation, camera.aspect, size ? size->width : 0,
                                     size ? size->height : 0, camera.orientationLocked(),
                                     camera.previewPixelsOriented.has_value());
    }
}

void releaseSlot(DirectorWorkspace& workspace, int index, const Cameras& cameras, WallTime now) {
    std::optional<std::string> released;
    const auto& slots = workspace.cameraSlots.slots();
    if (index >= 0 && index < static_cast<int>(slots.size())) released = slots[static_cast<std::size_t>(index)].cameraID;

    workspace.cameraSlots.release(index);
    workspace.cameraSlots.reconcile(cameras, [now](const LiveCamera& c) { return c.isOnline(now); });

    if (workspace.timeline.previewCameraID != released) return;
    Cameras online = onlineCameras(workspace.cameraSlots, cameras, now);
    if (!online.empty()) workspace.timeline.selectPreview(online.front().id);
}

std::int64_t previewRotation(const DirectorWorkspace& workspace, const std::optional<std::string>& id,
                             const Cameras& cameras) {
    if (!id) return 0;
    auto stored = workspace.orientation.rotations.find(*id);
    if (stored != workspace.orientation.rotations.end()) return stored->second;
    if (const LiveCamera* camera = findCamera(cameras, id)) return camera->previewRotation;
    return 0;
}

VELKPreviewNetworkPolicy effectivePreviewPolicy(const std::string& storedPolicy, const Cameras& policyCameras) {
    const VELKPreviewNetworkPolicy chosen =
        PreviewNetworkPolicy::fromRaw(storedPolicy).value_or(VELKPreviewNetworkPolicy::automatic);
    std::vector<PreviewCapabilities> capabilities;
    for (const auto& camera : policyCameras) capabilities.push_back(camera.previewCapabilities);
    const VELKPreviewNetworkPolicy result = PreviewNetworkPolicy::effective(chosen, capabilities);
    if (chosen != VELKPreviewNetworkPolicy::automatic) return result;
    for (const auto& camera : policyCameras) {
        const auto& level = camera.previewTransport.thermalLevel;
        if (!level) continue;
        const std::string lower = text::lowercased(*level);
        if (lower != "normal" && lower != "nominal" && lower != "none" && lower != "fair")
            return VELKPreviewNetworkPolicy::conservative24GHz;
    }
    return result;
}

std::set<std::string> selectedStreamCameras(VELKPreviewNetworkPolicy effective, const LiveEditTimeline& timeline) {
    std::set<std::string> ids;
    if (effective != VELKPreviewNetworkPolicy::performance5GHz) return ids;
    if (timeline.previewCameraID) ids.insert(*timeline.previewCameraID);
    if (timeline.programCameraID) ids.insert(*timeline.programCameraID);
    return ids;
}

CameraNameText cameraNameText(const std::optional<std::string>& id, const Cameras& cameras, WallTime now) {
    if (!id) return {kNoCameraSelected, {}};
    const LiveCamera* camera = findCamera(cameras, id);
    if (!camera) return {*id, {}};
    return {camera->name, camera->isOnline(now) ? std::string() : kOfflineSuffix};
}

std::string cameraName(const std::optional<std::string>& id, const Cameras& cameras, WallTime now) {
    return cameraNameText(id, cameras, now).text();
}

bool cameraIsOnline(const std::optional<std::string>& id, const Cameras& cameras, WallTime now) {
    const LiveCamera* camera = findCamera(cameras, id);
    return camera && camera->isOnline(now);
}

bool cameraIsRecording(const std::optional<std::string>& id, const Cameras& cameras, WallTime now) {
    const LiveCamera* camera = findCamera(cameras, id);
    return camera && camera->displaysRecording(now);
}

bool canTake(const LiveEditTimeline& timeline, const Cameras& cameras, WallTime now) {
    return timeline.isRunning() && cameraIsOnline(timeline.previewCameraID, cameras, now) &&
           timeline.previewCameraID != timeline.programCameraID;
}

std::optional<std::string> perform(DirectorWorkspace& workspace, DirectorTransition transition, const Cameras& cameras,
                                   WallTime now) {
    const double duration = transition == DirectorTransition::fade ? workspace.fadeDuration : 0;
    if (!workspace.timeline.take(transition, duration, now)) return std::nullopt;
    return "Director " + std::string(rawValue(transition)) + " to " +
           cameraName(workspace.timeline.programCameraID, cameras, now) + " at " + workspace.plannedTakeID + ".";
}

bool addMarker(DirectorWorkspace& workspace, WallTime now) {
    if (!workspace.timeline.addMarker(LiveEditTimeline::defaultMarkerLabel, now)) return false;
    workspace.inspectorTab = DirectorInspectorTab::edits;
    return true;
}

std::string defaultTakeID(WallTime now) {
    // The C library's calendar is always the Gregorian one and the digits below are ASCII, so the
    // id keeps its 25 characters under any user locale.
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    using numberText::padded;
    return "take-" + padded(local.tm_year + 1900, 4) + padded(local.tm_mon + 1, 2) + padded(local.tm_mday, 2) + "-" +
           padded(local.tm_hour, 2) + padded(local.tm_min, 2) + padded(local.tm_sec, 2) + "-" +
           uuid::newLowercase().substr(0, 4);
}

} // namespace DirectorRules

} // namespace velk

#pragma once
// The Director window's own state and the rules that act on it: which camera sits in which of the
// eight locked slots, the camera lists every region works on, Preview / Program and the edit log,
// the audio channels, the preview rotation and the default take id. Plain values and functions:
// the window calls them on the GUI thread and carries out the effects they report (saving the
// slot layout, handing cameras to the preview store, writing the activity log).

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"
#include "director/director_camera_slot_layout.hpp"
#include "director/live_edit_timeline.hpp"
#include "model/live_camera.hpp"
#include "model/preview_records.hpp"
#include "preview/preview_network_policy.hpp"

namespace velk {

enum class DirectorPlanState { idle, planned };
std::string_view rawValue(DirectorPlanState state); // "IDLE", "READY"

enum class DirectorInspectorTab { session, audio, camera, edits };
std::string_view rawValue(DirectorInspectorTab tab); // the tab's label
inline constexpr DirectorInspectorTab allDirectorInspectorTabs[] = {
    DirectorInspectorTab::session, DirectorInspectorTab::audio, DirectorInspectorTab::camera,
    DirectorInspectorTab::edits};

// One meter strip per known camera. Nothing sends these values anywhere: the phones send levels,
// not samples, so gain, pan, mute and solo stay as they were made.
struct AudioChannelState {
    static constexpr double defaultGain = 0.72;

    std::string id; // the camera's id
    std::string name;
    double gain = defaultGain;
    double pan = 0.0;
    bool muted = false;
    bool solo = false;

    bool operator==(const AudioChannelState&) const = default;
};

// Pixel size of the latest preview frame of a camera, or none.
struct FrameSize {
    double width = 0;
    double height = 0;
};
using FrameSizeLookup = std::function<std::optional<FrameSize>(const std::string& cameraID)>;

struct DirectorWorkspace {
    DirectorPlanState planState = DirectorPlanState::idle;
    std::string plannedTakeID;
    LiveEditTimeline timeline;
    double fadeDuration = 1.0;
    std::vector<AudioChannelState> audioChannels;
    DirectorInspectorTab inspectorTab = DirectorInspectorTab::session;
    PreviewRotationState orientation;
    DirectorCameraSlotLayout cameraSlots;
};

using Cameras = std::vector<LiveCamera>;

namespace DirectorRules {

bool isDirectorRole(const LiveCamera& camera);
const LiveCamera* findCamera(const Cameras& cameras, const std::optional<std::string>& id);

// Change signatures: a republished camera list whose entries are equal in these respects needs no
// camera, roster or orientation synchronisation.
std::vector<std::string> cameraIdentitySignature(const Cameras& cameras);
std::vector<std::string> previewRosterSignature(const Cameras& cameras);
std::vector<std::string> orientationSignature(const Cameras& cameras);

// Online cameras of the slots, in slot order.
Cameras onlineCameras(const DirectorCameraSlotLayout& slots, const Cameras& cameras, WallTime now);
// Every listed camera of the slots, online or not, in slot order.
Cameras slottedCameras(const DirectorCameraSlotLayout& slots, const Cameras& cameras);
// The online cameras on Preview or Program, in camera-list order.
Cameras policyCameras(const LiveEditTimeline& timeline, const Cameras& cameras, WallTime now);
// The Preview camera when it is listed (online or not).
std::optional<LiveCamera> selectedCamera(const LiveEditTimeline& timeline, const Cameras& cameras);

// Places new cameras in free slots, fills an empty Preview with the first online slotted camera
// and rebuilds the audio channels. The caller then saves the layout and updates the preview store.
void synchronizeCameras(DirectorWorkspace& workspace, const Cameras& cameras, WallTime now);
// Recomputes every listed camera's preview rotation (the director role included).
void synchronizeOrientations(DirectorWorkspace& workspace, const Cameras& cameras, const FrameSizeLookup& frameSize);
// Frees a slot, refills it from the unplaced cameras and moves Preview off a released camera.
// The caller then saves the layout.
void releaseSlot(DirectorWorkspace& workspace, int index, const Cameras& cameras, WallTime now);
// Degrees for drawing a camera's frames; not normalised (the frame view does that).
std::int64_t previewRotation(const DirectorWorkspace& workspace, const std::optional<std::string>& id,
                             const Cameras& cameras);

// The policy in force: the stored choice (any other text counts as automatic) applied to the
// policy cameras; under automatic a camera reporting a hot thermal level forces the conservative one.
VELKPreviewNetworkPolicy effectivePreviewPolicy(const std::string& storedPolicy, const Cameras& policyCameras);
// The cameras that get a selected stream: Preview and Program under the 5 GHz policy, else none.
std::set<std::string> selectedStreamCameras(VELKPreviewNetworkPolicy effective, const LiveEditTimeline& timeline);

// Camera lookups of the switcher and inspectors.
// A camera as they name it: its name ("No camera selected" for none, the bare id once it left the
// list) and the state that follows the name (" • OFFLINE" while it is offline, else nothing).
// Where the room is short the name is cut and the state kept.
struct CameraNameText {
    std::string name;
    std::string state;
    std::string text() const { return name + state; }
    bool operator==(const CameraNameText&) const = default;
};
CameraNameText cameraNameText(const std::optional<std::string>& id, const Cameras& cameras, WallTime now);
std::string cameraName(const std::optional<std::string>& id, const Cameras& cameras, WallTime now);
bool cameraIsOnline(const std::optional<std::string>& id, const Cameras& cameras, WallTime now);
bool cameraIsRecording(const std::optional<std::string>& id, const Cameras& cameras, WallTime now);
bool canTake(const LiveEditTimeline& timeline, const Cameras& cameras, WallTime now);

// CUT or FADE; the activity-log line when the take happened.
std::optional<std::string> perform(DirectorWorkspace& workspace, DirectorTransition transition, const Cameras& cameras,
                                   WallTime now);
// Adds a marker and shows the Edits tab; false when the edit log does not run.
bool addMarker(DirectorWorkspace& workspace, WallTime now);

// "take-" + local yyyyMMdd-HHmmss (Gregorian, ASCII digits) + "-" + 4 lower-case hex characters.
std::string defaultTakeID(WallTime now);

} // namespace DirectorRules

} // namespace velk

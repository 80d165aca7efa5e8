#include "director_window/director_actions.hpp"

#include "director_window/director_services.hpp"
#include "store/app_store.hpp"

namespace velk::DirectorActions {

void stopAll(const DirectorWorkspace& workspace, AppStore& store, DirectorLiveChannel& channel) {
    channel.stopRecording(DirectorRules::slottedCameras(workspace.cameraSlots, channel.cameras()),
                          store.collectorIdentity(), true);
    store.log("Stop All requested; acceptance and finalization remain separate.");
}

void beginRecording(const DirectorWorkspace& workspace, const Cameras& cameras, AppStore& store,
                    DirectorLiveChannel& channel) {
    if (cameras.empty()) return;
    if (!store.prepareDirectorTake(workspace.plannedTakeID, cameras.front().id)) return;
    const std::optional<VELKProject> project = store.selectedProject();
    if (!project) return;
    const std::optional<VELKTake> take = store.selectedTake();
    if (!take || !take->createdAt || !take->referenceCameraId) return;
    DirectorTakeAssignment assignment{
        .takeID = take->id,
        .projectID = project->id,
        .projectName = take->projectNameAtCapture.value_or(project->name),
        .projectRevision = take->projectRevisionAtCapture.value_or(project->revision.value_or(1)),
        .createdAt = *take->createdAt,
        .referenceCameraID = *take->referenceCameraId,
        .timelineFPS = take->timelineFPS,
    };
    channel.beginRecording(cameras, store.collectorIdentity(), assignment);
    store.log("Requested durable camera preparation for " + take->id + ".");
}

void stopSelected(const DirectorWorkspace& workspace, AppStore& store, DirectorLiveChannel& channel) {
    const LiveCamera* camera = DirectorRules::findCamera(channel.cameras(), workspace.timeline.previewCameraID);
    if (!camera) return;
    channel.stopRecording({*camera}, store.collectorIdentity(), false);
}

bool startSession(DirectorWorkspace& workspace, AppStore& store, WallTime now) {
    if (!store.prepareDirectorTake(workspace.plannedTakeID, std::nullopt)) return false;
    workspace.planState = DirectorPlanState::planned;
    workspace.timeline.start(now);
    store.log("Started Director edit log " + workspace.plannedTakeID + ".");
    return true;
}

} // namespace velk::DirectorActions

#pragma once
// The Director's recording actions and the start of its edit log: what they hand the store and the
// live channel, in which order, and what they write to the activity log.

#include <vector>

#include "director_window/director_workspace.hpp"

namespace velk {

class AppStore;
class DirectorLiveChannel;

namespace DirectorActions {

// Stop All: every slotted camera, online or not, with `all`; runs in every phase.
void stopAll(const DirectorWorkspace& workspace, AppStore& store, DirectorLiveChannel& channel);
// Prepares the planned take with the first camera as reference, then asks the channel to record.
void beginRecording(const DirectorWorkspace& workspace, const Cameras& cameras, AppStore& store,
                    DirectorLiveChannel& channel);
// Stops the Preview camera alone.
void stopSelected(const DirectorWorkspace& workspace, AppStore& store, DirectorLiveChannel& channel);
// "Start Director Session": prepares the take record and starts the edit log; nothing is sent.
bool startSession(DirectorWorkspace& workspace, AppStore& store, WallTime now);

} // namespace DirectorActions

} // namespace velk

#pragma once
// Applying an accepted camera snapshot: as the recording coordinator's view of the camera, and as
// the camera's record in the published camera list.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.hpp"
#include "base/json.hpp"
#include "director/director_recording_coordinator.hpp"
#include "discovery/live_camera_packet.hpp"
#include "model/live_camera.hpp"

namespace velk {

constexpr std::size_t maximumListedCameras = 128;

// A snapshot whose "role" is DIRECTOR in any letter case never reaches the recording coordinator.
bool isDirectorSnapshot(const Json& payload);

// The coordinator's view of a camera, rebuilt from this one snapshot alone.
DirectorRecordingPeer recordingPeer(const LiveCameraPacket& packet, const std::string& host, double nowMs);

// The camera's new record, built from the payload over its previous record when that matches on
// id, host and session; none when the snapshot is to be ignored.
std::optional<LiveCamera> cameraRecord(const std::vector<LiveCamera>& cameras, const std::string& sender,
                                       const std::string& host, const Json& payload,
                                       const std::optional<std::string>& session, WallTime now);

// Replaces the camera's record in the list (one entry per id) and keeps the list sorted by name,
// case-insensitively and stably. Returns false when the snapshot was ignored.
bool ingestCamera(std::vector<LiveCamera>& cameras, const std::string& sender, const std::string& host,
                  const Json& payload, const std::optional<std::string>& session, WallTime now);

} // namespace velk

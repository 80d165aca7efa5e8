#include "model/live_camera.hpp"

#include <algorithm>
#include <cstdio>

#include "model/hashing.hpp"

namespace velk {

namespace {

constexpr std::int64_t kLongestElapsedSeconds = 359999; // 99:59:59

} // namespace

double LiveCamera::ageSeconds(WallTime at) const {
    return std::chrono::duration<double>(at - lastSeen).count();
}

bool LiveCamera::isOnline(WallTime at) const { return ageSeconds(at) < offlineAfter; }

bool LiveCamera::isExpired(WallTime at) const { return ageSeconds(at) >= forgetAfter; }

bool LiveCamera::displaysRecording(WallTime at) const { return isOnline(at) && recording; }

bool LiveCamera::orientationLocked() const { return recording || takeBusy || finalizing; }

bool LiveCamera::canPrepareRecording(WallTime now) const {
    if (!isOnline(now)) return false;
    if (!remoteControl) return false;
    if (!cameraReady) return false;
    if (recording) return false;
    if (takeBusy) return false;
    if (finalizing) return false;
    if (syncVersion < 1) return false;
    return (syncPrepareVersion >= 2 && warmPrepare) || projectSyncVersion >= 1;
}

std::optional<std::string> LiveCamera::recordingElapsed(WallTime at) const {
    if (!isOnline(at) || !recording || recordingSinceMs <= 0) return std::nullopt;
    // duration_cast cuts toward zero, as does integer division.
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count();
    const std::int64_t start = recordingSinceMs / 1000;
    const std::int64_t elapsed = std::clamp<std::int64_t>(now - start, 0, kLongestElapsedSeconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(elapsed / 3600),
                  static_cast<long long>((elapsed / 60) % 60), static_cast<long long>(elapsed % 60));
    return std::string(text);
}

} // namespace velk

std::size_t std::hash<velk::LiveCamera>::operator()(const velk::LiveCamera& c) const noexcept {
    return velk::hashing::Hasher{}
        .add(c.id)
        .add(c.name)
        .add(c.role)
        .add(c.host)
        .add(c.recording)
        .add(c.recordingSinceMs)
        .add(c.takeId)
        .add(c.battery)
        .add(c.freeGB)
        .add(c.leftDB)
        .add(c.rightDB)
        .add(c.channels)
        .add(c.quality)
        .add(c.aspect)
        .add(c.previewRotation)
        .add(c.lastSeen)
        .add(c.previewCapabilities)
        .add(c.previewTransport)
        .add(c.previewPixelsOriented)
        .add(c.takeBusy)
        .add(c.remoteControl)
        .add(c.finalizing)
        .add(c.cameraReady)
        .add(c.syncVersion)
        .add(c.syncPrepareVersion)
        .add(c.warmPrepare)
        .add(c.safeStopVersion)
        .add(c.sourceSessionID)
        .add(c.projectSyncVersion)
        .value();
}

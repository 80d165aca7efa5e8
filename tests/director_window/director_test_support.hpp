#pragma once
// Cameras and moments shared by the Director window tests.

#include <chrono>
#include <string>

#include "model/live_camera.hpp"

namespace velk::test {

inline const WallTime kNow = WallTime{} + std::chrono::seconds(1'780'000'000);

inline WallTime secondsAgo(double seconds) {
    return kNow - std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double>(seconds));
}

// An online camera, ready to prepare a recording.
inline LiveCamera readyCamera(const std::string& id, const std::string& name, const std::string& host = "10.77.0.11") {
    LiveCamera camera;
    camera.id = id;
    camera.name = name;
    camera.role = "CAMERA";
    camera.host = host;
    camera.aspect = "16:9";
    camera.quality = "4K30";
    camera.leftDB = -30;
    camera.rightDB = -30;
    camera.lastSeen = kNow;
    camera.remoteControl = true;
    camera.cameraReady = true;
    camera.syncVersion = 1;
    camera.projectSyncVersion = 1;
    return camera;
}

inline LiveCamera offline(LiveCamera camera) {
    camera.lastSeen = secondsAgo(10);
    return camera;
}

} // namespace velk::test

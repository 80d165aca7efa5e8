#include "model/live_camera.hpp"

#include <gtest/gtest.h>

namespace velk {
namespace {

const WallTime kSeen = WallTime{} + std::chrono::seconds(1'780'000'000);
const std::int64_t kSeenMs = 1'780'000'000'000;

WallTime after(double seconds) {
    return kSeen + std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double>(seconds));
}

LiveCamera camera() {
    return LiveCamera{.id = "cam-A", .name = "Camera A", .role = "CAMERA", .host = "10.77.0.11", .quality = "4K",
                      .aspect = "16:9", .lastSeen = kSeen};
}

TEST(LiveCameraLiveness, OnlineAndExpiryThresholds) {
    struct Case { double ageSeconds; bool online; bool expired; };
    const Case cases[] = {{6.4, true, false}, {6.5, false, false}, {29.9, false, false},
                          {30.0, false, true}, {1000, false, true}, {-60, true, false}}; // last seen in the future
    for (const Case& c : cases) {
        EXPECT_EQ(camera().isOnline(after(c.ageSeconds)), c.online) << c.ageSeconds;
        EXPECT_EQ(camera().isExpired(after(c.ageSeconds)), c.expired) << c.ageSeconds;
    }
}

TEST(LiveCameraRecording, ElapsedTextIsClampedAndCountsWholeSeconds) {
    struct Case { bool recording; std::int64_t sinceMs; double atSeconds; std::optional<std::string> elapsed; };
    const Case cases[] = {
        {true, kSeenMs + 3'000, 1, "00:00:00"},               // starts 2 s after the evaluation date
        {true, kSeenMs + 1'000, 1, "00:00:00"},
        {true, kSeenMs + 1'000 - 59'000, 1, "00:00:59"},
        {true, kSeenMs + 1'000 - 3'725'000, 1, "01:02:05"},
        {true, kSeenMs + 1'000 - 359'999'000, 1, "99:59:59"},
        {true, kSeenMs + 1'000 - 360'000'000, 1, "99:59:59"},  // 100 hours
        {true, 999, 1, "99:59:59"},                           // start cut to 0 s: counts from 1970
        {true, kSeenMs + 999, 1.9, "00:00:01"},
        {false, kSeenMs, 1, std::nullopt},
        {true, 0, 1, std::nullopt},
        {true, -5, 1, std::nullopt},
        {true, kSeenMs - 10'000, 7, std::nullopt},            // last seen 7 s ago
    };
    for (const Case& c : cases) {
        LiveCamera cam = camera();
        cam.recording = c.recording;
        cam.recordingSinceMs = c.sinceMs;
        EXPECT_EQ(cam.recordingElapsed(after(c.atSeconds)), c.elapsed) << c.sinceMs << " at " << c.atSeconds;
    }
    LiveCamera stale = camera();
    stale.recording = true;
    stale.recordingSinceMs = kSeenMs - 10'000;
    EXPECT_TRUE(stale.displaysRecording(after(1)));
    EXPECT_FALSE(stale.displaysRecording(after(7)));
}

TEST(LiveCameraOrientation, LockedWhileRecordingBusyOrFinalizing) {
    LiveCamera c = camera();
    EXPECT_FALSE(c.orientationLocked());
    for (bool LiveCamera::*flag : {&LiveCamera::recording, &LiveCamera::takeBusy, &LiveCamera::finalizing}) {
        LiveCamera locked = camera();
        locked.*flag = true;
        EXPECT_TRUE(locked.orientationLocked());
    }
}

TEST(LiveCameraPrepare, NeedsAFreshReadyCameraWithProjectSyncOrWarmPrepare) {
    struct Case { const char* name; void (*change)(LiveCamera&); bool canPrepare; };
    const Case cases[] = {
        {"ready camera", [](LiveCamera&) {}, true},
        {"stale", [](LiveCamera& c) { c.lastSeen = after(-6.5); }, false},
        {"no remote control", [](LiveCamera& c) { c.remoteControl = false; }, false},
        {"not ready", [](LiveCamera& c) { c.cameraReady = false; }, false},
        {"recording", [](LiveCamera& c) { c.recording = true; }, false},
        {"busy", [](LiveCamera& c) { c.takeBusy = true; }, false},
        {"finalizing", [](LiveCamera& c) { c.finalizing = true; }, false},
        {"no sync", [](LiveCamera& c) { c.syncVersion = 0; }, false},
        {"warm prepare v2, no project sync",
         [](LiveCamera& c) { c.projectSyncVersion = 0, c.syncPrepareVersion = 2, c.warmPrepare = true; }, true},
        {"prepare v2 not warm, no project sync",
         [](LiveCamera& c) { c.projectSyncVersion = 0, c.syncPrepareVersion = 2; }, false},
        {"warm prepare v1, no project sync",
         [](LiveCamera& c) { c.projectSyncVersion = 0, c.syncPrepareVersion = 1, c.warmPrepare = true; }, false},
        {"prepare v2 not warm, project sync 1", [](LiveCamera& c) { c.syncPrepareVersion = 2; }, true},
    };
    for (const Case& c : cases) {
        LiveCamera cam = camera();
        cam.remoteControl = cam.cameraReady = true;
        cam.syncVersion = cam.projectSyncVersion = 1;
        c.change(cam);
        EXPECT_EQ(cam.canPrepareRecording(after(1)), c.canPrepare) << c.name;
    }
}

} // namespace
} // namespace velk

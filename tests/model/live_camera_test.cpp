#include "model/live_camera.hpp"

#include <unordered_set>

#include <gtest/gtest.h>

namespace velk {
namespace {

using std::chrono::milliseconds;

const WallTime kSeen = WallTime{} + std::chrono::seconds(1'780'000'000);

WallTime after(double seconds) {
    return kSeen + std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double>(seconds));
}

LiveCamera camera() {
    return LiveCamera{.id = "cam-A",
                      .name = "Camera A",
                      .role = "CAMERA",
                      .host = "10.77.0.11",
                      .recording = false,
                      .recordingSinceMs = 0,
                      .takeId = "",
                      .battery = 80,
                      .freeGB = 12.5,
                      .leftDB = -20,
                      .rightDB = -21,
                      .channels = 2,
                      .quality = "4K",
                      .aspect = "16:9",
                      .previewRotation = 90,
                      .lastSeen = kSeen};
}

LiveCamera preparable() {
    LiveCamera c = camera();
    c.remoteControl = true;
    c.cameraReady = true;
    c.syncVersion = 1;
    c.projectSyncVersion = 1;
    return c;
}

TEST(LiveCameraLiveness, OnlineAndExpiryThresholds) {
    LiveCamera c = camera();
    EXPECT_TRUE(c.isOnline(after(6.4)));
    EXPECT_FALSE(c.isOnline(after(6.5)));
    EXPECT_FALSE(c.isExpired(after(29.9)));
    EXPECT_TRUE(c.isExpired(after(30.0)));
    EXPECT_TRUE(c.isExpired(after(1000)));
}

TEST(LiveCameraLiveness, LastSeenInTheFutureCountsAsOnline) {
    LiveCamera c = camera();
    EXPECT_TRUE(c.isOnline(after(-60)));
    EXPECT_FALSE(c.isExpired(after(-60)));
}

TEST(LiveCameraRecording, StaleRecordingCameraIsNotShownRecording) {
    LiveCamera c = camera();
    c.recording = true;
    c.recordingSinceMs = std::chrono::duration_cast<milliseconds>(kSeen.time_since_epoch()).count() - 10'000;
    EXPECT_TRUE(c.displaysRecording(after(1)));
    EXPECT_FALSE(c.displaysRecording(after(7)));
    EXPECT_FALSE(c.recordingElapsed(after(7)).has_value());
}

struct ElapsedCase {
    std::int64_t startOffsetSeconds; // relative to the evaluation date
    const char* expected;
};

class LiveCameraElapsed : public ::testing::TestWithParam<ElapsedCase> {};

TEST_P(LiveCameraElapsed, FormatsClampedHoursMinutesSeconds) {
    LiveCamera c = camera();
    c.recording = true;
    const std::int64_t dateMs = std::chrono::duration_cast<milliseconds>(after(1).time_since_epoch()).count();
    c.recordingSinceMs = dateMs + GetParam().startOffsetSeconds * 1000;
    EXPECT_EQ(c.recordingElapsed(after(1)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, LiveCameraElapsed,
                         ::testing::Values(ElapsedCase{2, "00:00:00"}, ElapsedCase{0, "00:00:00"},
                                           ElapsedCase{-3725, "01:02:05"}, ElapsedCase{-59, "00:00:59"},
                                           ElapsedCase{-359999, "99:59:59"}, ElapsedCase{-100 * 3600, "99:59:59"}));

TEST(LiveCameraRecording, StartIsCutToWholeSeconds) {
    LiveCamera c = camera();
    c.recording = true;
    c.recordingSinceMs = 999; // start 0 s: elapsed counts from 1970
    EXPECT_EQ(c.recordingElapsed(after(1)), "99:59:59");
    c.recordingSinceMs = std::chrono::duration_cast<milliseconds>(kSeen.time_since_epoch()).count() + 999;
    EXPECT_EQ(c.recordingElapsed(after(1.9)), "00:00:01");
}

TEST(LiveCameraRecording, NoElapsedWithoutRecordingOrStart) {
    LiveCamera c = camera();
    c.recordingSinceMs = 1000;
    EXPECT_FALSE(c.recordingElapsed(after(1)).has_value());
    c.recording = true;
    c.recordingSinceMs = 0;
    EXPECT_FALSE(c.recordingElapsed(after(1)).has_value());
    c.recordingSinceMs = -5;
    EXPECT_FALSE(c.recordingElapsed(after(1)).has_value());
}

TEST(LiveCameraOrientation, LockedWhileRecordingBusyOrFinalizing) {
    LiveCamera c = camera();
    EXPECT_FALSE(c.orientationLocked());
    c.finalizing = true;
    EXPECT_TRUE(c.orientationLocked());
    c.finalizing = false;
    c.takeBusy = true;
    EXPECT_TRUE(c.orientationLocked());
    c.takeBusy = false;
    c.recording = true;
    EXPECT_TRUE(c.orientationLocked());
}

struct PrepareCase {
    const char* name;
    void (*change)(LiveCamera&);
    bool canPrepare;
};

class LiveCameraPrepare : public ::testing::TestWithParam<PrepareCase> {};

TEST_P(LiveCameraPrepare, Rule) {
    LiveCamera c = preparable();
    GetParam().change(c);
    EXPECT_EQ(c.canPrepareRecording(after(1)), GetParam().canPrepare) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LiveCameraPrepare,
    ::testing::Values(
        PrepareCase{"ready camera", [](LiveCamera&) {}, true},
        PrepareCase{"stale", [](LiveCamera& c) { c.lastSeen = after(-6.5); }, false},
        PrepareCase{"no remote control", [](LiveCamera& c) { c.remoteControl = false; }, false},
        PrepareCase{"not ready", [](LiveCamera& c) { c.cameraReady = false; }, false},
        PrepareCase{"recording", [](LiveCamera& c) { c.recording = true; }, false},
        PrepareCase{"busy", [](LiveCamera& c) { c.takeBusy = true; }, false},
        PrepareCase{"finalizing", [](LiveCamera& c) { c.finalizing = true; }, false},
        PrepareCase{"no sync", [](LiveCamera& c) { c.syncVersion = 0; }, false},
        PrepareCase{"warm prepare v2 without project sync",
                    [](LiveCamera& c) {
                        c.projectSyncVersion = 0;
                        c.syncPrepareVersion = 2;
                        c.warmPrepare = true;
                    },
                    true},
        PrepareCase{"prepare v2, not warm, no project sync",
                    [](LiveCamera& c) {
                        c.projectSyncVersion = 0;
                        c.syncPrepareVersion = 2;
                        c.warmPrepare = false;
                    },
                    false},
        PrepareCase{"prepare v1 warm, no project sync",
                    [](LiveCamera& c) {
                        c.projectSyncVersion = 0;
                        c.syncPrepareVersion = 1;
                        c.warmPrepare = true;
                    },
                    false},
        PrepareCase{"prepare v2, not warm, project sync 1",
                    [](LiveCamera& c) {
                        c.syncPrepareVersion = 2;
                        c.warmPrepare = false;
                    },
                    true}));

TEST(LiveCameraValue, LastSeenTakesPartInEquality) {
    LiveCamera a = camera();
    LiveCamera b = camera();
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<LiveCamera>{}(a), std::hash<LiveCamera>{}(b));
    b.lastSeen = after(0.001);
    EXPECT_NE(a, b);
    b = camera();
    b.previewCapabilities.codecs.insert("h264");
    EXPECT_NE(a, b);
    b = camera();
    b.leftDB = -0.0;
    a.leftDB = 0.0;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<LiveCamera>{}(a), std::hash<LiveCamera>{}(b));
    std::unordered_set<LiveCamera> set{a, b};
    EXPECT_EQ(set.size(), 1u);
}

TEST(LiveCameraValue, Defaults) {
    LiveCamera c = camera();
    EXPECT_EQ(c.previewCapabilities, PreviewCapabilities{});
    EXPECT_EQ(c.previewTransport, PreviewTransportStatus{});
    EXPECT_FALSE(c.previewPixelsOriented.has_value());
    EXPECT_FALSE(c.sourceSessionID.has_value());
    EXPECT_EQ(c.syncVersion, 0);
    EXPECT_EQ(LiveCamera::offlineAfter, 6.5);
    EXPECT_EQ(LiveCamera::forgetAfter, 30.0);
}

} // namespace
} // namespace velk

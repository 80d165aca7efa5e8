#include <gtest/gtest.h>

#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::assignment;
using testing::RecordingRig;

// Two cameras recording take-1.
void record(RecordingRig& rig) {
    rig.add("cam-a");
    rig.add("cam-b");
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment("take-1", "cam-a")));
    ASSERT_TRUE(rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::recording; }));
}

TEST(UnansweredStop, CameraThatDiesDoesNotBlockRecordingForEver) {
    RecordingRig rig;
    record(rig);
    testing::SimCamera& b = rig.cameras.at("cam-b");
    b.reportsStatus = b.answersStop = b.answersPings = false; // battery gone while recording
    const double lastSeen = rig.now;
    ASSERT_EQ(rig.stopAll(), 2);
    rig.step();
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Camera idle · verify saved clip in Collect");

    rig.runFor(3400);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-b"), "Stop unconfirmed · check camera / retry Stop");
    // Timed out, but the camera may still answer until it counts as offline.
    rig.runFor(lastSeen + 6400 - rig.now);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    EXPECT_FALSE(rig.coordinator.settled(rig.coordinator.stops().begin()->second, rig.now) &&
                 rig.coordinator.stops().size() == 1);
    rig.step();
    EXPECT_EQ(rig.now, lastSeen + 6500);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
    EXPECT_EQ(rig.message(), "Cameras report idle. Verify saved clips in Collect.");
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-b"), "Stop unconfirmed · check camera / retry Stop");

    EXPECT_TRUE(rig.begin({"cam-a"}, assignment("take-2", "cam-a")));
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
}

TEST(UnansweredStop, CameraStillRecordingAtItsAddressKeepsTheStopOpen) {
    RecordingRig rig;
    record(rig);
    rig.cameras.at("cam-b").answersStop = false;
    ASSERT_EQ(rig.stopAll(), 2);
    rig.runFor(20000);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    const auto& stops = rig.coordinator.stops();
    ASSERT_EQ(stops.size(), 2u);
    for (const auto& [request, stop] : stops) {
        if (stop.peer.id == "cam-b") {
            EXPECT_TRUE(stop.timedOut);
            EXPECT_FALSE(rig.coordinator.settled(stop, rig.now));
        }
    }
    // Once the camera reports idle the timed-out stop settles, though it was never acknowledged.
    rig.cameras.at("cam-b").peer.recording = rig.cameras.at("cam-b").peer.busy = false;
    rig.step();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-b"), "Stop unconfirmed · check camera / retry Stop");
}

TEST(UnansweredStop, RefusedStopOfACameraThatWentIdleSettlesAfterTheTimeOut) {
    RecordingRig rig;
    record(rig);
    testing::SimCamera& b = rig.cameras.at("cam-b");
    b.acceptsStop = false;
    ASSERT_EQ(rig.stopAll(), 2);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-b"), "Stop rejected · check active take on camera");
    b.peer.recording = b.peer.busy = false; // stopped by hand on the phone
    rig.runFor(3400);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    rig.step();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
}

TEST(UnansweredStop, RestartedCameraFailsTheTakeAndItsStopSettlesAfterTheTimeOut) {
    RecordingRig rig;
    record(rig);
    testing::SimCamera& b = rig.cameras.at("cam-b");
    b.answersStop = false;
    const double stopAt = rig.now;
    ASSERT_EQ(rig.stopAll(), 2);
    rig.step();
    // The phone restarts: new status session, idle.
    b.peer.session = "after-restart";
    b.peer.recording = b.peer.busy = false;
    rig.now += 100;
    b.peer.seenAt = rig.now;
    rig.coordinator.update(b.peer, rig.now);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "Camera cam-b reconnected. Stop/check cameras before preparing another take.");
    rig.pump();

    rig.runFor(stopAt + 3400 - rig.now);
    EXPECT_FALSE(rig.begin({"cam-a", "cam-b"}, assignment("take-2", "cam-a")));
    EXPECT_EQ(rig.message(), "Choose a valid project/take, or resolve the previous stop first.");
    rig.step();
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-b"), "Stop unconfirmed · check camera / retry Stop");
    EXPECT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment("take-2", "cam-a")));
}

TEST(UnansweredStop, BusyCameraBlocksANewTakeUntilItGoesAway) {
    RecordingRig rig;
    rig.add("cam-a");
    testing::SimCamera& b = rig.add("cam-b");
    b.answersPrepare = b.answersStop = false;
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment("take-1", "cam-a")));
    rig.runFor(12000);
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    rig.runFor(600); // past the cancellation repeats
    b.peer.busy = true; // the phone keeps a take busy and never answers Stop
    rig.runFor(3400);
    EXPECT_FALSE(rig.begin({"cam-a"}, assignment("take-2", "cam-a")));
    EXPECT_EQ(rig.message(), "Choose a valid project/take, or resolve the previous stop first.");

    b.reportsStatus = false;
    rig.runFor(6400);
    EXPECT_FALSE(rig.begin({"cam-a"}, assignment("take-2", "cam-a")));
    rig.step();
    EXPECT_TRUE(rig.begin({"cam-a"}, assignment("take-2", "cam-a")));
}

TEST(UnansweredStop, StopBeforeItsTimeOutIsNeverSettled) {
    RecordingRig rig;
    record(rig);
    testing::SimCamera& b = rig.cameras.at("cam-b");
    b.reportsStatus = b.answersStop = false;
    rig.now += 7000; // the camera is already offline when Stop is pressed
    rig.reportAll();
    ASSERT_EQ(rig.stopAll(), 2);
    rig.runFor(3400);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    rig.step();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
}

TEST(FailWhileStopping, ReplacesTheEarlierStopOfEachCamera) {
    RecordingRig rig;
    record(rig);
    for (auto& [id, camera] : rig.cameras) camera.answersStop = false;
    ASSERT_EQ(rig.stopAll(), 2);
    std::set<std::string> before;
    for (const auto& [request, stop] : rig.coordinator.stops()) before.insert(request);
    ASSERT_EQ(before.size(), 2u);

    const std::size_t mark = rig.sent.size();
    rig.coordinator.suspend(rig.now);
    rig.pump();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    ASSERT_EQ(rig.coordinator.stops().size(), 2u);
    std::set<std::string> cameras;
    for (const auto& [request, stop] : rig.coordinator.stops()) {
        EXPECT_FALSE(before.contains(request));
        cameras.insert(stop.peer.id);
    }
    EXPECT_EQ(cameras, (std::set<std::string>{"cam-a", "cam-b"}));
    EXPECT_EQ(rig.sentSince(mark, "STOP_TAKE").size(), 2u);

    // Only the replacing requests are retried.
    const std::size_t retries = rig.sent.size();
    rig.runFor(300);
    const auto repeated = rig.sentSince(retries, "STOP_TAKE");
    ASSERT_EQ(repeated.size(), 2u);
    for (const auto& command : repeated) EXPECT_TRUE(rig.coordinator.stops().contains(command.payload.at("requestId")));
}

TEST(FailWhileStopping, CommandsWithNonFiniteTimesNeverBecomePackets) {
    Json payload = RecordingWire::clockPing("00000000-0000-4000-8000-000000000001", std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(RecordingWire::packet(testing::directorID, payload, 1));
    payload["t1"] = 1.5;
    EXPECT_TRUE(RecordingWire::packet(testing::directorID, payload, 1));
}

} // namespace
} // namespace velk

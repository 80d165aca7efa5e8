#include <gtest/gtest.h>

#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::assignment;
using testing::RecordingRig;

const double offsets[] = {3500, -7200, 9100, -1500, 6000, -9999.5, 250, -4300};

std::vector<std::string> addCameras(RecordingRig& rig, int count) {
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i) {
        const std::string id = "cam-" + std::string(1, char('a' + i));
        rig.add(id, offsets[i]);
        ids.push_back(id);
    }
    return ids;
}

class WholeRoad : public ::testing::TestWithParam<int> {};

TEST_P(WholeRoad, PreparesStartsRecordsAndStops) {
    RecordingRig rig;
    const std::vector<std::string> ids = addCameras(rig, GetParam());
    const double t0 = rig.now;
    const DirectorTakeAssignment take = assignment("take-1", "cam-a");

    ASSERT_TRUE(rig.begin(ids, take));
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::synchronizing);
    EXPECT_EQ(rig.coordinator.status().takeID, "take-1");
    EXPECT_EQ(rig.message(), "Checking camera clocks…");
    EXPECT_EQ(rig.sentSince(0, "CLOCK_PING").size(), ids.size()); // first pings leave at once

    // Three samples (t0, t0+1000, t0+2000) make every clock usable; the next tick prepares.
    rig.runFor(2000);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::synchronizing);
    const std::size_t beforePrepare = rig.sent.size();
    rig.step();
    EXPECT_EQ(rig.now, t0 + 2100);
    // Every proof came back at once, so the next state is already visible in the status text.
    const auto prepares = rig.sentSince(beforePrepare, "PREPARE_TAKE");
    ASSERT_EQ(prepares.size(), ids.size());
    const Json& prepare = prepares[0].payload;
    EXPECT_EQ(prepare.size(), 12u);
    EXPECT_EQ(prepare.at("requestId"), "take-1");
    EXPECT_EQ(prepare.at("takeId"), "take-1");
    EXPECT_EQ(prepare.at("directorId"), testing::directorID);
    EXPECT_EQ(prepare.at("prepareCommandId"), rig.coordinator.session()->commandID);
    EXPECT_EQ(prepare.at("projectId"), testing::projectID);
    EXPECT_EQ(prepare.at("projectNameAtCapture"), "Harbour Shoot");
    EXPECT_EQ(prepare.at("projectRevisionAtCapture"), 7);
    EXPECT_EQ(prepare.at("createdAt"), "2026-05-01T12:30:00Z");
    EXPECT_EQ(prepare.at("referenceCameraId"), "cam-a");
    EXPECT_EQ(prepare.at("timelineFPS"), "30/1");
    EXPECT_EQ(prepare.at("target"), "cam-a");
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    EXPECT_EQ(rig.message(), "Preparing cameras · waiting for durable project assignment…");
    EXPECT_EQ(rig.coordinator.session()->prepareACKs.size(), ids.size());

    // Every proof is in: the start is scheduled 2500 ms ahead on each camera's own clock.
    rig.step();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    EXPECT_EQ(rig.message(), "Start scheduled · waiting for every camera acknowledgement…");
    const double startAt = rig.now + 2500;
    EXPECT_EQ(rig.coordinator.session()->startAt, startAt);
    for (const std::string& id : ids) {
        const testing::SimCamera& camera = rig.cameras.at(id);
        ASSERT_EQ(camera.startAts, 1) << id;
        EXPECT_EQ(camera.startPayloads[0].at("action"), "START_AT");
        EXPECT_EQ(camera.startPayloads[0].at("directorMonoMs"), startAt);
        EXPECT_EQ(camera.startPayloads[0].at("startMonoMs"), startAt + camera.clockOffset) << id;
        EXPECT_EQ(camera.startPayloads[0].at("prepareCommandId"), prepare.at("prepareCommandId"));
    }

    rig.runFor(400);
    for (const std::string& id : ids) {
        const testing::SimCamera& camera = rig.cameras.at(id);
        ASSERT_EQ(camera.startAts, 3) << id;
        EXPECT_EQ(camera.startPayloads[2].at("startMonoMs"), camera.startPayloads[0].at("startMonoMs"));
    }
    EXPECT_EQ(rig.coordinator.session()->startACKs.size(), ids.size());
    rig.runFor(800); // the acknowledgement window has passed
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    EXPECT_EQ(rig.message(), "Start accepted · waiting for recording status…");

    ASSERT_TRUE(rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::recording; }, 5000));
    EXPECT_EQ(rig.now, startAt);
    EXPECT_EQ(rig.message(), "Recording confirmed by every camera.");
    for (const std::string& id : ids) EXPECT_EQ(rig.cameras.at(id).startedAtDirector, startAt) << id;
    rig.runFor(3000);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::recording);
    for (const std::string& id : ids) EXPECT_EQ(rig.cameras.at(id).startAts, 3) << id;

    const std::size_t beforeStop = rig.sent.size();
    EXPECT_EQ(rig.stopAll(), static_cast<int>(ids.size()));
    const auto stops = rig.sentSince(beforeStop, "STOP_TAKE");
    ASSERT_EQ(stops.size(), ids.size() + 1);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(stops[i].payload.at("takeId"), "take-1");
        EXPECT_EQ(stops[i].payload.at("target"), ids[i]);
    }
    EXPECT_EQ(stops.back().host, std::nullopt);
    EXPECT_EQ(stops.back().payload.at("safeStopTargets"), Json(ids));
    EXPECT_TRUE(rig.sentSince(beforeStop, "CANCEL_TAKE").empty());
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    EXPECT_EQ(rig.message(), "Stop accepted. Cameras may still be saving; Collect confirms the files.");
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop accepted · awaiting idle status");

    rig.step();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
    EXPECT_EQ(rig.message(), "Cameras report idle. Verify saved clips in Collect.");
    EXPECT_FALSE(rig.coordinator.session());
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Camera idle · verify saved clip in Collect");
    EXPECT_EQ(rig.coordinator.status().takeID, "take-1");
}

INSTANTIATE_TEST_SUITE_P(Cameras, WholeRoad, ::testing::Values(1, 2, 8));

// A rig whose cameras already have usable clocks.
void warmUp(RecordingRig& rig, int cameras) {
    addCameras(rig, cameras);
    rig.runFor(2100);
}

TEST(TakeBegin, RefusedWhileATakeIsActiveWithoutTouchingTheMessage) {
    RecordingRig rig;
    warmUp(rig, 1);
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment("take-1")));
    ASSERT_TRUE(rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::recording; }));
    const DirectorRecordingStatus before = rig.coordinator.status();
    const std::size_t sent = rig.sent.size();
    EXPECT_FALSE(rig.begin({"cam-a"}, assignment("take-2")));
    EXPECT_EQ(rig.coordinator.status(), before);
    EXPECT_EQ(rig.sent.size(), sent);
}

TEST(TakeBegin, RefusalsAndTheirSentences) {
    const std::string refused = "Choose a valid project/take, or resolve the previous stop first.";
    const std::string cameras =
        "Every selected camera must be online, idle and support durable project preparation. Update or wake cameras, then retry.";
    struct Case {
        const char* what;
        std::vector<std::string> ids;
        std::function<void(RecordingRig&, DirectorTakeAssignment&)> change;
        std::string message;
    };
    auto camera = [](const char* id, std::function<void(DirectorRecordingPeer&)> edit) {
        return [id, edit](RecordingRig& rig, DirectorTakeAssignment&) {
            edit(rig.cameras.at(id).peer);
            rig.report(id);
        };
    };
    const std::vector<std::string> nine = {"cam-a", "cam-b", "cam-c", "cam-d", "cam-e", "cam-f", "cam-g", "cam-h", "cam-i"};
    const Case cases[] = {
        {"invalid assignment", {"cam-a"}, [](RecordingRig&, DirectorTakeAssignment& a) { a.projectRevision = 0; }, refused},
        {"no camera", {}, [](RecordingRig&, DirectorTakeAssignment&) {}, cameras},
        {"nine cameras", nine, [](RecordingRig&, DirectorTakeAssignment&) {}, cameras},
        {"reference missing", {"cam-b"}, [](RecordingRig&, DirectorTakeAssignment&) {}, cameras},
        {"unknown camera", {"cam-a", "cam-z"}, [](RecordingRig&, DirectorTakeAssignment&) {}, cameras},
        {"offline", {"cam-a", "cam-b"}, [](RecordingRig& rig, DirectorTakeAssignment&) { rig.cameras.at("cam-b").peer.seenAt = rig.now - 6500; rig.coordinator.update(rig.cameras.at("cam-b").peer, rig.now); }, cameras},
        {"no remote control", {"cam-a", "cam-b"}, camera("cam-b", [](auto& p) { p.remoteControl = false; }), cameras},
        {"no clock sync", {"cam-a", "cam-b"}, camera("cam-b", [](auto& p) { p.syncVersion = 0; }), cameras},
        {"no durable preparation", {"cam-a", "cam-b"}, camera("cam-b", [](auto& p) { p.projectSyncVersion = 0; p.warmPrepare = false; }), cameras},
        {"not ready", {"cam-a", "cam-b"}, camera("cam-b", [](auto& p) { p.ready = false; }), cameras},
        {"busy", {"cam-a", "cam-b"}, camera("cam-b", [](auto& p) { p.busy = true; }), cameras},
        {"recording", {"cam-a", "cam-b"}, camera("cam-b", [](auto& p) { p.recording = true; }), cameras},
        {"finalizing", {"cam-a", "cam-b"}, camera("cam-b", [](auto& p) { p.finalizing = true; }), cameras},
    };
    for (const Case& c : cases) {
        RecordingRig rig;
        addCameras(rig, 8);
        rig.add("cam-i");
        DirectorTakeAssignment take = assignment();
        c.change(rig, take);
        const std::size_t sent = rig.sent.size();
        EXPECT_FALSE(rig.begin(c.ids, take)) << c.what;
        EXPECT_EQ(rig.message(), c.message) << c.what;
        EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle) << c.what;
        EXPECT_EQ(rig.sent.size(), sent) << c.what;
        EXPECT_TRUE(rig.coordinator.consumedTakes().empty()) << c.what;
    }
}

TEST(TakeBegin, DuplicatedIdsCountOnce) {
    RecordingRig rig;
    addCameras(rig, 8);
    std::vector<std::string> ids = {"cam-a", "cam-b", "cam-c", "cam-d", "cam-e", "cam-f", "cam-g", "cam-h", "cam-a", "cam-h"};
    EXPECT_TRUE(rig.begin(ids, assignment()));
    EXPECT_EQ(rig.coordinator.session()->peers.size(), 8u);
}

TEST(TakeBegin, EmptySenderIsRefused) {
    DirectorRecordingCoordinator coordinator;
    coordinator.update(testing::peer("cam-a", "10.0.0.2", 0), 0);
    EXPECT_FALSE(coordinator.begin({"cam-a"}, assignment(), 0));
    EXPECT_EQ(coordinator.status().message, "Choose a valid project/take, or resolve the previous stop first.");
    EXPECT_TRUE(coordinator.drain().empty());
}

TEST(TakeBegin, ATakeKeyIsUsedOnceWithin256Keys) {
    RecordingRig rig;
    warmUp(rig, 1);
    auto failAndSettle = [&] {
        rig.coordinator.suspend(rig.now);
        rig.pump();
        rig.step();
        ASSERT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    };
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment("take-1")));
    failAndSettle();
    EXPECT_FALSE(rig.begin({"cam-a"}, assignment("take-1")));
    EXPECT_EQ(rig.message(), "Use a new take ID; this take was already prepared in this session.");

    DirectorTakeAssignment otherProject = assignment("take-1");
    otherProject.projectID = "1d6a1f3e-2b4c-4d5e-8f60-718293a4b5c6";
    ASSERT_TRUE(rig.begin({"cam-a"}, otherProject)); // the key is project and take together
    failAndSettle();
    for (int i = 0; i < 254; ++i) {
        ASSERT_TRUE(rig.begin({"cam-a"}, assignment("newer-" + std::to_string(i))));
        failAndSettle();
    }
    EXPECT_EQ(rig.coordinator.consumedTakes().size(), 256u);
    EXPECT_FALSE(rig.begin({"cam-a"}, assignment("take-1")));
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment("newer-254")));
    failAndSettle();
    EXPECT_EQ(rig.coordinator.consumedTakes().size(), 256u);
    EXPECT_TRUE(rig.begin({"cam-a"}, assignment("take-1")));
}

TEST(TakeBegin, AcceptedAgainFromFailed) {
    RecordingRig rig;
    warmUp(rig, 2);
    rig.cameras.at("cam-b").answersPrepare = false;
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment("take-1")));
    rig.runFor(14500);
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    rig.cameras.at("cam-b").answersPrepare = true;
    const std::size_t mark = rig.sent.size();
    EXPECT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment("take-2")));
    EXPECT_TRUE(rig.coordinator.stops().empty());
    EXPECT_TRUE(rig.coordinator.status().stopResults.empty());
    EXPECT_EQ(rig.coordinator.status().takeID, "take-2");
    // Clocks survive a begin, so the begin's own tick already prepares.
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    EXPECT_EQ(rig.sentSince(mark, "PREPARE_TAKE").size(), 2u);
    rig.step();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::starting);
}

TEST(TakeDeadlines, ClocksMustBeUsableWithin6000ms) {
    RecordingRig rig;
    addCameras(rig, 2);
    rig.cameras.at("cam-b").answersPings = false;
    const double t0 = rig.now;
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    rig.runFor(5900);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::synchronizing);
    const std::size_t mark = rig.sent.size();
    rig.coordinator.tick(rig.now = t0 + 6000);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "Camera clocks did not become ready. Check the network and retry with a new take.");
    rig.pump();
    EXPECT_EQ(rig.sentSince(mark, "CANCEL_TAKE").size(), 2u);
    EXPECT_EQ(rig.sentSince(mark, "STOP_TAKE").size(), 2u);
}

TEST(TakeDeadlines, PreparingStartsInTheTickAfterClocksBecomeUsable) {
    RecordingRig rig;
    addCameras(rig, 1);
    const double t0 = rig.now;
    rig.cameras.at("cam-a").answersPrepare = false;
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
    rig.runFor(2000);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::synchronizing);
    EXPECT_EQ(rig.cameras.at("cam-a").prepares, 0);
    rig.step();
    EXPECT_EQ(rig.now, t0 + 2100);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    EXPECT_EQ(rig.cameras.at("cam-a").prepares, 1);
    // Repeated every 250 ms at tick granularity: 2100, 2400, 2700, 3000.
    rig.runFor(900);
    EXPECT_EQ(rig.cameras.at("cam-a").prepares, 4);
}

TEST(TakeDeadlines, PreparationTimesOutAfter12000ms) {
    RecordingRig rig;
    addCameras(rig, 2);
    const double t0 = rig.now;
    rig.cameras.at("cam-b").answersPrepare = false;
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    rig.runFor(2100 + 11900);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    rig.coordinator.tick(rig.now = t0 + 2100 + 12000);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "Camera preparation timed out. Cancellation sent.");
    EXPECT_EQ(rig.cameras.at("cam-a").prepares, 1); // proven cameras are not asked again
}

TEST(TakeDeadlines, ProofOfACameraWhoseClockLapsedFailsAtOnce) {
    RecordingRig rig;
    addCameras(rig, 2);
    const double t0 = rig.now;
    rig.cameras.at("cam-b").answersPrepare = false;
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    rig.runFor(2100);
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    rig.cameras.at("cam-a").answersPings = false; // last sample at t0 + 2000
    rig.runFor(11900);
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    Json proof = rig.sentSince(0, "PREPARE_TAKE").back().payload;
    proof["action"] = "PREPARE_ACK";
    proof["target"] = testing::directorID;
    proof["ready"] = true;
    proof["projectAssignmentStored"] = true;
    proof["assignmentStoredMonoMs"] = 5;
    proof["clipId"] = "c2000000-0000-4000-8000-000000000001";
    rig.coordinator.receive("cam-b", rig.cameras.at("cam-b").peer.host, std::nullopt, proof, rig.now);
    ASSERT_EQ(rig.coordinator.session()->prepareACKs.size(), 2u);
    rig.coordinator.tick(rig.now = t0 + 14050); // cam-a's last sample is 12050 ms old
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "Clock/preparation proof expired before START. Cancellation sent.");
}

TEST(TakeDeadlines, StartMustBeAcknowledgedWithin1200ms) {
    RecordingRig rig;
    warmUp(rig, 2);
    rig.cameras.at("cam-b").answersStart = false;
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    rig.step();
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    const double scheduled = rig.now;
    rig.runFor(1100);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    const std::size_t mark = rig.sent.size();
    rig.coordinator.tick(rig.now = scheduled + 1200);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "START was not acknowledged by every camera. Cancellation sent; check cameras.");
    rig.pump();
    EXPECT_EQ(rig.sentSince(mark, "CANCEL_TAKE").size(), 2u);
}

TEST(TakeDeadlines, RecordingMustBeSeenWithin6500msOfTheStart) {
    RecordingRig rig;
    warmUp(rig, 2);
    rig.cameras.at("cam-b").startsRecording = false;
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    rig.step();
    const double startAt = rig.coordinator.session()->startAt;
    rig.runFor(startAt + 6500 - rig.now);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    EXPECT_EQ(rig.message(), "Start accepted · waiting for recording status…");
    rig.coordinator.tick(rig.now = startAt + 6501);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "Recording status was not confirmed after START. Cancellation sent; check cameras.");
}

TEST(TakeDeadlines, RecordingSeenBeforeTheStartConfirmsOnlyAtTheStart) {
    RecordingRig rig;
    warmUp(rig, 1);
    rig.cameras.at("cam-a").startsRecording = false;
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
    rig.step();
    const double startAt = rig.coordinator.session()->startAt;
    rig.cameras.at("cam-a").peer.recording = true;
    rig.cameras.at("cam-a").peer.takeID = "take-1";
    rig.runFor(startAt - 100 - rig.now);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    rig.step();
    EXPECT_EQ(rig.now, startAt);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::recording);
}

TEST(TakeDeadlines, CameraLostBeforeRecordingFailsTheTake) {
    RecordingRig rig;
    warmUp(rig, 2);
    rig.cameras.at("cam-b").answersPrepare = false;
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    rig.step();
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    rig.cameras.at("cam-b").reportsStatus = false;
    const double lastSeen = rig.now;
    rig.runFor(6400);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    rig.coordinator.tick(rig.now = lastSeen + 6500);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "Camera lost during preparation/start. Cancellation sent; check cameras.");
}

TEST(TakeDeadlines, LostCameraDuringRecordingOnlyWarns) {
    RecordingRig rig;
    warmUp(rig, 2);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    ASSERT_TRUE(rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::recording; }));
    rig.cameras.at("cam-b").reportsStatus = false;
    rig.runFor(6500);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::recording);
    EXPECT_EQ(rig.message(), "Camera offline · recording state unknown. Stop remains available.");

    // Saving on one camera while the other records.
    rig.cameras.at("cam-b").reportsStatus = true;
    rig.cameras.at("cam-a").peer.recording = false;
    rig.cameras.at("cam-a").peer.finalizing = true;
    rig.step();
    EXPECT_EQ(rig.message(), "Some cameras are saving; other cameras may still be recording.");

    // Both idle: the take ends by itself.
    for (auto& [id, camera] : rig.cameras) camera.peer.recording = camera.peer.busy = camera.peer.finalizing = false;
    rig.step();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
    EXPECT_EQ(rig.message(), "Cameras report idle. Verify saved clips in Collect.");
    EXPECT_FALSE(rig.coordinator.session());
}

TEST(TakeTimedStart, StartAtGoesOutThreeTimesEvenWhenTicksAreLate) {
    RecordingRig rig;
    warmUp(rig, 2);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    rig.step();
    ASSERT_EQ(rig.cameras.at("cam-a").startAts, 1);
    const double scheduled = rig.coordinator.session()->startAt - 2500;
    rig.coordinator.tick(rig.now = scheduled + 450);
    rig.pump();
    EXPECT_EQ(rig.cameras.at("cam-a").startAts, 3);
    EXPECT_EQ(rig.cameras.at("cam-b").startAts, 3);
    rig.coordinator.tick(rig.now = scheduled + 1000);
    rig.pump();
    EXPECT_EQ(rig.cameras.at("cam-a").startAts, 3);
    EXPECT_EQ(rig.coordinator.session()->startSentAt, (std::vector<double>{0, 200, 400}));
}

TEST(TakeTimedStart, NothingHappensUntilTheDirectorIsIdentified) {
    DirectorRecordingCoordinator coordinator;
    coordinator.update(testing::peer("cam-a", "10.0.0.2", 0), 0);
    for (double now = 0; now < 10000; now += 100) coordinator.tick(now);
    EXPECT_TRUE(coordinator.drain().empty());
    EXPECT_TRUE(coordinator.pings().empty());
    EXPECT_EQ(coordinator.stop({"cam-a"}, true, 0), 0);
    EXPECT_TRUE(coordinator.drain().empty());
}

TEST(TakeTimedStart, ClockPingsGoToEveryOnlineSyncingCameraEachSecond) {
    RecordingRig rig;
    rig.add("cam-a");
    rig.add("cam-b").peer.syncVersion = 0;
    rig.report("cam-b");
    rig.add("cam-c").reportsStatus = false;
    rig.runFor(8000);
    EXPECT_EQ(rig.cameras.at("cam-a").pings, 8);
    EXPECT_EQ(rig.cameras.at("cam-b").pings, 0);
    EXPECT_EQ(rig.cameras.at("cam-c").pings, 7); // offline once its last status is 6500 ms old
}

} // namespace
} // namespace velk

#include <gtest/gtest.h>

#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::assignment;
using testing::RecordingRig;
using Phase = DirectorRecordingPhase;

class WholeRoad : public ::testing::TestWithParam<int> {};

TEST_P(WholeRoad, PreparesStartsRecordsAndStops) {
    RecordingRig rig;
    EXPECT_EQ(rig.message(), "Ready. Record prepares every camera and confirms the frozen project assignment.");
    const auto ids = rig.addCameras(GetParam(), {3500, -7200, 9100, -1500, 6000, -9999.5, 250, -4300});
    const double t0 = rig.now;
    ASSERT_TRUE(rig.begin(ids));
    EXPECT_EQ(rig.coordinator.status(), (DirectorRecordingStatus{Phase::synchronizing, "take-1", "Checking camera clocks…", {}}));
    EXPECT_EQ(rig.sentSince(0, "CLOCK_PING").size(), ids.size()); // first pings leave at once

    // Samples at t0, t0+1000 and t0+2000 make every clock usable; the next tick prepares, and every
    // camera proves the assignment at once.
    rig.runFor(2000);
    EXPECT_EQ(rig.phase(), Phase::synchronizing);
    const std::size_t mark = rig.sent.size();
    rig.step();
    const auto prepares = rig.sentSince(mark, "PREPARE_TAKE");
    ASSERT_EQ(prepares.size(), ids.size());
    const std::string command = rig.coordinator.session()->commandID;
    EXPECT_EQ(prepares[0].payload,
              (Json{{"action", "PREPARE_TAKE"}, {"requestId", "take-1"}, {"takeId", "take-1"}, {"directorId", testing::directorID},
                    {"prepareCommandId", command}, {"projectId", testing::projectID}, {"projectNameAtCapture", "Harbour Shoot"},
                    {"projectRevisionAtCapture", 7}, {"createdAt", "2026-05-01T12:30:00Z"}, {"referenceCameraId", "cam-a"},
                    {"timelineFPS", "30/1"}, {"target", "cam-a"}}));
    EXPECT_EQ(rig.message(), "Preparing cameras · waiting for durable project assignment…");

    // Every proof is in: the start is scheduled 2500 ms ahead on each camera's own clock.
    rig.step();
    EXPECT_EQ(rig.now, t0 + 2200);
    EXPECT_EQ(rig.phase(), Phase::starting);
    EXPECT_EQ(rig.message(), "Start scheduled · waiting for every camera acknowledgement…");
    const double startAt = rig.now + 2500;
    rig.runFor(1200); // START_AT went out three times and the acknowledgement window has passed
    EXPECT_EQ(rig.message(), "Start accepted · waiting for recording status…");
    for (const std::string& id : ids) {
        const testing::SimCamera& camera = rig.cameras.at(id);
        ASSERT_EQ(camera.startPayloads.size(), 3u) << id;
        for (const Json& start : camera.startPayloads) {
            EXPECT_EQ(start.at("directorMonoMs"), startAt);
            EXPECT_EQ(start.at("startMonoMs"), startAt + camera.clockOffset) << id;
            EXPECT_EQ(start.at("prepareCommandId"), command);
        }
    }
    ASSERT_TRUE(rig.reach(Phase::recording));
    EXPECT_EQ(rig.now, startAt);
    EXPECT_EQ(rig.message(), "Recording confirmed by every camera.");
    for (const std::string& id : ids) EXPECT_EQ(rig.cameras.at(id).startedAtDirector, startAt) << id;
    rig.runFor(3000);

    const std::size_t beforeStop = rig.sent.size();
    EXPECT_EQ(rig.stopAll(), static_cast<int>(ids.size()));
    std::vector<std::string> route;
    for (const std::string& id : ids) route.push_back("STOP_TAKE " + id + " take-1");
    route.push_back("STOP_TAKE  ");
    EXPECT_EQ(rig.route(beforeStop), route);
    EXPECT_EQ(rig.sent.back().host, std::nullopt);
    EXPECT_EQ(rig.sent.back().payload.at("safeStopTargets"), Json(ids));
    EXPECT_EQ(rig.phase(), Phase::stopping);
    EXPECT_EQ(rig.message(), "Stop accepted. Cameras may still be saving; Collect confirms the files.");
    EXPECT_EQ(rig.result("cam-a"), "Stop accepted · awaiting idle status");
    rig.step();
    EXPECT_EQ(rig.phase(), Phase::idle);
    EXPECT_EQ(rig.message(), "Cameras report idle. Verify saved clips in Collect.");
    EXPECT_FALSE(rig.coordinator.session());
    EXPECT_EQ(rig.result("cam-a"), "Camera idle · verify saved clip in Collect");
    EXPECT_EQ(rig.coordinator.status().takeID, "take-1");

    // A new take clears the stop tables; the clocks are still usable, so its own tick prepares.
    ASSERT_TRUE(rig.begin(ids, assignment("take-2")));
    EXPECT_TRUE(rig.coordinator.stops().empty());
    EXPECT_TRUE(rig.coordinator.status().stopResults.empty());
    EXPECT_EQ(rig.phase(), Phase::preparing);
}

INSTANTIATE_TEST_SUITE_P(Cameras, WholeRoad, ::testing::Values(1, 2, 8),
                         [](const auto& info) { return "Of" + std::to_string(info.param); });

TEST(TakeBegin, RefusalsAndTheirSentences) {
    const std::string refused = "Choose a valid project/take, or resolve the previous stop first.";
    const std::string cameras =
        "Every selected camera must be online, idle and support durable project preparation. Update or wake cameras, then retry.";
    using Edit = std::function<void(RecordingRig&, DirectorTakeAssignment&)>;
    const auto b = [](std::function<void(DirectorRecordingPeer&)> edit) -> Edit {
        return [edit](RecordingRig& rig, DirectorTakeAssignment&) { edit(rig.cameras.at("cam-b").peer); rig.report("cam-b"); };
    };
    const Edit none = [](RecordingRig&, DirectorTakeAssignment&) {};
    const std::vector<std::string> two = {"cam-a", "cam-b"};
    struct Case { const char* what; std::vector<std::string> ids; Edit change; std::string message; };
    const Case cases[] = {
        {"invalid assignment", {"cam-a"}, [](RecordingRig&, DirectorTakeAssignment& a) { a.projectRevision = 0; }, refused},
        {"no camera", {}, none, cameras},
        {"nine cameras", {"cam-a", "cam-b", "cam-c", "cam-d", "cam-e", "cam-f", "cam-g", "cam-h", "cam-i"}, none, cameras},
        {"reference missing", {"cam-b"}, none, cameras},
        {"unknown camera", {"cam-a", "cam-z"}, none, cameras},
        {"offline", two, [](RecordingRig& rig, DirectorTakeAssignment&) { rig.now += 6500; rig.report("cam-a"); }, cameras},
        {"no remote control", two, b([](auto& p) { p.remoteControl = false; }), cameras},
        {"no clock sync", two, b([](auto& p) { p.syncVersion = 0; }), cameras},
        {"no durable preparation", two, b([](auto& p) { p.projectSyncVersion = 0; p.warmPrepare = false; }), cameras},
        {"not ready", two, b([](auto& p) { p.ready = false; }), cameras},
        {"busy", two, b([](auto& p) { p.busy = true; }), cameras},
        {"recording", two, b([](auto& p) { p.recording = true; }), cameras},
        {"finalizing", two, b([](auto& p) { p.finalizing = true; }), cameras},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingRig rig;
        rig.addCameras(9);
        DirectorTakeAssignment take = assignment();
        c.change(rig, take);
        const std::size_t sent = rig.sent.size();
        EXPECT_FALSE(rig.begin(c.ids, take));
        EXPECT_EQ(rig.coordinator.status(), (DirectorRecordingStatus{Phase::idle, "", c.message, {}}));
        EXPECT_EQ(rig.sent.size(), sent);
        EXPECT_TRUE(rig.coordinator.consumedTakes().empty());
    }

    RecordingRig rig; // duplicated ids count once, so eight distinct cameras pass
    rig.addCameras(8);
    EXPECT_TRUE(rig.begin({"cam-a", "cam-b", "cam-c", "cam-d", "cam-e", "cam-f", "cam-g", "cam-h", "cam-a", "cam-h"}));
    EXPECT_EQ(rig.coordinator.session()->peers.size(), 8u);
    const DirectorRecordingStatus active = rig.coordinator.status(); // refused while active, status untouched
    EXPECT_FALSE(rig.begin({"cam-a"}, assignment("take-2")));
    EXPECT_EQ(rig.coordinator.status(), active);

    DirectorRecordingCoordinator anonymous; // no Director identity
    anonymous.update(testing::peer("cam-a", "10.0.0.2", 0), 0);
    EXPECT_FALSE(anonymous.begin({"cam-a"}, assignment(), 0));
    EXPECT_EQ(anonymous.status().message, refused);
    EXPECT_TRUE(anonymous.drain().empty());
}

TEST(TakeBegin, ATakeKeyIsUsedOnceWithin256Keys) {
    RecordingRig rig;
    rig.addCameras(1);
    const auto beginAndFail = [&](const DirectorTakeAssignment& take) {
        const bool accepted = rig.begin({"cam-a"}, take);
        if (accepted) rig.suspend();
        rig.step(); // the failure's tracked stop completes
        return accepted;
    };
    ASSERT_TRUE(beginAndFail(assignment("take-1")));
    EXPECT_FALSE(beginAndFail(assignment("take-1"))); // accepted again from failed, but not this key
    EXPECT_EQ(rig.message(), "Use a new take ID; this take was already prepared in this session.");
    DirectorTakeAssignment otherProject = assignment("take-1");
    otherProject.projectID = "1d6a1f3e-2b4c-4d5e-8f60-718293a4b5c6";
    ASSERT_TRUE(beginAndFail(otherProject)); // the key is project and take together
    for (int i = 0; i < 254; ++i) ASSERT_TRUE(beginAndFail(assignment("newer-" + std::to_string(i))));
    EXPECT_EQ(rig.coordinator.consumedTakes().size(), 256u);
    EXPECT_FALSE(beginAndFail(assignment("take-1")));
    ASSERT_TRUE(beginAndFail(assignment("newer-254"))); // pushes the oldest key out
    EXPECT_EQ(rig.coordinator.consumedTakes().size(), 256u);
    EXPECT_TRUE(beginAndFail(assignment("take-1")));
}

// Each failure of a take at its deadline: cam-a and cam-b are in the take, cam-b misbehaves; the
// take still runs at `lastOk` and fails at `failAt`.
TEST(TakeDeadlines, EachFailureAtItsBoundary) {
    struct Boundary { double lastOk, failAt; };
    using Arrange = std::function<Boundary(RecordingRig&, testing::SimCamera& b)>;
    struct Case { std::string message; Arrange arrange; std::function<void(RecordingRig&)> atFailure = nullptr; bool cancelsB = true; };
    const auto start = [](RecordingRig& rig, bool warm) { // returns when preparing (warm) or synchronizing began
        if (warm) rig.runFor(2100);
        const double at = rig.now;
        rig.begin({"cam-a", "cam-b"});
        return at;
    };
    const Case cases[] = {
        {"Camera clocks did not become ready. Check the network and retry with a new take.",
         [&](RecordingRig& rig, auto& b) { b.answersPings = false; return Boundary{start(rig, false) + 5900, rig.now + 6000}; }},
        {"Camera preparation timed out. Cancellation sent.",
         [&](RecordingRig& rig, auto& b) { b.answersPrepare = false; return Boundary{start(rig, true) + 11900, rig.now + 12000}; }},
        {"Clock/preparation proof expired before START. Cancellation sent.",
         [&](RecordingRig& rig, auto& b) {
             b.answersPrepare = false;
             const double at = start(rig, false);
             rig.runFor(2100);
             rig.cameras.at("cam-a").answersPings = false; // last sample at + 2000
             return Boundary{at + 14000, at + 14050}; },
         [](RecordingRig& rig) { rig.reply("cam-b", rig.proof()); }},
        {"START was not acknowledged by every camera. Cancellation sent; check cameras.",
         [&](RecordingRig& rig, auto& b) { b.answersStart = false; start(rig, true); rig.step(); return Boundary{rig.now + 1100, rig.now + 1200}; }},
        {"Recording status was not confirmed after START. Cancellation sent; check cameras.",
         [&](RecordingRig& rig, auto& b) {
             b.startsRecording = false;
             start(rig, true);
             rig.step();
             const double startAt = rig.coordinator.session()->startAt;
             return Boundary{startAt + 6500, startAt + 6501}; }},
        {"Camera lost during preparation/start. Cancellation sent; check cameras.",
         [&](RecordingRig& rig, auto& b) {
             b.answersPrepare = false;
             const double at = start(rig, true);
             b.reportsStatus = false; // last status at the begin
             return Boundary{at + 6400, at + 6500}; }},
        {"Camera cam-b reconnected. Stop/check cameras before preparing another take.",
         [&](RecordingRig& rig, auto& b) { b.answersPrepare = false; return Boundary{start(rig, true) + 1000, rig.now + 1000}; },
         [](RecordingRig& rig) {
             rig.cameras.at("cam-b").peer.session = "rebooted";
             rig.coordinator.update(rig.cameras.at("cam-b").peer, rig.now); },
         false}, // nothing goes to its old endpoint
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        RecordingRig rig;
        rig.addCameras(2);
        const Boundary boundary = c.arrange(rig, rig.cameras.at("cam-b"));
        rig.runFor(boundary.lastOk - rig.now);
        EXPECT_NE(rig.phase(), Phase::failed);
        const std::size_t mark = rig.sent.size();
        if (c.atFailure) c.atFailure(rig);
        rig.coordinator.tick(rig.now = boundary.failAt);
        EXPECT_EQ(rig.phase(), Phase::failed);
        EXPECT_EQ(rig.message(), c.message); // before the cameras acknowledge the failure's stops
        rig.pump();
        EXPECT_EQ(rig.times(mark, "CANCEL_TAKE", "cam-a").at(0), rig.now);
        EXPECT_EQ(rig.times(mark, "STOP_TAKE", "cam-a").at(0), rig.now);
        EXPECT_EQ(rig.times(mark, "CANCEL_TAKE", "cam-b").size(), c.cancelsB ? 1u : 0u);
    }
}

TEST(TakeDeadlines, RecordingPhaseOnlyWatchesTheCameras) {
    RecordingRig rig;
    rig.addCameras(2);
    ASSERT_TRUE(rig.record({"cam-a", "cam-b"}));
    rig.cameras.at("cam-b").reportsStatus = false;
    rig.runFor(6500);
    EXPECT_EQ(rig.phase(), Phase::recording);
    EXPECT_EQ(rig.message(), "Camera offline · recording state unknown. Stop remains available.");

    rig.cameras.at("cam-b").reportsStatus = true;
    rig.cameras.at("cam-a").peer.recording = false;
    rig.cameras.at("cam-a").peer.finalizing = true;
    rig.step();
    EXPECT_EQ(rig.message(), "Some cameras are saving; other cameras may still be recording.");

    for (auto& [id, camera] : rig.cameras) camera.peer.recording = camera.peer.busy = camera.peer.finalizing = false;
    rig.step(); // every camera idle: the take ends by itself
    EXPECT_EQ(rig.phase(), Phase::idle);
    EXPECT_EQ(rig.message(), "Cameras report idle. Verify saved clips in Collect.");
    EXPECT_FALSE(rig.coordinator.session());
}

TEST(TakeTimedStart, PingsPreparationAndStartSendsFollowTheTimer) {
    RecordingRig rig;
    rig.addCameras(2);
    rig.add("cam-x").peer.syncVersion = 0;
    rig.report("cam-x");
    rig.add("cam-y").reportsStatus = false;
    rig.cameras.at("cam-b").answersPrepare = false;
    const double t0 = rig.now;
    rig.runFor(8000); // pings each second to online cameras that sync clocks
    EXPECT_EQ(rig.cameras.at("cam-a").pings, 8);
    EXPECT_EQ(rig.cameras.at("cam-x").pings, 0);
    EXPECT_EQ(rig.cameras.at("cam-y").pings, 7); // offline once its last status is 6500 ms old

    // PREPARE_TAKE every 250 ms at tick granularity, only to cameras without a proof.
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}));
    rig.runFor(900);
    EXPECT_EQ(rig.times(0, "PREPARE_TAKE", "cam-b"), (std::vector<double>{t0 + 8000, t0 + 8300, t0 + 8600, t0 + 8900}));
    EXPECT_EQ(rig.cameras.at("cam-a").prepares, 1);

    // START_AT goes out three times even when ticks come late, and a camera seen recording early
    // confirms only at the start instant.
    rig.reply("cam-b", rig.proof(9));
    for (const char* id : {"cam-a", "cam-b"}) rig.cameras.at(id).startsRecording = false;
    rig.tick(rig.now + 100);
    ASSERT_EQ(rig.phase(), Phase::starting);
    const double startAt = rig.coordinator.session()->startAt;
    rig.tick(startAt - 2500 + 450);
    rig.tick(startAt - 2500 + 1000);
    EXPECT_EQ(rig.cameras.at("cam-a").startPayloads.size(), 3u);
    EXPECT_EQ(rig.coordinator.session()->startSentAt, (std::vector<double>{0, 200, 400}));
    for (const char* id : {"cam-a", "cam-b"}) {
        rig.cameras.at(id).peer.recording = true;
        rig.cameras.at(id).peer.takeID = "take-1";
    }
    rig.runFor(startAt - 100 - rig.now);
    EXPECT_EQ(rig.phase(), Phase::starting);
    rig.step();
    EXPECT_EQ(rig.phase(), Phase::recording);
}

TEST(TakeTimedStart, NothingHappensUntilTheDirectorIsIdentified) {
    DirectorRecordingCoordinator coordinator;
    coordinator.update(testing::peer("cam-a", "10.0.0.2", 0), 0);
    for (double now = 0; now < 3000; now += 100) coordinator.tick(now);
    EXPECT_EQ(coordinator.stop({"cam-a"}, true, 0), 0);
    EXPECT_TRUE(coordinator.drain().empty());
    EXPECT_TRUE(coordinator.pings().empty());
}

} // namespace
} // namespace velk

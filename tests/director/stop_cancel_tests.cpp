#include <gtest/gtest.h>

#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::assignment;
using testing::RecordingRig;
using testing::SimCamera;
using Phase = DirectorRecordingPhase;

const std::string legacyBroadcast = "Legacy Stop broadcast · no acknowledgement support";
const std::string unconfirmed = "Stop unconfirmed · check camera / retry Stop";

TEST(StopAll, DuringPreparationCancelsAndStops) {
    RecordingRig rig; // with no camera known, Stop All still broadcasts
    EXPECT_EQ(rig.stopAll(), 0);
    EXPECT_EQ(rig.phase(), Phase::idle);
    EXPECT_EQ(rig.sent.at(0).host, std::nullopt);
    EXPECT_EQ(rig.sent.at(0).payload, (Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", ""},
                                            {"name", ""}, {"safeStopTargets", Json::array()}}));

    rig.add("cam-a").answersPrepare = false;
    rig.add("cam-b", 0, 0).answersPrepare = false;
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}));
    ASSERT_EQ(rig.phase(), Phase::preparing);
    rig.cameras.at("cam-a").answersStop = false;
    const std::size_t mark = rig.sent.size();
    EXPECT_EQ(rig.stopAll(), 2);
    EXPECT_EQ(rig.route(mark), (std::vector<std::string>{"CANCEL_TAKE cam-a take-1", "CANCEL_TAKE cam-b take-1",
                                                         "STOP_TAKE cam-a take-1", "STOP_TAKE  "}));
    EXPECT_EQ(rig.sent.back().payload.at("safeStopTargets"), Json({"cam-a"}));
    EXPECT_EQ(rig.phase(), Phase::stopping);
    EXPECT_EQ(rig.message(), "Stop requested. Waiting for acceptance and camera finalization.");
    EXPECT_EQ(rig.result("cam-a"), "Stop requested · awaiting acceptance");
    EXPECT_EQ(rig.result("cam-b"), legacyBroadcast);
    EXPECT_TRUE(rig.coordinator.session());
}

TEST(StopAll, DuringRecordingStopsWithoutCancellingAndPendingStopsAreNotRepeated) {
    RecordingRig rig;
    rig.add("cam-a").answersStop = false;
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a"}));
    ASSERT_TRUE(rig.reach(Phase::recording));
    std::size_t mark = rig.sent.size();
    EXPECT_EQ(rig.stopAll(), 1);
    EXPECT_EQ(rig.route(mark), (std::vector<std::string>{"STOP_TAKE cam-a take-1", "STOP_TAKE  "}));
    const DirectorRecordingCommand stop = rig.sent[mark];
    EXPECT_EQ(stop.payload.at("requestId"), rig.coordinator.stops().begin()->first);
    EXPECT_EQ(stop.host, rig.cameras.at("cam-a").peer.host);

    for (bool acknowledged : {false, true}) { // pending, then acknowledged: only counted and broadcast
        SCOPED_TRACE(acknowledged);
        if (acknowledged) {
            rig.reply("cam-a", Json{{"action", "STOP_ACK"}, {"requestId", stop.payload.at("requestId")},
                                    {"takeId", "take-1"}, {"accepted", true}, {"finalizing", true}});
        }
        rig.runFor(300);
        mark = rig.sent.size();
        EXPECT_EQ(rig.stopAll(), 1);
        EXPECT_EQ(rig.route(mark), (std::vector<std::string>{"STOP_TAKE  "}));
        EXPECT_EQ(rig.sent.back().payload.at("safeStopTargets"), Json({"cam-a"}));
        EXPECT_EQ(rig.message(), "Stop requested. Waiting for acceptance and camera finalization.");
        EXPECT_EQ(rig.coordinator.stops().size(), 1u);
    }
}

TEST(StopCameras, OutsideTheSessionEachCameraUsesItsOwnTake) {
    RecordingRig rig;
    SimCamera& a = rig.add("cam-a");
    a.peer.recording = a.peer.busy = true;
    a.peer.takeID = "their-take";
    a.answersStop = false;
    rig.report("cam-a");
    rig.add("cam-b").peer.recording = true; // no take id: legacy stop
    rig.report("cam-b");
    rig.add("cam-c", 0, 0);

    EXPECT_EQ(rig.stop({"cam-c", "cam-b", "cam-a", "cam-z"}), 3);
    EXPECT_EQ(rig.route(0), (std::vector<std::string>{"STOP_TAKE cam-a their-take", "STOP_TAKE cam-b ", "STOP_TAKE cam-c "}));
    EXPECT_EQ(rig.sent[1].payload, (Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", "cam-b"},
                                         {"name", ""}}));
    EXPECT_EQ(rig.sent[1].host, rig.cameras.at("cam-b").peer.host);
    EXPECT_EQ(rig.result("cam-b"), "Legacy Stop sent · no acknowledgement support");
    EXPECT_EQ(rig.phase(), Phase::stopping);
    rig.runFor(4000); // a legacy stop is sent once and never retried
    EXPECT_EQ(rig.times(0, "STOP_TAKE", "cam-b").size(), 1u);
    EXPECT_EQ(rig.times(0, "STOP_TAKE", "cam-c").size(), 1u);
    EXPECT_EQ(rig.coordinator.stops().size(), 1u);

    // With no session the cameras that have a stop result are the ones that must settle.
    EXPECT_EQ(rig.phase(), Phase::stopping);
    a.peer.recording = a.peer.busy = false;
    rig.step();
    EXPECT_EQ(rig.phase(), Phase::idle);
}

TEST(StopRetries, At250_600_1200_2200AndUnconfirmedAt3500) {
    struct Case { const char* what; double tickMs; bool moves; std::vector<double> sends; std::size_t retryIndex; };
    const Case cases[] = {
        {"ticks every 100 ms", 100, false, {300, 600, 1200, 2200}, 4},
        {"one late tick sends the missed repeats at once", 1300, false, {1300, 1300, 1300}, 3},
        {"nothing to an old endpoint", 100, true, {}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingRig rig;
        SimCamera& camera = rig.add("cam-a");
        camera.answersStop = false;
        camera.peer.recording = true;
        camera.peer.takeID = "take-9";
        rig.report("cam-a");
        const double t = rig.now;
        ASSERT_EQ(rig.stop({"cam-a"}), 1);
        if (c.moves) camera.peer.host = "10.0.0.99";
        const std::size_t mark = rig.sent.size();
        rig.step(c.tickMs);
        if (c.tickMs == 100) rig.runFor(3300);
        std::vector<double> sends = rig.times(mark, "STOP_TAKE", "cam-a");
        for (double& at : sends) at -= t;
        EXPECT_EQ(sends, c.sends);
        EXPECT_EQ(rig.coordinator.stops().begin()->second.retryIndex, c.retryIndex);
        if (c.tickMs != 100) continue;
        EXPECT_EQ(rig.result("cam-a"), "Stop requested · awaiting acceptance");
        rig.step();
        EXPECT_EQ(rig.now, t + 3500);
        EXPECT_EQ(rig.result("cam-a"), unconfirmed);
        if (c.moves) { // a camera at another endpoint can no longer answer: the stop settles
            EXPECT_EQ(rig.phase(), Phase::idle);
        } else {
            EXPECT_EQ(rig.message(), "Some cameras have not accepted Stop. Check them; no saved-file confirmation is implied.");
            EXPECT_EQ(rig.phase(), Phase::stopping);
        }
        rig.runFor(5000);
        EXPECT_EQ(rig.times(mark, "STOP_TAKE", "cam-a").size(), c.sends.size());

        // A timed-out stop is replaced by a new one when Stop is pressed again.
        const std::string old = rig.coordinator.stops().begin()->first;
        ASSERT_EQ(rig.stop({"cam-a"}), 1);
        ASSERT_EQ(rig.coordinator.stops().size(), 1u);
        EXPECT_NE(rig.coordinator.stops().begin()->first, old);
    }
}

TEST(Cancellation, RepeatedAt0_200_500AndLegacyStopOnceAStartWasScheduled) {
    struct Case { const char* what; bool scheduled; std::vector<std::string> first; };
    const Case cases[] = {
        {"before the start", false, {"CANCEL_TAKE cam-a take-1", "CANCEL_TAKE cam-b take-1", "STOP_TAKE cam-a take-1"}},
        {"after the start was scheduled", true,
         {"CANCEL_TAKE cam-a take-1", "CANCEL_TAKE cam-b take-1", "STOP_TAKE cam-b ", "STOP_TAKE cam-a take-1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingRig rig;
        rig.add("cam-a").answersStop = false;
        rig.add("cam-b", 0, 0);
        rig.add("cam-c"); // not in the take
        rig.runFor(2100);
        rig.cameras.at("cam-a").answersPrepare = c.scheduled;
        ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}));
        if (c.scheduled) rig.step();
        ASSERT_EQ(rig.phase(), c.scheduled ? Phase::starting : Phase::preparing);
        const std::size_t mark = rig.sent.size();
        const double t = rig.now;
        rig.suspend();
        EXPECT_EQ(rig.route(mark), c.first);
        rig.cameras.at("cam-b").peer.session = "moved"; // while failed this only resets its clock
        rig.runFor(1000);
        EXPECT_EQ(rig.message(), "The computer slept or the network changed. Cancellation sent; check camera recording states.");
        EXPECT_EQ(rig.times(mark, "CANCEL_TAKE", "cam-a"), (std::vector<double>{t, t + 200, t + 500}));
        EXPECT_EQ(rig.times(mark, "CANCEL_TAKE", "cam-b"), (std::vector<double>{t}));
        EXPECT_TRUE(rig.times(mark, "CANCEL_TAKE", "cam-c").empty());
        EXPECT_TRUE(rig.coordinator.cancellations().empty());
    }
}

TEST(Suspend, InEveryPhase) {
    const std::string message = "The computer slept or the network changed. Cancellation sent; check camera recording states.";
    struct Case { Phase phase; std::function<void(RecordingRig&)> reach; };
    const auto warmBegin = [](RecordingRig& rig) { rig.runFor(2100); rig.begin({"cam-a"}); };
    const Case cases[] = {
        {Phase::idle, [](RecordingRig&) {}},
        {Phase::synchronizing, [](RecordingRig& rig) { rig.cameras.at("cam-a").answersPings = false; rig.begin({"cam-a"}); }},
        {Phase::preparing, [&](RecordingRig& rig) { rig.cameras.at("cam-a").answersPrepare = false; warmBegin(rig); }},
        {Phase::starting, [&](RecordingRig& rig) { warmBegin(rig); rig.step(); }},
        {Phase::recording, [](RecordingRig& rig) { rig.record({"cam-a"}); }},
        {Phase::stopping, [](RecordingRig& rig) { rig.cameras.at("cam-a").answersStop = false; rig.record({"cam-a"}); rig.stopAll(); }},
        {Phase::failed, [&](RecordingRig& rig) { rig.cameras.at("cam-a").answersPrepare = false; warmBegin(rig); rig.runFor(12100); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(rawValue(c.phase));
        RecordingRig rig;
        rig.add("cam-a");
        c.reach(rig);
        ASSERT_EQ(rig.phase(), c.phase);
        rig.coordinator.tick(rig.now += 1000); // leaves an outstanding ping
        rig.coordinator.drain();
        ASSERT_FALSE(rig.coordinator.pings().empty());
        const DirectorRecordingStatus before = rig.coordinator.status();
        const std::size_t mark = rig.sent.size();
        rig.coordinator.suspend(rig.now);
        if (c.phase == Phase::idle || c.phase == Phase::failed) {
            EXPECT_EQ(rig.coordinator.status(), before);
            EXPECT_EQ(rig.sent.size(), mark);
        } else {
            EXPECT_EQ(rig.phase(), Phase::failed);
            EXPECT_EQ(rig.message(), message);
            rig.pump();
            EXPECT_EQ(rig.route(mark), (std::vector<std::string>{"CANCEL_TAKE cam-a take-1", "STOP_TAKE cam-a take-1"}));
        }
        EXPECT_TRUE(rig.coordinator.clocks().empty());
        EXPECT_TRUE(rig.coordinator.pings().empty());
        EXPECT_EQ(rig.coordinator.nextClock(), rig.now);
        rig.cameras.at("cam-a").answersPings = true;
        rig.step(); // clock pings resume at the next tick
        EXPECT_EQ(rig.coordinator.clocks().at("cam-a").samples, 1);
    }
}

// A stop that no camera will ever answer must not block recording for the rest of the process.
// cam-a and cam-b record take-1 unless the case runs its own setup; each case makes cam-b unable to
// answer and returns when its stop went out. The stop is still open `lastOpenMs` later and lets a
// new take begin `settleMs` later, if ever.
TEST(UnansweredStop, SettlesOnlyWhenTheCameraCanNoLongerAnswer) {
    using Arrange = std::function<double(RecordingRig&, SimCamera&)>;
    using Edit = std::function<void(RecordingRig&, SimCamera&)>;
    const Edit none = [](RecordingRig&, SimCamera&) {};
    // Stop All after `before`, with the camera silent for `silentMs` first; then `after`.
    const auto stopAll = [](Edit before, double silentMs = 0, Edit after = nullptr) -> Arrange {
        return [=](RecordingRig& rig, SimCamera& b) {
            before(rig, b);
            rig.runFor(silentMs);
            const double at = rig.now;
            rig.stopAll();
            if (after) after(rig, b);
            return at;
        };
    };
    const Edit dies = [](RecordingRig&, SimCamera& b) { b.reportsStatus = b.answersStop = false; };
    const Edit deaf = [](RecordingRig&, SimCamera& b) { b.answersStop = false; };
    const Edit recordsOn = [](RecordingRig&, SimCamera& b) { b.peer.recording = b.peer.busy = true; };
    struct Case { const char* what; std::int64_t safeStopVersion; bool take; Arrange arrange; double lastOpenMs;
                  std::optional<double> settleMs; std::string result; };
    const Case cases[] = {
        {"dies while recording", 1, true, stopAll(dies), 6400, 6500, unconfirmed},
        {"already offline", 1, true, stopAll(dies, 7000), 3400, 3500, unconfirmed},
        {"still recording at its address", 1, true, stopAll(deaf), 20000, std::nullopt, unconfirmed},
        {"refuses, then is stopped by hand", 1, true,
         stopAll([](RecordingRig&, SimCamera& b) { b.acceptsStop = false; }, 0, [](RecordingRig& rig, SimCamera& b) {
             EXPECT_EQ(rig.result("cam-b"), "Stop rejected · check active take on camera");
             b.peer.recording = b.peer.busy = false; }), 3400, 3500, unconfirmed},
        {"restarts with a new session", 1, true, stopAll(deaf, 0, [](RecordingRig& rig, SimCamera& b) {
             rig.step();
             b.peer.session = "after-restart";
             b.peer.recording = b.peer.busy = false;
             b.peer.seenAt = rig.now;
             rig.coordinator.update(b.peer, rig.now);
             EXPECT_EQ(rig.message(), "Camera cam-b reconnected. Stop/check cameras before preparing another take.");
             rig.pump(); }), 3400, 3500, unconfirmed},
        {"stays busy after a failed take", 1, false, [](RecordingRig& rig, SimCamera& b) {
             b.answersPrepare = b.answersStop = false;
             rig.begin({"cam-a", "cam-b"});
             rig.runFor(12000);
             EXPECT_EQ(rig.phase(), Phase::failed);
             const double at = rig.now;
             rig.runFor(600); // past the cancellation repeats
             b.peer.busy = true;
             return at; }, 20000, std::nullopt, unconfirmed},
        {"legacy, dies while recording", 0, true, stopAll(dies), 6400, 6500, legacyBroadcast},
        {"legacy, already offline", 0, true, stopAll(dies, 7000), 3400, 3500, legacyBroadcast},
        {"legacy, ignores the stop at its address", 0, true, stopAll(none, 0, recordsOn), 20000, std::nullopt, legacyBroadcast},
        {"legacy outside a take, moved to another host", 0, false, [&](RecordingRig& rig, SimCamera& b) {
             recordsOn(rig, b);
             rig.report("cam-b");
             b.peer.host = "10.0.0.99"; // the stop goes to the old address
             const double at = rig.now;
             rig.stop({"cam-b"});
             rig.report("cam-b");
             return at; }, 3400, 3500, "Legacy Stop sent · no acknowledgement support"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingRig rig;
        rig.add("cam-a");
        SimCamera& b = rig.add("cam-b", 0, c.safeStopVersion);
        if (c.take) {
            ASSERT_TRUE(rig.record({"cam-a", "cam-b"}));
        } else {
            rig.runFor(2100);
        }
        const double stopAt = c.arrange(rig, b);
        rig.runFor(stopAt + c.lastOpenMs - rig.now);
        EXPECT_NE(rig.phase(), Phase::idle);
        EXPECT_FALSE(rig.begin({"cam-a"}, assignment("take-2")));
        const std::string refused = "Choose a valid project/take, or resolve the previous stop first.";
        EXPECT_EQ(rig.message() == refused, rig.phase() == Phase::failed); // failed: refused for the open stop
        if (c.settleMs) rig.runFor(stopAt + *c.settleMs - rig.now);
        EXPECT_EQ(rig.result("cam-b"), c.result);
        if (!c.settleMs) continue;
        if (rig.phase() != Phase::failed) {
            EXPECT_EQ(rig.phase(), Phase::idle);
            EXPECT_EQ(rig.message(), "Cameras report idle. Verify saved clips in Collect.");
        }
        EXPECT_TRUE(rig.begin({"cam-a"}, assignment("take-2")));
    }
}

TEST(FailWhileStopping, ReplacesTheEarlierStopOfEachCamera) {
    RecordingRig rig;
    rig.addCameras(2);
    for (auto& [id, camera] : rig.cameras) camera.answersStop = false;
    ASSERT_TRUE(rig.record({"cam-a", "cam-b"}));
    ASSERT_EQ(rig.stopAll(), 2);
    std::set<std::string> before;
    for (const auto& [request, stop] : rig.coordinator.stops()) before.insert(request);

    rig.suspend();
    EXPECT_EQ(rig.phase(), Phase::failed);
    std::set<std::string> cameras;
    for (const auto& [request, stop] : rig.coordinator.stops()) {
        EXPECT_FALSE(before.contains(request));
        cameras.insert(stop.peer.id);
    }
    EXPECT_EQ(cameras, (std::set<std::string>{"cam-a", "cam-b"}));
    const std::size_t mark = rig.sent.size();
    rig.runFor(300); // only the replacing requests are retried
    const auto repeated = rig.sentSince(mark, "STOP_TAKE");
    ASSERT_EQ(repeated.size(), 2u);
    for (const auto& command : repeated) EXPECT_TRUE(rig.coordinator.stops().contains(command.payload.at("requestId")));
}

} // namespace
} // namespace velk

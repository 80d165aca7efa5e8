#include <gtest/gtest.h>

#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::assignment;
using testing::RecordingRig;

std::vector<double> sendTimes(const RecordingRig& rig, const std::vector<std::pair<double, DirectorRecordingCommand>>& log,
                              const std::string& action, const std::string& target) {
    (void)rig;
    std::vector<double> times;
    for (const auto& [time, command] : log) {
        if (command.payload.value("action", "") == action && command.payload.value("target", "") == target) times.push_back(time);
    }
    return times;
}

// Drives the coordinator tick by tick, logging each command with the time it left.
std::vector<std::pair<double, DirectorRecordingCommand>> tickLog(RecordingRig& rig, double untilMs, double stepMs = 100) {
    std::vector<std::pair<double, DirectorRecordingCommand>> log;
    while (rig.now < untilMs) {
        rig.now += stepMs;
        rig.reportAll();
        rig.coordinator.tick(rig.now);
        for (auto& command : rig.coordinator.drain()) log.emplace_back(rig.now, command);
    }
    return log;
}

TEST(StopAll, WithNothingKnownStillBroadcasts) {
    RecordingRig rig;
    EXPECT_EQ(rig.stopAll(), 0);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].host, std::nullopt);
    EXPECT_EQ(rig.sent[0].payload, (Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", ""},
                                         {"name", ""}, {"safeStopTargets", Json::array()}}));
}

TEST(StopAll, DuringPreparationCancelsAndStops) {
    RecordingRig rig;
    rig.add("cam-a").answersPrepare = false;
    rig.add("cam-b").answersPrepare = false;
    rig.cameras.at("cam-b").peer.safeStopVersion = 0;
    rig.report("cam-b");
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    rig.cameras.at("cam-a").answersStop = false;

    const std::size_t mark = rig.sent.size();
    EXPECT_EQ(rig.stopAll(), 2);
    std::vector<std::string> order;
    for (std::size_t i = mark; i < rig.sent.size(); ++i) {
        order.push_back(rig.sent[i].payload.at("action").get<std::string>() + " " + rig.sent[i].payload.at("target").get<std::string>());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"CANCEL_TAKE cam-a", "CANCEL_TAKE cam-b", "STOP_TAKE cam-a", "STOP_TAKE "}));
    EXPECT_EQ(rig.sent[mark + 2].payload.at("takeId"), "take-1");
    EXPECT_EQ(rig.sent.back().payload.at("safeStopTargets"), Json({"cam-a"}));
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    EXPECT_EQ(rig.message(), "Stop requested. Waiting for acceptance and camera finalization.");
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop requested · awaiting acceptance");
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-b"), "Legacy Stop broadcast · no acknowledgement support");
    EXPECT_TRUE(rig.coordinator.session());
    EXPECT_EQ(rig.coordinator.cancellations().size(), 1u);
}

TEST(StopAll, DuringRecordingStopsWithoutCancelling) {
    RecordingRig rig;
    rig.add("cam-a").answersStop = false;
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
    ASSERT_TRUE(rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::recording; }));
    const std::size_t mark = rig.sent.size();
    EXPECT_EQ(rig.stopAll(), 1);
    EXPECT_TRUE(rig.sentSince(mark, "CANCEL_TAKE").empty());
    const auto stops = rig.sentSince(mark, "STOP_TAKE");
    ASSERT_EQ(stops.size(), 2u);
    EXPECT_EQ(stops[0].payload.at("takeId"), "take-1");
    EXPECT_EQ(stops[0].payload.at("requestId"), rig.coordinator.stops().begin()->first);
    EXPECT_EQ(stops[0].host, std::optional<std::string>(rig.cameras.at("cam-a").peer.host));

    // Pressing again while the stop is pending sends nothing new to the camera but still counts.
    rig.runFor(300);
    rig.reply("cam-a", Json{{"action", "STOP_ACK"}, {"requestId", stops[0].payload.at("requestId")}, {"takeId", "take-1"},
                            {"accepted", true}, {"finalizing", true}});
    const std::size_t again = rig.sent.size();
    EXPECT_EQ(rig.stopAll(), 1);
    const auto repeated = rig.sentSince(again, "STOP_TAKE");
    ASSERT_EQ(repeated.size(), 1u);
    EXPECT_EQ(repeated[0].host, std::nullopt);
    EXPECT_EQ(repeated[0].payload.at("safeStopTargets"), Json({"cam-a"}));
    EXPECT_EQ(rig.message(), "Stop requested. Waiting for acceptance and camera finalization.");
    EXPECT_EQ(rig.coordinator.stops().size(), 1u);
}

TEST(StopCameras, CameraOutsideTheSessionUsesItsOwnTake) {
    RecordingRig rig;
    testing::SimCamera& a = rig.add("cam-a");
    a.peer.recording = a.peer.busy = true;
    a.peer.takeID = "their-take";
    a.answersStop = false;
    rig.report("cam-a");
    testing::SimCamera& b = rig.add("cam-b");
    b.peer.recording = true;
    rig.report("cam-b");

    EXPECT_EQ(rig.coordinator.stop({"cam-b", "cam-a", "cam-z"}, false, rig.now), 2);
    const auto commands = rig.coordinator.drain();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].payload.at("takeId"), "their-take");
    EXPECT_EQ(commands[0].payload.at("target"), "cam-a");
    EXPECT_EQ(commands[1].payload, (Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", "cam-b"},
                                         {"name", ""}}));
    EXPECT_EQ(commands[1].host, std::optional<std::string>(rig.cameras.at("cam-b").peer.host));
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-b"), "Legacy Stop sent · no acknowledgement support");
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);

    // With no session the cameras that have a stop result are the ones that must settle.
    rig.cameras.at("cam-b").peer.recording = false;
    rig.report("cam-b");
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    rig.reply("cam-a", Json{{"action", "STOP_ACK"}, {"requestId", commands[0].payload.at("requestId")}, {"takeId", "their-take"},
                            {"accepted", true}, {"finalizing", false}});
    a.peer.recording = a.peer.busy = false;
    rig.step();
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
}

TEST(StopCameras, LegacyCameraGetsOneStop) {
    RecordingRig rig;
    rig.add("cam-a").peer.safeStopVersion = 0;
    rig.report("cam-a");
    EXPECT_EQ(rig.coordinator.stop({"cam-a"}, false, rig.now), 1);
    const auto commands = rig.coordinator.drain();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].payload.at("takeId"), "");
    EXPECT_TRUE(rig.coordinator.stops().empty());
    const auto log = tickLog(rig, rig.now + 4000);
    EXPECT_TRUE(sendTimes(rig, log, "STOP_TAKE", "cam-a").empty());
}

TEST(StopRetries, RepeatedAt250_600_1200_2200AndUnconfirmedAt3500) {
    RecordingRig rig;
    rig.add("cam-a").answersStop = false;
    rig.cameras.at("cam-a").peer.recording = true;
    rig.cameras.at("cam-a").peer.takeID = "take-9";
    rig.report("cam-a");
    const double t = rig.now;
    ASSERT_EQ(rig.coordinator.stop({"cam-a"}, false, t), 1);
    rig.coordinator.drain();
    auto log = tickLog(rig, t + 3400);
    EXPECT_EQ(sendTimes(rig, log, "STOP_TAKE", "cam-a"), (std::vector<double>{t + 300, t + 600, t + 1200, t + 2200}));
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop requested · awaiting acceptance");
    EXPECT_EQ(rig.message(), "Stop requested. Waiting for acceptance and camera finalization.");
    log = tickLog(rig, t + 3500);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop unconfirmed · check camera / retry Stop");
    EXPECT_EQ(rig.message(), "Some cameras have not accepted Stop. Check them; no saved-file confirmation is implied.");
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    log = tickLog(rig, t + 10000);
    EXPECT_TRUE(sendTimes(rig, log, "STOP_TAKE", "cam-a").empty());

    // A timed-out stop is replaced by a new one when Stop is pressed again.
    const std::string old = rig.coordinator.stops().begin()->first;
    ASSERT_EQ(rig.coordinator.stop({"cam-a"}, false, rig.now), 1);
    ASSERT_EQ(rig.coordinator.stops().size(), 1u);
    EXPECT_NE(rig.coordinator.stops().begin()->first, old);
}

TEST(StopRetries, LateTickSendsTheMissedRepeatsAtOnce) {
    RecordingRig rig;
    rig.add("cam-a").answersStop = false;
    rig.cameras.at("cam-a").peer.takeID = "take-9";
    rig.report("cam-a");
    const double t = rig.now;
    rig.coordinator.stop({"cam-a"}, false, t);
    rig.coordinator.drain();
    rig.coordinator.tick(t + 1300);
    const auto commands = rig.coordinator.drain();
    const auto stops = std::count_if(commands.begin(), commands.end(),
                                     [](const auto& c) { return c.payload.at("action") == "STOP_TAKE"; });
    EXPECT_EQ(stops, 3);
    EXPECT_EQ(rig.coordinator.stops().begin()->second.retryIndex, 3u);
}

TEST(StopRetries, NoRetriesToAnOldEndpoint) {
    RecordingRig rig;
    rig.add("cam-a").answersStop = false;
    rig.cameras.at("cam-a").peer.takeID = "take-9";
    rig.report("cam-a");
    const double t = rig.now;
    rig.coordinator.stop({"cam-a"}, false, t);
    rig.coordinator.drain();
    rig.cameras.at("cam-a").peer.host = "10.0.0.99";
    auto log = tickLog(rig, t + 3500);
    EXPECT_TRUE(sendTimes(rig, log, "STOP_TAKE", "cam-a").empty());
    EXPECT_EQ(rig.coordinator.stops().begin()->second.retryIndex, 4u);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop unconfirmed · check camera / retry Stop");
}

TEST(Cancellation, RepeatedAt0_200_500ToCamerasStillThere) {
    RecordingRig rig;
    rig.add("cam-a").answersPrepare = false;
    rig.add("cam-b").answersPrepare = false;
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    const double t = rig.now;
    rig.coordinator.suspend(t);
    std::vector<std::pair<double, DirectorRecordingCommand>> log;
    for (auto& command : rig.coordinator.drain()) log.emplace_back(t, command);
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    rig.cameras.at("cam-b").peer.session = "moved"; // while failed this only resets its clock
    const auto later = tickLog(rig, t + 1000);
    log.insert(log.end(), later.begin(), later.end());
    EXPECT_EQ(sendTimes(rig, log, "CANCEL_TAKE", "cam-a"), (std::vector<double>{t, t + 200, t + 500}));
    EXPECT_EQ(sendTimes(rig, log, "CANCEL_TAKE", "cam-b"), (std::vector<double>{t}));
    EXPECT_TRUE(rig.coordinator.cancellations().empty());
}

TEST(Cancellation, AfterTheStartWasScheduledLegacyCamerasAlsoGetAStop) {
    RecordingRig rig;
    rig.add("cam-a").answersStart = false;
    rig.add("cam-b").peer.safeStopVersion = 0;
    rig.report("cam-b");
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    rig.step();
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    rig.cameras.at("cam-a").answersStop = false;
    const std::size_t mark = rig.sent.size();
    rig.runFor(1200);
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    std::vector<std::string> order;
    for (std::size_t i = mark; i < rig.sent.size(); ++i) {
        const Json& p = rig.sent[i].payload;
        if (p.at("action") == "CLOCK_PING" || p.at("action") == "START_AT") continue;
        order.push_back(p.at("action").get<std::string>() + " " + p.at("target").get<std::string>() + " " +
                        p.at("takeId").get<std::string>());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"CANCEL_TAKE cam-a take-1", "CANCEL_TAKE cam-b take-1", "STOP_TAKE cam-b ",
                                               "STOP_TAKE cam-a take-1"}));
}

TEST(Suspend, InEveryPhase) {
    const std::string message = "Mac slept or the network changed. Cancellation sent; check camera recording states.";
    struct Case { const char* what; std::function<void(RecordingRig&)> reach; DirectorRecordingPhase after; };
    const Case cases[] = {
        {"idle", [](RecordingRig&) {}, DirectorRecordingPhase::idle},
        {"synchronizing", [](RecordingRig& rig) { rig.cameras.at("cam-a").answersPings = false; rig.begin({"cam-a"}, assignment()); }, DirectorRecordingPhase::failed},
        {"preparing", [](RecordingRig& rig) { rig.cameras.at("cam-a").answersPrepare = false; rig.runFor(2100); rig.begin({"cam-a"}, assignment()); }, DirectorRecordingPhase::failed},
        {"starting", [](RecordingRig& rig) { rig.runFor(2100); rig.begin({"cam-a"}, assignment()); rig.step(); }, DirectorRecordingPhase::failed},
        {"recording", [](RecordingRig& rig) { rig.runFor(2100); rig.begin({"cam-a"}, assignment()); rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::recording; }); }, DirectorRecordingPhase::failed},
        {"stopping", [](RecordingRig& rig) { rig.cameras.at("cam-a").answersStop = false; rig.runFor(2100); rig.begin({"cam-a"}, assignment()); rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::recording; }); rig.stopAll(); }, DirectorRecordingPhase::failed},
    };
    for (const Case& c : cases) {
        RecordingRig rig;
        rig.add("cam-a");
        c.reach(rig);
        rig.coordinator.tick(rig.now + 1000); // leaves an outstanding ping
        ASSERT_FALSE(rig.coordinator.pings().empty()) << c.what;
        const std::size_t mark = rig.sent.size();
        rig.coordinator.drain();
        rig.coordinator.suspend(rig.now + 1000);
        EXPECT_EQ(rig.phase(), c.after) << c.what;
        if (c.after == DirectorRecordingPhase::failed) {
            EXPECT_EQ(rig.message(), message) << c.what;
            const auto commands = rig.coordinator.drain();
            ASSERT_EQ(commands.size(), 2u) << c.what;
            EXPECT_EQ(commands[0].payload.at("action"), "CANCEL_TAKE") << c.what;
            EXPECT_EQ(commands[1].payload.at("action"), "STOP_TAKE") << c.what;
        } else {
            EXPECT_TRUE(rig.coordinator.drain().empty()) << c.what;
        }
        EXPECT_EQ(rig.sent.size(), mark);
        EXPECT_TRUE(rig.coordinator.clocks().empty()) << c.what;
        EXPECT_TRUE(rig.coordinator.pings().empty()) << c.what;
        EXPECT_EQ(rig.coordinator.nextClock(), rig.now + 1000) << c.what;
    }
}

TEST(Suspend, WhileFailedKeepsTheFailure) {
    RecordingRig rig;
    rig.add("cam-a").answersPrepare = false;
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
    rig.runFor(12100);
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    const DirectorRecordingStatus before = rig.coordinator.status();
    rig.coordinator.suspend(rig.now);
    EXPECT_EQ(rig.coordinator.status(), before);
    EXPECT_TRUE(rig.coordinator.drain().empty());
    EXPECT_TRUE(rig.coordinator.clocks().empty());
    // Clock pings resume at the next tick.
    rig.step();
    EXPECT_EQ(rig.coordinator.clocks().at("cam-a").samples, 1);
}

} // namespace
} // namespace velk

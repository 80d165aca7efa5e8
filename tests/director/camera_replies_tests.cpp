#include <gtest/gtest.h>

#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::assignment;
using testing::RecordingRig;

// A rig with one silent camera and one outstanding clock ping to it.
struct PingFixture : ::testing::Test {
    RecordingRig rig;
    std::string request;
    double t1 = 0;

    void SetUp() override {
        rig.add("cam-a").answersPings = false;
        rig.step();
        ASSERT_EQ(rig.coordinator.pings().size(), 1u);
        request = rig.coordinator.pings().begin()->first;
        t1 = rig.coordinator.pings().begin()->second.t1;
    }

    Json pong(double echoed) const {
        return Json{{"action", "CLOCK_PONG"}, {"requestId", request}, {"t1", echoed}, {"t2", echoed + 5000}, {"t3", echoed + 5001}};
    }
};

TEST_F(PingFixture, MatchingPongFeedsTheEstimate) {
    rig.now += 40;
    rig.reply("cam-a", pong(t1));
    EXPECT_TRUE(rig.coordinator.pings().empty());
    const DirectorClockEstimate& clock = rig.coordinator.clocks().at("cam-a");
    EXPECT_EQ(clock.samples, 1);
    EXPECT_EQ(clock.rtt, 39);
    EXPECT_EQ(clock.offset, 4980.5);
}

TEST_F(PingFixture, PongWithAnotherT1IsIgnoredUntilThePingExpires) {
    rig.reply("cam-a", pong(t1 + 0.001));
    EXPECT_EQ(rig.coordinator.pings().size(), 1u);
    EXPECT_FALSE(rig.coordinator.clocks().contains("cam-a"));
    rig.coordinator.tick(t1 + 3000);
    EXPECT_TRUE(rig.coordinator.pings().contains(request));
    rig.coordinator.tick(t1 + 3000.5);
    EXPECT_FALSE(rig.coordinator.pings().contains(request));
    rig.now = t1 + 3000.5;
    rig.reply("cam-a", pong(t1));
    EXPECT_FALSE(rig.coordinator.clocks().contains("cam-a"));
}

TEST_F(PingFixture, PongMissingATimeIsIgnored) {
    Json reply = pong(t1);
    reply.erase("t3");
    rig.reply("cam-a", reply);
    reply["t3"] = "5001";
    rig.reply("cam-a", reply);
    EXPECT_EQ(rig.coordinator.pings().size(), 1u);
}

TEST_F(PingFixture, RefusedSampleStillLeavesAFreshEstimate) {
    Json reply = pong(t1);
    reply["t3"] = t1 + 4000; // before t2
    rig.reply("cam-a", reply);
    EXPECT_TRUE(rig.coordinator.pings().empty());
    EXPECT_EQ(rig.coordinator.clocks().at("cam-a"), DirectorClockEstimate());
}

TEST_F(PingFixture, AdmissionChecksEndpointAndDirector) {
    const testing::SimCamera& camera = rig.cameras.at("cam-a");
    Json reply = pong(t1);
    reply["target"] = testing::directorID;
    rig.coordinator.receive("cam-a", "10.0.0.200", camera.peer.session, reply, rig.now);
    rig.coordinator.receive("cam-a", camera.peer.host, std::string("other-session"), reply, rig.now);
    rig.coordinator.receive("cam-b", camera.peer.host, camera.peer.session, reply, rig.now);
    Json otherDirector = reply;
    otherDirector["target"] = "7f1c2b9e-8a4d-4c1e-9f2a-3b5d7e9a1c20";
    rig.coordinator.receive("cam-a", camera.peer.host, camera.peer.session, otherDirector, rig.now);
    Json noTarget = reply;
    noTarget.erase("target");
    rig.coordinator.receive("cam-a", camera.peer.host, camera.peer.session, noTarget, rig.now);
    Json noRequest = reply;
    noRequest.erase("requestId");
    rig.coordinator.receive("cam-a", camera.peer.host, camera.peer.session, noRequest, rig.now);
    EXPECT_EQ(rig.coordinator.pings().size(), 1u);

    // The session is compared without letter case; an absent one passes.
    rig.coordinator.receive("cam-a", camera.peer.host, std::string("5E55I0N-CAM-A"), reply, rig.now);
    EXPECT_TRUE(rig.coordinator.pings().empty());
    EXPECT_TRUE(rig.coordinator.clocks().contains("cam-a"));
}

TEST_F(PingFixture, PongFromACameraThatMovedIsIgnored) {
    rig.cameras.at("cam-a").peer.host = "10.0.0.77";
    rig.report("cam-a"); // drops the ping with the endpoint
    rig.reply("cam-a", pong(t1));
    EXPECT_FALSE(rig.coordinator.clocks().contains("cam-a"));
}

// A rig in preparing with silent cameras, for hand-made proofs.
struct ProofFixture : ::testing::Test {
    RecordingRig rig;

    void SetUp() override {
        rig.add("cam-a").answersPrepare = false;
        rig.add("cam-b").answersPrepare = false;
        rig.runFor(2100);
        ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
        ASSERT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    }

    Json proof(const std::string& id, int clip) const {
        Json payload = rig.sentSince(0, "PREPARE_TAKE").back().payload;
        payload.erase("target");
        payload["action"] = "PREPARE_ACK";
        payload["ready"] = true;
        payload["projectAssignmentStored"] = true;
        payload["assignmentStoredMonoMs"] = 0;
        payload["clipId"] = testing::fakeID("c3000000", clip);
        (void)id;
        return payload;
    }
};

TEST_F(ProofFixture, AcceptedProofIsRecordedOnce) {
    rig.reply("cam-a", proof("cam-a", 1));
    const auto& session = *rig.coordinator.session();
    EXPECT_EQ(session.prepareACKs.at("cam-a"), rig.now);
    EXPECT_EQ(session.clipIDs.at("cam-a"), testing::fakeID("c3000000", 1));
    const double first = rig.now;
    rig.now += 50;
    rig.reply("cam-a", proof("cam-a", 2));
    EXPECT_EQ(rig.coordinator.session()->prepareACKs.at("cam-a"), first);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
}

TEST_F(ProofFixture, EveryMismatchFailsTheTakeNamingTheCamera) {
    struct Case { const char* what; std::function<void(Json&)> change; };
    const Case cases[] = {
        {"ready false", [](Json& p) { p["ready"] = false; }},
        {"not stored", [](Json& p) { p["projectAssignmentStored"] = false; }},
        {"ready as 1", [](Json& p) { p["ready"] = 1; }},
        {"other command", [](Json& p) { p["prepareCommandId"] = "00000000-0000-4000-8000-999999999999"; }},
        {"other director", [](Json& p) { p["directorId"] = "7f1c2b9e-8a4d-4c1e-9f2a-3b5d7e9a1c20"; }},
        {"other project", [](Json& p) { p["projectId"] = "1d6a1f3e-2b4c-4d5e-8f60-718293a4b5c6"; }},
        {"renamed project", [](Json& p) { p["projectNameAtCapture"] = "Harbour shoot"; }},
        {"other creation", [](Json& p) { p["createdAt"] = "2026-05-01T12:30:01Z"; }},
        {"other reference", [](Json& p) { p["referenceCameraId"] = "cam-b"; }},
        {"other rate", [](Json& p) { p["timelineFPS"] = "25/1"; }},
        {"rate missing", [](Json& p) { p.erase("timelineFPS"); }},
        {"revision as text", [](Json& p) { p["projectRevisionAtCapture"] = "7"; }},
        {"other revision", [](Json& p) { p["projectRevisionAtCapture"] = 8; }},
        {"revision as 7.0", [](Json& p) { p["projectRevisionAtCapture"] = 7.0; p["ready"] = false; }},
        {"negative store time", [](Json& p) { p["assignmentStoredMonoMs"] = -1; }},
        {"store time missing", [](Json& p) { p.erase("assignmentStoredMonoMs"); }},
        {"clip not a UUID", [](Json& p) { p["clipId"] = "clip-1"; }},
        {"clip missing", [](Json& p) { p.erase("clipId"); }},
    };
    for (const Case& c : cases) {
        RecordingRig fresh;
        fresh.add("cam-a").answersPrepare = false;
        fresh.add("cam-b").answersPrepare = false;
        fresh.runFor(2100);
        ASSERT_TRUE(fresh.begin({"cam-a", "cam-b"}, assignment()));
        Json payload = fresh.sentSince(0, "PREPARE_TAKE").back().payload;
        payload.erase("target");
        payload["action"] = "PREPARE_ACK";
        payload["ready"] = true;
        payload["projectAssignmentStored"] = true;
        payload["assignmentStoredMonoMs"] = 12.5;
        payload["clipId"] = testing::fakeID("c3000000", 1);
        c.change(payload);
        fresh.coordinator.receive("cam-b", fresh.cameras.at("cam-b").peer.host, std::nullopt,
                                  [&] { Json p = payload; p["target"] = testing::directorID; return p; }(), fresh.now);
        EXPECT_EQ(fresh.phase(), DirectorRecordingPhase::failed) << c.what;
        EXPECT_EQ(fresh.message(),
                  "Camera cam-b rejected preparation or returned mismatched durable metadata. Cancellation sent.")
            << c.what;
    }
}

TEST_F(ProofFixture, ProjectRevisionWrittenAsFloatMatches) {
    Json payload = proof("cam-a", 1);
    payload["projectRevisionAtCapture"] = 7.0;
    rig.reply("cam-a", payload);
    EXPECT_TRUE(rig.coordinator.session()->prepareACKs.contains("cam-a"));
}

TEST_F(ProofFixture, TwoCamerasReportingOneClipFailTheSecond) {
    rig.reply("cam-a", proof("cam-a", 1));
    rig.reply("cam-b", proof("cam-b", 1));
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "Camera cam-b rejected preparation or returned mismatched durable metadata. Cancellation sent.");
}

TEST_F(ProofFixture, SessionRepliesForAnotherTakeOrRequestAreIgnored) {
    Json otherTake = proof("cam-a", 1);
    otherTake["takeId"] = "take-2";
    rig.reply("cam-a", otherTake);
    Json otherRequest = proof("cam-a", 1);
    otherRequest["requestId"] = "take-2";
    rig.reply("cam-a", otherRequest);
    Json noRequest = proof("cam-a", 1);
    noRequest.erase("requestId");
    rig.reply("cam-a", noRequest);
    Json unknownAction = proof("cam-a", 1);
    unknownAction["action"] = "PREPARE_NACK";
    rig.reply("cam-a", unknownAction);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::preparing);
    EXPECT_TRUE(rig.coordinator.session()->prepareACKs.empty());
}

TEST(CameraReplies, ProofOutsidePreparingIsIgnored) {
    RecordingRig rig;
    rig.add("cam-a").answersPings = false;
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::synchronizing);
    Json payload{{"action", "PREPARE_ACK"}, {"requestId", "take-1"}, {"takeId", "take-1"}, {"ready", false}};
    rig.reply("cam-a", payload);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::synchronizing);

    RecordingRig starting;
    starting.add("cam-a").answersStart = false;
    starting.runFor(2100);
    ASSERT_TRUE(starting.begin({"cam-a"}, assignment()));
    starting.step();
    ASSERT_EQ(starting.phase(), DirectorRecordingPhase::starting);
    starting.reply("cam-a", payload);
    EXPECT_EQ(starting.phase(), DirectorRecordingPhase::starting);
}

TEST(CameraReplies, StartAckCountsOnlyWhenAcceptedWhileStarting) {
    RecordingRig rig;
    rig.add("cam-a").answersStart = false;
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
    const Json refused{{"action", "START_ACK"}, {"requestId", "take-1"}, {"takeId", "take-1"}, {"accepted", false}};
    Json accepted = refused;
    accepted["accepted"] = true;
    rig.reply("cam-a", accepted); // still preparing
    EXPECT_TRUE(rig.coordinator.session()->startACKs.empty());
    rig.step();
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    rig.reply("cam-a", refused);
    Json asNumber = refused;
    asNumber["accepted"] = 1;
    rig.reply("cam-a", asNumber);
    EXPECT_TRUE(rig.coordinator.session()->startACKs.empty());
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::starting);
    rig.reply("cam-a", accepted);
    EXPECT_EQ(rig.coordinator.session()->startACKs, (std::set<std::string>{"cam-a"}));
}

// One recording camera whose stop is left to hand-made acknowledgements.
struct StopAckFixture : ::testing::Test {
    RecordingRig rig;
    std::string request;

    void SetUp() override {
        rig.add("cam-a").answersStop = false;
        rig.runFor(2100);
        ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
        ASSERT_TRUE(rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::recording; }));
        ASSERT_EQ(rig.stopAll(), 1);
        request = rig.coordinator.stops().begin()->first;
    }

    Json ack(bool accepted, std::optional<bool> finalizing = false) const {
        Json payload{{"action", "STOP_ACK"}, {"requestId", request}, {"takeId", "take-1"}, {"accepted", accepted}};
        if (finalizing) payload["finalizing"] = *finalizing;
        return payload;
    }
    const DirectorRecordingCoordinator::Stop& stop() const { return rig.coordinator.stops().at(request); }
};

TEST_F(StopAckFixture, FirstAcceptanceCounts) {
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop requested · awaiting acceptance");
    rig.reply("cam-a", ack(true, true));
    EXPECT_EQ(stop().acknowledgedAt, rig.now);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop accepted · Saving on camera…");
    EXPECT_EQ(rig.message(), "Stop accepted. Cameras may still be saving; Collect confirms the files.");
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    const double first = rig.now;
    rig.now += 30;
    rig.reply("cam-a", ack(true, false));
    EXPECT_EQ(stop().acknowledgedAt, first);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop accepted · Saving on camera…");
}

TEST_F(StopAckFixture, RefusalThenAcceptance) {
    rig.reply("cam-a", ack(false));
    EXPECT_FALSE(stop().acknowledgedAt);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop rejected · check active take on camera");
    rig.reply("cam-a", ack(true));
    EXPECT_TRUE(stop().acknowledgedAt);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop accepted · awaiting idle status");
}

TEST_F(StopAckFixture, IncompleteOrForeignAcknowledgementsAreIgnored) {
    rig.reply("cam-a", ack(true, std::nullopt));
    Json numeric = ack(true);
    numeric["accepted"] = 1;
    rig.reply("cam-a", numeric);
    Json otherTake = ack(true);
    otherTake["takeId"] = "take-2";
    rig.reply("cam-a", otherTake);
    Json otherRequest = ack(true);
    otherRequest["requestId"] = "00000000-0000-4000-8000-999999999999";
    rig.reply("cam-a", otherRequest);
    EXPECT_FALSE(stop().acknowledgedAt);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop requested · awaiting acceptance");
}

TEST_F(StopAckFixture, AcceptanceAfterTheTimeOutIsStillRecorded) {
    rig.runFor(3500);
    ASSERT_TRUE(stop().timedOut);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop unconfirmed · check camera / retry Stop");
    rig.reply("cam-a", ack(true));
    EXPECT_TRUE(stop().acknowledgedAt);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop accepted · awaiting idle status");
}

TEST_F(StopAckFixture, CompletionNeedsAStatusStrictlyAfterTheAcknowledgement) {
    rig.reply("cam-a", ack(true));
    testing::SimCamera& camera = rig.cameras.at("cam-a");
    camera.peer.recording = camera.peer.busy = false;
    rig.report("cam-a"); // same instant
    EXPECT_FALSE(stop().completed);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::stopping);
    camera.peer.busy = true;
    rig.now += 1;
    rig.report("cam-a");
    EXPECT_FALSE(stop().completed);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Stop accepted · awaiting idle status");
    camera.peer.busy = false;
    camera.peer.finalizing = true;
    rig.report("cam-a");
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Saving on camera…");
    EXPECT_FALSE(stop().completed);
    camera.peer.finalizing = false;
    rig.now += 1;
    rig.report("cam-a");
    EXPECT_TRUE(stop().completed);
    EXPECT_EQ(rig.coordinator.status().stopResults.at("cam-a"), "Camera idle · verify saved clip in Collect");
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle);
    EXPECT_EQ(rig.message(), "Cameras report idle. Verify saved clips in Collect.");
}

} // namespace
} // namespace velk

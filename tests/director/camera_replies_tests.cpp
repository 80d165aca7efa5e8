#include <gtest/gtest.h>

#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::RecordingRig;
using Phase = DirectorRecordingPhase;

TEST(CameraReplies, ClockPongsAreAdmittedOnlyFromTheRightCameraAndPing) {
    struct Reply { std::string sender, host; std::optional<std::string> session; Json payload; };
    const auto t1Plus = [](Reply& r, const char* key, double ms) { r.payload[key] = r.payload["t1"].get<double>() + ms; };
    // samples: -1 ignored (the ping stays), 0 consumed but refused, 1 one sample
    struct Case { const char* what; std::function<void(Reply&)> change; int samples; };
    const Case cases[] = {
        {"matching", [](Reply&) {}, 1},
        {"session in other letter case", [](Reply& r) { r.session = "5E55I0N-CAM-A"; }, 1},
        {"no packet session", [](Reply& r) { r.session.reset(); }, 1},
        {"camera time runs backwards", [&](Reply& r) { t1Plus(r, "t3", 4000); }, 0},
        {"other host", [](Reply& r) { r.host = "10.0.0.200"; }, -1},
        {"other session", [](Reply& r) { r.session = "other-session"; }, -1},
        {"other sender", [](Reply& r) { r.sender = "cam-b"; }, -1},
        {"other Director", [](Reply& r) { r.payload["target"] = testing::otherDirectorID; }, -1},
        {"no target", [](Reply& r) { r.payload.erase("target"); }, -1},
        {"no request", [](Reply& r) { r.payload.erase("requestId"); }, -1},
        {"other t1", [&](Reply& r) { t1Plus(r, "t1", 0.001); }, -1},
        {"t3 missing", [](Reply& r) { r.payload.erase("t3"); }, -1},
        {"t3 as text", [](Reply& r) { r.payload["t3"] = "5001"; }, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingRig rig;
        rig.add("cam-a").answersPings = false;
        rig.add("cam-b");
        rig.step();
        ASSERT_EQ(rig.coordinator.pings().size(), 1u);
        const auto [request, ping] = *rig.coordinator.pings().begin();
        const auto& camera = rig.cameras.at("cam-a").peer;
        Reply reply{"cam-a", camera.host, camera.session,
                    Json{{"action", "CLOCK_PONG"}, {"target", testing::directorID}, {"requestId", request}, {"t1", ping.t1},
                         {"t2", ping.t1 + 5000}, {"t3", ping.t1 + 5001}}};
        c.change(reply);
        rig.now += 40;
        rig.coordinator.receive(reply.sender, reply.host, reply.session, reply.payload, rig.now);
        EXPECT_EQ(rig.coordinator.pings().contains(request), c.samples < 0);
        DirectorClockEstimate expected;
        if (c.samples == 1) expected = {.offset = 4980.5, .rtt = 39, .samples = 1, .updated = rig.now, .bestAt = rig.now};
        const auto clock = rig.coordinator.clocks().find("cam-a");
        ASSERT_EQ(clock != rig.coordinator.clocks().end(), c.samples >= 0);
        if (c.samples >= 0) {
            EXPECT_EQ(clock->second, expected);
        }
    }
}

TEST(CameraReplies, UnansweredPingsExpireAndMovedCamerasLoseThem) {
    RecordingRig rig;
    rig.add("cam-a").answersPings = false;
    rig.step();
    const auto [request, ping] = *rig.coordinator.pings().begin();
    const auto pong = [](const std::string& id, double t1) {
        return Json{{"action", "CLOCK_PONG"}, {"requestId", id}, {"t1", t1}, {"t2", 1.0}, {"t3", 1.0}};
    };
    rig.coordinator.tick(ping.t1 + 3000);
    EXPECT_TRUE(rig.coordinator.pings().contains(request));
    rig.coordinator.tick(ping.t1 + 3000.5);
    EXPECT_FALSE(rig.coordinator.pings().contains(request));
    rig.reply("cam-a", pong(request, ping.t1));
    EXPECT_FALSE(rig.coordinator.clocks().contains("cam-a"));

    rig.tick(ping.t1 + 4000);
    const auto [again, fresh] = *rig.coordinator.pings().begin();
    rig.cameras.at("cam-a").peer.host = "10.0.0.77";
    rig.report("cam-a"); // drops the pings with the endpoint
    EXPECT_TRUE(rig.coordinator.pings().empty());
    rig.reply("cam-a", pong(again, fresh.t1));
    EXPECT_FALSE(rig.coordinator.clocks().contains("cam-a"));
}

// Two cameras in preparing that leave their proofs to the test.
void preparing(RecordingRig& rig) {
    rig.add("cam-a").answersPrepare = false;
    rig.add("cam-b").answersPrepare = false;
    rig.runFor(2100);
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}));
    ASSERT_EQ(rig.phase(), Phase::preparing);
}

TEST(CameraReplies, EveryProofMismatchFailsTheTakeNamingTheCamera) {
    struct Case { const char* what; std::function<void(Json&)> change; };
    const Case cases[] = {
        {"ready false", [](Json& p) { p["ready"] = false; }},
        {"not stored", [](Json& p) { p["projectAssignmentStored"] = false; }},
        {"ready as 1", [](Json& p) { p["ready"] = 1; }},
        {"other command", [](Json& p) { p["prepareCommandId"] = "00000000-0000-4000-8000-999999999999"; }},
        {"other director", [](Json& p) { p["directorId"] = testing::otherDirectorID; }},
        {"other project", [](Json& p) { p["projectId"] = "1d6a1f3e-2b4c-4d5e-8f60-718293a4b5c6"; }},
        {"renamed project", [](Json& p) { p["projectNameAtCapture"] = "Harbour shoot"; }},
        {"other creation", [](Json& p) { p["createdAt"] = "2026-05-01T12:30:01Z"; }},
        {"other reference", [](Json& p) { p["referenceCameraId"] = "cam-b"; }},
        {"other rate", [](Json& p) { p["timelineFPS"] = "25/1"; }},
        {"rate missing", [](Json& p) { p.erase("timelineFPS"); }},
        {"revision as text", [](Json& p) { p["projectRevisionAtCapture"] = "7"; }},
        {"other revision", [](Json& p) { p["projectRevisionAtCapture"] = 8; }},
        {"revision as 7.0 but not ready", [](Json& p) { p["projectRevisionAtCapture"] = 7.0; p["ready"] = false; }},
        {"negative store time", [](Json& p) { p["assignmentStoredMonoMs"] = -1; }},
        {"store time missing", [](Json& p) { p.erase("assignmentStoredMonoMs"); }},
        {"clip not a UUID", [](Json& p) { p["clipId"] = "clip-1"; }},
        {"clip missing", [](Json& p) { p.erase("clipId"); }},
        {"clip of another camera", [](Json& p) { p["clipId"] = testing::fakeID("c3000000", 5); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingRig rig;
        preparing(rig);
        rig.reply("cam-a", rig.proof(5));
        Json proof = rig.proof(1);
        c.change(proof);
        rig.reply("cam-b", proof);
        EXPECT_EQ(rig.phase(), Phase::failed);
        EXPECT_EQ(rig.message(), "Camera cam-b rejected preparation or returned mismatched durable metadata. Cancellation sent.");
    }
}

TEST(CameraReplies, ProofsAndStartAcksCountOnceAndOnlyInTheirPhase) {
    RecordingRig rig;
    preparing(rig);
    const auto session = [&]() -> const auto& { return *rig.coordinator.session(); };
    const Json startAck{{"action", "START_ACK"}, {"requestId", "take-1"}, {"takeId", "take-1"}, {"accepted", true}};
    rig.reply("cam-a", startAck); // not starting yet
    const std::pair<const char*, Json> ignored[] = {{"takeId", "take-2"}, {"requestId", "take-2"}, {"requestId", nullptr},
                                                    {"action", "PREPARE_NACK"}};
    for (const auto& [key, value] : ignored) {
        Json other = rig.proof();
        if (value.is_null()) {
            other.erase(key);
        } else {
            other[key] = value;
        }
        rig.reply("cam-a", other);
    }
    EXPECT_TRUE(session().prepareACKs.empty());
    EXPECT_EQ(rig.phase(), Phase::preparing);

    Json revisionAsFloat = rig.proof(1);
    revisionAsFloat["projectRevisionAtCapture"] = 7.0;
    rig.reply("cam-a", revisionAsFloat);
    const double first = rig.now;
    rig.now += 50;
    rig.reply("cam-a", rig.proof(2)); // a second proof changes nothing
    EXPECT_EQ(session().prepareACKs.at("cam-a"), first);
    EXPECT_EQ(session().clipIDs.at("cam-a"), testing::fakeID("c3000000", 1));

    rig.reply("cam-b", rig.proof(3));
    rig.cameras.at("cam-a").answersStart = rig.cameras.at("cam-b").answersStart = false;
    rig.tick(rig.now + 50);
    ASSERT_EQ(rig.phase(), Phase::starting);
    Json notReady = rig.proof(4);
    notReady["ready"] = false;
    rig.reply("cam-a", notReady); // proofs outside preparing are ignored
    for (const Json& accepted : {Json(false), Json(1)}) {
        Json refused = startAck;
        refused["accepted"] = accepted;
        rig.reply("cam-a", refused);
    }
    EXPECT_TRUE(session().startACKs.empty());
    rig.reply("cam-a", startAck);
    EXPECT_EQ(session().startACKs, (std::set<std::string>{"cam-a"}));
    EXPECT_EQ(rig.phase(), Phase::starting);
}

TEST(CameraReplies, StopAcknowledgementAndCompletion) {
    RecordingRig rig;
    rig.add("cam-a").answersStop = false;
    ASSERT_TRUE(rig.record({"cam-a"}));
    ASSERT_EQ(rig.stopAll(), 1);
    const std::string request = rig.coordinator.stops().begin()->first;
    const auto& stop = rig.coordinator.stops().at(request);
    const auto ack = [&](Json accepted, Json finalizing = false) {
        Json payload{{"action", "STOP_ACK"}, {"requestId", request}, {"takeId", "take-1"}, {"accepted", accepted}};
        if (!finalizing.is_null()) payload["finalizing"] = finalizing;
        return payload;
    };
    EXPECT_EQ(rig.result("cam-a"), "Stop requested · awaiting acceptance");
    Json otherTake = ack(true), otherRequest = ack(true); // incomplete or foreign acknowledgements are ignored
    otherTake["takeId"] = "take-2";
    otherRequest["requestId"] = "00000000-0000-4000-8000-999999999999";
    for (const Json& ignored : {ack(true, nullptr), ack(1), otherTake, otherRequest}) rig.reply("cam-a", ignored);
    EXPECT_FALSE(stop.acknowledgedAt);
    EXPECT_EQ(rig.result("cam-a"), "Stop requested · awaiting acceptance");

    rig.reply("cam-a", ack(false)); // a refusal only sets the text
    EXPECT_FALSE(stop.acknowledgedAt);
    EXPECT_EQ(rig.result("cam-a"), "Stop rejected · check active take on camera");
    rig.runFor(3500);
    ASSERT_TRUE(stop.timedOut);
    EXPECT_EQ(rig.result("cam-a"), "Stop unconfirmed · check camera / retry Stop");
    rig.reply("cam-a", ack(true, true)); // acceptance after the time-out still counts
    EXPECT_EQ(stop.acknowledgedAt, rig.now);
    EXPECT_EQ(rig.result("cam-a"), "Stop accepted · Saving on camera…");
    EXPECT_EQ(rig.message(), "Stop accepted. Cameras may still be saving; Collect confirms the files.");
    const double first = rig.now;
    rig.reply("cam-a", ack(true, false));
    EXPECT_EQ(stop.acknowledgedAt, first); // the first acceptance counts
    EXPECT_EQ(rig.result("cam-a"), "Stop accepted · Saving on camera…");

    // Completion needs an idle status strictly after the acknowledgement. The timed-out stop of an
    // idle camera already lets the phase settle; completion still shows on the camera's line.
    DirectorRecordingPeer& camera = rig.cameras.at("cam-a").peer;
    struct Report { double afterMs; bool busy, finalizing; const char* result; bool completed; };
    const Report reports[] = {
        {0, false, false, "Stop accepted · Saving on camera…", false},
        {1, false, true, "Saving on camera…", false},
        {1, true, false, "Saving on camera…", false},
        {1, false, false, "Camera idle · verify saved clip in Collect", true},
    };
    camera.recording = false;
    for (const Report& r : reports) {
        camera.busy = r.busy;
        camera.finalizing = r.finalizing;
        rig.now = first + r.afterMs;
        rig.report("cam-a");
        EXPECT_EQ(rig.result("cam-a"), r.result);
        EXPECT_EQ(stop.completed, r.completed);
    }
    EXPECT_EQ(rig.phase(), Phase::idle);
    EXPECT_EQ(rig.message(), "Cameras report idle. Verify saved clips in Collect.");
}

} // namespace
} // namespace velk

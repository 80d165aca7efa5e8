#include <gtest/gtest.h>

#include "base/unicode.hpp"
#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::assignment;
using testing::directorID;
using testing::peer;

TEST(RecordingStatus, DefaultsToReady) {
    const DirectorRecordingStatus status;
    EXPECT_EQ(status.phase, DirectorRecordingPhase::idle);
    EXPECT_EQ(status.takeID, "");
    EXPECT_EQ(status.message, "Ready. Record prepares every camera and confirms the frozen project assignment.");
    EXPECT_TRUE(status.stopResults.empty());
    EXPECT_FALSE(status.blocksStart());
}

TEST(RecordingStatus, BlocksStartUnlessIdleOrFailed) {
    const std::pair<DirectorRecordingPhase, bool> cases[] = {
        {DirectorRecordingPhase::idle, false},     {DirectorRecordingPhase::synchronizing, true},
        {DirectorRecordingPhase::preparing, true}, {DirectorRecordingPhase::starting, true},
        {DirectorRecordingPhase::recording, true}, {DirectorRecordingPhase::stopping, true},
        {DirectorRecordingPhase::failed, false},
    };
    for (const auto& [phase, blocks] : cases) {
        DirectorRecordingStatus status;
        status.phase = phase;
        EXPECT_EQ(status.blocksStart(), blocks) << rawValue(phase);
    }
}

TEST(RecordingPhase, RawValuesAreCaseNames) {
    const char* names[] = {"idle", "synchronizing", "preparing", "starting", "recording", "stopping", "failed"};
    for (const char* name : names) {
        const auto phase = directorRecordingPhase(name);
        ASSERT_TRUE(phase) << name;
        EXPECT_EQ(rawValue(*phase), name);
    }
    EXPECT_FALSE(directorRecordingPhase("Idle"));
    EXPECT_FALSE(directorRecordingPhase(""));
}

TEST(RecordingPeer, DurablePreparationAndOnline) {
    DirectorRecordingPeer p = peer("cam-a", "10.0.0.2", 1000);
    p.projectSyncVersion = 0;
    p.prepareVersion = 2;
    p.warmPrepare = false;
    EXPECT_FALSE(p.supportsDurablePreparation());
    p.warmPrepare = true;
    EXPECT_TRUE(p.supportsDurablePreparation());
    p.prepareVersion = 1;
    EXPECT_FALSE(p.supportsDurablePreparation());
    p.projectSyncVersion = 1;
    EXPECT_TRUE(p.supportsDurablePreparation());

    EXPECT_TRUE(p.online(1000));
    EXPECT_TRUE(p.online(7499.9));
    EXPECT_FALSE(p.online(7500));
    EXPECT_FALSE(p.online(999)); // a status from the future
}

TEST(TakeAssignment, ValidityRules) {
    EXPECT_TRUE(assignment().valid());
    struct Case { const char* what; std::function<void(DirectorTakeAssignment&)> change; bool valid; };
    const Case cases[] = {
        {"65-byte take", [](auto& a) { a.takeID = std::string(65, 't'); }, false},
        {"64-byte take", [](auto& a) { a.takeID = std::string(64, 't'); }, true},
        {"take with space around", [](auto& a) { a.takeID = " take"; }, false},
        {"project id not a UUID", [](auto& a) { a.projectID = "project-1"; }, false},
        {"upper-case project id", [](auto& a) { a.projectID = "0D6A1F3E-2B4C-4D5E-8F60-718293A4B5C6"; }, true},
        {"revision 0", [](auto& a) { a.projectRevision = 0; }, false},
        {"revision -3", [](auto& a) { a.projectRevision = -3; }, false},
        {"empty project name", [](auto& a) { a.projectName = ""; }, false},
        {"257-byte name", [](auto& a) { a.projectName = std::string(257, 'n'); }, false},
        {"256-byte name", [](auto& a) { a.projectName = std::string(256, 'n'); }, true},
        {"129-byte reference", [](auto& a) { a.referenceCameraID = std::string(129, 'c'); }, false},
        {"29.97 rate", [](auto& a) { a.timelineFPS = "29.97"; }, false},
        {"30 rate", [](auto& a) { a.timelineFPS = "30"; }, false},
        {"30000/1001 rate", [](auto& a) { a.timelineFPS = "30000/1001"; }, true},
        {"fractional seconds", [](auto& a) { a.createdAt = "2026-05-01T12:30:00.250Z"; }, false},
        {"offset zone", [](auto& a) { a.createdAt = "2026-05-01T12:30:00+02:00"; }, true},
        {"date only", [](auto& a) { a.createdAt = "2026-05-01"; }, false},
        {"no zone", [](auto& a) { a.createdAt = "2026-05-01T12:30:00"; }, false},
    };
    for (const Case& c : cases) {
        DirectorTakeAssignment a = assignment();
        c.change(a);
        EXPECT_EQ(a.valid(), c.valid) << c.what;
    }
    for (const char* rate : {"24/1", "25/1", "30/1", "50/1", "60/1", "24000/1001", "30000/1001", "60000/1001"}) {
        DirectorTakeAssignment a = assignment();
        a.timelineFPS = rate;
        EXPECT_TRUE(a.valid()) << rate;
    }
}

TEST(CoordinatorIdentity, FirstValidUUIDWinsUnchanged) {
    DirectorRecordingCoordinator coordinator;
    EXPECT_EQ(coordinator.sender(), "");
    coordinator.identify("collector");
    EXPECT_EQ(coordinator.sender(), "");
    coordinator.identify("6F1C2B9E-8A4D-4C1E-9F2A-3B5D7E9A1C20");
    EXPECT_EQ(coordinator.sender(), "6F1C2B9E-8A4D-4C1E-9F2A-3B5D7E9A1C20");
    coordinator.identify(directorID);
    EXPECT_EQ(coordinator.sender(), "6F1C2B9E-8A4D-4C1E-9F2A-3B5D7E9A1C20");
}

TEST(CoordinatorOutbox, DrainReturnsCommandsOnce) {
    DirectorRecordingCoordinator coordinator;
    coordinator.identify(directorID);
    coordinator.update(peer("cam-a", "10.0.0.2", 0), 0);
    coordinator.tick(0);
    const auto first = coordinator.drain();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].host, std::optional<std::string>("10.0.0.2"));
    EXPECT_EQ(first[0].payload.at("action"), "CLOCK_PING");
    EXPECT_EQ(first[0].payload.at("target"), "cam-a");
    EXPECT_TRUE(coordinator.drain().empty());
}

TEST(CoordinatorUpdate, CameraTableHoldsAtMost128) {
    DirectorRecordingCoordinator coordinator;
    for (int i = 0; i < 128; ++i) coordinator.update(peer("cam-" + std::to_string(i), "10.0.1.1", 0), 0);
    EXPECT_EQ(coordinator.peers().size(), 128u);
    coordinator.update(peer("cam-extra", "10.0.1.1", 0), 0);
    EXPECT_EQ(coordinator.peers().size(), 128u);
    EXPECT_FALSE(coordinator.peers().contains("cam-extra"));
    DirectorRecordingPeer again = peer("cam-5", "10.0.1.9", 50);
    coordinator.update(again, 50);
    EXPECT_EQ(coordinator.peers().at("cam-5"), again);
}

TEST(CoordinatorUpdate, EndpointChangeDropsClockAndPings) {
    testing::RecordingRig rig;
    rig.add("cam-a");
    rig.add("cam-b");
    rig.runFor(3000);
    ASSERT_TRUE(rig.coordinator.clocks().at("cam-a").usable(rig.now));

    // Same host and session: the estimate stays.
    rig.report("cam-a");
    EXPECT_TRUE(rig.coordinator.clocks().contains("cam-a"));

    rig.coordinator.tick(rig.now + 1000); // pings go out and stay outstanding (no replies)
    rig.coordinator.drain();
    ASSERT_EQ(rig.coordinator.pings().size(), 2u);
    DirectorRecordingPeer a = rig.cameras.at("cam-a").peer;
    a.session = "another-session";
    rig.coordinator.update(a, rig.now);
    EXPECT_FALSE(rig.coordinator.clocks().contains("cam-a"));
    EXPECT_TRUE(rig.coordinator.clocks().contains("cam-b"));
    ASSERT_EQ(rig.coordinator.pings().size(), 1u);
    EXPECT_EQ(rig.coordinator.pings().begin()->second.peer.id, "cam-b");
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle); // no take: nothing fails
}

TEST(CoordinatorUpdate, AbsentAndPresentSessionsDiffer) {
    const auto clockKept = [](std::optional<std::string> before, std::optional<std::string> after) {
        DirectorRecordingCoordinator coordinator;
        coordinator.identify(testing::directorID);
        DirectorRecordingPeer p = testing::peer("cam-a", "10.0.0.2", 0);
        p.session = before;
        coordinator.update(p, 0);
        coordinator.tick(0);
        const std::string request = coordinator.pings().begin()->first;
        coordinator.receive("cam-a", "10.0.0.2", std::nullopt,
                            Json{{"action", "CLOCK_PONG"}, {"target", testing::directorID}, {"requestId", request},
                                 {"t1", 0.0}, {"t2", 5.0}, {"t3", 5.0}},
                            0);
        p.session = after;
        coordinator.update(p, 1);
        return coordinator.clocks().contains("cam-a");
    };
    EXPECT_TRUE(clockKept(std::nullopt, std::nullopt));
    EXPECT_TRUE(clockKept("s", "s"));
    EXPECT_FALSE(clockKept(std::nullopt, "s"));
    EXPECT_FALSE(clockKept("s", std::nullopt));
    EXPECT_FALSE(clockKept("s", "S"));
}

TEST(CoordinatorUpdate, NewSessionDuringPreparationFailsTheTake) {
    testing::RecordingRig rig;
    rig.add("cam-a");
    rig.add("cam-b");
    rig.runFor(3000);
    rig.cameras.at("cam-b").answersPrepare = false;
    ASSERT_TRUE(rig.begin({"cam-a", "cam-b"}, assignment()));
    ASSERT_TRUE(rig.runUntil([&] { return rig.phase() == DirectorRecordingPhase::preparing; }));
    rig.cameras.at("cam-b").peer.session = "rebooted";
    rig.coordinator.update(rig.cameras.at("cam-b").peer, rig.now);
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), "Camera cam-b reconnected. Stop/check cameras before preparing another take.");
    // The camera that stayed gets the cancellation and a tracked stop; the reconnected one neither.
    const auto commands = rig.coordinator.drain();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].payload.at("action"), "CANCEL_TAKE");
    EXPECT_EQ(commands[0].payload.at("target"), "cam-a");
    EXPECT_EQ(commands[1].payload.at("action"), "STOP_TAKE");
    EXPECT_EQ(commands[1].payload.at("target"), "cam-a");
}

TEST(CoordinatorUpdate, NewSessionWhileFailedOnlyResetsTheClock) {
    testing::RecordingRig rig;
    rig.add("cam-a");
    rig.runFor(3000);
    rig.cameras.at("cam-a").answersPrepare = false;
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
    rig.runFor(12500);
    ASSERT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    const std::string message = rig.message();
    rig.cameras.at("cam-a").peer.host = "10.0.0.99";
    rig.report("cam-a");
    EXPECT_EQ(rig.phase(), DirectorRecordingPhase::failed);
    EXPECT_EQ(rig.message(), message);
    EXPECT_FALSE(rig.coordinator.clocks().contains("cam-a"));
}

TEST(CoordinatorUpdate, RecordingOfTheSessionTakeIsObserved) {
    testing::RecordingRig rig;
    rig.add("cam-a");
    rig.runFor(3000);
    rig.cameras.at("cam-a").answersPrepare = false;
    ASSERT_TRUE(rig.begin({"cam-a"}, assignment()));
    DirectorRecordingPeer p = rig.cameras.at("cam-a").peer;
    p.recording = true;
    p.takeID = "other-take";
    rig.coordinator.update(p, rig.now);
    EXPECT_TRUE(rig.coordinator.session()->observedRecording.empty());
    p.takeID = "take-1";
    rig.coordinator.update(p, rig.now);
    EXPECT_EQ(rig.coordinator.session()->observedRecording, (std::set<std::string>{"cam-a"}));
}

} // namespace
} // namespace velk

namespace velk {
namespace {

TEST(CoordinatorIdentity, RequestIdsAreFreshLowerCaseUUIDs) {
    DirectorRecordingCoordinator coordinator;
    coordinator.identify(testing::directorID);
    for (int i = 0; i < 100; ++i) coordinator.update(testing::peer("cam-" + std::to_string(i), "10.0.0.2", 0), 0);
    coordinator.tick(0);
    std::set<std::string> ids;
    for (const auto& command : coordinator.drain()) {
        const std::string id = command.payload.at("requestId");
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[14], '4');
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos);
        EXPECT_EQ(id, text::lowercased(id));
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 100u);
}

TEST(CoordinatorOutbox, LegacyStopPayload) {
    EXPECT_EQ(DirectorRecordingCoordinator::legacyStop("cam-q"),
              (Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", "cam-q"}, {"name", ""}}));
}

} // namespace
} // namespace velk

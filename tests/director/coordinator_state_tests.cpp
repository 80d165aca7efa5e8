#include <gtest/gtest.h>

#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "recording_rig.hpp"

namespace velk {
namespace {

using testing::assignment;
using testing::peer;

TEST(RecordingRecords, PeerAbilitiesAndOnline) {
    struct Case { std::int64_t prepareVersion; bool warm; std::int64_t projectSync; bool durable; };
    for (const Case& c : {Case{2, false, 0, false}, Case{2, true, 0, true}, Case{1, true, 0, false}, Case{1, false, 1, true}}) {
        DirectorRecordingPeer p = peer("cam-a", "10.0.0.2", 1000);
        p.prepareVersion = c.prepareVersion;
        p.warmPrepare = c.warm;
        p.projectSyncVersion = c.projectSync;
        EXPECT_EQ(p.supportsDurablePreparation(), c.durable) << c.prepareVersion << c.warm << c.projectSync;
    }
    const DirectorRecordingPeer p = peer("cam-a", "10.0.0.2", 1000);
    EXPECT_TRUE(p.online(1000));
    EXPECT_TRUE(p.online(7499.9));
    EXPECT_FALSE(p.online(7500));
    EXPECT_FALSE(p.online(999)); // a status from the future
}

TEST(RecordingRecords, TakeAssignmentValidity) {
    struct Case { const char* what; std::function<void(DirectorTakeAssignment&)> change; bool valid; };
    const Case cases[] = {
        {"as given", [](auto&) {}, true},
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

TEST(CoordinatorIdentity, FirstValidUUIDWinsAndRequestIdsAreFreshLowerCaseUUIDs) {
    // Also: the camera table holds at most 128 cameras, and known cameras are still updated.
    DirectorRecordingCoordinator coordinator;
    coordinator.identify("collector");
    EXPECT_EQ(coordinator.sender(), "");
    coordinator.identify("6F1C2B9E-8A4D-4C1E-9F2A-3B5D7E9A1C20");
    coordinator.identify(testing::directorID);
    EXPECT_EQ(coordinator.sender(), "6F1C2B9E-8A4D-4C1E-9F2A-3B5D7E9A1C20");

    for (int i = 0; i < 129; ++i) coordinator.update(peer("cam-" + std::to_string(i), "10.0.0.2", 0), 0);
    EXPECT_EQ(coordinator.peers().size(), 128u);
    EXPECT_FALSE(coordinator.peers().contains("cam-128"));
    const DirectorRecordingPeer again = peer("cam-5", "10.0.0.2", 0.5);
    coordinator.update(again, 0.5);
    EXPECT_EQ(coordinator.peers().at("cam-5"), again);
    coordinator.tick(0.5);
    std::set<std::string> ids;
    for (const auto& command : coordinator.drain()) {
        const std::string id = command.payload.at("requestId");
        EXPECT_TRUE(uuid::isValid(id) && id[14] == '4' && std::string("89ab").find(id[19]) != std::string::npos) << id;
        EXPECT_EQ(id, text::lowercased(id));
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 128u);
    EXPECT_TRUE(coordinator.drain().empty());
}

TEST(CoordinatorUpdate, AnotherHostOrSessionDropsTheClockAndPings) {
    using Session = std::optional<std::string>;
    struct Case { Session before, after; std::string host; bool kept; };
    const Case cases[] = {
        {"s", "s", "10.0.0.11", true},          {std::nullopt, std::nullopt, "10.0.0.11", true},
        {std::nullopt, "s", "10.0.0.11", false}, {"s", std::nullopt, "10.0.0.11", false},
        {"s", "S", "10.0.0.11", false},          {"s", "s", "10.0.0.99", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before.value_or("none") + " " + c.after.value_or("none") + " " + c.host);
        testing::RecordingRig rig;
        rig.addCameras(2);
        rig.cameras.at("cam-a").peer.session = c.before;
        rig.runFor(3000);
        rig.coordinator.tick(rig.now + 1000); // pings go out and stay outstanding
        rig.coordinator.drain();
        ASSERT_EQ(rig.coordinator.pings().size(), 2u);
        DirectorRecordingPeer a = rig.cameras.at("cam-a").peer;
        a.session = c.after;
        a.host = c.host;
        rig.coordinator.update(a, rig.now);
        EXPECT_EQ(rig.coordinator.clocks().contains("cam-a"), c.kept);
        EXPECT_EQ(rig.coordinator.pings().size(), c.kept ? 2u : 1u);
        EXPECT_TRUE(rig.coordinator.clocks().contains("cam-b"));
        EXPECT_EQ(rig.phase(), DirectorRecordingPhase::idle); // no take: nothing fails
    }
}

TEST(CoordinatorUpdate, OnlyRecordingOfTheSessionTakeIsObserved) {
    testing::RecordingRig rig;
    rig.add("cam-a").answersPings = false;
    ASSERT_TRUE(rig.begin({"cam-a"}));
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

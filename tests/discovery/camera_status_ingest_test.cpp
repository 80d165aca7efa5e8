#include <chrono>

#include <gtest/gtest.h>

#include "discovery/camera_status_ingest.hpp"

namespace velk {
namespace {

const WallTime now = WallTime{} + std::chrono::hours(24 * 365 * 50);

bool ingest(std::vector<LiveCamera>& cameras, const char* payload, const std::string& host = "10.0.0.5",
            std::optional<std::string> session = std::nullopt, const std::string& sender = "cam") {
    return ingestCamera(cameras, sender, host, Json::parse(payload), session, now);
}

TEST(CameraStatusIngest, FirstSnapshotWithOnlyIdGetsDefaults) {
    std::vector<LiveCamera> cameras;
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam"})"));
    ASSERT_EQ(cameras.size(), 1u);
    const LiveCamera& camera = cameras[0];
    EXPECT_EQ(camera.name, "cam");
    EXPECT_EQ(camera.role, "CAMERA");
    EXPECT_EQ(camera.quality, "\xE2\x80\x94");
    EXPECT_EQ(camera.aspect, "\xE2\x80\x94");
    EXPECT_EQ(camera.leftDB, -60.0);
    EXPECT_EQ(camera.rightDB, -60.0);
    EXPECT_EQ(camera.channels, 0);
    EXPECT_EQ(camera.recordingSinceMs, 0);
    EXPECT_FALSE(camera.battery);
    EXPECT_FALSE(camera.freeGB);
    EXPECT_EQ(camera.previewCapabilities, PreviewCapabilities{});
    EXPECT_EQ(camera.previewTransport, PreviewTransportStatus{});
    EXPECT_FALSE(camera.takeBusy);
    EXPECT_EQ(camera.host, "10.0.0.5");
    EXPECT_EQ(camera.lastSeen, now);
    EXPECT_FALSE(camera.sourceSessionID);
}

TEST(CameraStatusIngest, RecordingViewCountsAMissingTakeBusyAsBusy) {
    auto packet = decodePacket(R"({"v":1,"type":"status","sender":"cam","payload":{"id":"cam"}})");
    ASSERT_TRUE(packet);
    DirectorRecordingPeer peer = recordingPeer(*packet, "10.0.0.5", 1234);
    EXPECT_TRUE(peer.busy);
    EXPECT_EQ(peer.name, "cam");
    EXPECT_EQ(peer.seenAt, 1234);
    EXPECT_FALSE(peer.session);
}

TEST(CameraStatusIngest, RecordingViewReadsStrictly) {
    auto packet = decodePacket(R"({"v":1,"type":"status","sender":"cam","sessionId":"6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B",
        "payload":{"id":"cam","name":"Cam A","remoteControl":1,"syncVersion":1.5,"syncPrepareVersion":2,"warmPrepare":true,
        "safeStopVersion":-1,"cameraReady":true,"takeBusy":false,"recording":true,"finalizing":false,"takeId":"t1",
        "projectSyncVersion":3}})");
    ASSERT_TRUE(packet);
    DirectorRecordingPeer peer = recordingPeer(*packet, "10.0.0.5", 0);
    EXPECT_EQ(peer.name, "Cam A");
    EXPECT_EQ(peer.session, "6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b");
    EXPECT_FALSE(peer.remoteControl);
    EXPECT_EQ(peer.syncVersion, 0);
    EXPECT_EQ(peer.prepareVersion, 2);
    EXPECT_TRUE(peer.warmPrepare);
    EXPECT_EQ(peer.safeStopVersion, 0);
    EXPECT_TRUE(peer.ready);
    EXPECT_FALSE(peer.busy);
    EXPECT_TRUE(peer.recording);
    EXPECT_EQ(peer.takeID, "t1");
    EXPECT_EQ(peer.projectSyncVersion, 3);
}

TEST(CameraStatusIngest, DirectorRoleInAnyCase) {
    EXPECT_TRUE(isDirectorSnapshot(Json::parse(R"({"role":"director"})")));
    EXPECT_TRUE(isDirectorSnapshot(Json::parse(R"({"role":"Director"})")));
    EXPECT_FALSE(isDirectorSnapshot(Json::parse(R"({"role":"CAMERA"})")));
    EXPECT_FALSE(isDirectorSnapshot(Json::parse(R"({})")));
}

TEST(CameraStatusIngest, LaterSnapshotKeepsEarlierDisplayValuesButNotReadiness) {
    std::vector<LiveCamera> cameras;
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam","name":"Front","leftDb":-12.5,"cameraReady":true,"syncVersion":1,"battery":40})"));
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam"})"));
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].name, "Front");
    EXPECT_EQ(cameras[0].leftDB, -12.5);
    EXPECT_EQ(cameras[0].battery, 40);
    EXPECT_FALSE(cameras[0].cameraReady);
    EXPECT_EQ(cameras[0].syncVersion, 0);
}

TEST(CameraStatusIngest, OtherHostOrSessionStartsFromDefaults) {
    std::vector<LiveCamera> cameras;
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam","name":"Front"})", "10.0.0.5"));
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam"})", "10.0.0.6"));
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].name, "cam");
    EXPECT_EQ(cameras[0].host, "10.0.0.6");
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam","name":"Back"})", "10.0.0.6"));
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam"})", "10.0.0.6", "6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B"));
    EXPECT_EQ(cameras[0].name, "cam");
    EXPECT_EQ(cameras[0].sourceSessionID, "6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b");
}

TEST(CameraStatusIngest, ValueTypes) {
    std::vector<LiveCamera> cameras;
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam","recording":true,"recordingSinceMs":1500.9,"battery":true,"channels":"2"})"));
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam","recording":1})"));
    EXPECT_TRUE(cameras[0].recording) << "a number is no boolean: the previous value stays";
    EXPECT_EQ(cameras[0].recordingSinceMs, 1500);
    EXPECT_EQ(cameras[0].battery, 1);
    EXPECT_EQ(cameras[0].channels, 0);
}

TEST(CameraStatusIngest, GeometryWinsOverRotation) {
    std::vector<LiveCamera> cameras;
    ASSERT_TRUE(ingest(cameras,
                       R"({"id":"cam","previewRotation":180,"previewGeometry":{"v":1,"rotationDegrees":90,"pixelsOriented":false}})"));
    EXPECT_EQ(cameras[0].previewRotation, 90);
    EXPECT_EQ(cameras[0].previewPixelsOriented, false);
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam","previewRotation":270,"previewGeometry":{"v":2}})"));
    EXPECT_EQ(cameras[0].previewRotation, 270);
    EXPECT_EQ(cameras[0].previewPixelsOriented, false) << "kept from the previous record";
}

TEST(CameraStatusIngest, ListIsSortedByNameCaseInsensitivelyAndStably) {
    std::vector<LiveCamera> cameras;
    ASSERT_TRUE(ingest(cameras, R"({"id":"b","name":"beta"})", "10.0.0.1", std::nullopt, "b"));
    ASSERT_TRUE(ingest(cameras, R"({"id":"a","name":"Alpha"})", "10.0.0.2", std::nullopt, "a"));
    ASSERT_TRUE(ingest(cameras, R"({"id":"c","name":"alpha2"})", "10.0.0.3", std::nullopt, "c"));
    ASSERT_EQ(cameras.size(), 3u);
    EXPECT_EQ(cameras[0].name, "Alpha");
    EXPECT_EQ(cameras[1].name, "alpha2");
    EXPECT_EQ(cameras[2].name, "beta");

    std::vector<LiveCamera> same;
    ASSERT_TRUE(ingest(same, R"({"id":"x","name":"Same"})", "10.0.0.1", std::nullopt, "x"));
    ASSERT_TRUE(ingest(same, R"({"id":"y","name":"Same"})", "10.0.0.2", std::nullopt, "y"));
    ASSERT_TRUE(ingest(same, R"({"id":"x","name":"Same"})", "10.0.0.1", std::nullopt, "x"));
    EXPECT_EQ(same[0].id, "y");
    EXPECT_EQ(same[1].id, "x") << "the camera updated last comes after equal names";
}

TEST(CameraStatusIngest, CapHoldsOutNewCamerasOnly) {
    std::vector<LiveCamera> cameras;
    for (int i = 0; i < 128; ++i) {
        std::string id = "cam-" + std::to_string(i);
        ASSERT_TRUE(ingestCamera(cameras, id, "10.0.0.5", Json{{"id", id}}, std::nullopt, now));
    }
    EXPECT_FALSE(ingestCamera(cameras, "new", "10.0.0.5", Json{{"id", "new"}}, std::nullopt, now));
    EXPECT_TRUE(ingestCamera(cameras, "cam-7", "10.0.0.5", Json{{"id", "cam-7"}, {"name", "Seven"}}, std::nullopt, now));
    // A listed camera that moved or restarted is still updated.
    EXPECT_TRUE(ingestCamera(cameras, "cam-8", "10.0.0.99", Json{{"id", "cam-8"}}, std::nullopt, now));
    EXPECT_EQ(cameras.size(), 128u);
    auto moved = std::find_if(cameras.begin(), cameras.end(), [](const LiveCamera& c) { return c.id == "cam-8"; });
    ASSERT_NE(moved, cameras.end());
    EXPECT_EQ(moved->host, "10.0.0.99");
}

TEST(CameraStatusIngest, VersionsOutOfRangeReadAsZero) {
    std::vector<LiveCamera> cameras;
    ASSERT_TRUE(ingest(cameras, R"({"id":"cam","syncVersion":-1,"syncPrepareVersion":1.5})"));
    EXPECT_EQ(cameras[0].syncVersion, 0);
    EXPECT_EQ(cameras[0].syncPrepareVersion, 0);
}

} // namespace
} // namespace velk

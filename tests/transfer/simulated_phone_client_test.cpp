// The transfer client against the simulated phone over real TLS on loopback.

#include <thread>

#include <gtest/gtest.h>

#include "base/sha256.hpp"
#include "model/catalog.hpp"
#include "test_peers.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

using testing::outcome;
const std::string projectId = testing::projectUUID;
const std::string requestId = testing::requestUUID;

class PhoneClient : public ::testing::Test {
protected:
    PhoneClient() {
        environment.sleeper = [this](std::uint64_t nanoseconds, const CancellationToken*) { sleeps.push_back(nanoseconds); };
        file = phone.command(Json{{"cmd", "file"}, {"clipId", testing::clipUUID}, {"size", 300'000}});
        sidecar = phone.command(Json{{"cmd", "sidecar"}, {"clipId", testing::clipUUID}, {"text", "{\"anchors\":[]}"}});
    }

    DiscoveredDevice device() const {
        DiscoveredDevice device = testing::pairingDevice();
        device.catalogURL = phone.baseURL() + "/velk/v1/catalog";
        device.deviceId = phone.deviceId;
        device.sessionId = phone.sessionId;
        device.certificateSHA256 = phone.fingerprint;
        return device;
    }

    std::shared_ptr<AuthenticatedTransferClient> pair() {
        return AuthenticatedTransferClient::pair(device(), "123456", "collector-1", "Edit Suite", true, environment);
    }

    Json catalog() const {
        const Json clip{{"clipId", testing::clipUUID}, {"cameraId", "cam-a"}, {"fileName", "A001.mov"}, {"sizeBytes", file.at("size")},
                        {"sha256", file.at("sha256")}, {"downloadURL", "/velk/v1/files/" + testing::clipUUID}, {"finalized", true},
                        {"mediaKind", "video"}, {"hasVideo", true}, {"hasAudio", false},
                        {"timingSidecarURL", "/velk/v1/files/" + testing::clipUUID + ".timing.json"},
                        {"timingSidecarSHA256", sidecar.at("sha256")}};
        const Json take{{"takeId", "take-1"}, {"projectId", projectId}, {"clips", Json::array({clip})}};
        const Json project{{"projectId", projectId}, {"name", "Concert"}, {"revision", 1}, {"takes", Json::array({take})}};
        return Json{{"schemaVersion", 1}, {"deviceId", phone.deviceId}, {"deviceName", "Sim Phone"},
                    {"catalogRevision", 1}, {"projects", Json::array({project})}};
    }

    std::string fileURL() const { return phone.baseURL() + "/velk/v1/files/" + testing::clipUUID; }
    std::int64_t fileSize() const { return file.at("size").get<std::int64_t>(); }
    std::string fileDigest() const { return file.at("sha256").get<std::string>(); }

    testing::SimPhone phone;
    TransferClientEnvironment environment;
    std::vector<std::uint64_t> sleeps;
    Json file;
    Json sidecar;
};

TEST_F(PhoneClient, PairFetchVerifyTrashAndEnd) {
    phone.command(Json{{"cmd", "catalog"}, {"body", catalog()}});
    auto client = pair();
    EXPECT_EQ(client->sessionId(), phone.sessionId);

    const Bytes body = client->fetchCatalog();
    const DeviceCatalog decoded = decodeCatalog(std::string(body.begin(), body.end()));
    EXPECT_NO_THROW(TransferProtocol::validateAuthenticatedCatalog(decoded, client->catalogURL()));
    const CatalogClip& clip = decoded.projects.at(0).takes.at(0).clips.at(0);

    const std::string url = TransferProtocol::resolvedClipURL(clip.downloadURL, clip.clipId, client->catalogURL(), false);
    Bytes assembled;
    for (std::int64_t start = 0; start < clip.sizeBytes; start += 100'000) {
        const std::int64_t end = std::min(start + 100'000, clip.sizeBytes) - 1;
        const Bytes chunk = client->fetchRange(url, start, end, clip.sizeBytes, clip.sha256);
        assembled.insert(assembled.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(hexLower(Sha256::of(std::span<const std::uint8_t>(assembled))), fileDigest());
    EXPECT_EQ(client->fetchTimingSidecar(clip.clipId, *clip.timingSidecarURL, *clip.timingSidecarSHA256).size(), 14u);

    EXPECT_EQ(outcome([&] {
                  client->trashSourceProject(projectId, requestId, {{{"clipId", testing::clipUUID}, {"sha256", fileDigest()}}});
              }),
              "succeeded");
    EXPECT_TRUE(client->end());
    EXPECT_NE(outcome([&] { client->fetchCatalog(); }), "succeeded");

    const Json log = phone.log();
    ASSERT_EQ(log.size(), 8u);
    for (const Json& entry : log) EXPECT_EQ(entry.at("connection"), log[0].at("connection")) << entry.at("path");
    EXPECT_EQ(log[0].at("path"), "/velk/v1/pair");
    EXPECT_FALSE(log[0].at("headers").contains("authorization"));
    for (std::size_t i = 1; i < log.size(); ++i) {
        EXPECT_EQ(log[i].at("headers").at("x-velk-session-id"), phone.sessionId);
        EXPECT_EQ(log[i].at("headers").at("authorization").get<std::string>().rfind("Bearer ", 0), 0u);
    }
    EXPECT_EQ(log[2].at("headers").at("range"), "bytes=0-99999");
    EXPECT_EQ(log[2].at("headers").at("accept-encoding"), "identity");
    EXPECT_TRUE(sleeps.empty());
}

TEST_F(PhoneClient, DroppedConnectionsAreRetried) {
    auto client = pair();
    // A kept-alive connection closed before any reply is reopened once by the connection layer
    // (the phone may close idle connections), so three closes are two failed attempts.
    phone.fault("files", "failConnection", nullptr, 3);
    EXPECT_EQ(client->fetchRange(fileURL(), 0, 999, fileSize(), fileDigest()).size(), 1000u);
    EXPECT_EQ(sleeps, (std::vector<std::uint64_t>{250'000'000, 750'000'000}));

    sleeps.clear();
    phone.fault("files", "dropMidBody", nullptr, 3);
    EXPECT_EQ(outcome([&] { client->fetchRange(fileURL(), 0, 9999, fileSize(), fileDigest()); }),
              "transport: The network connection was lost.");
    EXPECT_EQ(sleeps.size(), 2u);

    sleeps.clear();
    phone.fault("files", "shortBody", 10, 1);
    EXPECT_EQ(client->fetchRange(fileURL(), 0, 999, fileSize(), fileDigest()).size(), 1000u);
    EXPECT_EQ(sleeps.size(), 1u);
}

TEST_F(PhoneClient, TwoThreadsShareOneSessionAndConnection) {
    auto client = pair();
    std::vector<Bytes> first(10), second(10);
    std::thread one([&] {
        for (auto& chunk : first) chunk = client->fetchRange(fileURL(), 0, 49'999, fileSize(), fileDigest());
    });
    std::thread two([&] {
        for (auto& chunk : second) chunk = client->fetchRange(fileURL(), 50'000, 99'999, fileSize(), fileDigest());
    });
    one.join();
    two.join();
    for (const auto& chunk : first) EXPECT_EQ(chunk.size(), 50'000u);
    for (const auto& chunk : second) EXPECT_EQ(chunk.size(), 50'000u);
    const Json log = phone.log();
    ASSERT_EQ(log.size(), 21u);
    for (const Json& entry : log) EXPECT_EQ(entry.at("connection"), log[0].at("connection"));
}

} // namespace
} // namespace velk

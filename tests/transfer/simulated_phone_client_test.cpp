// The transfer client against the simulated phone over real TLS on loopback.

#include <thread>

#include <gtest/gtest.h>

#include "model/catalog.hpp"
#include "test_peers.hpp"
#include "transfer/authenticated_transfer_client.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {
namespace {

const std::string clipId = "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";
const std::string projectId = "11111111-2222-4333-8444-555555555555";
const std::string requestId = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";

template <class F>
std::string outcome(F&& operation) {
    try {
        operation();
        return "succeeded";
    } catch (const TransferProtocolError& error) {
        return error.what();
    } catch (const HttpsTransportError& error) {
        return std::string("transport: ") + error.what();
    } catch (const JsonError&) {
        return "undecodable";
    }
}

class PhoneClient : public ::testing::Test {
protected:
    PhoneClient() {
        environment.sleeper = [this](std::uint64_t nanoseconds, const CancellationToken*) { sleeps.push_back(nanoseconds); };
        file = phone.command(Json{{"cmd", "file"}, {"clipId", clipId}, {"size", 300'000}});
        sidecar = phone.command(Json{{"cmd", "sidecar"}, {"clipId", clipId}, {"text", "{\"anchors\":[]}"}});
    }

    DiscoveredDevice device() const {
        DiscoveredDevice device;
        device.serviceName = "Sim Phone";
        device.catalogURL = phone.baseURL() + "/velk/v1/catalog";
        device.serviceType = "_velk-transfer._tcp.";
        device.deviceId = phone.deviceId;
        device.sessionId = phone.sessionId;
        device.certificateSHA256 = phone.fingerprint;
        device.foregroundOnly = true;
        device.projectTrashVersion = "trash-v1";
        return device;
    }

    std::shared_ptr<AuthenticatedTransferClient> pair(const DiscoveredDevice& target) {
        return AuthenticatedTransferClient::pair(target, "123456", "collector-1", "Edit Suite", true, environment);
    }
    std::shared_ptr<AuthenticatedTransferClient> pair() { return pair(device()); }

    Json catalog() const {
        const Json clip{{"clipId", clipId},
                        {"cameraId", "cam-a"},
                        {"fileName", "A001.mov"},
                        {"sizeBytes", file.at("size")},
                        {"sha256", file.at("sha256")},
                        {"downloadURL", "/velk/v1/files/" + clipId},
                        {"finalized", true},
                        {"mediaKind", "video"},
                        {"hasVideo", true},
                        {"hasAudio", false},
                        {"timingSidecarURL", "/velk/v1/files/" + clipId + ".timing.json"},
                        {"timingSidecarSHA256", sidecar.at("sha256")}};
        const Json take{{"takeId", "take-1"}, {"projectId", projectId}, {"clips", Json::array({clip})}};
        const Json project{{"projectId", projectId}, {"name", "Concert"}, {"revision", 1}, {"takes", Json::array({take})}};
        return Json{{"schemaVersion", 1},
                    {"deviceId", phone.deviceId},
                    {"deviceName", "Sim Phone"},
                    {"catalogRevision", 1},
                    {"projects", Json::array({project})}};
    }

    std::string fileURL() const { return phone.baseURL() + "/velk/v1/files/" + clipId; }
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
                  client->trashSourceProject(projectId, requestId, {{{"clipId", clipId}, {"sha256", fileDigest()}}});
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

TEST_F(PhoneClient, PairingRefusals) {
    phone.command(Json{{"cmd", "config"}, {"pairingCode", "654321"}});
    EXPECT_EQ(outcome([&] { pair(); }), "Transfer server returned HTTP 403.");
    phone.command(Json{{"cmd", "config"}, {"pairingCode", "123456"}});

    DiscoveredDevice wrongPin = device();
    wrongPin.certificateSHA256 = std::string(64, 'a');
    phone.clear();
    EXPECT_EQ(outcome([&] { pair(wrongPin); }), "transport: The camera's certificate does not match the fingerprint it advertised.");
    EXPECT_TRUE(phone.log().empty());
}

TEST_F(PhoneClient, EachWrongFieldOfAPairingReply) {
    const std::string incomplete = "Pairing response is incomplete or grants the wrong scope.";
    const std::vector<std::pair<Json, std::string>> cases = {
        {Json::array({"schemaVersion", 2}), incomplete},
        {Json::array({"deviceId", ""}), incomplete},
        {Json::array({"sessionId", ""}), incomplete},
        {Json::array({"bearerToken", std::string(31, 't')}), incomplete},
        {Json::array({"foregroundOnly", false}), incomplete},
        {Json::array({"scopes", Json::array({"catalog.read"})}), incomplete},
        {Json::array({"deviceId", "7f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"}), "Camera identity changed during pairing."},
        {Json::array({"sessionId", "0f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"}), "Transfer session changed during pairing."},
        {Json::array({"certificateSHA256", std::string(64, 'b')}), "Certificate fingerprint changed during pairing."},
        {Json::array({"expiresAt", "2099-01-01T00:00:00Z"}), "Transfer session expiry is invalid."},
        {Json::array({"expiresAt", "tomorrow"}), "Transfer session expiry is invalid."},
        {Json::array({"foregroundOnly", nullptr}), "undecodable"},
        {Json::array({"scopes", "catalog.read"}), "undecodable"},
    };
    for (const auto& [field, expected] : cases) {
        phone.fault("pair", "pairField", field, 1);
        EXPECT_EQ(outcome([&] { pair(); }), expected) << field.dump();
    }
    EXPECT_EQ(outcome([&] { pair(); }), "succeeded");
}

TEST_F(PhoneClient, RangeReplyFaults) {
    auto client = pair();
    struct Case {
        std::string fault;
        Json value;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"status", 500, "Transfer server returned HTTP 500."},
        {"full200", nullptr, "Transfer server returned HTTP 200."},
        {"redirect", "https://127.0.0.1:1/elsewhere", "Transfer server returned HTTP 302."},
        {"dropHeader", "Accept-Ranges", "File server did not confirm byte-range support."},
        {"header", Json::array({"Accept-Ranges", "none"}), "File server did not confirm byte-range support."},
        {"dropHeader", "Content-Range", "File server returned the wrong byte range."},
        {"header", Json::array({"Content-Range", "bytes 0-999/300001"}), "File server returned the wrong byte range."},
        {"longBody", 10, "Downloaded chunk length does not match the requested range."},
        {"rawBody", "abc", "Downloaded chunk length does not match the requested range."},
        {"noLength", nullptr, "Downloaded chunk length does not match the requested range."},
        {"dropHeader", "ETag", "File identity headers do not match the catalog."},
        {"dropHeader", "X-VELK-SHA256", "File identity headers do not match the catalog."},
        {"header", Json::array({"X-VELK-SHA256", std::string(64, 'c')}), "File identity headers do not match the catalog."},
        {"header", Json::array({"ETag", "\"" + std::string(64, 'c') + "\""}), "File identity headers do not match the catalog."},
    };
    for (const auto& c : cases) {
        phone.fault("files", c.fault, c.value, 1);
        EXPECT_EQ(outcome([&] { client->fetchRange(fileURL(), 0, 999, fileSize(), fileDigest()); }), c.expected)
            << c.fault << " " << c.value.dump();
    }
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(client->fetchRange(fileURL(), 0, 999, fileSize(), fileDigest()).size(), 1000u);
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

TEST_F(PhoneClient, SidecarFaults) {
    auto client = pair();
    const std::string url = fileURL() + ".timing.json";
    const std::string digest = sidecar.at("sha256");
    const std::string sentence = "Timing sidecar failed length or SHA-256 verification.";
    phone.fault("sidecar", "status", 404, 1);
    EXPECT_EQ(outcome([&] { client->fetchTimingSidecar(clipId, url, digest); }), sentence);
    phone.fault("sidecar", "rawBody", "{\"anchors\":[1]}", 1);
    EXPECT_EQ(outcome([&] { client->fetchTimingSidecar(clipId, url, digest); }), sentence);
    phone.fault("sidecar", "rawBody", "", 1);
    EXPECT_EQ(outcome([&] { client->fetchTimingSidecar(clipId, url, digest); }), sentence);
    phone.fault("sidecar", "noLength", nullptr, 1);
    EXPECT_EQ(outcome([&] { client->fetchTimingSidecar(clipId, url, digest); }), sentence);
    phone.fault("sidecar", "failConnection", nullptr, 1);
    EXPECT_EQ(outcome([&] { client->fetchTimingSidecar(clipId, url, digest); }), "succeeded");
}

TEST_F(PhoneClient, CatalogAndEndFaults) {
    auto client = pair();
    phone.fault("catalog", "status", 503, 1);
    EXPECT_EQ(outcome([&] { client->fetchCatalog(); }), "Transfer server returned HTTP 503.");
    phone.fault("catalog", "failConnection", nullptr, 2);
    EXPECT_EQ(outcome([&] { client->fetchCatalog(); }), "transport: The network connection was lost.");
    EXPECT_TRUE(sleeps.empty());
    // A token the phone no longer accepts.
    phone.command(Json{{"cmd", "config"}, {"bearerToken", "another-token-another-token-another"}});
    EXPECT_EQ(outcome([&] { client->fetchCatalog(); }), "Transfer server returned HTTP 401.");
    phone.fault("end", "status", 404, 1);
    EXPECT_FALSE(client->end());
}

TEST_F(PhoneClient, EachWrongTrashConfirmation) {
    auto client = pair();
    const std::vector<std::map<std::string, std::string>> proof{{{"clipId", clipId}, {"sha256", fileDigest()}}};
    const std::string refused = "Source did not confirm recoverable project removal.";
    const std::vector<std::pair<std::string, Json>> cases = {
        {"trashReply", Json::array({"movedToTrash", false})},
        {"trashReply", Json::array({"movedToTrash", 1})},
        {"trashReply", Json::array({"movedToTrash", nullptr})},
        {"trashReply", Json::array({"schemaVersion", true})},
        {"trashReply", Json::array({"schemaVersion", 2})},
        {"trashReply", Json::array({"requestId", "1a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"})},
        {"status", 204},
        {"rawBody", "[]"},
    };
    for (const auto& [fault, value] : cases) {
        phone.fault("delete", fault, value, 1);
        EXPECT_EQ(outcome([&] { client->trashSourceProject("unassigned", requestId, proof); }), refused) << value.dump();
    }
    phone.fault("delete", "rawBody", "", 1);
    EXPECT_EQ(outcome([&] { client->trashSourceProject("unassigned", requestId, proof); }), "undecodable");
    phone.fault("delete", "trashReply", Json::array({"schemaVersion", 1.0}), 1);
    EXPECT_EQ(outcome([&] { client->trashSourceProject("unassigned", requestId, proof); }), "succeeded");
}

TEST_F(PhoneClient, OpenSourceSendsNoToken) {
    phone.command(Json{{"cmd", "config"}, {"open", true}});
    DiscoveredDevice open = device();
    open.transferAccess = "open";
    auto client = AuthenticatedTransferClient::connectOpen(open, environment);
    EXPECT_EQ(client->fetchRange(fileURL(), 0, 0, fileSize(), fileDigest()).size(), 1u);
    const Json log = phone.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(log[0].at("headers").contains("authorization"));
}

} // namespace
} // namespace velk

#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "base/sha256.hpp"
#include "test_peers.hpp"
#include "transfer/authenticated_transfer_client.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {
namespace {

const std::string clipId = "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";

std::string lowerHexWithoutColons(const std::string& printed) {
    std::string out;
    for (char c : printed) {
        if (c == ':') continue;
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

class NginxRanges : public ::testing::Test {
protected:
    NginxRanges() {
        std::mt19937 random(7);
        content.resize(3 * 1024 * 1024 + 12'345);
        for (char& c : content) c = static_cast<char>(random() & 0xFF);
        sidecar = "{\"anchors\":[{\"source_seconds\":0}]}";
        digest = Sha256::hexOf(content);
        const auto folder = dir.path() / "www" / "velk" / "v1" / "files";
        std::filesystem::create_directories(folder);
        std::ofstream(folder / clipId, std::ios::binary) << content;
        std::ofstream(folder / (clipId + ".timing.json"), std::ios::binary) << sidecar;
        const std::string locations =
            "    location /velk/v1/files/ {\n"
            "      etag off;\n"
            "      add_header Accept-Ranges bytes always;\n"
            "      add_header X-VELK-SHA256 " + digest + " always;\n"
            "      add_header ETag '\"sha256:" + digest + "\"' always;\n"
            "    }\n"
            "    location = /velk/v1/moved { return 301 /velk/v1/files/" + clipId + "; }\n";
        server.emplace(dir, certificate, locations);
    }

    std::shared_ptr<AuthenticatedTransferClient> connect() {
        DiscoveredDevice device;
        device.serviceName = "nginx";
        device.catalogURL = "https://127.0.0.1:" + std::to_string(server->port) + "/velk/v1/catalog";
        device.serviceType = "_velk-transfer._tcp.";
        device.deviceId = "0123456789abcdef";
        device.sessionId = "9a8b7c6d-1234-4abc-8def-0123456789ab";
        device.certificateSHA256 = lowerHexWithoutColons(certificate.opensslFingerprint);
        device.foregroundOnly = true;
        device.transferAccess = "open";
        return AuthenticatedTransferClient::connectOpen(device);
    }

    std::string fileURL() const { return "https://127.0.0.1:" + std::to_string(server->port) + "/velk/v1/files/" + clipId; }

    testing::TempDir dir;
    testing::TestCertificate certificate = testing::makeSelfSignedCertificate(dir, "nginx");
    std::string content;
    std::string sidecar;
    std::string digest;
    std::optional<testing::NginxServer> server;
};

TEST_F(NginxRanges, WholeFileInVerifiedRanges) {
    auto client = connect();
    const std::int64_t total = static_cast<std::int64_t>(content.size());
    const std::int64_t chunk = 1024 * 1024;
    std::string assembled;
    for (std::int64_t start = 0; start < total; start += chunk) {
        const std::int64_t end = std::min(start + chunk, total) - 1;
        const Bytes bytes = client->fetchRange(fileURL(), start, end, total, digest);
        assembled.append(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(assembled, content);
    const Bytes last = client->fetchRange(fileURL(), total - 1, total - 1, total, digest);
    EXPECT_EQ(last, Bytes{static_cast<std::uint8_t>(content.back())});
    EXPECT_FALSE(client->end()); // nginx has no session end route
}

TEST_F(NginxRanges, WrongTotalOrDigestFails) {
    auto client = connect();
    const std::int64_t total = static_cast<std::int64_t>(content.size());
    try {
        client->fetchRange(fileURL(), 0, 99, total + 1, digest);
        ADD_FAILURE();
    } catch (const TransferProtocolError& error) {
        EXPECT_STREQ(error.what(), "File server returned the wrong byte range.");
    }
    try {
        client->fetchRange(fileURL(), 0, 99, total, std::string(64, 'e'));
        ADD_FAILURE();
    } catch (const TransferProtocolError& error) {
        EXPECT_STREQ(error.what(), "File identity headers do not match the catalog.");
    }
}

TEST_F(NginxRanges, TimingSidecarIsVerified) {
    auto client = connect();
    const Bytes read = client->fetchTimingSidecar(clipId, fileURL() + ".timing.json", Sha256::hexOf(sidecar));
    EXPECT_EQ(std::string(read.begin(), read.end()), sidecar);
}

TEST_F(NginxRanges, WholeFileReplyIsStoppedAtItsDeclaredLength) {
    auto session = makePinnedHttpsSession(certificate.opensslFingerprint);
    HttpsRequest request;
    request.url = fileURL();
    request.maxBodyBytes = 1000;
    const HttpsResponse response = session->send(request);
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.bodyExceededLimit);
    EXPECT_TRUE(response.body.empty());
}

TEST_F(NginxRanges, RedirectIsNotFollowed) {
    auto session = makePinnedHttpsSession(certificate.opensslFingerprint);
    HttpsRequest request;
    request.url = "https://127.0.0.1:" + std::to_string(server->port) + "/velk/v1/moved";
    const HttpsResponse response = session->send(request);
    EXPECT_EQ(response.status, 301);
    ASSERT_TRUE(response.header("Location"));
    EXPECT_NE(response.header("Location")->find("/velk/v1/files/"), std::string::npos);
}

} // namespace
} // namespace velk

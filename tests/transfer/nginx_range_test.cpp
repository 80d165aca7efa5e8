#include <fstream>

#include <gtest/gtest.h>

#include "fake_clip_source.hpp"
#include "test_peers.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

using testing::outcome;
const std::string clipId = testing::clipUUID;

class NginxRanges : public ::testing::Test {
protected:
    NginxRanges() {
        content = testing::patternBytes(3 * 1024 * 1024 + 12'345, 7);
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
            "    }\n";
        server.emplace(dir, certificate, locations);
    }

    std::shared_ptr<AuthenticatedTransferClient> connect() {
        DiscoveredDevice device = testing::pairingDevice();
        device.catalogURL = "https://127.0.0.1:" + std::to_string(server->port) + "/velk/v1/catalog";
        device.deviceId = "0123456789abcdef";
        device.certificateSHA256 = TransferProtocol::normalizedSHA256(certificate.opensslFingerprint);
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

TEST_F(NginxRanges, WrongTotalOrDigestFailsAndTheSidecarIsVerified) {
    auto client = connect();
    const std::int64_t total = static_cast<std::int64_t>(content.size());
    EXPECT_EQ(outcome([&] { client->fetchRange(fileURL(), 0, 99, total + 1, digest); }), "File server returned the wrong byte range.");
    EXPECT_EQ(outcome([&] { client->fetchRange(fileURL(), 0, 99, total, std::string(64, 'e')); }),
              "File identity headers do not match the catalog.");
    const Bytes read = client->fetchTimingSidecar(clipId, fileURL() + ".timing.json", Sha256::hexOf(sidecar));
    EXPECT_EQ(std::string(read.begin(), read.end()), sidecar);
}

} // namespace
} // namespace velk

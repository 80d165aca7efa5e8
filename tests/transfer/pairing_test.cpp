#include <algorithm>

#include <gtest/gtest.h>

#include "base/uuid.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

using namespace velk::testing;
using Pairing = FakePhoneTest;

TEST_F(Pairing, RefusedBeforeSending) {
    const std::string notAdvertising = "This camera is not advertising authenticated transfer.";
    const std::string enterCode = "Enter the six-digit code shown on the camera.";
    struct Case {
        std::function<void(DiscoveredDevice&)> change;
        std::string code;
        bool confirmed;
        std::string sentence;
    };
    const std::vector<Case> cases = {
        {[](auto& d) { d.serviceType = "_velk._tcp."; }, "123456", true, notAdvertising},
        {[](auto& d) { d.catalogURL = "http://phone.local:8443/velk/v1/catalog"; }, "123456", true, notAdvertising},
        {[](auto&) {}, "123456", false, "Confirm that the fingerprint shown on both devices matches."},
        {[](auto&) {}, "12345", true, enterCode},
        {[](auto&) {}, "1234567", true, enterCode},
        {[](auto&) {}, "12a456", true, enterCode},
        {[](auto&) {}, "", true, enterCode},
        {[](auto&) {}, "123 456", true, enterCode},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence + " " + c.code);
        DiscoveredDevice device = pairingDevice();
        c.change(device);
        EXPECT_EQ(outcome([&] { pair(device, c.code, "Edit Suite", c.confirmed); }), c.sentence);
    }
    EXPECT_EQ(state->sentCount(), 0u);
}

TEST_F(Pairing, RequestThroughThePinnedSessionAndTheClientItMakes) {
    answer(200, pairingGrant().dump());
    auto client = pair(pairingDevice(), " 123456\n");
    ASSERT_EQ(state->sentCount(), 1u);
    const HttpsRequest request = state->lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "https://phone.local:8443/velk/v1/pair");
    EXPECT_EQ(headerOf(request, "Content-Type"), "application/json");
    EXPECT_EQ(headerOf(request, "Accept"), "application/json");
    EXPECT_EQ(headerOf(request, "Authorization"), std::nullopt);
    EXPECT_EQ(headerOf(request, "X-VELK-Session-ID"), std::nullopt);
    EXPECT_EQ(state->pins, std::vector<std::string>{fingerprint});
    Json body = json::parse(request.body);
    const std::string requestId = body.at("requestId");
    EXPECT_TRUE(uuid::isValid(requestId));
    EXPECT_TRUE(std::none_of(requestId.begin(), requestId.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
    body.erase("requestId");
    EXPECT_EQ(body, (Json{{"schemaVersion", 1}, {"pairingCode", "123456"}, {"collectorId", "collector-1"},
                          {"collectorName", "Edit Suite"}, {"certificateSHA256", fingerprint}}));

    EXPECT_EQ(client->deviceId(), "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b");
    EXPECT_EQ(client->catalogURL(), phoneCatalogURL);
    EXPECT_TRUE(client->supportsProjectTrash());
    EXPECT_EQ(client->summary(), (TransferSessionSummary{"6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b", "Stage Left", sessionUUID,
                                                         rfc3339::parse("2026-05-01T12:15:00Z").value(), fingerprint,
                                                         false, true}));
}

TEST_F(Pairing, CollectorNameIsTrimmedAndBounded) {
    std::string seventy;
    for (int i = 0; i < 70; ++i) seventy += "\xC3\xA9"; // 70 characters, 140 bytes
    const std::vector<std::pair<std::string, std::string>> cases = {{"   \n", "Kestova Desktop"},
                                                                    {"  " + seventy + "  ", seventy.substr(0, 128)}};
    answer(200, pairingGrant().dump());
    for (const auto& [given, sent] : cases) {
        pair(pairingDevice(), "123456", given);
        EXPECT_EQ(json::parse(state->lastRequest().body).at("collectorName"), sent);
    }
}

Json grantWith(const std::function<void(Json&)>& change) {
    Json grant = pairingGrant();
    change(grant);
    return grant;
}

TEST_F(Pairing, ReplyChecksInOrder) {
    const std::string incomplete = "Pairing response is incomplete or grants the wrong scope.";
    const std::string expiry = "Transfer session expiry is invalid.";
    const std::string good = pairingGrant().dump();
    struct Case {
        std::string name;
        std::string body;
        std::string expected;
        int status = 200;
    };
    auto changed = [](std::function<void(Json&)> change) { return grantWith(change).dump(); };
    const std::vector<Case> cases = {
        {"201", good, "Transfer server returned HTTP 201.", 201},
        {"204", good, "Transfer server returned HTTP 204.", 204},
        {"301", good, "Transfer server returned HTTP 301.", 301},
        {"403", good, "Transfer server returned HTTP 403.", 403},
        {"not JSON", "not json", "undecodable"},
        {"2 MiB reply", std::string(2 * 1024 * 1024, ' '), "undecodable"},
        {"no foregroundOnly", changed([](Json& g) { g.erase("foregroundOnly"); }), "undecodable"},
        {"null foregroundOnly", changed([](Json& g) { g["foregroundOnly"] = nullptr; }), "undecodable"},
        {"scopes as a string", changed([](Json& g) { g["scopes"] = "catalog.read"; }), "undecodable"},
        {"schema 2", changed([](Json& g) { g["schemaVersion"] = 2; }), incomplete},
        {"empty device id", changed([](Json& g) { g["deviceId"] = ""; }), incomplete},
        {"empty session id", changed([](Json& g) { g["sessionId"] = ""; }), incomplete},
        {"token of 31 bytes", changed([](Json& g) { g["bearerToken"] = token32.substr(1); }), incomplete},
        {"token of 32 bytes", good, "succeeded"},
        {"not foreground only", changed([](Json& g) { g["foregroundOnly"] = false; }), incomplete},
        {"no files.read", changed([](Json& g) { g["scopes"] = Json::array({"catalog.read"}); }), incomplete},
        {"scopes in another order with an extra one",
         changed([](Json& g) { g["scopes"] = Json::array({"files.read", "catalog.read", "preview.read"}); }), "succeeded"},
        {"another device", changed([](Json& g) { g["deviceId"] = "7f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"; }),
         "Camera identity changed during pairing."},
        {"device id without canonical form", changed([](Json& g) { g["deviceId"] = "phone"; }),
         "Camera identity changed during pairing."},
        {"session id in another case", changed([](Json& g) { g["sessionId"] = upper(sessionUUID); }),
         "Transfer session changed during pairing."},
        {"another fingerprint", changed([](Json& g) { g["certificateSHA256"] = std::string(64, 'a'); }),
         "Certificate fingerprint changed during pairing."},
        {"fingerprint upper case with colons", changed([](Json& g) { g["certificateSHA256"] = separatedDigest(fingerprint); }),
         "succeeded"},
        {"expiry 930 s ahead", changed([](Json& g) { g["expiresAt"] = "2026-05-01T12:15:30Z"; }), "succeeded"},
        {"expiry 930 s ahead, fractional", changed([](Json& g) { g["expiresAt"] = "2026-05-01T12:15:30.000Z"; }), "succeeded"},
        {"expiry 931 s ahead", changed([](Json& g) { g["expiresAt"] = "2026-05-01T12:15:31Z"; }), expiry},
        {"expiry 931 s ahead, fractional", changed([](Json& g) { g["expiresAt"] = "2026-05-01T12:15:31.000Z"; }), expiry},
        {"expiry in another zone", changed([](Json& g) { g["expiresAt"] = "2026-05-01T14:10:00+02:00"; }), "succeeded"},
        {"expiry now", changed([](Json& g) { g["expiresAt"] = "2026-05-01T12:00:00Z"; }), expiry},
        {"expiry past", changed([](Json& g) { g["expiresAt"] = "2026-05-01T11:59:00Z"; }), expiry},
        {"expiry unparsable", changed([](Json& g) { g["expiresAt"] = "soon"; }), expiry},
        // The scope check comes before identity, session and expiry.
        {"everything wrong", changed([](Json& g) {
             g["bearerToken"] = "short";
             g["deviceId"] = "other";
             g["expiresAt"] = "soon";
         }), incomplete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answer(c.status, c.body);
        EXPECT_EQ(outcome([&] { pair(); }), c.expected);
    }
}

TEST_F(Pairing, AdvertisedIdentityIsOptionalAndTransportErrorsPassThrough) {
    DiscoveredDevice device = pairingDevice();
    device.deviceId.reset();
    answer(200, grantWith([](Json& g) { g["deviceId"] = "anything"; }).dump());
    EXPECT_EQ(pair(device)->deviceId(), "anything");
    answer([](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::cancelled, "refused"); });
    EXPECT_EQ(outcome([&] { pair(); }), "transport: refused");
}

TEST_F(Pairing, OpenConnectionIsMadeLocallyFromTheAdvertisement) {
    DiscoveredDevice device = pairingDevice();
    device.transferAccess = "open";
    auto client = AuthenticatedTransferClient::connectOpen(device, environment);
    EXPECT_EQ(state->sentCount(), 0u);
    EXPECT_TRUE(client->openAccess());
    EXPECT_TRUE(client->summary().openAccess);
    EXPECT_EQ(client->deviceId(), "6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B");
    EXPECT_EQ(client->fingerprint(), fingerprint);
    EXPECT_EQ(client->expiresAt(), pairingNow + std::chrono::seconds(900));
    clock.setWall(client->expiresAt() - std::chrono::microseconds(1));
    EXPECT_FALSE(client->isExpired());
    clock.setWall(client->expiresAt());
    EXPECT_TRUE(client->isExpired());

    const std::vector<std::function<void(DiscoveredDevice&)>> refused = {
        [](auto& d) { d.transferAccess = "Open"; },          [](auto& d) { d.sessionId = "session-1"; },
        [](auto& d) { d.deviceId = "0123456789ABCDEF"; },     [](auto& d) { d.deviceId.reset(); },
        [](auto& d) { d.foregroundOnly = false; },
    };
    for (std::size_t i = 0; i < refused.size(); ++i) {
        SCOPED_TRACE(i);
        DiscoveredDevice changed = device;
        refused[i](changed);
        EXPECT_EQ(outcome([&] { AuthenticatedTransferClient::connectOpen(changed, environment); }),
                  "This source is not advertising open project sharing.");
    }
}

} // namespace
} // namespace velk

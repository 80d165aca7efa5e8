#include <gtest/gtest.h>

#include "base/json.hpp"
#include "base/rfc3339.hpp"
#include "base/uuid.hpp"
#include "fake_https_session.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {
namespace {

using testing::FakeHttpsState;
using testing::headerOf;
using testing::reply;

const std::string fingerprint = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string sessionUUID = "9a8b7c6d-1234-4abc-8def-0123456789ab";
const std::string token32 = "abcdefghijklmnopqrstuvwxyz012345";
const WallTime now = rfc3339::parse("2026-05-01T12:00:00Z").value();

DiscoveredDevice pairedDevice() {
    DiscoveredDevice device;
    device.serviceName = "Stage Left";
    device.catalogURL = "https://phone.local:8443/velk/v1/catalog";
    device.serviceType = "_velk-transfer._tcp.";
    device.deviceId = "6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B";
    device.sessionId = sessionUUID;
    device.certificateSHA256 = "0123456789ABCDEF" + fingerprint.substr(16);
    device.foregroundOnly = true;
    device.projectTrashVersion = "trash-v1";
    return device;
}

Json grant() {
    return Json{{"schemaVersion", 1},
                {"deviceId", "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"},
                {"sessionId", sessionUUID},
                {"bearerToken", token32},
                {"expiresAt", "2026-05-01T12:15:00Z"},
                {"scopes", Json::array({"catalog.read", "files.read"})},
                {"certificateSHA256", fingerprint},
                {"foregroundOnly", true}};
}

class Pairing : public ::testing::Test {
protected:
    Pairing() : clock(now) {
        environment.clock = &clock;
        environment.makeSession = testing::fakeSessionFactory(state);
        setGrant(grant());
    }

    void setGrant(const Json& body, int status = 200) {
        const std::string text = body.dump();
        state->handler = [text, status](const HttpsRequest&) { return reply(status, text); };
    }

    std::shared_ptr<AuthenticatedTransferClient> pair(const DiscoveredDevice& device = pairedDevice(),
                                                      std::string code = "123456", std::string name = "Edit Suite",
                                                      bool confirmed = true) {
        return AuthenticatedTransferClient::pair(device, code, "collector-1", name, confirmed, environment);
    }

    std::string failure(const DiscoveredDevice& device = pairedDevice(), std::string code = "123456", bool confirmed = true) {
        try {
            pair(device, code, "Edit Suite", confirmed);
            return "paired";
        } catch (const TransferProtocolError& error) {
            return error.what();
        }
    }

    std::string failureWithGrant(const Json& body, int status = 200) {
        setGrant(body, status);
        return failure();
    }

    Json sentBody() {
        const auto request = state->lastRequest();
        return json::parse(request.body);
    }

    std::shared_ptr<FakeHttpsState> state = std::make_shared<FakeHttpsState>();
    ManualClock clock;
    TransferClientEnvironment environment;
};

TEST_F(Pairing, RefusedBeforeSending) {
    DiscoveredDevice legacy = pairedDevice();
    legacy.serviceType = "_velk._tcp.";
    EXPECT_EQ(failure(legacy), "This camera is not advertising authenticated transfer.");
    EXPECT_EQ(failure(pairedDevice(), "123456", false), "Confirm that the fingerprint shown on both devices matches.");
    for (const char* code : {"12345", "1234567", "12a456", "", "123 456"}) {
        EXPECT_EQ(failure(pairedDevice(), code), "Enter the six-digit code shown on the camera.") << code;
    }
    DiscoveredDevice plainHTTP = pairedDevice();
    plainHTTP.catalogURL = "http://phone.local:8443/velk/v1/catalog";
    EXPECT_EQ(failure(plainHTTP), "This camera is not advertising authenticated transfer.");
    EXPECT_EQ(state->sentCount(), 0u);
}

TEST_F(Pairing, SendsTheRequestThroughThePinnedSession) {
    auto client = pair(pairedDevice(), " 123456\n");
    ASSERT_EQ(state->sentCount(), 1u);
    const HttpsRequest request = state->lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "https://phone.local:8443/velk/v1/pair");
    EXPECT_EQ(headerOf(request, "Content-Type"), "application/json");
    EXPECT_EQ(headerOf(request, "Accept"), "application/json");
    EXPECT_EQ(headerOf(request, "Authorization"), std::nullopt);
    EXPECT_EQ(headerOf(request, "X-VELK-Session-ID"), std::nullopt);
    EXPECT_EQ(state->pins, std::vector<std::string>{fingerprint});

    const Json body = sentBody();
    EXPECT_EQ(body.at("schemaVersion"), 1);
    EXPECT_EQ(body.at("pairingCode"), "123456");
    EXPECT_EQ(body.at("collectorId"), "collector-1");
    EXPECT_EQ(body.at("collectorName"), "Edit Suite");
    EXPECT_EQ(body.at("certificateSHA256"), fingerprint);
    const std::string requestId = body.at("requestId");
    EXPECT_TRUE(uuid::isValid(requestId));
    for (char c : requestId) EXPECT_FALSE(c >= 'A' && c <= 'Z');
}

TEST_F(Pairing, CollectorName) {
    pair(pairedDevice(), "123456", "   \n");
    EXPECT_EQ(sentBody().at("collectorName"), "Kestova Mac");
    std::string seventy;
    for (int i = 0; i < 70; ++i) seventy += "\xC3\xA9"; // 70 characters, 140 bytes
    pair(pairedDevice(), "123456", "  " + seventy + "  ");
    EXPECT_EQ(sentBody().at("collectorName"), seventy.substr(0, 128));
}

TEST_F(Pairing, ClientCarriesTheGrant) {
    auto client = pair();
    EXPECT_EQ(client->deviceId(), "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b");
    EXPECT_EQ(client->deviceName(), "Stage Left");
    EXPECT_EQ(client->sessionId(), sessionUUID);
    EXPECT_EQ(client->expiresAt(), rfc3339::parse("2026-05-01T12:15:00Z").value());
    EXPECT_EQ(client->fingerprint(), fingerprint);
    EXPECT_EQ(client->catalogURL(), "https://phone.local:8443/velk/v1/catalog");
    EXPECT_TRUE(client->supportsProjectTrash());
    EXPECT_FALSE(client->openAccess());
    const auto summary = client->summary();
    EXPECT_EQ(summary, (TransferSessionSummary{client->deviceId(), "Stage Left", sessionUUID, client->expiresAt(), fingerprint,
                                               false, true}));
}

TEST_F(Pairing, StatusOtherThan200IsAnHttpError) {
    for (int status : {201, 204, 301, 403}) {
        setGrant(grant(), status);
        try {
            pair();
            ADD_FAILURE() << status;
        } catch (const TransferProtocolError& error) {
            EXPECT_EQ(error, TransferProtocolError::http(status));
        }
    }
}

TEST_F(Pairing, ReplyChecksInOrder) {
    const std::string incomplete = "Pairing response is incomplete or grants the wrong scope.";
    struct Case {
        std::string name;
        std::function<void(Json&)> change;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"schema 2", [](Json& g) { g["schemaVersion"] = 2; }, incomplete},
        {"empty device id", [](Json& g) { g["deviceId"] = ""; }, incomplete},
        {"empty session id", [](Json& g) { g["sessionId"] = ""; }, incomplete},
        {"token of 31 bytes", [](Json& g) { g["bearerToken"] = token32.substr(1); }, incomplete},
        {"token of 32 bytes", [](Json& g) { g["bearerToken"] = token32; }, "paired"},
        {"not foreground only", [](Json& g) { g["foregroundOnly"] = false; }, incomplete},
        {"no files.read", [](Json& g) { g["scopes"] = Json::array({"catalog.read"}); }, incomplete},
        {"scopes in another order with an extra one",
         [](Json& g) { g["scopes"] = Json::array({"files.read", "catalog.read", "preview.read"}); }, "paired"},
        {"another device", [](Json& g) { g["deviceId"] = "7f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"; },
         "Camera identity changed during pairing."},
        {"device id without canonical form", [](Json& g) { g["deviceId"] = "phone"; },
         "Camera identity changed during pairing."},
        {"session id in another case", [](Json& g) { g["sessionId"] = "9A8B7C6D-1234-4ABC-8DEF-0123456789AB"; },
         "Transfer session changed during pairing."},
        {"another fingerprint", [](Json& g) { g["certificateSHA256"] = std::string(64, 'a'); },
         "Certificate fingerprint changed during pairing."},
        {"fingerprint upper case with colons",
         [](Json& g) { g["certificateSHA256"] = "01:23:45:67:89:AB:CD:EF" + fingerprint.substr(16); }, "paired"},
        {"expiry 930 s ahead", [](Json& g) { g["expiresAt"] = "2026-05-01T12:15:30Z"; }, "paired"},
        {"expiry 930 s ahead with fractional seconds", [](Json& g) { g["expiresAt"] = "2026-05-01T12:15:30.000Z"; }, "paired"},
        {"expiry 931 s ahead", [](Json& g) { g["expiresAt"] = "2026-05-01T12:15:31Z"; }, "Transfer session expiry is invalid."},
        {"expiry 931 s ahead with fractional seconds", [](Json& g) { g["expiresAt"] = "2026-05-01T12:15:31.000Z"; },
         "Transfer session expiry is invalid."},
        {"expiry in another zone", [](Json& g) { g["expiresAt"] = "2026-05-01T14:10:00+02:00"; }, "paired"},
        {"expiry now", [](Json& g) { g["expiresAt"] = "2026-05-01T12:00:00Z"; }, "Transfer session expiry is invalid."},
        {"expiry past", [](Json& g) { g["expiresAt"] = "2026-05-01T11:59:00Z"; }, "Transfer session expiry is invalid."},
        {"expiry unparsable", [](Json& g) { g["expiresAt"] = "soon"; }, "Transfer session expiry is invalid."},
        // Checks run in order: the scope check comes before identity, session and expiry.
        {"everything wrong", [](Json& g) {
             g["bearerToken"] = "short";
             g["deviceId"] = "other";
             g["expiresAt"] = "soon";
         }, incomplete},
    };
    for (const auto& c : cases) {
        Json body = grant();
        c.change(body);
        EXPECT_EQ(failureWithGrant(body), c.expected) << c.name;
    }
}

TEST_F(Pairing, AdvertisedIdentityIsOptional) {
    DiscoveredDevice device = pairedDevice();
    device.deviceId.reset();
    Json body = grant();
    body["deviceId"] = "anything";
    setGrant(body);
    EXPECT_EQ(pair(device)->deviceId(), "anything");
}

TEST_F(Pairing, UndecodableRepliesPassTheDecodeErrorThrough) {
    state->handler = [](const HttpsRequest&) { return reply(200, "not json"); };
    EXPECT_THROW(pair(), JsonError);
    Json missing = grant();
    missing.erase("foregroundOnly");
    setGrant(missing);
    EXPECT_THROW(pair(), JsonError);
    // A reply larger than any pairing reply stops being read and fails as undecodable.
    state->handler = [](const HttpsRequest&) { return reply(200, std::string(2 * 1024 * 1024, ' ')); };
    EXPECT_THROW(pair(), JsonError);
}

TEST_F(Pairing, TransportErrorsPassThrough) {
    state->handler = [](const HttpsRequest&) -> HttpsResponse {
        throw HttpsTransportError(HttpsErrorKind::cancelled, "refused");
    };
    try {
        pair();
        ADD_FAILURE();
    } catch (const HttpsTransportError& error) {
        EXPECT_EQ(error.kind(), HttpsErrorKind::cancelled);
    }
    EXPECT_EQ(state->sentCount(), 1u);
}

TEST(OpenConnection, MadeLocallyFromTheAdvertisement) {
    auto state = std::make_shared<FakeHttpsState>();
    ManualClock clock(now);
    TransferClientEnvironment environment{&clock, testing::fakeSessionFactory(state), {}};
    DiscoveredDevice device = pairedDevice();
    device.transferAccess = "open";
    auto client = AuthenticatedTransferClient::connectOpen(device, environment);
    EXPECT_EQ(state->sentCount(), 0u);
    EXPECT_TRUE(client->openAccess());
    EXPECT_TRUE(client->summary().openAccess);
    EXPECT_EQ(client->deviceId(), "6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B");
    EXPECT_EQ(client->fingerprint(), fingerprint);
    EXPECT_EQ(client->expiresAt(), now + std::chrono::seconds(900));

    clock.setWall(client->expiresAt() - std::chrono::microseconds(1));
    EXPECT_FALSE(client->isExpired());
    clock.setWall(client->expiresAt());
    EXPECT_TRUE(client->isExpired());
}

TEST(OpenConnection, RefusedUnlessOpenWithCanonicalIdentity) {
    ManualClock clock(now);
    TransferClientEnvironment environment{&clock, testing::fakeSessionFactory(std::make_shared<FakeHttpsState>()), {}};
    const std::string sentence = "This source is not advertising open project sharing.";
    const std::vector<std::function<void(DiscoveredDevice&)>> changes = {
        [](DiscoveredDevice& d) { d.transferAccess = "Open"; },
        [](DiscoveredDevice& d) { d.sessionId = "session-1"; },
        [](DiscoveredDevice& d) { d.deviceId = "0123456789ABCDEF"; },
        [](DiscoveredDevice& d) { d.deviceId.reset(); },
        [](DiscoveredDevice& d) { d.foregroundOnly = false; },
    };
    for (const auto& change : changes) {
        DiscoveredDevice device = pairedDevice();
        device.transferAccess = "open";
        change(device);
        try {
            AuthenticatedTransferClient::connectOpen(device, environment);
            ADD_FAILURE();
        } catch (const TransferProtocolError& error) {
            EXPECT_STREQ(error.what(), sentence.c_str());
        }
    }
}

} // namespace
} // namespace velk

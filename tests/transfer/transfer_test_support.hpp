#pragma once
// What the transfer tests share: the usual identities, a phone as it advertises itself, its
// pairing grant, a fixture around the fake HTTPS session, and one text for how an operation ended.

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/clock.hpp"
#include "base/json.hpp"
#include "base/rfc3339.hpp"
#include "fake_https_session.hpp"
#include "transfer/authenticated_transfer_client.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk::testing {

inline const std::string fingerprint = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
inline const std::string sessionUUID = "9a8b7c6d-1234-4abc-8def-0123456789ab";
inline const std::string clipUUID = "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";
// A well-formed SHA-256 digest in lower-case hex.
inline const std::string sampleDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
inline const std::string projectUUID = "11111111-2222-4333-8444-555555555555";
inline const std::string requestUUID = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
inline const std::string phoneCatalogURL = "https://phone.local:8443/velk/v1/catalog";
inline const std::string token32 = "abcdefghijklmnopqrstuvwxyz012345";
inline const WallTime pairingNow = rfc3339::parse("2026-05-01T12:00:00Z").value();

// "succeeded", "transport: " and the description of a transport failure, "undecodable", or the
// sentence of any other error.
inline std::string outcome(const std::function<void()>& operation) {
    try {
        operation();
        return "succeeded";
    } catch (const TransferProtocolError& error) {
        return error.what();
    } catch (const HttpsTransportError& error) {
        return std::string("transport: ") + error.what();
    } catch (const JsonError&) {
        return "undecodable";
    } catch (const std::exception& error) {
        return error.what();
    }
}

inline std::string failureText(const std::exception_ptr& error) {
    if (!error) return "no error";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    }
}

inline std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A hexadecimal digest upper-cased with `separator` between its bytes, as some tools print it.
inline std::string separatedDigest(const std::string& hex, const std::string& separator = ":") {
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) out += (i ? separator : "") + upper(hex.substr(i, 2));
    return out;
}

inline DiscoveredDevice pairingDevice() {
    DiscoveredDevice device;
    device.serviceName = "Stage Left";
    device.catalogURL = phoneCatalogURL;
    device.serviceType = "_velk-transfer._tcp.";
    device.deviceId = "6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B";
    device.sessionId = sessionUUID;
    device.certificateSHA256 = "0123456789ABCDEF" + fingerprint.substr(16);
    device.foregroundOnly = true;
    device.projectTrashVersion = "trash-v1";
    return device;
}

inline Json pairingGrant(const std::string& bearerToken = token32) {
    return Json{{"schemaVersion", 1},
                {"deviceId", "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"},
                {"sessionId", sessionUUID},
                {"bearerToken", bearerToken},
                {"expiresAt", "2026-05-01T12:15:00Z"},
                {"scopes", Json::array({"catalog.read", "files.read"})},
                {"certificateSHA256", fingerprint},
                {"foregroundOnly", true}};
}

// A client of the fake session on a manual clock; sleeps of the retry only move that clock.
class FakePhoneTest : public ::testing::Test {
protected:
    FakePhoneTest() : clock(pairingNow) {
        environment.clock = &clock;
        environment.makeSession = fakeSessionFactory(state);
        environment.sleeper = [this](std::uint64_t nanoseconds, const CancellationToken*) {
            sleeps.push_back(nanoseconds);
            clock.advanceMs(static_cast<double>(nanoseconds) / 1e6);
        };
    }

    void answer(std::function<HttpsResponse(const HttpsRequest&)> handler) { state->handler = std::move(handler); }
    void answer(int status, std::string body = {}) {
        answer([status, body](const HttpsRequest&) { return reply(status, body); });
    }

    std::shared_ptr<AuthenticatedTransferClient> pair(const DiscoveredDevice& device = pairingDevice(),
                                                      const std::string& code = "123456",
                                                      const std::string& name = "Edit Suite", bool confirmed = true) {
        return AuthenticatedTransferClient::pair(device, code, "collector-1", name, confirmed, environment);
    }

    // A client paired with this token; the pairing exchange is forgotten.
    std::shared_ptr<AuthenticatedTransferClient> pairedClient(const std::string& bearerToken,
                                                              const std::string& trashVersion = "trash-v1") {
        DiscoveredDevice device = pairingDevice();
        device.projectTrashVersion = trashVersion;
        answer(200, pairingGrant(bearerToken).dump());
        auto client = pair(device);
        std::lock_guard lock(state->mutex);
        state->sent.clear();
        state->handler = nullptr;
        return client;
    }

    std::shared_ptr<FakeHttpsState> state = std::make_shared<FakeHttpsState>();
    ManualClock clock;
    TransferClientEnvironment environment;
    std::vector<std::uint64_t> sleeps;
};

} // namespace velk::testing

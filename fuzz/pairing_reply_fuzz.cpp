// The phone's pairing reply as the transfer client reads it: any body of a 200 reply either makes
// a session with the identity the phone advertised, or is refused with a transfer or JSON error.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "base/json.hpp"
#include "base/rfc3339.hpp"
#include "transfer/authenticated_transfer_client.hpp"
#include "transfer/transfer_protocol.hpp"

namespace {

using namespace velk;

class ReplySession final : public HttpsSession {
public:
    explicit ReplySession(Bytes body) : m_body(std::move(body)) {}
    HttpsResponse send(const HttpsRequest&) override { return HttpsResponse{.status = 200, .body = m_body}; }
    void invalidate() override {}

private:
    Bytes m_body;
};

const std::string kFingerprint(64, 'a');

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DiscoveredDevice device;
    device.serviceName = "Phone";
    device.serviceType = "_velk-transfer._tcp.";
    device.catalogURL = "https://phone.local:8443/velk/v1/catalog";
    device.deviceId = "0123456789abcdef";
    device.sessionId = "6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b";
    device.certificateSHA256 = kFingerprint;
    device.foregroundOnly = true;

    static const ManualClock clock(*rfc3339::parse("2026-03-04T05:06:07Z"));
    TransferClientEnvironment environment;
    environment.clock = &clock;
    Bytes body(data, data + size);
    environment.makeSession = [&body](std::string_view) { return std::make_unique<ReplySession>(body); };
    try {
        auto client = AuthenticatedTransferClient::pair(device, "123456", "collector", "Desk", true, environment);
        if (client->deviceId().empty() || client->fingerprint() != kFingerprint || client->isExpired()) std::abort();
    } catch (const TransferProtocolError&) {
    } catch (const JsonError&) {
    }
    return 0;
}

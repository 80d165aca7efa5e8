#pragma once
// The JSON bodies of the transfer pairing exchange: this computer's request and the phone's grant.
// Decoding checks types only; every check on values belongs to the pairing exchange.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"

namespace velk {

// The name this computer gives itself to a phone (pairing, transfer-mode requests) when the system
// names none.
inline constexpr std::string_view defaultCollectorName = "Kestova Desktop";

struct PairingRequest {
    std::int64_t schemaVersion = 1;
    std::string requestId;
    std::string collectorId;
    std::string collectorName;
    std::string pairingCode;
    std::string certificateSHA256;

    bool operator==(const PairingRequest&) const = default;
};

struct PairingResponse {
    std::int64_t schemaVersion = 0;
    std::string deviceId;
    std::string sessionId;
    std::string bearerToken;
    std::string expiresAt;
    std::vector<std::string> scopes;
    std::string certificateSHA256;
    bool foregroundOnly = false;

    bool operator==(const PairingResponse&) const = default;
};

void to_json(Json& json, const PairingRequest& request);
void from_json(const Json& json, PairingRequest& request);
void to_json(Json& json, const PairingResponse& response);
void from_json(const Json& json, PairingResponse& response);

// The request body as sent: one compact JSON object with all six keys.
std::string encodePairingRequest(const PairingRequest& request);
// Throws JsonError when the body is not JSON or does not decode.
PairingResponse decodePairingResponse(std::string_view jsonText);

} // namespace velk

#include "model/pairing_bodies.hpp"

namespace velk {

namespace {

std::vector<std::string> requireStringArray(const Json& object, std::string_view key) {
    const Json& array = json::requireArrayValue(object, key);
    std::vector<std::string> out;
    out.reserve(array.size());
    for (const Json& element : array) {
        auto text = json::stringValue(element);
        if (!text) throw JsonError("Expected an array of strings for key \"" + std::string(key) + "\".");
        out.push_back(std::move(*text));
    }
    return out;
}

} // namespace

void to_json(Json& json, const PairingRequest& request) {
    json = Json::object();
    json["schemaVersion"] = request.schemaVersion;
    json["requestId"] = request.requestId;
    json["collectorId"] = request.collectorId;
    json["collectorName"] = request.collectorName;
    json["pairingCode"] = request.pairingCode;
    json["certificateSHA256"] = request.certificateSHA256;
}

void from_json(const Json& json, PairingRequest& request) {
    PairingRequest decoded;
    decoded.schemaVersion = json::requireInt64(json, "schemaVersion");
    decoded.requestId = json::requireString(json, "requestId");
    decoded.collectorId = json::requireString(json, "collectorId");
    decoded.collectorName = json::requireString(json, "collectorName");
    decoded.pairingCode = json::requireString(json, "pairingCode");
    decoded.certificateSHA256 = json::requireString(json, "certificateSHA256");
    request = std::move(decoded);
}

void to_json(Json& json, const PairingResponse& response) {
    json = Json::object();
    json["schemaVersion"] = response.schemaVersion;
    json["deviceId"] = response.deviceId;
    json["sessionId"] = response.sessionId;
    json["bearerToken"] = response.bearerToken;
    json["expiresAt"] = response.expiresAt;
    json["scopes"] = response.scopes;
    json["certificateSHA256"] = response.certificateSHA256;
    json["foregroundOnly"] = response.foregroundOnly;
}

void from_json(const Json& json, PairingResponse& response) {
    PairingResponse decoded;
    decoded.schemaVersion = json::requireInt64(json, "schemaVersion");
    decoded.deviceId = json::requireString(json, "deviceId");
    decoded.sessionId = json::requireString(json, "sessionId");
    decoded.bearerToken = json::requireString(json, "bearerToken");
    decoded.expiresAt = json::requireString(json, "expiresAt");
    decoded.scopes = requireStringArray(json, "scopes");
    decoded.certificateSHA256 = json::requireString(json, "certificateSHA256");
    decoded.foregroundOnly = json::requireBool(json, "foregroundOnly");
    response = std::move(decoded);
}

std::string encodePairingRequest(const PairingRequest& request) {
    Json body;
    to_json(body, request);
    return json::write(body);
}

PairingResponse decodePairingResponse(std::string_view jsonText) {
    Json body = json::parse(jsonText);
    PairingResponse response;
    from_json(json::requireObject(body, "pairing response"), response);
    return response;
}

} // namespace velk

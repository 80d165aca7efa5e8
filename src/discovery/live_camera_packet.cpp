#include "discovery/live_camera_packet.hpp"

#include "base/unicode.hpp"
#include "discovery/wire_readers.hpp"

namespace velk {

std::string LiveCameraPacket::cameraID() const {
    if (auto id = wire::string(wire::member(payload, "id"))) return *id;
    return sender;
}

std::optional<std::string> LiveCameraPacket::sessionText() const {
    if (sessionID && sessionID->is_string()) return sessionID->get<std::string>();
    return std::nullopt;
}

std::optional<Json> parseDatagram(std::string_view datagram) {
    if (datagram.size() > maximumDatagramBytes) return std::nullopt;
    return json::tryParse(datagram);
}

std::optional<std::string> envelopeType(const Json& root, std::size_t datagramBytes) {
    if (datagramBytes > maximumDatagramBytes || !root.is_object()) return std::nullopt;
    auto version = wire::exactInteger(wire::member(root, "v"));
    if (!version || *version != 1) return std::nullopt;
    auto type = wire::string(wire::member(root, "type"));
    if (!type) return std::nullopt;
    return text::lowercased(*type);
}

std::optional<LiveCameraPacket> decodePacket(std::string_view datagram) {
    auto root = parseDatagram(datagram);
    if (!root) return std::nullopt;
    return decodePacket(*root, datagram.size());
}

std::optional<LiveCameraPacket> decodePacket(const Json& rootValue, std::size_t datagramBytes) {
    const Json* root = &rootValue;
    auto loweredType = envelopeType(rootValue, datagramBytes);
    if (loweredType != "announce" && loweredType != "status") return std::nullopt;

    const Json* payload = wire::member(*root, "payload");
    if (!payload || !payload->is_object()) return std::nullopt;

    auto sender = wire::string(wire::member(*root, "sender"));
    auto payloadID = wire::string(wire::member(*payload, "id"));
    std::string identity = sender ? *sender : payloadID.value_or(std::string());
    if (identity.empty() || identity.size() > maximumIdentityBytes) return std::nullopt;
    if (sender && payloadID && *sender != *payloadID) return std::nullopt;

    LiveCameraPacket packet;
    packet.type = std::move(*loweredType);
    packet.sender = std::move(identity);
    packet.payload = *payload;
    if (const Json* v = wire::member(*root, "sessionId")) {
        packet.hasSessionID = true;
        packet.sessionID = *v;
    }
    if (const Json* v = wire::member(*root, "seq")) {
        packet.hasSequence = true;
        packet.sequence = *v;
    }
    if (const Json* v = wire::member(*root, "sentMs")) {
        packet.hasSentMs = true;
        packet.sentMs = *v;
    }
    return packet;
}

} // namespace velk

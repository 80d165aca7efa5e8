#pragma once
// One camera announcement or status snapshot as it arrived on the live channel, by UDP or as the
// body of an identity-probe reply.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/json.hpp"

namespace velk {

struct LiveCameraPacket {
    std::string type;   // "announce" or "status", lower-cased
    std::string sender; // the envelope "sender" when a string, else the payload "id"
    Json payload = Json::object();
    // Presence and raw value are kept apart: the order filter treats a mistyped value differently
    // from a missing key.
    bool hasSessionID = false;
    std::optional<Json> sessionID;
    bool hasSequence = false;
    std::optional<Json> sequence;
    bool hasSentMs = false;
    std::optional<Json> sentMs;

    // The payload "id" when it is a string, otherwise the sender.
    std::string cameraID() const;
    // The envelope session when it is a string.
    std::optional<std::string> sessionText() const;
};

constexpr std::size_t maximumDatagramBytes = 8192;
constexpr std::size_t maximumIdentityBytes = 128;

// Every datagram of the channel is one JSON object of at most maximumDatagramBytes with "v" 1 and a
// "type". parseDatagram gives the JSON of a datagram within the size limit; envelopeType gives the
// lower-cased "type" of such an envelope, or none when the size, the object or "v" is wrong.
std::optional<Json> parseDatagram(std::string_view datagram);
std::optional<std::string> envelopeType(const Json& root, std::size_t datagramBytes);

// Decodes one snapshot datagram; none when any envelope rule fails.
std::optional<LiveCameraPacket> decodePacket(std::string_view datagram);
// The same rules on a datagram already parsed as JSON.
std::optional<LiveCameraPacket> decodePacket(const Json& root, std::size_t datagramBytes);

} // namespace velk

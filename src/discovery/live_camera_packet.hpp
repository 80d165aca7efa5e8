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

// Decodes one snapshot datagram; none when any envelope rule fails.
std::optional<LiveCameraPacket> decodePacket(std::string_view datagram);
// The same rules on a datagram already parsed as JSON.
std::optional<LiveCameraPacket> decodePacket(const Json& root, std::size_t datagramBytes);

} // namespace velk

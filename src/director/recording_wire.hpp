#pragma once
// The recording control packets of the UDP control channel: the envelope, its strict parser, the
// tolerant value readers, the identifier rule and a builder for every packet the Director sends.
// Payloads are JSON objects; their keys are sorted, so every datagram built here is deterministic.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"

namespace velk {

namespace RecordingWire {

inline constexpr std::uint16_t port = 45454;
inline constexpr const char* multicastGroup = "239.255.71.42";
inline constexpr std::size_t maximumDatagramBytes = 8192;
inline constexpr std::size_t identifierLimit = 128;
inline constexpr std::size_t takeIDLimit = 64;
inline constexpr std::size_t projectNameLimit = 256;
// 2^53 - 1: the largest integer a JSON number carries exactly everywhere.
inline constexpr std::int64_t maximumInteger = 9007199254740991;

// One received envelope that passed every check of `command`.
struct ReceivedCommand {
    std::string sender;                 // the camera id
    std::optional<std::string> session; // "sessionId" exactly as received
    Json payload;                       // an object whose "action" is a string
};

// The datagram bytes of one outgoing command, or none when the sender is not a UUID, the payload
// holds a value JSON cannot carry (a non-finite number included) or the result exceeds 8192 bytes.
std::optional<std::vector<std::uint8_t>> packet(const std::string& sender, const Json& payload, std::int64_t wallMs);

std::optional<ReceivedCommand> command(std::span<const std::uint8_t> datagram);
std::optional<ReceivedCommand> command(std::string_view datagram);

// The value under `key` when `object` is an object holding it; nullptr otherwise.
const Json* field(const Json& object, std::string_view key);

// Tolerant readers: nullptr (an absent key) or a value of another JSON type gives none.
std::optional<double> number(const Json* value);
std::optional<std::int64_t> integer(const Json* value);
std::optional<bool> boolean(const Json* value);
std::optional<std::string> text(const Json* value);
inline std::optional<double> number(const Json& object, std::string_view key) { return number(field(object, key)); }
inline std::optional<std::int64_t> integer(const Json& object, std::string_view key) { return integer(field(object, key)); }
inline std::optional<bool> boolean(const Json& object, std::string_view key) { return boolean(field(object, key)); }
inline std::optional<std::string> text(const Json& object, std::string_view key) { return text(field(object, key)); }

// Non-empty, at most `limit` UTF-8 bytes, no surrounding white space, no Cc or Cf scalar.
bool identifier(std::string_view text, std::size_t limit = identifierLimit);

// --- Payloads sent by the Director (without "target": the coordinator adds it when sending). ---
Json clockPing(const std::string& requestID, double t1);
Json stopTake(const std::string& takeID, const std::string& requestID);
// The legacy stop for one camera: empty take, "masterTimeMs" 0, empty name.
Json legacyStop(const std::string& target);
// The legacy stop to every camera, naming the cameras that got an acknowledged stop (sorted).
Json legacyBroadcast(const std::vector<std::string>& safeStopTargets);
Json cancelTake(const std::string& takeID);

} // namespace RecordingWire

} // namespace velk

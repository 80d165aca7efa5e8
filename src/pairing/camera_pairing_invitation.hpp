#pragma once
// The pairing invitation that the QR code carries, and the one error of camera pairing.

#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/json.hpp"

namespace velk {

// A full English sentence for the user; `what()` is that sentence.
class CameraPairingError : public std::runtime_error {
public:
    enum class Kind { invalid };
    static CameraPairingError invalid(const std::string& sentence) { return CameraPairingError(sentence); }
    Kind kind() const { return Kind::invalid; }
    const char* sentence() const { return what(); }

private:
    explicit CameraPairingError(const std::string& sentence) : std::runtime_error(sentence) {}
};

struct CameraPairingInvitation {
    std::string protocol;
    std::int64_t v = 0;
    std::string directorId;
    std::string directorName;
    std::string host;
    std::int64_t port = 0;
    std::string publicKey;
    std::string inviteId;
    std::string secret;
    std::int64_t expiresAtMs = 0;

    bool operator==(const CameraPairingInvitation&) const = default;
};

// All ten keys; reading needs all ten with their JSON types and ignores other keys (JsonError).
void to_json(Json& json, const CameraPairingInvitation& invitation);
void from_json(const Json& json, CameraPairingInvitation& invitation);
// The QR payload: compact JSON of the ten keys.
std::string encodeInvitation(const CameraPairingInvitation& invitation);

} // namespace velk

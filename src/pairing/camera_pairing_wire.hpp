#pragma once
// The encodings every pairing message relies on: canonical base64url, the bounded-text and
// lower-case UUID tests, the hello and accept transcripts (the exact bytes that are MACed and
// signed) and the six-digit verification code. Pure functions; refusals are answered with none or
// false, never reported.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/sha256.hpp"

namespace velk {

namespace CameraPairingWire {

inline constexpr std::string_view helloTag = "VELK-PAIR-1/hello";
inline constexpr std::string_view acceptTag = "VELK-PAIR-1/accept\n";

// URL- and filename-safe base64 without padding or line breaks.
std::string base64(std::span<const std::uint8_t> bytes);
// The bytes of a canonical base64url text; none for the empty text, any character outside the
// alphabet (padding, white space, "+" and "/" included), an impossible length or a text that does
// not re-encode to itself (non-zero unused bits).
std::optional<Bytes> bytes(std::string_view text);

// Non-empty, at most `maximum` UTF-8 bytes, valid UTF-8, and no scalar of general category Cc or
// Cf. Nothing is trimmed.
bool bounded(std::string_view text, std::int64_t maximum);
// True only for the 36-byte lower-case canonical text of a UUID.
bool uuid(std::string_view text);

Bytes helloTranscript(std::string_view director, std::string_view invite, std::string_view request,
                      std::string_view camera, std::string_view name, std::string_view publicKey);
Bytes acceptTranscript(std::span<const std::uint8_t> hello, std::string_view directorName, std::string_view publicKey);

// Six decimal digits: the first four bytes of SHA-256 of the transcript, big-endian, modulo 10^6.
std::string verificationCode(std::span<const std::uint8_t> transcript);

} // namespace CameraPairingWire

} // namespace velk

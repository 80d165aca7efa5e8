#pragma once
// The Director's P-256 signing key, kept as its 32-byte raw scalar in a 0600 file inside a 0700
// folder of the data folder ("keys/director-p256-signing.key"), as ssh and other peer-to-peer
// tools keep their keys. It is made once per user and reused; a file that exists but cannot be
// read is never replaced.

#include <filesystem>

#include "pairing/pairing_crypto.hpp"

namespace velk {

namespace DirectorKeyFile {

inline constexpr const char* folderName = "keys";
inline constexpr const char* fileName = "director-p256-signing.key";

std::filesystem::path path(const std::filesystem::path& dataFolder);
// The stored key, or a new one stored first. Throws CameraPairingError with "Cannot save the
// Director key." or "The Director key cannot be read. ...", or PairingCryptoError when the stored
// bytes are not a P-256 key.
pairing_crypto::SigningKey loadOrCreate(const std::filesystem::path& dataFolder);

} // namespace DirectorKeyFile

namespace CameraPairingText {
inline constexpr const char* cannotSaveKey = "Cannot save the Director key.";
inline constexpr const char* cannotReadKey =
    "The Director key cannot be read. Check the permissions of the Kestova data folder.";
} // namespace CameraPairingText

} // namespace velk

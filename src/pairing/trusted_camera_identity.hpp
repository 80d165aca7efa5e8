#pragma once
// One camera the user approved, and the file of trusted cameras ("trusted-cameras-v1.json"): a
// compact JSON array of {"id", "name", "publicKey", "pairedAt"} with "pairedAt" in seconds since
// 2001-01-01 00:00:00 UTC as a double.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"

namespace velk {

struct TrustedCameraIdentity {
    std::string id;
    std::string name;
    std::string publicKey;
    WallTime pairedAt;

    bool operator==(const TrustedCameraIdentity&) const = default;
};

namespace TrustedCameraFile {

inline constexpr const char* fileName = "trusted-cameras-v1.json";
inline constexpr std::size_t maximumEntries = 128;
// Seconds between 1970-01-01 and 2001-01-01, the epoch of "pairedAt".
inline constexpr double referenceEpochSeconds = 978307200.0;

double pairedAtSeconds(WallTime time);
WallTime pairedAtTime(double seconds);

// Throws JsonError when a text is not valid UTF-8.
std::string encode(const std::vector<TrustedCameraIdentity>& cameras);
// The kept entries in file order (entries whose id is not a bounded text of at most 128 bytes, or
// whose key does not decode to 65 bytes, are left out); none when the document does not decode as
// a whole or holds more than 128 entries.
std::optional<std::vector<TrustedCameraIdentity>> decode(std::string_view document);

} // namespace TrustedCameraFile

} // namespace velk

#pragma once
// One phone offering its recordings for transfer, as the Bonjour browser found it. Built once by
// the browser, never changed; compared and hashed by content.

#include <functional>
#include <optional>
#include <string>

namespace velk {

struct DiscoveredDevice {
    std::string serviceName;
    // Absolute URL text of the catalog: scheme, host, port and catalog path.
    std::string catalogURL;
    std::string serviceType = "_velk._tcp.";
    std::optional<std::string> deviceId;
    std::optional<std::string> sessionId;
    // Hex SHA-256 of the phone's TLS certificate as advertised, in any letter case.
    std::optional<std::string> certificateSHA256;
    std::string pairPath = "/velk/v1/pair";
    bool foregroundOnly = false;
    std::string transferAccess = "paired";
    std::optional<std::string> projectTrashVersion;

    // serviceType|serviceName|catalogURL|sessionId|certificateSHA256 (absent parts empty), so a
    // phone re-advertising with a new session or certificate becomes a different source.
    std::string id() const;
    bool supportsAuthenticatedTransfer() const;
    bool supportsOpenTransfer() const;
    // The first half of the fingerprint in eight upper-case groups of four, or "Unavailable".
    std::string fingerprintDisplay() const;

    bool operator==(const DiscoveredDevice&) const = default;
};

// The scheme of absolute URL text as written ("HTTPS" stays "HTTPS"), or none when the text does
// not start with one.
std::optional<std::string> urlScheme(const std::string& url);

} // namespace velk

template <>
struct std::hash<velk::DiscoveredDevice> {
    std::size_t operator()(const velk::DiscoveredDevice& device) const noexcept;
};

#pragma once
// This computer's usable IPv4 addresses and the address rules built on them: the pairing host,
// the /24 sweep of the active scan and the network-path signature.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

struct InterfaceAddress {
    std::string name;
    unsigned flags = 0; // IFF_* flags
    std::optional<std::string> ipv4; // dotted text when the entry is an IPv4 address
};

// Cellular, tunnel, point-to-point, container and virtual-bridge interfaces are never used: their
// churn is no change of the camera network, and they must never be swept.
bool isUsableInterfaceName(std::string_view name);

// The dotted IPv4 addresses of the usable entries, in system order, duplicates kept.
std::vector<std::string> usableIPv4Links(const std::vector<InterfaceAddress>& entries);
// The system's interface address list; empty when it cannot be read.
std::vector<InterfaceAddress> systemInterfaceAddresses();
// usableIPv4Links of the system's list.
std::vector<std::string> localIPv4Links();

// The names of the usable interfaces that are up, for the path signature.
std::vector<std::string> usableInterfaceNames(const std::vector<InterfaceAddress>& entries);

// A path signature: status, then the sorted interface names, then the sorted addresses.
std::string pathSignature(std::string_view status, std::vector<std::string> interfaceNames,
                          std::vector<std::string> links);

// The first address in 10/8, 172.16/12 or 192.168/16.
std::optional<std::string> pairingHostFrom(const std::vector<std::string>& links);

// The 254 hosts of a private address's /24, or nothing when the address is not private.
std::vector<std::string> hostsIn24(std::string_view address);
// Every /24 host of the given addresses, once, without the addresses themselves, in string order.
std::vector<std::string> scanCandidates(const std::vector<std::string>& links);

// Only dotted IPv4 text (four decimal numbers) is ever used as a destination.
bool isDottedIPv4(std::string_view host);

} // namespace velk

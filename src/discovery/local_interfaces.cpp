#include "discovery/local_interfaces.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace velk {

namespace {

std::vector<std::string> splitDots(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) dot = text.size();
        if (dot > start) pieces.emplace_back(text.substr(start, dot - start));
        start = dot + 1;
    }
    return pieces;
}

std::optional<long> decimal(std::string_view piece) {
    if (piece.empty()) return std::nullopt;
    long value = 0;
    auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (error != std::errc() || end != piece.data() + piece.size()) return std::nullopt;
    return value;
}

bool isPrivate(long a, long b) { return a == 10 || (a == 192 && b == 168) || (a == 172 && b >= 16 && b <= 31); }

std::string quotedList(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += "\"" + items[i] + "\"";
    }
    return out + "]";
}

} // namespace

bool isUsableInterfaceName(std::string_view name) {
    static constexpr std::array<std::string_view, 15> excludedPrefixes = {
        "pdp_ip", "utun", "ipsec", "ppp", "gif", "stf", "docker", "br-", "virbr", "veth", "tun", "tap", "wg",
        "tailscale", "zt"};
    if (name == "lo") return false;
    for (std::string_view prefix : excludedPrefixes)
        if (name.substr(0, prefix.size()) == prefix) return false;
    return true;
}

std::vector<std::string> usableIPv4Links(const std::vector<InterfaceAddress>& entries) {
    std::vector<std::string> links;
    for (const InterfaceAddress& entry : entries) {
        if (!(entry.flags & IFF_UP) || (entry.flags & IFF_LOOPBACK) || !entry.ipv4) continue;
        if (!isUsableInterfaceName(entry.name)) continue;
        links.push_back(*entry.ipv4);
    }
    return links;
}

std::vector<InterfaceAddress> systemInterfaceAddresses() {
    std::vector<InterfaceAddress> entries;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return entries;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        InterfaceAddress address;
        address.name = entry->ifa_name ? entry->ifa_name : "";
        address.flags = entry->ifa_flags;
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET) {
            char text[INET_ADDRSTRLEN] = {};
            const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) address.ipv4 = std::string(text);
        }
        entries.push_back(std::move(address));
    }
    freeifaddrs(list);
    return entries;
}

std::vector<std::string> localIPv4Links() { return usableIPv4Links(systemInterfaceAddresses()); }

std::vector<std::string> usableInterfaceNames(const std::vector<InterfaceAddress>& entries) {
    std::set<std::string> names;
    for (const InterfaceAddress& entry : entries) {
        if (!(entry.flags & IFF_UP) || (entry.flags & IFF_LOOPBACK)) continue;
        if (isUsableInterfaceName(entry.name)) names.insert(entry.name);
    }
    return {names.begin(), names.end()};
}

std::string pathSignature(std::string_view status, std::vector<std::string> interfaceNames,
                          std::vector<std::string> links) {
    return std::string(status) + "|" + quotedList(std::move(interfaceNames)) + "|" + quotedList(std::move(links));
}

std::optional<std::string> pairingHostFrom(const std::vector<std::string>& links) {
    for (const std::string& link : links) {
        std::vector<long> numbers;
        for (const std::string& piece : splitDots(link))
            if (auto value = decimal(piece)) numbers.push_back(*value);
        if (numbers.size() == 4 && isPrivate(numbers[0], numbers[1])) return link;
    }
    return std::nullopt;
}

std::vector<std::string> hostsIn24(std::string_view address) {
    auto pieces = splitDots(address);
    if (pieces.size() != 4) return {};
    auto a = decimal(pieces[0]), b = decimal(pieces[1]), c = decimal(pieces[2]);
    if (!a || !b || !c || !isPrivate(*a, *b)) return {};
    std::string prefix = std::to_string(*a) + "." + std::to_string(*b) + "." + std::to_string(*c) + ".";
    std::vector<std::string> hosts;
    hosts.reserve(254);
    for (int host = 1; host <= 254; ++host) hosts.push_back(prefix + std::to_string(host));
    return hosts;
}

std::vector<std::string> scanCandidates(const std::vector<std::string>& links) {
    std::set<std::string> candidates;
    for (const std::string& link : links)
        for (std::string& host : hostsIn24(link)) candidates.insert(std::move(host));
    for (const std::string& link : links) candidates.erase(link);
    return {candidates.begin(), candidates.end()};
}

bool isDottedIPv4(std::string_view host) {
    if (host.size() > 15) return false;
    in_addr address{};
    return inet_pton(AF_INET, std::string(host).c_str(), &address) == 1;
}

} // namespace velk

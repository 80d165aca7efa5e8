#include "discovery/avahi_bus.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace velk::avahi {

namespace {

// TXT entries (aay) at the read position. Entries without "=" carry no value and are left out; a
// repeated key keeps its first value in the record, which is the last here, since the daemon lists
// a record's entries last first. None when the record has no entries.
std::optional<DnsSdTxtRecord> readTxtRecord(sd_bus_message* message) {
    if (sd_bus_message_enter_container(message, 'a', "ay") <= 0) return std::nullopt;
    std::optional<DnsSdTxtRecord> record;
    const void* data = nullptr;
    std::size_t size = 0;
    while (sd_bus_message_read_array(message, 'y', &data, &size) > 0) {
        if (!record) record.emplace();
        const std::string entry(static_cast<const char*>(data), size);
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        const auto* value = reinterpret_cast<const std::uint8_t*>(entry.data()) + equals + 1;
        record->insert_or_assign(entry.substr(0, equals), std::vector<std::uint8_t>(value, value + (size - equals - 1)));
    }
    sd_bus_message_exit_container(message);
    return record;
}

} // namespace

std::string withTrailingDot(const char* text) {
    std::string out = text ? text : "";
    if (out.empty() || out.back() != '.') out += '.';
    return out;
}

std::string withoutTrailingDot(const std::string& text) {
    if (!text.empty() && text.back() == '.') return text.substr(0, text.size() - 1);
    return text;
}

system_bus::Message avahiCall(system_bus::Connection& bus, const char* path, const char* interface,
                              const char* member) {
    system_bus::Message call = bus.methodCall(avahiName, path, interface, member);
    if (call) sd_bus_message_set_auto_start(call.get(), 0);
    return call;
}

// Reads interface, protocol, name, type, domain, host, address protocol,
// address, port, TXT, flags.
std::optional<DnsSdResolution> readResolution(sd_bus_message* reply) {
    std::int32_t interface = 0;
    std::int32_t protocol = 0;
    std::int32_t addressProtocol = 0;
    const char* name = nullptr;
    const char* type = nullptr;
    const char* domain = nullptr;
    const char* host = nullptr;
    const char* address = nullptr;
    std::uint16_t port = 0;
    if (sd_bus_message_read(reply, "iissssisq", &interface, &protocol, &name, &type, &domain, &host, &addressProtocol,
                            &address, &port) <= 0) {
        return std::nullopt;
    }
    DnsSdResolution resolution;
    if (host) resolution.hostName = withTrailingDot(host);
    resolution.port = port;
    if (addressProtocol == avahiIPv4 && address && *address) resolution.ipv4Address = std::string(address);
    resolution.txtRecord = readTxtRecord(reply);
    return resolution;
}

system_bus::Message resolveCall(system_bus::Connection& bus, const AvahiServiceInstances::Key& service,
                                std::uint32_t flags) {
    const auto& [name, type, domain] = service;
    system_bus::Message call = avahiCall(bus, "/", avahiServerInterface, "ResolveService");
    if (call) {
        sd_bus_message_append(call.get(), "iisssiu", avahiAnyInterface, avahiIPv4, name.c_str(),
                              withoutTrailingDot(type).c_str(), withoutTrailingDot(domain).c_str(), avahiIPv4, flags);
    }
    return call;
}

std::chrono::milliseconds firstPause() { return system_bus::Watch::Timing{}.firstRetryDelay; }
std::chrono::milliseconds nextPause(std::chrono::milliseconds pause) {
    return std::min(pause * 2, system_bus::Watch::Timing{}.longestRetryDelay);
}

} // namespace velk::avahi

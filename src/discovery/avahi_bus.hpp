#pragma once
// What the parts of the Avahi backend share of the daemon's D-Bus interface: its names, a call to it
// that never starts it through bus activation, the ResolveService call and its answer, and the
// pauses between questions that got no answer. Avahi writes types and domains without the trailing
// dot; the backend keeps them with it. Only IPv4 is resolved.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <systemd/sd-bus.h>

#include "base/system_bus.hpp"
#include "discovery/avahi_service_instances.hpp"
#include "discovery/dns_sd.hpp"

namespace velk::avahi {

inline constexpr const char* avahiName = "org.freedesktop.Avahi";
inline constexpr const char* avahiServerInterface = "org.freedesktop.Avahi.Server";
inline constexpr std::int32_t avahiAnyInterface = -1;
inline constexpr std::int32_t avahiIPv4 = 0;

std::string withTrailingDot(const char* text);
std::string withoutTrailingDot(const std::string& text);

// A call to the daemon, which never starts it when it is not running.
system_bus::Message avahiCall(system_bus::Connection& bus, const char* path, const char* interface, const char* member);

// ResolveService for one service, answering in IPv4; `flags` are the daemon's lookup flags.
system_bus::Message resolveCall(system_bus::Connection& bus, const AvahiServiceInstances::Key& service,
                                std::uint32_t flags);

// ResolveService's answer; none when it cannot be read.
std::optional<DnsSdResolution> readResolution(sd_bus_message* reply);

// The pauses between questions that got no answer grow as the bus connection's do.
std::chrono::milliseconds firstPause();
std::chrono::milliseconds nextPause(std::chrono::milliseconds pause);

// Runs a command on the loop once a delay has passed, with the connection in at that time.
using Later = std::function<void(std::chrono::milliseconds, std::function<void(system_bus::Connection*)>)>;

} // namespace velk::avahi

#pragma once
// The Avahi backend's resolutions, on the loop's thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "base/system_bus.hpp"
#include "discovery/avahi_bus.hpp"
#include "discovery/avahi_service_instances.hpp"
#include "discovery/dns_sd.hpp"

namespace velk::avahi {

// The resolutions under way, one per service, each one ResolveService call bounded by its time-out.
class AvahiResolutions {
public:
    // Resolves the service `id`, in place of its earlier resolution; `ended` runs with what the daemon
    // found, or with nothing when it answered with an error or not at all within `timeout`, unless
    // the resolution was replaced or forgotten meanwhile.
    void start(system_bus::Connection& bus, std::uint64_t id, const AvahiServiceInstances::Key& service,
               std::chrono::milliseconds timeout, std::function<void(std::optional<DnsSdResolution>)> ended) {
        const std::uint64_t request = ++m_lastRequest;
        m_current[id] = request;
        bus.callAsync(resolveCall(bus, service, 0u), timeout,
                      [this, id, request, ended = std::move(ended)](const system_bus::Reply& reply) {
                          const auto found = m_current.find(id);
                          if (found == m_current.end() || found->second != request) return;
                          m_current.erase(found);
                          ended(reply.answer() ? readResolution(reply.answer()) : std::nullopt);
                      });
    }
    void forget(std::uint64_t id) { m_current.erase(id); }
    // The daemon went, and its resolutions with it: none of them reports.
    void clear() { m_current.clear(); }

private:
    std::uint64_t m_lastRequest = 0;
    std::map<std::uint64_t, std::uint64_t> m_current; // service id → its resolution's request
};

} // namespace velk::avahi

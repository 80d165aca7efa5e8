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
    // Resolves the service `id`, in place of its earlier resolution; `resolved` runs with what the
    // daemon found, unless the resolution was replaced or forgotten meanwhile. A failure is not reported.
    void start(system_bus::Connection& bus, std::uint64_t id, const AvahiServiceInstances::Key& service,
               std::chrono::milliseconds timeout, std::function<void(DnsSdResolution)> resolved) {
        const std::uint64_t request = ++m_lastRequest;
        m_current[id] = request;
        bus.callAsync(resolveCall(bus, service, 0u), timeout,
                      [this, id, request, resolved = std::move(resolved)](const system_bus::Reply& reply) {
                          const auto found = m_current.find(id);
                          if (found == m_current.end() || found->second != request) return;
                          m_current.erase(found);
                          std::optional<DnsSdResolution> resolution =
                              reply.answer() ? readResolution(reply.answer()) : std::nullopt;
                          if (resolution) resolved(std::move(*resolution));
                      });
    }
    void forget(std::uint64_t id) { m_current.erase(id); }
    void clear() { m_current.clear(); }

private:
    std::uint64_t m_lastRequest = 0;
    std::map<std::uint64_t, std::uint64_t> m_current; // service id → its resolution's request
};

} // namespace velk::avahi

#pragma once
// The places of the list of transfer sources. At most `maximumTransferSources` transfer-type sources
// are listed; legacy-type ones are not counted. A new source that finds the list full is dropped,
// and is listed only if it resolves again once a removal has freed a place. A source whose service
// was found while browsing returned after a gap of the DNS-SD service, and that finds the list full,
// waits instead: each place a removal frees goes to the first source waiting, in the order they
// were dropped, however many returns, look-ups and late answers come in between. A waiting source
// keeps its turn and its latest resolution until it is listed or its service is removed.

#include <cstddef>
#include <string>
#include <vector>

#include "model/discovered_device.hpp"

namespace velk::lan {

// Puts `device` into the sorted list `devices`, replacing the element of the same service name
// and type. A new transfer-type source is dropped when `maximumTransferSources` of that type are
// listed already. Returns whether `devices` took the device.
bool upsertDevice(std::vector<DiscoveredDevice>& devices, const DiscoveredDevice& device,
                  std::size_t maximumTransferSources);

class SourcePlaces {
public:
    enum class Placement { listed, waiting, dropped };

    explicit SourcePlaces(std::size_t maximumTransferSources) : m_maximum(maximumTransferSources) {}

    // Sorted by service name (locale-aware, case-insensitive, stable).
    const std::vector<DiscoveredDevice>& devices() const { return m_devices; }

    // A resolution of `device`'s service, which was found while browsing returned after a gap when
    // `foundOnReturn`.
    Placement resolved(const DiscoveredDevice& device, bool foundOnReturn);
    // The service `serviceName` of `serviceType` went: it leaves the list or its turn, and a place it
    // frees goes to the first source waiting. Returns whether `devices` changed.
    bool removed(const std::string& serviceType, const std::string& serviceName);
    void clear();

private:
    std::size_t m_maximum;
    std::vector<DiscoveredDevice> m_devices;
    std::vector<DiscoveredDevice> m_waiting; // in the order they were dropped
};

} // namespace velk::lan

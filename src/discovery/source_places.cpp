#include "discovery/source_places.hpp"

#include <algorithm>

#include "base/unicode.hpp"
#include "discovery/lan_discovery.hpp"

namespace velk::lan {

namespace {

bool isTransferSource(const DiscoveredDevice& device) { return device.serviceType == transferServiceType; }

auto sameService(const std::string& serviceType, const std::string& serviceName) {
    return [&](const DiscoveredDevice& d) { return d.serviceName == serviceName && d.serviceType == serviceType; };
}

} // namespace

bool upsertDevice(std::vector<DiscoveredDevice>& devices, const DiscoveredDevice& device,
                  std::size_t maximumTransferSources) {
    const auto same = sameService(device.serviceType, device.serviceName);
    if (std::none_of(devices.begin(), devices.end(), same) && isTransferSource(device) &&
        static_cast<std::size_t>(std::count_if(devices.begin(), devices.end(), isTransferSource)) >=
            maximumTransferSources) {
        return false;
    }
    std::erase_if(devices, same);
    devices.push_back(device);
    std::stable_sort(devices.begin(), devices.end(), [](const DiscoveredDevice& a, const DiscoveredDevice& b) {
        return text::localizedCaseInsensitiveCompare(a.serviceName, b.serviceName) < 0;
    });
    return true;
}

SourcePlaces::Placement SourcePlaces::resolved(const DiscoveredDevice& device, bool foundOnReturn) {
    const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(), sameService(device.serviceType, device.serviceName));
    if (waiting != m_waiting.end()) {
        *waiting = device;
        return Placement::waiting;
    }
    if (upsertDevice(m_devices, device, m_maximum)) return Placement::listed;
    if (!foundOnReturn) return Placement::dropped;
    m_waiting.push_back(device);
    return Placement::waiting;
}

bool SourcePlaces::removed(const std::string& serviceType, const std::string& serviceName) {
    std::erase_if(m_waiting, sameService(serviceType, serviceName));
    if (std::erase_if(m_devices, sameService(serviceType, serviceName)) == 0) return false;
    while (!m_waiting.empty() && upsertDevice(m_devices, m_waiting.front(), m_maximum)) m_waiting.erase(m_waiting.begin());
    return true;
}

void SourcePlaces::clear() {
    m_devices.clear();
    m_waiting.clear();
}

} // namespace velk::lan

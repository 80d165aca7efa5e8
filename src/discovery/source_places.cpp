#include "discovery/source_places.hpp"

#include <algorithm>

#include "base/unicode.hpp"
#include "discovery/lan_discovery.hpp"

namespace velk::lan {

namespace {

bool isTransferSource(const DiscoveredDevice& device) { return device.serviceType == transferServiceType; }

auto sameService(const std::string& serviceType, const std::string& serviceName) {
    return [&](const auto& d) { return d.name == serviceName && d.type == serviceType; };
}

auto sameSource(const std::string& serviceType, const std::string& serviceName) {
    return [&](const DiscoveredDevice& d) { return d.serviceName == serviceName && d.serviceType == serviceType; };
}

} // namespace

bool upsertDevice(std::vector<DiscoveredDevice>& devices, const DiscoveredDevice& device,
                  std::size_t maximumTransferSources) {
    const auto same = sameSource(device.serviceType, device.serviceName);
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

void SourcePlaces::found(const std::string& serviceType, const std::string& serviceName) {
    if (!findService(serviceType, serviceName)) m_services.push_back({serviceType, serviceName});
}

SourcePlaces::Change SourcePlaces::resolved(const DiscoveredDevice& device) {
    Change change;
    Service* service = findService(device.serviceType, device.serviceName);
    if (!service) return change;
    if (!isWaiting(*service)) {
        change.isListChanged = upsertDevice(m_devices, device, m_maximum);
        return change;
    }
    service->turn = Turn::answered;
    service->answer = device;
    fill(change);
    return change;
}

SourcePlaces::Change SourcePlaces::notResolved(const std::string& serviceType, const std::string& serviceName) {
    Change change;
    Service* service = findService(serviceType, serviceName);
    if (!service || !isWaiting(*service) || service->turn != Turn::asked) return change;
    service->turn = Turn::unanswered;
    fill(change);
    return change;
}

SourcePlaces::Change SourcePlaces::removed(const std::string& serviceType, const std::string& serviceName) {
    Change change;
    std::erase_if(m_services, sameService(serviceType, serviceName));
    if (std::erase_if(m_devices, sameSource(serviceType, serviceName)) > 0) {
        change.isListChanged = true;
        if (serviceType == transferServiceType) m_isFilling = true;
    }
    fill(change);
    return change;
}

void SourcePlaces::clear() {
    m_devices.clear();
    m_services.clear();
    m_isFilling = false;
}

SourcePlaces::Service* SourcePlaces::findService(const std::string& serviceType, const std::string& serviceName) {
    const auto found = std::find_if(m_services.begin(), m_services.end(), sameService(serviceType, serviceName));
    return found == m_services.end() ? nullptr : &*found;
}

bool SourcePlaces::isListed(const Service& service) const {
    return std::any_of(m_devices.begin(), m_devices.end(), sameSource(service.type, service.name));
}

bool SourcePlaces::isWaiting(const Service& service) const {
    return service.type == transferServiceType && !isListed(service);
}

std::size_t SourcePlaces::freePlaces() const {
    const auto listed = static_cast<std::size_t>(std::count_if(m_devices.begin(), m_devices.end(), isTransferSource));
    return listed < m_maximum ? m_maximum - listed : 0;
}

// Answers take the free places in turn order, each service ahead still to answer (asked, or while
// places are being filled, not yet asked) holding one for itself. While places are being filled, the
// next services in turn are asked, so that no more than `m_atOnce` of those asked are waiting for
// their answer or hold one; an answer nobody asked for holds back no ask. Filling ends once no
// service is asked and either no place is free or every waiting service had its turn; answers then
// left without a place are dropped.
void SourcePlaces::fill(Change& change) {
    std::size_t held = 0;
    for (Service& service : m_services) {
        if (!isWaiting(service)) continue;
        if (service.turn == Turn::asked || (m_isFilling && service.turn == Turn::idle)) {
            ++held;
            continue;
        }
        if (service.turn != Turn::answered || freePlaces() <= held) continue;
        upsertDevice(m_devices, *service.answer, m_maximum);
        change.isListChanged = true;
        service.turn = Turn::idle;
        service.answer.reset();
    }
    if (m_isFilling) {
        const auto inTurn = [&](Turn turn) {
            return std::count_if(m_services.begin(), m_services.end(),
                                 [&](const Service& s) { return isWaiting(s) && s.turn == turn; });
        };
        const auto isInHand = [&](const Service& s) {
            return isWaiting(s) && s.isAsked && (s.turn == Turn::asked || s.turn == Turn::answered);
        };
        auto inHand = static_cast<std::size_t>(std::count_if(m_services.begin(), m_services.end(), isInHand));
        for (Service& service : m_services) {
            if (inHand >= m_atOnce || freePlaces() == 0) break;
            if (!isWaiting(service) || service.turn != Turn::idle) continue;
            service.turn = Turn::asked;
            service.isAsked = true;
            change.toResolve.push_back(service.name);
            ++inHand;
        }
        if (inTurn(Turn::asked) == 0 && (freePlaces() == 0 || inTurn(Turn::idle) == 0)) m_isFilling = false;
    }
    if (m_isFilling) return;
    for (Service& service : m_services) {
        service.turn = Turn::idle;
        service.isAsked = false;
        service.answer.reset();
    }
}

} // namespace velk::lan

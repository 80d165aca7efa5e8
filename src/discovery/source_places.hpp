#pragma once
// The places of the list of transfer sources. At most `maximumTransferSources` transfer-type sources
// are listed; legacy-type ones are not counted. A source that resolves while there is room is listed.
// One that finds the list full waits, in the order its service was first found, whenever and however
// it was found, until it is listed or its service is removed. When a removal frees a place, the
// waiting services are resolved again, in that order and `resolutionsAtOnce` at a time, and the place
// goes to the first of them in that order that answers, with the values of that answer: one still
// being asked keeps the place from those behind it until it answers or fails. Only a service that
// was found and not removed since is ever listed.

#include <cstddef>
#include <optional>
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
    // What a step asks of the owner of the list.
    struct Change {
        bool isListChanged = false;
        // Names of transfer-type services to resolve again now, in their order.
        std::vector<std::string> toResolve;
    };

    SourcePlaces(std::size_t maximumTransferSources, std::size_t resolutionsAtOnce)
        : m_maximum(maximumTransferSources), m_atOnce(resolutionsAtOnce) {}

    // Sorted by service name (locale-aware, case-insensitive, stable).
    const std::vector<DiscoveredDevice>& devices() const { return m_devices; }

    // The browser found the service (again); its turn is that of its first finding.
    void found(const std::string& serviceType, const std::string& serviceName);
    // A usable resolution of `device`'s service. One of a service not found, or removed since, is
    // ignored.
    Change resolved(const DiscoveredDevice& device);
    // A resolution of the service ended without a usable answer.
    Change notResolved(const std::string& serviceType, const std::string& serviceName);
    // The service went: it leaves the list or its turn, and a place it frees is filled again.
    Change removed(const std::string& serviceType, const std::string& serviceName);
    void clear();

private:
    // Where a service not listed stands while freed places are filled.
    enum class Turn { idle, asked, answered, unanswered };
    struct Service {
        std::string type;
        std::string name;
        Turn turn = Turn::idle;
        bool isAsked = false;                   // since places are being filled
        std::optional<DiscoveredDevice> answer; // while answered
    };

    Service* findService(const std::string& serviceType, const std::string& serviceName);
    bool isListed(const Service& service) const;
    bool isWaiting(const Service& service) const;
    std::size_t freePlaces() const;
    void fill(Change& change);

    std::size_t m_maximum;
    std::size_t m_atOnce;
    std::vector<DiscoveredDevice> m_devices;
    std::vector<Service> m_services; // found and not removed, in the order first found
    bool m_isFilling = false;        // since a removal freed a place, until no asked service is left
};

} // namespace velk::lan

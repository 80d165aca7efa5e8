#pragma once
// Finds the phones that offer their recordings for transfer on the local network: browses
// DNS-SD for the secure transfer type and the older legacy type, resolves every service it hears
// of and publishes the sources as a sorted list. It only listens; nothing is sent to the phones.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "discovery/dns_sd.hpp"
#include "discovery/source_places.hpp"
#include "model/discovered_device.hpp"

namespace velk {

namespace lan {

inline constexpr const char* transferServiceType = "_velk-transfer._tcp.";
inline constexpr const char* legacyServiceType = "_velk._tcp.";
inline constexpr const char* browseDomain = "local.";
inline constexpr double resolveTimeoutSeconds = 5.0;
// How many waiting transfer sources are resolved again at a time when a place frees.
inline constexpr std::size_t resolutionsAtOnce = 3;
inline constexpr const char* defaultCatalogPath = "/velk/v1/catalog";
inline constexpr const char* defaultPairPath = "/velk/v1/pair";

// The device a resolution of the service `serviceName` of `serviceType` describes, or none when
// it has no host name, no usable port, or its parts make no catalog URL.
std::optional<DiscoveredDevice> deviceFromResolution(const std::string& serviceType,
                                                     const std::string& serviceName,
                                                     const DnsSdResolution& resolution);

} // namespace lan

class LANDiscovery final : public QObject, private DnsSdDelegate {
    Q_OBJECT
    Q_PROPERTY(std::vector<velk::DiscoveredDevice> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY isSearchingChanged)
    Q_PROPERTY(bool isBrowsingAvailable READ isBrowsingAvailable NOTIFY isBrowsingAvailableChanged)

public:
    static constexpr std::size_t maximumTransferSources = 8;

    // Uses the Avahi daemon when `backend` is null. Create on the GUI thread.
    explicit LANDiscovery(bool startAutomatically = true,
                          std::shared_ptr<DnsSdBackend> backend = nullptr,
                          QObject* parent = nullptr);
    ~LANDiscovery() override;

    void start();
    void stop();
    void restart();

    // Resolved sources, sorted by service name (locale-aware, case-insensitive, stable).
    const std::vector<DiscoveredDevice>& devices() const { return m_places.devices(); }
    // Browsing has been started and not stopped since.
    bool isSearching() const { return m_isSearching; }
    // False while the machine's DNS-SD service cannot be reached: the list then stays as it is
    // and nothing new is found, which the Collect sheet can say.
    bool isBrowsingAvailable() const { return m_isBrowsingAvailable; }
    // The IPv4 address that `device`'s host name resolved to, while `device` is listed.
    std::optional<std::string> resolvedAddress(const DiscoveredDevice& device) const;

Q_SIGNALS:
    void devicesChanged();
    void isSearchingChanged();
    void isBrowsingAvailableChanged();

private:
    void serviceFound(const std::shared_ptr<DnsSdService>& service, bool moreComing) override;
    void serviceRemoved(const std::shared_ptr<DnsSdService>& service, bool moreComing) override;
    void browsingStopped() override;
    void serviceResolved(const std::shared_ptr<DnsSdService>& service,
                         const DnsSdResolution& resolution) override;
    void serviceNotResolved(const std::shared_ptr<DnsSdService>& service) override;

    // Whether `service` is the object that stands for its service now.
    bool isCurrent(const std::shared_ptr<DnsSdService>& service) const;
    // Resolves again what the places ask for, and says when the list changed.
    void apply(lan::SourcePlaces::Change change);
    void setSearching(bool searching);
    void setBrowsingAvailable(bool available);

    std::shared_ptr<DnsSdBackend> m_backend;
    // The listed sources, and the order in which those the full list left out take a freed place.
    lan::SourcePlaces m_places{maximumTransferSources, lan::resolutionsAtOnce};
    bool m_isSearching = false;
    bool m_isBrowsingAvailable = false;
    std::unique_ptr<DnsSdBrowser> m_transferBrowser;
    std::unique_ptr<DnsSdBrowser> m_legacyBrowser;
    // Every service found and not yet removed, by type|name|domain; keeps its resolution alive.
    std::map<std::string, std::shared_ptr<DnsSdService>> m_services;
    // The IPv4 address of the latest resolution, by type|name, of each service found and not removed.
    std::map<std::string, std::string> m_addresses;
};

} // namespace velk

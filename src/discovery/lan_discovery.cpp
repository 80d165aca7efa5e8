#include "discovery/lan_discovery.hpp"

#include <algorithm>
#include <utility>

#include <QUrl>

#include "base/unicode.hpp"

namespace velk {

namespace lan {

namespace {

constexpr std::uint16_t maximumPort = 65535;

// A value that is not valid UTF-8 counts as absent.
std::optional<std::string> textValue(const DnsSdTxtRecord& txt, const char* key) {
    auto entry = txt.find(key);
    if (entry == txt.end()) return std::nullopt;
    std::string text(entry->second.begin(), entry->second.end());
    if (!text::isValidUTF8(text)) return std::nullopt;
    return text;
}

std::string pathOrDefault(const std::optional<std::string>& value, const char* fallback) {
    if (!value || value->empty()) return fallback;
    if (value->front() == '/') return *value;
    return "/" + *value;
}

bool equalsIgnoringASCIICase(std::string_view text, std::string_view lowerCaseWord) {
    if (text.size() != lowerCaseWord.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerCaseWord[i]) return false;
    }
    return true;
}

bool isASCIILetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isASCIIDigit(char c) { return c >= '0' && c <= '9'; }

// scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." )
bool isValidScheme(const std::string& scheme) {
    if (scheme.empty() || !isASCIILetter(scheme.front())) return false;
    return std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return isASCIILetter(c) || isASCIIDigit(c) || c == '+' || c == '-' || c == '.';
    });
}

// Absolute URL text from its parts, the scheme as given; none when the parts make no URL.
std::optional<std::string> catalogURL(const std::string& scheme, const std::string& host, int port,
                                      const std::string& path) {
    if (!isValidScheme(scheme)) return std::nullopt;
    if (host.empty() || port <= 0 || port > maximumPort) return std::nullopt;
    QUrl url;
    url.setScheme(QString::fromStdString(scheme));
    url.setHost(QString::fromStdString(host));
    url.setPort(port);
    url.setPath(QString::fromStdString(path), QUrl::DecodedMode);
    // QUrl drops a host it cannot take rather than failing.
    if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
    std::string text = url.toString(QUrl::FullyEncoded).toStdString();
    // QUrl lower-cases the scheme; the advertised scheme is kept as written.
    if (text.compare(0, scheme.size(), text::lowercased(scheme)) != 0) return std::nullopt;
    text.replace(0, scheme.size(), scheme);
    return text;
}

bool isTransferType(const std::string& serviceType) { return serviceType == transferServiceType; }

} // namespace

std::optional<DiscoveredDevice> deviceFromResolution(const std::string& serviceType,
                                                     const std::string& serviceName,
                                                     const DnsSdResolution& resolution) {
    if (!resolution.hostName) return std::nullopt;
    if (resolution.port <= 0) return std::nullopt;
    std::string host = *resolution.hostName;
    if (!host.empty() && host.back() == '.') host.pop_back();

    std::string scheme = isTransferType(serviceType) ? "https" : "http";
    std::string catalogPath = defaultCatalogPath;
    DiscoveredDevice device;
    device.serviceName = serviceName;
    device.serviceType = serviceType;
    device.pairPath = defaultPairPath;
    device.transferAccess = "paired";
    device.foregroundOnly = false;

    if (resolution.txtRecord && !resolution.txtRecord->empty()) {
        const DnsSdTxtRecord& txt = *resolution.txtRecord;
        if (auto value = textValue(txt, "scheme"); value && !value->empty()) scheme = *value;
        catalogPath = pathOrDefault(textValue(txt, "catalog"), defaultCatalogPath);
        device.pairPath = pathOrDefault(textValue(txt, "pair"), defaultPairPath);
        device.deviceId = textValue(txt, "deviceId");
        device.sessionId = textValue(txt, "sessionId");
        device.certificateSHA256 = textValue(txt, "fp");
        if (textValue(txt, "access") == "open") device.transferAccess = "open";
        if (textValue(txt, "projectsDelete") == "trash-v1") device.projectTrashVersion = "trash-v1";
        if (auto value = textValue(txt, "foreground")) {
            device.foregroundOnly = *value == "1" || equalsIgnoringASCIICase(*value, "true");
        }
    }

    auto url = catalogURL(scheme, host, resolution.port, catalogPath);
    if (!url) return std::nullopt;
    device.catalogURL = std::move(*url);
    return device;
}

} // namespace lan

namespace {

std::string serviceKey(const DnsSdService& service) {
    return service.type() + "|" + service.name() + "|" + service.domain();
}

std::string sourceKey(const std::string& serviceType, const std::string& serviceName) {
    return serviceType + "|" + serviceName;
}

} // namespace

LANDiscovery::LANDiscovery(bool startAutomatically, std::shared_ptr<DnsSdBackend> backend, QObject* parent)
    : QObject(parent), m_backend(backend ? std::move(backend) : makeAvahiDnsSdBackend()) {
    m_isBrowsingAvailable = m_backend->isAvailable();
    m_backend->setAvailabilityHandler([this](bool available) { setBrowsingAvailable(available); });
    m_transferBrowser = m_backend->makeBrowser(this);
    m_legacyBrowser = m_backend->makeBrowser(this);
    if (startAutomatically) start();
}

LANDiscovery::~LANDiscovery() {
    m_backend->setAvailabilityHandler(nullptr);
    m_services.clear();
    m_transferBrowser.reset();
    m_legacyBrowser.reset();
}

void LANDiscovery::start() {
    if (m_isSearching) return;
    setSearching(true);
    m_transferBrowser->browse(lan::transferServiceType, lan::browseDomain);
    m_legacyBrowser->browse(lan::legacyServiceType, lan::browseDomain);
}

void LANDiscovery::stop() {
    m_transferBrowser->stop();
    m_legacyBrowser->stop();
    setSearching(false);
}

void LANDiscovery::restart() {
    m_transferBrowser->stop();
    m_legacyBrowser->stop();
    setSearching(false);
    bool hadDevices = !devices().empty();
    m_places.clear();
    m_addresses.clear();
    m_services.clear();
    if (hadDevices) Q_EMIT devicesChanged();
    start();
}

std::optional<std::string> LANDiscovery::resolvedAddress(const DiscoveredDevice& device) const {
    auto listed = std::find(devices().begin(), devices().end(), device);
    if (listed == devices().end()) return std::nullopt;
    auto address = m_addresses.find(sourceKey(device.serviceType, device.serviceName));
    if (address == m_addresses.end()) return std::nullopt;
    return address->second;
}

void LANDiscovery::serviceFound(const std::shared_ptr<DnsSdService>& service, bool) {
    m_services[serviceKey(*service)] = service;
    m_places.found(service->type(), service->name());
    service->resolve(lan::resolveTimeoutSeconds, this);
}

void LANDiscovery::serviceRemoved(const std::shared_ptr<DnsSdService>& service, bool) {
    m_services.erase(serviceKey(*service));
    m_addresses.erase(sourceKey(service->type(), service->name()));
    apply(m_places.removed(service->type(), service->name()));
}

void LANDiscovery::browsingStopped() { setSearching(false); }

void LANDiscovery::serviceResolved(const std::shared_ptr<DnsSdService>& service,
                                   const DnsSdResolution& resolution) {
    // A resolution that lands after its service was removed (or after a restart) must not list a
    // source that no removal will ever take away again.
    if (!isCurrent(service)) return;
    auto device = lan::deviceFromResolution(service->type(), service->name(), resolution);
    if (!device) return apply(m_places.notResolved(service->type(), service->name()));
    std::string key = sourceKey(device->serviceType, device->serviceName);
    if (resolution.ipv4Address) {
        m_addresses[key] = *resolution.ipv4Address;
    } else {
        m_addresses.erase(key);
    }
    apply(m_places.resolved(*device));
}

void LANDiscovery::serviceNotResolved(const std::shared_ptr<DnsSdService>& service) {
    if (isCurrent(service)) apply(m_places.notResolved(service->type(), service->name()));
}

bool LANDiscovery::isCurrent(const std::shared_ptr<DnsSdService>& service) const {
    auto current = m_services.find(serviceKey(*service));
    return current != m_services.end() && current->second == service;
}

void LANDiscovery::apply(lan::SourcePlaces::Change change) {
    bool isListChanged = change.isListChanged;
    for (std::size_t next = 0; next < change.toResolve.size(); ++next) {
        const std::string name = change.toResolve[next];
        auto service = std::find_if(m_services.begin(), m_services.end(), [&](const auto& entry) {
            return entry.second->type() == lan::transferServiceType && entry.second->name() == name;
        });
        if (service != m_services.end()) {
            service->second->resolve(lan::resolveTimeoutSeconds, this);
            continue;
        }
        auto more = m_places.notResolved(lan::transferServiceType, name);
        isListChanged = isListChanged || more.isListChanged;
        change.toResolve.insert(change.toResolve.end(), more.toResolve.begin(), more.toResolve.end());
    }
    if (isListChanged) Q_EMIT devicesChanged();
}

void LANDiscovery::setSearching(bool searching) {
    if (m_isSearching == searching) return;
    m_isSearching = searching;
    Q_EMIT isSearchingChanged();
}

void LANDiscovery::setBrowsingAvailable(bool available) {
    if (m_isBrowsingAvailable == available) return;
    m_isBrowsingAvailable = available;
    Q_EMIT isBrowsingAvailableChanged();
}

} // namespace velk

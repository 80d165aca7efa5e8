#include "discovery/dns_sd_fake.hpp"

namespace velk {

class FakeDnsSdBrowser final : public DnsSdBrowser {
public:
    FakeDnsSdBrowser(FakeDnsSdBackend& backend, int id) : m_backend(backend), m_id(id) {}
    ~FakeDnsSdBrowser() override { m_backend.m_browsers.erase(m_id); }
    void browse(const std::string& type, const std::string&) override {
        ++m_backend.m_browseCount;
        m_backend.m_browsers[m_id].type = type;
    }
    void stop() override { m_backend.m_browsers[m_id].type.reset(); }

private:
    FakeDnsSdBackend& m_backend;
    int m_id;
};

std::unique_ptr<DnsSdBrowser> FakeDnsSdBackend::makeBrowser(DnsSdDelegate* delegate) {
    int id = m_nextBrowserId++;
    m_browsers[id].delegate = delegate;
    return std::make_unique<FakeDnsSdBrowser>(*this, id);
}

FakeDnsSdBackend::BrowserEntry* FakeDnsSdBackend::browserFor(const std::string& type) {
    for (auto& [id, entry] : m_browsers) {
        if (entry.type == type) return &entry;
    }
    return nullptr;
}

bool FakeDnsSdBackend::isBrowsing(const std::string& type) const {
    for (const auto& [id, entry] : m_browsers) {
        if (entry.type == type) return true;
    }
    return false;
}

std::shared_ptr<FakeDnsSdService> FakeDnsSdBackend::find(const std::string& type, const std::string& name,
                                                         const std::string& domain) {
    BrowserEntry* browser = browserFor(type);
    if (!browser) return nullptr;
    auto service = std::make_shared<FakeDnsSdService>(type, name, domain);
    browser->delegate->serviceFound(service, false);
    return service;
}

void FakeDnsSdBackend::remove(const std::string& type, const std::string& name, const std::string& domain) {
    BrowserEntry* browser = browserFor(type);
    if (!browser) return;
    auto service = std::make_shared<FakeDnsSdService>(type, name, domain);
    browser->delegate->serviceRemoved(service, false);
}

void FakeDnsSdBackend::resolve(const std::shared_ptr<FakeDnsSdService>& service, const DnsSdResolution& resolution) {
    if (!service || !service->delegate()) return;
    service->delegate()->serviceResolved(service, resolution);
}

void FakeDnsSdBackend::failResolving(const std::shared_ptr<FakeDnsSdService>& service) {
    if (!service || !service->delegate()) return;
    service->delegate()->serviceNotResolved(service);
}

void FakeDnsSdBackend::stopBrowsing(const std::string& type) {
    BrowserEntry* browser = browserFor(type);
    if (!browser) return;
    browser->type.reset();
    browser->delegate->browsingStopped();
}

void FakeDnsSdBackend::setAvailable(bool available) {
    if (m_isAvailable == available) return;
    m_isAvailable = available;
    if (m_availabilityHandler) m_availabilityHandler(available);
}

} // namespace velk

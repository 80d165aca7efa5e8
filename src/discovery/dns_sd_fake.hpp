#pragma once
// A DNS-SD backend driven by hand, for tests: the test plays the network and reports services
// found, removed and resolved. Reports are delivered at once, as the event loop would deliver them.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/dns_sd.hpp"

namespace velk {

class FakeDnsSdService final : public DnsSdService {
public:
    FakeDnsSdService(std::string type, std::string name, std::string domain)
        : m_type(std::move(type)), m_name(std::move(name)), m_domain(std::move(domain)) {}
    const std::string& type() const override { return m_type; }
    const std::string& name() const override { return m_name; }
    const std::string& domain() const override { return m_domain; }
    void resolve(double timeoutSeconds, DnsSdDelegate* delegate) override {
        ++m_resolveCount;
        m_timeoutSeconds = timeoutSeconds;
        m_delegate = delegate;
    }

    int resolveCount() const { return m_resolveCount; }
    double timeoutSeconds() const { return m_timeoutSeconds; }
    DnsSdDelegate* delegate() const { return m_delegate; }

private:
    std::string m_type;
    std::string m_name;
    std::string m_domain;
    int m_resolveCount = 0;
    double m_timeoutSeconds = 0;
    DnsSdDelegate* m_delegate = nullptr;
};

class FakeDnsSdBackend final : public DnsSdBackend {
public:
    std::unique_ptr<DnsSdBrowser> makeBrowser(DnsSdDelegate* delegate) override;
    bool isAvailable() const override { return m_isAvailable; }
    void setAvailabilityHandler(std::function<void(bool available)> handler) override {
        m_availabilityHandler = std::move(handler);
    }

    // Whether a browser browses `type` now (in "local." or any domain).
    bool isBrowsing(const std::string& type) const;
    // How many times browsing was asked for, all browsers together.
    int browseCount() const { return m_browseCount; }

    // Reports a service found by the browser that browses `type`; returns the service object, or
    // null when no browser browses that type.
    std::shared_ptr<FakeDnsSdService> find(const std::string& type, const std::string& name,
                                           const std::string& domain = "local.");
    // Reports the service removed (with a new service object, as a platform browser would).
    void remove(const std::string& type, const std::string& name, const std::string& domain = "local.");
    // Reports a resolution of `service` to the delegate it is resolving for.
    void resolve(const std::shared_ptr<FakeDnsSdService>& service, const DnsSdResolution& resolution);
    // Reports that `service`'s resolution ended without an answer.
    void failResolving(const std::shared_ptr<FakeDnsSdService>& service);
    // Reports that the browser of `type` stopped browsing on its own.
    void stopBrowsing(const std::string& type);
    void setAvailable(bool available);

private:
    friend class FakeDnsSdBrowser;
    struct BrowserEntry {
        DnsSdDelegate* delegate = nullptr;
        std::optional<std::string> type;
    };
    BrowserEntry* browserFor(const std::string& type);

    std::map<int, BrowserEntry> m_browsers;
    int m_nextBrowserId = 0;
    int m_browseCount = 0;
    bool m_isAvailable = true;
    std::function<void(bool)> m_availabilityHandler;
};

} // namespace velk

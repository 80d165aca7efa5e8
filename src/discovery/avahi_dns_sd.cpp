// DNS-SD through the Avahi daemon. The Avahi client runs on its own poll thread; every event is
// copied there and handed to the thread that made the backend, in the order it happened.
//
// Avahi writes types and domains without the trailing dot and reports a service once per
// interface and protocol; the browser adds the dots and reports a service found on its first
// instance and removed on its last. Only IPv4 is browsed and resolved.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include "base/executor.hpp"
#include "discovery/avahi_service_instances.hpp"
#include "discovery/dns_sd.hpp"

namespace velk {

namespace {

std::string withTrailingDot(const char* text) {
    std::string out = text ? text : "";
    if (out.empty() || out.back() != '.') out += '.';
    return out;
}

std::string withoutTrailingDot(const std::string& text) {
    if (!text.empty() && text.back() == '.') return text.substr(0, text.size() - 1);
    return text;
}

bool isUsableClientState(AvahiClientState state) {
    return state == AVAHI_CLIENT_S_REGISTERING || state == AVAHI_CLIENT_S_RUNNING ||
           state == AVAHI_CLIENT_S_COLLISION;
}

// Entries without "=" carry no value and are left out; a repeated key keeps its first value.
DnsSdTxtRecord txtRecordFrom(AvahiStringList* list) {
    DnsSdTxtRecord record;
    for (AvahiStringList* entry = list; entry; entry = avahi_string_list_get_next(entry)) {
        char* key = nullptr;
        char* value = nullptr;
        size_t size = 0;
        if (avahi_string_list_get_pair(entry, &key, &value, &size) != 0) continue;
        if (key && *key && value) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(value);
            record.emplace(key, std::vector<std::uint8_t>(bytes, bytes + size));
        }
        avahi_free(key);
        avahi_free(value);
    }
    return record;
}

constexpr unsigned kReconnectDelayMs = 1000;

class AvahiCore;
class AvahiService;

// One browse of a browser. Fields marked (poll) are read and written with the poll lock held;
// the rest belong to the creating thread.
struct BrowserState {
    std::shared_ptr<AvahiCore> core;
    DnsSdDelegate* delegate = nullptr;
    std::weak_ptr<BrowserState> self;
    // Bumped by every browse and stop, so reports of an earlier browse are dropped. (poll)
    std::uint64_t generation = 0;
    bool isWanted = false;                                  // (poll)
    std::string type;                                       // with its dot (poll)
    std::string domain;                                     // with its dot (poll)
    AvahiServiceBrowser* avahiBrowser = nullptr;            // (poll)
    AvahiServiceInstances instances;                        // (poll)
};

class AvahiCore {
public:
    AvahiCore() : m_context(std::make_unique<QObject>()) {
        m_poll = avahi_threaded_poll_new();
        if (!m_poll) return;
        int error = 0;
        m_client = avahi_client_new(avahi_threaded_poll_get(m_poll), AVAHI_CLIENT_NO_FAIL,
                                    &AvahiCore::clientCallback, this, &error);
        if (!m_client) return;
        m_isConstructed = true;
        m_isAvailable = isUsableClientState(m_clientState);
        if (avahi_threaded_poll_start(m_poll) < 0) {
            avahi_client_free(m_client);
            m_client = nullptr;
            m_isAvailable = false;
            return;
        }
        m_isPollRunning = true;
    }

    ~AvahiCore() {
        if (m_isPollRunning) avahi_threaded_poll_stop(m_poll);
        if (m_client) avahi_client_free(m_client);
        if (m_poll) avahi_threaded_poll_free(m_poll);
    }

    AvahiCore(const AvahiCore&) = delete;
    AvahiCore& operator=(const AvahiCore&) = delete;

    // Holds the poll lock for the lifetime of the guard (never taken on the poll thread).
    class Lock {
    public:
        explicit Lock(AvahiCore& core) : m_core(core) {
            if (m_core.m_isPollRunning) avahi_threaded_poll_lock(m_core.m_poll);
        }
        ~Lock() {
            if (m_core.m_isPollRunning) avahi_threaded_poll_unlock(m_core.m_poll);
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        AvahiCore& m_core;
    };

    // With the lock held.
    AvahiClient* usableClient() const {
        return m_client && m_isPollRunning && isUsableClientState(m_clientState) ? m_client : nullptr;
    }
    const AvahiPoll* pollApi() const { return avahi_threaded_poll_get(m_poll); }

    bool isAvailable() const { return m_isAvailable; }
    void setAvailabilityHandler(std::function<void(bool)> handler) { m_availabilityHandler = std::move(handler); }

    // With the lock held.
    void addBrowser(BrowserState* state) { m_browsers.insert(state); }
    void removeBrowser(BrowserState* state) { m_browsers.erase(state); }
    void addService(AvahiService* service) { m_services.insert(service); }
    void removeService(AvahiService* service) { m_services.erase(service); }

    // With the lock held: starts the Avahi browser of a wanted browse when the daemon is there.
    void startAvahiBrowser(BrowserState& state) {
        AvahiClient* client = usableClient();
        if (!client || !state.isWanted || state.avahiBrowser) return;
        state.instances.clear();
        state.avahiBrowser = avahi_service_browser_new(
            client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, withoutTrailingDot(state.type).c_str(),
            withoutTrailingDot(state.domain).c_str(), static_cast<AvahiLookupFlags>(0),
            &AvahiCore::browseCallback, &state);
    }

    static void stopAvahiBrowser(BrowserState& state) {
        if (state.avahiBrowser) avahi_service_browser_free(state.avahiBrowser);
        state.avahiBrowser = nullptr;
        state.instances.clear();
    }

    // From the poll thread: runs `fn` on the creating thread unless the backend is gone by then.
    void deliver(std::function<void()> fn) { postTo(m_context.get(), std::move(fn)); }

private:
    static void clientCallback(AvahiClient* client, AvahiClientState state, void* userdata) {
        auto* core = static_cast<AvahiCore*>(userdata);
        core->m_clientState = state;
        // During avahi_client_new the constructor reads the state itself.
        if (!core->m_isConstructed) return;
        core->m_client = client;
        bool available = isUsableClientState(state);
        if (available) {
            for (BrowserState* browser : core->m_browsers) core->startAvahiBrowser(*browser);
        } else if (state == AVAHI_CLIENT_FAILURE) {
            // The daemon went away. Its browsers and resolvers die with this client; a new client
            // waits for the daemon to come back and browsing resumes then.
            for (BrowserState* browser : core->m_browsers) {
                browser->avahiBrowser = nullptr;
                browser->instances.clear();
            }
            core->forgetResolvers();
            core->scheduleReconnect();
        } else {
            for (BrowserState* browser : core->m_browsers) stopAvahiBrowser(*browser);
        }
        core->publishAvailability(available);
    }

    void publishAvailability(bool available) {
        deliver([this, available] {
            if (m_isAvailable == available) return;
            m_isAvailable = available;
            if (m_availabilityHandler) m_availabilityHandler(available);
        });
    }

    // With the lock held, on the poll thread: a client may not be freed from its own callback.
    void scheduleReconnect() {
        if (m_reconnectTimeout) return;
        struct timeval deadline {};
        avahi_elapse_time(&deadline, kReconnectDelayMs, 0);
        m_reconnectTimeout = pollApi()->timeout_new(pollApi(), &deadline, &AvahiCore::reconnectCallback, this);
    }

    static void reconnectCallback(AvahiTimeout* timeout, void* userdata) {
        auto* core = static_cast<AvahiCore*>(userdata);
        core->pollApi()->timeout_free(timeout);
        core->m_reconnectTimeout = nullptr;
        if (core->m_client) avahi_client_free(core->m_client);
        core->m_client = nullptr;
        core->m_clientState = AVAHI_CLIENT_CONNECTING;
        int error = 0;
        AvahiClient* client = avahi_client_new(core->pollApi(), AVAHI_CLIENT_NO_FAIL, &AvahiCore::clientCallback,
                                               core, &error);
        if (client) {
            core->m_client = client;
            return;
        }
        // Not even the bus is there any more: browsing has ended for good.
        for (BrowserState* browser : core->m_browsers) {
            if (!browser->isWanted) continue;
            browser->isWanted = false;
            core->reportStopped(*browser);
        }
    }

    void forgetResolvers();

    void reportStopped(BrowserState& state) {
        deliver([weak = state.self, generation = state.generation] {
            auto browser = weak.lock();
            if (!browser || browser->generation != generation) return;
            browser->delegate->browsingStopped();
        });
    }

    static void browseCallback(AvahiServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
                               const char* name, const char* type, const char* domain,
                               AvahiLookupResultFlags, void* userdata);

    std::unique_ptr<QObject> m_context;
    AvahiThreadedPoll* m_poll = nullptr;
    AvahiClient* m_client = nullptr;
    AvahiClientState m_clientState = AVAHI_CLIENT_CONNECTING;
    bool m_isConstructed = false;
    bool m_isPollRunning = false;
    std::set<BrowserState*> m_browsers; // (poll)
    std::set<AvahiService*> m_services; // (poll)
    AvahiTimeout* m_reconnectTimeout = nullptr; // (poll)
    // The creating thread's view.
    bool m_isAvailable = false;
    std::function<void(bool)> m_availabilityHandler;
};

class AvahiService final : public DnsSdService, public std::enable_shared_from_this<AvahiService> {
public:
    AvahiService(std::shared_ptr<AvahiCore> core, std::string type, std::string name, std::string domain)
        : m_core(std::move(core)), m_type(std::move(type)), m_name(std::move(name)), m_domain(std::move(domain)) {
        AvahiCore::Lock lock(*m_core);
        m_core->addService(this);
    }

    ~AvahiService() override {
        AvahiCore::Lock lock(*m_core);
        m_core->removeService(this);
        stopResolving();
    }

    // With the lock held, when the client that owned the resolver is gone.
    void forgetResolver() { m_resolver = nullptr; }

    const std::string& type() const override { return m_type; }
    const std::string& name() const override { return m_name; }
    const std::string& domain() const override { return m_domain; }

    void resolve(double timeoutSeconds, DnsSdDelegate* delegate) override {
        AvahiCore::Lock lock(*m_core);
        stopResolving();
        m_delegate = delegate;
        m_self = weak_from_this();
        ++m_generation;
        AvahiClient* client = m_core->usableClient();
        if (!client || !delegate) return;
        m_resolver = avahi_service_resolver_new(
            client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, m_name.c_str(), withoutTrailingDot(m_type).c_str(),
            withoutTrailingDot(m_domain).c_str(), AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0),
            &AvahiService::resolveCallback, this);
        if (!m_resolver) return;
        struct timeval deadline {};
        auto timeoutUsec = static_cast<AvahiUsec>(timeoutSeconds * 1'000'000.0);
        avahi_elapse_time(&deadline, static_cast<unsigned>(timeoutUsec / 1000), 0);
        m_timeout = m_core->pollApi()->timeout_new(m_core->pollApi(), &deadline, &AvahiService::timeoutCallback, this);
    }

private:
    // With the lock held.
    void stopResolving() {
        if (m_resolver) avahi_service_resolver_free(m_resolver);
        m_resolver = nullptr;
        if (m_timeout) m_core->pollApi()->timeout_free(m_timeout);
        m_timeout = nullptr;
    }

    static void timeoutCallback(AvahiTimeout*, void* userdata) {
        static_cast<AvahiService*>(userdata)->stopResolving();
    }

    static void resolveCallback(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                                const char*, const char*, const char*, const char* hostName,
                                const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                                AvahiLookupResultFlags, void* userdata) {
        // A failure to resolve is not reported; the time-out ends the resolution.
        if (event != AVAHI_RESOLVER_FOUND) return;
        auto* service = static_cast<AvahiService*>(userdata);
        DnsSdResolution resolution;
        if (hostName) resolution.hostName = withTrailingDot(hostName);
        resolution.port = port;
        if (txt) resolution.txtRecord = txtRecordFrom(txt);
        if (address && address->proto == AVAHI_PROTO_INET) {
            char text[AVAHI_ADDRESS_STR_MAX] = {};
            if (avahi_address_snprint(text, sizeof text, address)) resolution.ipv4Address = std::string(text);
        }
        service->m_core->deliver([weak = service->m_self, generation = service->m_generation,
                                  resolution = std::move(resolution)] {
            auto self = weak.lock();
            if (!self || self->m_generation != generation || !self->m_delegate) return;
            self->m_delegate->serviceResolved(self, resolution);
        });
    }

    std::shared_ptr<AvahiCore> m_core;
    std::string m_type;
    std::string m_name;
    std::string m_domain;
    // Set on the creating thread with the lock held, read by the poll thread with it held.
    DnsSdDelegate* m_delegate = nullptr;
    std::weak_ptr<AvahiService> m_self;
    std::uint64_t m_generation = 0;
    AvahiServiceResolver* m_resolver = nullptr;
    AvahiTimeout* m_timeout = nullptr;
};

void AvahiCore::forgetResolvers() {
    for (AvahiService* service : m_services) service->forgetResolver();
}

void AvahiCore::browseCallback(AvahiServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
                               const char* name, const char* type, const char* domain, AvahiLookupResultFlags,
                               void* userdata) {
    auto* state = static_cast<BrowserState*>(userdata);
    AvahiCore& core = *state->core;
    if (event == AVAHI_BROWSER_FAILURE) {
        state->isWanted = false;
        core.reportStopped(*state);
        return;
    }
    if (event != AVAHI_BROWSER_NEW && event != AVAHI_BROWSER_REMOVE) return;
    if (!name || !type || !domain) return;
    auto key = std::make_tuple(std::string(name), withTrailingDot(type), withTrailingDot(domain));
    bool isNew = event == AVAHI_BROWSER_NEW;
    if (isNew ? !state->instances.add(key) : !state->instances.remove(key)) return;
    core.deliver([weak = state->self, generation = state->generation, key = std::move(key), isNew] {
        auto browser = weak.lock();
        if (!browser || browser->generation != generation) return;
        auto service = std::make_shared<AvahiService>(browser->core, std::get<1>(key), std::get<0>(key),
                                                      std::get<2>(key));
        if (isNew) {
            browser->delegate->serviceFound(service, false);
        } else {
            browser->delegate->serviceRemoved(service, false);
        }
    });
}

class AvahiBrowser final : public DnsSdBrowser {
public:
    AvahiBrowser(std::shared_ptr<AvahiCore> core, DnsSdDelegate* delegate)
        : m_state(std::make_shared<BrowserState>()) {
        m_state->core = std::move(core);
        m_state->delegate = delegate;
        m_state->self = m_state;
        AvahiCore::Lock lock(*m_state->core);
        m_state->core->addBrowser(m_state.get());
    }

    ~AvahiBrowser() override {
        AvahiCore::Lock lock(*m_state->core);
        m_state->core->removeBrowser(m_state.get());
        AvahiCore::stopAvahiBrowser(*m_state);
        m_state->delegate = nullptr;
        ++m_state->generation;
    }

    void browse(const std::string& type, const std::string& domain) override {
        AvahiCore::Lock lock(*m_state->core);
        AvahiCore::stopAvahiBrowser(*m_state);
        ++m_state->generation;
        m_state->type = withTrailingDot(type.c_str());
        m_state->domain = withTrailingDot(domain.c_str());
        m_state->isWanted = true;
        m_state->core->startAvahiBrowser(*m_state);
    }

    void stop() override {
        AvahiCore::Lock lock(*m_state->core);
        AvahiCore::stopAvahiBrowser(*m_state);
        ++m_state->generation;
        m_state->isWanted = false;
    }

private:
    std::shared_ptr<BrowserState> m_state;
};

class AvahiBackend final : public DnsSdBackend {
public:
    AvahiBackend() : m_core(std::make_shared<AvahiCore>()) {}

    std::unique_ptr<DnsSdBrowser> makeBrowser(DnsSdDelegate* delegate) override {
        return std::make_unique<AvahiBrowser>(m_core, delegate);
    }
    bool isAvailable() const override { return m_core->isAvailable(); }
    void setAvailabilityHandler(std::function<void(bool available)> handler) override {
        m_core->setAvailabilityHandler(std::move(handler));
    }

private:
    std::shared_ptr<AvahiCore> m_core;
};

} // namespace

std::shared_ptr<DnsSdBackend> makeAvahiDnsSdBackend() { return std::make_shared<AvahiBackend>(); }

} // namespace velk

// DNS-SD through the Avahi daemon. Every call into Avahi runs on one thread of its own, the loop:
// making the client, which connects to the system bus and never returns while a bus that took the
// connection stays silent; browsing and resolving, which wait for the daemon's replies. The thread
// that made the backend only posts commands to the loop and receives its reports, in the order the
// events happened, so it never waits for the bus or the daemon. Ending the backend tells the loop to
// end and waits for nothing: a loop still inside the client's connection is left behind.
//
// Avahi writes types and domains without the trailing dot and reports a service once per
// interface and protocol; the browser adds the dots and reports a service found on its first
// instance and removed on its last. Only IPv4 is browsed and resolved.

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

#include <QDBusConnection>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>
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

class AvahiLoop;
class AvahiService;

// The creating thread's side of a browser: what its reports are checked against.
struct BrowserFront {
    DnsSdDelegate* delegate = nullptr;
    // Bumped by every browse, stop and the browser's end, so reports of an earlier browse are dropped.
    std::uint64_t generation = 0;
};

// The creating thread's side of the backend, shared by its browsers and services.
struct AvahiFront {
    explicit AvahiFront(std::shared_ptr<AvahiLoop> running) : loop(std::move(running)) {}
    ~AvahiFront();
    std::shared_ptr<AvahiLoop> loop;
    std::unique_ptr<QObject> receiver = std::make_unique<QObject>(); // reports run on its thread
    bool isAvailable = false;
    std::function<void(bool)> availabilityHandler;
    std::uint64_t lastId = 0;
};

// A browse as the loop keeps it.
struct LoopBrowser {
    AvahiLoop* loop = nullptr;
    std::weak_ptr<BrowserFront> front;
    std::uint64_t generation = 0;
    bool isWanted = false;
    std::string type;   // with its dot
    std::string domain; // with its dot
    AvahiServiceBrowser* avahiBrowser = nullptr;
    AvahiServiceInstances instances;
};

// A resolution as the loop keeps it.
struct LoopResolver {
    AvahiLoop* loop = nullptr;
    std::weak_ptr<AvahiService> service;
    std::uint64_t generation = 0;
    AvahiServiceResolver* resolver = nullptr;
    AvahiTimeout* timeout = nullptr;
};

class AvahiLoop {
public:
    AvahiLoop() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~AvahiLoop() {
        if (m_wake >= 0) ::close(m_wake);
    }
    AvahiLoop(const AvahiLoop&) = delete;
    AvahiLoop& operator=(const AvahiLoop&) = delete;

    // Starts the loop's thread, which keeps the loop alive for as long as it runs.
    static void start(const std::shared_ptr<AvahiLoop>& loop, const std::shared_ptr<AvahiFront>& front) {
        {
            std::lock_guard lock(loop->m_mutex);
            loop->m_receiver = front->receiver.get();
        }
        loop->m_front = front;
        try {
            std::thread([loop] { loop->run(); }).detach();
        } catch (const std::system_error&) {
            // Without a thread there is no DNS-SD, as without a daemon.
        }
    }

    // Any thread: runs `command` on the loop, in the order posted.
    void post(std::function<void(AvahiLoop&)> command) {
        {
            std::lock_guard lock(m_mutex);
            if (m_ending) return;
            m_commands.push_back(std::move(command));
        }
        wake();
    }

    // The creating thread, as the backend goes: no report is delivered any more, and the loop ends
    // once it is free to.
    void end() {
        {
            std::lock_guard lock(m_mutex);
            m_ending = true;
            m_receiver = nullptr;
            m_commands.clear();
        }
        wake();
    }

    // The loop's operations, run by commands.
    void browse(std::uint64_t id, std::weak_ptr<BrowserFront> front, std::uint64_t generation, std::string type,
                std::string domain) {
        auto& state = m_browsers[id];
        if (!state) state = std::make_unique<LoopBrowser>();
        stopAvahiBrowser(*state);
        state->loop = this;
        state->front = std::move(front);
        state->generation = generation;
        state->type = std::move(type);
        state->domain = std::move(domain);
        state->isWanted = true;
        startAvahiBrowser(*state);
    }

    void stopBrowsing(std::uint64_t id) {
        const auto found = m_browsers.find(id);
        if (found == m_browsers.end()) return;
        stopAvahiBrowser(*found->second);
        found->second->isWanted = false;
    }

    void forgetBrowser(std::uint64_t id) {
        const auto found = m_browsers.find(id);
        if (found == m_browsers.end()) return;
        stopAvahiBrowser(*found->second);
        m_browsers.erase(found);
    }

    void resolve(std::uint64_t id, std::weak_ptr<AvahiService> service, std::uint64_t generation,
                 const std::string& name, const std::string& type, const std::string& domain, double timeoutSeconds) {
        auto& state = m_resolvers[id];
        if (!state) state = std::make_unique<LoopResolver>();
        stopResolving(*state);
        state->loop = this;
        state->service = std::move(service);
        state->generation = generation;
        AvahiClient* client = usableClient();
        if (!client) return;
        state->resolver = avahi_service_resolver_new(
            client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, name.c_str(), withoutTrailingDot(type).c_str(),
            withoutTrailingDot(domain).c_str(), AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0),
            &AvahiLoop::resolveCallback, state.get());
        if (!state->resolver) return;
        struct timeval deadline {};
        auto timeoutUsec = static_cast<AvahiUsec>(timeoutSeconds * 1'000'000.0);
        avahi_elapse_time(&deadline, static_cast<unsigned>(timeoutUsec / 1000), 0);
        state->timeout = pollApi()->timeout_new(pollApi(), &deadline, &AvahiLoop::resolveTimeoutCallback, state.get());
    }

    void forgetService(std::uint64_t id) {
        const auto found = m_resolvers.find(id);
        if (found == m_resolvers.end()) return;
        stopResolving(*found->second);
        m_resolvers.erase(found);
    }

private:
    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
    }

    bool isEnding() {
        std::lock_guard lock(m_mutex);
        return m_ending;
    }

    // Runs `report` on the creating thread unless the backend is gone by then.
    void deliver(std::function<void()> report) {
        std::lock_guard lock(m_mutex);
        if (m_receiver) postTo(m_receiver, std::move(report));
    }

    const AvahiPoll* pollApi() const { return avahi_simple_poll_get(m_poll); }

    AvahiClient* usableClient() const {
        return m_client && isUsableClientState(m_clientState) ? m_client : nullptr;
    }

    void run() {
        m_poll = avahi_simple_poll_new();
        if (!m_poll || m_wake < 0) return;
        m_wakeWatch = pollApi()->watch_new(pollApi(), m_wake, AVAHI_WATCH_IN, &AvahiLoop::wakeCallback, this);
        if (!isEnding()) {
            UnboundedCall connecting;
            // libdbus makes every new bus connection of the process under one lock, which Avahi's
            // client holds for as long as a silent bus keeps it waiting. Qt's session connection
            // (the screen reader's bridge, the file viewer) is made first, so that it never waits
            // behind it.
            QDBusConnection::sessionBus();
            int error = 0;
            if (!isEnding()) {
                m_client = avahi_client_new(pollApi(), AVAHI_CLIENT_NO_FAIL, &AvahiLoop::clientCallback, this, &error);
            }
        }
        m_isConstructed = true;
        publishAvailability(usableClient() != nullptr);
        while (!isEnding()) {
            if (avahi_simple_poll_iterate(m_poll, -1) != 0) break;
        }
        for (auto& [id, browser] : m_browsers) stopAvahiBrowser(*browser);
        for (auto& [id, resolver] : m_resolvers) stopResolving(*resolver);
        if (m_reconnectTimeout) pollApi()->timeout_free(m_reconnectTimeout);
        if (m_client) avahi_client_free(m_client);
        if (m_wakeWatch) pollApi()->watch_free(m_wakeWatch);
        avahi_simple_poll_free(m_poll);
    }

    static void wakeCallback(AvahiWatch*, int descriptor, AvahiWatchEvent, void* userdata) {
        auto* loop = static_cast<AvahiLoop*>(userdata);
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(descriptor, &count, sizeof count);
        std::deque<std::function<void(AvahiLoop&)>> commands;
        {
            std::lock_guard lock(loop->m_mutex);
            commands.swap(loop->m_commands);
        }
        for (auto& command : commands) command(*loop);
    }

    void startAvahiBrowser(LoopBrowser& state) {
        AvahiClient* client = usableClient();
        if (!client || !state.isWanted || state.avahiBrowser) return;
        state.instances.clear();
        state.avahiBrowser = avahi_service_browser_new(
            client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, withoutTrailingDot(state.type).c_str(),
            withoutTrailingDot(state.domain).c_str(), static_cast<AvahiLookupFlags>(0), &AvahiLoop::browseCallback,
            &state);
    }

    static void stopAvahiBrowser(LoopBrowser& state) {
        if (state.avahiBrowser) avahi_service_browser_free(state.avahiBrowser);
        state.avahiBrowser = nullptr;
        state.instances.clear();
    }

    void stopResolving(LoopResolver& state) {
        if (state.resolver) avahi_service_resolver_free(state.resolver);
        state.resolver = nullptr;
        if (state.timeout) pollApi()->timeout_free(state.timeout);
        state.timeout = nullptr;
    }

    static void clientCallback(AvahiClient* client, AvahiClientState state, void* userdata) {
        auto* loop = static_cast<AvahiLoop*>(userdata);
        loop->m_clientState = state;
        // During avahi_client_new the loop reads the state itself afterwards.
        if (!loop->m_isConstructed) return;
        loop->m_client = client;
        const bool available = isUsableClientState(state);
        if (available) {
            for (auto& [id, browser] : loop->m_browsers) loop->startAvahiBrowser(*browser);
        } else if (state == AVAHI_CLIENT_FAILURE) {
            // The daemon went away. Its browsers and resolvers die with this client; a new client
            // waits for the daemon to come back and browsing resumes then.
            for (auto& [id, browser] : loop->m_browsers) {
                browser->avahiBrowser = nullptr;
                browser->instances.clear();
            }
            for (auto& [id, resolver] : loop->m_resolvers) resolver->resolver = nullptr;
            loop->scheduleReconnect();
        } else {
            for (auto& [id, browser] : loop->m_browsers) stopAvahiBrowser(*browser);
        }
        loop->publishAvailability(available);
    }

    void publishAvailability(bool available) {
        deliver([weak = m_front, available] {
            auto front = weak.lock();
            if (!front || front->isAvailable == available) return;
            front->isAvailable = available;
            if (front->availabilityHandler) front->availabilityHandler(available);
        });
    }

    // A client may not be freed from its own callback.
    void scheduleReconnect() {
        if (m_reconnectTimeout) return;
        struct timeval deadline {};
        avahi_elapse_time(&deadline, kReconnectDelayMs, 0);
        m_reconnectTimeout = pollApi()->timeout_new(pollApi(), &deadline, &AvahiLoop::reconnectCallback, this);
    }

    static void reconnectCallback(AvahiTimeout* timeout, void* userdata) {
        auto* loop = static_cast<AvahiLoop*>(userdata);
        loop->pollApi()->timeout_free(timeout);
        loop->m_reconnectTimeout = nullptr;
        if (loop->m_client) avahi_client_free(loop->m_client);
        loop->m_client = nullptr;
        loop->m_clientState = AVAHI_CLIENT_CONNECTING;
        int error = 0;
        AvahiClient* client = nullptr;
        {
            UnboundedCall connecting;
            client = avahi_client_new(loop->pollApi(), AVAHI_CLIENT_NO_FAIL, &AvahiLoop::clientCallback, loop, &error);
        }
        if (client) {
            loop->m_client = client;
            return;
        }
        // Not even the bus is there any more: browsing has ended for good.
        for (auto& [id, browser] : loop->m_browsers) {
            if (!browser->isWanted) continue;
            browser->isWanted = false;
            loop->reportStopped(*browser);
        }
    }

    void reportStopped(const LoopBrowser& state) {
        deliver([weak = state.front, generation = state.generation] {
            auto browser = weak.lock();
            if (!browser || browser->generation != generation || !browser->delegate) return;
            browser->delegate->browsingStopped();
        });
    }

    static void browseCallback(AvahiServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
                               const char* name, const char* type, const char* domain, AvahiLookupResultFlags,
                               void* userdata);

    static void resolveCallback(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                                const char*, const char*, const char*, const char* hostName,
                                const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                                AvahiLookupResultFlags, void* userdata);

    static void resolveTimeoutCallback(AvahiTimeout*, void* userdata) {
        auto* state = static_cast<LoopResolver*>(userdata);
        state->loop->stopResolving(*state);
    }

    // Shared with any thread.
    std::mutex m_mutex;
    std::deque<std::function<void(AvahiLoop&)>> m_commands;
    QObject* m_receiver = nullptr;
    bool m_ending = false;
    const int m_wake;
    // The loop's own; set before its thread starts.
    std::weak_ptr<AvahiFront> m_front;
    AvahiSimplePoll* m_poll = nullptr;
    AvahiWatch* m_wakeWatch = nullptr;
    AvahiClient* m_client = nullptr;
    AvahiClientState m_clientState = AVAHI_CLIENT_CONNECTING;
    bool m_isConstructed = false;
    AvahiTimeout* m_reconnectTimeout = nullptr;
    std::map<std::uint64_t, std::unique_ptr<LoopBrowser>> m_browsers;
    std::map<std::uint64_t, std::unique_ptr<LoopResolver>> m_resolvers;
};

AvahiFront::~AvahiFront() { loop->end(); }

class AvahiService final : public DnsSdService, public std::enable_shared_from_this<AvahiService> {
public:
    AvahiService(std::shared_ptr<AvahiFront> front, std::string type, std::string name, std::string domain)
        : m_front(std::move(front)), m_id(++m_front->lastId), m_type(std::move(type)), m_name(std::move(name)),
          m_domain(std::move(domain)) {}

    ~AvahiService() override {
        m_front->loop->post([id = m_id](AvahiLoop& loop) { loop.forgetService(id); });
    }

    const std::string& type() const override { return m_type; }
    const std::string& name() const override { return m_name; }
    const std::string& domain() const override { return m_domain; }

    void resolve(double timeoutSeconds, DnsSdDelegate* delegate) override {
        m_delegate = delegate;
        ++m_generation;
        m_front->loop->post([id = m_id, self = weak_from_this(), generation = m_generation, name = m_name,
                             type = m_type, domain = m_domain, timeoutSeconds, wanted = delegate != nullptr](
                                AvahiLoop& loop) {
            if (wanted) {
                loop.resolve(id, self, generation, name, type, domain, timeoutSeconds);
            } else {
                loop.forgetService(id);
            }
        });
    }

    // On the creating thread, from the loop's report.
    void resolved(std::uint64_t generation, const DnsSdResolution& resolution) {
        if (generation != m_generation || !m_delegate) return;
        m_delegate->serviceResolved(shared_from_this(), resolution);
    }

private:
    std::shared_ptr<AvahiFront> m_front;
    std::uint64_t m_id;
    std::string m_type;
    std::string m_name;
    std::string m_domain;
    DnsSdDelegate* m_delegate = nullptr;
    std::uint64_t m_generation = 0;
};

void AvahiLoop::resolveCallback(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                                const char*, const char*, const char*, const char* hostName,
                                const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                                AvahiLookupResultFlags, void* userdata) {
    // A failure to resolve is not reported; the time-out ends the resolution.
    if (event != AVAHI_RESOLVER_FOUND) return;
    auto* state = static_cast<LoopResolver*>(userdata);
    DnsSdResolution resolution;
    if (hostName) resolution.hostName = withTrailingDot(hostName);
    resolution.port = port;
    if (txt) resolution.txtRecord = txtRecordFrom(txt);
    if (address && address->proto == AVAHI_PROTO_INET) {
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        if (avahi_address_snprint(text, sizeof text, address)) resolution.ipv4Address = std::string(text);
    }
    state->loop->deliver([weak = state->service, generation = state->generation, resolution = std::move(resolution)] {
        if (auto service = weak.lock()) service->resolved(generation, resolution);
    });
}

void AvahiLoop::browseCallback(AvahiServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
                               const char* name, const char* type, const char* domain, AvahiLookupResultFlags,
                               void* userdata) {
    auto* state = static_cast<LoopBrowser*>(userdata);
    AvahiLoop& loop = *state->loop;
    if (event == AVAHI_BROWSER_FAILURE) {
        state->isWanted = false;
        loop.reportStopped(*state);
        return;
    }
    if (event != AVAHI_BROWSER_NEW && event != AVAHI_BROWSER_REMOVE) return;
    if (!name || !type || !domain) return;
    auto key = std::make_tuple(std::string(name), withTrailingDot(type), withTrailingDot(domain));
    const bool isNew = event == AVAHI_BROWSER_NEW;
    if (isNew ? !state->instances.add(key) : !state->instances.remove(key)) return;
    loop.deliver([weak = state->front, frontWeak = loop.m_front, generation = state->generation, key = std::move(key),
                  isNew] {
        auto browser = weak.lock();
        auto front = frontWeak.lock();
        if (!browser || !front || browser->generation != generation || !browser->delegate) return;
        auto service = std::make_shared<AvahiService>(front, std::get<1>(key), std::get<0>(key), std::get<2>(key));
        if (isNew) {
            browser->delegate->serviceFound(service, false);
        } else {
            browser->delegate->serviceRemoved(service, false);
        }
    });
}

class AvahiBrowser final : public DnsSdBrowser {
public:
    AvahiBrowser(std::shared_ptr<AvahiFront> front, DnsSdDelegate* delegate)
        : m_front(std::move(front)), m_id(++m_front->lastId), m_state(std::make_shared<BrowserFront>()) {
        m_state->delegate = delegate;
    }

    ~AvahiBrowser() override {
        m_state->delegate = nullptr;
        ++m_state->generation;
        m_front->loop->post([id = m_id](AvahiLoop& loop) { loop.forgetBrowser(id); });
    }

    void browse(const std::string& type, const std::string& domain) override {
        ++m_state->generation;
        m_front->loop->post([id = m_id, front = std::weak_ptr<BrowserFront>(m_state), generation = m_state->generation,
                             type = withTrailingDot(type.c_str()),
                             domain = withTrailingDot(domain.c_str())](AvahiLoop& loop) mutable {
            loop.browse(id, std::move(front), generation, std::move(type), std::move(domain));
        });
    }

    void stop() override {
        ++m_state->generation;
        m_front->loop->post([id = m_id](AvahiLoop& loop) { loop.stopBrowsing(id); });
    }

private:
    std::shared_ptr<AvahiFront> m_front;
    std::uint64_t m_id;
    std::shared_ptr<BrowserFront> m_state;
};

class AvahiBackend final : public DnsSdBackend {
public:
    AvahiBackend() : m_front(std::make_shared<AvahiFront>(std::make_shared<AvahiLoop>())) {
        AvahiLoop::start(m_front->loop, m_front);
    }

    std::unique_ptr<DnsSdBrowser> makeBrowser(DnsSdDelegate* delegate) override {
        return std::make_unique<AvahiBrowser>(m_front, delegate);
    }
    bool isAvailable() const override { return m_front->isAvailable; }
    void setAvailabilityHandler(std::function<void(bool available)> handler) override {
        m_front->availabilityHandler = std::move(handler);
    }

private:
    std::shared_ptr<AvahiFront> m_front;
};

} // namespace

std::shared_ptr<DnsSdBackend> makeAvahiDnsSdBackend() { return std::make_shared<AvahiBackend>(); }

} // namespace velk

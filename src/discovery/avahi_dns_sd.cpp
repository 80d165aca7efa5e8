// DNS-SD through the Avahi daemon's own D-Bus interface on the system bus, spoken through
// base/system_bus (sd-bus): every wait is bounded and ends at once when the backend goes, and no
// call here goes through libdbus, whose process-wide lock every D-Bus connection of Qt's takes too.
//
// A system_bus::Watch keeps the bus on a thread of its own, the loop. The thread that made the
// backend only posts commands to the loop and receives its reports, in the order the events
// happened, so it never waits for the bus or the daemon. The loop follows the daemon by the unique
// name that holds its well-known one (GetNameOwner, NameOwnerChanged) and its state (GetState,
// StateChanged): DNS-SD is available while the daemon is there and registering, running or renaming
// itself after a collision. Signals count only from the bus itself and from that unique name. A
// question about the owner or the state, or for a browser object, that gets no usable answer is asked
// again after a growing pause; the bus's own answer that nobody holds the daemon's name means no
// daemon. Each browse is a ServiceBrowser object that the daemon makes (ServiceBrowserPrepare) and
// starts (Start) only after its signals are subscribed to, so nothing it reports is missed; resolving
// is one ResolveService call with the resolution's time-out. Calls never start the daemon through bus
// activation.
//
// A daemon or a bus that goes away takes the browser objects and resolutions with it, but not the
// browse: the list stays as it is, and when both are back a fresh object is made. Once it has said it
// reported all it knows (AllForNow), or after the settle time-out, each listed service it did not
// report is looked up directly, since a phone can answer late, and removed only on the daemon's own
// answer that it cannot find it: a daemon that does not answer is asked again, never taken to have
// said so, and a look-up holds back nothing else: its round ends with its answer or when the daemon's
// own search time has passed. Every service it reports is reported found at once, a listed one again,
// so it is resolved anew and its source shows what the phone publishes now. A resolution that gets an
// error or no answer in its time is reported, so that a full list can give a freed place to the next
// phone in turn.
//
// This file holds the loop, the browses with their daemon objects and look-ups, and the creating
// thread's side; the daemon's watch (avahi_daemon), each browse's list (avahi_browse_list), the
// resolutions (avahi_resolutions) and the bus vocabulary they share (avahi_bus) have files of their own.
//
// Avahi writes types and domains without the trailing dot and reports a service once per
// interface and protocol; the browser adds the dots and reports a service found on its first
// instance and removed on its last. Only IPv4 is browsed and resolved.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <QObject>

#include <systemd/sd-bus.h>

#include "base/executor.hpp"
#include "base/system_bus.hpp"
#include "discovery/avahi_browse_list.hpp"
#include "discovery/avahi_bus.hpp"
#include "discovery/avahi_daemon.hpp"
#include "discovery/avahi_resolutions.hpp"
#include "discovery/avahi_service_instances.hpp"
#include "discovery/dns_sd.hpp"

namespace velk {

namespace {

using avahi::AvahiBrowseList;
using avahi::AvahiDaemon;
using avahi::AvahiResolutions;
using avahi::avahiAnyInterface;
using avahi::avahiCall;
using avahi::avahiIPv4;
using avahi::avahiName;
using avahi::firstPause;
using avahi::nextPause;
using avahi::resolveCall;
using avahi::withoutTrailingDot;
using avahi::withTrailingDot;

constexpr const char* avahiServer2Interface = "org.freedesktop.Avahi.Server2";
constexpr const char* avahiBrowserInterface = "org.freedesktop.Avahi.ServiceBrowser";
constexpr std::uint32_t avahiLookupNoTxt = 4;
constexpr std::uint32_t avahiLookupNoAddress = 8;

const std::string avahiOwnerRule = std::string("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                                               "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
                                   avahiName + "'";
const std::string avahiStateRule =
    std::string("type='signal',sender='") + avahiName + "',path='/',member='StateChanged'";
const std::string avahiBrowserRule =
    std::string("type='signal',sender='") + avahiName + "',interface='" + avahiBrowserInterface + "'";

// Tells one of the daemon's browser objects `member` ("Start", "Free"); nobody waits for an answer.
void tellBrowserObject(system_bus::Connection& bus, const std::string& path, const char* member) {
    system_bus::Message call = avahiCall(bus, path.c_str(), avahiBrowserInterface, member);
    if (call) sd_bus_message_set_expect_reply(call.get(), 0);
    bus.send(call);
}

void freeAvahiObject(system_bus::Connection& bus, const std::string& path) { tellBrowserObject(bus, path, "Free"); }

// How long the daemon looks for a service it is asked to resolve before it answers that it cannot
// find it (TimeoutError).
constexpr std::chrono::milliseconds avahiSearchTime{5'000};

// A look-up's round ends this long after it was asked, when the daemon has not answered by then: its
// search time and a moment for its answer to come.
constexpr std::chrono::milliseconds lookUpRound = avahiSearchTime + std::chrono::milliseconds(500);

// The daemon's own answer that it cannot find a service: its search ran out, or (wide area) the
// name does not exist.
bool isNotFound(const system_bus::Reply& reply) {
    return reply.isError("org.freedesktop.Avahi.TimeoutError") || reply.isError("org.freedesktop.Avahi.NotFoundError");
}

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
    std::unique_ptr<QObject> receiver = std::make_unique<QObject>(); // reports run on its thread
    bool isAvailable = false;
    std::function<void(bool)> availabilityHandler;
    std::uint64_t lastId = 0;
    // Declared last, so it ends first: its thread is joined before the receiver goes.
    std::unique_ptr<AvahiLoop> loop;
};

// A browse as the loop keeps it.
struct LoopBrowser {
    std::weak_ptr<BrowserFront> front;
    std::uint64_t generation = 0;
    bool isWanted = false;
    std::string type;   // with its dot
    std::string domain; // with its dot
    std::uint64_t request = 0; // the daemon's browser object last asked for; 0 for none
    std::string path;          // that object, once the daemon made it
    AvahiBrowseList list;
    std::chrono::milliseconds askAgainPause{0}; // before asking again for an object that never came
};

// Wires the parts on the watch's thread: the daemon, the browses and their daemon objects, the
// resolutions, and the reports to the creating thread.
class AvahiLoop {
public:
    AvahiLoop(std::weak_ptr<AvahiFront> front, QObject* receiver, std::string address, AvahiDnsSdTiming timing)
        : m_front(std::move(front)), m_receiver(receiver), m_timing(timing),
          m_daemon(timing.answerTimeout, [this](auto delay, auto command) { later(delay, std::move(command)); },
                   [this](system_bus::Connection* bus, bool usable) { usableChanged(bus, usable); },
                   [this] { daemonGone(); }) {
        system_bus::Watch::Handlers handlers;
        handlers.matches = {avahiOwnerRule, avahiStateRule, avahiBrowserRule};
        handlers.signal = [this](system_bus::Connection& bus, sd_bus_message* signal) { received(bus, signal); };
        handlers.connected = [this](system_bus::Connection& bus) { m_daemon.connected(bus); };
        handlers.lost = [this] { m_daemon.lost(); };
        // The daemon's handlers ask again later through the watch, perhaps at once on connecting.
        m_watch = std::make_unique<system_bus::Watch>(std::move(address), std::move(handlers),
                                                      system_bus::Watch::Timing{}, system_bus::Watch::StartLater{});
        m_watch->start();
    }
    AvahiLoop(const AvahiLoop&) = delete;
    AvahiLoop& operator=(const AvahiLoop&) = delete;

    // Any thread: runs `command` on the loop, in the order posted.
    void post(std::function<void(AvahiLoop&, system_bus::Connection*)> command) {
        m_watch->post([this, command = std::move(command)](system_bus::Connection* bus) { command(*this, bus); });
    }

    // The loop's operations, run by commands; `bus` is null while the bus has not let the loop in.
    void browse(system_bus::Connection* bus, std::uint64_t id, std::weak_ptr<BrowserFront> front,
                std::uint64_t generation, std::string type, std::string domain) {
        LoopBrowser& browser = m_browsers[id];
        endBrowse(bus, browser);
        browser.front = std::move(front);
        browser.generation = generation;
        browser.type = std::move(type);
        browser.domain = std::move(domain);
        browser.isWanted = true;
        browser.askAgainPause = firstPause();
        if (bus) m_daemon.askAgainNow(*bus);
        startDaemonBrowser(bus, id, browser);
    }

    void stopBrowsing(system_bus::Connection* bus, std::uint64_t id) {
        const auto found = m_browsers.find(id);
        if (found == m_browsers.end()) return;
        endBrowse(bus, found->second);
        found->second.isWanted = false;
    }

    void forgetBrowser(system_bus::Connection* bus, std::uint64_t id) {
        stopBrowsing(bus, id);
        m_browsers.erase(id);
    }

    void resolve(system_bus::Connection* bus, std::uint64_t id, std::weak_ptr<AvahiService> service,
                 std::uint64_t generation, AvahiServiceInstances::Key key, double timeoutSeconds) {
        if (!bus || !m_daemon.isUsable()) return m_resolutions.forget(id);
        const auto timeout = std::chrono::milliseconds(static_cast<std::int64_t>(timeoutSeconds * 1000.0));
        m_resolutions.start(*bus, id, key, timeout, [this, service = std::move(service), generation](auto resolution) {
            deliverResolution(service, generation, std::move(resolution));
        });
    }

    void forgetService(std::uint64_t id) { m_resolutions.forget(id); }

private:
    // Runs `command` on the loop once `delay` has passed.
    void later(std::chrono::milliseconds delay, std::function<void(system_bus::Connection*)> command) {
        m_watch->postAfter(delay, std::move(command));
    }

    // Runs `report` on the creating thread unless the backend is gone by then.
    void deliver(std::function<void()> report) { postTo(m_receiver, std::move(report)); }

    // Hands the service what its resolution found, or that it found nothing.
    void deliverResolution(const std::weak_ptr<AvahiService>& service, std::uint64_t generation,
                           std::optional<DnsSdResolution> resolution);

    void received(system_bus::Connection& bus, sd_bus_message* signal) {
        if (m_daemon.received(bus, signal) || !m_daemon.isFromDaemon(signal)) return;
        if (sd_bus_message_is_signal(signal, avahiBrowserInterface, nullptr)) browserSignal(bus, signal);
    }

    void usableChanged(system_bus::Connection* bus, bool usable) {
        for (auto& [id, browser] : m_browsers) {
            if (usable) {
                startDaemonBrowser(bus, id, browser);
            } else {
                endDaemonBrowser(bus, browser);
            }
        }
        deliver([weak = m_front, usable] {
            auto front = weak.lock();
            if (!front || front->isAvailable == usable) return;
            front->isAvailable = usable;
            if (front->availabilityHandler) front->availabilityHandler(usable);
        });
    }

    // The daemon left the bus, or the bus went: its browser objects and resolutions went with it.
    // Browsing resumes when both are back, and what is listed is then brought up to date.
    void daemonGone() {
        for (auto& [id, browser] : m_browsers) endDaemonBrowser(nullptr, browser);
        m_resolutions.clear();
    }

    // Has the daemon make a browser object, subscribed to already, and start it. An object that
    // never comes is asked for again after a pause.
    void startDaemonBrowser(system_bus::Connection* bus, std::uint64_t id, LoopBrowser& browser) {
        if (!bus || !m_daemon.isUsable() || !browser.isWanted || browser.request) return;
        browser.list.freshObject();
        browser.request = ++m_lastRequest;
        system_bus::Message call = avahiCall(*bus, "/", avahiServer2Interface, "ServiceBrowserPrepare");
        if (call) {
            sd_bus_message_append(call.get(), "iissu", avahiAnyInterface, avahiIPv4,
                                  withoutTrailingDot(browser.type).c_str(), withoutTrailingDot(browser.domain).c_str(),
                                  0u);
        }
        bus->callAsync(call, m_timing.answerTimeout, [this, bus, id, request = browser.request](const system_bus::Reply& reply) {
            const char* path = nullptr;
            const bool made = reply.answer() && sd_bus_message_read_basic(reply.answer(), 'o', &path) > 0 && path;
            LoopBrowser* current = stillAt(id, request);
            if (!made) {
                if (!current) return;
                current->request = 0;
                later(current->askAgainPause, [this, id](system_bus::Connection* connection) {
                    const auto again = m_browsers.find(id);
                    if (again != m_browsers.end()) startDaemonBrowser(connection, id, again->second);
                });
                current->askAgainPause = nextPause(current->askAgainPause);
                return;
            }
            if (!current) return freeAvahiObject(*bus, path);
            current->askAgainPause = firstPause();
            current->path = path;
            tellBrowserObject(*bus, path, "Start");
            if (!current->list.isSettling()) return;
            later(m_timing.settleTimeout, [this, id, request](system_bus::Connection* connection) {
                if (LoopBrowser* settling = stillAt(id, request)) settle(*connection, id, *settling);
            });
        });
    }

    // The browse `id` while the daemon object last asked for is still `request`; else null.
    LoopBrowser* stillAt(std::uint64_t id, std::uint64_t request) {
        const auto found = m_browsers.find(id);
        return found != m_browsers.end() && found->second.request == request ? &found->second : nullptr;
    }

    // The browse's fresh object has settled: the listed services it did not report are looked up.
    void settle(system_bus::Connection& bus, std::uint64_t id, LoopBrowser& browser) {
        for (const auto& key : browser.list.settle(reporter(browser))) {
            lookUp(bus, id, browser.request, key, firstPause());
        }
    }

    // Asks the daemon for a listed service that its browser object has not reported. Only the daemon's
    // own answer that it cannot find it removes it; one it finds stays listed, and is asked after again
    // until the object reports it; without either answer (a daemon that hangs, or another error) it
    // stays listed and is asked again after `pause`, which grows. Any answer, or none within the
    // daemon's search time, ends its round, so it holds back no other service of the browse; an answer
    // that comes later still counts.
    void lookUp(system_bus::Connection& bus, std::uint64_t id, std::uint64_t request, const AvahiBrowseList::Key& key,
                std::chrono::milliseconds pause) {
        later(lookUpRound, [this, id, request, key](system_bus::Connection*) {
            if (LoopBrowser* browser = stillAt(id, request)) browser->list.roundOver(key, reporter(*browser));
        });
        bus.callAsync(resolveCall(bus, key, avahiLookupNoTxt | avahiLookupNoAddress),
                      avahiSearchTime + m_timing.answerTimeout,
                      [this, id, request, key, pause](const system_bus::Reply& reply) {
                          LoopBrowser* browser = stillAt(id, request);
                          if (!browser) return;
                          using LookUp = AvahiBrowseList::LookUp;
                          const LookUp answer = reply.answer()      ? LookUp::found
                                                : isNotFound(reply) ? LookUp::notFound
                                                                    : LookUp::noAnswer;
                          if (!browser->list.lookedUp(key, answer, reporter(*browser))) return;
                          if (answer == LookUp::found) {
                              lookUpLater(m_timing.settleTimeout, id, request, key, firstPause());
                          } else {
                              lookUpLater(pause, id, request, key, nextPause(pause));
                          }
                      });
    }

    void lookUpLater(std::chrono::milliseconds delay, std::uint64_t id, std::uint64_t request, AvahiBrowseList::Key key,
                     std::chrono::milliseconds pause) {
        later(delay, [this, id, request, key = std::move(key), pause](system_bus::Connection* current) {
            if (current && stillAt(id, request)) lookUp(*current, id, request, key, pause);
        });
    }

    // Frees the browser's daemon object, also one the daemon is still making; what it reported is
    // forgotten, what the browse listed is kept.
    static void endDaemonBrowser(system_bus::Connection* bus, LoopBrowser& browser) {
        if (bus && !browser.path.empty()) freeAvahiObject(*bus, browser.path);
        browser.request = 0;
        browser.path.clear();
        browser.list.endObject();
    }

    // Ends the browse: its services are forgotten without reports.
    static void endBrowse(system_bus::Connection* bus, LoopBrowser& browser) {
        endDaemonBrowser(bus, browser);
        browser.list.clear();
    }

    void browserSignal(system_bus::Connection& bus, sd_bus_message* signal) {
        const char* path = sd_bus_message_get_path(signal);
        const auto found = std::find_if(m_browsers.begin(), m_browsers.end(), [&](const auto& candidate) {
            return path && !candidate.second.path.empty() && candidate.second.path == path;
        });
        if (found == m_browsers.end()) return;
        LoopBrowser& browser = found->second;
        if (sd_bus_message_is_signal(signal, nullptr, "Failure")) {
            endBrowse(&bus, browser);
            browser.isWanted = false;
            reportStopped(browser);
            return;
        }
        if (sd_bus_message_is_signal(signal, nullptr, "AllForNow")) return settle(bus, found->first, browser);
        const bool isNew = sd_bus_message_is_signal(signal, nullptr, "ItemNew") > 0;
        if (!isNew && sd_bus_message_is_signal(signal, nullptr, "ItemRemove") <= 0) return;
        std::int32_t interface = 0;
        std::int32_t protocol = 0;
        const char* name = nullptr;
        const char* type = nullptr;
        const char* domain = nullptr;
        if (sd_bus_message_read(signal, "iisss", &interface, &protocol, &name, &type, &domain) <= 0) return;
        if (!name || !type || !domain) return;
        const auto key = std::make_tuple(std::string(name), withTrailingDot(type), withTrailingDot(domain));
        isNew ? browser.list.itemNew(key, reporter(browser)) : browser.list.itemRemoved(key, reporter(browser));
    }

    // Tells `browser`'s delegate of a service found or removed.
    AvahiBrowseList::Report reporter(const LoopBrowser& browser) {
        return [this, &browser](const AvahiBrowseList::Key& key, bool isNew) { reportService(browser, key, isNew); };
    }

    void reportService(const LoopBrowser& browser, AvahiServiceInstances::Key key, bool isNew);

    void reportStopped(const LoopBrowser& browser) {
        deliver([weak = browser.front, generation = browser.generation] {
            auto front = weak.lock();
            if (!front || front->generation != generation || !front->delegate) return;
            front->delegate->browsingStopped();
        });
    }

    // Set before the loop's thread starts.
    std::weak_ptr<AvahiFront> m_front;
    QObject* m_receiver;
    const AvahiDnsSdTiming m_timing;
    // The loop's own.
    AvahiDaemon m_daemon;
    AvahiResolutions m_resolutions;
    std::uint64_t m_lastRequest = 0;
    std::map<std::uint64_t, LoopBrowser> m_browsers;
    // Declared last, so its thread ends before the rest goes.
    std::unique_ptr<system_bus::Watch> m_watch;
};

class AvahiService final : public DnsSdService, public std::enable_shared_from_this<AvahiService> {
public:
    AvahiService(std::shared_ptr<AvahiFront> front, std::string type, std::string name, std::string domain)
        : m_front(std::move(front)), m_id(++m_front->lastId), m_type(std::move(type)), m_name(std::move(name)),
          m_domain(std::move(domain)) {}

    ~AvahiService() override {
        m_front->loop->post([id = m_id](AvahiLoop& loop, system_bus::Connection*) { loop.forgetService(id); });
    }

    const std::string& type() const override { return m_type; }
    const std::string& name() const override { return m_name; }
    const std::string& domain() const override { return m_domain; }

    void resolve(double timeoutSeconds, DnsSdDelegate* delegate) override {
        m_delegate = delegate;
        ++m_generation;
        m_front->loop->post([id = m_id, self = weak_from_this(), generation = m_generation,
                             key = AvahiServiceInstances::Key{m_name, m_type, m_domain}, timeoutSeconds,
                             wanted = delegate != nullptr](AvahiLoop& loop, system_bus::Connection* bus) {
            if (wanted) {
                loop.resolve(bus, id, self, generation, key, timeoutSeconds);
            } else {
                loop.forgetService(id);
            }
        });
    }

    // On the creating thread, from the loop's report.
    void resolved(std::uint64_t generation, const std::optional<DnsSdResolution>& resolution) {
        if (generation != m_generation || !m_delegate) return;
        if (resolution) {
            m_delegate->serviceResolved(shared_from_this(), *resolution);
        } else {
            m_delegate->serviceNotResolved(shared_from_this());
        }
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

void AvahiLoop::deliverResolution(const std::weak_ptr<AvahiService>& service, std::uint64_t generation,
                                  std::optional<DnsSdResolution> resolution) {
    deliver([service, generation, resolution = std::move(resolution)] {
        if (auto resolving = service.lock()) resolving->resolved(generation, resolution);
    });
}

void AvahiLoop::reportService(const LoopBrowser& browser, AvahiServiceInstances::Key key, bool isNew) {
    deliver([weak = browser.front, frontWeak = m_front, generation = browser.generation, key = std::move(key), isNew] {
        auto state = weak.lock();
        auto front = frontWeak.lock();
        if (!state || !front || state->generation != generation || !state->delegate) return;
        auto service = std::make_shared<AvahiService>(front, std::get<1>(key), std::get<0>(key), std::get<2>(key));
        if (isNew) {
            state->delegate->serviceFound(service, false);
        } else {
            state->delegate->serviceRemoved(service, false);
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
        m_front->loop->post([id = m_id](AvahiLoop& loop, system_bus::Connection* bus) { loop.forgetBrowser(bus, id); });
    }

    void browse(const std::string& type, const std::string& domain) override {
        ++m_state->generation;
        m_front->loop->post([id = m_id, front = std::weak_ptr<BrowserFront>(m_state), generation = m_state->generation,
                             type = withTrailingDot(type.c_str()),
                             domain = withTrailingDot(domain.c_str())](AvahiLoop& loop,
                                                                       system_bus::Connection* bus) mutable {
            loop.browse(bus, id, std::move(front), generation, std::move(type), std::move(domain));
        });
    }

    void stop() override {
        ++m_state->generation;
        m_front->loop->post([id = m_id](AvahiLoop& loop, system_bus::Connection* bus) { loop.stopBrowsing(bus, id); });
    }

private:
    std::shared_ptr<AvahiFront> m_front;
    std::uint64_t m_id;
    std::shared_ptr<BrowserFront> m_state;
};

class AvahiBackend final : public DnsSdBackend {
public:
    AvahiBackend(std::string busAddress, AvahiDnsSdTiming timing) : m_front(std::make_shared<AvahiFront>()) {
        m_front->loop = std::make_unique<AvahiLoop>(m_front, m_front->receiver.get(), std::move(busAddress), timing);
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

std::shared_ptr<DnsSdBackend> makeAvahiDnsSdBackend(std::optional<std::string> busAddress, AvahiDnsSdTiming timing) {
    return std::make_shared<AvahiBackend>(system_bus::systemAddress(busAddress), timing);
}

} // namespace velk

#pragma once
// The DNS-SD (Bonjour) operations the transfer-source browser needs: browse one service type in
// one domain, hear of services found and removed, and resolve a found service with a time-out.
// One implementation talks to the Avahi daemon; tests use a fake.
//
// Every callback of a browser or service arrives on the thread that created its backend, one at a
// time and in the order the events happened, never from inside a call into the browser or service.
// Types and domains are written with their trailing dot ("_velk-transfer._tcp.", "local.").

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velk {

// TXT record entries: key to value bytes. A key that appears more than once keeps its first value.
using DnsSdTxtRecord = std::map<std::string, std::vector<std::uint8_t>>;

// What one resolution of a service reported.
struct DnsSdResolution {
    // As the responder wrote it, normally with a trailing dot ("phone.local.").
    std::optional<std::string> hostName;
    int port = 0;
    // Absent when the service has no TXT data.
    std::optional<DnsSdTxtRecord> txtRecord;
    // The IPv4 address the host name resolved to, dotted ("10.77.0.11"), when known. Connections
    // go here while URLs keep the advertised host name.
    std::optional<std::string> ipv4Address;
};

class DnsSdService;

// Receives what browsers and services report. Kept by pointer: it must outlive the browsers and
// services it was given to (their destruction drops any report still on its way).
class DnsSdDelegate {
public:
    virtual ~DnsSdDelegate() = default;
    // Also comes for a service found before, once the DNS-SD service has returned after a gap: the
    // new object stands for the service as it is now, to be resolved anew. A service new since the
    // gap is found at once; what left meanwhile is removed later.
    virtual void serviceFound(const std::shared_ptr<DnsSdService>& service, bool moreComing) = 0;
    virtual void serviceRemoved(const std::shared_ptr<DnsSdService>& service, bool moreComing) = 0;
    // Browsing ended without being asked to: the browse failed. A daemon or a bus that goes away
    // does not end browsing: it resumes when they return, what left meanwhile is then removed and
    // the rest found again, so that a resolution the gap cut short is made anew.
    virtual void browsingStopped() = 0;
    // May come more than once for one service while it resolves.
    virtual void serviceResolved(const std::shared_ptr<DnsSdService>& service,
                                 const DnsSdResolution& resolution) = 0;
    // A resolution ended without an answer: none within its time-out, or an error.
    virtual void serviceNotResolved(const std::shared_ptr<DnsSdService>& service) = 0;
};

// One service instance heard of by a browser. Its resolution stays alive as long as the object.
class DnsSdService {
public:
    virtual ~DnsSdService() = default;
    virtual const std::string& type() const = 0;
    virtual const std::string& name() const = 0;
    virtual const std::string& domain() const = 0;
    // Starts resolving; results go to `delegate` until `timeoutSeconds` have passed or the object
    // is destroyed. One that gets no answer in that time, or an error, is reported not resolved; one
    // a gap of the DNS-SD service cuts short reports nothing, as the service is found again when
    // browsing resumes. Resolving again restarts it: the earlier one reports nothing more.
    virtual void resolve(double timeoutSeconds, DnsSdDelegate* delegate) = 0;
};

class DnsSdBrowser {
public:
    virtual ~DnsSdBrowser() = default;
    // Browses `type` in `domain`, ending any earlier browse of this browser first. Reports found
    // and removed services to the delegate the browser was made with.
    virtual void browse(const std::string& type, const std::string& domain) = 0;
    // Ends browsing. Reports still on their way are dropped; no stop report follows.
    virtual void stop() = 0;
};

// A connection to the DNS-SD service of this machine.
class DnsSdBackend {
public:
    virtual ~DnsSdBackend() = default;
    virtual std::unique_ptr<DnsSdBrowser> makeBrowser(DnsSdDelegate* delegate) = 0;
    // False while the DNS-SD service cannot be reached (no daemon, no system bus): browsers then
    // find nothing, and start finding once it can be reached again.
    virtual bool isAvailable() const = 0;
    // Called on the backend's thread when `isAvailable()` changes.
    virtual void setAvailabilityHandler(std::function<void(bool available)> handler) = 0;
};

// How long the Avahi backend waits for the daemon.
struct AvahiDnsSdTiming {
    // For an answer to a question about the daemon's state or to the making of a browser; one
    // without an answer is asked again after a pause that grows as the bus connection's does.
    std::chrono::milliseconds answerTimeout{25'000};
    // After the daemon or the bus came back, for a fresh browser to say it has reported what it
    // knows; and then between the daemon's answers that it still finds a listed service that the
    // browser did not report.
    std::chrono::milliseconds settleTimeout{5'000};
};

// The Avahi daemon over the system bus, unless `busAddress` names another bus (tests).
std::shared_ptr<DnsSdBackend> makeAvahiDnsSdBackend(std::optional<std::string> busAddress = std::nullopt,
                                                    AvahiDnsSdTiming timing = {});

} // namespace velk

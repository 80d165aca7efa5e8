#pragma once
// The system bus (or a private bus in tests) through sd-bus, with a bound on every wait.
//
// A bus daemon can hang as well as be missing. One that takes a connection and never answers holds
// libdbus in the connection's first exchange for as long as it stays silent, and with it Qt's one
// shared D-Bus thread, which serves every connection of the process (the session bus and the
// screen reader's too). Here a wait polls the connection's own socket together with a deadline and
// a cancellation, so whoever waits can always stop, and a stalled connection is simply dropped.
// A connection is used by one thread at a time; its replies and signals are handled during that
// thread's waits.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "base/cancellation.hpp"

struct sd_bus;
struct sd_bus_message;

namespace velk::system_bus {

using Deadline = std::chrono::steady_clock::time_point;
inline constexpr Deadline noDeadline = Deadline::max();
// How long the bus or a service may take to answer when the caller sets no other bound (sd-bus's
// own default).
inline constexpr std::chrono::milliseconds answerTimeout{25'000};

// `chosen` when given (a test's own bus), else DBUS_SYSTEM_BUS_ADDRESS when set, else the standard
// socket of the system bus.
std::string systemAddress(const std::optional<std::string>& chosen = std::nullopt);

struct MessageRelease {
    void operator()(sd_bus_message* message) const;
};
using Message = std::unique_ptr<sd_bus_message, MessageRelease>;

// A property value of one of the basic types read here: unsigned integers (y, q, u, t) and signed
// ones (n, i, x) widened, text (s, o, g), bytes (ay); anything else reads as empty.
using Value = std::variant<std::monostate, bool, std::uint64_t, std::int64_t, std::string, std::vector<std::uint8_t>>;

// What `value` holds when it is a T, else T's empty value.
template <typename T>
T valueAs(const Value& value) {
    const T* held = std::get_if<T>(&value);
    return held ? *held : T{};
}
// The property `name`; empty when `properties` has none.
Value propertyOf(const std::map<std::string, Value>& properties, const char* name);

// Readers at a message's read position; what they cannot read is skipped.
Value readVariant(sd_bus_message* message);
std::map<std::string, Value> readProperties(sd_bus_message* message);           // a{sv}
std::map<std::string, std::string> readTextDictionary(sd_bus_message* message); // a{ss}
std::vector<std::string> readTextArray(sd_bus_message* message, char type);       // as, ao

// Work that other threads hand to the one thread that waits on a bus: it runs during that thread's
// waits, in the order it was posted.
class Mailbox {
public:
    Mailbox();
    ~Mailbox(); // work never run is dropped
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    void post(std::function<void()> work); // any thread
    // Runs `work` during the first wait at or after `due`, in the order of their times.
    void postAt(Deadline due, std::function<void()> work); // any thread
    void runPosted();                       // the waiting thread: the work posted and the work due
    // Readable while work waits; -1 when none could be made, and the waits then look now and then.
    int descriptor() const { return m_ready; }
    // Milliseconds until the earliest work posted for later is due (0 when it is); -1 for none.
    int millisecondsUntilDue();

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_work;
    std::multimap<Deadline, std::function<void()>> m_later;
    const int m_ready;
};

// What came back for a call: the peer's answer, an error the peer sent, or nothing, when no answer
// came within the call's time-out or the connection ended first. A peer that left the bus without
// answering (the bus then answers NoReply for it) counts as no answer too. Read it only while the
// handler it was given to runs.
class Reply {
public:
    // From the message sd-bus handed over for a call; null: nothing came.
    explicit Reply(sd_bus_message* message);
    // The answer; null for an error or no answer.
    sd_bus_message* answer() const { return m_answer; }
    // The name of the error the peer sent ("org.freedesktop.DBus.Error.AccessDenied"); null for an
    // answer or no answer.
    const char* error() const { return m_error; }
    bool isError(const char* name) const;

private:
    sd_bus_message* m_answer = nullptr;
    const char* m_error = nullptr;
};

class Connection {
public:
    // Connects to the bus at `address` and waits until the bus has let it in (its Hello answered),
    // until `deadline` at most and no longer once `stop` is cancelled. Null when it did not. Work
    // posted to `mailbox` runs during this and every later wait of the connection.
    static std::unique_ptr<Connection> open(const std::string& address, Deadline deadline,
                                            const CancellationToken* stop = nullptr, Mailbox* mailbox = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // A method call, to be filled with sd_bus_message_append and friends. Null when it cannot be made.
    Message methodCall(const char* destination, const char* path, const char* interface, const char* member);
    // The reply to `request`; null for an error reply, at the deadline, on cancellation and when the
    // connection is lost.
    Message call(const Message& request, Deadline deadline, const CancellationToken* stop = nullptr);
    // Calls without waiting: `done` runs during a later wait of this connection with what came back
    // (nothing, too, when the call could not be sent); never once the connection is gone.
    void callAsync(const Message& request, std::chrono::milliseconds timeout, std::function<void(const Reply&)> done);
    // Sends a message whose answer nobody waits for; false when it could not be queued.
    bool send(const Message& message);
    // Subscribes to the signals `rule` matches (added without waiting for the bus to confirm);
    // `received` runs during this connection's waits.
    bool addMatch(const std::string& rule, std::function<void(sd_bus_message* signal)> received);
    // Handles what comes until `done()` holds: true then, false at the deadline, on cancellation
    // and when the connection is lost.
    bool waitUntil(const std::function<bool()>& done, Deadline deadline, const CancellationToken* stop);

private:
    Connection(sd_bus* bus, Mailbox* mailbox) : m_bus(bus), m_mailbox(mailbox) {}

    sd_bus* m_bus;
    Mailbox* m_mailbox;
};

// Keeps a connection to a bus, on a thread of its own, for as long as it lives: it connects (and
// again, after a pause that grows from one second to half a minute, when connecting failed or the
// connection was lost; at once when the socket file of a bus at a "unix:path=" address appears),
// subscribes to its signals and tells its handlers. Handlers and posted commands run on that thread
// and may start calls with callAsync, never wait. Ending it waits for nothing on the bus.
class Watch {
public:
    struct Handlers {
        std::vector<std::string> matches;                 // match rules of the signals wanted
        std::function<void(Connection&, sd_bus_message*)> signal; // a signal one of them matched
        std::function<void(Connection&)> connected;       // each time the bus has let it in
        std::function<void()> lost;                       // each time that connection ended
        std::function<void()> unreachable;                // each time connecting failed
    };
    struct Timing {
        std::chrono::milliseconds connectTimeout = answerTimeout;
        std::chrono::milliseconds firstRetryDelay{1'000};
        std::chrono::milliseconds longestRetryDelay{30'000};
    };

    // The watch's thread starts at once.
    Watch(std::string address, Handlers handlers);
    Watch(std::string address, Handlers handlers, Timing timing);
    // For an owner whose handlers post to the watch: the thread starts with `start()`, once the
    // owner holds the watch, so no handler runs before the owner can reach it.
    struct StartLater {};
    Watch(std::string address, Handlers handlers, Timing timing, StartLater);
    void start();
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Any thread: runs `command` on the watch's thread, after the commands posted before it, with
    // the connection while the bus has it in (from `connected` to `lost`), else with null.
    void post(std::function<void(Connection* bus)> command);
    // Any thread: the same, once `delay` has passed; the connection is the one in at that time.
    void postAfter(std::chrono::milliseconds delay, std::function<void(Connection* bus)> command);

private:
    void run(const std::string& address, const Handlers& handlers, Timing timing);

    const std::string m_address;
    const Handlers m_handlers;
    const Timing m_timing;
    CancellationToken m_stop;
    Mailbox m_mailbox;
    Connection* m_connected = nullptr; // the watch's thread's own
    std::thread m_thread;
};

} // namespace velk::system_bus

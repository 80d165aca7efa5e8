#include "base/system_bus.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <systemd/sd-bus.h>

#include "base/clock.hpp"

namespace velk::system_bus {

namespace {

constexpr const char* standardSystemAddress = "unix:path=/run/dbus/system_bus_socket";
// Without a descriptor to wake it, a wait looks at its token and its mailbox this often.
constexpr int lookAgainMs = 50;

using ReplyHandler = std::function<void(const Reply&)>;
using SignalHandler = std::function<void(sd_bus_message*)>;

// Milliseconds left until `deadline`; -1 for no deadline.
int millisecondsUntil(Deadline deadline) {
    if (deadline == noDeadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}

// Milliseconds to poll for: until the deadline or sd-bus's own next time-out, whichever is first;
// -1 for no limit.
int pollTimeoutMs(sd_bus* bus, Deadline deadline) {
    int limitMs = millisecondsUntil(deadline);
    std::uint64_t busTimeout = UINT64_MAX;
    if (sd_bus_get_timeout(bus, &busTimeout) >= 0 && busTimeout != UINT64_MAX) {
        // sd-bus counts in microseconds of the monotonic clock.
        const auto now = static_cast<std::uint64_t>(monotonicNowMs() * 1000.0);
        const std::uint64_t busMs = busTimeout <= now ? 0 : (busTimeout - now + 999) / 1000;
        const int boundedMs = static_cast<int>(std::min<std::uint64_t>(busMs, INT_MAX));
        limitMs = limitMs < 0 ? boundedMs : std::min(limitMs, boundedMs);
    }
    return limitMs;
}

// Waits until the bus's descriptor (when given), `stop`'s or `mailbox`'s is ready, for at most
// `timeoutMs` (-1: no limit); false once `stop` is cancelled.
bool waitForAny(std::optional<pollfd> bus, int timeoutMs, const CancellationToken* stop, Mailbox* mailbox) {
    pollfd descriptors[3] = {};
    nfds_t count = 0;
    if (bus) descriptors[count++] = *bus;
    const int stopDescriptor = stop ? stop->wakeDescriptor() : -1;
    if (stopDescriptor >= 0) descriptors[count++] = {stopDescriptor, POLLIN, 0};
    const int mailDescriptor = mailbox ? mailbox->descriptor() : -1;
    if (mailDescriptor >= 0) descriptors[count++] = {mailDescriptor, POLLIN, 0};
    if (const int dueMs = mailbox ? mailbox->millisecondsUntilDue() : -1; dueMs >= 0) {
        timeoutMs = timeoutMs < 0 ? dueMs : std::min(timeoutMs, dueMs);
    }
    if ((stop && stopDescriptor < 0) || (mailbox && mailDescriptor < 0)) {
        timeoutMs = timeoutMs < 0 ? lookAgainMs : std::min(timeoutMs, lookAgainMs);
    }
    const int ready = ::poll(descriptors, count, timeoutMs);
    if (stop && stop->isCancelled()) return false;
    return ready >= 0 || errno == EINTR;
}

// The socket file of a bus at "unix:path=FILE" (the first address, up to its other keys); empty
// for any other kind of address.
std::string socketFileOf(const std::string& address) {
    constexpr std::string_view prefix = "unix:path=";
    if (address.compare(0, prefix.size(), prefix) != 0) return {};
    const std::string rest = address.substr(prefix.size());
    return rest.substr(0, rest.find_first_of(",;"));
}

// The folder part of `path` ("/" for a file at the root, empty for a bare name) and its last name.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Tells when a bus's socket file appears (made, moved in, or its permissions changed), so that a
// bus that comes back is tried at once rather than after the pause. The deepest folder of the
// socket's path that exists is watched, and the watch follows the path as folders along it are
// made, removed or moved away, so a socket whose folder is made later, or made again, is seen too.
// Tells nothing for a bus at any other kind of address.
class SocketAppearance {
public:
    explicit SocketAppearance(std::string file) : m_file(std::move(file)), m_folder(folderOf(m_file)) {
        if (m_folder.empty() || nameOf(m_file).empty()) return;
        m_descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_descriptor >= 0) arm();
    }
    ~SocketAppearance() {
        if (m_descriptor >= 0) ::close(m_descriptor);
    }
    SocketAppearance(const SocketAppearance&) = delete;
    SocketAppearance& operator=(const SocketAppearance&) = delete;

    // Readable when something happened in the watched folder; -1 when nothing is watched.
    int descriptor() const { return m_descriptor; }

    // Takes what happened since the last look; true when the socket file was among it.
    bool appeared() {
        if (m_descriptor < 0) return false;
        bool seen = false;
        bool moved = false; // the watch must follow the path
        alignas(inotify_event) char events[4096];
        for (;;) {
            const ssize_t got = ::read(m_descriptor, events, sizeof events);
            if (got <= 0) break;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                // Events lost: whatever the path did meanwhile is looked at again.
                if (event->mask & IN_Q_OVERFLOW) moved = true;
                if (event->wd != m_watch) continue; // of a folder no longer watched
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    moved = true;
                } else if (event->len > 0 && m_next == event->name) {
                    if (m_watched == m_folder) {
                        seen = true;
                    } else {
                        moved = true; // a folder on the way was made or moved in
                    }
                }
            }
        }
        return (moved && arm()) || seen;
    }

private:
    // Watches the deepest folder of the path that exists; true when the socket file is there. A
    // folder made between the look at it and the watch on its parent is gone into; the rounds are
    // bounded for a folder that is there yet cannot be watched.
    bool arm() {
        const auto depth = std::count(m_file.begin(), m_file.end(), '/');
        for (std::ptrdiff_t round = 0; round < depth; ++round) {
            if (m_watch >= 0) ::inotify_rm_watch(m_descriptor, m_watch);
            m_watched = m_folder;
            m_next = nameOf(m_file);
            constexpr std::uint32_t events =
                IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
            while ((m_watch = ::inotify_add_watch(m_descriptor, m_watched.c_str(), events)) < 0) {
                if (m_watched == "/" || folderOf(m_watched).empty()) return false;
                m_next = nameOf(m_watched);
                m_watched = folderOf(m_watched);
            }
            if (m_watched == m_folder) return exists(m_file);
            if (!exists(m_watched + "/" + m_next)) return false;
        }
        return false;
    }

    const std::string m_file;
    const std::string m_folder;
    int m_descriptor = -1;
    int m_watch = -1;
    std::string m_watched; // the folder watched now
    std::string m_next;    // the name in it that leads to the socket file (or is that file)
};

enum class PauseEnd { timeUp, socketAppeared, stopped };

// Runs posted work until `until`, or until the bus's socket file appears.
PauseEnd pauseUntil(Deadline until, const CancellationToken& stop, Mailbox& mailbox, SocketAppearance& socket) {
    std::optional<pollfd> socketEvents;
    if (socket.descriptor() >= 0) socketEvents = pollfd{socket.descriptor(), POLLIN, 0};
    for (;;) {
        mailbox.runPosted();
        if (socket.appeared()) return PauseEnd::socketAppeared;
        const int leftMs = millisecondsUntil(until);
        if (leftMs == 0) return stop.isCancelled() ? PauseEnd::stopped : PauseEnd::timeUp;
        if (!waitForAny(socketEvents, leftMs, &stop, &mailbox)) return PauseEnd::stopped;
    }
}

int replied(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    (*static_cast<ReplyHandler*>(userdata))(Reply(reply));
    return 0;
}

int signalled(sd_bus_message* signal, void* userdata, sd_bus_error*) {
    (*static_cast<SignalHandler*>(userdata))(signal);
    return 0;
}

template <class Handler>
void forgetHandler(void* userdata) {
    delete static_cast<Handler*>(userdata);
}

// The slot is left to the bus, which drops it (and the handler with it) once it has served, or
// when the connection goes.
template <class Handler>
void leaveToTheBus(sd_bus_slot* slot) {
    sd_bus_slot_set_destroy_callback(slot, &forgetHandler<Handler>);
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
}

template <class Read, class Wide>
std::optional<Value> readNumber(sd_bus_message* message, char type) {
    Read value{};
    if (sd_bus_message_read_basic(message, type, &value) <= 0) return std::nullopt;
    return Value(static_cast<Wide>(value));
}

std::optional<Value> readKnown(sd_bus_message* message, const std::string& type) {
    if (type == "ay") {
        const void* bytes = nullptr;
        std::size_t size = 0;
        if (sd_bus_message_read_array(message, 'y', &bytes, &size) < 0) return std::nullopt;
        const auto* first = static_cast<const std::uint8_t*>(bytes);
        return Value(std::vector<std::uint8_t>(first, first + size));
    }
    if (type.size() != 1) return std::nullopt;
    switch (type[0]) {
    case 'b': {
        int value = 0;
        if (sd_bus_message_read_basic(message, 'b', &value) <= 0) return std::nullopt;
        return Value(value != 0);
    }
    case 'y': return readNumber<std::uint8_t, std::uint64_t>(message, 'y');
    case 'q': return readNumber<std::uint16_t, std::uint64_t>(message, 'q');
    case 'u': return readNumber<std::uint32_t, std::uint64_t>(message, 'u');
    case 't': return readNumber<std::uint64_t, std::uint64_t>(message, 't');
    case 'n': return readNumber<std::int16_t, std::int64_t>(message, 'n');
    case 'i': return readNumber<std::int32_t, std::int64_t>(message, 'i');
    case 'x': return readNumber<std::int64_t, std::int64_t>(message, 'x');
    case 's':
    case 'o':
    case 'g': {
        const char* text = nullptr;
        if (sd_bus_message_read_basic(message, type[0], &text) <= 0 || !text) return std::nullopt;
        return Value(std::string(text));
    }
    default: return std::nullopt;
    }
}

// The value of `signature` at the read position; skipped, and empty, when it is of another type.
Value readBasic(sd_bus_message* message, const char* signature) {
    if (std::optional<Value> value = readKnown(message, signature ? signature : "")) return *value;
    sd_bus_message_skip(message, signature);
    return {};
}

} // namespace

std::string systemAddress(const std::optional<std::string>& chosen) {
    if (chosen) return *chosen;
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return address && *address ? address : standardSystemAddress;
}

void MessageRelease::operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }

Reply::Reply(sd_bus_message* message) {
    if (!message) return;
    if (sd_bus_message_is_method_error(message, nullptr) <= 0) {
        m_answer = message;
        return;
    }
    // sd-bus tells a time-out and a connection that ended as NoReply errors of its own making.
    const sd_bus_error* error = sd_bus_message_get_error(message);
    if (error && error->name && !sd_bus_error_has_name(error, SD_BUS_ERROR_NO_REPLY)) m_error = error->name;
}

bool Reply::isError(const char* name) const { return m_error && name && std::string_view(m_error) == name; }

Value readVariant(sd_bus_message* message) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(message, &type, &contents) <= 0 || type != 'v') return {};
    if (sd_bus_message_enter_container(message, 'v', contents) <= 0) return {};
    Value value = readBasic(message, contents);
    sd_bus_message_exit_container(message);
    return value;
}

Value propertyOf(const std::map<std::string, Value>& properties, const char* name) {
    const auto found = properties.find(name);
    return found == properties.end() ? Value{} : found->second;
}

std::map<std::string, Value> readProperties(sd_bus_message* message) {
    std::map<std::string, Value> properties;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0) return properties;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read_basic(message, 's', &name) <= 0) break;
        properties[name ? name : ""] = readVariant(message);
        if (sd_bus_message_exit_container(message) < 0) break;
    }
    sd_bus_message_exit_container(message);
    return properties;
}

std::map<std::string, std::string> readTextDictionary(sd_bus_message* message) {
    std::map<std::string, std::string> entries;
    if (sd_bus_message_enter_container(message, 'a', "{ss}") <= 0) return entries;
    const char* key = nullptr;
    const char* value = nullptr;
    while (sd_bus_message_read(message, "{ss}", &key, &value) > 0) entries[key] = value;
    sd_bus_message_exit_container(message);
    return entries;
}

std::vector<std::string> readTextArray(sd_bus_message* message, char type) {
    std::vector<std::string> items;
    const char signature[] = {type, '\0'};
    if (sd_bus_message_enter_container(message, 'a', signature) <= 0) return items;
    const char* item = nullptr;
    while (sd_bus_message_read_basic(message, type, &item) > 0) items.emplace_back(item);
    sd_bus_message_exit_container(message);
    return items;
}

// --- Mailbox ---

Mailbox::Mailbox() : m_ready(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Mailbox::~Mailbox() {
    if (m_ready >= 0) ::close(m_ready);
}

void Mailbox::post(std::function<void()> work) {
    std::lock_guard lock(m_mutex);
    m_work.push_back(std::move(work));
    if (m_ready >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_ready, &one, sizeof one);
    }
}

void Mailbox::postAt(Deadline due, std::function<void()> work) {
    std::lock_guard lock(m_mutex);
    m_later.emplace(due, std::move(work));
    if (m_ready >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_ready, &one, sizeof one);
    }
}

int Mailbox::millisecondsUntilDue() {
    std::lock_guard lock(m_mutex);
    return m_later.empty() ? -1 : millisecondsUntil(m_later.begin()->first);
}

void Mailbox::runPosted() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(m_mutex);
        work.swap(m_work);
        const auto now = std::chrono::steady_clock::now();
        while (!m_later.empty() && m_later.begin()->first <= now) {
            work.push_back(std::move(m_later.begin()->second));
            m_later.erase(m_later.begin());
        }
        if (m_ready >= 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(m_ready, &count, sizeof count);
        }
    }
    for (auto& item : work) item();
}

// --- Connection ---

std::unique_ptr<Connection> Connection::open(const std::string& address, Deadline deadline,
                                             const CancellationToken* stop, Mailbox* mailbox) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return nullptr;
    std::unique_ptr<Connection> connection(new Connection(bus, mailbox));
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        return nullptr;
    }
    if (!connection->waitUntil([bus] { return sd_bus_is_ready(bus) > 0; }, deadline, stop)) return nullptr;
    return connection;
}

Connection::~Connection() { sd_bus_close_unref(m_bus); }

Message Connection::methodCall(const char* destination, const char* path, const char* interface, const char* member) {
    sd_bus_message* message = nullptr;
    if (sd_bus_message_new_method_call(m_bus, &message, destination, path, interface, member) < 0) return nullptr;
    return Message(message);
}

Message Connection::call(const Message& request, Deadline deadline, const CancellationToken* stop) {
    if (!request) return nullptr;
    // Shared with the handler: a reply that comes after this call gave up still has a place to go.
    struct Outcome {
        bool answered = false;
        Message reply;
    };
    auto outcome = std::make_shared<Outcome>();
    std::chrono::milliseconds timeout = answerTimeout;
    if (deadline != noDeadline) {
        timeout = std::max(std::chrono::milliseconds(1), std::chrono::ceil<std::chrono::milliseconds>(
                                                             deadline - std::chrono::steady_clock::now()));
    }
    callAsync(request, timeout, [outcome](const Reply& reply) {
        outcome->answered = true;
        if (reply.answer()) outcome->reply.reset(sd_bus_message_ref(reply.answer()));
    });
    if (!waitUntil([&] { return outcome->answered; }, deadline, stop)) return nullptr;
    return std::move(outcome->reply);
}

void Connection::callAsync(const Message& request, std::chrono::milliseconds timeout, ReplyHandler done) {
    auto* handler = new ReplyHandler(std::move(done));
    sd_bus_slot* slot = nullptr;
    const auto microseconds = static_cast<std::uint64_t>(std::max<std::int64_t>(1, timeout.count())) * 1000u;
    if (!request || sd_bus_call_async(m_bus, &slot, request.get(), &replied, handler, microseconds) < 0) {
        (*handler)(Reply(nullptr));
        delete handler;
        return;
    }
    leaveToTheBus<ReplyHandler>(slot);
}

bool Connection::send(const Message& message) { return message && sd_bus_send(m_bus, message.get(), nullptr) >= 0; }

bool Connection::addMatch(const std::string& rule, SignalHandler received) {
    auto* handler = new SignalHandler(std::move(received));
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match_async(m_bus, &slot, rule.c_str(), &signalled, nullptr, handler) < 0) {
        delete handler;
        return false;
    }
    leaveToTheBus<SignalHandler>(slot);
    return true;
}

bool Connection::waitUntil(const std::function<bool()>& done, Deadline deadline, const CancellationToken* stop) {
    while (!done()) {
        if (stop && stop->isCancelled()) return false;
        if (m_mailbox) m_mailbox->runPosted();
        const int processed = sd_bus_process(m_bus, nullptr);
        if (processed < 0) return false;
        if (processed > 0) continue;
        if (done()) break;
        if (deadline != noDeadline && std::chrono::steady_clock::now() >= deadline) return false;
        const int busDescriptor = sd_bus_get_fd(m_bus);
        const int events = sd_bus_get_events(m_bus);
        if (busDescriptor < 0 || events < 0) return false;
        if (!waitForAny(pollfd{busDescriptor, static_cast<short>(events), 0}, pollTimeoutMs(m_bus, deadline), stop,
                        m_mailbox)) {
            return false;
        }
    }
    return true;
}

// --- Watch ---

Watch::Watch(std::string address, Handlers handlers) : Watch(std::move(address), std::move(handlers), Timing{}) {}

Watch::Watch(std::string address, Handlers handlers, Timing timing)
    : Watch(std::move(address), std::move(handlers), timing, StartLater{}) {
    start();
}

Watch::Watch(std::string address, Handlers handlers, Timing timing, StartLater)
    : m_address(std::move(address)), m_handlers(std::move(handlers)), m_timing(timing) {}

void Watch::start() {
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "system-bus");
        run(m_address, m_handlers, m_timing);
    });
}

Watch::~Watch() {
    m_stop.cancel();
    if (m_thread.joinable()) m_thread.join();
}

void Watch::post(std::function<void(Connection* bus)> command) {
    m_mailbox.post([this, command = std::move(command)] { command(m_connected); });
}

void Watch::postAfter(std::chrono::milliseconds delay, std::function<void(Connection* bus)> command) {
    m_mailbox.postAt(std::chrono::steady_clock::now() + delay,
                     [this, command = std::move(command)] { command(m_connected); });
}

void Watch::run(const std::string& address, const Handlers& handlers, Timing timing) {
    auto retryDelay = timing.firstRetryDelay;
    SocketAppearance socket(socketFileOf(address));
    while (!m_stop.isCancelled()) {
        const Deadline deadline = std::chrono::steady_clock::now() + timing.connectTimeout;
        if (std::unique_ptr<Connection> connection = Connection::open(address, deadline, &m_stop, &m_mailbox)) {
            retryDelay = timing.firstRetryDelay;
            for (const std::string& rule : handlers.matches) {
                connection->addMatch(rule, [&handlers, bus = connection.get()](sd_bus_message* signal) {
                    if (handlers.signal) handlers.signal(*bus, signal);
                });
            }
            m_connected = connection.get();
            if (handlers.connected) handlers.connected(*connection);
            connection->waitUntil([] { return false; }, noDeadline, &m_stop);
            m_connected = nullptr;
            connection.reset();
            if (m_stop.isCancelled()) break;
            if (handlers.lost) handlers.lost();
        } else {
            if (m_stop.isCancelled()) break;
            if (handlers.unreachable) handlers.unreachable();
        }
        switch (pauseUntil(std::chrono::steady_clock::now() + retryDelay, m_stop, m_mailbox, socket)) {
        case PauseEnd::stopped: return;
        // A bus coming back may not listen yet: the pause starts short again.
        case PauseEnd::socketAppeared: retryDelay = timing.firstRetryDelay; break;
        case PauseEnd::timeUp: retryDelay = std::min(retryDelay * 2, timing.longestRetryDelay); break;
        }
    }
}

} // namespace velk::system_bus

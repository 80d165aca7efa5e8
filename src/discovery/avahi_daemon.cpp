#include "discovery/avahi_daemon.hpp"

#include <string_view>
#include <utility>

namespace velk::avahi {

namespace {

// Server states in which the daemon browses: registering, running, collision.
constexpr std::int32_t avahiFirstUsableState = 1;
constexpr std::int32_t avahiLastUsableState = 3;

} // namespace

AvahiDaemon::AvahiDaemon(std::chrono::milliseconds answerTimeout, Later later,
                std::function<void(system_bus::Connection* bus, bool usable)> usable, std::function<void()> gone)
    : m_answerTimeout(answerTimeout), m_later(std::move(later)), m_usable(std::move(usable)),
      m_gone(std::move(gone)) {}

bool AvahiDaemon::isFromDaemon(sd_bus_message* signal) const {
    const char* sender = sd_bus_message_get_sender(signal);
    return sender && !m_owner.empty() && m_owner == sender;
}

void AvahiDaemon::askAgainNow(system_bus::Connection& bus) {
    if (m_isUsable) return;
    m_pause = firstPause();
    askOwner(bus);
}

bool AvahiDaemon::received(system_bus::Connection& bus, sd_bus_message* signal) {
    if (sd_bus_message_is_signal(signal, "org.freedesktop.DBus", "NameOwnerChanged")) {
        // Only the bus speaks for names on it.
        const char* sender = sd_bus_message_get_sender(signal);
        if (!sender || std::string_view(sender) != "org.freedesktop.DBus") return true;
        const char* name = nullptr;
        const char* oldOwner = nullptr;
        const char* newOwner = nullptr;
        if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) <= 0) return true;
        if (!name || std::string_view(name) != avahiName) return true;
        if (oldOwner && *oldOwner) gone();
        ownerIs(bus, newOwner ? newOwner : "");
        return true;
    }
    if (!sd_bus_message_is_signal(signal, nullptr, "StateChanged")) return false;
    std::int32_t state = 0;
    if (isFromDaemon(signal) && sd_bus_message_read_basic(signal, 'i', &state) > 0) {
        setUsable(&bus, isUsableState(state));
    }
    return true;
}

bool AvahiDaemon::isUsableState(std::int32_t state) {
    return state >= avahiFirstUsableState && state <= avahiLastUsableState;
}

system_bus::Message AvahiDaemon::aboutTheName(system_bus::Connection& bus, const char* member) {
    system_bus::Message call =
        bus.methodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", member);
    if (call) sd_bus_message_append(call.get(), "s", avahiName);
    return call;
}

void AvahiDaemon::askOwner(system_bus::Connection& bus) {
    const std::uint64_t request = ++m_ownerRequest;
    bus.callAsync(aboutTheName(bus, "GetNameOwner"), m_answerTimeout,
                  [this, &bus, request](const system_bus::Reply& reply) {
                      const char* owner = nullptr;
                      if (request != m_ownerRequest) return;
                      if (reply.answer() && sd_bus_message_read_basic(reply.answer(), 's', &owner) > 0 && owner) {
                          return ownerIs(bus, owner);
                      }
                      ownerIs(bus, "");
                      if (reply.isError("org.freedesktop.DBus.Error.NameHasNoOwner")) return;
                      m_later(m_pause, [this, request = m_ownerRequest](system_bus::Connection* current) {
                          if (current && request == m_ownerRequest) askOwner(*current);
                      });
                      m_pause = nextPause(m_pause);
                  });
}

void AvahiDaemon::ownerIs(system_bus::Connection& bus, std::string owner) {
    ++m_ownerRequest; // what the bus said last counts
    m_owner = std::move(owner);
    if (m_owner.empty()) {
        ++m_stateRequest;
        setUsable(&bus, false);
    } else {
        m_pause = firstPause();
        askState(bus);
    }
}

void AvahiDaemon::askState(system_bus::Connection& bus) {
    const std::uint64_t request = ++m_stateRequest;
    bus.callAsync(avahiCall(bus, "/", avahiServerInterface, "GetState"), m_answerTimeout,
                  [this, connection = &bus, request](const system_bus::Reply& reply) {
                      if (request != m_stateRequest) return;
                      std::int32_t state = 0;
                      if (reply.answer() && sd_bus_message_read_basic(reply.answer(), 'i', &state) > 0) {
                          m_pause = firstPause();
                          setUsable(connection, isUsableState(state));
                          return;
                      }
                      setUsable(connection, false);
                      if (m_owner.empty()) return;
                      m_later(m_pause, [this, request](system_bus::Connection* current) {
                          if (current && request == m_stateRequest && !m_owner.empty()) askState(*current);
                      });
                      m_pause = nextPause(m_pause);
                  });
}

void AvahiDaemon::gone() {
    m_gone();
    m_owner.clear();
    ++m_stateRequest;
    setUsable(nullptr, false);
}

void AvahiDaemon::setUsable(system_bus::Connection* bus, bool usable) {
    if (usable == m_isUsable) return;
    m_isUsable = usable;
    m_usable(bus, usable);
}

} // namespace velk::avahi

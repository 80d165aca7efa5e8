#pragma once
// The Avahi backend's watch on the daemon itself, on the loop's thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <systemd/sd-bus.h>

#include "base/system_bus.hpp"
#include "discovery/avahi_bus.hpp"

namespace velk::avahi {

// Follows the daemon on the bus: the unique name that holds its well-known one (GetNameOwner,
// NameOwnerChanged) and its state (GetState, StateChanged). It can browse while it is there and
// registering, running or renaming itself after a collision.
class AvahiDaemon {
public:
    // `usable` is told of each change; `gone`, when the daemon left the bus or the bus went, taking
    // the daemon's objects along.
    AvahiDaemon(std::chrono::milliseconds answerTimeout, Later later,
                std::function<void(system_bus::Connection* bus, bool usable)> usable, std::function<void()> gone);

    bool isUsable() const { return m_isUsable; }

    // Only the daemon's current connection speaks for the daemon: any other program on the bus can
    // send a signal that names it.
    bool isFromDaemon(sd_bus_message* signal) const;

    void connected(system_bus::Connection& bus) { askOwner(bus); }
    void lost() { gone(); }

    // Asks after a daemon that reads as unusable again at once, whatever pause a question without
    // an answer left.
    void askAgainNow(system_bus::Connection& bus);

    // Takes NameOwnerChanged from the bus and StateChanged from the daemon; false for other signals.
    bool received(system_bus::Connection& bus, sd_bus_message* signal);

private:
    static bool isUsableState(std::int32_t state);

    // A question to the bus about the daemon's name.
    static system_bus::Message aboutTheName(system_bus::Connection& bus, const char* member);

    // Asks the bus who holds the daemon's name. The bus's answer that nobody does means no daemon,
    // whose arrival NameOwnerChanged announces; when the bus refused (its policy) or did not answer,
    // the name reads as held by nobody until it is asked after again, after a pause.
    void askOwner(system_bus::Connection& bus);

    void ownerIs(system_bus::Connection& bus, std::string owner);

    // Asks the daemon's state. Without an answer it reads as unusable, and while the daemon holds
    // its name it is asked again after a pause.
    void askState(system_bus::Connection& bus);

    void gone();

    void setUsable(system_bus::Connection* bus, bool usable);

    const std::chrono::milliseconds m_answerTimeout;
    const Later m_later;
    const std::function<void(system_bus::Connection*, bool)> m_usable;
    const std::function<void()> m_gone;
    bool m_isUsable = false;
    std::string m_owner; // the daemon's unique name on the bus; empty while none holds it
    std::uint64_t m_ownerRequest = 0;
    std::uint64_t m_stateRequest = 0; // the question about the daemon's state that counts
    std::chrono::milliseconds m_pause = firstPause();
};

} // namespace velk::avahi

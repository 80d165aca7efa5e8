#pragma once
// Qt reaches the session bus and the screen reader's accessibility bus through libdbus, and its
// accessibility bridge connects to them from the GUI thread at the first accessibility event (a
// label's text set while the first window is built), waiting with no limit for a bus to let it in.
// A bus that takes the connection and never answers would keep the first window from ever
// appearing and Ctrl+Q from ever being read. So before Qt starts, both buses Qt would connect to
// are tried at once, under one deadline for the two; one that took the connection and did not let
// it in by then is kept from Qt (its address replaced by one that fails at once): the application
// then runs without the screen reader's bridge, or without the file viewer's D-Bus call, rather
// than not at all. A bus that answers before the deadline is Qt's, however late: the check ends as
// soon as both have answered. Qt 6.4's bridge looks for its buses once, as it starts, and never
// again, so a bus that answers after the deadline is not the bridge's for this run; the programs
// the application starts get the user's own addresses all the same (base/user_environment).
//
// The bridge finds the accessibility bus by three roads: AT_SPI_BUS_ADDRESS, the launcher on the
// session bus (org.a11y.Bus), and the X display's root window (AT_SPI_BUS), the last only once the
// session bus let it in. Where the session bus is silent or missing but the root window names an
// accessibility bus that answers, that address is handed to Qt in AT_SPI_BUS_ADDRESS. Qt 6.4's bridge
// connects to an address given there but never registers on it (app/qt_bridge_workarounds.hpp,
// givenBusRegistration): `registerOnGivenBus` does that for it.

#include <chrono>
#include <string>

namespace velk::session_buses {

// An address that fails at once, given to Qt for a bus it must not wait for.
inline constexpr const char* unusableAddress = "unix:path=/dev/null/silent-bus";
// How long, in all, the start waits for the buses to let a connection in before a bus is counted as
// silent: long enough for a login whose buses answer a few seconds late, since a bus counted as
// silent costs the screen reader for the whole run, where the deadline costs only a start held up
// by a bus that never answers.
inline constexpr std::chrono::milliseconds startDeadline{4'000};

// The session bus's address as libdbus finds it: DBUS_SESSION_BUS_ADDRESS, else the standard
// socket in XDG_RUNTIME_DIR when it exists; empty when neither.
std::string sessionAddress();

// Tries the session bus and the accessibility bus (AT_SPI_BUS_ADDRESS, else the address on the X
// display's root window, else the one the session bus's launcher gives) at once, both within
// `within` from now (the launcher's answer too, when the address must come from it), and
// replaces in the environment the address of each that does not let a connection in by then, for
// this process alone (user_environment::setForThisProcess). When the session bus is not Qt's
// (missing, or silent by then) and AT_SPI_BUS_ADDRESS is not set, the display's address, when it
// answered, is set there for Qt, the same way. Call before QApplication is made.
void keepQtOffSilentBuses(std::chrono::milliseconds within = startDeadline);

// How long the registry on a bus given in AT_SPI_BUS_ADDRESS may take to answer (it may be started
// for the question) before the bridge is left off for the run: Qt's bridge then waits on the GUI
// thread for the registry's answer to its registration, which a registry that answered already
// gives at once.
inline constexpr std::chrono::milliseconds registryDeadline{5'000};

// With Qt 6.4's bridge connected to a bus given in AT_SPI_BUS_ADDRESS and not on (its start was
// told before it listened), asks the registry there without waiting, and turns the bridge on once
// it answered within `within`, which registers the application on the registry's desktop. Does
// nothing otherwise. Call once QApplication is made, on the GUI thread.
void registerOnGivenBus(std::chrono::milliseconds within = registryDeadline);

} // namespace velk::session_buses

#pragma once
// Qt reaches the session bus and the screen reader's accessibility bus through libdbus, and its
// accessibility bridge connects to them from the GUI thread at the first accessibility event (a
// label's text set while the first window is built), waiting with no limit for a bus to let it in.
// A bus that takes the connection and never answers would keep the first window from ever
// appearing and Ctrl+Q from ever being read. So before Qt starts, each bus Qt would connect to is
// tried with a bound; one that took the connection and did not let it in by then is kept from Qt
// (its address replaced by one that fails at once): the application then runs without the screen
// reader's bridge, or without the file viewer's D-Bus call, rather than not at all.

#include <chrono>
#include <string>

namespace velk::session_buses {

// An address that fails at once, given to Qt for a bus it must not wait for.
inline constexpr const char* unusableAddress = "unix:path=/dev/null/silent-bus";
// How long a bus may take to let a connection in before it is counted as silent.
inline constexpr std::chrono::milliseconds letInBound{2'000};

// The session bus's address as libdbus finds it: DBUS_SESSION_BUS_ADDRESS, else the standard
// socket in XDG_RUNTIME_DIR when it exists; empty when neither.
std::string sessionAddress();

// Tries the session bus and the accessibility bus (AT_SPI_BUS_ADDRESS, else the address on the X
// display's root window, else the one the session bus's launcher gives), each for at most `bound`, and replaces in the environment the address
// of each that does not let a connection in by then. Call before QApplication is made.
void keepQtOffSilentBuses(std::chrono::milliseconds bound = letInBound);

} // namespace velk::session_buses

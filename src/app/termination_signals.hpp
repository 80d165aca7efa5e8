#pragma once
// TERM, INT and HUP end the application the orderly way (windows closed, services joined, lock
// released) instead of killing it mid-write: the handler only writes a byte that the GUI thread
// reads.

#include <functional>

class QObject;

namespace velk {

// Installs the handlers once; `quit` runs on the GUI thread for the first signal.
void quitOnTerminationSignals(QObject* context, std::function<void()> quit);

} // namespace velk

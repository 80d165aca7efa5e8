#include "app/process_start.hpp"

#include "app/session_buses.hpp"

namespace velk {

void startProcess() {
    // Before Qt's accessibility bridge can meet a bus that never lets it in (app/session_buses).
    session_buses::keepQtOffSilentBuses();
}

} // namespace velk

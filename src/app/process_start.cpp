#include "app/process_start.hpp"

#include "app/session_buses.hpp"
#include "base/user_environment.hpp"

namespace velk {

void startProcess() {
    // Before anything changes it: the environment the programs we start get (base/user_environment).
    user_environment::keep();
    // Before Qt's accessibility bridge can meet a bus that never lets it in (app/session_buses).
    session_buses::keepQtOffSilentBuses();
}

} // namespace velk

#include <gtest/gtest.h>

#include "base/user_environment.hpp"

namespace velk::user_environment {
namespace {

// The environment a started program gets, from this process's as it is and the changes it made for
// itself (a silent session bus pointed away from, an accessibility bus address set where the user had
// none).
TEST(UserEnvironment, AStartedProgramGetsTheCurrentEnvironmentWithOnlyOurOwnChangesUndone) {
    const std::vector<OwnChange> changes{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus", "unix:path=/dev/null/x"},
                                         {"AT_SPI_BUS_ADDRESS", std::nullopt, "unix:path=/dev/null/x"}};
    const struct {
        const char* what;
        std::vector<std::string> current;
        std::vector<std::string> given;
    } cases[] = {
        {"a variable set later stays as it is now", {"PATH=/usr/bin", "LANG=de_DE.UTF-8"}, {"PATH=/usr/bin", "LANG=de_DE.UTF-8"}},
        {"a bus address we changed is the user's again",
         {"DBUS_SESSION_BUS_ADDRESS=unix:path=/dev/null/x"},
         {"DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus"}},
        {"a bus address we set where the user had none is left out", {"AT_SPI_BUS_ADDRESS=unix:path=/dev/null/x", "A=1"}, {"A=1"}},
        {"a bus address changed again since stays as it is now",
         {"DBUS_SESSION_BUS_ADDRESS=unix:path=/tmp/other"},
         {"DBUS_SESSION_BUS_ADDRESS=unix:path=/tmp/other"}},
        {"the startup notification's id is left out", {"DESKTOP_STARTUP_ID=kwin-1234_TIME5678", "A=1"}, {"A=1"}},
        {"the session manager's start id is left out", {"DESKTOP_AUTOSTART_ID=10d2e3f", "A=1"}, {"A=1"}},
        {"the activation token is left out", {"XDG_ACTIVATION_TOKEN=gnome-shell/kestova/12", "A=1"}, {"A=1"}},
    };
    for (const auto& c : cases) EXPECT_EQ(forPrograms(c.current, changes), c.given) << c.what;
}

} // namespace
} // namespace velk::user_environment

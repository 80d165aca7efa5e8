#include "app/session_buses.hpp"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/private/qspiaccessiblebridge_p.h>
#include <qpa/qplatformintegration.h>
#include <systemd/sd-bus.h>
#include <xcb/xcb.h>

#include "app/qt_bridge_workarounds.hpp"
#include "base/system_bus.hpp"
#include "base/user_environment.hpp"

namespace velk::session_buses {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Opens a connection to `address`; `silent` tells a bus that took it and did not let it in by
// `deadline` (or was reached only then) from one that refused (which libdbus meets at once too).
std::unique_ptr<system_bus::Connection> tryBus(const std::string& address, system_bus::Deadline deadline,
                                               bool& silent) {
    std::unique_ptr<system_bus::Connection> connection = system_bus::Connection::open(address, deadline);
    silent = !connection && std::chrono::steady_clock::now() >= deadline;
    return connection;
}

// The accessibility bus's address as the launcher on the session bus gives it; empty when no
// launcher runs (it is not started for this) or it did not answer by `deadline`.
std::string launcherAddress(system_bus::Connection& session, system_bus::Deadline deadline) {
    system_bus::Message request = session.methodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
    if (!request || sd_bus_message_set_auto_start(request.get(), 0) < 0) return {};
    system_bus::Message reply = session.call(request, deadline);
    const char* address = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "s", &address) <= 0 || !address) return {};
    return address;
}

// The accessibility bus's address that the launcher leaves on the X display's root window; empty
// when there is none (or no X display).
std::string displayAddress() {
    if (environment("DISPLAY").empty()) return {};
    int screenNumber = 0;
    xcb_connection_t* display = xcb_connect(nullptr, &screenNumber);
    std::string address;
    if (!xcb_connection_has_error(display)) {
        constexpr const char* name = "AT_SPI_BUS";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(display, xcb_intern_atom(display, 1, std::strlen(name), name), nullptr);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(display));
        for (int k = 0; k < screenNumber && screens.rem > 0; ++k) xcb_screen_next(&screens);
        if (atom && atom->atom != XCB_ATOM_NONE && screens.rem > 0) {
            xcb_get_property_reply_t* property = xcb_get_property_reply(
                display, xcb_get_property(display, 0, screens.data->root, atom->atom, XCB_ATOM_STRING, 0, 1024),
                nullptr);
            if (property) {
                address.assign(static_cast<const char*>(xcb_get_property_value(property)),
                               static_cast<std::size_t>(xcb_get_property_value_length(property)));
                std::free(property);
            }
        }
        std::free(atom);
    }
    xcb_disconnect(display);
    return address;
}

// For this process alone: the programs it starts get the user's own address (base/user_environment).
void keepFromQt(const char* variable) { user_environment::setForThisProcess(variable, unusableAddress); }

} // namespace

std::string sessionAddress() {
    std::string address = environment("DBUS_SESSION_BUS_ADDRESS");
    if (!address.empty()) return address;
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    std::error_code error;
    if (runtime.empty() || !std::filesystem::exists(runtime + "/bus", error)) return {};
    return "unix:path=" + runtime + "/bus";
}

void keepQtOffSilentBuses(std::chrono::milliseconds within) {
    const system_bus::Deadline deadline = std::chrono::steady_clock::now() + within;
    const std::string session = sessionAddress();
    // Where Qt's bridge looks for the accessibility bus, in its order: the environment, the
    // display's root window, the launcher on the session bus. Qt takes the environment first, so an
    // unusable address set there keeps it from the others too.
    std::string accessibility = environment("AT_SPI_BUS_ADDRESS");
    const bool fromDisplay = accessibility.empty();
    if (fromDisplay) accessibility = displayAddress();
    bool sessionSilent = false;
    bool accessibilitySilent = false;
    bool accessibilityAnswered = false;
    // An address known already is asked on a thread of its own while this one asks the session bus;
    // one that only the launcher gives is asked once the session bus has let the question through.
    std::thread accessibilityCheck;
    if (!accessibility.empty()) {
        accessibilityCheck = std::thread([&accessibility, deadline, &accessibilitySilent, &accessibilityAnswered] {
            accessibilityAnswered = tryBus(accessibility, deadline, accessibilitySilent) != nullptr;
        });
    }
    std::unique_ptr<system_bus::Connection> sessionBus;
    if (!session.empty()) sessionBus = tryBus(session, deadline, sessionSilent);
    if (!accessibilityCheck.joinable() && sessionBus) {
        accessibility = launcherAddress(*sessionBus, deadline);
        if (!accessibility.empty()) tryBus(accessibility, deadline, accessibilitySilent);
    }
    const bool displayChecked = accessibilityCheck.joinable();
    if (accessibilityCheck.joinable()) accessibilityCheck.join();
    if (sessionSilent) keepFromQt("DBUS_SESSION_BUS_ADDRESS");
    if (accessibilitySilent) {
        keepFromQt("AT_SPI_BUS_ADDRESS");
    } else if (fromDisplay && displayChecked && accessibilityAnswered && !sessionBus) {
        // Qt reads the root window only after the session bus let it in: without that bus the
        // address the display gives reaches Qt only this way.
        user_environment::setForThisProcess("AT_SPI_BUS_ADDRESS", accessibility);
    }
}

void registerOnGivenBus(std::chrono::milliseconds within) {
    if (!QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::givenBusRegistration)) return;
    const std::string given = environment("AT_SPI_BUS_ADDRESS");
    if (given.empty() || given == unusableAddress) return;
    QPlatformIntegration* platform = QGuiApplicationPrivate::platformIntegration();
    // Made now unless an accessibility event made it already; it connects to the given bus as it is
    // made (which the start-up check found answering).
    auto* bridge = platform ? dynamic_cast<QSpiAccessibleBridge*>(platform->accessibility()) : nullptr;
    if (!bridge || bridge->isActive()) return;
    QDBusConnection bus = bridge->dBusConnection();
    if (!bus.isConnected()) return;
    // The bus starts the registry for the question when it does not run yet.
    const QDBusMessage question = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(question, static_cast<int>(within.count())), bridge);
    QObject::connect(answer, &QDBusPendingCallWatcher::finished, bridge, [bridge](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (!call->isError() && !bridge->isActive()) bridge->enabledChanged(true);
    });
}

} // namespace velk::session_buses

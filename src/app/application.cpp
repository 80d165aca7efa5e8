#include "app/application.hpp"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QMainWindow>

#include "app/menu_bar.hpp"
#include "app/settings_window.hpp"
#include "app/window_registry.hpp"
#include "base/cancellation.hpp"
#include "base/host_name.hpp"
#include "discovery/lan_discovery.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "store/app_store.hpp"
#ifdef VELK_HAVE_PAIRING
#include "pairing/camera_pairing_store.hpp"
#endif

namespace velk {

std::filesystem::path defaultDataFolder() {
    return std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString()) /
           "Velk";
}

Application::Application(Options options, QObject* parent) : QObject(parent) {
    if (options.startNetwork) m_hostName = std::make_unique<host_name::Watch>();
    m_store = std::make_unique<AppStore>(options.storageRoot, options.recordingsRoot);
    m_catalogDiscovery = std::make_unique<LANDiscovery>(options.startNetwork, options.dnsSd);
    // Connect to the address DNS-SD resolved, so pairing works without an mDNS resolver module.
    m_store->setAddressResolver(
        [discovery = m_catalogDiscovery.get()](const DiscoveredDevice& device) { return discovery->resolvedAddress(device); });
    m_liveDiscovery = std::make_unique<LiveCameraDiscovery>(options.startNetwork);
#ifdef VELK_HAVE_PAIRING
    // Loads the trusted cameras from the store's data folder.
    m_pairing = std::make_shared<CameraPairingStore>(options.storageRoot);
#endif
    m_windows = std::make_unique<WindowRegistry>();
    m_quitting = std::make_shared<CancellationToken>();
    m_services = std::make_unique<AppServices>(
        AppServices{*m_store, *m_catalogDiscovery, *m_liveDiscovery, m_pairing.get(), *m_windows, m_quitting});

    AppStore* store = m_store.get();
    m_windows->registerFactory(
        WindowID::settings, [store] { return new SettingsWindow(*store); }, false);
    MenuCommands commands;
    commands.openWindow = [this](const std::string& id) { m_windows->openWindow(id); };
    commands.openSettings = [this] { openSettings(); };
    commands.settings = makeSettingsAction(*this, [this] { openSettings(); });
    commands.quit = makeQuitAction(*this, [this] { quit(); });
    m_windows->setMenuCommands(commands);

    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { shutdown(); });
}

Application::~Application() { shutdown(); }

void Application::registerWindow(const std::string& id, WindowBuilder builder) {
    m_windows->registerFactory(id, [this, builder = std::move(builder)] { return builder(*m_services); });
}

void Application::launch() { m_windows->openWindow(WindowID::director); }

void Application::openSettings() { m_windows->openWindow(WindowID::settings); }

void Application::quit() {
    shutdown();
    QCoreApplication::quit();
}

void Application::shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    m_quitting->cancel();
    // Windows first: they hold references to the services.
    m_windows->closeAll(true);
    m_services->pairing = nullptr;
    m_pairing.reset();
    m_liveDiscovery.reset();
    m_catalogDiscovery.reset();
    m_hostName.reset();
}

} // namespace velk

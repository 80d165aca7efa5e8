#pragma once
// The running application: the four long-lived services, created once in this order (the store,
// the transfer-source browser, the live camera channel, the camera pairing store), the window
// registry that opens the Director, the Library and Settings by id, and the orderly end. The
// computer's name is asked of hostnamed in the background from the start and kept
// (base/host_name.hpp). Nothing here waits for the system bus: a bus that never answers leaves
// discovery, the sleep watch and the name as they are without a bus.
//
// At quit the application's cancellation is cancelled first (work that waits on it stops waiting),
// then the windows close, then the services go in reverse order: the live channel's thread is
// joined after its socket closes and the browser stops; nothing is sent to a camera (no stop, no
// cancellation: a recording in progress goes on on the phones).

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>

#include "app/app_services.hpp"

class QMainWindow;

namespace velk {

class CancellationToken;
class DnsSdBackend;
class SettingsWindow;
namespace host_name {
class Watch;
}

// The store's default data folder ("$XDG_DATA_HOME/Velk"): "library.json", the collector id and
// the single-instance lock.
std::filesystem::path defaultDataFolder();

class Application final : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Both absent: the store's default folders.
        std::optional<std::filesystem::path> storageRoot;
        std::optional<std::filesystem::path> recordingsRoot;
        // False in tests: neither discovery starts (no socket, no browsing), and the computer's
        // name is not asked of the system bus.
        bool startNetwork = true;
        // The DNS-SD backend of the browser; Avahi when null.
        std::shared_ptr<DnsSdBackend> dnsSd;
    };

    using WindowBuilder = std::function<QMainWindow*(AppServices&)>;

    explicit Application(Options options, QObject* parent = nullptr);
    ~Application() override;

    AppServices& services() { return *m_services; }
    WindowRegistry& windows() { return *m_windows; }

    // Registers the builder of a window id ("director", "library").
    void registerWindow(const std::string& id, WindowBuilder builder);
    // Shows the Director window, the one shown at launch.
    void launch();
    // Opens (or raises) the Settings window.
    void openSettings();
    // Closes every window, ends the services and leaves the event loop.
    void quit();
    // Closes every window and ends the services; the event loop keeps running. Idempotent.
    void shutdown();
    bool isShutDown() const { return m_shutDown; }

private:
    // Declared in creation order; destroyed in reverse.
    std::unique_ptr<host_name::Watch> m_hostName;
    std::unique_ptr<AppStore> m_store;
    std::unique_ptr<LANDiscovery> m_catalogDiscovery;
    std::unique_ptr<LiveCameraDiscovery> m_liveDiscovery;
    std::shared_ptr<CameraPairingStore> m_pairing;
    std::unique_ptr<WindowRegistry> m_windows;
    std::unique_ptr<AppServices> m_services;
    std::shared_ptr<CancellationToken> m_quitting;
    bool m_shutDown = false;
};

} // namespace velk

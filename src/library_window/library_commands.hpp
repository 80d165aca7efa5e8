#pragma once
// What the Library window asks of the services, behind interfaces tests can record: the store's
// and the discoveries' operations, the two file panels, the Wi-Fi sheet and the window's
// persisted setting. The window reads published state from the services directly.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "model/discovered_device.hpp"
#include "model/live_camera.hpp"

class QDialog;
class QSettings;
class QWidget;

namespace velk {

class AppStore;
class CancellationToken;
class LANDiscovery;
class LiveCameraDiscovery;

class LibraryCommands {
public:
    virtual ~LibraryCommands() = default;

    virtual void openWindow(const std::string& id) = 0;

    // Quick store edits, run at once.
    virtual void createProject(const std::string& name) = 0;
    virtual void renameSelectedProject(const std::string& name) = 0;
    virtual void importManifest(const std::filesystem::path& file) = 0;
    virtual void setReferenceCamera(const std::string& cameraID) = 0;

    // Long store operations; they report through the store's published state.
    virtual void downloadSelectedTake() = 0;
    virtual void downloadSelectedProject() = 0;
    virtual void trashSelectedProjectSources() = 0;
    virtual void exportSelectedTake(const std::filesystem::path& parent) = 0;
    // `done` runs on the GUI thread with the outcome, never after the store is gone.
    virtual void pairAndConnect(const DiscoveredDevice& device, const std::string& pairingCode,
                                bool fingerprintConfirmed, bool allowOpen, std::function<void(bool)> done) = 0;
    virtual void connectOpenSources(const std::vector<DiscoveredDevice>& devices) = 0;
    virtual void endTransferSession(const std::string& deviceID) = 0;
    virtual void endAllTransferSessions() = 0;

    // Discoveries.
    virtual void restartSourceBrowsing() = 0;
    virtual void requestTransferMode(const LiveCamera& camera) = 0;
};

// The real commands; `openWindow` opens a window of the application by its id.
std::shared_ptr<LibraryCommands> makeServiceCommands(AppStore& store, LANDiscovery& discovery,
                                                     LiveCameraDiscovery& liveDiscovery,
                                                     std::function<void(const std::string&)> openWindow);

// The manifest and export-folder panels. Each is window-modal on `parent` and calls `chosen` only
// when the user confirmed a choice; a panel dies with its parent, and its choice with it.
class LibraryFileDialogs {
public:
    virtual ~LibraryFileDialogs() = default;
    virtual void chooseManifest(QWidget* parent, std::function<void(const std::filesystem::path&)> chosen) = 0;
    virtual void chooseExportParent(QWidget* parent, std::function<void(const std::filesystem::path&)> chosen) = 0;
};
std::shared_ptr<LibraryFileDialogs> makeQtFileDialogs();

// The Wi-Fi sheet and the window's change gate. One per Library window; the gate starts closed.
class WiFiSheetHost {
public:
    virtual ~WiFiSheetHost() = default;
    virtual void updateGate(bool allowed) = 0;
    // A new sheet, not yet shown, with the decision and reason at the time it is built.
    virtual QDialog* makeSheet(bool changeAllowed, const QString& reason, QWidget* parent) = 0;
    // The decision again while the sheet is shown.
    virtual void setChangeRule(QDialog* sheet, bool changeAllowed, const QString& reason) = 0;
};

// The Wi-Fi onboarding sheet with a gate of its own, for one window. Its joins are cancelled once
// `quitting` is (null: never).
std::unique_ptr<WiFiSheetHost> makeWiFiSheetHost(std::shared_ptr<const CancellationToken> quitting = nullptr);

// The window's one persisted setting.
inline constexpr const char* requireSecureProjectTransferKey = "velk.requireSecureProjectTransfer";
bool requireSecureProjectTransfer(QSettings& settings);
void setRequireSecureProjectTransfer(QSettings& settings, bool required);

} // namespace velk

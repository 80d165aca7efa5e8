#include "library_window/library_commands.hpp"

#include <QFile>
#include <QSettings>

#include "app/file_panel.hpp"
#include "discovery/lan_discovery.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "library_window/library_texts.hpp"
#include "store/app_store.hpp"

namespace velk {

namespace {

class ServiceCommands final : public LibraryCommands {
public:
    ServiceCommands(AppStore& store, LANDiscovery& discovery, LiveCameraDiscovery& liveDiscovery,
                    std::function<void(const std::string&)> openWindow)
        : m_store(store), m_discovery(discovery), m_liveDiscovery(liveDiscovery), m_openWindow(std::move(openWindow)) {}

    void openWindow(const std::string& id) override {
        if (m_openWindow) m_openWindow(id);
    }
    void createProject(const std::string& name) override { m_store.createProject(name); }
    void renameSelectedProject(const std::string& name) override { m_store.renameSelectedProject(name); }
    void importManifest(const std::filesystem::path& file) override { m_store.importManifest(file); }
    void setReferenceCamera(const std::string& cameraID) override { m_store.setReferenceCamera(cameraID); }
    void downloadSelectedTake() override { m_store.downloadSelectedTake(); }
    void downloadSelectedProject() override { m_store.downloadSelectedProject(); }
    void trashSelectedProjectSources() override { m_store.trashSelectedProjectSources(); }
    void exportSelectedTake(const std::filesystem::path& parent) override { m_store.exportSelectedTake(parent); }
    void pairAndConnect(const DiscoveredDevice& device, const std::string& pairingCode, bool fingerprintConfirmed,
                        bool allowOpen, std::function<void(bool)> done) override {
        m_store.pairAndConnect(device, pairingCode, fingerprintConfirmed, allowOpen, std::move(done));
    }
    void connectOpenSources(const std::vector<DiscoveredDevice>& devices) override {
        m_store.connectOpenSources(devices);
    }
    void endTransferSession(const std::string& deviceID) override { m_store.endTransferSession(deviceID); }
    void endAllTransferSessions() override { m_store.endAllTransferSessions(); }
    void restartSourceBrowsing() override { m_discovery.restart(); }
    void requestTransferMode(const LiveCamera& camera) override {
        m_liveDiscovery.requestTransferMode(camera, m_store.collectorIdentity(), AppStore::collectorName());
    }

private:
    AppStore& m_store;
    LANDiscovery& m_discovery;
    LiveCameraDiscovery& m_liveDiscovery;
    std::function<void(const std::string&)> m_openWindow;
};

class QtFileDialogs final : public LibraryFileDialogs {
public:
    void chooseManifest(QWidget* parent, std::function<void(const std::filesystem::path&)> chosen) override {
        FilePanel::open(parent, QString::fromUtf8(library_text::importPanelTitle), FilePanel::Choose::ExistingFile,
                        QStringLiteral("JSON (*.json)"), asPath(std::move(chosen)));
    }
    void chooseExportParent(QWidget* parent, std::function<void(const std::filesystem::path&)> chosen) override {
        FilePanel::open(parent, QString::fromUtf8(library_text::exportPanelTitle), FilePanel::Choose::Folder, {},
                        asPath(std::move(chosen)));
    }

private:
    static std::function<void(const QString&)> asPath(std::function<void(const std::filesystem::path&)> chosen) {
        return [chosen = std::move(chosen)](const QString& file) {
            // The file system's own bytes, so a name that is not valid UTF-8 still opens.
            chosen(std::filesystem::path(QFile::encodeName(file).toStdString()));
        };
    }
};

} // namespace

std::shared_ptr<LibraryCommands> makeServiceCommands(AppStore& store, LANDiscovery& discovery,
                                                     LiveCameraDiscovery& liveDiscovery,
                                                     std::function<void(const std::string&)> openWindow) {
    return std::make_shared<ServiceCommands>(store, discovery, liveDiscovery, std::move(openWindow));
}

std::shared_ptr<LibraryFileDialogs> makeQtFileDialogs() { return std::make_shared<QtFileDialogs>(); }

bool requireSecureProjectTransfer(QSettings& settings) {
    return settings.value(requireSecureProjectTransferKey, false).toBool();
}

void setRequireSecureProjectTransfer(QSettings& settings, bool required) {
    settings.setValue(requireSecureProjectTransferKey, required);
}

} // namespace velk

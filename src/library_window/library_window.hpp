#pragma once
// The "Kestova Library" window: project sidebar with search, take list and dashboard in three
// columns; the toolbar and its Project menu; the New and Rename sheets, the Collect from Cameras
// sheet, the Wi-Fi sheet and its change gate, the source-trash confirmation and the error alert.
// All data comes from the services; the window keeps only its own view state, which goes with it.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include "base/clock.hpp"
#include "library_window/collect_sheet.hpp"
#include "library_window/library_commands.hpp"
#include "library_window/library_presenter.hpp"
#include "library_window/wifi_guard.hpp"

class QAction;
class QDialog;
class QLabel;
class QLineEdit;
class QListView;

class QPushButton;
class QSettings;
class QTimer;
class QToolButton;

namespace velk {

class AppStore;
class LANDiscovery;
class LibraryCommands;
class LibraryFileDialogs;
class LiveCameraDiscovery;
class WiFiSheetHost;

namespace library {
class DashboardView;
class ProjectListModel;
class TakeListView;
} // namespace library

// What the application hands the window besides the services; empty members take the defaults.
struct LibraryWindowOptions {
    // Opens another window of the application by its id ("director").
    std::function<void(const std::string&)> openWindow;
    std::shared_ptr<LibraryCommands> commands;
    std::shared_ptr<LibraryFileDialogs> fileDialogs;
    std::unique_ptr<WiFiSheetHost> wifi;
    std::shared_ptr<QSettings> settings;
    const Clock* clock = nullptr;
};

class LibraryWindow final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* sceneID = "library";

    LibraryWindow(AppStore& store, LANDiscovery& discovery, LiveCameraDiscovery& liveDiscovery,
                  LibraryWindowOptions options = {}, QWidget* parent = nullptr);
    ~LibraryWindow() override;

    // Sheets and dialogs, as the controls open them.
    void showNewProject();
    void showRenameProject();
    void showCollect();
    void showWiFi();
    void confirmSourceTrash();
    void importManifest();
    void chooseExportFolder();

    // For tests and screenshots.
    QLineEdit* searchField() const { return m_search; }
    QListView* projectList() const { return m_projects; }
    QLabel* projectCount() const { return m_projectCount; }
    QPushButton* renameButton() const { return m_rename; }
    QAction* downloadTakeAction() const { return m_downloadTake; }
    QAction* exportAction() const { return m_export; }
    QAction* downloadProjectAction() const { return m_downloadProject; }
    QAction* moveToTrashAction() const { return m_moveToTrash; }
    QAction* importAction() const { return m_import; }
    QDialog* sheet() const { return m_sheet; }
    QMessageBox* errorAlert() const { return m_alert; }
    library::TakeListView* takeList() const { return m_takeList; }
    library::DashboardView* dashboard() const { return m_dashboard; }
    const library::PairingInputs& pairingInputs() const { return m_pairing; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* createSidebar();
    void createToolbar();
    void connectServices();
    void orderTabChain();
    void rebuildProjects();
    void showProjectSelection();
    void refreshCommands();
    void armSessionExpiry();
    void syncErrorAlert();
    void evaluateWiFiGuard(bool force);
    void presentSheet(QDialog* sheet);
    // Notes the control that opened a sheet or panel (the signal's sender), the keyboard's home.
    void rememberOpener();
    library::ToolbarState toolbar() const;

    AppStore& m_store;
    LANDiscovery& m_discovery;
    LiveCameraDiscovery& m_liveDiscovery;
    std::shared_ptr<LibraryCommands> m_commands;
    std::shared_ptr<LibraryFileDialogs> m_fileDialogs;
    std::unique_ptr<WiFiSheetHost> m_wifi;
    std::shared_ptr<QSettings> m_settings;
    const Clock& m_clock;

    // View state of the window.
    std::string m_newProjectName;
    std::string m_renameProjectName;
    std::optional<std::string> m_renameFor;
    std::optional<std::string> m_trashFor;
    library::PairingInputs m_pairing;
    library::WiFiGuardTracker m_wifiTracker;
    bool m_shownOnce = false;
    bool m_rebuildingProjects = false;

    QLineEdit* m_search = nullptr;
    QLabel* m_projectCount = nullptr;
    QListView* m_projects = nullptr;
    library::ProjectListModel* m_projectModel = nullptr;
    QPushButton* m_newProject = nullptr;
    QPushButton* m_rename = nullptr;
    QPushButton* m_collect = nullptr;
    QPushButton* m_wifiButton = nullptr;
    QPushButton* m_sidebarDirector = nullptr;
    QAction* m_downloadTake = nullptr;
    QAction* m_export = nullptr;
    QAction* m_downloadProject = nullptr;
    QAction* m_moveToTrash = nullptr;
    QAction* m_import = nullptr;
    // Fires when the next transfer session expires, also while no camera keeps the liveness tick going.
    QTimer* m_sessionExpiry = nullptr;
    library::TakeListView* m_takeList = nullptr;
    library::DashboardView* m_dashboard = nullptr;
    QPointer<QDialog> m_sheet;
    QPointer<QDialog> m_wifiSheet;
    QPointer<QMessageBox> m_alert;
    QPointer<QWidget> m_openedBy;
};

} // namespace velk

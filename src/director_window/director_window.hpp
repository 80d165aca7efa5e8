#pragma once
// "Kestova Director": the camera wall of eight locked slots, the Preview and Program monitors and
// switcher, and the inspector, over the live camera channel, the store and the window's own preview
// store. The window keeps its workspace state while it is open; only the slot layout (and the
// chosen preview policy) outlive it, in the settings.

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QMainWindow>

#include "base/clock.hpp"
#include "director_window/director_workspace.hpp"
#include "preview/live_production_profile.hpp"

class QLabel;
class QPushButton;
class QSettings;
class QShortcut;

namespace velk {

class AppStore;
class CameraWall;
class DirectorInspector;
class DirectorLiveChannel;
class DirectorPreviewFeed;
class StatusPill;
class StudioPanel;
class SwitcherView;
struct AppServices;

class DirectorWindow final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* title = "Kestova Director";

    struct Environment {
        AppStore& store;
        DirectorLiveChannel& channel;
        // The window's own preview store; the window takes it over.
        std::unique_ptr<DirectorPreviewFeed> previews;
        // Opens another window by id ("library").
        std::function<void(const std::string&)> openWindow;
        const Clock& clock = SystemClock::shared();
        // The settings that keep the slot layout and the policy; the application's when null.
        QSettings* settings = nullptr;
        // Whether the Camera inspector shows the live-production toggle and frame-rate picker;
        // the profile keeps them hidden in this version.
        bool liveProductionControlsVisible = LiveProductionProfile::controlsVisible;
    };

    explicit DirectorWindow(Environment environment, QWidget* parent = nullptr);
    ~DirectorWindow() override;

    // --- State the regions read. ---
    const DirectorWorkspace& workspace() const { return m_workspace; }
    const Cameras& cameras() const;
    WallTime now() const { return m_clock.now(); }
    AppStore& store() const { return m_store; }
    DirectorLiveChannel& channel() const { return m_channel; }
    DirectorPreviewFeed& previews() const { return *m_previews; }
    Cameras onlineCameras() const;
    Cameras slottedCameras() const;
    std::optional<LiveCamera> selectedCamera() const;
    VELKPreviewNetworkPolicy effectivePreviewPolicy() const;
    std::string storedPolicy() const;
    bool liveProductionEnabled() const;
    std::int64_t liveProductionFPS() const; // an allowed rate
    bool liveProductionControlsVisible() const { return m_liveProductionControlsVisible; }
    bool canTake() const;
    // The frame a monitor shows: none while the camera is offline; the selected stream's, else the wall's.
    const QImage* previewImage(const std::optional<std::string>& cameraID) const;
    std::int64_t previewRotation(const std::optional<std::string>& cameraID) const;

    // --- Operations of the buttons, the wall and the shortcuts. ---
    void selectPreview(const std::string& cameraID);
    void releaseSlot(int index);
    void perform(DirectorTransition transition);
    void addMarker();
    void setFadeDuration(double seconds);
    void stopAll();
    void recAll();
    void recordSelected(bool start);
    void rotateSelected();
    void startSession();
    void setPlannedTakeID(const std::string& id);
    void newTakeID();
    void selectProject(const std::optional<std::string>& projectID);
    void setInspectorTab(DirectorInspectorTab tab);
    void setStoredPolicy(const std::string& raw);
    void setLiveProductionEnabled(bool enabled);
    void setLiveProductionFPS(std::int64_t fps);

    // --- The regions, for tests and screenshots. ---
    CameraWall* wall() const { return m_wall; }
    SwitcherView* switcher() const { return m_switcher; }
    DirectorInspector* inspector() const { return m_inspector; }
    QPushButton* stopAllButton() const { return m_stopAllButton; }
    QPushButton* scanButton() const { return m_scanButton; }
    QPushButton* libraryButton() const { return m_libraryButton; }
    StatusPill* cameraCountPill() const { return m_countPill; }
    StatusPill* phasePill() const { return m_phasePill; }
    StudioPanel* multiviewPanel() const { return m_multiview; }
    QLabel* projectText() const { return m_projectText; }
    QLabel* policyText() const { return m_policyText; }
    bool hasAppeared() const { return m_appeared; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildProductionBar();
    void connectServices();

    void appear();
    void disappear();
    // The controls the keyboard goes to, in order, when no choice of the user's can take it.
    std::vector<QWidget*> keyboardHome() const;
    void synchronizeCameras();
    void synchronizeOrientations();
    void synchronizePreviewProfiles();
    void persistSlots();
    void camerasChanged();
    void wallFramesChanged();
    // After a change of the timeline's Preview or Program.
    void timelineChanged();

    // Tells assistive tools the control message when it changed since it was told last.
    void tellControlMessage();
    void refresh();
    void refreshHeader();
    void refreshWall();

    AppStore& m_store;
    DirectorLiveChannel& m_channel;
    std::unique_ptr<DirectorPreviewFeed> m_previews;
    std::function<void(const std::string&)> m_openWindow;
    const Clock& m_clock;
    std::unique_ptr<QSettings> m_ownSettings;
    QSettings* m_settings;
    const bool m_liveProductionControlsVisible;

    DirectorWorkspace m_workspace;
    bool m_appeared = false;
    // Between the end of the appear steps and the disappear step: the change reactions run.
    bool m_reacting = false;

    // What the change reactions compare against.
    std::vector<std::string> m_identitySignature;
    std::vector<std::string> m_rosterSignature;
    std::vector<std::string> m_orientationSignature;
    std::vector<std::string> m_framedCameras;
    std::vector<PreviewCapabilities> m_capabilitiesSignature;
    std::vector<PreviewTransportStatus> m_transportSignature;
    std::optional<std::string> m_previewSignature;
    std::optional<std::string> m_programSignature;
    std::string m_toldControlMessage;

    CameraWall* m_wall = nullptr;
    StudioPanel* m_multiview = nullptr;
    SwitcherView* m_switcher = nullptr;
    DirectorInspector* m_inspector = nullptr;
    StatusPill* m_countPill = nullptr;
    StatusPill* m_phasePill = nullptr;
    QPushButton* m_stopAllButton = nullptr;
    QPushButton* m_scanButton = nullptr;
    QPushButton* m_libraryButton = nullptr;
    QLabel* m_statusDot = nullptr;
    QLabel* m_networkText = nullptr;
    QLabel* m_projectText = nullptr;
    QLabel* m_takeText = nullptr;
    QLabel* m_policyText = nullptr;
    QShortcut* m_cutShortcut = nullptr;
    QShortcut* m_stopAllShortcut = nullptr;
};

// The window the application's registry builds for "director".
QMainWindow* createDirectorWindow(AppServices& services);

} // namespace velk

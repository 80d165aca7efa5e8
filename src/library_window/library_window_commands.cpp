// The Library window's toolbar, Project menu, panels, source-trash confirmation, error alert and
// Wi-Fi guard.

#include <algorithm>

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "app/keyboard_keeper.hpp"
#include "app/window_modal.hpp"
#include "base/qt_text.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "library_window/library_commands.hpp"
#include "library_window/library_presenter.hpp"
#include "library_window/library_style.hpp"
#include "library_window/library_texts.hpp"
#include "library_window/library_window.hpp"
#include "library_window/wifi_guard.hpp"
#include "store/app_store.hpp"

namespace velk {

using namespace library;
namespace T = library_text;

namespace {
} // namespace

void LibraryWindow::createToolbar() {
    auto* bar = addToolBar(QStringLiteral("Library"));
    bar->setObjectName(QStringLiteral("libraryToolbar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto add = [&](const char* text, std::string_view symbol, const char* help) {
        QAction* action = bar->addAction(symbolIcon(symbol, Tint::primary), qs(text));
        action->setToolTip(qs(help));
        // Tab reaches the toolbar's buttons; a click still leaves the focus where it was.
        bar->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);
        return action;
    };
    QAction* director = add(T::directorButton, "rectangle.inset.filled.and.person.filled", T::toolbarDirectorHelp);
    connect(director, &QAction::triggered, this, [this] { m_commands->openWindow("director"); });
    m_import = add(T::importManifest, "square.and.arrow.down", T::importManifestHelp);
    connect(m_import, &QAction::triggered, this, &LibraryWindow::importManifest);
    m_downloadTake = add(T::downloadTake, "arrow.down.circle", T::downloadTakeHelp);
    connect(m_downloadTake, &QAction::triggered, this, [this] {
        if (toolbar().downloadTake) m_commands->downloadSelectedTake();
    });

    auto* menu = new QMenu(qs(T::projectMenu), this);
    menu->setObjectName(QStringLiteral("projectMenu"));
    m_downloadProject = menu->addAction(qs(T::downloadWholeProject));
    connect(m_downloadProject, &QAction::triggered, this, [this] {
        if (toolbar().downloadWholeProject) m_commands->downloadSelectedProject();
    });
    m_moveToTrash = menu->addAction(qs(T::moveSourceToTrash));
    connect(m_moveToTrash, &QAction::triggered, this, &LibraryWindow::confirmSourceTrash);
    auto* projectButton = new QToolButton(bar);
    projectButton->setObjectName(QStringLiteral("projectMenuButton"));
    projectButton->setText(qs(T::projectMenu));
    projectButton->setIcon(symbolIcon("folder", Tint::primary));
    projectButton->setToolTip(qs(T::projectMenuHelp));
    projectButton->setAccessibleName(qs(T::projectMenuAccessible));
    projectButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    projectButton->setPopupMode(QToolButton::InstantPopup);
    projectButton->setMenu(menu);
    bar->addWidget(projectButton);

    m_export = add(T::exportForResolve, "film", T::exportForResolveHelp);
    connect(m_export, &QAction::triggered, this, &LibraryWindow::chooseExportFolder);
}

void LibraryWindow::connectServices() {
    connect(&m_store, &AppStore::libraryChanged, this, &LibraryWindow::rebuildProjects);
    connect(&m_store, &AppStore::selectedProjectIDChanged, this, &LibraryWindow::showProjectSelection);
    for (auto signal : {&AppStore::libraryChanged, &AppStore::selectedProjectIDChanged, &AppStore::selectedTakeIDChanged,
                        &AppStore::isBusyChanged, &AppStore::transferSessionsChanged}) {
        connect(&m_store, signal, this, &LibraryWindow::refreshCommands);
    }
    connect(&m_store, &AppStore::errorMessageChanged, this, &LibraryWindow::syncErrorAlert);
    connect(&m_store, &AppStore::isBusyChanged, this, [this] { evaluateWiFiGuard(false); });
    connect(&m_liveDiscovery, &LiveCameraDiscovery::camerasChanged, this, [this] { evaluateWiFiGuard(false); });
    // Sessions expire with time: every liveness tick judges the commands again.
    connect(&m_liveDiscovery, &LiveCameraDiscovery::livenessTickChanged, this, [this] {
        evaluateWiFiGuard(false);
        refreshCommands();
    });
    m_sessionExpiry = new QTimer(this);
    m_sessionExpiry->setSingleShot(true);
    connect(m_sessionExpiry, &QTimer::timeout, this, &LibraryWindow::refreshCommands);
}

ToolbarState LibraryWindow::toolbar() const {
    return toolbarState({m_store.isBusy(), m_store.canDownloadSelectedTake(), m_store.canDownloadSelectedProject(),
                         m_store.canTrashSelectedProjectSources(), m_store.selectedTake().has_value()});
}

void LibraryWindow::refreshCommands() {
    const ToolbarState state = toolbar();
    m_downloadTake->setEnabled(state.downloadTake);
    m_export->setEnabled(state.exportForResolve);
    m_downloadProject->setEnabled(state.downloadWholeProject);
    m_moveToTrash->setEnabled(state.moveSourceToTrash);
    armSessionExpiry();
    // A job ended (a download, an export): the keyboard goes by the rule unless the user put it
    // where it is.
    Keyboard::settle(*this);
}

void LibraryWindow::armSessionExpiry() {
    if (!m_sessionExpiry) return;
    const WallTime now = m_clock.now();
    std::optional<WallTime> next;
    for (const TransferSessionSummary& session : m_store.transferSessions()) {
        if (now < session.expiresAt && (!next || session.expiresAt < *next)) next = session.expiresAt;
    }
    if (!next) {
        m_sessionExpiry->stop();
        return;
    }
    constexpr std::int64_t longestWaitMs = 24 * 60 * 60 * 1000;
    m_sessionExpiry->start(static_cast<int>(std::min(toWallMs(*next) - toWallMs(now) + 1, longestWaitMs)));
}

void LibraryWindow::importManifest() {
    rememberOpener();
    QPointer<LibraryWindow> self = this;
    m_fileDialogs->chooseManifest(this, [self](const std::filesystem::path& file) {
        if (self) self->m_commands->importManifest(file);
    });
}

void LibraryWindow::chooseExportFolder() {
    if (!toolbar().exportForResolve) return;
    rememberOpener();
    QPointer<LibraryWindow> self = this;
    m_fileDialogs->chooseExportParent(this, [self](const std::filesystem::path& parent) {
        if (self && self->toolbar().exportForResolve) self->m_commands->exportSelectedTake(parent);
    });
}

void LibraryWindow::confirmSourceTrash() {
    if (m_sheet || !toolbar().moveSourceToTrash) return;
    m_trashFor = m_store.selectedProjectID();
    auto* box = new QMessageBox(QMessageBox::Warning, qs(T::trashTitle), {}, QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("trashConfirmation"));
    box->setTextFormat(Qt::PlainText);
    box->setText(qs(T::trashTitle));
    box->setInformativeText(qs(T::trashMessage));
    QPushButton* confirm = box->addButton(buttonText(T::trashConfirm), QMessageBox::DestructiveRole);
    Keyboard::guard(*confirm);
    QPushButton* cancel = box->addButton(qs(T::cancel), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    connect(confirm, &QPushButton::clicked, this, [this] {
        // Only the project the confirmation was opened for, and only while it is still selected.
        if (confirmationStillApplies(m_trashFor, m_store.selectedProjectID())) m_commands->trashSelectedProjectSources();
    });
    presentSheet(box);
}

void LibraryWindow::syncErrorAlert() {
    if (!m_shownOnce) return;
    const auto& message = m_store.errorMessage();
    if (!message) {
        if (m_alert) m_alert->close();
        return;
    }
    if (m_alert) {
        m_alert->setText(QString::fromStdString(*message));
        return;
    }
    auto* alert = new QMessageBox(QMessageBox::Warning, qs(T::alertTitle), {}, QMessageBox::NoButton, this);
    alert->setObjectName(QStringLiteral("errorAlert"));
    // The error text names phones, projects and files: it is shown exactly as written.
    alert->setTextFormat(Qt::PlainText);
    alert->setText(QString::fromStdString(*message));
    alert->addButton(qs(T::ok), QMessageBox::AcceptRole);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    // However the alert goes away, the error it showed is cleared.
    connect(alert, &QDialog::finished, this, [this] {
        if (m_store.errorMessage()) m_store.setErrorMessage(std::nullopt);
    });
    m_alert = alert;
    openWindowModal(*alert);
}

void LibraryWindow::showWiFi() {
    if (m_sheet) return;
    const WiFiGuardInputs inputs{m_store.isBusy(), &m_liveDiscovery.cameras(), m_clock.now()};
    QDialog* sheet = m_wifi->makeSheet(canChangeWiFi(inputs), qs(wifiChangeBlockedReason(inputs)), this);
    sheet->setObjectName(QStringLiteral("wifiSheet"));
    m_wifiSheet = sheet;
    presentSheet(sheet);
}

void LibraryWindow::evaluateWiFiGuard(bool force) {
    if (!m_shownOnce) return; // the gate stays closed until the window has judged once
    const WiFiGuardInputs inputs{m_store.isBusy(), &m_liveDiscovery.cameras(), m_clock.now()};
    if (!m_wifiTracker.changed(wifiSafetySignature(inputs)) && !force) return;
    const bool allowed = canChangeWiFi(inputs);
    m_wifi->updateGate(allowed);
    if (m_wifiSheet) m_wifi->setChangeRule(m_wifiSheet, allowed, qs(wifiChangeBlockedReason(inputs)));
}

} // namespace velk

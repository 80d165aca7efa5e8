#include "app/window_modal.hpp"

#include <algorithm>
#include <vector>

#include <QDialog>
#include <QGuiApplication>
#include <QPointer>
#include <QWindow>

namespace velk {

namespace {

// The window and those it stands on, nearest first.
std::vector<const QWindow*> lineage(const QWindow* window) {
    std::vector<const QWindow*> windows;
    for (; window; window = window->parent() ? window->parent() : window->transientParent()) windows.push_back(window);
    return windows;
}

bool holds(const std::vector<const QWindow*>& windows, const QWindow* window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

// Whether `modal`, shown modal, keeps input from `window`, as Qt judges it: a window-modal one
// blocks every window it stands on (its parent or the window it is transient for, and theirs) and
// every window that stands on one of those, except itself and the windows that stand on it.
bool blocks(const QWindow& modal, const QWindow& window) {
    if (modal.modality() == Qt::NonModal) return false;
    const std::vector<const QWindow*> standsOn = lineage(&window);
    if (holds(standsOn, &modal)) return false;
    if (modal.modality() == Qt::ApplicationModal) return true;
    const std::vector<const QWindow*> under = lineage(modal.parent() ? modal.parent() : modal.transientParent());
    return std::any_of(standsOn.begin(), standsOn.end(), [&](const QWindow* each) { return holds(under, each); });
}

// The platform activates a window that is clicked even while a dialog blocks it (and a window
// manager may give it the keyboard as it stacks the dialog above): the keyboard goes on to the
// dialog, or no key would reach anything.
void handKeyboardToTheBlockingDialog(QWindow* focused) {
    QWindow* modal = QGuiApplication::modalWindow();
    if (!focused || !modal || !blocks(*modal, *focused)) return;
    // After the platform's own activation is through; by then either may have changed.
    QMetaObject::invokeMethod(
        modal,
        [modal = QPointer<QWindow>(modal)] {
            QWindow* focusedNow = QGuiApplication::focusWindow();
            if (modal && modal->isVisible() && modal == QGuiApplication::modalWindow() && focusedNow &&
                blocks(*modal, *focusedNow)) {
                modal->requestActivate();
            }
        },
        Qt::QueuedConnection);
}

void relayTheKeyboardToBlockingDialogs() {
    static QPointer<QGuiApplication> installedOn;
    if (installedOn == qGuiApp) return;
    installedOn = qGuiApp;
    QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, qGuiApp, &handKeyboardToTheBlockingDialog);
}

} // namespace

void openWindowModal(QDialog& dialog) {
    relayTheKeyboardToBlockingDialogs();
    dialog.setWindowModality(Qt::WindowModal);
    // Qt's X11 platform asks the window manager to activate a modal window as it maps it
    // (_NET_ACTIVE_WINDOW with the time of the user's latest event); asking again here adds nothing.
    dialog.open();
}

} // namespace velk

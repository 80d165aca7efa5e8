#include "app/window_modal.hpp"

#include <utility>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <private/qguiapplication_p.h>

#include "app/keyboard_keeper.hpp"
#include "app/modal_keyboard.hpp"
#include "app/window_activation.hpp"
#include "app/x11_windows.hpp"

namespace velk {

namespace {

// The platform's windows as the keyboard's rules see them.
struct Windows {
    const QWindow* standsOn(const QWindow* window) const {
        return window->parent() ? window->parent() : window->transientParent();
    }
    Qt::WindowModality modality(const QWindow* window) const { return window->modality(); }
};

// The dialogs opened here and still shown, oldest first.
std::vector<QPointer<QDialog>>& openDialogs() {
    static std::vector<QPointer<QDialog>> dialogs;
    return dialogs;
}

std::vector<const QWindow*> openDialogWindows() {
    std::vector<const QWindow*> windows;
    for (const QPointer<QDialog>& dialog : openDialogs()) {
        if (dialog && dialog->isVisible() && dialog->windowHandle()) windows.push_back(dialog->windowHandle());
    }
    return windows;
}

void forget(const QDialog* dialog) {
    std::erase_if(openDialogs(), [dialog](const QPointer<QDialog>& each) { return !each || each == dialog; });
}

// The urgency hint of ICCCM's WM_HINTS (XUrgencyHint) on an X server, which window managers show as
// a window that demands attention; elsewhere the desktop's own way (app/window_activation).
void setUrgent(QWindow& window, bool urgent) {
    if (!X11Windows::setUrgent(window, urgent) && urgent) WindowActivation::askForAttention(window);
}

const char* const urgentProperty = "velkAsksForAttention";
const char* const userActedProperty = "velkUserActed";
const char* const watchedProperty = "velkDialogWatch";
// Qt's own window property for Qt::WA_ShowWithoutActivating, read by its platforms as a window maps.
const char* const showWithoutActivating = "_q_showWithoutActivating";

// The window the desktop lists for `dialog`: the top-level window it stands on, through the sheets
// and alerts between. Desktops list no dialog (GNOME's marks them skip-taskbar) and some heed no
// urgency hint on one, so a dialog that asks for attention asks on this window too.
QWidget* listedWindow(const QDialog& dialog) {
    QWidget* window = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
    while (window && qobject_cast<QDialog*>(window) && window->parentWidget()) window = window->parentWidget()->window();
    return window;
}

// Another open dialog still asks for attention on `listed`.
bool othersAskOn(const QWidget* listed, const QDialog& besides) {
    for (const QPointer<QDialog>& dialog : openDialogs()) {
        if (dialog && dialog != &besides && dialog->property(urgentProperty).toBool() && listedWindow(*dialog) == listed)
            return true;
    }
    return false;
}

void stopAsking(QDialog& dialog) {
    if (!dialog.property(urgentProperty).toBool()) return;
    dialog.setProperty(urgentProperty, false);
    if (QWindow* window = dialog.windowHandle()) setUrgent(*window, false);
    QWidget* listed = listedWindow(dialog);
    if (listed && listed->windowHandle() && !othersAskOn(listed, dialog)) setUrgent(*listed->windowHandle(), false);
}

// A dialog the user has not yet acted in (no key or click reached it) asks for attention, on itself
// and on the window the desktop lists, while the user works where it does not reach (another
// window, another program), as the window manager may keep the keyboard there and leave it unseen
// (an alert that opens just after a click elsewhere, which may even have the keyboard for a moment);
// it stops asking once it (or another dialog over the same window) has the keyboard.
void judgeAttention(QDialog& dialog, const QWindow* focused) {
    QWindow* window = dialog.windowHandle();
    if (!window || !dialog.isVisible()) return;
    const bool asking = dialog.property(urgentProperty).toBool();
    if (window == focused) {
        // The user is at that window now: no dialog over it asks any longer.
        const QWidget* listed = listedWindow(dialog);
        for (const QPointer<QDialog>& other : std::vector<QPointer<QDialog>>(openDialogs())) {
            if (other && other != &dialog && listedWindow(*other) == listed) stopAsking(*other);
        }
        stopAsking(dialog);
        return;
    }
    if (asking || dialog.property(userActedProperty).toBool()) return;
    if (!ModalKeyboard::asksForAttention(Windows{}, *window, focused)) return;
    dialog.setProperty(urgentProperty, true);
    setUrgent(*window, true);
    if (QWidget* listed = listedWindow(dialog); listed && listed->windowHandle()) setUrgent(*listed->windowHandle(), true);
}

// The platform activates a window that is clicked even while a dialog blocks it (and a window
// manager may give it the keyboard as it stacks the dialog above): the keyboard goes on to the
// dialog that blocks that window, or no key would reach anything.
void keyboardMoved(QWindow* focused) {
    for (const QPointer<QDialog>& dialog : openDialogs()) {
        if (dialog) judgeAttention(*dialog, focused);
    }
    if (!focused) return;
    if (!ModalKeyboard::blockingDialog(Windows{}, openDialogWindows(), *focused)) return;
    // After the platform's own activation is through; by then either may have changed, and another
    // dialog may have opened over the window (the alert that ends a pairing, over its sheet).
    QMetaObject::invokeMethod(
        qGuiApp,
        [] {
            const QWindow* focusedNow = QGuiApplication::focusWindow();
            const QWindow* dialog =
                focusedNow ? ModalKeyboard::blockingDialog(Windows{}, openDialogWindows(), *focusedNow) : nullptr;
            if (dialog) WindowActivation::activate(*const_cast<QWindow*>(dialog));
        },
        Qt::QueuedConnection);
}

// A dialog that opens over a window a dialog already stands over (an alert over a sheet) stands on
// the topmost of them, as a transient of it: the window manager or compositor keeps it above that
// one, and on Wayland places it over it, where as another transient of the window beneath it could
// be stacked under the sheet as the sheet is raised.
void standOnTheTopmost(QDialog& dialog, QWidget* openedOn) {
    QWindow* window = dialog.windowHandle();
    if (!window || !openedOn || !openedOn->windowHandle()) return;
    forget(&dialog);
    const QWindow* topmost = ModalKeyboard::blockingDialog(Windows{}, openDialogWindows(), *openedOn->windowHandle());
    window->setTransientParent(const_cast<QWindow*>(topmost ? topmost : openedOn->windowHandle()));
}

// As a dialog goes, those that stood on it stand on what it stood on.
void standOnWhatItStoodOn(const QDialog& closing) {
    const QWindow* gone = closing.windowHandle();
    if (!gone) return;
    for (const QPointer<QDialog>& dialog : openDialogs()) {
        QWindow* window = dialog ? dialog->windowHandle() : nullptr;
        if (window && window->transientParent() == gone) window->setTransientParent(gone->transientParent());
    }
}

// The X11 side hands the keyboard on to the dialog that blocks the window it arrives at.
void tellTheX11Side() {
    if (!X11Windows::active()) return;
    const std::vector<const QWindow*> open = openDialogWindows();
    std::vector<std::pair<const QWindow*, const QWindow*>> blocked;
    for (const QWindow* window : QGuiApplication::topLevelWindows()) {
        if (const QWindow* dialog = ModalKeyboard::blockingDialog(Windows{}, open, *window)) blocked.emplace_back(window, dialog);
    }
    X11Windows::setBlocked(blocked);
}

// Qt's widgets take no notice of the platform activating a window while a popup is open (a late
// focus event of the popup's, as QApplication takes it), nor look again once the popup closes. A
// dialog that closes with a popup of its own open leaves the window beneath with the platform's
// keyboard but with no active window and no control with the keyboard, every key lost: the file
// panel's completer list, when a screen reader's bridge hands Return on to the name field only
// after the list opened. Once no popup is open, the window with the platform's keyboard is the
// active one again, and its control gets the keyboard as on any activation (the window's rule).
void followTheFocusWindow() {
    const QWindow* focused = QGuiApplication::focusWindow();
    if (!focused || QApplication::activePopupWidget()) return;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->windowHandle() != focused) continue;
        if (window->isVisible() && QApplication::activeWindow() != window) QApplication::setActiveWindow(window);
        return;
    }
}

class PopupWatch final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->windowType() == Qt::Popup)
            QMetaObject::invokeMethod(this, &followTheFocusWindow, Qt::QueuedConnection);
        return false;
    }
};

void watchTheKeyboard() {
    static QPointer<QGuiApplication> installedOn;
    if (installedOn == qGuiApp) return;
    installedOn = qGuiApp;
    QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, qGuiApp, &keyboardMoved);
    qGuiApp->installEventFilter(new PopupWatch(qGuiApp));
    X11Windows::install();
}

// Notes when the user acts in a dialog (a key or a click in its window), and as a dialog that has the
// keyboard closes, gives the keyboard back to the window it was opened on, raised to the top, and to
// the control that had it there (the window keeps it), or to the dialog that still blocks that
// window. Left to itself, a window manager gives it to the window it focused before, which may lie
// beneath: there a stray key acts unseen.
class DialogWatch final : public QObject {
public:
    DialogWatch(QDialog& dialog, QWidget* openedOn) : QObject(&dialog), m_dialog(dialog), m_openedOn(openedOn) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_dialog.windowHandle()) {
            if (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress) {
                m_dialog.setProperty(userActedProperty, true);
            }
            return false;
        }
        if (watched != &m_dialog || event->type() != QEvent::Hide || event->spontaneous()) return false;
        const bool hadTheKeyboard =
            QGuiApplication::focusWindow() == m_dialog.windowHandle() || QApplication::activeWindow() == &m_dialog;
        stopAsking(m_dialog);
        forget(&m_dialog);
        standOnWhatItStoodOn(m_dialog);
        tellTheX11Side();
        if (!hadTheKeyboard || !m_openedOn) return false;
        QMetaObject::invokeMethod(
            qGuiApp,
            [openedOn = m_openedOn] {
                if (!openedOn || !openedOn->isVisible() || !openedOn->windowHandle()) return;
                const QWindow& target =
                    ModalKeyboard::keyboardAfterClosing(Windows{}, openDialogWindows(), *openedOn->windowHandle());
                for (const QPointer<QDialog>& dialog : openDialogs()) {
                    if (dialog && dialog->windowHandle() == &target) return giveTheKeyboard(*dialog);
                }
                giveTheKeyboard(*openedOn);
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    static void giveTheKeyboard(QWidget& window) { WindowActivation::activate(window); }

    QDialog& m_dialog;
    QPointer<QWidget> m_openedOn;
};

// Waits for the user to come to a window `dialog` stands on, then opens it there; it goes unopened if
// it is closed meanwhile.
class OpenWhenTheUserComes final : public QObject {
public:
    explicit OpenWhenTheUserComes(QDialog& dialog) : QObject(&dialog), m_dialog(dialog) {
        dialog.installEventFilter(this);
        connect(&dialog, &QDialog::finished, this, &QObject::deleteLater);
        connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focused) {
            const QWindow* window = m_dialog.windowHandle();
            if (m_done || !focused || !window || ModalKeyboard::opensBeneath(Windows{}, *window, focused)) return;
            m_done = true;
            deleteLater();
            openWindowModal(m_dialog);
        });
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            m_done = true;
            deleteLater();
        }
        return false;
    }

private:
    QDialog& m_dialog;
    bool m_done = false;
};

} // namespace

void openWindowModal(QDialog& dialog) {
    watchTheKeyboard();
    Keyboard::keep(dialog);
    dialog.setWindowModality(Qt::WindowModal);
    QWidget* openedOn = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
    if (!dialog.property(watchedProperty).toBool() && dialog.winId()) {
        dialog.setProperty(watchedProperty, true);
        auto* watch = new DialogWatch(dialog, openedOn);
        dialog.installEventFilter(watch);
        dialog.windowHandle()->installEventFilter(watch);
    }
    standOnTheTopmost(dialog, openedOn);
    QWindow* window = dialog.windowHandle();
    // Qt's X11 platform asks the window manager to activate a modal window as it maps it
    // (_NET_ACTIVE_WINDOW with the time of the user's latest event); asking again here adds nothing.
    // A dialog that opens beneath is shown before it is modal, so nothing asks, and tells the
    // window manager not to give it the keyboard as it appears; it blocks its window from then on,
    // and asks for attention until the user comes to it. Where a new window always gets the
    // keyboard (Wayland), it opens only once the user comes to its window, which asks meanwhile.
    const bool beneath = ModalKeyboard::opensBeneath(Windows{}, *window, QGuiApplication::focusWindow());
    if (beneath && !WindowActivation::showsWithoutTheKeyboard()) {
        if (QWidget* listed = listedWindow(dialog); listed && listed->windowHandle()) setUrgent(*listed->windowHandle(), true);
        new OpenWhenTheUserComes(dialog);
        return;
    }
    openDialogs().push_back(&dialog);
    dialog.setProperty(userActedProperty, false);
    dialog.setProperty(urgentProperty, false);
    if (beneath) {
        window->setModality(Qt::NonModal);
        window->setProperty(showWithoutActivating, true);
    }
    dialog.open();
    if (beneath) {
        window->setProperty(showWithoutActivating, false);
        window->setModality(Qt::WindowModal);
        QGuiApplicationPrivate::showModalWindow(window);
    }
    tellTheX11Side();
    // Judged once the platform has written the window's hints as it maps it, and again whenever the
    // keyboard moves until the dialog has it.
    judgeAttention(dialog, QGuiApplication::focusWindow());
}

} // namespace velk

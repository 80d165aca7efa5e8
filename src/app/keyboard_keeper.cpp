#include "app/keyboard_keeper.hpp"

#include <algorithm>
#include <deque>
#include <utility>

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QStackedWidget>
#include <QWidget>

#include "app/keyboard_rule.hpp"

namespace velk::Keyboard {

namespace {

const char* const guardedProperty = "velkGuarded";
const char* const stackWatchedProperty = "velkStackWatched";

// One kept window: the user's choices and its home.
class Keeper final : public QObject {
public:
    Keeper(QWidget& window, Home home) : QObject(&window), m_window(window), m_home(std::move(home)) {}

    void setHome(Home home) { m_home = std::move(home); }

    // The keeper itself is moving the keyboard.
    bool placing() const { return m_placing; }

    // The user put the keyboard on `control`.
    void chose(QWidget& control) {
        forget(&control);
        m_chosen.push_front(&control);
        if (m_chosen.size() > historyLength) m_chosen.pop_back();
    }

    void replace(QWidget& from, QWidget& to) {
        for (QPointer<QWidget>& each : m_chosen) {
            if (each == &from) each = &to;
        }
        place(to, false);
    }

    // Moves the keyboard where the rule says, from `current` (where it is now, or where Qt just put it).
    void settle(QWidget* current) {
        if (m_placing) return;
        std::erase_if(m_chosen, [this](const QPointer<QWidget>& each) { return !each || each->window() != &m_window; });
        // Most often the keyboard is where the user put it.
        if (current && !m_chosen.empty() && m_chosen.front() == current && canTake(*current)) return;
        KeyboardRule::Situation<QWidget> situation;
        situation.current = current;
        for (const QPointer<QWidget>& each : m_chosen) situation.chosen.push_back(each);
        if (m_home) {
            for (QWidget* each : m_home()) {
                if (each && each->window() == &m_window) situation.home.push_back(each);
            }
        }
        const auto take = [](const QWidget& control) { return canTake(control); };
        const auto guarded = [](const QWidget& control) { return isGuarded(control); };
        const QWidget* target = KeyboardRule::keyboardGoesTo(situation, take, guarded);
        if (!target) {
            // The last resort: the window's controls in Tab order.
            for (QWidget* each = m_window.nextInFocusChain(); each && each != &m_window; each = each->nextInFocusChain()) {
                if (each->window() == &m_window && (each->focusPolicy() & Qt::TabFocus)) situation.others.push_back(each);
            }
            target = KeyboardRule::keyboardGoesTo(situation, take, guarded);
        }
        if (target && target != current) place(*const_cast<QWidget*>(target));
        // Only guarded controls could take it: none does, and the window keeps it itself.
        else if (!target && current) release(*current);
    }

private:
    static constexpr std::size_t historyLength = 16;

    void forget(const QWidget* control) {
        std::erase_if(m_chosen, [control](const QPointer<QWidget>& each) { return !each || each == control; });
    }

    // The keyboard moved where the user did not send it: its focus mark shows, as after a Tab.
    void place(QWidget& control, bool showMark = true) {
        m_placing = true;
        if (showMark) m_window.setAttribute(Qt::WA_KeyboardFocusChange);
        control.setFocus(Qt::OtherFocusReason);
        m_placing = false;
    }

    void release(QWidget& control) {
        m_placing = true;
        control.clearFocus();
        m_placing = false;
    }

    QWidget& m_window;
    Home m_home;
    std::deque<QPointer<QWidget>> m_chosen;
    bool m_placing = false;
};

QHash<const QWidget*, Keeper*>& keepers() {
    static QHash<const QWidget*, Keeper*> all;
    return all;
}

Keeper* keeperOf(const QWidget* widget) {
    if (!widget) return nullptr;
    return keepers().value(widget->window(), nullptr);
}

bool isArrow(int key) { return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down; }

// Watches every focus event of the application and the user's own input (keys and presses), which
// alone tells the user's focus moves from those Qt or the application make by themselves, and every
// page switch of a stack (a QStackedWidget's, a tab widget's).
class Warden final : public QObject {
public:
    explicit Warden(QObject* parent) : QObject(parent) {
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) { focusChanged(old, now); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
            // The key being handled, until the events that came with it are through: Qt moves the
            // keyboard for Tab while it delivers the key. Not only the platform's own: a screen
            // reader's bridge delivers the user's keys again once its listener let them pass.
            if (m_key == 0) QMetaObject::invokeMethod(this, [this] { m_key = 0; }, Qt::QueuedConnection);
            m_key = static_cast<QKeyEvent*>(event)->key();
            break;
        case QEvent::ShowToParent:
            // A page of a stack shown: the stack switched its page. Qt moved the keyboard off the
            // page that hides, on along the Tab chain, then onto the page that shows, neither by the
            // user's choice, and the page that shows may hold the user's latest choice again: as the
            // switch ends, the keyboard goes by the rule.
            if (auto* stack = watched->isWidgetType() ? qobject_cast<QStackedWidget*>(static_cast<QWidget*>(watched)->parentWidget()) : nullptr;
                stack && !stack->property(stackWatchedProperty).toBool()) {
                stack->setProperty(stackWatchedProperty, true);
                connect(stack, &QStackedWidget::currentChanged, this, [stack] {
                    if (Keeper* keeper = keeperOf(stack)) keeper->settle(stack->window()->focusWidget());
                });
            }
            break;
        case QEvent::FocusOut:
            if (watched->isWidgetType()) m_leaving = static_cast<QWidget*>(watched);
            break;
        case QEvent::FocusIn:
            if (watched->isWidgetType()) focusIn(*static_cast<QWidget*>(watched), static_cast<QFocusEvent*>(event)->reason());
            break;
        case QEvent::MouseButtonPress:
            // Where a click lands, as the window gets it: a click in a window that is not active
            // gives the control it chose the keyboard only as the window activates, with the
            // activation's reason.
            if (event->spontaneous() && watched->isWindowType())
                m_pressed = QApplication::widgetAt(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            break;
        case QEvent::WindowActivate:
            if (watched->isWidgetType()) {
                auto* window = static_cast<QWidget*>(watched);
                // With no control of its own, Qt would give it the first in Tab order.
                if (Keeper* keeper = keepers().value(window, nullptr); keeper && !window->focusWidget()) keeper->settle(nullptr);
            }
            break;
        default: break;
        }
        return false;
    }

private:
    void focusIn(QWidget& widget, Qt::FocusReason reason) {
        QPointer<QWidget> old = std::exchange(m_leaving, nullptr);
        Keeper* keeper = keeperOf(&widget);
        if (!keeper) return;
        // Only the user's own input chooses: Qt also moves the keyboard on along the Tab chain, with
        // Tab's reason, when the control that has it is hidden or greyed out, and a page switch, a
        // popup closed or the application moves it with other reasons.
        if (keeper->placing()) return;
        // An arrow key that moved it within a group (among a group's buttons, the source cards): the
        // control it left can still hold it.
        const bool arrowed = isArrow(m_key) && old && old != &widget && old->window() == widget.window() && canTake(*old);
        bool users = false;
        switch (reason) {
        case Qt::MouseFocusReason:     // a press
        case Qt::ShortcutFocusReason:  // a mnemonic or a shortcut
            users = true;
            break;
        case Qt::ActiveWindowFocusReason:
            // Qt gives the window's control as it activates: the one a click chose in it while it was
            // not active is the user's (moved off it, a button held down would lose its click).
            users = clickChose(widget);
            break;
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason: users = m_key == Qt::Key_Tab || m_key == Qt::Key_Backtab || arrowed; break;
        case Qt::OtherFocusReason: users = arrowed; break;
        default: break;
        }
        if (users) keeper->chose(widget);
        else keeper->settle(&widget);
    }

    // The control that had the keyboard went (deleted, or nothing came after it): in the active
    // window, once the deletion is through, the keyboard goes by the rule.
    void focusChanged(QWidget* old, QWidget* now) {
        if (now || !old) return;
        QWidget* window = old->window();
        QPointer<Keeper> keeper = keepers().value(window, nullptr);
        if (!keeper || QApplication::activeWindow() != window) return;
        QMetaObject::invokeMethod(
            this,
            [keeper] {
                auto* kept = keeper ? qobject_cast<QWidget*>(keeper->parent()) : nullptr;
                if (kept && QApplication::activeWindow() == kept && !QApplication::focusWidget()) keeper->settle(nullptr);
            },
            Qt::QueuedConnection);
    }

    // A click on `widget`, or on a control it stands for (an ancestor, or one whose focus it takes),
    // gave it the keyboard.
    bool clickChose(const QWidget& widget) const {
        if (!(widget.focusPolicy() & Qt::ClickFocus)) return false;
        for (const QWidget* each = m_pressed; each; each = each->isWindow() ? nullptr : each->parentWidget()) {
            if (each == &widget || each->focusProxy() == &widget) return true;
        }
        return false;
    }

    QPointer<QWidget> m_leaving;
    // The key of the user's press being handled, 0 for none.
    int m_key = 0;
    // The control the latest click landed on.
    QPointer<QWidget> m_pressed;
};

void watch() {
    static QPointer<QApplication> installedOn;
    if (installedOn == qApp) return;
    installedOn = qApp;
    qApp->installEventFilter(new Warden(qApp));
}

} // namespace

void guard(QWidget& control) {
    control.setProperty(guardedProperty, true);
    // Tab reaches it; a click presses it and leaves the keyboard where it was.
    control.setFocusPolicy(Qt::TabFocus);
}

bool isGuarded(const QWidget& control) { return control.property(guardedProperty).toBool(); }

// Shown, or about to be: a widget added to a shown layout is shown by the layout a moment later,
// and only a widget hidden on purpose (a page of a stack, a control hidden) stays hidden.
static bool shownInItsWindow(const QWidget& control) {
    for (const QWidget* widget = &control; widget; widget = widget->isWindow() ? nullptr : widget->parentWidget()) {
        if (widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide)) return false;
    }
    return true;
}

bool canTake(const QWidget& control) {
    return control.isEnabled() && control.focusPolicy() != Qt::NoFocus && shownInItsWindow(control);
}

void keep(QWidget& window, Home home) {
    watch();
    if (Keeper* keeper = keepers().value(&window, nullptr)) {
        keeper->setHome(std::move(home));
        return;
    }
    auto* keeper = new Keeper(window, std::move(home));
    keepers().insert(&window, keeper);
    const QWidget* key = &window;
    QObject::connect(keeper, &QObject::destroyed, [key] { keepers().remove(key); });
}

void settle(QWidget& window) {
    if (Keeper* keeper = keepers().value(&window, nullptr)) keeper->settle(window.focusWidget());
}

void choose(QWidget& control) {
    if (Keeper* keeper = keeperOf(&control)) keeper->chose(control);
    control.setFocus(Qt::TabFocusReason);
}

void handOn(QWidget& from, QWidget& to) {
    if (Keeper* keeper = keeperOf(&to)) keeper->replace(from, to);
    else to.setFocus(Qt::OtherFocusReason);
}

} // namespace velk::Keyboard

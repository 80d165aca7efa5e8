#pragma once
// Widget tests: what a keyboard user and an assistive tool meet in one window. The audit shows and
// activates the window, collects the enabled, visible controls a mouse can use, walks the focus
// chain by pressing Tab (and Shift+Tab) from the first focus as a person would, reads each control's
// accessible name through QAccessible, and returns readable findings:
//   - an enabled control that Tab never reaches (radio buttons of one group are reached by the arrow
//     keys from the one Tab reaches);
//   - an accessible name that is empty or a single symbol ("+", "M", "…");
//   - a picker (combo box, spin box, tab bar) whose name is its current value;
//   - optionally, an accessible object that reports focus while another widget has it (a list's
//     current row or a tab bar's current tab while the list or bar does not have focus).
// `focusReporters` and `spokenAncestors` tell what a screen reader is told at one focus: every
// object reporting focus, and the containers it speaks on the way to the focus widget.
// `FocusEventRecorder` hears the focus events that reach the platform and names those told of an
// object without the focus.
// Needs a QApplication (offscreen, or xcb on an X server) and Qt6::Test. Depends on nothing of the
// product.
//
// Worth knowing when a finding names a standard widget: on Linux, Qt's own accessible objects name
// a QComboBox and a QTabBar by their current value (whatever accessible name they were given), and
// report a list's current row and a tab bar's current tab as focused whether or not the list or
// the bar has focus. The audit reports these as it reports any other control.

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <QTextEdit>
#include <QWidget>

#include "app/keyboard_keeper.hpp"
#include "support/widgets.hpp"

namespace velk::test {

struct AccessibilityAuditOptions {
    // Widgets of the caller's own classes that take clicks (tiles, monitors, card-like frames).
    std::function<bool(const QWidget&)> isCustomControl;
    // Controls the audit leaves out entirely (say why where it is used).
    std::function<bool(const QWidget&)> ignore;
    // Fail when an object other than the focus widget (or an item inside it) reports focus.
    bool checkSingleFocus = true;
    // Tab presses before the walk gives up on coming back to its first stop.
    int maxSteps = 400;
};

struct AccessibilityAuditResult {
    std::vector<QWidget*> controls;     // enabled, visible controls, in widget-tree order
    std::vector<QWidget*> tabOrder;     // focus widgets pressing Tab from the first focus, once round
    std::vector<QWidget*> backtabOrder; // the same with Shift+Tab
    std::vector<std::string> findings;

    bool ok() const { return findings.empty(); }
    std::string report() const {
        std::string text;
        for (const auto& finding : findings) text += "  - " + finding + "\n";
        return text;
    }
};

// ---- Pieces the audit is made of; tests may use them on their own. ----

inline QAccessibleInterface* accessibleOf(QWidget* widget) { return QAccessible::queryAccessibleInterface(widget); }

inline QString accessibleName(QWidget* widget) {
    QAccessibleInterface* iface = accessibleOf(widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

inline QString accessibleDescription(QWidget* widget) {
    QAccessibleInterface* iface = accessibleOf(widget);
    return iface ? iface->text(QAccessible::Description) : QString();
}

inline QAccessible::State accessibleState(QWidget* widget) {
    QAccessibleInterface* iface = accessibleOf(widget);
    return iface ? iface->state() : QAccessible::State();
}

// The accessible names of widgets, in order: what a screen reader announces walking them.
inline QStringList accessibleNames(const std::vector<QWidget*>& widgets) {
    QStringList names;
    for (QWidget* widget : widgets) names << accessibleName(widget);
    return names;
}

// `QPushButton "Scan Again" #scanAgain`: enough to find the widget in the code.
inline std::string describe(const QWidget* widget) {
    if (!widget) return "(none)";
    std::string text = widget->metaObject()->className();
    QString name = accessibleName(const_cast<QWidget*>(widget));
    if (name.isEmpty()) {
        if (auto* button = qobject_cast<const QAbstractButton*>(widget)) name = button->text();
        if (auto* edit = qobject_cast<const QLineEdit*>(widget)) name = edit->placeholderText();
    }
    if (!name.isEmpty()) text += " \"" + name.toStdString() + "\"";
    if (!widget->objectName().isEmpty()) text += " #" + widget->objectName().toStdString();
    return text;
}

// The standard widgets a mouse operates. Scroll bars are left out: they scroll what a keyboard
// scrolls through the view they belong to.
inline bool isStandardControl(const QWidget& widget) {
    if (qobject_cast<const QScrollBar*>(&widget)) return false;
    // A label is one when it shows a link (every label lets a mouse follow links by default).
    if (auto* label = qobject_cast<const QLabel*>(&widget))
        return label->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse) && label->textFormat() != Qt::PlainText &&
               label->text().contains(QLatin1String("<a "), Qt::CaseInsensitive);
    if (auto* text = qobject_cast<const QTextEdit*>(&widget)) return !text->isReadOnly();
    if (auto* text = qobject_cast<const QPlainTextEdit*>(&widget)) return !text->isReadOnly();
    return qobject_cast<const QAbstractButton*>(&widget) || qobject_cast<const QLineEdit*>(&widget) ||
           qobject_cast<const QComboBox*>(&widget) || qobject_cast<const QAbstractSpinBox*>(&widget) ||
           qobject_cast<const QTabBar*>(&widget) || qobject_cast<const QAbstractItemView*>(&widget) ||
           qobject_cast<const QAbstractSlider*>(&widget);
}

// Controls that show one of several values; their name must say what is chosen, not the choice.
inline bool isPicker(const QWidget& widget) {
    return qobject_cast<const QComboBox*>(&widget) || qobject_cast<const QAbstractSpinBox*>(&widget) ||
           qobject_cast<const QTabBar*>(&widget);
}

// Enabled, visible controls of `window`, leaving out the parts of another control (a line edit's
// clear button, a spin box's editor, a tab bar's scroll arrows) and the toolbar's overflow arrow,
// which Qt shows only when the toolbar does not fit.
inline std::vector<QWidget*> mouseControls(QWidget& window, const AccessibilityAuditOptions& options = {}) {
    auto isControl = [&](const QWidget& w) {
        return isStandardControl(w) || (options.isCustomControl && options.isCustomControl(w));
    };
    std::vector<QWidget*> controls;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (widget->window() != &window || !widget->isVisible() || !widget->isEnabled()) continue;
        if (!isControl(*widget) || (options.ignore && options.ignore(*widget))) continue;
        if (widget->objectName() == QLatin1String("qt_toolbar_ext_button")) continue;
        bool part = false;
        for (QWidget* up = widget->parentWidget(); up && up != &window; up = up->parentWidget()) {
            if (isControl(*up)) part = true;
        }
        if (!part) controls.push_back(widget);
    }
    return controls;
}

// Presses a key where a person's key press goes: the focus widget (shortcuts first), or the
// active window when nothing has focus. Returns the focus widget afterwards.
inline QWidget* pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    if (!target) target = QApplication::activeWindow();
    QTest::keyClick(target, key, modifiers);
    QCoreApplication::processEvents();
    return QApplication::focusWidget();
}

// Focus widgets met pressing Tab (or Shift+Tab) from the current focus until the walk is back at
// its first stop. A walk that does not come back says so in `findings`.
inline std::vector<QWidget*> walkFocusChain(QWidget& window, bool backwards, std::vector<std::string>& findings,
                                            int maxSteps = 400) {
    const char* key = backwards ? "Shift+Tab" : "Tab";
    QWidget* start = QApplication::focusWidget();
    if (!start || start->window() != &window) start = pressKey(Qt::Key_Tab);
    std::vector<QWidget*> stops;
    if (!start || start->window() != &window) {
        findings.push_back(std::string(key) + " gives no widget of the window focus");
        return stops;
    }
    stops.push_back(start);
    std::set<QWidget*> seen{start};
    for (int step = 0; step < maxSteps; ++step) {
        QWidget* next = backwards ? pressKey(Qt::Key_Backtab, Qt::ShiftModifier) : pressKey(Qt::Key_Tab);
        if (next == start) return stops;
        if (!next || next->window() != &window) {
            findings.push_back(std::string(key) + " from " + describe(stops.back()) + " leaves the window");
            return stops;
        }
        if (seen.count(next)) {
            findings.push_back(std::string(key) + " circles back to " + describe(next) + " without returning to " +
                               describe(start));
            return stops;
        }
        seen.insert(next);
        stops.push_back(next);
    }
    findings.push_back(std::string(key) + " did not come back to " + describe(start) + " within " +
                       std::to_string(maxSteps) + " presses");
    return stops;
}

// A focus stop reaches a control when it is the control, lies inside it, or is where the
// control's focus proxy leads.
inline bool reaches(const QWidget* stop, const QWidget* control) {
    if (stop == control || control->isAncestorOf(stop)) return true;
    // Radio buttons of one group are one Tab stop, among which the arrow keys move.
    const auto radio = [](const QWidget* widget) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget));
        return iface && iface->role() == QAccessible::RadioButton;
    };
    if (stop->parentWidget() == control->parentWidget() && radio(stop) && radio(control)) return true;
    for (const QWidget* proxy = control->focusProxy(); proxy; proxy = proxy->focusProxy()) {
        if (proxy == stop) return true;
    }
    return false;
}

// An accessible name says what a control is: not empty, not one symbol ("+", "M", "…").
inline std::string nameProblem(const QString& rawName) {
    const QString name = rawName.trimmed();
    if (name.isEmpty()) return "has no accessible name";
    bool wordy = false;
    for (QChar c : name) wordy = wordy || c.isLetterOrNumber();
    if (name.size() == 1 || (name.size() == 2 && name.at(0).isSurrogate()) || !wordy)
        return "is named by a single symbol \"" + name.toStdString() + "\"";
    return {};
}

// The value a picker shows: a combo box's current text, a spin box's text, a tab bar's current
// tab. (On Linux, Qt's own accessible objects name a combo box and a tab bar by exactly that.)
inline QString pickerValue(QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(widget)) return spin->text();
    if (auto* tabs = qobject_cast<QTabBar*>(widget)) return tabs->tabText(tabs->currentIndex()).remove(QLatin1Char('&'));
    return {};
}

// Every accessible object under `window` that reports focus, walked through the accessible tree
// (so list rows and tabs count, not only widgets).
inline std::vector<QAccessibleInterface*> focusedObjects(QWidget& window, int limit = 50000) {
    std::vector<QAccessibleInterface*> focused;
    std::vector<QAccessibleInterface*> pending{accessibleOf(&window)};
    int visited = 0;
    while (!pending.empty() && visited++ < limit) {
        QAccessibleInterface* iface = pending.back();
        pending.pop_back();
        if (!iface || !iface->isValid()) continue;
        if (iface->state().focused) focused.push_back(iface);
        for (int i = iface->childCount() - 1; i >= 0; --i) {
            QAccessibleInterface* child = iface->child(i);
            // Another window (a popup, a sheet) is audited on its own.
            if (child && child->object() && child->object()->isWidgetType() &&
                static_cast<QWidget*>(child->object())->window() != &window)
                continue;
            pending.push_back(child);
        }
    }
    return focused;
}

// The widget an accessible object belongs to: its own, or the nearest one above it (list rows and
// tabs have none of their own).
inline QWidget* owningWidget(QAccessibleInterface* iface) {
    for (QAccessibleInterface* at = iface; at; at = at->parent()) {
        if (at->object() && at->object()->isWidgetType()) return static_cast<QWidget*>(at->object());
    }
    return nullptr;
}

inline std::string describe(QAccessibleInterface* iface) {
    QWidget* owner = owningWidget(iface);
    if (owner && iface->object() == owner) return describe(owner);
    return "item \"" + iface->text(QAccessible::Name).toStdString() + "\" of " + describe(owner);
}

// Objects that report focus although they are neither the focus widget, an item inside it, nor a
// widget whose focus proxy it is, each with the finding that names it.
inline std::vector<std::pair<std::string, std::string>> strayFocus(QWidget& window) {
    std::vector<std::pair<std::string, std::string>> stray;
    QWidget* focus = QApplication::focusWidget();
    for (QAccessibleInterface* iface : focusedObjects(window)) {
        QWidget* owner = owningWidget(iface);
        const bool allowed = owner && focus && (owner == focus || focus->isAncestorOf(owner) || reaches(focus, owner));
        if (!allowed) stray.emplace_back(describe(iface), describe(iface) + " reports focus while " + describe(focus) + " has it");
    }
    return stray;
}

inline std::vector<std::string> focusFindings(QWidget& window) {
    std::vector<std::string> findings;
    for (auto& [object, finding] : strayFocus(window)) findings.push_back(finding);
    return findings;
}

// Every accessible object of the window that reports focus, described: a screen reader speaks each
// one it is told of, so the focus widget (with its current row or tab) should be the only one.
inline std::vector<std::string> focusReporters(QWidget& window) {
    std::vector<std::string> described;
    for (QAccessibleInterface* iface : focusedObjects(window)) described.push_back(describe(iface));
    return described;
}

// The objects a screen reader speaks on its way to `widget`, from the nearest above it up to its
// window (not included), as "role name": every one but a filler and a panel without a name, which
// it passes over as layout.
inline QStringList spokenAncestors(QWidget* widget) {
    auto roleName = [](QAccessible::Role role) -> QString {
        switch (role) {
        case QAccessible::Grouping:
        case QAccessible::Pane: return QStringLiteral("panel");
        case QAccessible::LayeredPane: return QStringLiteral("layered pane");
        case QAccessible::PageTabList: return QStringLiteral("page tab list");
        case QAccessible::List: return QStringLiteral("list");
        case QAccessible::Dialog: return QStringLiteral("dialog");
        default: return QStringLiteral("role %1").arg(int(role));
        }
    };
    QStringList spoken;
    QAccessibleInterface* self = accessibleOf(widget);
    for (QAccessibleInterface* at = self ? self->parent() : nullptr; at && at->object() != widget->window(); at = at->parent()) {
        const QString name = at->text(QAccessible::Name);
        const QAccessible::Role role = at->role();
        const bool layout = role == QAccessible::Client ||
                            (name.isEmpty() && (role == QAccessible::Grouping || role == QAccessible::Pane));
        if (!layout) spoken << (roleName(role) + QLatin1Char(' ') + name).trimmed();
    }
    return spoken;
}

// The labels a screen reader reads out at one focus, as Orca does: each named panel it speaks on
// the way to `widget`, and `widget` itself when it is a panel, reads every shown label of three
// words or more beneath it that no picker, list or table holds. A label listed twice is heard twice.
inline std::vector<QAccessibleInterface*> labelsReadOut(QWidget* widget) {
    std::vector<QAccessibleInterface*> read;
    const auto panel = [](QAccessibleInterface* at) {
        return at->role() == QAccessible::Grouping || at->role() == QAccessible::Pane;
    };
    const std::function<void(QAccessibleInterface*)> collect = [&](QAccessibleInterface* at) {
        for (int i = 0; i < at->childCount(); ++i) {
            QAccessibleInterface* child = at->child(i);
            if (!child || child->state().invisible) continue;
            const QAccessible::Role role = child->role();
            if (role == QAccessible::ComboBox || role == QAccessible::List || role == QAccessible::Table ||
                role == QAccessible::Tree)
                continue;
            if (role == QAccessible::StaticText && child->text(QAccessible::Name).split(QLatin1Char(' '), Qt::SkipEmptyParts).size() >= 3)
                read.push_back(child);
            collect(child);
        }
    };
    QAccessibleInterface* self = accessibleOf(widget);
    if (self && panel(self)) collect(self);
    for (QAccessibleInterface* at = self ? self->parent() : nullptr; at && at->object() != widget->window(); at = at->parent())
        if (panel(at) && !at->text(QAccessible::Name).isEmpty()) collect(at);
    return read;
}

// ---- The audit. ----

inline AccessibilityAuditResult auditAccessibility(QWidget& window, const AccessibilityAuditOptions& options = {}) {
    AccessibilityAuditResult result;
    if (!activate(window)) result.findings.push_back(describe(&window) + " could not be made the active window");
    result.controls = mouseControls(window, options);

    QWidget* first = QApplication::focusWidget();
    // A window without controls (an informational one) has no Tab chain to walk.
    if (!result.controls.empty()) {
        result.tabOrder = walkFocusChain(window, false, result.findings, options.maxSteps);
        // Shift+Tab starts where the first walk started.
        if (first && first->window() == &window) Keyboard::choose(*first);
        result.backtabOrder = walkFocusChain(window, true, result.findings, options.maxSteps);
    }

    for (QWidget* control : result.controls) {
        bool reached = false;
        for (QWidget* stop : result.tabOrder) reached = reached || reaches(stop, control);
        if (!reached) result.findings.push_back(describe(control) + " is enabled but Tab never reaches it");
        bool reachedBack = false;
        for (QWidget* stop : result.backtabOrder) reachedBack = reachedBack || reaches(stop, control);
        if (reached && !reachedBack) result.findings.push_back(describe(control) + " is reached by Tab but not by Shift+Tab");

        const QString name = accessibleName(control);
        if (std::string problem = nameProblem(name); !problem.empty()) {
            result.findings.push_back(describe(control) + " " + problem);
        } else if (isPicker(*control)) {
            const QString value = pickerValue(control).trimmed();
            if (!value.isEmpty() && name.trimmed().compare(value, Qt::CaseInsensitive) == 0) {
                result.findings.push_back(describe(control) + " is a picker named by its current value \"" +
                                          value.toStdString() + "\"");
            }
        }
    }

    // Focus seen from every stop: moving focus must not leave another object reporting it. Each
    // object is reported once.
    if (options.checkSingleFocus) {
        std::set<std::string> reported;
        for (QWidget* stop : result.tabOrder) {
            Keyboard::choose(*stop);
            QCoreApplication::processEvents();
            for (auto& [object, finding] : strayFocus(window)) {
                if (reported.insert(object).second) result.findings.push_back(finding);
            }
        }
        if (first && first->window() == &window) Keyboard::choose(*first);
    }
    return result;
}

// ---- Focus events as an assistive tool hears them. ----

// Records the focus events that reach the platform, each judged as it arrives: it must name the
// focus widget of the active window, or that widget's current row. Qt makes and hands on focus
// events only while an assistive tool listens, which no test platform has, so the recorder plays
// Qt's part: it hands the installed update handler a focus event for the new current row of every
// item view in the given windows (as QListView::currentChanged does, whether or not the view has
// the focus) and one for each widget that gains the focus. Construct it, then install the
// application's handlers in front of it.
class FocusEventRecorder final {
public:
    explicit FocusEventRecorder(const std::vector<QWidget*>& windows) {
        instance() = this;
        QAccessible::installUpdateHandler(&FocusEventRecorder::arrived);
        for (QWidget* window : windows) {
            for (QAbstractItemView* view : window->findChildren<QAbstractItemView*>()) follow(view);
        }
        m_connections.push_back(QObject::connect(qApp, &QApplication::focusChanged, [](QWidget*, QWidget* now) {
            if (!now) return;
            QAccessibleEvent event(now, QAccessible::Focus);
            handOn(event);
        }));
    }
    ~FocusEventRecorder() {
        for (const auto& connection : m_connections) QObject::disconnect(connection);
        instance() = nullptr;
    }
    FocusEventRecorder(const FocusEventRecorder&) = delete;
    FocusEventRecorder& operator=(const FocusEventRecorder&) = delete;

    std::vector<std::string> heard;    // every focus event that arrived, described
    std::vector<std::string> findings; // those that named an object without the focus

private:
    static FocusEventRecorder*& instance() {
        static FocusEventRecorder* current = nullptr;
        return current;
    }

    // As QAccessible::updateAccessibility does while an assistive tool listens.
    static void handOn(QAccessibleEvent& event) {
        const QAccessible::UpdateHandler handler = QAccessible::installUpdateHandler(nullptr);
        QAccessible::installUpdateHandler(handler);
        if (handler) handler(&event);
    }

    void follow(QAbstractItemView* view) {
        if (!view->selectionModel()) return;
        QPointer<QAbstractItemView> guarded(view);
        m_connections.push_back(QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged,
                                                 [guarded](const QModelIndex& current) {
            if (!guarded || !current.isValid()) return;
            QAccessibleEvent event(guarded.data(), QAccessible::Focus);
            event.setChild(current.row());
            handOn(event);
        }));
    }

    static void arrived(QAccessibleEvent* event) {
        FocusEventRecorder* self = instance();
        if (!self || event->type() != QAccessible::Focus) return;
        auto* widget = qobject_cast<QWidget*>(event->object());
        QAccessibleInterface* named = event->accessibleInterface();
        const std::string what = named ? describe(named) : std::string("an object without an accessible interface");
        self->heard.push_back(what);
        QWidget* focus = QApplication::focusWidget();
        bool where = widget && widget == focus && widget->isActiveWindow();
        if (where && event->child() >= 0) {
            auto* view = qobject_cast<QAbstractItemView*>(widget);
            const QAccessibleTableCellInterface* row = named ? named->tableCellInterface() : nullptr;
            where = view && view->currentIndex().isValid() && row && view->currentIndex().row() == row->rowIndex();
        }
        if (!where) self->findings.push_back(what + " was announced as focused while " + describe(focus) + " has the focus");
    }

    std::vector<QMetaObject::Connection> m_connections;
};

} // namespace velk::test

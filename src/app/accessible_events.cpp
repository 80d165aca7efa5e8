#include "app/accessible_events.hpp"

#include <algorithm>
#include <array>
#include <deque>
#include <typeinfo>
#include <utility>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QHash>
#include <QLineEdit>
#include <QList>
#include <QListView>
#include <QPair>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

#include "app/accessible_values.hpp"
#include "app/accessible_widgets.hpp"
#include "app/atspi_property_change.hpp"
#include "app/held_key_news.hpp"
#include "app/key_repeat.hpp"
#include "app/list_rows_told.hpp"
#include "app/qt_bridge_workarounds.hpp"

namespace velk::Accessibility {
namespace {

enum class Step {
    tellFieldTextAsShown,
    spaceOutAMaskedFieldsKeystrokes,
    followListModel,
    tellAComboChoiceWithItsBox,
    tellWhatShowsOrHidesAsOne,
    keepWhatAHeldKeyChanges,
    keepAHiddenWidgetsNameUntilItShows,
    tellEachNameChangeOnce,
    nameListRowsByTheirPlace,
    tellSelectionOnlyOfTheFocusList,
    tellTextNewsAfterItsFocus,
    tellFocusOnlyWhereItIs,
    tellAListsFocusAsItsCurrentRow,
    toThePlatform,
};

Step after(Step step) { return Step(int(step) + 1); }

bool isSelectionChange(QAccessible::Event type) {
    return type == QAccessible::Selection || type == QAccessible::SelectionAdd || type == QAccessible::SelectionRemove;
}

bool isTextChange(QAccessible::Event type) {
    return type == QAccessible::TextInserted || type == QAccessible::TextRemoved || type == QAccessible::TextUpdated;
}

bool isTextEvent(QAccessible::Event type) {
    return isTextChange(type) || type == QAccessible::TextCaretMoved || type == QAccessible::TextSelectionChanged;
}

// A copy of a field's text event, to tell later.
std::unique_ptr<QAccessibleEvent> copyOfTextEvent(const QAccessibleEvent& event) {
    const auto* cursor = dynamic_cast<const QAccessibleTextCursorEvent*>(&event);
    if (!cursor) return nullptr;
    std::unique_ptr<QAccessibleTextCursorEvent> copy;
    if (const auto* inserted = dynamic_cast<const QAccessibleTextInsertEvent*>(&event))
        copy = std::make_unique<QAccessibleTextInsertEvent>(event.object(), inserted->changePosition(), inserted->textInserted());
    else if (const auto* removed = dynamic_cast<const QAccessibleTextRemoveEvent*>(&event))
        copy = std::make_unique<QAccessibleTextRemoveEvent>(event.object(), removed->changePosition(), removed->textRemoved());
    else if (const auto* updated = dynamic_cast<const QAccessibleTextUpdateEvent*>(&event))
        copy = std::make_unique<QAccessibleTextUpdateEvent>(event.object(), updated->changePosition(), updated->textRemoved(),
                                                            updated->textInserted());
    else if (const auto* selection = dynamic_cast<const QAccessibleTextSelectionEvent*>(&event))
        copy = std::make_unique<QAccessibleTextSelectionEvent>(event.object(), selection->selectionStart(), selection->selectionEnd());
    else
        copy = std::make_unique<QAccessibleTextCursorEvent>(event.object(), cursor->cursorPosition());
    copy->setCursorPosition(cursor->cursorPosition());
    return copy;
}

bool isNameChange(const QAccessibleEvent& event) {
    return event.type() == QAccessible::NameChanged || event.type() == QAccessible::DescriptionChanged;
}

// Whether the event names a row of a list (Qt names it by its place in the model).
QListView* listOfRow(const QAccessibleEvent& event) {
    auto* list = qobject_cast<QListView*>(event.object());
    return list && event.child() >= 0 ? list : nullptr;
}

// An object and a kind of event kept to be told later, once.
using Kept = QPair<QPointer<QObject>, QAccessible::Event>;
void keepOnce(QList<Kept>& kept, QObject* object, QAccessible::Event type) {
    const Kept entry{object, type};
    if (!kept.contains(entry)) kept.append(entry);
}

bool isShowingChange(QAccessible::Event type) { return type == QAccessible::ObjectShow || type == QAccessible::ObjectHide; }

// Whether a screen reader presents the object as it shows or hides (Orca 43 reads the showing of
// these roles alone): a window, a menu, a notification, an alert, a tool tip.
bool presentedAsItShows(QAccessibleInterface* object, const QWidget& widget) {
    if (widget.isWindow()) return true;
    switch (object ? object->role() : QAccessible::NoRole) {
    case QAccessible::AlertMessage:
    case QAccessible::Animation:
    case QAccessible::Dialog:
    case QAccessible::Notification:
    case QAccessible::PopupMenu:
    case QAccessible::StatusBar:
    case QAccessible::ToolTip: return true;
    default: return false;
    }
}

// Whether the widget or one of its ancestors in its window is among `widgets`.
bool inAnyOf(const QWidget* widget, const QList<QPointer<QWidget>>& widgets) {
    for (; widget; widget = widget->isWindow() ? nullptr : widget->parentWidget()) {
        if (std::any_of(widgets.cbegin(), widgets.cend(), [&](const QPointer<QWidget>& each) { return each.data() == widget; }))
            return true;
    }
    return false;
}

QString textOf(QObject* object, QAccessible::Event type) {
    QAccessibleInterface* named = QAccessible::queryAccessibleInterface(object);
    if (!named) return {};
    return named->text(type == QAccessible::NameChanged ? QAccessible::Name : QAccessible::Description);
}

} // namespace

class EventPipeline::Steps {
public:
    explicit Steps(Surroundings surroundings) : m_surroundings(std::move(surroundings)) {
        m_popupClosed = m_surroundings.alarm([this] { tellTheBoxsFocusOnceItsPopupHasClosed(); });
        m_keyStopped = m_surroundings.alarm([this] { tellWhatTheHeldKeyChanged(); });
        m_turnEnds = m_surroundings.alarm([this] { tellTheNamesOfThisTurn(); });
        m_keystrokeGap = m_surroundings.alarm([this] { tellTheNextKeystroke(); });
        m_showingTurnEnds = m_surroundings.alarm([this] { tellWhatShowedInThisTurn(); });
    }

    // Passes the event through the steps from `first` on.
    void runFrom(Step first, QAccessibleEvent* event) {
        Passing passing{event};
        bool goesOn = true;
        for (Step step = first; goesOn && step != Step::toThePlatform; step = after(step)) goesOn = run(step, passing);
        if (goesOn) deliver(passing.event);
        if (passing.afterwards) tellAfter(passing.addedBy, passing.afterwards.get());
    }

private:
    // An event on its way through the steps: a step may put another in its place, or add one told after it.
    struct Passing {
        QAccessibleEvent* event;
        std::unique_ptr<QAccessibleEvent> replacement;
        std::unique_ptr<QAccessibleEvent> afterwards;
        Step addedBy = Step::toThePlatform;
        void replaceWith(std::unique_ptr<QAccessibleEvent> other) {
            replacement = std::move(other);
            event = replacement.get();
        }
        void add(Step by, std::unique_ptr<QAccessibleEvent> other) {
            afterwards = std::move(other);
            addedBy = by;
        }
    };

    // The one way back for what a step kept or added: after that step.
    void tellAfter(Step keptBy, QAccessibleEvent* event) { runFrom(after(keptBy), event); }

    // Whether the event goes on.
    bool run(Step step, Passing& passing) {
        switch (step) {
        case Step::tellFieldTextAsShown: return tellFieldTextAsShown(passing);
        case Step::spaceOutAMaskedFieldsKeystrokes: return spaceOutAMaskedFieldsKeystrokes(passing);
        case Step::followListModel: return followListModel(passing);
        case Step::tellAComboChoiceWithItsBox: return tellAComboChoiceWithItsBox(passing);
        case Step::tellWhatShowsOrHidesAsOne: return tellWhatShowsOrHidesAsOne(passing);
        case Step::keepWhatAHeldKeyChanges: return keepWhatAHeldKeyChanges(passing);
        case Step::keepAHiddenWidgetsNameUntilItShows: return keepAHiddenWidgetsNameUntilItShows(passing);
        case Step::tellEachNameChangeOnce: return tellEachNameChangeOnce(passing);
        case Step::nameListRowsByTheirPlace: return nameListRowsByTheirPlace(passing);
        case Step::tellSelectionOnlyOfTheFocusList: return tellSelectionOnlyOfTheFocusList(passing);
        case Step::tellTextNewsAfterItsFocus: return tellTextNewsAfterItsFocus(passing);
        case Step::tellFocusOnlyWhereItIs: return tellFocusOnlyWhereItIs(passing);
        case Step::tellAListsFocusAsItsCurrentRow: return tellAListsFocusAsItsCurrentRow(passing);
        case Step::toThePlatform: break;
        }
        return true;
    }

    void deliver(QAccessibleEvent* event) {
        rememberWhatIsTold(*event);
        if (event->type() == QAccessible::Focus) m_focusTold = event->object();
        m_surroundings.platform(event);
    }

    // 1.
    bool tellFieldTextAsShown(Passing& passing) {
        if (std::unique_ptr<QAccessibleEvent> shown = fieldTextEvent(*passing.event)) passing.replaceWith(std::move(shown));
        return true;
    }

    // 2. A screen reader that finds two text changes of one object waiting to be presented presents
    // the later alone, and of a masked field it echoes nothing but its text changes (Orca 43 speaks no
    // key typed into a password field), so keys handled together (a busy moment, keys the screen
    // reader let pass late) would be echoed fewer than typed. Each keystroke of a masked field is told
    // a gap after the one before; its other text events wait with them, in order.
    bool spaceOutAMaskedFieldsKeystrokes(Passing& passing) {
        const QAccessibleEvent& event = *passing.event;
        const auto* field = qobject_cast<const QLineEdit*>(event.object());
        if (!field || field->echoMode() == QLineEdit::Normal || !isTextEvent(event.type())) return true;
        const bool keystroke = isTextChange(event.type());
        if (m_keystrokes.empty() && !(keystroke && m_keystrokeGap->isSet())) {
            if (keystroke) m_keystrokeGap->set(maskedKeystrokeGapMs);
            return true;
        }
        std::unique_ptr<QAccessibleEvent> kept = passing.event == passing.replacement.get() ? std::move(passing.replacement)
                                                                                            : copyOfTextEvent(event);
        if (kept) m_keystrokes.push_back({event.object(), std::move(kept)});
        return false;
    }
    // The next keystroke, and what waits after it until the one after. The bridge tells a caret move
    // with where the caret is as it sends it: one with a keystroke still waiting after it would put
    // the caret past that keystroke's character before its text is told (and a screen reader that
    // falls behind then passes over echoes), so only the caret move after the last keystroke is told.
    void tellTheNextKeystroke() {
        bool told = false;
        while (!m_keystrokes.empty() && !(told && isTextChange(m_keystrokes.front().event->type()))) {
            KeptText next = std::move(m_keystrokes.front());
            m_keystrokes.pop_front();
            if (!next.object) continue;
            if (next.event->type() == QAccessible::TextCaretMoved &&
                std::any_of(m_keystrokes.cbegin(), m_keystrokes.cend(), [](const KeptText& waiting) { return isTextChange(waiting.event->type()); }))
                continue;
            told = told || isTextChange(next.event->type());
            tellAfter(Step::spaceOutAMaskedFieldsKeystrokes, next.event.get());
        }
        if (told) m_keystrokeGap->set(maskedKeystrokeGapMs);
    }

    // 3.
    bool followListModel(Passing& passing) {
        QAccessibleEvent* event = passing.event;
        if (event->type() != QAccessible::TableModelChanged) return true;
        AccessibleRows* list = rowsOf(event->accessibleInterface());
        if (!list) return true;
        const auto& change = *static_cast<QAccessibleTableModelChangeEvent*>(event);
        list->modelChanged(change);
        if (change.modelChangeType() != QAccessibleTableModelChangeEvent::RowsInserted) return true;
        const int inserted = change.lastRow() - change.firstRow() + 1;
        const auto* view = qobject_cast<const QWidget*>(event->object());
        if (!view || !rowsToldOneByOne(list->rows() - inserted, inserted, view->isVisible())) return true;
        for (int row = change.firstRow(); row <= change.lastRow(); ++row) {
            if (QAccessibleInterface* item = list->childOfRow(row) >= 0 ? list->rowObject(row) : nullptr) {
                QAccessibleEvent created(item, QAccessible::ObjectCreated);
                tellAfter(Step::followListModel, &created);
            }
        }
        return true;
    }

    // 4. The popup closes as its list hides or as the box takes the focus back from it, in either order.
    // A closed box's list tells the choice a typed letter finds as its focus, though no focus moves.
    bool tellAComboChoiceWithItsBox(Passing& passing) {
        const QAccessibleEvent& event = *passing.event;
        const bool focus = event.type() == QAccessible::Focus;
        const auto* view = qobject_cast<const QAbstractItemView*>(event.object());
        if (focus && view && !view->isVisible() && comboBoxOf(*view)) return true;
        if (focus && m_described) forgetTheDescribedChoice(passing);
        if (focus || event.type() == QAccessible::ObjectHide) {
            if (m_popupJustClosed && focus && event.object() == m_popupJustClosed) return false;
            QComboBox* combo = view ? comboBoxOf(*view) : nullptr;
            if (combo && focus) {
                m_popupFocused = combo;
                return true;
            }
            if (!combo && focus && m_popupFocused && event.object() == m_popupFocused) combo = m_popupFocused;
            if (combo && combo != m_popupJustClosed) {
                m_popupFocused = nullptr;
                m_popupJustClosed = combo;
                m_popupClosed->set(0);
                return !focus;
            }
            return true;
        }
        if constexpr (QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::comboChoiceDescribed)) {
            auto* combo = qobject_cast<QComboBox*>(event.object());
            if (event.type() == QAccessible::ValueChanged && combo && combo != m_popupJustClosed && combo->hasFocus() &&
                combo->isActiveWindow() && !combo->isEditable() && combo->view() && !combo->view()->isVisible() &&
                combo->currentIndex() >= 0) {
                combo->setProperty(describedChoiceProperty, combo->currentIndex());
                m_described = combo;
                passing.add(Step::tellAComboChoiceWithItsBox, std::make_unique<QAccessibleEvent>(combo, QAccessible::DescriptionChanged));
            }
        }
        return true;
    }
    // A box describes its choice until the focus moves, and its change is told then: after the new
    // focus, so that a screen reader does not speak the described box's own description as it
    // leaves it, or before the box's own focus, which it then reads with its own description.
    void forgetTheDescribedChoice(Passing& passing) {
        const QPointer<QComboBox> described = std::exchange(m_described, nullptr);
        if (!described) return;
        described->setProperty(describedChoiceProperty, QVariant());
        auto change = std::make_unique<QAccessibleEvent>(described.data(), QAccessible::DescriptionChanged);
        if (passing.event->object() == described) return tellAfter(Step::tellAComboChoiceWithItsBox, change.get());
        passing.add(Step::tellAComboChoiceWithItsBox, std::move(change));
    }
    void tellTheBoxsFocusOnceItsPopupHasClosed() {
        const QPointer<QComboBox> combo = std::exchange(m_popupJustClosed, nullptr);
        if (!combo) return;
        QAccessibleEvent focus(combo.data(), QAccessible::Focus);
        tellAfter(Step::tellAComboChoiceWithItsBox, &focus);
    }

    // 5. Qt tells a widget's showing or hiding and that of every widget inside it, each told to a
    // screen reader, which reads the state of each before it speaks again: a page of the inspector
    // coming (a hundred labels and controls) held a combo box's new choice back for seconds. A widget
    // is told as it shows or hides itself, not each one inside it with it: a page switch is the page
    // that hides and the one that shows. A widget hiding inside one that hid is not told; one showing
    // is told at the end of the turn, unless one around it showed in that turn (Qt tells what is
    // inside first). What a screen reader presents as it shows is told at once.
    bool tellWhatShowsOrHidesAsOne(Passing& passing) {
        const QAccessibleEvent& event = *passing.event;
        auto* widget = qobject_cast<QWidget*>(event.object());
        if (!widget || event.child() >= 0 || !isShowingChange(event.type())) return true;
        const bool presented = presentedAsItShows(passing.event->accessibleInterface(), *widget);
        if (event.type() == QAccessible::ObjectHide) return presented || !widget->parentWidget() || widget->parentWidget()->isVisible();
        m_shownInThisTurn.append(widget);
        if (!m_showingTurnEnds->isSet()) m_showingTurnEnds->set(0);
        return presented;
    }
    void tellWhatShowedInThisTurn() {
        const QList<QPointer<QWidget>> shown = std::exchange(m_shownInThisTurn, {});
        for (const QPointer<QWidget>& widget : shown) {
            if (!widget || !widget->isVisible() || presentedAsItShows(QAccessible::queryAccessibleInterface(widget.data()), *widget))
                continue;
            if (!widget->isWindow() && inAnyOf(widget->parentWidget(), shown)) continue;
            QAccessibleEvent showing(widget.data(), QAccessible::ObjectShow);
            tellAfter(Step::tellWhatShowsOrHidesAsOne, &showing);
        }
    }

    // 6.
    bool keepWhatAHeldKeyChanges(Passing& passing) {
        QAccessibleEvent* event = passing.event;
        QListView* list = listOfRow(*event);
        const HeldKeyFacts facts{.type = event->type(),
                                 .namesAListRow = list != nullptr,
                                 .ofAScrollBar = qobject_cast<QScrollBar*>(event->object()) != nullptr,
                                 .keyRepeats = m_surroundings.pressRepeats(),
                                 .rowWaits = m_keyStopped->isSet()};
        switch (whileAKeyIsHeld(facts)) {
        case WhileAKeyIsHeld::keepTheRowsFocus:
            m_heldList = list;
            m_keyStopped->set(heldKeySettleMs);
            return false;
        case WhileAKeyIsHeld::keepTheSelection: {
            if (!list->model()) return true;
            const QModelIndex row = list->model()->index(event->child(), list->modelColumn(), list->rootIndex());
            if (!row.isValid()) return true;
            const bool known = std::any_of(m_heldSelection.cbegin(), m_heldSelection.cend(),
                                           [&](const Selected& held) { return held.view == list && held.row == row; });
            if (!known) m_heldSelection.append({list, row, event->type() == QAccessible::SelectionRemove});
            m_keyStopped->set(heldKeySettleMs);
            return false;
        }
        case WhileAKeyIsHeld::keepTheLatest:
            if (!event->object() || event->child() >= 0) return true;
            keepOnce(m_heldLatest, event->object(), event->type());
            m_keyStopped->set(heldKeySettleMs);
            return false;
        case WhileAKeyIsHeld::tellNow:
            // What the repeats changed goes before a focus told at once, which passes the held row by.
            if (event->type() == QAccessible::Focus && m_keyStopped->isSet()) {
                m_keyStopped->clear();
                m_heldList = nullptr;
                tellWhatTheHeldKeyChanged();
            }
            return true;
        }
        return true;
    }
    void tellWhatTheHeldKeyChanged() {
        for (const Selected& held : std::exchange(m_heldSelection, {})) {
            if (!held.view || !held.row.isValid()) continue;
            QAccessibleInterface* list = QAccessible::queryAccessibleInterface(held.view.data());
            const bool chosen = list && list->tableInterface() && list->tableInterface()->isRowSelected(held.row.row());
            if (chosen == held.wasChosen) continue;
            QAccessibleEvent selection(held.view.data(), held.wasChosen ? QAccessible::SelectionRemove : QAccessible::SelectionAdd);
            selection.setChild(held.row.row());
            tellAfter(Step::keepWhatAHeldKeyChanges, &selection);
        }
        for (const auto& [object, type] : std::exchange(m_heldLatest, {})) {
            if (!object) continue;
            if (type == QAccessible::ValueChanged) {
                QAccessibleInterface* of = QAccessible::queryAccessibleInterface(object.data());
                if (!of || !of->valueInterface()) continue;
                QAccessibleValueChangeEvent value(object.data(), of->valueInterface()->currentValue());
                tellAfter(Step::keepWhatAHeldKeyChanges, &value);
                continue;
            }
            QAccessibleEvent text(object.data(), type);
            tellAfter(Step::keepWhatAHeldKeyChanges, &text);
        }
        // Told as the list's focus, which a list passes on as its current row's.
        if (const QPointer<QListView> list = std::exchange(m_heldList, nullptr)) {
            QAccessibleEvent focus(list.data(), QAccessible::Focus);
            tellAfter(Step::keepWhatAHeldKeyChanges, &focus);
        }
    }

    // 7. A widget that does not show (a label of a page not shown, refreshed as the cameras report)
    // tells no name or description change, which a screen reader would take and pass by: off the
    // focus's way, a change of a name told before waits until the widget shows, and is told then
    // when it is not what was told last (a screen reader keeps what it was told); a screen reader
    // reads a name never told afresh where it comes to it.
    bool keepAHiddenWidgetsNameUntilItShows(Passing& passing) {
        const QAccessibleEvent& event = *passing.event;
        if (event.type() == QAccessible::ObjectShow && !m_namesWhileHidden.isEmpty()) {
            QList<Kept> waiting;
            for (const auto& [object, type] : std::exchange(m_namesWhileHidden, {})) {
                const auto* widget = qobject_cast<const QWidget*>(object.data());
                if (!widget) continue;
                if (!widget->isVisible()) {
                    waiting.append({object, type});
                    continue;
                }
                QAccessibleEvent text(object.data(), type);
                tellAfter(Step::keepAHiddenWidgetsNameUntilItShows, &text);
            }
            m_namesWhileHidden += waiting;
            return true;
        }
        const auto* widget = qobject_cast<const QWidget*>(event.object());
        if (!isNameChange(event) || event.child() >= 0 || !widget || widget->isWindow() || widget->isVisible()) return true;
        const QWidget* focus = QApplication::focusWidget();
        if (focus && (widget == focus || widget->isAncestorOf(focus))) return true;
        if (m_told.contains({widget, event.type()})) keepOnce(m_namesWhileHidden, event.object(), event.type());
        return false;
    }

    // 8. A piece of work (a row chosen, a page filled) often sets a label's text more than once, and
    // each change would be told; each object's name and description are told once it is done, as they
    // are then, and not when they are what was last told of them (Qt tells every name or description
    // set, also the one the object had).
    bool tellEachNameChangeOnce(Passing& passing) {
        const QAccessibleEvent* event = passing.event;
        if (!isNameChange(*event) || event->child() >= 0 || !event->object()) return true;
        keepOnce(m_namesOfThisTurn, event->object(), event->type());
        if (!m_turnEnds->isSet()) m_turnEnds->set(0);
        return false;
    }
    void tellTheNamesOfThisTurn() {
        for (const auto& [object, type] : std::exchange(m_namesOfThisTurn, {})) {
            if (!object || toldAlready(object.data(), type)) continue;
            QAccessibleEvent text(object.data(), type);
            tellAfter(Step::tellEachNameChangeOnce, &text);
        }
    }
    bool toldAlready(QObject* object, QAccessible::Event type) const {
        const auto told = m_told.constFind({object, type});
        return told != m_told.cend() && told->object == object && told->text == textOf(object, type);
    }
    void rememberWhatIsTold(const QAccessibleEvent& event) {
        if (!isNameChange(event) || event.child() >= 0 || !event.object()) return;
        if (m_told.size() >= 2 * m_keptWhenPruned) {
            // Objects gone are forgotten as the list grows.
            m_told.removeIf([](const auto& told) { return !told.value().object; });
            m_keptWhenPruned = std::max<qsizetype>(m_told.size(), 64);
        }
        m_told.insert({event.object(), event.type()}, {event.object(), textOf(event.object(), event.type())});
    }

    // 9.
    bool nameListRowsByTheirPlace(Passing& passing) {
        QAccessibleEvent* event = passing.event;
        if (event->child() < 0 || typeid(*event) != typeid(QAccessibleEvent)) return true;
        const AccessibleRows* list = rowsOf(QAccessible::queryAccessibleInterface(event->object()));
        if (!list) return true;
        const int child = list->childOfRow(event->child());
        if (child < 0) return false;
        auto told = std::make_unique<QAccessibleEvent>(event->object(), event->type());
        told->setChild(child);
        passing.replaceWith(std::move(told));
        return true;
    }

    // 10.
    bool tellSelectionOnlyOfTheFocusList(Passing& passing) {
        if (!isSelectionChange(passing.event->type())) return true;
        const auto* view = qobject_cast<const QAbstractItemView*>(passing.event->object());
        return !view || view->hasFocus();
    }

    // 11. A text field selects its text and places its caret as it takes the focus, and Qt tells of
    // that before it tells of the focus; a screen reader that meets them for a field that is not yet
    // its focus then speaks nothing of the field. They are dropped until the field's focus has been
    // told: the reader reads the field's text, selection and caret as it speaks the field at its focus.
    // As the focus leaves it, a field drops its selection: told only when the user made it (a screen
    // reader says "unselected"), not of the text the field selected as it took the focus.
    bool tellTextNewsAfterItsFocus(Passing& passing) {
        const QAccessibleEvent* event = passing.event;
        if (event->type() != QAccessible::TextSelectionChanged && event->type() != QAccessible::TextCaretMoved) return true;
        QObject* object = event->object();
        if (!object) return true;
        if (object != QApplication::focusWidget()) return object != m_focusTold || object == m_userSelected;
        if (object != m_focusTold) return false;
        if (event->type() == QAccessible::TextSelectionChanged) {
            QAccessibleInterface* field = event->accessibleInterface();
            const bool selects = field && field->textInterface() && field->textInterface()->selectionCount() > 0;
            m_userSelected = selects ? object : nullptr;
        }
        return true;
    }

    // 12. Our rows and tabs report focus only while their widget has it. While a popup (a menu) is
    // open the keyboard is in it: the window under it, activated again as the popup opens, tells its
    // control's focus, which a screen reader would take for the later focus and speak in place of the
    // menu's item (a menu opened by its mnemonic said nothing of its first item).
    bool tellFocusOnlyWhereItIs(Passing& passing) {
        if (passing.event->type() != QAccessible::Focus) return true;
        QAccessibleInterface* named = passing.event->accessibleInterface();
        if (!named || !named->state().focused) return false;
        const QObject* object = passing.event->object();
        while (object && !object->isWidgetType()) object = object->parent();
        if (!object) return true;
        const auto* widget = static_cast<const QWidget*>(object);
        const QWidget* popup = QApplication::activePopupWidget();
        return widget->isActiveWindow() && (!popup || widget->window() == popup);
    }

    // 13.
    bool tellAListsFocusAsItsCurrentRow(Passing& passing) {
        if constexpr (!QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::currentRowFocus)) return true;
        QAccessibleEvent* event = passing.event;
        if (event->type() != QAccessible::Focus || event->child() >= 0 || !event->object()) return true;
        QAccessibleInterface* named = event->accessibleInterface();
        const QAccessible::Role role = named->role();
        if (role != QAccessible::List && role != QAccessible::Table && role != QAccessible::PopupMenu && role != QAccessible::PageTabList)
            return true;
        QAccessibleInterface* item = named->focusChild();
        const AccessibleRows* list = rowsOf(named);
        if (const int at = !item ? -1 : list ? list->placeOf(item) : named->indexOfChild(item); at >= 0) {
            auto told = std::make_unique<QAccessibleEvent>(event->object(), QAccessible::Focus);
            told->setChild(at);
            passing.replaceWith(std::move(told));
        }
        return true;
    }

    Surroundings m_surroundings;
    // 2: a masked field's text events waiting for the gap after the keystroke told last.
    struct KeptText {
        QPointer<QObject> object;
        std::unique_ptr<QAccessibleEvent> event;
    };
    std::deque<KeptText> m_keystrokes;
    std::unique_ptr<Alarm> m_keystrokeGap;
    // 4: the combo box whose popup closed in this turn of the event loop, and the one whose popup's
    // list was told as the focus last.
    QPointer<QComboBox> m_popupJustClosed;
    QPointer<QComboBox> m_popupFocused;
    std::unique_ptr<Alarm> m_popupClosed;
    // 4: the combo box that describes the choice made last with its list closed.
    QPointer<QComboBox> m_described;
    // 5: the widgets that showed in this turn of the event loop.
    QList<QPointer<QWidget>> m_shownInThisTurn;
    std::unique_ptr<Alarm> m_showingTurnEnds;
    // 6: what a held key changed.
    struct Selected {
        QPointer<QListView> view;
        QPersistentModelIndex row;
        bool wasChosen;
    };
    QPointer<QListView> m_heldList;
    QList<Selected> m_heldSelection;
    QList<Kept> m_heldLatest;
    std::unique_ptr<Alarm> m_keyStopped;
    // 7: the names and descriptions told before that changed while their widgets do not show.
    QList<Kept> m_namesWhileHidden;
    // 8: names and descriptions changed in this turn, and what was told last of each.
    struct Told {
        QPointer<QObject> object;
        QString text;
    };
    QList<Kept> m_namesOfThisTurn;
    std::unique_ptr<Alarm> m_turnEnds;
    QHash<QPair<const QObject*, QAccessible::Event>, Told> m_told;
    qsizetype m_keptWhenPruned = 64;
    // 11: the object whose focus was told last, and the field whose text the user selected in it.
    QPointer<QObject> m_focusTold;
    QPointer<QObject> m_userSelected;
};

EventPipeline::EventPipeline(Surroundings surroundings) : m_steps(std::make_unique<Steps>(std::move(surroundings))) {}

EventPipeline::~EventPipeline() = default;

void EventPipeline::handle(QAccessibleEvent* event) { m_steps->runFrom(Step::tellFieldTextAsShown, event); }

namespace {

class EventLoopAlarm final : public EventPipeline::Alarm {
public:
    explicit EventLoopAlarm(std::function<void()> ring) : m_ring(std::move(ring)) {}
    void set(int ms) override {
        if (!m_timer) {
            m_timer = std::make_unique<QTimer>();
            m_timer->setSingleShot(true);
            QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { m_ring(); });
        }
        m_timer->start(ms);
    }
    void clear() override {
        if (m_timer) m_timer->stop();
    }
    bool isSet() const override { return m_timer && m_timer->isActive(); }

private:
    std::function<void()> m_ring;
    std::unique_ptr<QTimer> m_timer;
};

QAccessible::UpdateHandler handledAfter = nullptr;

void toThePlatform(QAccessibleEvent* event) {
    if (handledAfter) return handledAfter(event);
    // Qt hands an event to the platform only while no handler is installed. A table's model change
    // has already been applied to the table's accessible object, which a second pass would apply
    // again; the bridge does not tell it anyway.
    if (event->type() == QAccessible::TableModelChanged) {
        QAccessibleInterface* named = event->accessibleInterface();
        if (named && named->tableInterface()) return;
    }
    if constexpr (QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::textOfChangedNames)) {
        if (AtspiPropertyChange::tell(*event)) return;
    }
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(handleEvent);
}

// The application's pipeline, made at its first event; it lives as long as the process.
EventPipeline& applicationPipeline() {
    static EventPipeline* const pipeline = new EventPipeline(
        {.platform = toThePlatform, .alarm = eventLoopAlarm, .pressRepeats = [] { return KeyRepeat::latestPressRepeats(); }});
    return *pipeline;
}

} // namespace

std::unique_ptr<EventPipeline::Alarm> eventLoopAlarm(std::function<void()> ring) {
    return std::make_unique<EventLoopAlarm>(std::move(ring));
}

void handleEvent(QAccessibleEvent* event) { applicationPipeline().handle(event); }

void setHandledAfter(QAccessible::UpdateHandler handleAfter) { handledAfter = handleAfter; }

} // namespace velk::Accessibility

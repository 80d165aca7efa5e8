#include "app/accessible_events.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <typeinfo>
#include <utility>

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QListView>
#include <QPair>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QScopedValueRollback>
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

QAccessible::UpdateHandler handledAfter = nullptr;

// An event on its way through the steps: a step may put another in its place, or leave one to be
// told to the platform after it.
struct Passing {
    QAccessibleEvent* event;
    std::unique_ptr<QAccessibleEvent> replacement;
    std::unique_ptr<QAccessibleEvent> afterwards;
    void replaceWith(std::unique_ptr<QAccessibleEvent> other) {
        replacement = std::move(other);
        event = replacement.get();
    }
};
// A step answers whether the event goes on.
using Step = bool (*)(Passing&);

void toThePlatform(QAccessibleEvent* event);
void runFrom(Step first, QAccessibleEvent* event);

// Starts the single-shot timer again, made on first use as a child of the application (a new
// application gets a new one).
template <typename Tell>
void restartTimer(QPointer<QTimer>& timer, int intervalMs, Tell tell) {
    if (!timer) {
        timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setInterval(intervalMs);
        QObject::connect(timer, &QTimer::timeout, timer, tell);
    }
    timer->start();
}

bool isSelectionChange(QAccessible::Event type) {
    return type == QAccessible::Selection || type == QAccessible::SelectionAdd || type == QAccessible::SelectionRemove;
}

// 1.
bool tellMaskedTextAsShown(Passing& passing) {
    if (std::unique_ptr<QAccessibleEvent> masked = maskedTextEvent(*passing.event)) passing.replaceWith(std::move(masked));
    return true;
}

// 2.
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
            toThePlatform(&created);
        }
    }
    return true;
}

// 3.
bool holdAComboFocusUntilItsPopupHasClosed(Passing& passing) {
    return !heldUntilThePopupHasClosed(*passing.event);
}

// 4.
bool alsoTellAComboChoiceAsItsFocus(Passing& passing) {
    passing.afterwards = choiceFocusEvent(*passing.event);
    return true;
}

// What a held key changed, told once it stops repeating (app/held_key_news.hpp).
class HeldKeyNews {
public:
    static constexpr int settleMs = 150;

    bool rowWaits() const { return m_timer && m_timer->isActive(); }
    bool telling() const { return m_telling; }

    void keepTheRowsFocus(QListView* list) {
        m_list = list;
        restart();
    }
    void keepTheSelection(QListView* view, const QModelIndex& row, bool removed) {
        const bool known = std::any_of(m_selection.cbegin(), m_selection.cend(),
                                       [&](const Selected& held) { return held.view == view && held.row == row; });
        if (!known) m_selection.append({view, row, removed});
        restart();
    }
    void keepTheLatest(QObject* object, QAccessible::Event type) {
        const QPair<QPointer<QObject>, QAccessible::Event> kept{object, type};
        if (!m_latest.contains(kept)) m_latest.append(kept);
        restart();
    }
    // What the repeats changed goes before a focus told at once, which passes the held row by.
    void tellBeforeAFocus() {
        if (!rowWaits()) return;
        m_timer->stop();
        m_list = nullptr;
        tell();
    }

private:
    struct Selected {
        QPointer<QListView> view;
        QPersistentModelIndex row;
        bool wasChosen;
    };
    void restart();
    void tell();

    QPointer<QTimer> m_timer;
    QPointer<QListView> m_list;
    QList<Selected> m_selection;
    QList<QPair<QPointer<QObject>, QAccessible::Event>> m_latest;
    bool m_telling = false;
};
HeldKeyNews heldKeyNews;

// Whether the event names a row of a list (Qt names it by its place in the model).
QListView* listOfRow(const QAccessibleEvent& event) {
    auto* list = qobject_cast<QListView*>(event.object());
    return list && event.child() >= 0 ? list : nullptr;
}

// 5.
bool keepWhatAHeldKeyChanges(Passing& passing) {
    QAccessibleEvent* event = passing.event;
    if (heldKeyNews.telling() || event->type() == QAccessible::Focus) return true;
    QListView* list = listOfRow(*event);
    const HeldKeyFacts facts{.type = event->type(),
                             .namesAListRow = list != nullptr,
                             .ofAScrollBar = qobject_cast<QScrollBar*>(event->object()) != nullptr,
                             .keyRepeats = KeyRepeat::latestPressRepeats(),
                             .rowWaits = heldKeyNews.rowWaits()};
    switch (whileAKeyIsHeld(facts)) {
    case WhileAKeyIsHeld::keepTheSelection: {
        if (!list->model()) return true;
        const QModelIndex row = list->model()->index(event->child(), list->modelColumn(), list->rootIndex());
        if (!row.isValid()) return true;
        heldKeyNews.keepTheSelection(list, row, event->type() == QAccessible::SelectionRemove);
        return false;
    }
    case WhileAKeyIsHeld::keepTheLatest:
        if (!event->object() || event->child() >= 0) return true;
        heldKeyNews.keepTheLatest(event->object(), event->type());
        return false;
    default: return true;
    }
}

// 6. A piece of work (a row chosen, a page filled) often sets a label's text more than once, and
// each change would be told; each object's name and description are told once it is done, as they
// are then, and not when they are what was last told of them (Qt tells every name or description
// set, also the one the object had).
class TextsTold {
public:
    static QString textOf(QObject* object, QAccessible::Event type) {
        QAccessibleInterface* named = QAccessible::queryAccessibleInterface(object);
        if (!named) return {};
        return named->text(type == QAccessible::NameChanged ? QAccessible::Name : QAccessible::Description);
    }
    bool toldAlready(QObject* object, QAccessible::Event type) const {
        const auto told = m_told.constFind({object, type});
        return told != m_told.cend() && told->object == object && told->text == textOf(object, type);
    }
    void told(const QAccessibleEvent& event) {
        const QAccessible::Event type = event.type();
        if ((type != QAccessible::NameChanged && type != QAccessible::DescriptionChanged) || event.child() >= 0 || !event.object())
            return;
        if (m_told.size() >= 2 * m_keptWhenPruned) prune();
        m_told.insert({event.object(), type}, {event.object(), textOf(event.object(), type)});
    }

private:
    // Objects gone are forgotten as the list grows.
    void prune() {
        m_told.removeIf([](const auto& told) { return !told.value().object; });
        m_keptWhenPruned = std::max<qsizetype>(m_told.size(), 64);
    }
    struct Told {
        QPointer<QObject> object;
        QString text;
    };
    QHash<QPair<const QObject*, QAccessible::Event>, Told> m_told;
    qsizetype m_keptWhenPruned = 64;
};
TextsTold textsTold;

class TextsOfThisTurn {
public:
    bool telling() const { return m_telling; }
    void keep(QObject* object, QAccessible::Event type) {
        const QPair<QPointer<QObject>, QAccessible::Event> kept{object, type};
        if (!m_kept.contains(kept)) m_kept.append(kept);
        if (!m_timer || !m_timer->isActive()) restartTimer(m_timer, 0, [this] { tell(); });
    }

private:
    void tell();
    QPointer<QTimer> m_timer;
    QList<QPair<QPointer<QObject>, QAccessible::Event>> m_kept;
    bool m_telling = false;
};
TextsOfThisTurn textsOfThisTurn;

bool tellEachNameChangeOnce(Passing& passing) {
    QAccessibleEvent* event = passing.event;
    if (event->type() != QAccessible::NameChanged && event->type() != QAccessible::DescriptionChanged) return true;
    if (textsOfThisTurn.telling() || event->child() >= 0 || !event->object() || !QCoreApplication::instance()) return true;
    textsOfThisTurn.keep(event->object(), event->type());
    return false;
}

// 7.
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

// 8.
bool tellSelectionOnlyOfTheFocusList(Passing& passing) {
    if (!isSelectionChange(passing.event->type())) return true;
    const auto* view = qobject_cast<const QAbstractItemView*>(passing.event->object());
    return !view || view->hasFocus();
}

// 9. A text field selects its text and places its caret as it takes the focus, and Qt tells of that
// before it tells of the focus; a screen reader that meets them for a field that is not yet its
// focus then speaks nothing of the field. They are dropped until the field's focus has been told:
// the reader reads the field's text, selection and caret as it speaks the field at its focus.
QPointer<QObject> focusTold;

bool tellTextNewsAfterItsFocus(Passing& passing) {
    const QAccessibleEvent* event = passing.event;
    if (event->type() != QAccessible::TextSelectionChanged && event->type() != QAccessible::TextCaretMoved) return true;
    const QObject* object = event->object();
    return !object || object != QApplication::focusWidget() || object == focusTold;
}

// 10. Our rows and tabs report focus only while their widget has it.
bool tellFocusOnlyWhereItIs(Passing& passing) {
    if (passing.event->type() != QAccessible::Focus) return true;
    QAccessibleInterface* named = passing.event->accessibleInterface();
    if (!named || !named->state().focused) return false;
    const QObject* object = passing.event->object();
    while (object && !object->isWidgetType()) object = object->parent();
    return !object || static_cast<const QWidget*>(object)->isActiveWindow();
}

// 11.
bool keepTheRowsFocusWhileAKeyRepeats(Passing& passing) {
    if (passing.event->type() != QAccessible::Focus) return true;
    if (QListView* list = listOfRow(*passing.event);
        list && whileAKeyIsHeld({.type = QAccessible::Focus, .namesAListRow = true, .keyRepeats = KeyRepeat::latestPressRepeats()}) ==
                    WhileAKeyIsHeld::keepTheRowsFocus) {
        heldKeyNews.keepTheRowsFocus(list);
        return false;
    }
    heldKeyNews.tellBeforeAFocus();
    focusTold = passing.event->object();
    return true;
}

// 12.
bool tellAListsFocusAsItsCurrentRow(Passing& passing) {
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

constexpr std::array<Step, 12> steps{
    tellMaskedTextAsShown,
    followListModel,
    holdAComboFocusUntilItsPopupHasClosed,
    alsoTellAComboChoiceAsItsFocus,
    keepWhatAHeldKeyChanges,
    tellEachNameChangeOnce,
    nameListRowsByTheirPlace,
    tellSelectionOnlyOfTheFocusList,
    tellTextNewsAfterItsFocus,
    tellFocusOnlyWhereItIs,
    keepTheRowsFocusWhileAKeyRepeats,
    tellAListsFocusAsItsCurrentRow,
};

void runFrom(Step first, QAccessibleEvent* event) {
    Passing passing{event, nullptr, nullptr};
    bool goesOn = true;
    for (auto step = std::find(steps.begin(), steps.end(), first); goesOn && step != steps.end(); ++step)
        goesOn = (*step)(passing);
    if (goesOn) toThePlatform(passing.event);
    if (passing.afterwards) toThePlatform(passing.afterwards.get());
}

void TextsOfThisTurn::tell() {
    const QScopedValueRollback telling(m_telling, true);
    for (const auto& [object, type] : std::exchange(m_kept, {})) {
        if (!object || textsTold.toldAlready(object.data(), type)) continue;
        QAccessibleEvent text(object.data(), type);
        runFrom(nameListRowsByTheirPlace, &text);
    }
}

void HeldKeyNews::restart() { restartTimer(m_timer, settleMs, [this] { tell(); }); }

void HeldKeyNews::tell() {
    const QScopedValueRollback telling(m_telling, true);
    for (const Selected& held : std::exchange(m_selection, {})) {
        if (!held.view || !held.row.isValid()) continue;
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(held.view.data());
        const bool chosen = list && list->tableInterface() && list->tableInterface()->isRowSelected(held.row.row());
        if (chosen == held.wasChosen) continue;
        QAccessibleEvent selection(held.view.data(), held.wasChosen ? QAccessible::SelectionRemove : QAccessible::SelectionAdd);
        selection.setChild(held.row.row());
        runFrom(nameListRowsByTheirPlace, &selection);
    }
    for (const auto& [object, type] : std::exchange(m_latest, {})) {
        if (!object) continue;
        QAccessibleInterface* of = QAccessible::queryAccessibleInterface(object.data());
        if (type == QAccessible::ValueChanged) {
            if (!of || !of->valueInterface()) continue;
            QAccessibleValueChangeEvent value(object.data(), of->valueInterface()->currentValue());
            runFrom(tellTextNewsAfterItsFocus, &value);
            continue;
        }
        QAccessibleEvent text(object.data(), type);
        runFrom(tellTextNewsAfterItsFocus, &text);
    }
    if (!m_list) return;
    // Told as the list's focus, which a list passes on as its current row's.
    QAccessibleEvent focus(m_list.data(), QAccessible::Focus);
    m_list = nullptr;
    runFrom(tellTextNewsAfterItsFocus, &focus);
}

void toThePlatform(QAccessibleEvent* event) {
    textsTold.told(*event);
    if (handledAfter) return handledAfter(event);
    // Qt hands an event to the platform only while no handler is installed. A table's model change
    // has already been applied to the table's accessible object, which a second pass would apply
    // again; the bridge does not tell it anyway.
    if (event->type() == QAccessible::TableModelChanged) {
        QAccessibleInterface* named = event->accessibleInterface();
        if (named && named->tableInterface()) return;
    }
    if constexpr (QtBridgeWorkarounds::textOfChangedNames) {
        if (AtspiPropertyChange::tell(*event)) return;
    }
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(handleEvent);
}

} // namespace

void handleEvent(QAccessibleEvent* event) { runFrom(steps.front(), event); }

void setHandledAfter(QAccessible::UpdateHandler handleAfter) { handledAfter = handleAfter; }

} // namespace velk::Accessibility

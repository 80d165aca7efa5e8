#pragma once
// Which events a held key keeps back until it stops repeating. A screen reader takes each event
// it is told before it speaks again, and a held arrow key moves a list's current row, its
// selection and its scroll bar at every repeat (thirty times in a second): told at each repeat,
// the reader speaks the row long after the key is let go, and a key typed meanwhile reaches the
// application without its answer. So while the key repeats, a list row's focus waits to be told
// where the key stops, the selection as the rows it leaves and reaches in the end, and a scroll
// bar's value, a name or a description changed meanwhile (what the window shows of the row) once
// each, as they are then.

#include <QAccessible>

namespace velk::Accessibility {

enum class WhileAKeyIsHeld {
    tellNow,
    keepTheRowsFocus,  // told as the list's focus where the key stops
    keepTheSelection,  // told as the rows it leaves and reaches, once each
    keepTheLatest,     // told once, as it is when the key stops
};

struct HeldKeyFacts {
    QAccessible::Event type;
    bool namesAListRow = false; // the event names a row of a list
    bool ofAScrollBar = false;
    bool keyRepeats = false;    // the press being handled repeats a held key
    bool rowWaits = false;      // a held key's row waits to be told
};

inline WhileAKeyIsHeld whileAKeyIsHeld(const HeldKeyFacts& event) {
    switch (event.type) {
    case QAccessible::Focus:
        return event.namesAListRow && event.keyRepeats ? WhileAKeyIsHeld::keepTheRowsFocus : WhileAKeyIsHeld::tellNow;
    case QAccessible::Selection:
    case QAccessible::SelectionAdd:
    case QAccessible::SelectionRemove:
        return event.namesAListRow && event.keyRepeats ? WhileAKeyIsHeld::keepTheSelection : WhileAKeyIsHeld::tellNow;
    case QAccessible::NameChanged:
    case QAccessible::DescriptionChanged:
        return event.rowWaits && !event.namesAListRow ? WhileAKeyIsHeld::keepTheLatest : WhileAKeyIsHeld::tellNow;
    case QAccessible::ValueChanged:
        return event.ofAScrollBar && (event.keyRepeats || event.rowWaits) ? WhileAKeyIsHeld::keepTheLatest
                                                                           : WhileAKeyIsHeld::tellNow;
    default: return WhileAKeyIsHeld::tellNow;
    }
}

} // namespace velk::Accessibility

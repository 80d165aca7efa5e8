#pragma once
// What assistive tools are told of the application's accessibility events: every event Qt makes
// passes the steps below, in this order, and what comes out of the last goes to the platform
// (Qt's AT-SPI bridge) or to the update handler that was installed before.
//   1. tellMaskedTextAsShown: a field that hides what is typed tells its text events with its mask
//      characters (app/accessible_values.hpp, app/masked_text.hpp).
//   2. followListModel: a list's row objects follow its model's change; a few rows coming into a
//      list that shows are told as its new children, a fill as one change (app/list_rows_told.hpp).
//   3. holdAComboFocusUntilItsPopupHasClosed: in the turn of the event loop in which a combo box's
//      popup closes, the box's focus is held back and told at its end, after the new value, so a
//      choice made in the popup is spoken with the box's name (app/accessible_values.hpp).
//   4. alsoTellAComboChoiceAsItsFocus: a focused combo box's new choice is told, after its value
//      change, as the focus of its item, a menu item of the box (app/accessible_values.hpp).
//   5. keepWhatAHeldKeyChanges: a held key's selections, scroll bar values, names and descriptions
//      wait until it stops repeating (app/held_key_news.hpp).
//   6. tellEachNameChangeOnce: names and descriptions changed by one piece of work (a row chosen,
//      a page filled) are told once each when it is done, as they are then, and not at all when
//      they are what was last told of them.
//   7. nameListRowsByTheirPlace: an event that names a list row by its place in the model names
//      its place among the list's children instead, or is dropped when the row is not one.
//   8. tellSelectionOnlyOfTheFocusList: a list without the focus (refilled, or a combo box's closed
//      list) tells no selection change; a screen reader reads it when it comes to the list.
//   9. tellTextNewsAfterItsFocus: a field's caret and selection are told only once its focus is.
//  10. tellFocusOnlyWhereItIs: a focus event goes on only from an object that has the focus, in the
//      active window (Qt also tells of a new current row of a list without it).
//  11. keepTheRowsFocusWhileAKeyRepeats: a held key's row is told where the key stops; a focus told
//      at once first tells what the held key changed.
//  12. tellAListsFocusAsItsCurrentRow: a list (also one read as a table, or a combo box's menu of
//      choices) or tab bar taking the focus tells its current row or tab as the focus.
// Then to the platform, where Qt 6.4's bridge has its workarounds (app/qt_bridge_workarounds.hpp).

#include <QAccessible>

namespace velk::Accessibility {

// The update handler that runs the steps.
void handleEvent(QAccessibleEvent* event);
// The update handler installed before `handleEvent`, if any, which then gets what the steps pass on
// in place of the platform.
void setHandledAfter(QAccessible::UpdateHandler handleAfter);

} // namespace velk::Accessibility

#pragma once
// What assistive tools are told when a text field that hides what is typed, or a combo box, changes
// its value. Steps of app/accessible_events.
//   - A masked field (a line edit whose echo mode is not Normal: the Wi-Fi password, the pairing
//     code) tells no typed character: Qt tells every character typed or removed in its text events
//     even while the field hides them, so its events are told with each character replaced by the
//     field's mask character, or with no text where the field shows nothing.
//   - A combo box that changes its choice while it has the focus tells its new choice as the focus
//     of its current item: Orca speaks a collapsed combo box's choice only when the choice itself
//     is told as its focus, having no other way to learn it through Qt 6.4's bridge (which offers
//     no Selection, and a name change of a combo box Orca ignores); a choice made in its popup is
//     told as the box's focus, once the popup has closed. The item is a menu item of the box's
//     menu of choices (app/accessible_widgets), as Orca knows a combo box's choices from other
//     toolkits: it speaks the choice alone, and its "Where am I" then names the box.

#include <memory>

class QAbstractItemView;
class QAccessibleEvent;
class QChar;
class QComboBox;
class QLineEdit;
class QModelIndex;

namespace velk::Accessibility {

// The combo box whose list of choices `view` is (the list sits in the combo box's popup frame), if any.
QComboBox* comboBoxOf(const QAbstractItemView& view);

// The character a field that hides what is typed shows for each one.
QChar maskCharacter(const QLineEdit& field);

// The event as assistive tools are to hear it when it tells what was typed into, removed from or
// set in a masked field; null for every other event.
std::unique_ptr<QAccessibleEvent> maskedTextEvent(const QAccessibleEvent& event);

// Whether `index` is the current choice of the combo box whose hidden list of choices `view` is,
// while that combo box has the focus: the item a screen reader is told as focused.
bool isFocusedChoice(const QAbstractItemView& view, const QModelIndex& index);

// For a change of a combo box's value, the focus event of its new choice, when the combo box has
// the focus in the active window and its list is closed; null otherwise.
std::unique_ptr<QAccessibleEvent> choiceFocusEvent(const QAccessibleEvent& event);

// A choice made in a combo box's popup is told as the box's focus, once, when the choice is made.
// The popup closes before its choice is made; a screen reader's focus is still on the chosen item
// of the popup, so that item told as the focus again would be heard as nothing, and the box's focus
// told as the popup closes would be read with the box's former value. So in the turn of the event
// loop in which the popup closes, the box's focus is held back (the items of its list report none),
// and told at the end of that turn, after the new value: a screen reader speaks the box's name and
// value, and its "Where am I" names the box. The popup closes as its list hides or as the box takes
// the focus back from it, whichever Qt tells first. Told of every focus and hide event; true for an
// event held back.
bool heldUntilThePopupHasClosed(const QAccessibleEvent& event);

} // namespace velk::Accessibility

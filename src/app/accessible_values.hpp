#pragma once
// What assistive tools are told when a text field or a combo box changes its value. Steps of
// app/accessible_events.
//   - A field's text events tell its offsets as its accessible object counts them, in characters
//     where Qt counts UTF-16 units (app/qt_bridge_workarounds.hpp, textInCharacters).
//   - A masked field (a line edit whose echo mode is not Normal: the Wi-Fi password, the pairing
//     code) tells no typed character: Qt tells every character typed or removed in its text events
//     even while the field hides them, so its events are told with each character replaced by the
//     field's mask character, or with no text where the field shows nothing.
//   - A combo box that changes its choice while it has the focus tells its new choice as the focus
//     of its current item: Orca speaks a collapsed combo box's choice only when the choice itself
//     is told as its focus, having no other way to learn it through Qt 6.4's bridge (which offers
//     no Selection, and a name change of a combo box Orca ignores); a choice made in its popup is
//     told as the box's focus, once the popup has closed (app/accessible_events). The item is a menu
//     item of the box's menu of choices (app/accessible_widgets), as Orca knows a combo box's choices
//     from other toolkits: it speaks the choice alone, and its "Where am I" then names the box.

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
// set in a field, or where its caret or selection is: a masked field's text as it shows it, every
// field's offsets in characters; null where the event is told as it is.
std::unique_ptr<QAccessibleEvent> fieldTextEvent(const QAccessibleEvent& event);

// The property a combo box holds in the turn of the event loop in which its popup closes, while its
// focus waits to be told (app/accessible_events): its items report no focus meanwhile.
inline constexpr const char* popupClosingProperty = "velkPopupClosing";

// Whether `index` is the current choice of the combo box whose hidden list of choices `view` is,
// while that combo box has the focus: the item a screen reader is told as focused.
bool isFocusedChoice(const QAbstractItemView& view, const QModelIndex& index);

// For a change of a combo box's value, the focus event of its new choice, when the combo box has
// the focus in the active window and its list is closed; null otherwise.
std::unique_ptr<QAccessibleEvent> choiceFocusEvent(const QAccessibleEvent& event);

} // namespace velk::Accessibility

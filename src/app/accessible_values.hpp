#pragma once
// What assistive tools are told when a text field or a combo box changes its value. Steps of
// app/accessible_events.
//   - A field's text events tell its offsets as its accessible object counts them, in characters
//     where Qt counts UTF-16 units (app/qt_bridge_workarounds.hpp, textInCharacters).
//   - A masked field (a line edit whose echo mode is not Normal: the Wi-Fi password, the pairing
//     code) tells no typed character: Qt tells every character typed or removed in its text events
//     even while the field hides them, so its events are told with each character replaced by the
//     field's mask character, or with no text where the field shows nothing.
//   - A combo box that changes its choice with its list closed, while it has the focus, describes
//     the new choice and its place among the choices ("5 GHz Performance, 2 of 3") until the focus
//     moves or its popup closes: Orca speaks the focused box's description change, and reads the
//     description in its "Where am I" on the box, having no other way to learn a collapsed box's
//     choice through Qt 6.4's bridge (which offers no Selection, and a name change of a combo box
//     Orca ignores). A choice made in its popup is told as the box's focus, once the popup has closed
//     (app/accessible_events), which Orca speaks with the box's name and value. The popup's list is
//     a menu of menu items (app/accessible_widgets), as Orca knows a combo box's choices from other
//     toolkits.

#include <memory>

class QAbstractItemView;
class QAccessibleEvent;
class QChar;
class QComboBox;
class QLineEdit;
class QModelIndex;
class QString;

namespace velk::Accessibility {

// The combo box whose list of choices `view` is (the list sits in the combo box's popup frame), if any.
QComboBox* comboBoxOf(const QAbstractItemView& view);

// The character a field that hides what is typed shows for each one.
QChar maskCharacter(const QLineEdit& field);

// The event as assistive tools are to hear it when it tells what was typed into, removed from or
// set in a field, or where its caret or selection is: a masked field's text as it shows it, every
// field's offsets in characters; null where the event is told as it is.
std::unique_ptr<QAccessibleEvent> fieldTextEvent(const QAccessibleEvent& event);

// The property a combo box holds while it describes its choice (the index it describes).
inline constexpr const char* describedChoiceProperty = "velkDescribedChoice";

// What a combo box that describes its choice says: its choice and the choice's place ("1.5 s, 3 of
// 4"); empty when it describes none, or no longer its current one.
QString describedChoice(const QComboBox& combo);

} // namespace velk::Accessibility

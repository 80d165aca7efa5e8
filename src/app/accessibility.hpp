#pragma once
// What keyboard users and assistive tools (Orca, over AT-SPI) get from every window of the
// application, beyond what each window names and orders itself:
//   - accessible objects of our own for three standard widgets, in place of Qt's, which on Linux
//     name a combo box and a tab bar by their current value, and report a list's current row and a
//     tab bar's current tab as focused whether or not the list or the bar has focus. Ours name the
//     widget by its accessible name or its buddy label, give the current value as the value (and as
//     a combo box's text), and report an item focused only while its widget has focus; a list's
//     rows keep their objects while rows come and go before them, and a few new rows are told as
//     new children;
//   - a stack of pages is a panel named after the page it shows (never a nameless "layered pane"),
//     a scroll area the keyboard reaches is a panel too, and a container reports focus only while
//     it has the focus itself, not while the control it hands the focus to has it (a tab widget and
//     its tab bar, a scroll area's viewport, a dialog's button box);
//   - a focus event reaches assistive tools only from the object that has the focus, in the active
//     window (Qt also tells of a new current row of a list that does not have it);
//   - a masked field tells no typed character, and a combo box tells each new choice it makes
//     while it has the focus (app/accessible_values.hpp);
//   - Return and Enter, with or without modifiers, press the focused push or tool button once per
//     press, in every window and under every platform theme (Space already does; a check box is
//     toggled by Space only), except a button that grants trust or removes something
//     (`answerClickAndSpaceOnly`), which hands the key on to its window as though it ignored it. A
//     held key is one press (`KeyRepeat`).
// `install()` is called once at start (Theme::apply does it) and is harmless to call again.

#include <vector>

class QAbstractButton;
class QListView;
class QWidget;

namespace velk::Accessibility {

void install();

// The button is pressed by a click or by Space while it has the focus, never by Return or Enter:
// a key pressed to close a sheet must not approve a camera or remove something.
void answerClickAndSpaceOnly(QAbstractButton& button);

// Return and Enter, whatever the modifiers, press the button once per press, whatever it is: a check
// box, or a default button (which would otherwise press itself again at every repeat of a held
// Return).
void answerReturnOncePerPress(QAbstractButton& button);

// The list is told as a table of one column, its rows as its cells, for a list that may grow long:
// a screen reader tells a table's size from its Table interface at once, where it counts a list's
// rows one by one as the focus comes into it (Orca 43 reads each row twice, one to three seconds
// at 2,000 rows), and it passes a table by when it reads out the labels of a panel around it.
void readAsTable(QListView& list);

// Puts the widgets one after the other in the Tab chain of their window, in this order; null
// entries are skipped. Widgets that are hidden or disabled keep their place and are passed over
// by Tab while they are.
void setTabChain(const std::vector<QWidget*>& widgets);

} // namespace velk::Accessibility

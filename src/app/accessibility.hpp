#pragma once
// What keyboard users and assistive tools (Orca, over AT-SPI) get from every window of the
// application, beyond what each window names and orders itself. The layer's parts:
//   - app/accessible_widgets: the application's accessible objects for standard widgets;
//   - one way to present a widget with another role, name or state (`presentAs`, `presentClassAs`),
//     which the windows use for their own widgets;
//   - app/accessible_events: the steps every accessibility event passes, in their order, on its
//     way to the platform; the rules without Qt state they follow are headers of their own
//     (app/text_boundaries, app/masked_text, app/list_rows_told, app/held_key_news);
//   - app/qt_bridge_workarounds.hpp: what is done for faults of Qt 6.4's bridge, named there;
//   - Return and Enter, with or without modifiers, press the focused push or tool button once per
//     press, in every window and under every platform theme (Space already does; a check box is
//     toggled by Space only), except a button that grants trust or removes something
//     (`answerClickAndSpaceOnly`), which hands the key on to its window as though it ignored it. A
//     held key is one press (`KeyRepeat`).
// `install()` is called once at start (Theme::apply does it) and is harmless to call again.

#include <vector>

class QAbstractButton;
class QAccessibleInterface;
class QListView;
struct QMetaObject;
class QWidget;

namespace velk::Accessibility {

void install();

// Makes the accessible object that presents a widget.
using AccessibleMaker = QAccessibleInterface* (*)(QWidget* widget);

// Presents the widget to assistive tools by the object `make` makes, in place of the one it would
// get (another role, name or state). One made for it before gives way: Qt makes one as a widget is
// named, whether or not a tool listens.
void presentAs(QWidget& widget, AccessibleMaker make);

// Presents every widget of the class, and of its subclasses that nothing else presents, so.
void presentClassAs(const QMetaObject& widgetClass, AccessibleMaker make);

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

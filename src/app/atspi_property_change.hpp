#pragma once
// A change of an object's name or description, told on the accessibility bus with the new text.
// Qt's AT-SPI bridge (6.4) tells these changes with a reference to the object where the new text
// belongs; a screen reader cannot read that (Orca 43 drops the event with an error), so a focused
// control whose name or state changes, such as a wall tile chosen as Preview, says nothing. The
// change is told here instead, on the bridge's own connection, so that it keeps its place among the
// bridge's other events.

class QAccessibleEvent;

namespace velk::AtspiPropertyChange {

// Tells a name or description change of the focus widget or of a combo box with its new text and
// returns true; false for every other event, and while the bridge has no connection to the accessibility bus, for the
// bridge to tell.
bool tell(QAccessibleEvent& event);

} // namespace velk::AtspiPropertyChange

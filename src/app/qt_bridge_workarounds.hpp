#pragma once
// The faults of Qt 6.4's accessibility that the application works around, each named here once and
// switched by the version of Qt it is built with. tests/app/accessibility_rules_test.cpp fails when
// the application is built with a newer Qt, naming the workarounds to try without: each one whose
// fault the newer Qt no longer has is switched off by raising its bound no further.
//
//   - textAnswersOfTheBridge: Qt's own line edit spins for ever when asked for the word or the
//     sentence at the offset just past its last character (the GUI thread never answers again),
//     and answers the text-attribute question with an empty run, from which Orca 43 reads a field
//     one character short. The application's line edits answer both (app/text_boundaries.hpp).
//   - textOfChangedNames: the bridge tells a name or description change with a reference to the
//     object in place of the new text, which a screen reader cannot read; the focus widget's change
//     is told with its text on the bridge's own connection, by its private name "a11y"
//     (app/atspi_property_change).
//
// Two more are answers to how the bridge and Orca 43 work, not to faults a newer Qt may mend, so
// no version switches them: while a screen reader listens, the bridge takes every key event ahead
// of the application's filters and sends a copy later, without its time, or never for a key the
// reader kept, so a held key is judged from the X server's own events (app/key_repeat.hpp); and
// Orca takes a row's position from its place among a list's children up to 100 children and from
// its index in its parent beyond, so a focused list orders its children for both
// (app/accessible_widgets.cpp, `ListAccessible`).

#include <QtGlobal>

namespace velk::QtBridgeWorkarounds {

// The first Qt version not yet checked for each fault: up to it, the workaround is on.
#define VELK_QT_BRIDGE_CHECKED_BEFORE QT_VERSION_CHECK(6, 5, 0)

constexpr bool textAnswersOfTheBridge = QT_VERSION < VELK_QT_BRIDGE_CHECKED_BEFORE;
constexpr bool textOfChangedNames = QT_VERSION < VELK_QT_BRIDGE_CHECKED_BEFORE;

} // namespace velk::QtBridgeWorkarounds

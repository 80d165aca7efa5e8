#pragma once
// What the application does because of how Qt 6.4's accessibility works (its widgets' accessible
// objects and its AT-SPI bridge), each piece named here once with a bound of its own. A workaround is
// on with every Qt before the first version it is recorded as mended in, and with every Qt while none
// is recorded: a newer Qt leaves each one on until that Qt has been checked without it and the version
// written here. tests/app/accessibility_rules_test.cpp reminds of a Qt newer than the one each was
// checked with; that changes nothing the application does.
//
//   - lineEditText: Qt's own line edit spins for ever when asked for the word or the sentence at the
//     offset just past its last character (and at its start, when its text starts with a blank), and
//     answers the text-attribute question with an empty run, from which Orca 43 reads a field one
//     character short. The application's line edits answer both (app/text_boundaries.hpp).
//   - textInCharacters: the bridge hands a text object's offsets to AT-SPI as they are, and Qt's
//     objects count UTF-16 units where AT-SPI counts characters (an emoji is two units, one
//     character). The application's text objects (line edits, combo boxes) count characters, and a
//     field's text events are told in characters (app/accessible_events).
//   - textOfChangedNames: the bridge tells a name or description change with a reference to the
//     object in place of the new text, which a screen reader cannot read; the focus widget's change
//     is told with its text on the bridge's own connection, by its private name "a11y"
//     (app/atspi_property_change).
//   - comboChoiceDescribed: the bridge offers no Selection for a combo box, and Orca ignores a combo
//     box's name change, so a collapsed box's new choice reaches no screen reader: the box describes
//     it, and its place among the choices, until the focus moves (app/accessible_values.hpp), and its
//     popup's list of choices is a menu of menu items, as Orca knows a combo box's choices from other
//     toolkits (app/accessible_widgets.cpp).
//   - currentRowFocus: an item view tells its new current row as focused also while it has not the
//     focus, and a list that takes the focus tells its own focus, not its current row's, so a screen
//     reader speaks the list without the row. Only the focused list's rows report focus, and its focus
//     is told as its current row's (app/accessible_widgets.cpp, app/accessible_events).
//   - frameRole: Qt gives a plain frame (a panel or card drawn around controls) the role the bridge
//     calls "frame", a window's: a screen reader takes the window of a control inside it to be that
//     frame, and speaks the real window again as it is activated. The application's is a plain
//     container (app/accessible_widgets.cpp).
//   - givenBusRegistration: the bridge connects to a bus given in AT_SPI_BUS_ADDRESS as it is made,
//     and tells that it is on before anything listens, so it never turns on and never registers on
//     the registry's desktop. Once the registry there answered, within its own bound, the bridge is
//     turned on, which registers (app/session_buses, `registerOnGivenBus`).
//
// Two more answer how the bridge and Orca 43 work, not faults a newer Qt may mend, so no version
// bounds them: while a screen reader listens, the bridge takes every key event ahead of the
// application's filters and sends a copy later, without its time, or never for a key the reader kept,
// so a held key is judged from the X server's own events (app/key_repeat.hpp); and Orca takes a row's
// position from its place among a list's children up to 100 children and from its index in its parent
// beyond, so a focused list orders its children for both (app/accessible_widgets.cpp, `ListAccessible`).

#include <QtGlobal>

namespace velk::QtBridgeWorkarounds {

struct Workaround {
    const char* name;
    // The newest Qt checked and found still at fault.
    int checkedWith;
    // The first Qt checked and found mended; 0 while none is.
    int mendedIn = 0;
};

// Whether the workaround is on with the given Qt.
constexpr bool isOn(const Workaround& workaround, int qtVersion = QT_VERSION) {
    return workaround.mendedIn == 0 || qtVersion < workaround.mendedIn;
}

inline constexpr Workaround lineEditText{"lineEditText", QT_VERSION_CHECK(6, 4, 2)};
inline constexpr Workaround textInCharacters{"textInCharacters", QT_VERSION_CHECK(6, 4, 2)};
inline constexpr Workaround textOfChangedNames{"textOfChangedNames", QT_VERSION_CHECK(6, 4, 2)};
inline constexpr Workaround comboChoiceDescribed{"comboChoiceDescribed", QT_VERSION_CHECK(6, 4, 2)};
inline constexpr Workaround currentRowFocus{"currentRowFocus", QT_VERSION_CHECK(6, 4, 2)};
inline constexpr Workaround frameRole{"frameRole", QT_VERSION_CHECK(6, 4, 2)};
inline constexpr Workaround givenBusRegistration{"givenBusRegistration", QT_VERSION_CHECK(6, 4, 2)};

inline constexpr Workaround all[] = {lineEditText, textInCharacters, textOfChangedNames, comboChoiceDescribed, currentRowFocus,
                                     frameRole, givenBusRegistration};

} // namespace velk::QtBridgeWorkarounds

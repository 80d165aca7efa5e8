#pragma once
// Which rows coming into a list are told to assistive tools one by one, as new children of the
// list (Qt's bridge tells no change of a list's model): a few rows coming into a list that shows
// and already held rows, as a new edit does. A list filled or refilled (it held none), a list that
// does not show (a combo box's closed list of choices, refilled one row at a time), or many rows
// at once are told as one change: no row of their own, the list's rows being read afresh where a
// screen reader next reads the list. A screen reader reads each new child before it speaks again,
// so a project list refilled with 300 rows would silence it for seconds.

namespace velk::Accessibility {

constexpr int maxRowsToldAsNew = 4;

inline bool rowsToldOneByOne(int rowsBefore, int inserted, bool listShows) {
    return listShows && rowsBefore > 0 && inserted > 0 && inserted <= maxRowsToldAsNew;
}

} // namespace velk::Accessibility

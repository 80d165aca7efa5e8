#pragma once
// What assistive tools see of the camera wall's painted cells: a live tile is a button whose press
// selects its camera, a locked cell is text whose menu releases its slot, an empty cell is text.
// A level meter is text as well: its accessible name tells the level.
// (Tab bars, combo boxes, lists and Return on buttons are the application's, app/accessibility.)

namespace velk {

// Registers the accessible view of the wall cells and the level meters; once per process.
void installDirectorAccessibility();

} // namespace velk

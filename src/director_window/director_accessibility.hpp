#pragma once
// What assistive tools see of the camera wall's painted cells: a live tile is a button whose press
// selects its camera, a locked cell is text whose menu releases its slot, an empty cell is text.
// (Tab bars, combo boxes, lists and Return on buttons are the application's, app/accessibility.)

namespace velk {

// Registers the wall cells' accessible view; once per process.
void installWallCellAccessibility();

} // namespace velk

#pragma once
// What assistive tools see of the camera wall's painted cells: a live tile is a button whose press
// selects its camera, a locked cell is text whose menu releases its slot, an empty cell is text.
// A level meter is text as well: its accessible name tells its camera and level; so is a row of the
// Camera page, its camera, field and value. A region that its page
// reads out is a section.
// Text drawn for the eye that the controls beside it already tell is left out for them, so that
// each value is spoken once.
// (Tab bars, combo boxes, lists and Return on buttons are the application's, app/accessibility.)

class QWidget;

namespace velk {

// Registers the accessible view of the wall cells and the level meters; once per process.
void installDirectorAccessibility();

// Leaves a label out for assistive tools: no name, no text, not showing (a channel's compact level,
// "L -20  R -3 dB", which its meter bars tell as "Left \u221220 dB" and "Right \u22123 dB").
void drawnForTheEyeOnly(QWidget& label);

// Makes a region the keyboard reaches (to scroll) a section for assistive tools: a screen reader
// reads the labels beneath it once, with the page around it as the focus comes into the page, and
// names the region alone as it reaches it (the Audio page's meters, each level once).
void readWithItsPage(QWidget& region);

} // namespace velk

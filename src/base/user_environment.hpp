#pragma once
// The environment the user started this process with. The process changes its own for Qt's sake
// (app/session_buses points Qt away from a bus that did not answer at start), but the programs it
// starts (the file viewer through xdg-open, the desktop's Wi-Fi settings) are the user's, and get
// the user's own: a bus that was slow for this process at start may answer them.

namespace velk::user_environment {

// Keeps the environment as it is now as the user's. Call once, first thing in main, before
// anything changes it and before any thread runs.
void keep();

// The kept environment ("NAME=value" entries ending in a null pointer, as exec takes them), or this
// process's own when none was kept.
char* const* forPrograms();

} // namespace velk::user_environment

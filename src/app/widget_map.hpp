#pragma once
// For tests that drive the real windows from outside (xdotool): when VELK_WIDGET_MAP names a file,
// the application keeps in it, a few times a second, where each visible named widget, button, tab
// and list row is on screen, which control has the keyboard and whether it is a guarded one (one
// that starts, stops or removes something, app/keyboard_keeper). Off unless asked for; the file
// says nothing the windows do not show.

class QObject;

namespace velk {

// Starts the map when the environment asks for it; does nothing otherwise.
void startWidgetMapIfAsked(QObject* context);

} // namespace velk

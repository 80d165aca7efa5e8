#pragma once
// The application's windows and keyboard on Qt's X11 platform, in one place: one native event
// filter sees the X server's events before Qt handles them, and nothing here exists on another
// platform (app/wayland_activation is the Wayland side).
//
// - Keys: each key event as the server sent it, before any Qt filter, goes to app/key_repeat.
// - Dialogs: while a window-modal dialog blocks a window, the keyboard that arrives at the window
//   (a click on it, the window manager's activation, Qt's own click-to-activate) arrives, for Qt,
//   at the dialog, and the server's keyboard is handed on to it with the time of the event that
//   moved it; keys sent to the blocked window go to the dialog (app/x11_focus_rule).
// - Attention: a window's urgency hint (ICCCM WM_HINTS).
//
// Per event it only looks a window up in a table made as dialogs open and close: no request that
// waits for the server's answer, and no window's platform window made.

#include <cstdint>
#include <utility>
#include <vector>

class QWindow;

namespace velk::X11Windows {

// X modifiers that choose another symbol of a key: Shift and AltGr's level three (an X server's
// state mask, as Qt's X11 platform passes it as a key event's native modifiers).
inline constexpr std::uint32_t symbolModifiers = 0x01 | 0x80;

// Installs the filter on the application's X connection, once per application; nothing on another
// platform.
void install();

// Whether the application runs on an X server.
bool active();

// The top-level windows window-modal dialogs block now, each with the dialog that takes its
// keyboard (app/modal_keyboard's `blockingDialog`); called whenever a dialog opens or closes.
void setBlocked(const std::vector<std::pair<const QWindow*, const QWindow*>>& blockedAndDialog);

// Sets or clears `window`'s urgency hint, keeping its other hints. False when not on an X server.
bool setUrgent(QWindow& window, bool urgent);

} // namespace velk::X11Windows

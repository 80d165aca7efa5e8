#pragma once
// Bringing a window forward with the keyboard in it, the one way the application asks for it
// (Window > Director and Library, a second launch, a dialog that takes the keyboard for the window
// it blocks, a window given the keyboard back as its dialog closes).
//
// On X11, Qt's own request serves: _NET_ACTIVE_WINDOW with the time of the user's latest event,
// which the window manager weighs against what the user did since. On Wayland a client cannot
// move the keyboard: it asks the compositor with an xdg-activation-v1 token, which the compositor
// makes from one of the user's recent input events, and Qt 6.4 asks with the serial of whatever it
// saw last (a button's release, a pointer's entry), which GNOME's compositor refuses: the window is
// only marked as asking for attention. So on Wayland the request goes through
// app/wayland_activation, with a token made from the user's latest press or the keyboard's focus,
// or with the launcher's token (XDG_ACTIVATION_TOKEN) when there is one; it never waits for the
// compositor, and one that does not answer in time leaves Qt's request. Qt 6.4's Wayland platform
// also asks, on its own, for the focus window to be activated each time the focus moves to another
// control (a token per move, named after whatever window has Qt's focus, a menu's popup included),
// so a menu opened by its key asked for several and a compositor that checks the token's surface
// refused them; once the application's own activation is set up, that request of Qt's is dropped
// and each activation is asked once, for the window the user acted on.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

class QWidget;
class QWindow;

namespace velk::WindowActivation {

// Sets up the platform's side at once (on Qt's Wayland platform, the application's own activation
// in place of the request Qt makes on every focus move). Call once the application object exists.
void prepare();

// Raises `window` (shown, not minimised) and asks for it to be activated.
void activate(QWidget& window);
// Asks for `window` to be activated (for windows that are not widgets, a dialog's handle).
void activate(QWindow& window);

// Asks the desktop to show that `window` wants the user (the urgency of a window the desktop lists),
// leaving the keyboard where it is: on Qt's Wayland platform a refused activation request for it,
// in its own name (a dialog standing on another window asks nothing there: its window asks);
// elsewhere Qt's alert. X11's urgency hint is app/x11_windows' own.
void askForAttention(QWindow& window);

// Whether a window can be shown without the keyboard going to it (Qt::WA_ShowWithoutActivating): an
// X11 window manager heeds it; a Wayland compositor gives the keyboard to a new window of the
// application the user works in, and the protocol has no way to ask otherwise.
bool showsWithoutTheKeyboard();

// Calls `done` once: with true as soon as `window` is the active window (at once when it already
// is), with false when it is not within `bound` (the window manager or compositor kept the keyboard
// where it was) or the window went. Nothing waits: the answer comes from the event loop.
void whenActive(QWidget& window, std::function<void(bool active)> done,
                std::chrono::milliseconds bound = std::chrono::milliseconds(2000));

// The launcher's activation token for this process (XDG_ACTIVATION_TOKEN), taken out of the
// environment: neither Qt nor the programs this process starts use it. Call first thing in main,
// before the environment is kept for those programs and before Qt starts. Returns it once.
std::optional<std::string> takeLaunchToken();
// The next activation uses `token` (this process's launcher's, or one a second launch was given and
// passed on) instead of asking for one. An empty or malformed token is ignored.
void useTokenNext(std::string token);
// Whether `token` may be an activation token: 1 to 255 printable characters without spaces (the
// protocol leaves it opaque; this bounds what a second launch can pass on).
bool plausibleToken(const std::string& token);

} // namespace velk::WindowActivation

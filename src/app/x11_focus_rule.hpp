#pragma once
// Where the X server's keyboard goes while window-modal dialogs block some of the application's
// windows, as a plain value fed the server's events in the order they came (app/x11_windows feeds
// it and does what it answers).
//
// A blocked window must never become Qt's active window: Qt's X11 platform makes a window that gets
// the server's keyboard its focus window when a window-modal dialog blocks it (it hands the
// keyboard on only for an application-modal one), and every key then goes to that window, which
// drops it; and as it handles a press on a window that is not its focus window, it asks the window
// manager to activate the window pressed (_NET_ACTIVE_WINDOW), blocked or not, which a window
// manager may carry out after it gave the keyboard to the dialog (mutter). So:
// - the keyboard arriving at a blocked window arrives, for Qt, at the dialog that blocks it, and the
//   dialog is asked for;
// - a press on a blocked window never reaches Qt (Qt would only drop it after asking for the window
//   pressed), and the dialog is asked for unless it has the keyboard already;
// - a key sent to a blocked window goes to its dialog;
// - the window manager's WM_TAKE_FOCUS for a blocked window (ICCCM's locally active input) is
//   answered by asking for the dialog with its time.
// Each request carries the time of the latest event that had one (never the server's "current
// time", which would beat whatever the user did since): a press's, a key's, a WM_TAKE_FOCUS's or
// a property change's, as the server stamped them. None (0) before any such event.

#include <cstdint>

namespace velk::X11FocusRule {

using Window = std::uint32_t; // an X window, 0 for none
using Time = std::uint32_t;   // the server's milliseconds, 0 for none

enum class Kind {
    focusIn,    // the keyboard arrives at `window` (not through the pointer, which moves nothing)
    focusOut,   // the keyboard leaves `window`
    press,      // a button (not a wheel's step) pressed on `window`
    key,        // a key pressed or released on `window`
    takeFocus,  // the window manager's WM_TAKE_FOCUS for `window`
    stamp,      // any other event with a time (a property change, a release, a wheel's step)
};

struct Event {
    Kind kind = Kind::stamp;
    Window window = 0;
    // The dialog that blocks `window` (shown, if perhaps not mapped yet), as the application has it
    // now; 0 for none.
    Window blockedBy = 0;
    Time time = 0;
    // A focus event of a keyboard grab (the window manager's while it switches windows): the
    // keyboard only seems to move.
    bool duringGrab = false;
};

enum class Delivery {
    asIs,     // Qt handles the event as the server sent it
    toDialog, // Qt handles it as sent to the dialog that blocks its window
    dropped,  // Qt never sees it
};

struct Verdict {
    Delivery delivery = Delivery::asIs;
    // The dialog the keyboard is asked for now (with `time`), 0 for none.
    Window askFor = 0;
    Time time = 0;
    bool operator==(const Verdict&) const = default;
};

class Rule {
public:
    Verdict take(const Event& event) {
        if (event.time != 0) m_time = event.time;
        Verdict verdict;
        switch (event.kind) {
        case Kind::focusIn:
            if (!event.duringGrab) m_focus = event.window;
            if (event.blockedBy == 0) return verdict;
            verdict.delivery = Delivery::toDialog;
            if (!event.duringGrab) ask(verdict, event.blockedBy);
            return verdict;
        case Kind::focusOut:
            if (!event.duringGrab && m_focus == event.window) m_focus = 0;
            return verdict;
        case Kind::press:
            if (event.blockedBy == 0) return verdict;
            verdict.delivery = Delivery::dropped;
            if (m_focus != event.blockedBy) ask(verdict, event.blockedBy);
            return verdict;
        case Kind::key:
            if (event.blockedBy == 0) return verdict;
            verdict.delivery = Delivery::toDialog;
            if (m_focus != event.blockedBy) ask(verdict, event.blockedBy);
            return verdict;
        case Kind::takeFocus:
            if (event.blockedBy != 0) ask(verdict, event.blockedBy);
            return verdict;
        case Kind::stamp: return verdict;
        }
        return verdict;
    }

    // The window with the server's keyboard as the events told it; 0 for none known.
    Window focus() const { return m_focus; }

private:
    void ask(Verdict& verdict, Window dialog) const {
        verdict.askFor = dialog;
        verdict.time = m_time;
    }

    Window m_focus = 0;
    Time m_time = 0;
};

} // namespace velk::X11FocusRule

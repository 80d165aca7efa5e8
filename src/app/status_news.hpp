#pragma once
// What a command did, told to assistive tools: the one way a window's status text (a refusal, a
// recording's phase, a session started, an export's, a download's or a pairing's end, the new
// reference camera) reaches a screen reader as it changes, at once and once, without moving the
// keyboard. Where the keyboard moves because the pressed control greyed out, the window tells its
// news before it greys the control out, so that what happened is said before the new control.
//
// Qt 6.4 has no announcement event. A screen reader (Orca 43) speaks a notification as it shows, and
// one inside a status bar by its name alone. Each window has a status bar of its own that nobody
// sees, holding a few notifications used in turn, so that each keeps its text until the screen
// reader has read it (it reads the name as it presents the event, after the news that follow may
// have come). News is told only while the window, or a sheet or dialog of it, is the active window:
// the status of the window the user works in.

class QString;
class QWidget;

namespace velk {

class AppStore;

namespace StatusNews {

// How many notifications a window uses in turn.
inline constexpr int notificationsInTurn = 8;

void tell(QWidget& window, const QString& text);

// From now on each entry the store's activity log gains is told as news of `window`; with
// `errorsInAlert`, not an error the window shows in its alert, which tells it (ActivityNews::since).
void followActivities(QWidget& window, AppStore& store, bool errorsInAlert);

} // namespace StatusNews
} // namespace velk

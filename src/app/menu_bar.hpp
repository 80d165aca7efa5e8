#pragma once
// The application's menu bar, the same on every window: the application menu with Settings…
// (Ctrl+,), Close Window (Ctrl+W) and Quit (Ctrl+Q), and the Window menu opening the Director and
// the Library.
//
// Quit and Settings… are actions of the application's, which every window it opens answers: a sheet,
// an alert or a file panel over a window as well as the windows themselves, with or without a menu
// bar.

#include <functional>
#include <string>

class QAction;
class QMainWindow;
class QMenuBar;
class QObject;

namespace velk {

struct MenuCommands {
    std::function<void(const std::string& windowID)> openWindow;
    std::function<void()> openSettings;
    // The application's Quit (makeQuitAction), the same action in every menu bar; none without.
    QAction* quit = nullptr;
    // The application's Settings… (makeSettingsAction), the same action in every menu bar; without
    // it, each menu bar has its own, which opens Settings through `openSettings`.
    QAction* settings = nullptr;
};

namespace MenuText {
inline constexpr const char* application = "&Kestova";
inline constexpr const char* settings = "Settings…";
inline constexpr const char* closeWindow = "Close Window";
inline constexpr const char* quit = "Quit";
inline constexpr const char* window = "&Window";
inline constexpr const char* director = "&Director";
inline constexpr const char* library = "&Library";
} // namespace MenuText

// Replaces the window's menu bar with the application's. Close Window closes `window`.
QMenuBar* installMenuBar(QMainWindow& window, const MenuCommands& commands);

// Quit on Ctrl+Q, a child of `owner`, running `quit`. Qt answers an application's shortcut only in
// a window the action belongs to and no modal window covers, so each window that gets the
// keyboard's focus is given the action; a held key quits once, and never on the repeats of a
// press that went to another program (KeyRepeat).
QAction* makeQuitAction(QObject& owner, std::function<void()> quit);

// Settings… on Ctrl+, the same way: Settings belongs to the application, so it opens from every
// window and from a sheet, an alert or a file panel over one.
QAction* makeSettingsAction(QObject& owner, std::function<void()> open);

} // namespace velk

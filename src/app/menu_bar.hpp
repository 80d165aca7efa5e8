#pragma once
// The application's menu bar, the same on every window: the application menu with Settings…
// (Ctrl+,), Close Window (Ctrl+W) and Quit (Ctrl+Q), and the Window menu opening the Director and
// the Library.

#include <functional>
#include <string>

class QMainWindow;
class QMenuBar;

namespace velk {

struct MenuCommands {
    std::function<void(const std::string& windowID)> openWindow;
    std::function<void()> openSettings;
    std::function<void()> quit;
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

} // namespace velk

#pragma once
// Which of Qt's window-system platforms the application runs on. The keyboard and window rules of
// both windows are X11's (the window manager activates a window as it maps, a click on a window
// behind its dialog activates that window, a dialog stands above its window as a transient), and
// Qt 6.4's Wayland platform keeps few of them: on a Wayland session that also offers X11
// (XWayland), the application runs on X11 unless the user named a platform. The choice is handed to
// Qt as its own command-line argument, never through the environment, which the programs the
// application starts inherit.

#include <optional>
#include <string>
#include <vector>

namespace velk::qt_platform {

// What decides the platform: the session's variables as they are (nullopt: not set) and whether
// the command line names a platform (Qt's -platform).
struct Session {
    std::optional<std::string> sessionType;    // XDG_SESSION_TYPE
    std::optional<std::string> waylandDisplay; // WAYLAND_DISPLAY
    std::optional<std::string> display;        // DISPLAY
    std::optional<std::string> qpaPlatform;    // QT_QPA_PLATFORM
    bool platformArgument = false;
};

// The platform to name to Qt, or nullopt where Qt's own choice stands: the user named one (Qt
// takes an empty QT_QPA_PLATFORM as none), or the session is not a Wayland one, or it offers no
// X11 display.
inline std::optional<std::string> platformToName(const Session& session) {
    auto given = [](const std::optional<std::string>& value) { return value && !value->empty(); };
    if (given(session.qpaPlatform) || session.platformArgument) return std::nullopt;
    const bool wayland = session.sessionType == "wayland" || given(session.waylandDisplay);
    if (!wayland || !given(session.display)) return std::nullopt;
    return "xcb";
}

// Whether the command line names a platform as Qt reads it ("-platform NAME" or "--platform NAME").
bool namesPlatform(int argc, char** argv);

// The arguments to make QApplication with: this process's own, with the platform that
// platformToName gives for this process's environment named after the program's name. The strings
// live as long as the returned object.
class Arguments {
public:
    Arguments(int argc, char** argv);
    int& count() { return m_count; }
    char** values() { return m_values.data(); }

private:
    std::vector<std::string> m_added;
    std::vector<char*> m_values;
    int m_count = 0;
};

} // namespace velk::qt_platform

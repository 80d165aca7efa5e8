#pragma once
// One window per id: opening an id whose window is open brings that window forward; otherwise the
// factory registered for the id builds a new one. A closed window is deleted with its views and
// their state; the services it used stay alive. Every window the registry builds gets the
// application's menu bar.
//
// The registry knows windows only through their factories, so this library does not depend on the
// window libraries; the executable registers them.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <QObject>

class QMainWindow;
class QWidget;

namespace velk {

struct MenuCommands;

namespace WindowID {
inline constexpr const char* director = "director";
inline constexpr const char* library = "library";
inline constexpr const char* settings = "settings";
} // namespace WindowID

class WindowRegistry final : public QObject {
    Q_OBJECT
public:
    // Builds the window's content; the registry takes ownership and deletes it when closed.
    using Factory = std::function<QMainWindow*()>;

    explicit WindowRegistry(QObject* parent = nullptr);
    ~WindowRegistry() override;

    // `menuBar`: the window gets the application's menu bar (Settings has none).
    void registerFactory(const std::string& id, Factory factory, bool menuBar = true);
    bool hasFactory(const std::string& id) const;

    // Creates or raises the window of that id and returns it; null for an unknown id.
    QMainWindow* openWindow(const std::string& id);
    // The open window of that id, or null.
    QMainWindow* window(const std::string& id) const;
    std::vector<std::string> openWindowIDs() const;
    // Closes every open window (their views are deleted; nothing else happens). With `finalClose`,
    // no window opens afterwards (the application is ending).
    void closeAll(bool finalClose = false);

    // The menu bar each new window receives; without commands windows get no menu bar.
    void setMenuCommands(const MenuCommands& commands);

Q_SIGNALS:
    void windowOpened(const QString& id);
    void windowClosed(const QString& id);

private:
    struct Registration {
        Factory factory;
        bool menuBar = true;
    };
    std::map<std::string, Registration> m_factories;
    // Raw pointers: an entry goes when its window is destroyed, before anything can dangle (and a
    // window being destroyed is never cast back to its type).
    std::map<std::string, QMainWindow*> m_windows;
    std::function<void(QMainWindow&)> m_installMenu;
    bool m_final = false;
};

// Brings a window to the front and gives it focus, un-minimising it first (app/window_activation).
void raiseWindow(QWidget& window);

} // namespace velk

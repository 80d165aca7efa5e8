#include "app/menu_bar.hpp"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QWindow>

#include "app/key_repeat.hpp"
#include "app/window_registry.hpp"

namespace velk {
namespace {

// A shortcut that a held key's repeat sends goes no further.
class ShortcutOncePerPress final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        return event->type() == QEvent::Shortcut && KeyRepeat::latestPressRepeats();
    }
};

} // namespace

QMenuBar* installMenuBar(QMainWindow& window, const MenuCommands& commands) {
    auto* bar = new QMenuBar(&window);
    bar->setObjectName(QStringLiteral("menuBar"));
    // The application draws its own menu bar in the window on every desktop, so the shortcuts
    // behave the same under a global menu service as without one.
    bar->setNativeMenuBar(false);

    QMenu* application = bar->addMenu(QString::fromUtf8(MenuText::application));
    if (commands.settings) {
        application->addAction(commands.settings);
    } else {
        QAction* settings = application->addAction(QString::fromUtf8(MenuText::settings));
        settings->setObjectName(QStringLiteral("menuSettings"));
        settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
        settings->setMenuRole(QAction::NoRole);
        QObject::connect(settings, &QAction::triggered, &window, [commands] {
            if (commands.openSettings) commands.openSettings();
        });
    }
    application->addSeparator();
    QAction* close = application->addAction(QString::fromUtf8(MenuText::closeWindow));
    close->setObjectName(QStringLiteral("menuCloseWindow"));
    close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    QObject::connect(close, &QAction::triggered, &window, [&window] { window.close(); });
    if (commands.quit) application->addAction(commands.quit);

    QMenu* windows = bar->addMenu(QString::fromUtf8(MenuText::window));
    const std::pair<const char*, const char*> entries[] = {{MenuText::director, WindowID::director},
                                                           {MenuText::library, WindowID::library}};
    for (const auto& [title, id] : entries) {
        QAction* open = windows->addAction(QString::fromUtf8(title));
        open->setObjectName(QStringLiteral("menuWindow_") + QString::fromUtf8(id));
        const std::string target = id;
        QObject::connect(open, &QAction::triggered, &window, [commands, target] {
            if (commands.openWindow) commands.openWindow(target);
        });
    }

    window.setMenuBar(bar);
    return bar;
}

namespace {

// An action of the application's on `key`: Qt answers an application's shortcut only in a window
// the action belongs to and no modal window covers, so each window that gets the keyboard's focus
// is given it (never a menu or a picker's list, where it would be one of the entries); a held key
// acts once.
QAction* makeApplicationAction(QObject& owner, const char* text, const QString& name, const QKeySequence& key,
                               std::function<void()> run) {
    auto* action = new QAction(QString::fromUtf8(text), &owner);
    action->setObjectName(name);
    action->setShortcut(key);
    action->setShortcutContext(Qt::ApplicationShortcut);
    action->setAutoRepeat(false);
    action->setMenuRole(QAction::NoRole);
    action->installEventFilter(new ShortcutOncePerPress(action));
    QObject::connect(action, &QAction::triggered, &owner, [run = std::move(run)] {
        if (run) run();
    });
    QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, action, [action](QWindow* focus) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->windowHandle() != focus) continue;
            const Qt::WindowType type = window->windowType();
            if (type != Qt::Popup && type != Qt::ToolTip && !window->actions().contains(action))
                window->addAction(action);
            return;
        }
    });
    return action;
}

} // namespace

QAction* makeQuitAction(QObject& owner, std::function<void()> quit) {
    return makeApplicationAction(owner, MenuText::quit, QStringLiteral("menuQuit"), QKeySequence(Qt::CTRL | Qt::Key_Q),
                                 std::move(quit));
}

QAction* makeSettingsAction(QObject& owner, std::function<void()> open) {
    return makeApplicationAction(owner, MenuText::settings, QStringLiteral("menuSettings"),
                                 QKeySequence(Qt::CTRL | Qt::Key_Comma), std::move(open));
}

} // namespace velk

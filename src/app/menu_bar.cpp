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
    QAction* settings = application->addAction(QString::fromUtf8(MenuText::settings));
    settings->setObjectName(QStringLiteral("menuSettings"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setMenuRole(QAction::NoRole);
    QObject::connect(settings, &QAction::triggered, &window, [commands] {
        if (commands.openSettings) commands.openSettings();
    });
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

QAction* makeQuitAction(QObject& owner, std::function<void()> quit) {
    auto* action = new QAction(QString::fromUtf8(MenuText::quit), &owner);
    action->setObjectName(QStringLiteral("menuQuit"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    action->setShortcutContext(Qt::ApplicationShortcut);
    action->setAutoRepeat(false);
    action->setMenuRole(QAction::NoRole);
    action->installEventFilter(new ShortcutOncePerPress(action));
    QObject::connect(action, &QAction::triggered, &owner, [quit = std::move(quit)] {
        if (quit) quit();
    });
    QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, action, [action](QWindow* focus) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->windowHandle() != focus) continue;
            // Never a menu or a picker's list: an action added to a menu is one of its entries.
            const Qt::WindowType type = window->windowType();
            if (type != Qt::Popup && type != Qt::ToolTip && !window->actions().contains(action))
                window->addAction(action);
            return;
        }
    });
    return action;
}

} // namespace velk

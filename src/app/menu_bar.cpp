#include "app/menu_bar.hpp"

#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "app/window_registry.hpp"

namespace velk {

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
    QAction* quit = application->addAction(QString::fromUtf8(MenuText::quit));
    quit->setObjectName(QStringLiteral("menuQuit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::NoRole);
    QObject::connect(quit, &QAction::triggered, &window, [commands] {
        if (commands.quit) commands.quit();
    });

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

} // namespace velk

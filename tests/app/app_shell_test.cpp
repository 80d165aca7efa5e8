// The shell's wiring under the offscreen platform: one window per id, the menu bar, Settings, the
// single-instance lock and raise, symbols and the orderly end.

#include <future>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "app/application.hpp"
#include "app/menu_bar.hpp"
#include "app/session_buses.hpp"
#include "app/settings_window.hpp"
#include "app/single_instance.hpp"
#include "app/symbols.hpp"
#include "app/window_modal.hpp"
#include "app/theme.hpp"
#include "app/view_kit.hpp"
#include "app/window_registry.hpp"
#include "base/cancellation.hpp"
#include "base/desktop_program.hpp"
#include "discovery/dns_sd_fake.hpp"
#include "store/app_store.hpp"
#include "support/qt_test.hpp"
#include "support/silent_bus.hpp"
#include "support/widgets.hpp"

namespace velk {
namespace {

QApplication& qtApplication() {
    static int argc = 1;
    static char name[] = "velk_app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        auto* created = new QApplication(argc, argv);
        Symbols::installIconTheme();
        return created;
    }();
    return *application;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { qtApplication(); }
};

// An application in `folder`, without network, browsing a fake DNS-SD backend.
Application::Options offlineOptions(const QTemporaryDir& folder) {
    Application::Options options;
    options.storageRoot = folder.filePath("data").toStdString();
    options.recordingsRoot = folder.filePath("videos").toStdString();
    options.startNetwork = false;
    options.dnsSd = std::make_shared<FakeDnsSdBackend>();
    return options;
}

QAction* action(QMainWindow& window, const char* name) { return window.findChild<QAction*>(QString::fromUtf8(name)); }

TEST_F(ShellTest, RegistryKeepsOneWindowPerIDAndForgetsClosedOnes) {
    WindowRegistry registry;
    int built = 0;
    registry.registerFactory(WindowID::library, [&] {
        ++built;
        return new QMainWindow;
    });
    QMainWindow* first = registry.openWindow(WindowID::library);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(registry.openWindow(WindowID::library), first);
    EXPECT_EQ(built, 1);
    EXPECT_EQ(registry.openWindow("nowhere"), nullptr);

    QPointer<QMainWindow> closed = first;
    first->close(); // deleted on close: its views and their state go
    QTest::qWaitFor([&] { return closed.isNull(); }, 2000);
    EXPECT_TRUE(closed.isNull());
    EXPECT_EQ(registry.window(WindowID::library), nullptr);
    EXPECT_NE(registry.openWindow(WindowID::library), nullptr);
    EXPECT_EQ(built, 2);

    registry.closeAll(true);
    EXPECT_EQ(registry.openWindow(WindowID::library), nullptr);
}

TEST_F(ShellTest, MenuBarCommandsAndShortcuts) {
    WindowRegistry registry;
    std::vector<std::string> opened;
    int settings = 0;
    int quits = 0;
    QObject application;
    QAction* quit = makeQuitAction(application, [&] { ++quits; });
    MenuCommands commands{[&](const std::string& id) { opened.push_back(id); }, [&] { ++settings; }, quit};
    registry.setMenuCommands(commands);
    registry.registerFactory(WindowID::director, [] { return new QMainWindow; });
    registry.registerFactory(WindowID::settings, [] { return new QMainWindow; }, false);
    QMainWindow* director = registry.openWindow(WindowID::director);
    ASSERT_NE(director, nullptr);
    ASSERT_NE(director->menuBar(), nullptr);

    EXPECT_EQ(action(*director, "menuSettings")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(action(*director, "menuCloseWindow")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_TRUE(director->menuBar()->actions().front()->menu()->actions().contains(quit));
    action(*director, "menuSettings")->trigger();
    action(*director, "menuWindow_library")->trigger();
    action(*director, "menuWindow_director")->trigger();
    quit->trigger();
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(opened, (std::vector<std::string>{"library", "director"}));

    QMainWindow* settingsWindow = registry.openWindow(WindowID::settings);
    EXPECT_EQ(action(*settingsWindow, "menuSettings"), nullptr);

    QPointer<QMainWindow> guard = director;
    action(*director, "menuCloseWindow")->trigger();
    QTest::qWaitFor([&] { return guard.isNull(); }, 2000);
    EXPECT_TRUE(guard.isNull());
}

TEST_F(ShellTest, ApplicationServicesWindowsAndOrderlyEnd) {
    QTemporaryDir folder;
    Application application(offlineOptions(folder));
    AppStore* seen = nullptr;
    std::shared_ptr<const CancellationToken> quitting;
    std::optional<bool> quittingWhenTheWindowWent;
    application.registerWindow(WindowID::director, [&](AppServices& services) {
        seen = &services.store;
        quitting = services.quitting;
        auto* window = new QMainWindow;
        window->setWindowTitle("Kestova Director");
        QObject::connect(window, &QObject::destroyed, [&] { quittingWhenTheWindowWent = quitting->isCancelled(); });
        return window;
    });
    application.launch();
    EXPECT_EQ(seen, &application.services().store);
    EXPECT_EQ(application.windows().openWindowIDs(), std::vector<std::string>{"director"});
    EXPECT_TRUE(std::filesystem::exists(folder.filePath("data/collector-id.txt").toStdString()));

    application.openSettings();
    QMainWindow* settings = application.windows().window(WindowID::settings);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->width(), 520);
    QStringList texts;
    for (QLabel* label : settings->findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains("Verified recordings: " + folder.filePath("videos"))) << texts.join("|").toStdString();
    EXPECT_TRUE(texts.contains("Library: " + folder.filePath("data")));

    ASSERT_TRUE(quitting);
    EXPECT_FALSE(quitting->isCancelled());
    application.shutdown();
    // Work that waits on the application's cancellation is told before the windows go.
    EXPECT_EQ(quittingWhenTheWindowWent, true);
    EXPECT_TRUE(application.windows().openWindowIDs().empty());
    EXPECT_EQ(application.windows().openWindow(WindowID::director), nullptr);
    application.shutdown(); // idempotent
}

// Settings belongs to the application: Ctrl+, opens it also while a sheet over a window has the keyboard.
TEST_F(ShellTest, CtrlCommaOpensSettingsOverASheet) {
    QTemporaryDir folder;
    Application application(offlineOptions(folder));
    application.registerWindow(WindowID::director, [](AppServices&) { return new QMainWindow; });
    application.launch();
    QMainWindow* director = application.windows().window(WindowID::director);
    ASSERT_NE(director, nullptr);
    auto* sheet = new QDialog(director);
    openWindowModal(*sheet);
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    QTest::keyClick(sheet, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_NE(application.windows().window(WindowID::settings), nullptr);
    application.shutdown();
}

// An alert that opens over a window a sheet stands over stands on the sheet, so the window manager
// or compositor keeps it above the sheet (and on Wayland places it over it); as the sheet goes
// first, the alert stands on the window again.
TEST_F(ShellTest, AnAlertOverASheetStandsOnTheSheet) {
    QMainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* sheet = new QDialog(&window);
    openWindowModal(*sheet);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_EQ(sheet->windowHandle()->transientParent(), window.windowHandle());
    auto* alert = new QDialog(&window);
    openWindowModal(*alert);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(alert));
    EXPECT_EQ(alert->windowHandle()->transientParent(), sheet->windowHandle());
    sheet->close();
    EXPECT_EQ(alert->windowHandle()->transientParent(), window.windowHandle());
    alert->close();
    delete alert;
    delete sheet;
}

TEST_F(ShellTest, SecondInstanceRaisesTheFirst) {
    QTemporaryDir folder;
    const std::filesystem::path data = folder.filePath("data").toStdString();
    SingleInstance first(data);
    ASSERT_EQ(first.acquire(), LockState::acquired);
    int raised = 0;

    SingleInstance second(data);
    EXPECT_EQ(second.acquire(), LockState::heldByOther);
    // The request blocks and retries until the first instance listens (its services start first);
    // the first answers from this thread's event loop.
    auto answered = std::async(std::launch::async, [&] { return second.askRunningInstanceToRaise(3000); });
    QTest::qWait(300);
    ASSERT_TRUE(first.listen([&](const std::string& token, SingleInstance::Answer answer) {
        ++raised;
        EXPECT_EQ(token, "");
        answer(true);
    }));
    QTest::qWaitFor([&] { return answered.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000);
    EXPECT_EQ(answered.get(), RaiseAnswer::raised);
    EXPECT_EQ(raised, 1);
}

// The first instance answers once it knows whether its window came forward: a desktop that kept the
// keyboard elsewhere is told apart from one that brought it.
TEST_F(ShellTest, SecondInstanceLearnsTheWindowWasNotBroughtForward) {
    QTemporaryDir folder;
    const std::filesystem::path data = folder.filePath("data").toStdString();
    SingleInstance first(data);
    ASSERT_EQ(first.acquire(), LockState::acquired);
    ASSERT_TRUE(first.listen([](const std::string&, SingleInstance::Answer answer) {
        QTimer::singleShot(100, [answer] { answer(false); });
    }));
    SingleInstance second(data);
    auto answered = std::async(std::launch::async, [&] { return second.askRunningInstanceToRaise(3000); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return answered.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    EXPECT_EQ(answered.get(), RaiseAnswer::shown);
}

// A later launch passes on the activation token its launcher gave it: the compositor activates
// the first instance's window only with it.
TEST_F(ShellTest, SecondInstancePassesOnItsActivationToken) {
    QTemporaryDir folder;
    const std::filesystem::path data = folder.filePath("data").toStdString();
    SingleInstance first(data);
    ASSERT_EQ(first.acquire(), LockState::acquired);
    std::vector<std::string> tokens;
    ASSERT_TRUE(first.listen([&](const std::string& token, SingleInstance::Answer answer) {
        tokens.push_back(token);
        answer(true);
    }));
    SingleInstance second(data);
    const std::string token = "8c3e1a4f-6f0b-4c2e-9d1a-2b7e5c9f0a13_TIME123456";
    auto answered = std::async(std::launch::async, [&] { return second.askRunningInstanceToRaise(3000, token); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return answered.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    EXPECT_EQ(answered.get(), RaiseAnswer::raised);
    EXPECT_EQ(tokens, std::vector<std::string>{token});
}

TEST_F(ShellTest, EverySymbolDrawsSomething) {
    const bool themeInstalled = QFile::exists("/usr/share/icons/breeze/index.theme");
    for (const std::string& name : Symbols::knownNames()) {
        if (themeInstalled) EXPECT_TRUE(Symbols::isThemed(name)) << name;
        EXPECT_FALSE(Symbols::icon(name).pixmap(22, 22).isNull()) << name;
    }
    // An unknown name still draws its fallback.
    const QImage fallback = Symbols::icon("no.such.symbol").pixmap(22, 22).toImage();
    bool painted = false;
    for (int y = 0; y < fallback.height() && !painted; ++y)
        for (int x = 0; x < fallback.width() && !painted; ++x) painted = qAlpha(fallback.pixel(x, y)) > 0;
    EXPECT_TRUE(painted);
    // A tinted symbol is drawn in its tint.
    const QImage tinted = Symbols::icon("folder.fill", Theme::green()).pixmap(22, 22).toImage();
    bool green = false;
    for (int y = 0; y < tinted.height() && !green; ++y)
        for (int x = 0; x < tinted.width() && !green; ++x) {
            const QColor c = tinted.pixelColor(x, y);
            green = c.alpha() > 200 && c.green() == Theme::green().green() && c.red() == Theme::green().red();
        }
    EXPECT_TRUE(green);
}

// A symbol is one glyph at every scale, drawn at the device's pixels: brought back to its size (and
// softened by a pixel, as drawings at two scales may differ by a fraction of one), a drawing at 1.25,
// 1.5 or 2 covers what the one at 1 covers, where a full-colour picture's silhouette would not.
TEST_F(ShellTest, EverySymbolIsTheSameGlyphAtEveryScale) {
    auto coverage = [](const QPixmap& drawn, int side) {
        const QImage image = drawn.toImage().scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        std::vector<double> alpha(std::size_t(side * side)), soft(alpha.size());
        for (int i = 0; i < side * side; ++i) alpha[std::size_t(i)] = qAlpha(image.pixel(i % side, i / side)) / 255.0;
        for (int pass = 0; pass < 2; ++pass, std::swap(alpha, soft)) {
            for (int i = 0; i < side * side; ++i) {
                soft[std::size_t(i)] = 0;
                for (int x = i % side - 1; x <= i % side + 1; ++x)
                    for (int y = i / side - 1; y <= i / side + 1; ++y)
                        if (x >= 0 && y >= 0 && x < side && y < side) soft[std::size_t(i)] += alpha[std::size_t(y * side + x)] / 9;
            }
        }
        return alpha;
    };
    for (const std::string& name : Symbols::knownNames()) {
        const QIcon icon = Symbols::icon(name, Qt::white);
        for (const int side : {16, 22}) {
            const auto atOne = coverage(icon.pixmap(QSize(side, side), 1.0), side);
            for (const double scale : {1.25, 1.5, 2.0}) {
                const QPixmap drawn = icon.pixmap(QSize(side, side), scale);
                EXPECT_EQ(drawn.size(), QSize(side, side) * scale) << name << " at scale " << scale;
                const auto scaled = coverage(drawn, side);
                double common = 0, all = 0;
                for (std::size_t i = 0; i < atOne.size(); ++i) {
                    common += std::min(atOne[i], scaled[i]);
                    all += std::max(atOne[i], scaled[i]);
                }
                EXPECT_GE(common / all, 0.85) << name << " at " << side << " px: another shape at scale " << scale;
            }
        }
    }
}

// The pill draws its text in the caller's colour on a capsule of that colour at 16 %, padded 11 by 6.
// Buses that never let a connection in are kept from Qt for the run (their addresses replaced in
// this process's environment, where Qt reads them), but a program the application starts later
// meets the user's own addresses: for it, the bus may well answer by then. It gets the environment
// as it is when it starts, but none of what a launcher handed this process alone.
TEST_F(ShellTest, AProgramStartedAfterTheBusCheckGetsTheUsersOwnAddresses) {
    QTemporaryDir folder;
    test::SilentBus bus(folder.filePath(QStringLiteral("bus")).toStdString());
    ASSERT_TRUE(bus.listening);
    struct Restore {
        std::vector<std::pair<const char*, std::optional<std::string>>> saved;
        ~Restore() {
            for (const auto& [name, value] : saved) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        }
    } restore;
    const auto set = [&](const char* name, const std::string& value) {
        const char* was = std::getenv(name);
        restore.saved.emplace_back(name, was ? std::optional<std::string>(was) : std::nullopt);
        ::setenv(name, value.c_str(), 1);
    };
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"}) set(name, bus.address);
    for (const char* name : {"DESKTOP_STARTUP_ID", "DESKTOP_AUTOSTART_ID", "XDG_ACTIVATION_TOKEN"}) set(name, "launch");
    session_buses::keepQtOffSilentBuses(std::chrono::milliseconds(200));
    EXPECT_STREQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), session_buses::unusableAddress);
    EXPECT_STREQ(std::getenv("AT_SPI_BUS_ADDRESS"), session_buses::unusableAddress);
    set("VELK_SET_LATER", "later");

    const QString seen = folder.filePath(QStringLiteral("seen"));
    const QString program = folder.filePath(QStringLiteral("viewer"));
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$DBUS_SESSION_BUS_ADDRESS $AT_SPI_BUS_ADDRESS ${DESKTOP_STARTUP_ID-none} "
                                "${DESKTOP_AUTOSTART_ID-none} ${XDG_ACTIVATION_TOKEN-none} $VELK_SET_LATER\" > '%1.part' && "
                                "mv '%1.part' '%1'\n")
                     .arg(seen).toLocal8Bit());
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QObject context;
    startDesktopProgram(program, {}, 100, &context, [](bool) {});
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(seen); }));
    QFile answer(seen);
    ASSERT_TRUE(answer.open(QIODevice::ReadOnly));
    EXPECT_EQ(answer.readAll().trimmed().toStdString(), bus.address + " " + bus.address + " none none none later");
}

TEST(ViewKit, StatusPillIsDrawnInTheCallersColour) {
    qtApplication();
    StatusPill pill(QStringLiteral("READY"), Theme::orange());
    pill.setPill(QStringLiteral("READY"), Theme::green());
    pill.resize(pill.sizeHint());
    EXPECT_GE(pill.sizeHint().width(), pill.fontMetrics().horizontalAdvance(QStringLiteral("READY")) + 22);
    EXPECT_EQ(pill.palette().color(QPalette::WindowText), Theme::green());
    const QImage image = pill.grab().toImage();
    const QColor corner = image.pixelColor(image.width() / 2, 1);
    EXPECT_GT(corner.green(), corner.red()); // the capsule's green wash, not the window's grey
}

TEST(ViewKit, ElidedLabelCutsToItsWidthWithAnEllipsis) {
    qtApplication();
    ElidedLabel label(QStringLiteral("cam-a_take-014_a-rather-long-clip-name.mov"));
    label.resize(80, 20);
    EXPECT_TRUE(label.shownText().endsWith(QChar(0x2026)));
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.shownText()), 80);
    label.resize(2000, 20);
    EXPECT_EQ(label.shownText(), label.text());
    // A state after a name stays whole while the name is cut, unless not even the state has room.
    label.setText(QStringLiteral("Balcony Wide Camera on the North Gallery 12 \u2022 OFFLINE"));
    label.setKeptEnd(QStringLiteral(" \u2022 OFFLINE"));
    const int width = label.fontMetrics().horizontalAdvance(QStringLiteral("Balcony \u2026 \u2022 OFFLINE"));
    label.resize(width, 20);
    EXPECT_TRUE(label.shownText().startsWith(QStringLiteral("Balcony"))) << label.shownText().toStdString();
    EXPECT_TRUE(label.shownText().endsWith(QStringLiteral("\u2026 \u2022 OFFLINE"))) << label.shownText().toStdString();
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.shownText()), width);
    label.resize(label.fontMetrics().horizontalAdvance(QStringLiteral(" \u2022 OFF")), 20);
    EXPECT_EQ(label.shownText(), label.fontMetrics().elidedText(label.text(), Qt::ElideRight, label.width()));
}

// In a large area the placeholder sits in the middle both ways.
TEST(ViewKit, CompactEmptyStateIsCentred) {
    qtApplication();
    CompactEmptyState empty(QStringLiteral("No edits yet"), "timeline.selection",
                            QStringLiteral("Start a session, then CUT, FADE or add a marker."));
    empty.resize(320, 400);
    empty.show();
    auto* title = empty.findChildren<QLabel*>().at(1);
    EXPECT_NEAR(title->geometry().center().y(), 200, 40);
    EXPECT_NEAR(title->geometry().center().x(), 160, 2);
    test::saveScreenshot(empty, QStringLiteral("app-compact-empty-state.png"));
}

} // namespace
} // namespace velk


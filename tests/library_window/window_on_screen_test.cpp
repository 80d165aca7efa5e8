// The Library window on screens of common sizes, from outside: its frame, title bar included, lies on
// the screen; and where the keyboard goes around its sheets and alerts.

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "library_window_fixture.hpp"
#include "support/build_paths.hpp"
#include "support/virtual_display.hpp"

namespace velk::testing {
namespace {

class LibraryWindowOnDisplay : public LibraryWindowTest {};

TEST_F(LibraryWindowOnDisplay, OpensWithinTheScreen) {
    if (!test::onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const auto screen = test::expectFrameOnScreen("Kestova Library");
    ASSERT_TRUE(screen);
    const QRect available = window->screen()->availableGeometry();
    if (available.width() >= 1180 && available.height() >= 760) {
        EXPECT_EQ(window->size(), QSize(1180, 760));
    }
    const QString shot = QString::fromStdString(test::binaryPath("screenshots/library_window/on-%1x%2-%3.png"))
                             .arg(screen->width).arg(screen->height).arg(window->devicePixelRatio());
    QDir().mkpath(QFileInfo(shot).path());
    window->screen()->grabWindow(0).save(shot);
}

TEST(LibraryWindowOnScreens, OpensWithin1280By720) { test::runOnVirtualDisplay("LibraryWindowOnDisplay", "1280x720x24"); }

TEST(LibraryWindowOnScreens, OpensWithin1280By720WithItsTitleBarUnderAWindowManager) {
    test::runOnVirtualDisplay("LibraryWindowOnDisplay", "1280x720x24", {}, true);
}

TEST(LibraryWindowOnScreens, OpensWithin1920By1080At150Percent) {
    test::runOnVirtualDisplay("LibraryWindowOnDisplay", "1920x1080x24", {"QT_SCALE_FACTOR=1.5"});
}

TEST(LibraryWindowOnScreens, OpensAtItsDefaultSizeWhereThereIsRoom) {
    test::runOnVirtualDisplay("LibraryWindowOnDisplay", "1920x1080x24");
}

// Under a window manager, a sheet or alert takes the keyboard as it opens and keeps it when the user
// clicks the window it blocks (which the platform activates): Return and Escape typed on the X
// server answer the alert. The user clicks the Library window while the Collect sheet pairs, or once
// the pairing's alert is open.
class LibraryAlertOnDisplay : public LibraryWindowTest {
protected:
    static std::string focusedWindowName() {
        std::string name = test::runToEnd({"xdotool", "getwindowfocus", "getwindowname"}).output;
        while (!name.empty() && name.back() == '\n') name.pop_back();
        return name;
    }
    // Until `dialog` has the keyboard, as the application and the X server see it.
    static bool hasTheKeyboard(QWidget& dialog) {
        return QTest::qWaitFor([&] {
            return QGuiApplication::focusWindow() == dialog.windowHandle() &&
                   focusedWindowName() == dialog.windowTitle().toStdString();
        }, 10'000);
    }
    // Clicks the Library's Collect button, which the platform activates although `dialog` blocks
    // it; true once the Library had the keyboard and `dialog` has it again.
    bool clickTheLibraryBehind(QWidget& dialog) {
        bool libraryActivated = false;
        const auto watch =
            QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, window.get(),
                             [&](QWindow* focused) { libraryActivated |= focused == window->windowHandle(); });
        const auto* collect = window->findChild<QPushButton*>(QStringLiteral("collect"));
        const QPoint at = collect->mapToGlobal(collect->rect().center()) * collect->devicePixelRatio();
        // The server takes the move before the click ("--sync" waits long for a move to where the
        // pointer already is).
        test::runToEnd({"xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()), "click", "1"});
        const bool handedOn = QTest::qWaitFor([&] { return libraryActivated; }, 10'000) && hasTheKeyboard(dialog);
        QObject::disconnect(watch);
        return handedOn;
    }
};

TEST_F(LibraryAlertOnDisplay, TakesTheKeyboardFromTheWindowItBlocks) {
    if (!test::onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
    enum class Click { libraryWhilePairing, libraryAtTheAlert, none };
    struct Row {
        const char* where;
        Click click;
        const char* key;
    };
    announce("Phone A", false);
    QWidget director; // the application's other window
    director.setWindowTitle(QStringLiteral("Kestova Director"));
    director.resize(400, 300);
    director.show();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const Row rows[] = {
        {"clicked the Library while pairing", Click::libraryWhilePairing, "Return"},
        {"clicked the Library at the alert", Click::libraryAtTheAlert, "Escape"},
        {"clicked the Library while pairing", Click::libraryWhilePairing, "Escape"},
        {"clicked the Library at the alert", Click::libraryAtTheAlert, "Return"},
        {"went on in the other window while pairing", Click::none, "Return"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.where) + ", " + row.key);
        window->showCollect();
        auto* sheet = qobject_cast<CollectSheet*>(window->sheet());
        ASSERT_TRUE(sheet && hasTheKeyboard(*sheet));
        QTest::mouseClick(sheet->findChildren<QPushButton*>(QStringLiteral("card")).front(), Qt::LeftButton);
        sheet->fingerprintToggle()->setChecked(true);
        QTest::keyClicks(sheet->codeField(), "123456");
        QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
        if (row.click == Click::libraryWhilePairing) EXPECT_TRUE(clickTheLibraryBehind(*sheet)) << focusedWindowName();
        if (row.click == Click::none) {
            director.activateWindow();
            ASSERT_TRUE(hasTheKeyboard(director));
        }
        store.setErrorMessage("Secure camera connection failed: Transfer server returned HTTP 403.");
        commands->pairDone(false);
        QPointer<QMessageBox> alert = window->errorAlert();
        ASSERT_TRUE(alert);
        EXPECT_TRUE(hasTheKeyboard(*alert)) << focusedWindowName();
        if (row.click == Click::libraryAtTheAlert) EXPECT_TRUE(clickTheLibraryBehind(*alert)) << focusedWindowName();
        test::runToEnd({"xdotool", "key", row.key});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !alert; }, 10'000));
        if (alert) alert->close();
        sheet->close();
        settle();
    }
}

TEST(LibraryAlertsOnX, TakeTheKeyboardUnderAWindowManagerAt150Percent) {
    test::runOnVirtualDisplay("LibraryAlertOnDisplay", "1920x1080x24", {"QT_SCALE_FACTOR=1.5"}, true);
}

} // namespace
} // namespace velk::testing

// The Director window on screens of common sizes, from outside: its frame, title bar included, lies on
// the screen, and where its keyboard starts.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "director_fakes.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window_support.hpp"
#include "support/build_paths.hpp"
#include "support/virtual_display.hpp"
#include "support/x_keyboard.hpp"

namespace velk {
namespace {

using namespace test;

TEST(DirectorWindowOnDisplay, OpensWithinTheScreen) {
    if (!onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
    app();
    WindowRig rig(fourCameras());
    rig.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.window.get()));
    const auto screen = expectFrameOnScreen("Kestova Director");
    ASSERT_TRUE(screen);
    const QRect available = rig.window->screen()->availableGeometry();
    if (available.width() >= 1320 && available.height() >= 820) {
        EXPECT_EQ(rig.window->size(), QSize(1320, 820));
    }
    const QString shot = QString::fromStdString(test::binaryPath("screenshots/director_window/on-%1x%2-%3.png"))
                             .arg(screen->width).arg(screen->height).arg(rig.window->devicePixelRatio());
    QDir().mkpath(QFileInfo(shot).path());
    rig.window->screen()->grabWindow(0).save(shot);
}

// The window gets the keyboard on the first tile with a camera, never on Stop All: a Return typed on
// the X server stops nothing.
TEST(DirectorWindowOnDisplay, TheKeyboardStartsOnTheWall) {
    if (!onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
    app();
    WindowRig rig(fourCameras());
    rig.window->show();
    rig.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return runToEnd({"xdotool", "getwindowfocus", "getwindowname"}).output == "Kestova Director\n" &&
               QApplication::focusWidget();
    }, 10'000));
    EXPECT_EQ(QApplication::focusWidget(), rig.window->wall()->cell(0)) << QApplication::focusWidget()->objectName().toStdString();
    XKeyboard(*rig.window).type("Return");
    for (const auto& activity : rig.store->activities()) EXPECT_FALSE(activity.message.starts_with("Stop All")) << activity.message;
}

TEST(DirectorWindowOnScreens, OpensWithin1280By720) { runOnVirtualDisplay("DirectorWindowOnDisplay", "1280x720x24"); }

TEST(DirectorWindowOnScreens, OpensWithin1280By720WithItsTitleBarUnderAWindowManager) {
    runOnVirtualDisplay("DirectorWindowOnDisplay", "1280x720x24", {}, true);
}

TEST(DirectorWindowOnScreens, OpensWithin1920By1080At150Percent) {
    runOnVirtualDisplay("DirectorWindowOnDisplay", "1920x1080x24", {"QT_SCALE_FACTOR=1.5"});
}

TEST(DirectorWindowOnScreens, OpensAtItsDefaultSizeWhereThereIsRoom) {
    runOnVirtualDisplay("DirectorWindowOnDisplay", "1920x1080x24");
}

} // namespace
} // namespace velk

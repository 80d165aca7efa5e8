// The Library window on screens of common sizes, from outside: its frame, title bar included, lies on
// the screen.

#include <QApplication>
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

} // namespace
} // namespace velk::testing

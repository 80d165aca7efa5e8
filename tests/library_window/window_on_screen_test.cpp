// The Library window on screens of common sizes, from outside: its frame, title bar included, lies on
// the screen; and its sidebar at each scale.

#include <QApplication>
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

// Each sidebar button keeps its symbol and words (lighter than its face above them) clear of its
// edges by its frame and half an average character, in the font and at the scale shown.
TEST_F(LibraryWindowOnDisplay, SidebarButtonsHoldTheirSymbolAndWords) {
    if (!test::onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const double scale = window->devicePixelRatio();
    for (const char* name : {"newProject", "renameProject", "collect", "wifi", "sidebarDirector"}) {
        auto* button = window->findChild<QPushButton*>(QString::fromUtf8(name));
        ASSERT_NE(button, nullptr) << name;
        const QImage drawn = button->grab().toImage();
        const int face = qGray(drawn.pixel(drawn.width() / 2, int(3 * scale)));
        int first = drawn.width(), last = -1;
        for (int x = 0; x < drawn.width(); ++x) {
            for (int y = 0; y < drawn.height(); ++y) {
                if (qGray(drawn.pixel(x, y)) >= face + 40) first = std::min(first, x), last = x;
            }
        }
        const double room = (button->fontMetrics().averageCharWidth() / 2.0 + 2) * scale;
        EXPECT_TRUE(first >= room && drawn.width() - 1 - last >= room) << name << " at " << scale << ": " << first << ", " << last;
    }
}

TEST(LibraryWindowOnScreens, OpensWithin1280By720) { test::runOnVirtualDisplay("LibraryWindowOnDisplay", "1280x720x24"); }

TEST(LibraryWindowOnScreens, OpensWithin1280By720WithItsTitleBarUnderAWindowManager) {
    test::runOnVirtualDisplay("LibraryWindowOnDisplay", "1280x720x24", {}, true);
}

TEST(LibraryWindowOnScreens, OpensWithin1920By1080At150Percent) {
    test::runOnVirtualDisplay("LibraryWindowOnDisplay", "1920x1080x24", {"QT_SCALE_FACTOR=1.5"});
}

TEST(LibraryWindowOnScreens, OpensWithin2560By1600At200Percent) {
    test::runOnVirtualDisplay("LibraryWindowOnDisplay", "2560x1600x24", {"QT_SCALE_FACTOR=2"});
}

TEST(LibraryWindowOnScreens, OpensAtItsDefaultSizeWhereThereIsRoom) {
    test::runOnVirtualDisplay("LibraryWindowOnDisplay", "1920x1080x24");
}

} // namespace
} // namespace velk::testing

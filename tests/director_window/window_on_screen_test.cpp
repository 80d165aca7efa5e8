// The Director window on screens of common sizes, from outside: its frame, title bar included, lies on
// the screen, and where its keyboard starts.

#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "app/keyboard_keeper.hpp"
#include "director_fakes.hpp"
#include "director_window/director_inspectors.hpp"
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
        return runAlongside({"xdotool", "getwindowfocus", "getwindowname"}).output == "Kestova Director\n" &&
               QApplication::focusWidget();
    }, 10'000));
    EXPECT_EQ(QApplication::focusWidget(), rig.window->wall()->cell(0)) << QApplication::focusWidget()->objectName().toStdString();
    XKeyboard(*rig.window).type("Return");
    for (const auto& activity : rig.store->activities()) EXPECT_FALSE(activity.message.starts_with("Stop All")) << activity.message;
}

// --- Where the keyboard goes when what the user clicked moves it, under each window manager ---

class DirectorKeyboardOnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        if (!onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
        app();
        rig = std::make_unique<WindowRig>(fourCameras());
        rig->store->createProject("Show");
        rig->channel.beginningBlocks = true;
        rig->window->show();
        rig->window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return runAlongside({"xdotool", "getwindowfocus", "getwindowname"}).output == "Kestova Director\n" &&
                   QApplication::focusWidget();
        }, 10'000)) << "the Director never had the keyboard under " << windowManager();
        // Where the window manager placed it, as the application knows it: where clicks land.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            const std::optional<XPlace> placed = xwininfo({"-id", std::to_string(rig->window->winId())});
            const QPoint at = rig->window->mapToGlobal(QPoint(0, 0)) * rig->window->devicePixelRatio();
            // Within a pixel of the scale: the application keeps its windows' places in points.
            const int near = static_cast<int>(std::ceil(rig->window->devicePixelRatio()));
            return placed && std::abs(placed->x - at.x()) <= near && std::abs(placed->y - at.y()) <= near;
        }, 10'000)) << "the application never learnt where the window is";
    }
    void TearDown() override { rig.reset(); }

    // A click on the X server at `point` of `target`, as the user makes it, handled once `done`.
    static bool click(QWidget& target, QPoint point, const std::function<bool()>& done) {
        const QPoint at = target.mapToGlobal(point) * target.devicePixelRatio();
        runAlongside({"xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()), "click", "1"});
        return QTest::qWaitFor(done, 10'000);
    }
    static bool click(QWidget& target, const std::function<bool()>& done) { return click(target, target.rect().center(), done); }

    // Some control has the keyboard, not one that starts or stops something; Return typed there, also
    // with a modifier held, and keypad Enter send the cameras nothing.
    void expectAHarmlessKeyboard(const char* after) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr) << after << " under " << windowManager();
        EXPECT_FALSE(Keyboard::isGuarded(*focus)) << after << ": " << focus->accessibleName().toStdString() << " "
                                                  << focus->objectName().toStdString() << " under " << windowManager();
        std::cout << "keyboard after " << after << " under " << windowManager() << ": "
                  << (focus->accessibleName().isEmpty() ? focus->objectName() : focus->accessibleName()).toStdString() << "\n";
        const std::size_t begins = rig->channel.begins.size(), stops = rig->channel.stops.size();
        XKeyboard keyboard(*rig->window);
        for (const char* keys : {"Return", "shift+Return", "ctrl+Return", "KP_Enter"}) {
            keyboard.type(keys);
            EXPECT_EQ(rig->channel.begins.size(), begins) << keys << " after " << after << " began a recording";
            EXPECT_EQ(rig->channel.stops.size(), stops) << keys << " after " << after << " stopped the cameras";
        }
    }

    std::unique_ptr<WindowRig> rig;
};

// A click on each other inspector tab while the keyboard is in the Session page's Take field: the page
// that hides takes the field with it, and the page that shows it again gives it back.
TEST_F(DirectorKeyboardOnDisplay, EachTabClickedFromTheTakeField) {
    SessionInspector& session = *rig->window->inspector()->session();
    InspectorTabBar& tabs = *rig->window->inspector()->tabBar();
    const auto clickTab = [&](DirectorInspectorTab tab) {
        return click(tabs, tabs.tabRect(static_cast<int>(tab)).center(), [&] { return rig->window->workspace().inspectorTab == tab; });
    };
    for (const DirectorInspectorTab tab : {DirectorInspectorTab::edits, DirectorInspectorTab::camera, DirectorInspectorTab::audio}) {
        ASSERT_TRUE(clickTab(DirectorInspectorTab::session));
        ASSERT_TRUE(click(*session.takeField(), [&] { return QApplication::focusWidget() == session.takeField(); }));
        ASSERT_TRUE(clickTab(tab));
        expectAHarmlessKeyboard(("the " + std::string(rawValue(tab)) + " tab").c_str());
        // Where the stack put it was not taken for a choice: back on the Session page, the field has it.
        ASSERT_TRUE(clickTab(DirectorInspectorTab::session));
        EXPECT_EQ(QApplication::focusWidget(), session.takeField()) << "back from the " << rawValue(tab) << " tab";
    }
}

// Start Director Session and REC ALL by mouse: each greys out as it acts.
TEST_F(DirectorKeyboardOnDisplay, StartDirectorSessionAndRecAllByMouse) {
    SessionInspector& session = *rig->window->inspector()->session();
    ASSERT_TRUE(click(*session.startButton(), [&] { return rig->window->workspace().timeline.isRunning(); }));
    expectAHarmlessKeyboard("Start Director Session");
    ASSERT_TRUE(click(*session.recAllButton(), [&] { return !rig->channel.begins.empty(); }));
    ASSERT_FALSE(session.recAllButton()->isEnabled());
    expectAHarmlessKeyboard("REC ALL");
}

TEST(DirectorWindowOnScreens, KeyboardUnderOpenboxAt150Percent) {
    runOnVirtualDisplay("DirectorKeyboardOnDisplay", "1920x1080x24", {"QT_SCALE_FACTOR=1.5"}, "openbox");
}

TEST(DirectorWindowOnScreens, KeyboardUnderMutter) {
    runOnVirtualDisplay("DirectorKeyboardOnDisplay", "1400x900x24", {"XDG_CURRENT_DESKTOP=GNOME"}, "mutter");
}

TEST(DirectorWindowOnScreens, KeyboardUnderKWin) { runOnVirtualDisplay("DirectorKeyboardOnDisplay", "1400x900x24", {}, "kwin_x11"); }

TEST(DirectorWindowOnScreens, OpensWithin1280By720) { runOnVirtualDisplay("DirectorWindowOnDisplay", "1280x720x24"); }

TEST(DirectorWindowOnScreens, OpensWithin1280By720WithItsTitleBarUnderAWindowManager) {
    runOnVirtualDisplay("DirectorWindowOnDisplay", "1280x720x24", {}, "openbox");
}

TEST(DirectorWindowOnScreens, OpensWithin1920By1080At150Percent) {
    runOnVirtualDisplay("DirectorWindowOnDisplay", "1920x1080x24", {"QT_SCALE_FACTOR=1.5"});
}

TEST(DirectorWindowOnScreens, OpensAtItsDefaultSizeWhereThereIsRoom) {
    runOnVirtualDisplay("DirectorWindowOnDisplay", "1920x1080x24");
}

} // namespace
} // namespace velk

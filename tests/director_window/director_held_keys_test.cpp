// Keys typed on a real X server (xdotool, the server's own repeats of a held key, each a release and
// a press with the same time stamp), under every platform theme and under a screen reader, whose
// bridge takes every key event and sends it again without its time stamp. One physical press of
// Space, of Return on CUT (with or without a modifier) or of Ctrl+. is one action, also while every
// processor is busy and the GUI thread falls behind, and on a layout where "." needs Shift.

#include <QCheckBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "director_fakes.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window/director_inspectors.hpp"
#include "director_window/switcher_view.hpp"
#include "director_window_support.hpp"
#include "support/child_process.hpp"
#include "support/qt_test.hpp"
#include "support/x_keyboard.hpp"

namespace velk {
namespace {

using namespace test;

std::size_t cuts(DirectorWindow& window) {
    std::size_t count = 0;
    for (const auto& event : window.workspace().timeline.events)
        count += event.transition == DirectorTransition::cut;
    return count;
}

// A running session with Alpha on Program and Bravo on Preview, the window active and the X
// keyboard ready.
struct XSession {
    WindowRig rig;
    std::unique_ptr<XKeyboard> keys;
    explicit XSession(bool liveProductionControls = false) : rig(fourCameras(), liveProductionControls) {
        rig.store->createProject("Show");
        showActive(*rig.window);
        rig.window->startSession();
        rig.window->perform(DirectorTransition::cut); // each cut swaps Preview and Program
        rig.window->selectPreview("cam-2");
        keys = std::make_unique<XKeyboard>(*rig.window);
    }
    DirectorWindow& window() { return *rig.window; }
};

#define VELK_NEEDS_X_SERVER(suiteAndCase)                                                            \
    if (qgetenv("QT_QPA_PLATFORM") != "xcb")                                                      \
    GTEST_SKIP() << "needs an X server: ctest runs it on one as " suiteAndCase ".xcb_*"

TEST(DirectorHeldKeys, OneActionPerPhysicalPressOnABusyXServer) {
    VELK_NEEDS_X_SERVER("DirectorHeldKeys.OneActionPerPhysicalPressOnABusyXServer");
    app();
    XSession session;
    DirectorWindow& window = session.window();
    XKeyboard& keys = *session.keys;
    ASSERT_TRUE(keys.screenReaderTakesKeys());
    window.wall()->cell(0)->setFocus(Qt::TabFocusReason);

    // Every processor busy, and the GUI thread often: events are read and handled late, in bursts.
    std::vector<std::unique_ptr<ChildProcess>> load;
    for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
        load.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{"sh", "-c", "while :; do :; done"}, ""));
    QTimer busy;
    QObject::connect(&busy, &QTimer::timeout, [] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(15);
        while (std::chrono::steady_clock::now() < until) {
        }
    });
    busy.start(40);

    keys.hold("space", 3);
    EXPECT_EQ(cuts(window), 2u) << "Space held for 3 s";
    EXPECT_EQ(window.workspace().timeline.programCameraID, "cam-2");
    keys.type("space");
    keys.type("space");
    EXPECT_EQ(cuts(window), 4u) << "Space pressed twice after it was held";

    window.switcher()->cutButton()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(window.switcher()->cutButton()->hasFocus());
    keys.hold("Return", 1.5);
    EXPECT_EQ(cuts(window), 5u) << "Return held on CUT for 1.5 s";

    keys.hold("ctrl+period", 1.5);
    EXPECT_EQ(session.rig.channel.stops.size(), 1u) << "Ctrl+. held for 1.5 s";
    keys.type("ctrl+period");
    EXPECT_EQ(session.rig.channel.stops.size(), 2u) << "Ctrl+. pressed after it was held";

    busy.stop();
    load.clear();
    keys.expectKeysAsAScreenReaderLeavesThem();
}

TEST(DirectorXKeys, StopAllFollowsTheKeyWhenItsSymbolNeedsShift) {
    VELK_NEEDS_X_SERVER("DirectorXKeys.StopAllFollowsTheKeyWhenItsSymbolNeedsShift");
    app();
    XSession session;
    XKeyboard& keys = *session.keys;
    ASSERT_TRUE(keys.screenReaderTakesKeys());
    // An X server goes back to its own layout when its last client leaves: this program's
    // connection stays open meanwhile.
    ASSERT_EQ(runToEnd({"setxkbmap", "fr"}).status, 0);
    // On the French layout "." is Shift and the ";" key: Stop All is Ctrl+Shift+";", and a hand
    // that lets go of Shift first releases ";" while "." is down.
    for (int press = 0; press < 2; ++press)
        keys.xdotool({"keydown", "ctrl", "keydown", "shift", "keydown", "semicolon", "keyup", "shift", "keyup",
                      "semicolon", "keyup", "ctrl"});
    EXPECT_EQ(session.rig.channel.stops.size(), 2u);
    EXPECT_EQ(runToEnd({"setxkbmap", "us"}).status, 0);
    keys.expectKeysAsAScreenReaderLeavesThem();
}

// Return with Shift, Ctrl or both held answers CUT, a check box of the window and a tile once per
// press, however long the server repeats it.
TEST(DirectorXKeys, ModifiedReturnActsOncePerPress) {
    VELK_NEEDS_X_SERVER("DirectorXKeys.ModifiedReturnActsOncePerPress");
    app();
    XSession session(true); // with the live-production toggle, a check box
    DirectorWindow& window = session.window();
    XKeyboard& keys = *session.keys;
    ASSERT_TRUE(keys.screenReaderTakesKeys());

    window.switcher()->cutButton()->setFocus(Qt::TabFocusReason);
    keys.hold("shift+Return", 1.5);
    EXPECT_EQ(cuts(window), 2u) << "Shift+Return held on CUT for 1.5 s";
    keys.hold("ctrl+Return", 1.5);
    EXPECT_EQ(cuts(window), 3u) << "Ctrl+Return held on CUT for 1.5 s";

    window.setInspectorTab(DirectorInspectorTab::camera);
    QCheckBox* toggle = window.inspector()->camera()->liveProductionToggle();
    ASSERT_TRUE(toggle && toggle->isVisible());
    const bool wasChecked = toggle->isChecked();
    toggle->setFocus(Qt::TabFocusReason);
    keys.hold("ctrl+shift+Return", 1);
    EXPECT_NE(toggle->isChecked(), wasChecked) << "Ctrl+Shift+Return held on a check box";

    window.wall()->cell(2)->setFocus(Qt::TabFocusReason);
    keys.type("shift+KP_Enter");
    EXPECT_EQ(window.workspace().timeline.previewCameraID, "cam-3");
    keys.expectKeysAsAScreenReaderLeavesThem();
}

} // namespace
} // namespace velk

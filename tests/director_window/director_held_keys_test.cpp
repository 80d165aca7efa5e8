// A held key on a real X server: the keyboard's own repeats, delivered as the server sends them
// (each a release and a press with the same time stamp), while every processor is busy and the GUI
// thread falls behind. One physical press of Space, of Return on CUT or of Ctrl+. is one action.
// Keys are held with xdotool from a child process; the cuts are counted in the window's timeline.

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
#include "director_window/switcher_view.hpp"
#include "director_window_support.hpp"
#include "support/child_process.hpp"
#include "support/qt_test.hpp"

namespace velk {
namespace {

using namespace test;

std::size_t cuts(DirectorWindow& window) {
    std::size_t count = 0;
    for (const auto& event : window.workspace().timeline.events)
        count += event.transition == DirectorTransition::cut;
    return count;
}

// Holds `keys` (xdotool's names) for `seconds`, with the GUI thread handling events meanwhile.
void hold(const std::string& keys, double seconds) {
    ChildProcess holder({"sh", "-c", "xdotool keydown \"$0\" && sleep \"$1\"; xdotool keyup \"$0\"", keys,
                         std::to_string(seconds)},
                        "");
    ASSERT_TRUE(waitUntil([&] { return holder.hasExited(); }, static_cast<int>(seconds * 1000) + 20'000));
    runFor(500); // the last repeats still queued
}

TEST(DirectorHeldKeys, OneActionPerPhysicalPressOnABusyXServer) {
    if (qgetenv("QT_QPA_PLATFORM") != "xcb")
        GTEST_SKIP() << "needs an X server: ctest runs it on one as DirectorHeldKeys.*.xcb_plain";
    app();
    WindowRig rig(fourCameras());
    rig.store->createProject("Show");
    showActive(*rig.window);
    DirectorWindow& window = *rig.window;
    window.startSession();
    window.perform(DirectorTransition::cut); // Alpha on Program: each cut swaps Preview and Program
    window.selectPreview("cam-2");
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

    hold("space", 3);
    EXPECT_EQ(cuts(window), 2u) << "Space held for 3 s";
    EXPECT_EQ(window.workspace().timeline.programCameraID, "cam-2");

    window.switcher()->cutButton()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(window.switcher()->cutButton()->hasFocus());
    hold("Return", 1.5);
    EXPECT_EQ(cuts(window), 3u) << "Return held on CUT for 1.5 s";

    hold("ctrl+period", 1.5);
    EXPECT_EQ(rig.channel.stops.size(), 1u) << "Ctrl+. held for 1.5 s";

    busy.stop();
    load.clear();
}

} // namespace
} // namespace velk

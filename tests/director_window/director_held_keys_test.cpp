// Keys typed on a real X server (xdotool, the server's own repeats of a held key, each a release and
// a press with the same time stamp), under every platform theme and under a screen reader, whose
// bridge takes every key event and sends it again without its time stamp. One physical press of
// Space, of Return on CUT (with or without a modifier) or of Ctrl+. is one action, also while every
// processor is busy and the GUI thread falls behind, and on a layout where "." needs Shift. Under
// a screen reader that keeps some keys for itself or answers late, every press of Return or keypad
// Enter on CUT and Marker acts once, and Space cuts only when the reader did not keep it.

#include <QCheckBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "director_fakes.hpp"
#include "app/keyboard_keeper.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window/director_inspectors.hpp"
#include "director_window/switcher_view.hpp"
#include "director_window_support.hpp"
#include "support/build_paths.hpp"
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
    Keyboard::choose(*window.wall()->cell(0));

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

    Keyboard::choose(*window.switcher()->cutButton());
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

    Keyboard::choose(*window.switcher()->cutButton());
    keys.hold("shift+Return", 1.5);
    EXPECT_EQ(cuts(window), 2u) << "Shift+Return held on CUT for 1.5 s";
    keys.hold("ctrl+Return", 1.5);
    EXPECT_EQ(cuts(window), 3u) << "Ctrl+Return held on CUT for 1.5 s";

    window.setInspectorTab(DirectorInspectorTab::camera);
    QCheckBox* toggle = window.inspector()->camera()->liveProductionToggle();
    ASSERT_TRUE(toggle && toggle->isVisible());
    const bool wasChecked = toggle->isChecked();
    Keyboard::choose(*toggle);
    keys.hold("ctrl+shift+Return", 1);
    EXPECT_NE(toggle->isChecked(), wasChecked) << "Ctrl+Shift+Return held on a check box";

    Keyboard::choose(*window.wall()->cell(2));
    keys.type("shift+KP_Enter");
    EXPECT_EQ(window.workspace().timeline.previewCameraID, "cam-3");
    keys.expectKeysAsAScreenReaderLeavesThem();
}

std::size_t markers(DirectorWindow& window) {
    const auto& events = window.workspace().timeline.events;
    return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [](const DirectorEditEvent& event) {
        return event.label == LiveEditTimeline::defaultMarkerLabel;
    }));
}

// Keys typed with xdotool and the actions they must make, all physical presses counted; the GUI
// thread busy for `busyMs` from the moment xdotool starts, as on a loaded computer.
struct Presses {
    const char* what;
    std::vector<std::string> xdotool;
    std::size_t actions;
    int busyMs = 0;
};

struct ReaderKeysSequence {
    const char* name;
    // What the screen reader's keystroke listener does (on_xvfb --screen-reader-keys).
    const char* readerKeys;
    bool onMarker; // else CUT
    std::vector<Presses> presses;
};

std::vector<std::string> held(const std::string& keys, const std::string& seconds) {
    return {"keydown", keys, "sleep", seconds, "keyup", keys};
}
// Shift+keypad Enter held for 2 s, Shift let go half a second before keypad Enter, so that the
// keypad Enter repeats and its release come bare: a screen reader keeps those.
const Presses shiftFirstHold{"Shift+KP_Enter held 2 s, Shift let go first",
                             {"keydown", "shift", "keydown", "KP_Enter", "sleep", "1.5", "keyup", "shift", "sleep",
                              "0.5", "keyup", "KP_Enter"},
                             1};
const Presses ctrlTap{"Ctrl+KP_Enter tapped", {"key", "ctrl+KP_Enter"}, 1};
const Presses altHold{"Alt+KP_Enter held 1 s", held("alt+KP_Enter", "1"), 1};
const Presses ctrlShiftHold{"Ctrl+Shift+KP_Enter held 1 s", held("ctrl+shift+KP_Enter", "1"), 1};
const Presses returnHold{"Return held 1.5 s", held("Return", "1.5"), 1};
const Presses returnTap{"Return tapped", {"key", "Return"}, 1};
// The press and its first hundred repeats reach the application in one burst, long before the
// bridge sends on the press.
const Presses busyReturnHold{"Return held 1.5 s, the application busy for its first second", held("Return", "1.5"), 1,
                             1000};

const std::vector<Presses> keptKeypadEnter{
    shiftFirstHold, ctrlTap, ctrlTap, ctrlTap, altHold, altHold, ctrlShiftHold,
    {"KP_Enter tapped, kept by the screen reader", {"key", "KP_Enter"}, 0}, returnTap};
const std::vector<Presses> lateAnswers{returnHold, busyReturnHold, returnTap, shiftFirstHold,
                                       ctrlTap,    busyReturnHold, returnHold};

// A screen reader's commands, its own key (Insert, or Caps Lock made a plain key) held while another
// is typed, which it keeps, then plain keys in the same breath: nothing else is typed in between
// that the application receives. The key typed with Caps Lock carries no modifier.
std::vector<std::string> afterReaderCommand(const std::string& readerKey, std::vector<std::string> command,
                                            std::initializer_list<std::vector<std::string>> then) {
    command.insert(command.begin(), {"keydown", readerKey});
    command.insert(command.end(), {"keyup", readerKey});
    for (const auto& keys : then) command.insert(command.end(), keys.begin(), keys.end());
    return command;
}
const std::vector<std::string> threeReturnTaps{"key", "Return", "Return", "Return"};
const std::vector<Presses> readerCommandsWithReturn{
    {"Caps Lock+Return held 1 s, kept by the screen reader, then Return tapped 3 times",
     afterReaderCommand("Caps_Lock", held("Return", "1"), {threeReturnTaps}), 3},
    {"Caps Lock+Return tapped, kept by the screen reader, then Return held 1.5 s and tapped",
     afterReaderCommand("Caps_Lock", {"key", "Return"}, {held("Return", "1.5"), {"key", "Return"}}), 2},
    {"Insert+Return held 1 s, kept by the screen reader, then Return tapped 3 times",
     afterReaderCommand("Insert", held("Return", "1"), {threeReturnTaps}), 3},
    {"Insert+Return tapped twice, kept by the screen reader, then Return held 1.5 s and tapped",
     afterReaderCommand("Insert", {"key", "Return", "Return"}, {held("Return", "1.5"), {"key", "Return"}}), 2}};
std::vector<Presses> readerCommandsOnCut() {
    std::vector<Presses> presses = readerCommandsWithReturn;
    presses.insert(presses.end(), {{"Insert+Space tapped, kept by the screen reader, then Space tapped",
                                    afterReaderCommand("Insert", {"key", "space"}, {{"key", "space"}}), 1},
                                   {"Caps Lock+Space tapped, kept by the screen reader, then Space tapped",
                                    afterReaderCommand("Caps_Lock", {"key", "space"}, {{"key", "space"}}), 1}});
    return presses;
}

// A screen reader that takes Caps Lock for its own key makes it a plain key that locks nothing.
void makeCapsLockPlain() {
    ASSERT_EQ(runToEnd({"sh", "-c",
                        "xkbcomp -w 0 \"$DISPLAY\" - | sed '/interpret Caps_Lock/,/};/s/action *=[^;]*;/action= "
                        "NoAction();/' | xkbcomp -w 0 - \"$DISPLAY\""})
                  .status,
              0);
}

class DirectorReaderKeys : public testing::TestWithParam<ReaderKeysSequence> {};

TEST_P(DirectorReaderKeys, EachPressActsOnce) {
    VELK_NEEDS_X_SERVER("Sequences/DirectorReaderKeys.EachPressActsOnce/*");
    const ReaderKeysSequence& sequence = GetParam();
    if (qgetenv("VELK_SCREEN_READER_KEYS") != sequence.readerKeys)
        GTEST_SKIP() << "needs a screen reader whose keys are " << sequence.readerKeys;
    app();
    XSession session;
    DirectorWindow& window = session.window();
    XKeyboard& keys = *session.keys;
    ASSERT_TRUE(keys.screenReaderTakesKeys());
    const bool capsLockIsPlain = std::string(sequence.readerKeys) == "keep-reader-key";
    if (capsLockIsPlain) ASSERT_NO_FATAL_FAILURE(makeCapsLockPlain());
    QPushButton* button = sequence.onMarker ? window.switcher()->markerButton() : window.switcher()->cutButton();
    const auto actions = [&] { return sequence.onMarker ? markers(window) : cuts(window); };
    std::size_t expected = actions();
    for (const Presses& presses : sequence.presses) {
        Keyboard::choose(*button);
        ASSERT_TRUE(button->hasFocus());
        const std::size_t before = actions();
        if (presses.busyMs > 0) {
            QTimer::singleShot(0, [busyMs = presses.busyMs] {
                const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyMs);
                while (std::chrono::steady_clock::now() < until) {
                }
            });
        }
        keys.xdotool(presses.xdotool);
        expected += presses.actions;
        EXPECT_EQ(actions(), expected) << presses.what;
        std::printf("%s on %s: %zu expected, %zu acted\n", presses.what, sequence.onMarker ? "Marker" : "CUT",
                    presses.actions, actions() - before);
    }
    if (capsLockIsPlain) EXPECT_EQ(runToEnd({"setxkbmap", "us"}).status, 0);
    keys.expectKeysAsAScreenReaderLeavesThem();
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, DirectorReaderKeys,
    testing::Values(ReaderKeysSequence{"KeptKeypadEnterOnCut", "keep-keypad-enter", false, keptKeypadEnter},
                    ReaderKeysSequence{"KeptKeypadEnterOnMarker", "keep-keypad-enter", true, keptKeypadEnter},
                    ReaderKeysSequence{"LateAnswersOnCut", "late", false, lateAnswers},
                    ReaderKeysSequence{"LateAnswersOnMarker", "late", true, lateAnswers},
                    ReaderKeysSequence{"ReaderCommandsOnCut", "keep-reader-key", false, readerCommandsOnCut()},
                    ReaderKeysSequence{"ReaderCommandsOnMarker", "keep-reader-key", true, readerCommandsWithReturn}),
    [](const testing::TestParamInfo<ReaderKeysSequence>& named) { return std::string(named.param.name); });

// The screen reader ends (a crash, then a quit) after a key passed through it, and comes again
// between two presses: Space cuts once all the same, never presses the focused FADE or Marker, and
// the command the reader that came keeps (Caps Lock+Space) does not cut.
TEST(DirectorReaderComesAndGoes, SpaceCutsAndPressesNoFocusedButton) {
    VELK_NEEDS_X_SERVER("DirectorReaderComesAndGoes.SpaceCutsAndPressesNoFocusedButton");
    if (qgetenv("VELK_SCREEN_READER_KEYS") != "keep-reader-key") GTEST_SKIP() << "needs a reader that keeps its keys";
    app();
    XSession session;
    DirectorWindow& window = session.window();
    XKeyboard& keys = *session.keys;
    ASSERT_TRUE(keys.screenReaderTakesKeys());
    ASSERT_NO_FATAL_FAILURE(makeCapsLockPlain());
    auto reader = static_cast<pid_t>(qEnvironmentVariableIntValue("VELK_SCREEN_READER_PID"));
    ASSERT_GT(reader, 0) << "on_xvfb tells the listener's process id";
    std::optional<ChildProcess> next;
    for (const auto& [button, ending] : {std::pair{window.switcher()->fadeButton(), SIGKILL},
                                         std::pair{window.switcher()->markerButton(), SIGTERM}}) {
        Keyboard::choose(*button);
        const std::size_t events = window.workspace().timeline.events.size();
        ASSERT_EQ(kill(reader, ending), 0);
        ASSERT_TRUE(waitUntil([&] { return !keys.bridgeTakesKeys(); }, 20'000));
        keys.type("space");
        ASSERT_EQ(window.workspace().timeline.events.size(), events + 1) << button->text().toStdString();
        EXPECT_EQ(window.workspace().timeline.events.back().transition, DirectorTransition::cut);
        next.emplace(std::vector<std::string>{"/usr/bin/python3", sourcePath("tests/support/screen_reader_listener"),
                                              "--keys", "keep-reader-key"},
                     "", true);
        ASSERT_EQ(next->readLine(10'000), "listening");
        ASSERT_TRUE(waitUntil([&] { return keys.bridgeTakesKeys(); }, 20'000));
        keys.xdotool(afterReaderCommand("Caps_Lock", {"key", "space"}, {}));
        EXPECT_EQ(window.workspace().timeline.events.size(), events + 1) << "Caps Lock+Space kept";
        reader = next->pid();
    }
    EXPECT_EQ(runToEnd({"setxkbmap", "us"}).status, 0);
}

} // namespace
} // namespace velk

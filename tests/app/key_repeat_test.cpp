// One physical press, one action: the rule that tells a held key's repeats from new presses, fed
// the sequences the window systems deliver.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/key_repeat.hpp"

namespace velk {
namespace {

// X key codes of the US layout.
constexpr PhysicalKey space = 65;
constexpr PhysicalKey period = 60;
constexpr PhysicalKey control = 37;
constexpr PhysicalKey enter = 36;
constexpr PhysicalKey keypadEnter = 104;
constexpr PhysicalKey capsLock = 66;
constexpr PhysicalKey insert = 118;
// X modifier state masks.
constexpr std::uint32_t shiftHeld = 1;
constexpr std::uint32_t controlHeld = 4;

// 'p' a press, 'f' a press the platform flagged as a repeat, 'r' a release, 'u' every key up (the
// focus went to another application).
struct Step {
    char kind;
    PhysicalKey key;
    std::uint64_t time;
    std::uint32_t state = 0; // the modifiers held, as the window system reports them
};

struct Sequence {
    const char* name;
    std::vector<Step> steps;
    // One letter per press, in order: 'n' a new press, 'r' a repeat.
    std::string verdicts;
};

class KeyRepeatRuleTable : public testing::TestWithParam<Sequence> {};

TEST_P(KeyRepeatRuleTable, TellsRepeatsFromNewPresses) {
    KeyRepeatRule rule;
    std::string verdicts;
    for (const Step& step : GetParam().steps) {
        if (step.kind == 'r') rule.release(step.key, step.time);
        if (step.kind == 'u') rule.releaseAll();
        if (step.kind == 'p' || step.kind == 'f') verdicts += rule.press(step.key, step.time, step.kind == 'f') ? 'r' : 'n';
    }
    EXPECT_EQ(verdicts, GetParam().verdicts);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, KeyRepeatRuleTable,
    testing::Values(
        Sequence{"Tap", {{'p', space, 100}, {'r', space, 180}}, "n"},
        Sequence{"TwoTaps", {{'p', space, 100}, {'r', space, 180}, {'p', space, 400}, {'r', space, 470}}, "nn"},
        // An idle GUI thread: Qt saw each repeated press queued behind its release and flagged both.
        Sequence{"HeldAndFlagged",
                 {{'p', space, 100}, {'r', space, 600}, {'f', space, 600}, {'r', space, 640}, {'f', space, 640},
                  {'r', space, 900}},
                 "nrr"},
        // A busy GUI thread: the release was handled before its press arrived, so nothing is flagged.
        Sequence{"HeldOnABusyThread",
                 {{'p', space, 100}, {'r', space, 600}, {'p', space, 600}, {'r', space, 640}, {'p', space, 640},
                  {'r', space, 680}, {'f', space, 680}, {'r', space, 900}},
                 "nrrr"},
        // A server that repeats a held key without releases.
        Sequence{"HeldWithoutReleases",
                 {{'p', space, 100}, {'p', space, 600}, {'p', space, 640}, {'r', space, 700}, {'p', space, 1200}},
                 "nrrn"},
        // The shortcut check and then the press itself: one press seen twice.
        Sequence{"OnePressSeenTwice", {{'p', space, 100}, {'p', space, 100}, {'r', space, 180}}, "nn"},
        Sequence{"ARepeatSeenTwice",
                 {{'p', space, 100}, {'r', space, 600}, {'p', space, 600}, {'p', space, 600}, {'r', space, 900}},
                 "nrr"},
        Sequence{"TapThenHold",
                 {{'p', space, 100}, {'r', space, 150}, {'p', space, 400}, {'r', space, 900}, {'p', space, 900},
                  {'r', space, 950}},
                 "nnr"},
        // Another key pressed in the same millisecond as a release is a press of its own.
        Sequence{"OtherKeyAtTheReleaseTime", {{'p', space, 100}, {'r', space, 200}, {'p', enter, 200}}, "nn"},
        Sequence{"HeldCtrlPeriod",
                 {{'p', control, 100}, {'p', period, 150}, {'r', period, 600}, {'p', period, 600},
                  {'r', period, 640}, {'p', period, 640}, {'r', period, 700}, {'r', control, 750},
                  {'p', control, 900}, {'p', period, 950}},
                 "nnrrnn"},
        // Events a program made carry no time: only their own flag counts.
        Sequence{"WithoutTimes", {{'p', space, 0}, {'f', space, 0}, {'r', space, 0}, {'p', space, 0}}, "nrn"},
        // Held while the focus went to another application, which got the release.
        Sequence{"ReleaseSeenElsewhere", {{'p', space, 100}, {'u', 0, 0}, {'p', space, 5000}}, "nn"}),
    [](const testing::TestParamInfo<Sequence>& named) { return std::string(named.param.name); });

// What the keyboard recorded (lower case, as above) and what reached the application of it, perhaps
// late (upper case): 'P' a press with its time, 'Q' a press re-sent without it (an assistive tool's
// bridge does that), 'R' and 'S' the same for releases, 'O' a shortcut check of the press at that
// time. One letter per 'P', 'Q' or 'O': 'n' a new press, 'r' a repeat, '-' no such press recorded.
class KeyReceiptTable : public testing::TestWithParam<Sequence> {};

TEST_P(KeyReceiptTable, AnswersEachPressAsItsRecordSays) {
    KeyRepeatRule rule;
    std::string verdicts;
    const auto verdict = [&](std::optional<bool> repeats) { verdicts += !repeats ? '-' : *repeats ? 'r' : 'n'; };
    for (const Step& step : GetParam().steps) {
        switch (step.kind) {
        case 'p': rule.press(step.key, step.time, false, step.state); break;
        case 'r': rule.release(step.key, step.time, step.state); break;
        case 'P': verdict(rule.received(step.key, true, step.time, step.state)); break;
        case 'Q': verdict(rule.received(step.key, true, 0, step.state)); break;
        case 'R': rule.received(step.key, false, step.time, step.state); break;
        case 'S': rule.received(step.key, false, 0, step.state); break;
        case 'O': verdict(rule.pressRepeats(step.key, step.time)); break;
        }
    }
    EXPECT_EQ(verdicts, GetParam().verdicts);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, KeyReceiptTable,
    testing::Values(
        // The shortcut check, then the press, each with its time.
        Sequence{"ShortcutCheckThenPress",
                 {{'p', space, 100}, {'O', space, 100}, {'P', space, 100}, {'R', space, 180}}, "nn"},
        Sequence{"HeldAndReceivedLate",
                 {{'p', enter, 100}, {'r', enter, 600}, {'p', enter, 600}, {'r', enter, 640}, {'p', enter, 640},
                  {'r', enter, 900}, {'P', enter, 100}, {'O', enter, 640}, {'P', enter, 600}, {'P', enter, 640}},
                 "nrrr"},
        // Re-sent without times, in their order, while the keyboard went on.
        Sequence{"HeldAndResent",
                 {{'p', enter, 100}, {'r', enter, 600}, {'p', enter, 600}, {'Q', enter, 0}, {'S', enter, 0},
                  {'r', enter, 640}, {'p', enter, 640}, {'Q', enter, 0}, {'r', enter, 900}, {'S', enter, 0},
                  {'Q', enter, 0}, {'S', enter, 0}},
                 "nrr"},
        Sequence{"HeldThenTappedResent",
                 {{'p', space, 100}, {'r', space, 600}, {'p', space, 600}, {'r', space, 900}, {'p', space, 1200},
                  {'r', space, 1300}, {'Q', space, 0}, {'S', space, 0}, {'Q', space, 0}, {'S', space, 0},
                  {'Q', space, 0}, {'S', space, 0}},
                 "nrn"},
        // A shortcut took the first press; its release, re-sent, passes it, so the repeat that a
        // widget then gets is answered as a repeat.
        Sequence{"PressTakenByAShortcut",
                 {{'p', period, 100}, {'r', period, 600}, {'p', period, 600}, {'r', period, 700}, {'S', period, 0},
                  {'Q', period, 0}, {'S', period, 0}},
                 "r"},
        // Shift+keypad Enter held and Shift let go first: the screen reader keeps the bare repeats
        // and the last release for itself. Ctrl+keypad Enter pressed afterwards is a new press.
        Sequence{"ReaderKeptTheBareRepeats",
                 {{'p', keypadEnter, 100, shiftHeld}, {'r', keypadEnter, 600, shiftHeld},
                  {'p', keypadEnter, 600, shiftHeld}, {'r', keypadEnter, 650}, {'p', keypadEnter, 650},
                  {'r', keypadEnter, 700}, {'p', control, 900}, {'p', keypadEnter, 950, controlHeld},
                  {'r', keypadEnter, 1000, controlHeld}, {'Q', keypadEnter, 0, shiftHeld},
                  {'S', keypadEnter, 0, shiftHeld}, {'Q', keypadEnter, 0, shiftHeld}, {'Q', control, 0},
                  {'Q', keypadEnter, 0, controlHeld}, {'S', keypadEnter, 0, controlHeld}},
                 "nrnn"},
        // Return held, the reader kept its repeats and release; a copy of another key passes them,
        // so the next tap of Return is a new press.
        Sequence{"PassedByACopyOfAnotherKey",
                 {{'p', enter, 100}, {'r', enter, 600}, {'p', enter, 600}, {'r', enter, 640}, {'p', enter, 640},
                  {'r', enter, 900}, {'p', space, 1000}, {'r', space, 1050}, {'p', enter, 1200}, {'r', enter, 1250},
                  {'Q', enter, 0}, {'Q', space, 0}, {'S', space, 0}, {'Q', enter, 0}, {'S', enter, 0}},
                 "nnn"},
        // A screen reader keeps its own key (a Caps Lock that sets no modifier, or Insert) and what
        // is typed with it: Return held with Caps Lock, then Return tapped three times.
        Sequence{"ReaderKeptAHoldWithItsKey",
                 {{'p', capsLock, 100}, {'p', enter, 200}, {'r', enter, 700}, {'p', enter, 700}, {'r', enter, 740},
                  {'p', enter, 740}, {'r', enter, 900}, {'r', capsLock, 1000}, {'p', enter, 1200}, {'Q', enter, 0},
                  {'r', enter, 1250}, {'S', enter, 0}, {'p', enter, 1400}, {'Q', enter, 0}, {'r', enter, 1450},
                  {'S', enter, 0}, {'p', enter, 1600}, {'Q', enter, 0}, {'r', enter, 1650}, {'S', enter, 0}},
                 "nnn"},
        // Return tapped with Caps Lock and kept, then held, then tapped.
        Sequence{"ReaderKeptATapWithItsKeyBeforeAHold",
                 {{'p', capsLock, 100}, {'p', enter, 150}, {'r', enter, 200}, {'r', capsLock, 250}, {'p', enter, 400},
                  {'Q', enter, 0}, {'r', enter, 900}, {'p', enter, 900}, {'S', enter, 0}, {'Q', enter, 0},
                  {'r', enter, 940}, {'p', enter, 940}, {'S', enter, 0}, {'Q', enter, 0}, {'r', enter, 1100},
                  {'S', enter, 0}, {'p', enter, 1300}, {'Q', enter, 0}, {'r', enter, 1350}, {'S', enter, 0}},
                 "nrrn"},
        // Two kept taps with Insert do not add up: the hold after them still repeats.
        Sequence{"ReaderKeptTapsWithItsKeyBeforeAHold",
                 {{'p', insert, 100}, {'p', enter, 150}, {'r', enter, 200}, {'r', insert, 250}, {'p', insert, 300},
                  {'p', enter, 350}, {'r', enter, 400}, {'r', insert, 450}, {'p', enter, 600}, {'Q', enter, 0},
                  {'r', enter, 1100}, {'p', enter, 1100}, {'S', enter, 0}, {'Q', enter, 0}, {'r', enter, 1200},
                  {'S', enter, 0}},
                 "nr"},
        // An event with its time is found even after a later copy passed it.
        Sequence{"TimedAfterALaterCopy",
                 {{'p', space, 100}, {'r', space, 180}, {'p', enter, 200}, {'Q', enter, 0}, {'P', space, 100}}, "nn"},
        Sequence{"NothingRecorded", {{'Q', space, 0}, {'P', space, 100}, {'O', space, 100}, {'O', space, 0}}, "----"},
        // A release without a time, re-sent elsewhere, still lets the key up.
        Sequence{"ReleaseWithoutTime", {{'p', space, 100}, {'r', space, 0}, {'p', space, 400}, {'O', space, 400}},
                 "n"}),
    [](const testing::TestParamInfo<Sequence>& named) { return std::string(named.param.name); });

// A bridge waiting on a late answer holds back a held key's copies while the server repeats it a
// hundred times a second: the press's copy, arriving after a hundred repeats, is still the press.
TEST(KeyRepeatRule, ACopyArrivingAfterAHundredRepeatsIsStillThePress) {
    KeyRepeatRule rule;
    rule.press(enter, 100, false);
    for (std::uint64_t time = 600; time < 1600; time += 10) {
        rule.release(enter, time);
        rule.press(enter, time, false);
    }
    rule.release(enter, 1600);
    EXPECT_EQ(rule.received(enter, true, 0), std::optional<bool>(false));
    EXPECT_EQ(rule.received(enter, false, 0), std::optional<bool>(false));
    EXPECT_EQ(rule.received(enter, true, 0), std::optional<bool>(true));
}

// The key, not its symbol: on the French layout "." is Shift and the ";" key, whose release comes
// as ";" when Shift was let go first.
TEST(PhysicalKey, IsTheScanCodeWhereAnEventCarriesOne) {
    EXPECT_EQ(physicalKey(59, '.'), physicalKey(59, ';'));
    EXPECT_NE(physicalKey(0, '.'), physicalKey(0, ';'));
    EXPECT_NE(physicalKey('.', 0), physicalKey(0, '.'));
}

} // namespace
} // namespace velk

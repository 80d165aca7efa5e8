#pragma once
// One physical press of a key is one action, however long the key is held and whatever the window
// system does with a held key. An X server repeats a held key as a release and a press that carry
// the same time stamp; Qt marks the pair as a repeat only when the press has already arrived as it
// handles the release, which a busy GUI thread does not guarantee. A server that reports repeats
// without releases sends presses of a key that is still down.
//
// A key is the physical key, not its symbol, which changes with Shift: on a layout where "." is
// Shift and another key, a hand that lets go of Shift first releases that other key's symbol.
//
// Whoever else filters key events does not change the answer. An assistive tool's bridge (Qt's
// AT-SPI bridge, while a screen reader listens) takes every key event ahead of the application's
// filters and sends a copy later, without its time stamp, once the screen reader answered: not at
// all for an event the reader kept for itself, and in one burst when an answer came too late. So
// on an X server the rule is fed the server's own events, each with its time, key code and
// modifier state, before any Qt filter sees them; a key event the application receives later,
// with or without its time, gets the answer its press got. Copies keep the server's order, so a
// copy passes every event recorded before its own: one the reader kept never shifts the answer of
// a later one. A reader keeps the keys typed while its own key is held (Insert, or a Caps Lock it
// made a plain key, so the kept keys carry no modifier state), and that key's press too: a key
// event made while another key was down whose press never arrived is taken for kept, not for the
// original of a copy that a later event of the same key may have. Qt checks a window's shortcuts
// before the bridge sees a press; where a bridge may take the keys, that check is left to the
// press as it reaches its widget: the bridge's copy, so a command the reader keeps (Insert+Space)
// does not act in the application, or the server's press, sent on as a copy would be, when no
// bridge took it (a screen reader may start, quit or crash between two presses).
//
// `KeyRepeatRule` is the rule as a plain value; `KeyRepeat` feeds it and answers whether the
// press the application is handling is a repeat.

#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

class QKeyEvent;

namespace velk {

// A key of the keyboard: the window system's scan code for it (an X server's key code), or its
// symbol (`Qt::Key`) for an event that carries none, as one a program made. Never the same for
// a scan code and a symbol.
using PhysicalKey = std::uint64_t;
PhysicalKey physicalKey(std::uint32_t nativeScanCode, int symbol);

class KeyRepeatRule {
public:
    // What the keyboard did, in the order it did it: a press of `key` at `time` (the window
    // system's milliseconds) with the modifier `state` the window system reported for it (an X
    // server's state mask), and whether the platform flagged it as a repeat. Returns whether it
    // is a repeat. The same press told again (a shortcut check, then the press itself) gets the
    // same answer. A press without a time (0) was made by a program, not a keyboard: it counts as
    // what its flag says and leaves the record alone; a release without a time still lets the key
    // up.
    bool press(PhysicalKey key, std::uint64_t time, bool flaggedRepeat, std::uint32_t state = 0);
    void release(PhysicalKey key, std::uint64_t time, std::uint32_t state = 0);

    // A press or release of `key` that reached the application, perhaps well after the keyboard
    // made it: the recorded answer of that press (a release answers false). With its time, the
    // event recorded with that time; re-sent without one (0), the oldest event of that key, kind
    // and modifier state that nothing received has passed yet, since a bridge sends events on in
    // their order; but not one made while another key was down whose press no received event
    // matched, since that press's copy would have come first (a screen reader kept that key, and
    // what was typed with it), unless no other event fits. Every event recorded before the one it
    // matches, of any key, is passed: a shortcut or an assistive tool took it, and it never
    // arrives. None when the record holds no such event.
    std::optional<bool> received(PhysicalKey key, bool isPress, std::uint64_t time, std::uint32_t state = 0);
    // The recorded answer of the key's press at `time`, wherever it is on its way (a shortcut
    // check sees it before the press arrives); none for a press not recorded.
    std::optional<bool> pressRepeats(PhysicalKey key, std::uint64_t time) const;

    // Every key counts as up: the releases of keys held now go to another application.
    void releaseAll();

private:
    struct Event {
        PhysicalKey key = 0;
        bool isPress = false;
        std::uint64_t time = 0;
        std::uint32_t state = 0;
        bool repeats = false;
        // Whether a key event the application received matched it.
        bool received = false;
        // The presses (numbered as `m_recorded` counts) of the other keys down as it was made.
        std::vector<std::uint64_t> otherKeysDown;
    };
    struct History {
        bool down = false;
        std::uint64_t pressTime = 0;
        std::uint64_t pressNumber = 0;
        bool pressRepeats = false;
        bool released = false;
        std::uint64_t releaseTime = 0;
    };
    void record(Event event);
    // Whether `event` was made while another key was down whose recorded press nothing received.
    bool madeWithAKeyNeverReceived(const Event& event) const;
    std::unordered_map<PhysicalKey, History> m_keys;
    // The latest events of every key, oldest first; those before `m_passed` were received or
    // passed.
    std::deque<Event> m_events;
    std::size_t m_passed = 0;
    // How many events were ever recorded: the front of `m_events` is number m_recorded - size.
    std::uint64_t m_recorded = 0;
};

namespace KeyRepeat {

// Feeds the rule from the X server's events where the application runs on one (app/x11_windows
// hands them on), else from the key events the window system hands the application's windows;
// `Accessibility::install` calls it.
void install();

// A key event as the X server sent it, before any Qt filter saw it: its key code, time and
// modifier state mask.
void serverKey(bool isPress, std::uint32_t keyCode, std::uint64_t time, std::uint32_t state);

// Whether this press is a repeat of a key held down: flagged by the platform, or so judged by the
// rule for the press the window system delivered.
bool isRepeat(const QKeyEvent& event);

// Whether the press of the key whose symbol is `symbol`, being handled now (by a shortcut, which
// sees no event), is a repeat.
bool latestPressRepeats(int symbol);
// Whether the press being handled now is a repeat, whatever symbol the layout gives its key (Qt
// matches a letter's shortcut on a layout of another script too): for a shortcut's own event, which
// only a press sends.
bool latestPressRepeats();

} // namespace KeyRepeat
} // namespace velk

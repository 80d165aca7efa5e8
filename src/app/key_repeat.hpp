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
// `KeyRepeatRule` is the rule as a plain value; `KeyRepeat` watches every key event the window
// system delivers to the application's windows and answers whether a press is a repeat.

#include <cstdint>
#include <unordered_map>

class QKeyEvent;

namespace velk {

// A key of the keyboard: the window system's scan code for it (an X server's key code), or its
// symbol (`Qt::Key`) for an event that carries none, as one a program made. Never the same for
// a scan code and a symbol.
using PhysicalKey = std::uint64_t;
PhysicalKey physicalKey(std::uint32_t nativeScanCode, int symbol);

class KeyRepeatRule {
public:
    // A press of `key` at `time` (the window system's milliseconds), and whether the platform
    // flagged it as a repeat. Returns whether it is a repeat. The same press seen again (a shortcut
    // check, then the press itself) gets the same answer. An event without a time (0) was made by a
    // program, not a keyboard: it counts as what its flag says and leaves the history alone.
    bool press(PhysicalKey key, std::uint64_t time, bool flaggedRepeat);
    void release(PhysicalKey key, std::uint64_t time);
    // The answer given to the key's latest press while the key is still down; false once released.
    bool latestPressRepeats(PhysicalKey key) const;
    // Whether the key's press at `time` was answered as a repeat (false for a press never seen).
    bool pressRepeats(PhysicalKey key, std::uint64_t time) const;
    // Every key counts as up: the releases of keys held now go to another application.
    void releaseAll();

private:
    struct History {
        bool down = false;
        std::uint64_t pressTime = 0;
        bool pressRepeats = false;
        bool released = false;
        std::uint64_t releaseTime = 0;
    };
    std::unordered_map<PhysicalKey, History> m_keys;
};

namespace KeyRepeat {

// Watches the key events of every window of the application; `Accessibility::install` calls it.
void install();

// Whether this press is a repeat of a key held down: flagged by the platform, or so judged by the
// rule for the press the window system delivered.
bool isRepeat(const QKeyEvent& event);

// Whether the press of the key whose symbol is `symbol`, being handled now (by a shortcut, which
// sees no event), is a repeat.
bool latestPressRepeats(int symbol);

} // namespace KeyRepeat
} // namespace velk

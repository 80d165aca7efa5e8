#pragma once
// Where the keyboard goes when it moves without the user choosing a control, as one plain rule over
// controls of any type `C`: a focused control hidden, greyed out or deleted, a page or tab switched,
// a window activated, a dialog (sheet, alert, file panel) closed, a job (pairing, download, export,
// a session started) ending. Whatever moved it, the keyboard goes to the control the user last
// chose that can still take it, else to the window's home, else to any other control of the
// window; never to nothing while one that is not guarded can take it. When only guarded controls are
// left, none of them gets it: the window keeps it itself.
//
// A guarded control (one that starts, stops, ends or removes something: Stop All, REC ALL, STOP
// ALL, Return to Camera, a remove or trash action) holds the keyboard only where the user put it
// himself with Tab and it still is: the rule keeps it there, and never gives it one. So a guarded control
// that greyed out after the user used it does not get the keyboard back when it comes back, and no
// other guarded control gets it instead.

#include <vector>

namespace velk::KeyboardRule {

// Why the keyboard moves. The rule is the same for every cause; the window reports the causes it
// sees (a page switched, a job ended) and the widget layer the others.
enum class Cause { controlHidden, controlDisabled, controlDeleted, pageSwitched, windowActivated, dialogClosed, jobEnded };

template <class C>
struct Situation {
    // The control that has the keyboard now, where it was left (null: none).
    const C* current = nullptr;
    // The controls the user chose (Tab, Shift+Tab, a click, a mnemonic, an arrow among a group's
    // buttons), the latest first.
    std::vector<const C*> chosen;
    // The window's home, in order of preference.
    std::vector<const C*> home;
    // Every other control of the window in Tab order: the last resort.
    std::vector<const C*> others;
};

// The control that gets the keyboard; null when no control of the window can take it but guarded
// ones: then no control has it, and the window keeps it.
// `canTake(c)`: shown, enabled and taking the focus; `guarded(c)`: as above.
template <class C, class CanTake, class Guarded>
const C* keyboardGoesTo(const Situation<C>& situation, CanTake canTake, Guarded guarded) {
    const C* current = situation.current;
    // The user's own latest choice, where it still is, stays: guarded or not.
    if (current && !situation.chosen.empty() && situation.chosen.front() == current && canTake(*current)) return current;
    const auto first = [&](const std::vector<const C*>& controls) -> const C* {
        for (const C* control : controls) {
            if (control && canTake(*control) && !guarded(*control)) return control;
        }
        return nullptr;
    };
    if (const C* chosen = first(situation.chosen)) return chosen;
    if (const C* home = first(situation.home)) return home;
    // Where the window or the platform put it, when it has no home (a dialog's own first control).
    if (current && canTake(*current) && !guarded(*current)) return current;
    return first(situation.others);
}

} // namespace velk::KeyboardRule

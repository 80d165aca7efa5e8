#pragma once
// The keyboard's one rule (app/keyboard_rule) wired to Qt's widgets. Qt moves the keyboard by itself
// when a focused control is hidden, greyed out or deleted, or a page is switched (on along the Tab
// chain, often onto a control that starts or stops recording), and gives an activated window the
// control it had or its first one; a kept window puts it where the rule says instead, at once, so no
// key typed after the move reaches the control Qt chose.
//
// A window names its home and its guarded controls; everything else is watched here: which focus
// moves were the user's own, told from the input itself (Tab or Shift+Tab pressed, a press, a mnemonic
// or shortcut, an arrow key within a group) or made with `choose`, and which were not (any other),
// and every page switch of a stack (QStackedWidget, one in a tab widget too). The window reports the
// causes only it sees (a job ended, its home changed) with `settle`. Wherever the rule moves the keyboard, the
// control shows its focus mark, as after a Tab: the user did not send it there and must see where
// it went.

#include <functional>
#include <vector>

class QWidget;

namespace velk::Keyboard {

// A control that starts, stops, ends or removes something: it takes the keyboard from Tab (and
// Shift+Tab) only, never from a click, which presses it and leaves the keyboard where it was, nor by
// a move the user did not make. Call it after anything else that sets the control's focus policy.
void guard(QWidget& control);
bool isGuarded(const QWidget& control);

// Whether `control` can hold the keyboard now: shown in its window, enabled, taking the focus.
bool canTake(const QWidget& control);

// The window's home, in order of preference; null entries are passed over.
using Home = std::function<std::vector<QWidget*>()>;

// From now on the keyboard of `window` (a top-level widget) goes by the rule. A window without a
// home of its own (a sheet, an alert) keeps the control it opened on, or else its first one.
// Calling it again replaces the home.
void keep(QWidget& window, Home home = {});

// The window saw the keyboard's place change without a focus event (a job ended, its home changed): unless the user put the keyboard where it is, it goes where the rule says.
void settle(QWidget& window);

// The window chooses `control` for the user (a screen reader's focus action): it takes the keyboard,
// with its focus mark as after a Tab, as the user's latest choice.
void choose(QWidget& control);

// `to` now stands for what `from` stood for (a section rebuilt, which had the keyboard on `from` as
// it began): it takes `from`'s place among the user's choices, and the keyboard, wherever Qt moved
// it meanwhile.
void handOn(QWidget& from, QWidget& to);

} // namespace velk::Keyboard

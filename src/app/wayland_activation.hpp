#pragma once
// xdg-activation-v1 on Qt's Wayland connection, for app/window_activation. Nothing here exists on
// another platform.
//
// It shares Qt's wl_display (through Qt's platform native interface) but keeps its own event
// queue, so Qt's dispatch never runs its handlers and its round trips never wait on Qt's. On that
// queue it binds each wl_seat again, with a pointer and a keyboard of its own, which the
// compositor tells what it tells Qt's: so it knows the serial of the user's latest button or key
// press and of the keyboard's latest focus, and which surfaces have the pointer and the keyboard,
// also for clicks on a window a dialog blocks, which Qt drops. The queue is dispatched (never
// waited on) whenever the GUI thread wakes, so the events never pile up.
//
// An activation: a wl_display.sync first (its answer comes after every event the compositor sent
// before it, so the focus a closing menu gave back is known), then a token asked with the latest
// event's serial, its seat and surface (app/activation_input), then xdg_activation_v1.activate
// for the window's surface with it. Nothing waits: each step runs as its answer is dispatched, and
// an activation not through within `bound` is given up and its fallback runs.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QWindow;

namespace velk {

class WaylandActivation {
public:
    // Its own on Qt's Wayland platform once the compositor offered xdg_activation_v1 (it is
    // asked as this is first called; calls until it answered get null), else null.
    static WaylandActivation* instance();

    // Asks the compositor to activate `window`, with `token` when it is not empty, else with one asked
    // for now. A later call replaces an earlier one still under way. `fallback` runs when there is
    // no input event to ask a token with, the window has no surface, or the compositor did not
    // answer within `bound`.
    void activate(QWindow& window, std::string token, std::function<void()> fallback,
                  std::chrono::milliseconds bound = std::chrono::milliseconds(1000));
    // Asks the compositor to bring `window` forward with a token made from no input event, which
    // it refuses, marking the window as asking for attention (GNOME tells "“TITLE” is ready", KWin
    // marks it in the task bar); the keyboard stays where it is. An activation under way goes on.
    void askForAttention(QWindow& window);

    WaylandActivation(const WaylandActivation&) = delete;
    WaylandActivation& operator=(const WaylandActivation&) = delete;
    ~WaylandActivation();

    struct State;

private:
    WaylandActivation();
    std::unique_ptr<State> m_state;
};

} // namespace velk

#pragma once
// Which of the user's input events an activation token is asked with on Wayland, and for which
// surface. A compositor activates a window only with a token made from a recent input event that it
// sent to this application (xdg-activation-v1): mutter takes the serial of the latest button press
// while the surface still has the pointer, or of the latest key press or keyboard focus while the
// surface has the keyboard; wlroots takes any serial it sent, with the surface that has the
// keyboard. So the latest of those events across the seats is the one, with the surface that has
// the pointer now (a press) or the keyboard now (a key or the focus), when it is one of ours.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velk::ActivationInput {

// One input event: the compositor's serial, and when it came among all the events tracked (a
// counter, larger is later).
struct Event {
    std::uint32_t serial = 0;
    std::uint64_t order = 0;
};

// What one seat told the application: its latest button press, key press and keyboard focus
// (wl_keyboard.enter), and the surfaces that have its pointer and its keyboard now (none: Surface{}).
template <class Surface>
struct Seat {
    std::optional<Event> buttonPress;
    std::optional<Event> keyPress;
    std::optional<Event> keyboardEnter;
    Surface pointerFocus{};
    Surface keyboardFocus{};
};

template <class Surface>
struct TokenRequest {
    std::size_t seat = 0; // index into the seats
    std::uint32_t serial = 0;
    Surface surface{};
};

// The latest event on any seat, with its surface: a press's is the surface under the pointer, a
// key's or the focus's the surface with the keyboard; where that one is not the application's
// (`ours` says no: a popup that has gone, another client's), the seat's other focus. None when no
// seat has an event or neither focus of its seat is the application's.
template <class Surface, class Ours>
std::optional<TokenRequest<Surface>> tokenRequest(const std::vector<Seat<Surface>>& seats, Ours ours) {
    std::optional<TokenRequest<Surface>> chosen;
    std::uint64_t latest = 0;
    for (std::size_t index = 0; index < seats.size(); ++index) {
        const Seat<Surface>& seat = seats[index];
        const auto consider = [&](const std::optional<Event>& event, Surface first, Surface second) {
            if (!event || (chosen && event->order <= latest)) return;
            const Surface surface = ours(first) ? first : ours(second) ? second : Surface{};
            if (surface == Surface{}) return;
            chosen = TokenRequest<Surface>{index, event->serial, surface};
            latest = event->order;
        };
        consider(seat.buttonPress, seat.pointerFocus, seat.keyboardFocus);
        consider(seat.keyPress, seat.keyboardFocus, seat.pointerFocus);
        consider(seat.keyboardEnter, seat.keyboardFocus, seat.pointerFocus);
    }
    return chosen;
}

} // namespace velk::ActivationInput

#include "app/wayland_activation.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include "app/activation_input.hpp"
#include "xdg-activation-v1-client-protocol.h"

namespace velk {

namespace {

// The wl_seat version bound: wl_pointer.frame and the rest of version 5 are answered (with
// nothing), and its pointer and keyboard can be released.
constexpr std::uint32_t seatVersion = 5;

QPlatformNativeInterface* nativeInterface() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
               ? QGuiApplication::platformNativeInterface()
               : nullptr;
}

// The window's wl_surface, or null while it has none (not shown yet, or hidden).
wl_surface* surfaceOf(QWindow& window) {
    QPlatformNativeInterface* native = nativeInterface();
    if (!native || !window.handle()) return nullptr;
    return static_cast<wl_surface*>(native->nativeResourceForWindow("surface", &window));
}

// Whether `surface` is one of this application's windows now; a surface the application destroyed
// since an event named it is no longer any window's, so it is never used.
bool ours(wl_surface* surface) {
    if (!surface) return false;
    const QWindowList windows = QGuiApplication::allWindows();
    return std::any_of(windows.begin(), windows.end(), [surface](QWindow* window) { return surfaceOf(*window) == surface; });
}

} // namespace

struct WaylandActivation::State {
    struct Seat {
        State* state = nullptr;
        std::uint32_t name = 0;
        wl_seat* seat = nullptr;
        wl_pointer* pointer = nullptr;
        wl_keyboard* keyboard = nullptr;
        ActivationInput::Seat<wl_surface*> input;
    };

    struct Attempt {
        QPointer<QWindow> window;
        std::string token;
        std::function<void()> fallback;
        wl_callback* sync = nullptr;
        xdg_activation_token_v1* request = nullptr;
        // A sync on Qt's own queue, asked once the token came: its answer is dispatched after every
        // event of Qt's that came before it.
        wl_callback* behindQt = nullptr;
    };

    // A request for attention: a token asked with no input event, then `activate` with it.
    struct Attention {
        xdg_activation_token_v1* request = nullptr;
        QPointer<QWindow> window;
    };
    std::vector<Attention> attention;

    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_display* wrapper = nullptr; // the display's proxy on this queue
    wl_registry* registry = nullptr;
    xdg_activation_v1* activation = nullptr;
    std::vector<std::unique_ptr<Seat>> seats;
    std::uint64_t order = 0;
    bool broken = false; // the connection failed: nothing more is asked
    std::optional<Attempt> attempt;
    QObject context;
    QTimer deadline;
    QTimer pump;
    // Requests for attention the compositor has not answered within it are given up.
    QTimer attentionDeadline;

    void dispatch() {
        if (broken) return;
        if (wl_display_dispatch_queue_pending(display, queue) < 0) {
            broken = true;
            finish(true);
        }
    }
    void flush() {
        if (!broken) wl_display_flush(display);
    }

    std::uint64_t next() { return ++order; }

    void stopWaitingForAttention() {
        attentionDeadline.stop();
        if (!attempt) pump.stop();
    }
    void giveUpAttention() {
        for (const Attention& asked : attention) xdg_activation_token_v1_destroy(asked.request);
        attention.clear();
        stopWaitingForAttention();
    }

    void finish(bool fallBack) {
        deadline.stop();
        if (attention.empty()) pump.stop();
        if (!attempt) return;
        if (attempt->sync) wl_callback_destroy(attempt->sync);
        if (attempt->request) xdg_activation_token_v1_destroy(attempt->request);
        if (attempt->behindQt) wl_callback_destroy(attempt->behindQt);
        std::function<void()> fallback = std::move(attempt->fallback);
        attempt.reset();
        if (fallBack && fallback) fallback();
    }

    // The compositor has answered the sync: every event it sent before is in.
    void synced() {
        wl_callback_destroy(attempt->sync);
        attempt->sync = nullptr;
        wl_surface* target = attempt->window ? surfaceOf(*attempt->window) : nullptr;
        if (!activation || !target) return finish(true);
        if (!attempt->token.empty()) return activate(attempt->token);
        std::vector<ActivationInput::Seat<wl_surface*>> inputs;
        for (const auto& seat : seats) inputs.push_back(seat->input);
        const auto chosen = ActivationInput::tokenRequest(inputs, &ours);
        if (!chosen) return finish(true);
        attempt->request = xdg_activation_v1_get_activation_token(activation);
        xdg_activation_token_v1_set_serial(attempt->request, chosen->serial, seats[chosen->seat]->seat);
        xdg_activation_token_v1_set_surface(attempt->request, chosen->surface);
        const QString appID = QGuiApplication::desktopFileName();
        if (!appID.isEmpty()) xdg_activation_token_v1_set_app_id(attempt->request, appID.toUtf8().constData());
        xdg_activation_token_v1_add_listener(attempt->request, &tokenListener, this);
        xdg_activation_token_v1_commit(attempt->request);
        flush();
    }

    void activate(const std::string& token) {
        wl_surface* target = attempt->window ? surfaceOf(*attempt->window) : nullptr;
        if (!target) return finish(true);
        xdg_activation_v1_activate(activation, token.c_str(), target);
        flush();
        finish(false);
    }

    void addSeat(std::uint32_t name, std::uint32_t version) {
        auto seat = std::make_unique<Seat>();
        seat->state = this;
        seat->name = name;
        seat->seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, seatVersion)));
        wl_seat_add_listener(seat->seat, &seatListener, seat.get());
        seats.push_back(std::move(seat));
    }

    static void release(Seat& seat, bool pointer, bool keyboard) {
        const bool canRelease = wl_seat_get_version(seat.seat) >= 3;
        if (pointer && seat.pointer) {
            canRelease ? wl_pointer_release(seat.pointer) : wl_pointer_destroy(seat.pointer);
            seat.pointer = nullptr;
            seat.input.pointerFocus = nullptr;
        }
        if (keyboard && seat.keyboard) {
            canRelease ? wl_keyboard_release(seat.keyboard) : wl_keyboard_destroy(seat.keyboard);
            seat.keyboard = nullptr;
            seat.input.keyboardFocus = nullptr;
        }
    }

    static void removeSeat(std::unique_ptr<Seat>& seat) {
        release(*seat, true, true);
        wl_seat_get_version(seat->seat) >= 5 ? wl_seat_release(seat->seat) : wl_seat_destroy(seat->seat);
        seat.reset();
    }

    // --- the compositor's events ---

    static void global(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
        auto* state = static_cast<State*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0) {
            state->addSeat(name, version);
        } else if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0 && !state->activation) {
            state->activation =
                static_cast<xdg_activation_v1*>(wl_registry_bind(state->registry, name, &xdg_activation_v1_interface, 1));
        }
    }
    static void globalRemove(void* data, wl_registry*, std::uint32_t name) {
        auto* state = static_cast<State*>(data);
        for (auto& seat : state->seats) {
            if (seat && seat->name == name) removeSeat(seat);
        }
        std::erase(state->seats, nullptr);
    }
    static constexpr wl_registry_listener registryListener{&global, &globalRemove};

    static void capabilities(void* data, wl_seat*, std::uint32_t capabilities) {
        auto* seat = static_cast<Seat*>(data);
        const bool pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
        const bool keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
        release(*seat, !pointer, !keyboard);
        if (pointer && !seat->pointer) {
            seat->pointer = wl_seat_get_pointer(seat->seat);
            wl_pointer_add_listener(seat->pointer, &pointerListener, seat);
        }
        if (keyboard && !seat->keyboard) {
            seat->keyboard = wl_seat_get_keyboard(seat->seat);
            wl_keyboard_add_listener(seat->keyboard, &keyboardListener, seat);
        }
        seat->state->flush();
    }
    static void seatName(void*, wl_seat*, const char*) {}
    static constexpr wl_seat_listener seatListener{&capabilities, &seatName};

    static void pointerEnter(void* data, wl_pointer*, std::uint32_t, wl_surface* surface, wl_fixed_t, wl_fixed_t) {
        static_cast<Seat*>(data)->input.pointerFocus = surface;
    }
    static void pointerLeave(void* data, wl_pointer*, std::uint32_t, wl_surface*) {
        static_cast<Seat*>(data)->input.pointerFocus = nullptr;
    }
    static void motion(void*, wl_pointer*, std::uint32_t, wl_fixed_t, wl_fixed_t) {}
    static void button(void* data, wl_pointer*, std::uint32_t serial, std::uint32_t, std::uint32_t, std::uint32_t pressed) {
        auto* seat = static_cast<Seat*>(data);
        if (pressed == WL_POINTER_BUTTON_STATE_PRESSED) seat->input.buttonPress = {serial, seat->state->next()};
    }
    static void axis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
    static void frame(void*, wl_pointer*) {}
    static void axisSource(void*, wl_pointer*, std::uint32_t) {}
    static void axisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
    static void axisSteps(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
    static constexpr wl_pointer_listener pointerListener{&pointerEnter, &pointerLeave, &motion,    &button,
                                                         &axis,         &frame,        &axisSource, &axisStop,
                                                         &axisSteps,    &axisSteps};

    static void keymap(void*, wl_keyboard*, std::uint32_t, std::int32_t descriptor, std::uint32_t) {
        ::close(descriptor); // Qt's own keyboard reads the keymap
    }
    static void keyboardEnter(void* data, wl_keyboard*, std::uint32_t serial, wl_surface* surface, wl_array*) {
        auto* seat = static_cast<Seat*>(data);
        seat->input.keyboardFocus = surface;
        seat->input.keyboardEnter = {serial, seat->state->next()};
    }
    static void keyboardLeave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
        static_cast<Seat*>(data)->input.keyboardFocus = nullptr;
    }
    static void key(void* data, wl_keyboard*, std::uint32_t serial, std::uint32_t, std::uint32_t, std::uint32_t pressed) {
        auto* seat = static_cast<Seat*>(data);
        if (pressed == WL_KEYBOARD_KEY_STATE_PRESSED) seat->input.keyPress = {serial, seat->state->next()};
    }
    static void modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t) {}
    static void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
    static constexpr wl_keyboard_listener keyboardListener{&keymap, &keyboardEnter, &keyboardLeave,
                                                           &key,    &modifiers,     &repeatInfo};

    static void syncDone(void* data, wl_callback* callback, std::uint32_t) {
        auto* state = static_cast<State*>(data);
        if (state->attempt && state->attempt->sync == callback) {
            state->synced();
        } else {
            wl_callback_destroy(callback);
        }
    }
    static constexpr wl_callback_listener syncListener{&syncDone};

    // Qt asks for a window's activation of its own as the focus returns to a control of a window
    // that is not the focus window (the window a menu was opened on, as the menu closes), and sends
    // its `activate` as its own queue is dispatched, which may come after this queue's: the window
    // the user chose would then lose the keyboard to the one the menu was on. So the token waits for
    // a sync on Qt's queue, whose answer Qt dispatches after every earlier event of its own, and this
    // `activate` goes after Qt's.
    static void tokenDone(void* data, xdg_activation_token_v1* request, const char* token) {
        auto* state = static_cast<State*>(data);
        if (!state->attempt || state->attempt->request != request) return;
        xdg_activation_token_v1_destroy(request);
        state->attempt->request = nullptr;
        state->attempt->token = token;
        state->attempt->behindQt = wl_display_sync(state->display);
        wl_callback_add_listener(state->attempt->behindQt, &behindQtListener, state);
        state->flush();
    }
    static constexpr xdg_activation_token_v1_listener tokenListener{&tokenDone};

    static void behindQtDone(void* data, wl_callback* callback, std::uint32_t) {
        auto* state = static_cast<State*>(data);
        if (!state->attempt || state->attempt->behindQt != callback) {
            wl_callback_destroy(callback);
            return;
        }
        wl_callback_destroy(callback);
        state->attempt->behindQt = nullptr;
        const std::string token = state->attempt->token;
        state->activate(token);
    }
    static constexpr wl_callback_listener behindQtListener{&behindQtDone};

    static void attentionTokenDone(void* data, xdg_activation_token_v1* request, const char* token) {
        auto* state = static_cast<State*>(data);
        const auto asked = std::find_if(state->attention.begin(), state->attention.end(),
                                        [request](const Attention& each) { return each.request == request; });
        if (asked == state->attention.end()) return;
        wl_surface* surface = asked->window ? surfaceOf(*asked->window) : nullptr;
        xdg_activation_token_v1_destroy(request);
        state->attention.erase(asked);
        if (state->attention.empty()) state->stopWaitingForAttention();
        if (!surface || !state->activation) return;
        xdg_activation_v1_activate(state->activation, token, surface);
        state->flush();
    }
    static constexpr xdg_activation_token_v1_listener attentionListener{&attentionTokenDone};
};

namespace {

WaylandActivation*& current() {
    static WaylandActivation* activation = nullptr;
    return activation;
}

// Qt's platform goes with the application; its connection's objects go first.
void endWithTheApplication() {
    delete current();
    current() = nullptr;
}

} // namespace

WaylandActivation* WaylandActivation::instance() {
    if (!current() && qGuiApp) {
        QPlatformNativeInterface* native = nativeInterface();
        if (!native || !native->nativeResourceForIntegration("wl_display")) return nullptr;
        current() = new WaylandActivation;
        qAddPostRoutine(&endWithTheApplication);
    }
    return current();
}

WaylandActivation::WaylandActivation() : m_state(std::make_unique<State>()) {
    State& state = *m_state;
    state.display = static_cast<wl_display*>(nativeInterface()->nativeResourceForIntegration("wl_display"));
    state.queue = wl_display_create_queue(state.display);
    state.wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(state.display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(state.wrapper), state.queue);
    state.registry = wl_display_get_registry(state.wrapper);
    wl_registry_add_listener(state.registry, &State::registryListener, &state);
    state.flush();
    // Qt's connection reads every event into its queue; this one's are handled whenever the GUI
    // thread wakes, and every few milliseconds while an activation waits for its answer.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &state.context,
                     [&state] { state.dispatch(); });
    state.pump.setInterval(5);
    QObject::connect(&state.pump, &QTimer::timeout, &state.context, [&state] { state.dispatch(); });
    state.deadline.setSingleShot(true);
    QObject::connect(&state.deadline, &QTimer::timeout, &state.context, [&state] { state.finish(true); });
    state.attentionDeadline.setSingleShot(true);
    state.attentionDeadline.setInterval(2000);
    QObject::connect(&state.attentionDeadline, &QTimer::timeout, &state.context, [&state] { state.giveUpAttention(); });
    // Qt's Wayland platform asks for the focus window's activation whenever the focus object changes,
    // with a token named after that window (a menu's popup, or the window a menu closed on) and the
    // serial of Qt's latest event: a menu opened by its key asks several times, and more as focus
    // moves pile up in a turn. The only receiver of that signal on the application object is that
    // request of Qt's (checked by tests/app/wayland_activation_test.py's count of token requests);
    // the application activates its windows here, once per request of its own.
    QObject::disconnect(qGuiApp, &QGuiApplication::focusObjectChanged, qGuiApp, nullptr);
}

WaylandActivation::~WaylandActivation() {
    State& state = *m_state;
    state.finish(false);
    state.giveUpAttention();
    for (auto& seat : state.seats) State::removeSeat(seat);
    if (state.activation) xdg_activation_v1_destroy(state.activation);
    wl_registry_destroy(state.registry);
    wl_proxy_wrapper_destroy(state.wrapper);
    state.flush();
    wl_event_queue_destroy(state.queue);
}

void WaylandActivation::activate(QWindow& window, std::string token, std::function<void()> fallback,
                                 std::chrono::milliseconds bound) {
    State& state = *m_state;
    state.finish(false);
    if (state.broken) {
        if (fallback) fallback();
        return;
    }
    state.attempt.emplace();
    state.attempt->window = &window;
    state.attempt->token = std::move(token);
    state.attempt->fallback = std::move(fallback);
    state.attempt->sync = wl_display_sync(state.wrapper);
    wl_callback_add_listener(state.attempt->sync, &State::syncListener, &state);
    state.flush();
    state.deadline.start(bound);
    state.pump.start();
}

void WaylandActivation::askForAttention(QWindow& window) {
    State& state = *m_state;
    if (state.broken || !state.activation || !surfaceOf(window)) return;
    State::Attention asked;
    asked.window = &window;
    asked.request = xdg_activation_v1_get_activation_token(state.activation);
    const QString appID = QGuiApplication::desktopFileName();
    if (!appID.isEmpty()) xdg_activation_token_v1_set_app_id(asked.request, appID.toUtf8().constData());
    xdg_activation_token_v1_add_listener(asked.request, &State::attentionListener, &state);
    xdg_activation_token_v1_commit(asked.request);
    state.attention.push_back(asked);
    state.flush();
    // Its answer is read as the GUI thread wakes, which an idle application may not do for long.
    state.attentionDeadline.start();
    state.pump.start();
}

} // namespace velk

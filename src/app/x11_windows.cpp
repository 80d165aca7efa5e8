#include "app/x11_windows.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QPointer>
#include <QWindow>
#include <qguiapplication_platform.h>
#include <qpa/qplatformwindow.h>

#include <xcb/xcb.h>

#include "app/key_repeat.hpp"
#include "app/x11_focus_rule.hpp"

namespace velk::X11Windows {

namespace {

using X11FocusRule::Delivery;
using X11FocusRule::Kind;

// The application's connection to the X server, none on other platforms.
xcb_connection_t* xConnection() {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The X window of `window` when its platform window exists (never made here).
xcb_window_t xWindowOf(const QWindow* window) {
    return window && window->handle() ? static_cast<xcb_window_t>(window->handle()->winId()) : XCB_NONE;
}

// The start of an XInput 2 device event as the server sends it (XIDeviceEvent), which Qt's X11
// platform asks for in place of the core pointer events.
struct XiDeviceEvent {
    std::uint8_t responseType;
    std::uint8_t extension;
    std::uint16_t sequence;
    std::uint32_t length;
    std::uint16_t eventType;
    std::uint16_t deviceId;
    std::uint32_t time;
    std::uint32_t detail;
    std::uint32_t root;
    std::uint32_t event;
};
constexpr std::uint16_t xiButtonPress = 4;
constexpr std::uint16_t xiButtonRelease = 5;

// Buttons 4 to 7 are a wheel's steps, which activate nothing; every other button activates the
// window pressed (as Qt's X11 platform has it).
bool isAButton(std::uint32_t button) { return button != 0 && (button < 4 || button > 7); }

class Filter final : public QAbstractNativeEventFilter {
public:
    explicit Filter(xcb_connection_t* connection) : m_connection(connection) {
        const auto intern = [&](const char* name) {
            return xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        };
        const xcb_intern_atom_cookie_t cookies[] = {intern("WM_PROTOCOLS"), intern("WM_TAKE_FOCUS"), intern("_NET_ACTIVE_WINDOW")};
        xcb_atom_t* atoms[] = {&m_wmProtocols, &m_wmTakeFocus, &m_netActiveWindow};
        for (int i = 0; i < 3; ++i) {
            if (xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookies[i], nullptr)) {
                *atoms[i] = reply->atom;
                std::free(reply);
            }
        }
        const char* const xinput = "XInputExtension";
        if (xcb_query_extension_reply_t* reply = xcb_query_extension_reply(
                connection, xcb_query_extension(connection, static_cast<std::uint16_t>(std::strlen(xinput)), xinput), nullptr)) {
            if (reply->present) m_xinputOpcode = reply->major_opcode;
            std::free(reply);
        }
        if (const xcb_setup_t* setup = xcb_get_setup(connection)) m_root = xcb_setup_roots_iterator(setup).data->root;
    }

    void setBlocked(const std::vector<std::pair<const QWindow*, const QWindow*>>& blockedAndDialog) {
        // The native windows within a blocked window too: the X server sends a click on one to it,
        // and Qt activates it as it would its window.
        m_blocked.clear();
        for (QWindow* window : QGuiApplication::allWindows()) {
            const xcb_window_t id = xWindowOf(window);
            const QWindow* topLevel = window;
            while (topLevel->parent()) topLevel = topLevel->parent();
            for (const auto& [blocked, dialog] : blockedAndDialog) {
                if (id != XCB_NONE && blocked == topLevel) m_blocked[id] = const_cast<QWindow*>(dialog);
            }
        }
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != QByteArrayLiteral("xcb_generic_event_t")) return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS:
        case XCB_KEY_RELEASE: {
            // Press and release share the layout.
            auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
            KeyRepeat::serverKey((event->response_type & 0x7f) == XCB_KEY_PRESS, key->detail, key->time, key->state);
            return apply({.kind = Kind::key, .window = key->event, .time = key->time}, &key->event);
        }
        case XCB_FOCUS_IN:
        case XCB_FOCUS_OUT: {
            // Focus in and out share the layout. The keyboard arriving through the pointer moves
            // nothing (Qt ignores it too).
            auto* focus = reinterpret_cast<xcb_focus_in_event_t*>(event);
            if (focus->detail == XCB_NOTIFY_DETAIL_POINTER || focus->detail >= XCB_NOTIFY_DETAIL_POINTER_ROOT) return false;
            const bool in = (event->response_type & 0x7f) == XCB_FOCUS_IN;
            return apply({.kind = in ? Kind::focusIn : Kind::focusOut,
                          .window = focus->event,
                          .duringGrab = focus->mode == XCB_NOTIFY_MODE_GRAB},
                         in ? &focus->event : nullptr);
        }
        case XCB_BUTTON_PRESS: {
            auto* press = reinterpret_cast<xcb_button_press_event_t*>(event);
            return apply({.kind = isAButton(press->detail) ? Kind::press : Kind::stamp, .window = press->event, .time = press->time});
        }
        case XCB_BUTTON_RELEASE:
            return apply({.time = reinterpret_cast<xcb_button_release_event_t*>(event)->time});
        case XCB_GE_GENERIC: {
            const auto* device = static_cast<const XiDeviceEvent*>(message);
            if (m_xinputOpcode == 0 || device->extension != m_xinputOpcode) return false;
            if (device->eventType == xiButtonPress)
                return apply({.kind = isAButton(device->detail) ? Kind::press : Kind::stamp, .window = device->event, .time = device->time});
            if (device->eventType == xiButtonRelease) return apply({.time = device->time});
            return false;
        }
        case XCB_CLIENT_MESSAGE: {
            const auto* client = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (client->format != 32 || client->type != m_wmProtocols || client->data.data32[0] != m_wmTakeFocus) return false;
            return apply({.kind = Kind::takeFocus, .window = client->window, .time = client->data.data32[1]});
        }
        case XCB_PROPERTY_NOTIFY:
            return apply({.time = reinterpret_cast<const xcb_property_notify_event_t*>(event)->time});
        default: return false;
        }
    }

private:
    // The dialog that blocks our window `id`, shown, if perhaps not mapped yet (the window manager
    // may take a while, and a click meanwhile is as blocked); none when nothing blocks it.
    QWindow* dialogBlocking(xcb_window_t id) const {
        if (id == XCB_NONE || m_blocked.empty()) return nullptr;
        const auto found = m_blocked.find(id);
        if (found == m_blocked.end()) return nullptr;
        QWindow* dialog = found->second;
        return dialog && xWindowOf(dialog) != XCB_NONE ? dialog : nullptr;
    }

    // Feeds the rule and does what it answers: `window`, when given, is the event's window field,
    // rewritten to the dialog's for Qt. Returns whether Qt never sees the event.
    bool apply(X11FocusRule::Event event, xcb_window_t* window = nullptr) {
        QWindow* dialog = event.kind == Kind::stamp ? nullptr : dialogBlocking(event.window);
        event.blockedBy = xWindowOf(dialog);
        const X11FocusRule::Verdict verdict = m_rule.take(event);
        if (verdict.askFor != XCB_NONE) askFor(*dialog, verdict.time);
        if (verdict.delivery == Delivery::toDialog && window) *window = event.blockedBy;
        return verdict.delivery == Delivery::dropped;
    }

    // Asks the window manager to activate `dialog` and, since one of our windows has the keyboard
    // (ICCCM's locally active input), gives it the keyboard: both with the time of the event that
    // asked. Without one yet, or for a dialog not mapped yet, Qt's own request, with the latest time
    // Qt saw, which Qt makes once the dialog is mapped.
    void askFor(QWindow& dialog, X11FocusRule::Time time) {
        if (time == 0 || !dialog.isExposed()) {
            dialog.requestActivate();
            return;
        }
        const xcb_window_t id = xWindowOf(&dialog);
        if (m_netActiveWindow != XCB_NONE && m_root != XCB_NONE) {
            xcb_client_message_event_t request{};
            request.response_type = XCB_CLIENT_MESSAGE;
            request.format = 32;
            request.window = id;
            request.type = m_netActiveWindow;
            request.data.data32[0] = 1; // from an application
            request.data.data32[1] = time;
            request.data.data32[2] = m_rule.focus();
            xcb_send_event(m_connection, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                           reinterpret_cast<const char*>(&request));
        }
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_PARENT, id, time);
        xcb_flush(m_connection);
    }

    xcb_connection_t* m_connection;
    xcb_atom_t m_wmProtocols = XCB_NONE;
    xcb_atom_t m_wmTakeFocus = XCB_NONE;
    xcb_atom_t m_netActiveWindow = XCB_NONE;
    xcb_window_t m_root = XCB_NONE;
    std::uint8_t m_xinputOpcode = 0;
    X11FocusRule::Rule m_rule;
    std::unordered_map<xcb_window_t, QPointer<QWindow>> m_blocked;
};

struct Installed {
    QPointer<QGuiApplication> application;
    std::unique_ptr<Filter> filter;
};

Installed& installed() {
    static Installed instance;
    return instance;
}

} // namespace

void install() {
    Installed& now = installed();
    if (!qGuiApp || now.application == qGuiApp) return;
    now.application = qGuiApp;
    // An earlier application's filter is of its connection, which went with it.
    now.filter.reset();
    xcb_connection_t* connection = xConnection();
    if (!connection) return;
    now.filter = std::make_unique<Filter>(connection);
    qGuiApp->installNativeEventFilter(now.filter.get());
}

bool active() { return xConnection() != nullptr; }

void setBlocked(const std::vector<std::pair<const QWindow*, const QWindow*>>& blockedAndDialog) {
    install();
    if (Filter* filter = installed().filter.get()) filter->setBlocked(blockedAndDialog);
}

bool setUrgent(QWindow& window, bool urgent) {
    xcb_connection_t* connection = xConnection();
    if (!connection) return false;
    constexpr std::uint32_t urgencyHint = 1u << 8;
    constexpr std::uint32_t hintWords = 9;
    const auto id = static_cast<xcb_window_t>(window.winId());
    std::uint32_t hints[hintWords] = {};
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, hintWords);
    if (xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr)) {
        const int words = reply->format == 32 ? xcb_get_property_value_length(reply) / 4 : 0;
        const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        for (int i = 0; i < words && i < int(hintWords); ++i) hints[i] = value[i];
        std::free(reply);
    }
    if (((hints[0] & urgencyHint) != 0) == urgent) return true;
    hints[0] = urgent ? hints[0] | urgencyHint : hints[0] & ~urgencyHint;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, hintWords, hints);
    xcb_flush(connection);
    return true;
}

} // namespace velk::X11Windows

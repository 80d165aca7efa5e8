#include "app/window_activation.hpp"

#include <cstdlib>
#include <memory>
#include <utility>

#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "app/wayland_activation.hpp"

namespace velk::WindowActivation {

namespace {

constexpr const char* tokenVariable = "XDG_ACTIVATION_TOKEN";

// The token the next activation uses, if any.
std::string& tokenForNext() {
    static std::string token;
    return token;
}

} // namespace

bool plausibleToken(const std::string& token) {
    if (token.empty() || token.size() > 255) return false;
    for (const char each : token) {
        if (each <= ' ' || each > '~') return false;
    }
    return true;
}

std::optional<std::string> takeLaunchToken() {
    const char* value = std::getenv(tokenVariable);
    if (!value) return std::nullopt;
    std::string token = value;
    ::unsetenv(tokenVariable);
    if (!plausibleToken(token)) return std::nullopt;
    return token;
}

void useTokenNext(std::string token) {
    if (plausibleToken(token)) tokenForNext() = std::move(token);
}

void prepare() { WaylandActivation::instance(); }

void activate(QWindow& window) {
    WaylandActivation* wayland = WaylandActivation::instance();
    if (!wayland) {
        window.requestActivate();
        return;
    }
    std::string token = std::exchange(tokenForNext(), {});
    QPointer<QWindow> target(&window);
    wayland->activate(window, std::move(token), [target] {
        // No token to be had: Qt's own request, which a compositor may answer by marking the window
        // as asking for attention.
        if (target) target->requestActivate();
    });
}

void activate(QWidget& window) {
    if (window.isMinimized()) window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    if (!WaylandActivation::instance() || !window.windowHandle()) {
        window.activateWindow();
        return;
    }
    activate(*window.windowHandle());
}

bool showsWithoutTheKeyboard() { return !WaylandActivation::instance(); }

void askForAttention(QWindow& window) {
    WaylandActivation* wayland = WaylandActivation::instance();
    if (!wayland) {
        window.alert(0);
        return;
    }
    if (!window.transientParent()) wayland->askForAttention(window);
}

void whenActive(QWidget& window, std::function<void(bool active)> done, std::chrono::milliseconds bound) {
    if (window.isActiveWindow()) {
        done(true);
        return;
    }
    // The watch lives on the window: it goes with the window, answering false.
    auto* watch = new QObject(&window);
    auto answered = std::make_shared<std::function<void(bool)>>(std::move(done));
    const auto answer = [watch, answered](bool active) {
        if (!*answered) return;
        std::function<void(bool)> once = std::exchange(*answered, {});
        watch->deleteLater();
        once(active);
    };
    QObject::connect(watch, &QObject::destroyed, [answered] {
        if (*answered) std::exchange(*answered, {})(false);
    });
    QPointer<QWidget> target(&window);
    QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, watch, [target, answer] {
        if (target && target->isActiveWindow()) answer(true);
    });
    QTimer::singleShot(bound, watch, [answer] { answer(false); });
}

} // namespace velk::WindowActivation

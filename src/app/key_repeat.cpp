#include "app/key_repeat.hpp"

#include <algorithm>
#include <utility>

#include <QAccessible>
#include <QByteArray>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWindow>

#include "app/x11_windows.hpp"

namespace velk {

PhysicalKey physicalKey(std::uint32_t nativeScanCode, int symbol) {
    if (nativeScanCode != 0) return nativeScanCode;
    return (PhysicalKey{1} << 32) | static_cast<std::uint32_t>(symbol);
}

namespace {

PhysicalKey physicalKeyOf(const QKeyEvent& event) { return physicalKey(event.nativeScanCode(), event.key()); }

// Enough for the events that a bridge holds back while it waits for a late answer, a held key
// repeating all the while.
constexpr std::size_t recordedEvents = 4096;

using X11Windows::symbolModifiers;

} // namespace

bool KeyRepeatRule::press(PhysicalKey key, std::uint64_t time, bool flaggedRepeat, std::uint32_t state) {
    if (time == 0) return flaggedRepeat;
    History& history = m_keys[key];
    if (history.down && time == history.pressTime) return history.pressRepeats || flaggedRepeat;
    const bool pairedWithRelease = history.released && time == history.releaseTime;
    history.pressRepeats = flaggedRepeat || history.down || pairedWithRelease;
    history.down = true;
    history.pressTime = time;
    history.pressNumber = m_recorded;
    record({.key = key, .isPress = true, .time = time, .state = state, .repeats = history.pressRepeats});
    return history.pressRepeats;
}

void KeyRepeatRule::release(PhysicalKey key, std::uint64_t time, std::uint32_t state) {
    History& history = m_keys[key];
    history.down = false;
    if (time == 0) return;
    history.released = true;
    history.releaseTime = time;
    record({.key = key, .isPress = false, .time = time, .state = state});
}

void KeyRepeatRule::record(Event event) {
    for (const auto& [key, history] : m_keys) {
        if (key != event.key && history.down) event.otherKeysDown.push_back(history.pressNumber);
    }
    m_events.push_back(std::move(event));
    ++m_recorded;
    if (m_events.size() <= recordedEvents) return;
    m_events.pop_front();
    if (m_passed > 0) --m_passed;
}

bool KeyRepeatRule::madeWithAKeyNeverReceived(const Event& event) const {
    const std::uint64_t first = m_recorded - m_events.size();
    return std::any_of(event.otherKeysDown.begin(), event.otherKeysDown.end(), [&](std::uint64_t press) {
        return press >= first && !m_events[static_cast<std::size_t>(press - first)].received;
    });
}

std::optional<bool> KeyRepeatRule::received(PhysicalKey key, bool isPress, std::uint64_t time, std::uint32_t state) {
    // An event with its time is that event wherever it is; one without is looked for among those
    // not passed yet. Copies come in the server's order, so a copy made while another key was down
    // comes after that key's press: while the press has not arrived, the event was kept with it,
    // and the copy is of a later one.
    const auto from = m_events.begin() + (time != 0 ? 0 : static_cast<std::ptrdiff_t>(m_passed));
    const auto fits = [&](const Event& event) {
        return event.key == key && event.isPress == isPress && (time != 0 ? event.time == time : event.state == state);
    };
    auto match = std::find_if(from, m_events.end(), fits);
    if (match == m_events.end()) return std::nullopt;
    if (time == 0 && madeWithAKeyNeverReceived(*match)) {
        const auto unkept = std::find_if(match + 1, m_events.end(),
                                         [&](const Event& event) { return fits(event) && !madeWithAKeyNeverReceived(event); });
        if (unkept != m_events.end()) match = unkept;
    }
    match->received = true;
    m_passed = std::max(m_passed, static_cast<std::size_t>(match - m_events.begin()) + 1);
    return match->repeats;
}

std::optional<bool> KeyRepeatRule::pressRepeats(PhysicalKey key, std::uint64_t time) const {
    if (time == 0) return std::nullopt;
    for (auto event = m_events.rbegin(); event != m_events.rend(); ++event) {
        if (event->key == key && event->isPress && event->time == time) return event->repeats;
    }
    return std::nullopt;
}

void KeyRepeatRule::releaseAll() {
    for (auto& [key, history] : m_keys) history.down = false;
}

namespace KeyRepeat {
namespace {

// On an X server the rule is fed the server's own key events, which no Qt filter has seen yet; key
// events are then only matched with what the server recorded, as a widget receives them: a filter
// may take an event on its way from the window to the widget and send a copy later. Elsewhere the
// rule is fed each key event once where the window system hands it over, at the window, before a
// shortcut or a widget acts on it. Events a program sends straight to a widget carry their own flag.
class Watcher final : public QObject {
public:
    explicit Watcher(QObject* parent) : QObject(parent) {
        connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this] { rule.releaseAll(); });
    }

    KeyRepeatRule rule;
    // The press being handled: the latest one a widget received, or the shortcut check of the
    // latest press a window received or a program sent to a widget.
    struct Press {
        PhysicalKey key = 0;
        std::uint64_t time = 0;
        int symbol = 0;
        bool repeats = false;
    };
    std::optional<Press> current;

    // A key event as the X server sent it.
    void serverKey(bool isPress, std::uint32_t keyCode, std::uint64_t time, std::uint32_t state) {
        m_serverRecords = true;
        if (isPress)
            rule.press(keyCode, time, false, state);
        else
            rule.release(keyCode, time, state);
    }

    // The key event a window passed on, as its widget receives it, or the shortcut check Qt makes
    // for it first: matched with the server's record once, whoever asks first (this filter or a
    // widget's question). An event that arrives without its time was sent again by a bridge.
    void takeArriving(const QKeyEvent& key) {
        if (!isArriving(key) && !isShortcutCheckOfArriving(key)) return;
        const Arriving arriving = std::exchange(m_arriving, {});
        m_bridgeResends = arriving.time == 0;
        const bool isPress = arriving.type == QEvent::KeyPress;
        const bool repeats =
            rule.received(arriving.key, isPress, arriving.time, arriving.state).value_or(false) || key.isAutoRepeat();
        if (isPress) current = Press{arriving.key, arriving.time, arriving.symbol, repeats};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        const PhysicalKey physical = physicalKeyOf(*key);
        const std::uint64_t time = key->timestamp();
        const bool recordedByServer = m_serverRecords && key->nativeScanCode() != 0;
        if (type == QEvent::ShortcutOverride) {
            // Where a bridge may take the keys, a shortcut acts on the press as it reaches its
            // widget: the bridge's copy, once the screen reader let it through (not Insert+Space,
            // which it keeps), or the server's press itself where no bridge took it (a reader may
            // start, quit or crash between two presses). The press the server sent goes on to the
            // window as though a widget wanted it. Qt checks shortcuts for a copy as it reaches a
            // widget, from its symbol and modifiers alone, so a press with Shift or AltGr, whose
            // shortcut may lie on another symbol of its key, is checked at once.
            if (recordedByServer && time != 0 && (QAccessible::isActive() || m_bridgeResends) &&
                (key->nativeModifiers() & symbolModifiers) == 0) {
                m_checkLeftToWidget = {physical, time};
                event->accept();
                return true;
            }
            // Qt hands the check to the window and then to its focus widget: answered once.
            if (isShortcutCheckOfArriving(*key)) {
                takeArriving(*key);
                m_checkTaken = event;
                return false;
            }
            if (event == m_checkTaken) return false;
        }
        if (!watched->isWindowType()) {
            if (isArriving(*key))
                takeArriving(*key);
            else if (type == QEvent::ShortcutOverride && time == 0)
                current = Press{physical, 0, key->key(), key->isAutoRepeat()};
            return false;
        }
        if (recordedByServer && type != QEvent::ShortcutOverride) {
            // A press whose shortcut check was left to its widget, reaching the window as the server
            // sent it: no bridge took it. It goes on as a bridge's copy would, with its time, and Qt
            // checks the shortcuts as it reaches the widget.
            if (type == QEvent::KeyPress && event->spontaneous() &&
                m_checkLeftToWidget == std::pair{physical, time}) {
                m_checkLeftToWidget.reset();
                QKeyEvent copy(type, key->key(), key->modifiers(), key->nativeScanCode(), key->nativeVirtualKey(),
                               key->nativeModifiers(), key->text(), key->isAutoRepeat(), key->count());
                copy.setTimestamp(time);
                QCoreApplication::sendEvent(watched, &copy);
                return true;
            }
            m_arriving = {event, type, physical, time, key->nativeModifiers(), key->key()};
            return false;
        }
        if (type == QEvent::KeyRelease) {
            rule.release(physical, time);
            return false;
        }
        bool repeats = key->isAutoRepeat();
        if (recordedByServer)
            repeats = rule.pressRepeats(physical, time).value_or(false) || repeats;
        else
            repeats = rule.press(physical, time, repeats);
        current = Press{physical, time, key->key(), repeats};
        return false;
    }

private:
    // The key event a window passed on last. The event itself is only compared, never read: a
    // filter that took it may have destroyed it, and another event may come at its address.
    struct Arriving {
        const QEvent* event = nullptr;
        QEvent::Type type = QEvent::None;
        PhysicalKey key = 0;
        std::uint64_t time = 0;
        std::uint32_t state = 0;
        int symbol = 0;
    };
    bool isArriving(const QKeyEvent& key) const {
        return &key == m_arriving.event && key.type() == m_arriving.type && physicalKeyOf(key) == m_arriving.key &&
               key.timestamp() == m_arriving.time;
    }
    // Qt's shortcut check of a press sent to a widget by a program (a bridge's copy, or the server's
    // press sent on as one), which carries the press's symbol and time but no scan code.
    bool isShortcutCheckOfArriving(const QKeyEvent& key) const {
        return key.type() == QEvent::ShortcutOverride && m_arriving.type == QEvent::KeyPress &&
               key.key() == m_arriving.symbol && key.timestamp() == m_arriving.time && key.nativeScanCode() == 0;
    }

    bool m_serverRecords = false;
    // Whether the latest key event a widget received came again from a bridge, without its time.
    bool m_bridgeResends = false;
    // The server's press (key and time) whose shortcut check was left to its widget.
    std::optional<std::pair<PhysicalKey, std::uint64_t>> m_checkLeftToWidget;
    // The shortcut check that took the arriving press last; only compared, never read.
    const QEvent* m_checkTaken = nullptr;
    Arriving m_arriving;
};

QPointer<Watcher>& watcher() {
    static QPointer<Watcher> instance;
    return instance;
}

} // namespace

void install() {
    // The watcher belongs to the application object, so a new application gets a new one.
    if (watcher() || !qGuiApp) return;
    watcher() = new Watcher(qGuiApp);
    qGuiApp->installEventFilter(watcher());
    X11Windows::install();
}

void serverKey(bool isPress, std::uint32_t keyCode, std::uint64_t time, std::uint32_t state) {
    if (Watcher* seen = watcher()) seen->serverKey(isPress, keyCode, time, state);
}

bool isRepeat(const QKeyEvent& event) {
    if (event.isAutoRepeat()) return true;
    Watcher* seen = watcher();
    if (!seen) return false;
    seen->takeArriving(event);
    const PhysicalKey key = physicalKeyOf(event);
    if (seen->current && seen->current->key == key && seen->current->time == event.timestamp())
        return seen->current->repeats;
    return seen->rule.pressRepeats(key, event.timestamp()).value_or(false);
}

bool latestPressRepeats(int symbol) {
    const Watcher* seen = watcher();
    return seen && seen->current && seen->current->symbol == symbol && seen->current->repeats;
}

bool latestPressRepeats() {
    const Watcher* seen = watcher();
    return seen && seen->current && seen->current->repeats;
}

} // namespace KeyRepeat
} // namespace velk

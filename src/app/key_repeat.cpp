#include "app/key_repeat.hpp"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWindow>

namespace velk {

PhysicalKey physicalKey(std::uint32_t nativeScanCode, int symbol) {
    if (nativeScanCode != 0) return nativeScanCode;
    return (PhysicalKey{1} << 32) | static_cast<std::uint32_t>(symbol);
}

namespace {
PhysicalKey physicalKeyOf(const QKeyEvent& event) { return physicalKey(event.nativeScanCode(), event.key()); }
} // namespace

bool KeyRepeatRule::press(PhysicalKey key, std::uint64_t time, bool flaggedRepeat) {
    if (time == 0) return flaggedRepeat;
    History& history = m_keys[key];
    if (history.down && time == history.pressTime) return history.pressRepeats || flaggedRepeat;
    const bool pairedWithRelease = history.released && time == history.releaseTime;
    history.pressRepeats = flaggedRepeat || history.down || pairedWithRelease;
    history.down = true;
    history.pressTime = time;
    return history.pressRepeats;
}

void KeyRepeatRule::release(PhysicalKey key, std::uint64_t time) {
    if (time == 0) return;
    History& history = m_keys[key];
    history.down = false;
    history.released = true;
    history.releaseTime = time;
}

bool KeyRepeatRule::latestPressRepeats(PhysicalKey key) const {
    const auto found = m_keys.find(key);
    return found != m_keys.end() && found->second.down && found->second.pressRepeats;
}

bool KeyRepeatRule::pressRepeats(PhysicalKey key, std::uint64_t time) const {
    const auto found = m_keys.find(key);
    return time != 0 && found != m_keys.end() && found->second.down && found->second.pressTime == time &&
           found->second.pressRepeats;
}

void KeyRepeatRule::releaseAll() {
    for (auto& [key, history] : m_keys) history.down = false;
}

namespace KeyRepeat {
namespace {

// Sees each key event once where the window system hands it over, at the window, before a shortcut
// or a widget acts on it; events a program sends straight to a widget carry their own flag.
class Watcher final : public QObject {
public:
    explicit Watcher(QObject* parent) : QObject(parent) {
        connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this] { rule.releaseAll(); });
    }
    KeyRepeatRule rule;
    // The symbol and key of the latest press the window system delivered.
    int latestSymbol = 0;
    PhysicalKey latestKey = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) return false;
        if (!watched->isWindowType()) return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        const PhysicalKey physical = physicalKeyOf(*key);
        if (type == QEvent::KeyRelease) {
            rule.release(physical, key->timestamp());
            return false;
        }
        rule.press(physical, key->timestamp(), key->isAutoRepeat());
        latestSymbol = key->key();
        latestKey = physical;
        return false;
    }
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
}

bool isRepeat(const QKeyEvent& event) {
    if (event.isAutoRepeat()) return true;
    return watcher() && watcher()->rule.pressRepeats(physicalKeyOf(event), event.timestamp());
}

bool latestPressRepeats(int symbol) {
    const Watcher* seen = watcher();
    return seen && seen->latestSymbol == symbol && seen->rule.latestPressRepeats(seen->latestKey);
}

} // namespace KeyRepeat
} // namespace velk

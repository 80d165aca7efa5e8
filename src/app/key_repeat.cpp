#include "app/key_repeat.hpp"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWindow>

namespace velk {

bool KeyRepeatRule::press(int key, std::uint64_t time, bool flaggedRepeat) {
    if (time == 0) return flaggedRepeat;
    History& history = m_keys[key];
    if (history.down && time == history.pressTime) return history.pressRepeats || flaggedRepeat;
    const bool pairedWithRelease = history.released && time == history.releaseTime;
    history.pressRepeats = flaggedRepeat || history.down || pairedWithRelease;
    history.down = true;
    history.pressTime = time;
    return history.pressRepeats;
}

void KeyRepeatRule::release(int key, std::uint64_t time) {
    if (time == 0) return;
    History& history = m_keys[key];
    history.down = false;
    history.released = true;
    history.releaseTime = time;
}

bool KeyRepeatRule::latestPressRepeats(int key) const {
    const auto found = m_keys.find(key);
    return found != m_keys.end() && found->second.down && found->second.pressRepeats;
}

bool KeyRepeatRule::pressRepeats(int key, std::uint64_t time) const {
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) return false;
        if (!watched->isWindowType()) return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (type == QEvent::KeyRelease)
            rule.release(key->key(), key->timestamp());
        else
            rule.press(key->key(), key->timestamp(), key->isAutoRepeat());
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
    return watcher() && watcher()->rule.pressRepeats(event.key(), event.timestamp());
}

bool latestPressRepeats(int key) { return watcher() && watcher()->rule.latestPressRepeats(key); }

} // namespace KeyRepeat
} // namespace velk

#pragma once
// Keys typed on the test's own X server with xdotool, as a person types them, for cases that run
// there (tests/support/on_xvfb), and what reached one window of the application of them. The
// window's own event filter runs after every application event filter, so it sees an event as the
// widgets get it: under a screen reader (on_xvfb --screen-reader), Qt's AT-SPI bridge takes each key
// event first and sends a copy without its time stamp once the registry answered.

#include <string>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/qt_test.hpp"

namespace velk::test {

inline bool underScreenReader() { return qgetenv("VELK_SCREEN_READER") == "1"; }

// "gnome", "plain", "gnome_screen_reader", …: which of on_xvfb's sessions this is, for the names
// of review screenshots that each session saves.
inline QString desktopSession() {
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower();
    return (desktop.isEmpty() ? QStringLiteral("plain") : desktop) +
           (underScreenReader() ? QStringLiteral("_screen_reader") : QString());
}

class XKeyboard final : public QObject {
public:
    // Watches `window`, which must be shown.
    explicit XKeyboard(QWidget& window) : m_window(window.windowHandle()) {
        if (m_window) m_window->installEventFilter(this);
    }
    ~XKeyboard() override {
        if (m_window) m_window->removeEventFilter(this);
    }

    // Runs xdotool with `arguments` while the application handles events, then waits until the
    // window received every key event it made.
    void xdotool(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildProcess typist(argv, "");
        ASSERT_TRUE(waitUntil([&] { return typist.hasExited(); }, 30'000)) << "xdotool did not end";
        settle();
    }
    // Presses and releases `keys` ("ctrl+shift+Return").
    void type(const std::string& keys) { xdotool({"key", keys}); }
    // Holds `keys` down for `seconds`, the X server repeating the last of them.
    void hold(const std::string& keys, double seconds) {
        xdotool({"keydown", keys, "sleep", std::to_string(seconds), "keyup", keys});
    }

    // Under a screen reader, waits until the bridge takes keys (it starts to once it has learnt
    // that a listener is registered); counts from zero afterwards.
    bool screenReaderTakesKeys() {
        if (!underScreenReader()) return true;
        const bool taken = waitUntil(
            [&] {
                settle();
                return m_withoutTime > 0 || m_astray;
            },
            20'000);
        m_withTime = m_withoutTime = 0;
        return taken && !m_astray;
    }
    // Whether a screen reader's bridge takes key events now (it stops once no listener is left):
    // a key event the window system hands the window reaches it at once only when none took it.
    bool bridgeTakesKeys() {
        const int before = m_probes;
        QTest::keyRelease(m_window, Qt::Key_F35);
        return m_probes == before;
    }
    // Under a screen reader, every key event the window received came without its time stamp, as
    // the bridge sends it again: the case tested what it is meant to test.
    void expectKeysAsAScreenReaderLeavesThem() const {
        if (!underScreenReader()) return;
        EXPECT_GT(m_withoutTime, 0);
        EXPECT_EQ(m_withTime, 0) << "key events that kept their time stamp under a screen reader";
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_F35) {
            m_probes += event->spontaneous();
            return false;
        }
        ++(key->timestamp() == 0 ? m_withoutTime : m_withTime);
        if (event->type() == QEvent::KeyRelease && key->nativeVirtualKey() == sentinelKeysym) ++m_sentinels;
        return false;
    }

private:
    // Right Shift, which no case presses and nothing answers: the window has received everything
    // typed before it once its release arrives, as the X server and the bridge keep the order.
    static constexpr quint32 sentinelKeysym = 0xffe2;

    // Once one key went astray, the case has failed: the rest is typed without waiting.
    void settle() {
        if (m_astray) return;
        const int before = m_sentinels;
        ChildProcess typist({"xdotool", "key", "Shift_R"}, "");
        m_astray = !waitUntil([&] { return typist.hasExited() && m_sentinels > before; }, 30'000);
        EXPECT_FALSE(m_astray) << "the window did not receive what was typed: has it still the keyboard's focus?";
    }

    QPointer<QWindow> m_window;
    int m_withTime = 0;
    int m_withoutTime = 0;
    int m_sentinels = 0;
    int m_probes = 0;
    bool m_astray = false;
};

} // namespace velk::test

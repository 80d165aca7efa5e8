#include "app/window_placement.hpp"

#include <algorithm>

#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace velk::WindowPlacement {

namespace {

int fitAxis(int preferred, int minimum, int room) { return std::max({std::min(preferred, room), minimum, 1}); }

// The start of a span of `length` inside [low, low + extent): pulled back from the far edge first,
// so a span longer than the extent starts at `low` (the title bar stays on the screen).
int clampAxis(int start, int low, int extent, int length) { return std::max(std::min(start, low + extent - length), low); }

QMargins frameOf(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

class ScreenFit final : public QObject {
public:
    ScreenFit(QWidget& window, QSize preferred) : QObject(&window), m_window(window), m_preferred(preferred) {
        window.resize(preferred);
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_window && event->type() == QEvent::Show && !m_shown) {
            m_shown = true;
            apply(std::nullopt);
            m_handle = m_window.windowHandle();
            if (m_handle) m_handle->installEventFilter(this);
        } else if (watched == m_handle && isPlacementEvent(event->type()) && m_handle->isExposed()) {
            // A window manager frames the window around the time it first shows it; how soon its
            // frame is known depends on how busy the window manager and this process are. Until
            // it is, every move, resize and exposure is a moment to look again; a title bar then
            // placed above the screen is brought back onto it.
            if (m_handle->frameMargins().isNull()) return false;
            const QScreen* screen = m_window.screen();
            // The window's own frame, not the widget's copy of it, which may not know it yet.
            const QRect frame = m_handle->frameGeometry();
            if (screen && !screen->availableGeometry().contains(frame) && m_corrections < kMostCorrections) {
                ++m_corrections;
                apply(frame.topLeft());
                return false;
            }
            m_handle->removeEventFilter(this);
        }
        return false;
    }

private:
    void apply(std::optional<QPoint> proposed) {
        const QScreen* screen = m_window.screen();
        if (!screen) return;
        const QSize minimum = m_window.minimumSizeHint().expandedTo(m_window.minimumSize());
        const Placement placement =
            place(m_preferred, minimum, frameOf(m_window), screen->availableGeometry(), proposed);
        m_window.resize(placement.size);
        // The frame's place, title bar included, through the window once it has one: the widget's
        // move() goes by its own copy of the frame, which lags behind the window manager's.
        if (QWindow* handle = m_window.windowHandle()) {
            handle->setFramePosition(placement.framePosition);
        } else {
            m_window.move(placement.framePosition);
        }
    }

    QWidget& m_window;
    QSize m_preferred;
    static bool isPlacementEvent(QEvent::Type type) {
        return type == QEvent::Expose || type == QEvent::Move || type == QEvent::Resize;
    }

    // A window manager that keeps moving the frame elsewhere is not fought for long.
    static constexpr int kMostCorrections = 3;

    QPointer<QWindow> m_handle;
    bool m_shown = false;
    int m_corrections = 0;
};

} // namespace

Placement place(QSize preferred, QSize minimum, QMargins frame, QRect available, std::optional<QPoint> proposed) {
    const QSize size(fitAxis(preferred.width(), minimum.width(), available.width() - frame.left() - frame.right()),
                     fitAxis(preferred.height(), minimum.height(), available.height() - frame.top() - frame.bottom()));
    const QSize outer = size.grownBy(frame);
    const QPoint start = proposed.value_or(QPoint(available.left() + (available.width() - outer.width()) / 2,
                                                  available.top() + (available.height() - outer.height()) / 2));
    return {QPoint(clampAxis(start.x(), available.left(), available.width(), outer.width()),
                   clampAxis(start.y(), available.top(), available.height(), outer.height())),
            size};
}

void fitToScreen(QWidget& window, QSize preferred) { new ScreenFit(window, preferred); }

} // namespace velk::WindowPlacement

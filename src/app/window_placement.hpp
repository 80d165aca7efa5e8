#pragma once
// Where a window opens: at its default (or restored) size, made to fit the screen it opens on, with
// its title bar on that screen. A window's default size is larger than a laptop's screen at 150 %
// scaling, and no window manager is obliged to shrink it.

#include <optional>

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace velk::WindowPlacement {

struct Placement {
    QPoint framePosition; // the top left of the window frame, title bar included
    QSize size;           // the window's own size, frame excluded
    bool operator==(const Placement&) const = default;
};

// `preferred`: the default or restored size; `minimum`: what the content needs (it always wins, so
// on a screen smaller than that the window overflows to the right and bottom, never above or to
// the left); `frame`: the window manager's frame around the window (zero while unknown);
// `available`: the screen's area without panels; `proposed`: a restored frame position, centred
// on the screen when there is none. The frame ends up inside `available` whenever it fits.
Placement place(QSize preferred, QSize minimum, QMargins frame, QRect available,
                std::optional<QPoint> proposed = std::nullopt);

// Opens `window` at `preferred` placed by the rule above on the screen it opens on, when it is
// first shown; once the window manager has framed it, the frame is taken into account again.
void fitToScreen(QWidget& window, QSize preferred);

} // namespace velk::WindowPlacement

#pragma once
// Whether a check box, radio button or text field can be seen where it stands: the contrast ratio
// (WCAG relative luminance) between its frame, or its indicator's, and the pixels just outside it;
// and whether a label's text can be read on what it is drawn on.

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QTabBar>
#include <QIcon>
#include <QLabel>
#include <QImage>
#include <QPainter>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

#include <gtest/gtest.h>

#include "app/keyboard_keeper.hpp"

namespace velk::test {

inline double contrastRatio(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The faintest side of a frame, each side where it crosses the middle of the control: the better
// of its two outermost pixels against the pixel 3 further out.
inline double frameContrast(const QImage& drawn, const QRect& frame) {
    const QPoint middle = frame.center();
    const std::pair<QPoint, QPoint> sides[] = {{{frame.left(), middle.y()}, {-1, 0}},
                                               {{frame.right(), middle.y()}, {1, 0}},
                                               {{middle.x(), frame.top()}, {0, -1}},
                                               {{middle.x(), frame.bottom()}, {0, 1}}};
    double faintest = 1e9;
    for (const auto& [edge, outward] : sides) {
        const QColor ground = drawn.pixelColor(edge + outward * 3);
        faintest = std::min(faintest, std::max(contrastRatio(drawn.pixelColor(edge), ground),
                                               contrastRatio(drawn.pixelColor(edge - outward), ground)));
    }
    return faintest;
}

// How a symbol's ink stands out from `ground`: `icon` painted in `mode` at `size` on a device of
// `scale`, the median contrast of its most covered pixels (at least nine-tenths as covered as the
// most covered one: its strokes and fills, not their soft edges), each drawn over `ground` as it
// is covered; 1 when it draws nothing.
inline double symbolContrast(const QIcon& icon, QSize size, double scale, const QColor& ground,
                             QIcon::Mode mode = QIcon::Normal) {
    QImage drawn(size * scale, QImage::Format_ARGB32_Premultiplied);
    drawn.setDevicePixelRatio(scale);
    drawn.fill(Qt::transparent);
    {
        QPainter painter(&drawn);
        icon.paint(&painter, QRect(QPoint(0, 0), size), Qt::AlignCenter, mode);
    }
    std::vector<std::pair<int, double>> pixels; // coverage, contrast as covered
    for (int i = 0; i < drawn.width() * drawn.height(); ++i) {
        const QColor ink = drawn.pixelColor(i % drawn.width(), i / drawn.width());
        const auto over = [&](float c, float g) { return c * ink.alphaF() + g * (1 - ink.alphaF()); };
        pixels.emplace_back(ink.alpha(), contrastRatio(QColor::fromRgbF(over(ink.redF(), ground.redF()), over(ink.greenF(), ground.greenF()),
                                                                        over(ink.blueF(), ground.blueF())), ground));
    }
    const int most = std::max_element(pixels.begin(), pixels.end())->first;
    std::vector<double> ratios;
    for (const auto& [alpha, ratio] : pixels) {
        if (most > 0 && alpha * 10 >= most * 9) ratios.push_back(ratio);
    }
    if (ratios.empty()) return 1.0;
    std::nth_element(ratios.begin(), ratios.begin() + std::ptrdiff_t(ratios.size() / 2), ratios.end());
    return ratios[ratios.size() / 2];
}

// How a control's focus mark stands out at its edge: the control drawn with the focus against
// itself drawn without, pixel by pixel, in a band `depth` pixels deep inside its edge. At each place
// along the edge, the strongest change across the band; of those, the one at least three quarters
// of the edge reach (a rounded ring leaves its corners).
inline double focusMarkContrast(const QImage& focused, const QImage& unfocused, int depth) {
    const int w = std::min(focused.width(), unfocused.width()), h = std::min(focused.height(), unfocused.height());
    std::vector<double> along;
    const auto strongest = [&](auto pixelAt) {
        double most = 1.0;
        for (int d = 0; d < depth; ++d) {
            const QPoint at = pixelAt(d);
            if (at.x() >= 0 && at.y() >= 0 && at.x() < w && at.y() < h)
                most = std::max(most, contrastRatio(focused.pixelColor(at), unfocused.pixelColor(at)));
        }
        along.push_back(most);
    };
    for (int x = 0; x < w; ++x) {
        strongest([&](int d) { return QPoint(x, d); });
        strongest([&](int d) { return QPoint(x, h - 1 - d); });
    }
    for (int y = 0; y < h; ++y) {
        strongest([&](int d) { return QPoint(d, y); });
        strongest([&](int d) { return QPoint(w - 1 - d, y); });
    }
    if (along.empty()) return 1.0;
    std::nth_element(along.begin(), along.begin() + std::ptrdiff_t(along.size() / 4), along.end());
    return along[along.size() / 4];
}

// `control` drawn alone at `scale`, as it is now.
inline QImage drawnAt(QWidget& control, double scale) {
    QImage drawn(control.size() * scale, QImage::Format_ARGB32_Premultiplied);
    drawn.setDevicePixelRatio(scale);
    drawn.fill(control.window()->palette().color(QPalette::Window));
    control.render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren);
    return drawn;
}

// Where a control draws its focus mark: around a tab bar's current tab, a list's current row (or the
// whole of an empty list), else around the whole control.
inline QRect focusMarkRect(QWidget& control) {
    if (auto* bar = qobject_cast<QTabBar*>(&control); bar && bar->currentIndex() >= 0) return bar->tabRect(bar->currentIndex());
    if (auto* view = qobject_cast<QAbstractItemView*>(&control); view && view->currentIndex().isValid())
        return view->visualRect(view->currentIndex()).translated(view->viewport()->pos());
    return control.rect();
}

// The Tab stops of `window` that can take the keyboard now, in Tab order (as Tab passes them: not one
// that hands the focus to another, as a tab widget to its tab bar).
inline std::vector<QWidget*> tabStops(QWidget& window) {
    std::vector<QWidget*> stops;
    for (QWidget* each = window.nextInFocusChain(); each && each != &window; each = each->nextInFocusChain()) {
        if (each->window() == &window && (each->focusPolicy() & Qt::TabFocus) && !each->focusProxy() && each->isEnabled() &&
            each->isVisibleTo(&window))
            stops.push_back(each);
    }
    return stops;
}

// A control as a person finds it: its class, what it says (its accessible name, else its words),
// and its object name.
inline std::string controlLabel(const QWidget& control) {
    QString says = control.accessibleName();
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control); says.isEmpty() && button)
        says = button->text().remove(QLatin1Char('&'));
    if (const auto* label = qobject_cast<const QLabel*>(&control); says.isEmpty() && label) says = label->text();
    std::string label = std::string(control.metaObject()->className()) + " \"" + says.toStdString() + "\"";
    if (!control.objectName().isEmpty()) label += " (" + control.objectName().toStdString() + ")";
    return label;
}

// Expects every control of `stops` (Tab stops of one window, whose focus moved by keyboard) to
// show a focus mark that stands out by 3:1 at its edge, at scale 1 and 1.5, and prints each
// figure. `away` gets the focus to draw each without it.
inline void expectFocusMarksStandOut(const std::vector<QWidget*>& stops, const std::string& where) {
    EXPECT_FALSE(stops.empty()) << where;
    for (QWidget* stop : stops) {
        QWidget* away = stop == stops.front() ? stops.back() : stops.front();
        for (const double scale : {1.0, 1.5}) {
            Keyboard::choose(*stop);
            const QRect mark = focusMarkRect(*stop);
            const QRect pixels(mark.topLeft() * scale, mark.size() * scale);
            const QImage focused = drawnAt(*stop, scale).copy(pixels);
            // The only stop (an alert's one button) is drawn without the focus with none having it.
            if (away == stop) stop->clearFocus();
            else Keyboard::choose(*away);
            const QImage unfocused = drawnAt(*stop, scale).copy(pixels);
            const double contrast = focusMarkContrast(focused, unfocused, int(std::ceil(6 * scale)));
            std::cout << "focus mark of " << controlLabel(*stop) << " in " << where << " at scale " << scale << ": "
                      << contrast << ":1\n";
            EXPECT_GE(contrast, 3.0) << where << ": " << controlLabel(*stop) << " at scale " << scale << ": " << contrast << ":1";
        }
    }
}

// Expects `count` such controls shown in `window`, none with the focus (whose ring would hide a
// frame that cannot be seen without it), each standing out from what it is drawn on by at least
// 3:1 in the window drawn at scale 1 and at 1.5.
inline void expectControlsStandOut(QWidget& window, const std::string& where, std::size_t count) {
    std::vector<QWidget*> controls;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if ((qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget) || qobject_cast<QLineEdit*>(widget)) &&
            widget->isVisibleTo(&window)) {
            widget->clearFocus();
            controls.push_back(widget);
        }
    }
    EXPECT_EQ(controls.size(), count) << where;
    for (const double scale : {1.0, 1.5}) {
        QImage drawn(window.size() * scale, QImage::Format_ARGB32_Premultiplied);
        drawn.setDevicePixelRatio(scale);
        drawn.fill(Qt::transparent);
        window.render(&drawn);
        for (QWidget* control : controls) {
            QRect frame = control->rect();
            const auto* button = qobject_cast<QAbstractButton*>(control);
            if (button) {
                QStyleOptionButton option;
                option.initFrom(button);
                frame = control->style()->subElementRect(qobject_cast<const QRadioButton*>(button) ? QStyle::SE_RadioButtonIndicator
                                                                                            : QStyle::SE_CheckBoxIndicator,
                                                         &option, button);
            }
            const QRectF placed = QRectF(frame.translated(control->mapTo(&window, QPoint(0, 0))));
            const QRect pixels = QRectF(placed.topLeft() * scale, placed.size() * scale).toAlignedRect();
            EXPECT_GE(frameContrast(drawn, pixels), 3.0)
                << where << " at scale " << scale << ": " << control->metaObject()->className() << " \""
                << (button ? button->text() : control->objectName()).toStdString() << "\"";
        }
    }
}

// Every label of `window` that shows text reads on what it is drawn on: its text colour, laid over
// the pixel at the label's corner as its opacity says, against that pixel, at least 4.5 (WCAG's
// level for body text).
inline void expectTextStandsOut(QWidget& window, const std::string& where) {
    QImage drawn(window.size(), QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    window.render(&drawn);
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text().isEmpty() || !label->isVisibleTo(&window)) continue;
        const QColor ground = drawn.pixelColor(label->mapTo(&window, QPoint(0, 0)));
        const QColor ink = label->palette().color(label->foregroundRole());
        const double alpha = ink.alphaF();
        const QColor seen = QColor::fromRgbF(float(ink.redF() * alpha + ground.redF() * (1 - alpha)),
                                             float(ink.greenF() * alpha + ground.greenF() * (1 - alpha)),
                                             float(ink.blueF() * alpha + ground.blueF() * (1 - alpha)));
        EXPECT_GE(contrastRatio(seen, ground), 4.5) << where << ": \"" << label->text().toStdString() << "\"";
    }
}

} // namespace velk::test

#include "director_window/studio_style.hpp"

#include <algorithm>

#include <QApplication>

namespace velk {

#ifndef VELK_DIRECTOR_HAS_APP_THEME
namespace Theme {
QFont font(TextStyle style, bool bold) {
    static const double scales[] = {2.0, 1.7, 1.3, 1.15, 1.0, 1.0, 0.93, 0.88, 0.85, 0.85, 0.78};
    QFont result = QApplication::font();
    const double base = result.pointSizeF() > 0 ? result.pointSizeF() : 10.0;
    result.setPointSizeF(std::max(6.5, base * scales[static_cast<int>(style)]));
    if (bold || style == TextStyle::headline) result.setWeight(QFont::DemiBold);
    return result;
}
QFont monospacedDigits(TextStyle style, bool bold) { return font(style, bold); }
QColor green() { return QColor(48, 209, 88); }
QColor orange() { return QColor(255, 159, 10); }
QColor red() { return QColor(255, 69, 58); }
QColor yellow() { return QColor(255, 214, 10); }
QColor gray() { return QColor(152, 152, 157); }
QColor secondary(const QPalette& palette) {
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(0.6f);
    return text;
}
QColor withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(float(std::clamp(opacity, 0.0, 1.0)));
    return colour;
}
QColor material(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    return window.lightness() < 128 ? window.lighter(135) : window.darker(106);
}
QColor cardOutline() { return withOpacity(Qt::white, 0.08); }
} // namespace Theme
namespace Symbols {
QIcon icon(std::string_view, const QColor&) { return QIcon(); }
} // namespace Symbols
#endif

namespace Studio {

QColor color(StudioColor color, const QPalette& palette) {
    switch (color) {
    case StudioColor::primary: return palette.color(QPalette::WindowText);
    case StudioColor::secondary: return Theme::secondary(palette);
    case StudioColor::tertiary: return Theme::withOpacity(palette.color(QPalette::WindowText), 0.35);
    case StudioColor::green: return Theme::green();
    case StudioColor::orange: return Theme::orange();
    case StudioColor::red: return Theme::red();
    case StudioColor::yellow: return Theme::yellow();
    case StudioColor::gray: return Theme::gray();
    }
    return palette.color(QPalette::WindowText);
}

QIcon symbol(std::string_view name, const QColor& tint) { return Symbols::icon(name, tint); }

QColor accent() { return QColor::fromRgbF(0.12f, 0.78f, 0.48f, 1.0f); }

} // namespace Studio

} // namespace velk

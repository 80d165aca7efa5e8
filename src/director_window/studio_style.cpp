#include "director_window/studio_style.hpp"

namespace velk {


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

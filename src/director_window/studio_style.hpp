#pragma once
// The Director's colours, fonts and symbols, taken from the application's theme and symbol table.

#include <string_view>

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>

#include "director_window/director_presenters.hpp"

#if __has_include("app/theme.hpp")
#include "app/symbols.hpp"
#include "app/theme.hpp"
#define VELK_DIRECTOR_HAS_APP_THEME 1
#else
namespace velk::Theme {
enum class TextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };
QFont font(TextStyle style, bool bold = false);
QFont monospacedDigits(TextStyle style, bool bold = false);
QColor green();
QColor orange();
QColor red();
QColor yellow();
QColor gray();
QColor secondary(const QPalette& palette);
QColor withOpacity(QColor colour, double opacity);
QColor material(const QPalette& palette);
QColor cardOutline();
} // namespace velk::Theme
namespace velk::Symbols {
QIcon icon(std::string_view name, const QColor& tint);
} // namespace velk::Symbols
#endif

namespace velk::Studio {

using Theme::TextStyle;

QColor color(StudioColor color, const QPalette& palette);
inline QFont font(TextStyle style, bool bold = false) { return Theme::font(style, bold); }
QIcon symbol(std::string_view name, const QColor& tint);
// The Director window's tint: sRGB 0.12, 0.78, 0.48.
QColor accent();

} // namespace velk::Studio

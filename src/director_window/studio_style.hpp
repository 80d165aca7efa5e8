#pragma once
// The Director's colours, fonts and symbols, taken from the application's theme and symbol table.

#include <string_view>

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>

#include "director_window/director_presenters.hpp"

#include "app/symbols.hpp"
#include "app/theme.hpp"

namespace velk::Studio {

using Theme::TextStyle;

QColor color(StudioColor color, const QPalette& palette);
inline QFont font(TextStyle style, bool bold = false) { return Theme::font(style, bold); }
QIcon symbol(std::string_view name, const QColor& tint);
// The Director window's tint: sRGB 0.12, 0.78, 0.48.
QColor accent();

} // namespace velk::Studio

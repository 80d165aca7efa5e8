#pragma once
// Symbols by the names the windows use ("folder.fill", "video.fill", …), drawn from the desktop
// icon theme the project installs (Breeze, then Adwaita): each from one small one-colour drawing of
// the theme, rendered at the device pixels it is shown at, so it is the same glyph, and sharp, at
// every scale. A name the table does not know, or whose drawings are all missing, gets a drawn
// fallback, so no button is ever blank.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <QColor>
#include <QIcon>

namespace velk {

namespace Symbols {

// The icon theme whose ink suits the palette, of those `installed`: Breeze's dark variant (light
// ink) on a dark palette, else Breeze, else Adwaita. Qt's own icons (the file panels', a field's
// clear button) come from it untinted.
QString iconThemeFor(bool darkPalette, const std::function<bool(const QString&)>& installed);
// Sets the icon theme for the application palette, and its fallback, before the first window (after
// the palette is set). Safe to call again.
void installIconTheme();

// The symbol in the application palette's button text colour.
QIcon icon(std::string_view name);
// The symbol drawn in one colour (the windows colour symbols green, orange, red, secondary…).
QIcon icon(std::string_view name, const QColor& tint);
// The theme icon names tried for a symbol, best first; empty for an unknown symbol.
std::vector<std::string> themeNames(std::string_view name);
// Every symbol name the table knows.
std::vector<std::string> knownNames();
// True when the icon theme has a drawing of the symbol (no drawn fallback needed).
bool isThemed(std::string_view name);

} // namespace Symbols

} // namespace velk

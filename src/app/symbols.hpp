#pragma once
// Symbols by the names the windows use ("folder.fill", "video.fill", …), drawn from the desktop
// icon theme the project installs (Breeze, then Adwaita). A name the table does not know, or whose
// icons are all missing, gets a drawn fallback, so no button is ever blank.

#include <string>
#include <string_view>
#include <vector>

#include <QColor>
#include <QIcon>

namespace velk {

namespace Symbols {

// Sets the icon theme and its fallback once, before the first window. Safe to call again.
void installIconTheme();

// The symbol's icon in the theme's own colours.
QIcon icon(std::string_view name);
// The symbol drawn in one colour (the Parts colour symbols green, orange, red, secondary…).
QIcon icon(std::string_view name, const QColor& tint);
// The theme icon names tried for a symbol, best first; empty for an unknown symbol.
std::vector<std::string> themeNames(std::string_view name);
// Every symbol name the table knows.
std::vector<std::string> knownNames();
// True when the icon theme provides the symbol (no drawn fallback needed).
bool isThemed(std::string_view name);

} // namespace Symbols

} // namespace velk

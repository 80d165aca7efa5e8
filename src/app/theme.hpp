#pragma once
// The windows' shared look: the named text styles, the system colours the windows name, the
// window tint and the few sizes both windows share. Fonts are sized from the application font, so
// the desktop's font setting scales everything together.

#include <QColor>
#include <QFont>
#include <QSize>

class QApplication;
class QPalette;
class QWidget;

namespace velk::Theme {

enum class TextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };

QFont font(TextStyle style, bool bold = false);
// Digits of equal width (level and time read-outs).
QFont monospacedDigits(TextStyle style, bool bold = false);

// System colours.
QColor green();
QColor orange();
QColor red();
QColor yellow();
QColor blue();
QColor gray();
// The window tint: sRGB 0.15, 0.78, 0.48.
QColor accent();
// Dimmed text of the palette.
QColor secondary(const QPalette& palette);
QColor withOpacity(QColor colour, double opacity);
// The card background ("regular material") and its outline (white at 8 %).
QColor material(const QPalette& palette);
QColor cardOutline();
// The frame of a check box, a radio button and a text field: at least 3:1 against the window, the
// text field colour, the material and the washes drawn on them, so a control is seen where it stands.
QColor controlFrame();

// Shared sizes.
inline constexpr QSize directorWindowSize{1320, 820};
inline constexpr QSize libraryWindowSize{1180, 760};
inline constexpr int settingsWidth = 520;
inline constexpr int cardCornerRadius = 12;
inline constexpr int boxCornerRadius = 9;

// The application-wide style: Fusion with a dark palette tinted by the accent, controls framed in
// `controlFrame()` and a focus ring that shows where the keyboard is, the icon theme, and what
// keyboard users and assistive tools get from every window (app/accessibility).
void apply(QApplication& application);
// Sets a window's accent (selection and default-button colour).
void applyAccent(QWidget& window);
// Gives a label (or any widget) the dimmed text colour.
void setSecondary(QWidget& widget);
// The window's one leading action: filled with the tint, white text; disabled it looks like any
// disabled button.
void setProminent(QWidget& button);

} // namespace velk::Theme

#pragma once
// Fonts, colours and symbols of the Library window's views, from the named styles its rules use.

#include <string_view>

#include <QColor>
#include <QFont>
#include <QIcon>

#include "base/clock.hpp"
#include "library_window/library_presenter.hpp"

class QLabel;
class QWidget;

namespace velk::library {

enum class TextStyle { title2, title3, headline, body, callout, caption, caption2 };

QFont font(TextStyle style, bool bold = false);
QColor tintColor(Tint tint, const QWidget* widget = nullptr);
// The accent of the whole window.
QColor accentColor();
// The symbol drawn in one colour.
QIcon symbolIcon(std::string_view symbol, Tint tint);
QPixmap symbolPixmap(std::string_view symbol, Tint tint, int size);

// A label in a named style and colour; the text is set by the caller and shown as written (plain
// text: names and messages from phones, catalogs and files are never read as markup).
QLabel* styledLabel(const QString& text, TextStyle style, bool bold = false, Tint tint = Tint::primary,
                    QWidget* parent = nullptr);
void setLabelTint(QLabel* label, Tint tint);
// The same for a text limited to one line: cut with an ellipsis to the width it gets.
QLabel* elidedLabel(const QString& text, TextStyle style, bool bold = false, Tint tint = Tint::primary,
                    QWidget* parent = nullptr);
// A fixed text as a button shows it: "&" is not a mnemonic marker.
QString buttonText(std::string_view text);
// A time of day in the locale's short style, hours and minutes.
QString shortTime(WallTime time);

} // namespace velk::library

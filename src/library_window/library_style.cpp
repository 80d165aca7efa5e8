#include "library_window/library_style.hpp"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QLabel>
#include <QPalette>

#include "app/symbols.hpp"
#include "app/theme.hpp"
#include "app/view_kit.hpp"

namespace velk::library {

QFont font(TextStyle style, bool bold) {
    switch (style) {
    case TextStyle::title2: return Theme::font(Theme::TextStyle::title2, bold);
    case TextStyle::title3: return Theme::font(Theme::TextStyle::title3, bold);
    case TextStyle::headline: return Theme::font(Theme::TextStyle::headline, true);
    case TextStyle::body: return Theme::font(Theme::TextStyle::body, bold);
    case TextStyle::callout: return Theme::font(Theme::TextStyle::callout, bold);
    case TextStyle::caption: return Theme::font(Theme::TextStyle::caption, bold);
    case TextStyle::caption2: return Theme::font(Theme::TextStyle::caption2, bold);
    }
    return Theme::font(Theme::TextStyle::body, bold);
}

QColor accentColor() { return Theme::accent(); }

QColor tintColor(Tint tint, const QWidget* widget) {
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    switch (tint) {
    case Tint::primary: return palette.color(QPalette::WindowText);
    case Tint::secondary: return Theme::secondary(palette);
    case Tint::green: return Theme::green();
    case Tint::orange: return Theme::orange();
    case Tint::red: return Theme::red();
    }
    return palette.color(QPalette::WindowText);
}

QIcon symbolIcon(std::string_view symbol, Tint tint) { return Symbols::icon(symbol, tintColor(tint)); }

QPixmap symbolPixmap(std::string_view symbol, Tint tint, int size) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    return symbolIcon(symbol, tint).pixmap(QSize(size, size), ratio);
}

QLabel* styledLabel(const QString& text, TextStyle style, bool bold, Tint tint, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font(style, bold));
    setLabelTint(label, tint);
    return label;
}

QLabel* elidedLabel(const QString& text, TextStyle style, bool bold, Tint tint, QWidget* parent) {
    auto* label = new ElidedLabel(text, parent);
    label->setFont(font(style, bold));
    setLabelTint(label, tint);
    return label;
}

void setLabelTint(QLabel* label, Tint tint) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, tintColor(tint));
    label->setPalette(palette);
}

QString buttonText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString shortTime(WallTime time) {
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    format.remove(QStringLiteral(":ss")).remove(QStringLiteral(".ss"));
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(toWallMs(time)).time(), format);
}

} // namespace velk::library

#include "library_window/library_style.hpp"

#include <map>
#include <string>

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QStyle>

namespace velk::library {

QFont font(TextStyle style, bool bold) {
    QFont f = QApplication::font();
    const double base = f.pointSizeF() > 0 ? f.pointSizeF() : 10.0;
    double scale = 1.0;
    switch (style) {
    case TextStyle::title2: scale = 1.55; break;
    case TextStyle::title3: scale = 1.35; break;
    case TextStyle::headline: scale = 1.1; bold = true; break;
    case TextStyle::body: scale = 1.0; break;
    case TextStyle::callout: scale = 0.98; break;
    case TextStyle::caption: scale = 0.88; break;
    case TextStyle::caption2: scale = 0.82; break;
    }
    f.setPointSizeF(base * scale);
    f.setBold(bold);
    return f;
}

QColor accentColor() { return QColor::fromRgbF(0.15f, 0.78f, 0.48f); }

QColor tintColor(Tint tint, const QWidget* widget) {
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    switch (tint) {
    case Tint::primary: return palette.color(QPalette::WindowText);
    case Tint::secondary: {
        QColor c = palette.color(QPalette::WindowText);
        c.setAlphaF(0.55f);
        return c;
    }
    case Tint::green: return QColor(48, 176, 88);
    case Tint::orange: return QColor(242, 140, 20);
    case Tint::red: return QColor(230, 60, 50);
    }
    return palette.color(QPalette::WindowText);
}

namespace {

// Symbol names of the views and the desktop icon-theme names drawn for them.
const std::map<std::string, std::string, std::less<>>& themeNames() {
    static const std::map<std::string, std::string, std::less<>> names = {
        {"film.stack.fill", "view-media-track"}, {"film.stack", "view-media-track"},
        {"film", "video-x-generic"}, {"tray", "mail-folder-inbox"}, {"folder.fill", "folder"},
        {"folder", "folder"}, {"plus", "list-add"}, {"pencil", "edit-rename"},
        {"arrow.down.circle", "download"}, {"qrcode.viewfinder", "view-barcode-qr"}, {"video.fill", "camera-video"},
        {"rectangle.inset.filled.and.person.filled", "camera-web"}, {"square.and.arrow.down", "document-import"},
        {"checkmark.circle.fill", "emblem-ok-symbolic"}, {"checkmark.circle", "emblem-ok-symbolic"},
        {"circle.dashed", "draw-circle"}, {"video.badge.plus", "camera-video"}, {"square.grid.2x2", "view-grid"},
        {"wand.and.stars", "tools-wizard"}, {"clock.arrow.circlepath", "view-history"}, {"clock", "clock"},
        {"timeline.selection", "view-calendar-timeline"}, {"checklist", "view-list-details"},
        {"info.circle", "help-about"}, {"video.slash", "camera-video"}, {"link", "link"},
        {"lock.shield", "security-high"}, {"lock.shield.fill", "security-high"}, {"lock.fill", "lock"},
        {"waveform.path.ecg", "office-chart-line"}, {"exclamationmark.triangle.fill", "dialog-warning"},
        {"checkmark.seal", "checkmark"}, {"iphone.gen3.radiowaves.left.and.right", "smartphone"},
        {"exclamationmark.shield", "security-low"}, {"network", "network-connect"},
        {"arrow.clockwise", "view-refresh"}, {"hand.tap.fill", "input-touchscreen"}, {"video.fill.badge", "camera-video"},
    };
    return names;
}

} // namespace

QPixmap symbolPixmap(std::string_view symbol, Tint tint, int size) {
    const auto& names = themeNames();
    const auto found = names.find(symbol);
    QIcon icon;
    if (found != names.end()) icon = QIcon::fromTheme(QString::fromStdString(found->second));
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap source = icon.pixmap(QSize(size, size), ratio);
    QPixmap tinted(source.size());
    tinted.setDevicePixelRatio(source.devicePixelRatio());
    tinted.fill(Qt::transparent);
    QPainter painter(&tinted);
    painter.drawPixmap(0, 0, source);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(tinted.rect(), tintColor(tint));
    return tinted;
}

QIcon symbolIcon(std::string_view symbol, Tint tint) {
    QIcon icon;
    for (int size : {16, 22, 32, 48}) icon.addPixmap(symbolPixmap(symbol, tint, size));
    return icon;
}

QLabel* styledLabel(const QString& text, TextStyle style, bool bold, Tint tint, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font(style, bold));
    setLabelTint(label, tint);
    return label;
}

void setLabelTint(QLabel* label, Tint tint) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, tintColor(tint));
    label->setPalette(palette);
}

} // namespace velk::library

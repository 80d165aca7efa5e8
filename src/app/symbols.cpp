#include "app/symbols.hpp"

#include <array>
#include <map>
#include <utility>

#include <QDir>
#include <QFile>
#include <QFont>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace velk::Symbols {
namespace {

struct Entry {
    std::string_view symbol;
    std::vector<std::string> names;
};

// Breeze names first, then Adwaita's.
const std::vector<Entry>& table() {
    static const std::vector<Entry> entries = {
        {"plus", {"list-add", "list-add-symbolic"}},
        {"pencil", {"document-edit", "document-edit-symbolic"}},
        {"tray", {"mail-folder-inbox", "mail-inbox-symbolic", "folder"}},
        {"folder", {"folder", "folder-symbolic"}},
        {"folder.fill", {"folder", "folder-symbolic"}},
        {"film", {"video-x-generic", "folder-videos", "video-x-generic-symbolic"}},
        {"film.stack", {"folder-videos", "video-x-generic", "folder-videos-symbolic"}},
        {"film.stack.fill", {"folder-videos", "video-x-generic", "folder-videos-symbolic"}},
        {"arrow.down.circle", {"download", "go-down", "folder-download-symbolic"}},
        {"arrow.clockwise", {"view-refresh", "view-refresh-symbolic"}},
        {"qrcode.viewfinder", {"view-barcode-qr", "camera-photo-symbolic"}},
        {"qrcode", {"view-barcode-qr", "view-barcode", "view-grid-symbolic"}},
        {"photo", {"insert-image", "image-x-generic", "image-x-generic-symbolic"}},
        {"doc.on.clipboard", {"edit-paste", "edit-paste-symbolic"}},
        {"doc.on.doc", {"edit-copy", "edit-copy-symbolic"}},
        {"pause.circle.fill", {"media-playback-pause", "media-playback-pause-symbolic"}},
        {"video.fill", {"camera-video", "camera-video-symbolic"}},
        {"rectangle.grid.2x2", {"view-grid", "view-grid-symbolic"}},
        {"arrow.triangle.2.circlepath", {"media-playlist-repeat", "media-playlist-repeat-symbolic"}},
        {"video.slash", {"camera-off", "camera-disabled-symbolic", "camera-video-symbolic"}},
        {"video.badge.plus", {"camera-video", "camera-video-symbolic"}},
        {"iphone.gen3.radiowaves.left.and.right", {"smartphone", "phone-symbolic"}},
        {"checkmark.circle", {"dialog-ok", "object-select-symbolic"}},
        {"checkmark.circle.fill", {"dialog-ok", "object-select-symbolic"}},
        {"checkmark.seal", {"security-high", "emblem-ok-symbolic"}},
        {"circle.dashed", {"content-loading-symbolic", "draw-circle"}},
        {"circle.fill", {"media-record", "media-record-symbolic"}},
        {"record.circle", {"media-record", "media-record-symbolic"}},
        {"stop.circle", {"media-playback-stop", "media-playback-stop-symbolic"}},
        {"stop.circle.fill", {"media-playback-stop", "media-playback-stop-symbolic"}},
        {"exclamationmark.triangle.fill", {"dialog-warning", "dialog-warning-symbolic"}},
        {"exclamationmark.shield", {"security-low", "security-low-symbolic"}},
        {"lock.fill", {"object-locked", "lock", "changes-prevent-symbolic"}},
        {"lock.shield", {"security-high", "security-high-symbolic"}},
        {"lock.shield.fill", {"security-high", "security-high-symbolic"}},
        {"eye", {"view-visible", "view-reveal-symbolic"}},
        {"link", {"link", "edit-link", "insert-link-symbolic"}},
        {"bookmark", {"bookmark-new", "bookmarks", "bookmark-new-symbolic"}},
        {"rectangle.dashed", {"select-rectangular", "draw-rectangle", "view-fullscreen-symbolic"}},
        {"rotate.right", {"object-rotate-right", "object-rotate-right-symbolic"}},
        {"wifi", {"network-wireless", "network-wireless-symbolic"}},
        {"wifi.exclamationmark", {"network-wireless-disconnected", "network-wireless-offline-symbolic"}},
        {"antenna.radiowaves.left.and.right", {"network-wireless-hotspot", "network-wireless-hotspot-symbolic"}},
        {"network", {"network-wired", "network-connect", "network-wired-symbolic"}},
        {"waveform", {"audio-x-generic", "audio-x-generic-symbolic"}},
        {"waveform.slash", {"audio-volume-muted", "audio-volume-muted-symbolic"}},
        {"waveform.path.ecg", {"office-chart-line", "utilities-system-monitor-symbolic"}},
        {"speaker.slash", {"audio-volume-muted", "audio-volume-muted-symbolic"}},
        {"viewfinder", {"transform-crop", "zoom-fit-best", "zoom-fit-best-symbolic"}},
        {"timeline.selection", {"view-calendar-timeline", "x-office-presentation-symbolic"}},
        {"square.grid.2x2", {"view-grid", "view-grid-symbolic"}},
        {"rectangle.grid.2x2", {"view-grid", "view-grid-symbolic"}},
        {"arrow.triangle.2.circlepath", {"media-playlist-repeat", "view-refresh", "media-playlist-repeat-symbolic"}},
        {"square.and.arrow.down", {"document-import", "document-save", "document-save-symbolic"}},
        {"slider.horizontal.3", {"configure", "preferences-other-symbolic"}},
        {"rectangle.inset.filled.and.person.filled", {"camera-web", "user-identity", "camera-web-symbolic"}},
        {"person.crop.rectangle", {"user-identity", "avatar-default-symbolic"}},
        {"list.bullet.rectangle", {"view-list-details", "view-list-symbolic"}},
        {"info.circle", {"dialog-information", "help-about", "dialog-information-symbolic"}},
        {"hand.tap.fill", {"input-touchscreen", "tool-pointer", "input-touchscreen-symbolic"}},
        {"clock", {"clock", "chronometer", "alarm-symbolic"}},
        {"clock.arrow.circlepath", {"view-history", "document-open-recent-symbolic"}},
        {"checklist", {"view-task", "view-pim-tasks", "emblem-default-symbolic"}},
        {"camera.metering.center.weighted", {"zoom-fit-best", "camera-photo", "camera-photo-symbolic"}},
        {"camera.aperture", {"camera-photo", "camera-photo-symbolic"}},
        {"wand.and.stars", {"tools-wizard", "applications-science-symbolic"}},
    };
    return entries;
}

const Entry* find(std::string_view name) {
    for (const Entry& entry : table()) {
        if (entry.symbol == name) return &entry;
    }
    return nullptr;
}

// A plain ring with the symbol's first letter: visible, neutral, never empty.
class FallbackEngine final : public QIconEngine {
public:
    explicit FallbackEngine(QString letter) : m_letter(std::move(letter)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QColor colour = mode == QIcon::Disabled ? QColor(128, 128, 128, 128) : QColor(128, 128, 128);
        const qreal side = std::min(rect.width(), rect.height()) - 2;
        const QRectF box(rect.center().x() - side / 2 + 0.5, rect.center().y() - side / 2 + 0.5, side, side);
        painter->setPen(QPen(colour, std::max<qreal>(1.0, side / 12)));
        painter->drawEllipse(box);
        QFont font = painter->font();
        font.setPixelSize(std::max(6, int(side * 0.55)));
        font.setBold(true);
        painter->setFont(font);
        painter->drawText(box, Qt::AlignCenter, m_letter);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return result;
    }
    QIconEngine* clone() const override { return new FallbackEngine(m_letter); }
    QString key() const override { return QStringLiteral("velk-fallback"); }

private:
    QString m_letter;
};

// Draws the source icon as a silhouette in one colour.
class TintEngine final : public QIconEngine {
public:
    TintEngine(QIcon source, QColor tint) : m_source(std::move(source)), m_tint(std::move(tint)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap result = m_source.pixmap(size, QIcon::Normal, state);
        if (result.isNull()) return result;
        result.setDevicePixelRatio(1.0);
        QPainter painter(&result);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        QColor colour = m_tint;
        if (mode == QIcon::Disabled) colour.setAlphaF(colour.alphaF() * 0.4);
        painter.fillRect(result.rect(), colour);
        return result;
    }
    QIconEngine* clone() const override { return new TintEngine(m_source, m_tint); }
    QString key() const override { return QStringLiteral("velk-tint"); }

private:
    QIcon m_source;
    QColor m_tint;
};

} // namespace

void installIconTheme() {
    // Breeze has the widest set of action names; Adwaita is GNOME's and present on most desktops.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& folder : {QStringLiteral("/usr/share/icons"), QStringLiteral("/usr/local/share/icons")}) {
        if (!paths.contains(folder) && QDir(folder).exists()) paths.append(folder);
    }
    QIcon::setThemeSearchPaths(paths);
    const bool haveBreeze = QFile::exists(QStringLiteral("/usr/share/icons/breeze/index.theme"));
    QIcon::setThemeName(haveBreeze ? QStringLiteral("breeze") : QStringLiteral("Adwaita"));
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}

QIcon icon(std::string_view name) {
    if (const Entry* entry = find(name)) {
        for (const std::string& themeName : entry->names) {
            QIcon themed = QIcon::fromTheme(QString::fromStdString(themeName));
            if (!themed.isNull() && !themed.availableSizes().isEmpty()) return themed;
            if (!themed.isNull() && !themed.pixmap(16, 16).isNull()) return themed;
        }
    }
    const QString letter = name.empty() ? QStringLiteral("?") : QString(QChar(name.front())).toUpper();
    return QIcon(new FallbackEngine(letter));
}

QIcon icon(std::string_view name, const QColor& tint) { return QIcon(new TintEngine(icon(name), tint)); }

std::vector<std::string> themeNames(std::string_view name) {
    const Entry* entry = find(name);
    return entry ? entry->names : std::vector<std::string>{};
}

std::vector<std::string> knownNames() {
    std::vector<std::string> names;
    for (const Entry& entry : table()) names.emplace_back(entry.symbol);
    return names;
}

bool isThemed(std::string_view name) {
    const Entry* entry = find(name);
    if (!entry) return false;
    for (const std::string& themeName : entry->names) {
        if (QIcon::hasThemeIcon(QString::fromStdString(themeName))) return true;
    }
    return false;
}

} // namespace velk::Symbols

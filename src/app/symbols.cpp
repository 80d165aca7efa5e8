#include "app/symbols.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPixmapCache>

namespace velk::Symbols {
namespace {

struct Entry {
    std::string_view symbol;
    std::vector<std::string> names;
};

// Breeze names first, then Adwaita's. The file panels' own controls have symbols here too.
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
        {"chevron.backward", {"go-previous", "go-previous-symbolic"}},
        {"chevron.forward", {"go-next", "go-next-symbolic"}},
        {"arrow.up", {"go-up", "go-up-symbolic"}},
        {"folder.badge.plus", {"folder-new", "folder-new-symbolic"}},
        {"list.bullet", {"view-list-text", "view-list-symbolic"}},
        {"doc", {"text-x-generic", "document-new", "text-x-generic-symbolic"}},
        {"internaldrive", {"drive-harddisk", "drive-harddisk-symbolic"}},
        {"desktopcomputer", {"computer", "computer-symbolic"}},
        {"trash", {"user-trash", "user-trash-symbolic"}},
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

// The one drawing a symbol is made from, as an SVG file: the first of its theme names that the
// icon theme or its fallback draws as a small one-colour symbol (Breeze's 16 and 22 px sizes and
// its symbolic ones, Adwaita's scalable ones). Breeze's larger sizes are full-colour pictures, whose
// silhouette is another shape, so they are never used; the drawing is scaled instead. Empty when
// no theme draws it.
QString findDrawing(const Entry& entry) {
    QStringList folders;
    // Breeze's dark variant inherits Breeze's drawings; the glyphs are the same in either ink.
    QStringList themes{QIcon::themeName(), QStringLiteral("breeze"), QIcon::fallbackThemeName()};
    themes.removeDuplicates();
    for (const QString& theme : themes) {
        for (const QString& root : QIcon::themeSearchPaths()) {
            const QDir dir(root + QLatin1Char('/') + theme);
            if (!dir.exists()) continue;
            const QStringList contexts = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            for (const char* size : {"16", "22", "symbolic"}) {
                for (const QString& context : contexts) folders << dir.filePath(context + QLatin1Char('/') + QLatin1String(size));
            }
            for (const QString& context : QDir(dir.filePath(QStringLiteral("scalable"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                folders << dir.filePath(QStringLiteral("scalable/") + context);
        }
    }
    for (const std::string& name : entry.names) {
        const QString file = QString::fromStdString(name) + QStringLiteral(".svg");
        for (const QString& folder : folders) {
            const QString path = folder + QLatin1Char('/') + file;
            if (QFile::exists(path)) return path;
        }
    }
    return {};
}

// Looked up once per symbol and icon theme.
std::map<std::string_view, QString>& foundDrawings() {
    static std::map<std::string_view, QString> found;
    return found;
}

QString drawing(const Entry& entry) {
    auto& found = foundDrawings();
    auto it = found.find(entry.symbol);
    if (it == found.end()) it = found.emplace(entry.symbol, findDrawing(entry)).first;
    return it->second;
}

// The drawing rendered at the pixels it is shown at (so it is sharp at every scale) and filled
// with one colour: the tint, or else the palette's button text, dimmed when disabled.
class SymbolEngine final : public QIconEngine {
public:
    SymbolEngine(QString file, std::optional<QColor> tint) : m_file(std::move(file)), m_tint(std::move(tint)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }
    // `size` in device pixels: QIcon asks for the size times the device pixel ratio.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const QColor colour = this->colour(mode);
        const QString key = QStringLiteral("velk-symbol:%1:%2x%3:%4")
                                .arg(m_file).arg(size.width()).arg(size.height()).arg(colour.rgba(), 0, 16);
        QPixmap result;
        if (QPixmapCache::find(key, &result)) return result;
        const int side = std::min(size.width(), size.height());
        QImageReader reader(m_file);
        reader.setScaledSize(QSize(side, side));
        const QImage glyph = reader.read();
        result = QPixmap(size);
        result.fill(Qt::transparent);
        if (!glyph.isNull()) {
            QPainter painter(&result);
            painter.drawImage(QPoint((size.width() - side) / 2, (size.height() - side) / 2), glyph);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(result.rect(), colour);
        }
        QPixmapCache::insert(key, result);
        return result;
    }
    QIconEngine* clone() const override { return new SymbolEngine(m_file, m_tint); }
    QString key() const override { return QStringLiteral("velk-symbol"); }
    // The theme's name of the drawing.
    QString iconName() override { return QFileInfo(m_file).completeBaseName(); }

private:
    QColor colour(QIcon::Mode mode) const {
        const bool disabled = mode == QIcon::Disabled;
        if (!m_tint) {
            return QGuiApplication::palette().color(disabled ? QPalette::Disabled : QPalette::Active, QPalette::ButtonText);
        }
        QColor colour = *m_tint;
        if (disabled) colour.setAlphaF(colour.alphaF() * 0.4f);
        return colour;
    }

    QString m_file;
    std::optional<QColor> m_tint;
};

QIcon symbolIcon(std::string_view name, std::optional<QColor> tint) {
    if (const Entry* entry = find(name)) {
        if (QString file = drawing(*entry); !file.isEmpty()) return QIcon(new SymbolEngine(std::move(file), std::move(tint)));
    }
    const QString letter = name.empty() ? QStringLiteral("?") : QString(QChar(name.front())).toUpper();
    return QIcon(new FallbackEngine(letter));
}

} // namespace

QString iconThemeFor(bool darkPalette, const std::function<bool(const QString&)>& installed) {
    if (darkPalette && installed(QStringLiteral("breeze-dark"))) return QStringLiteral("breeze-dark");
    if (installed(QStringLiteral("breeze"))) return QStringLiteral("breeze");
    return QStringLiteral("Adwaita");
}

void installIconTheme() {
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& folder : {QStringLiteral("/usr/share/icons"), QStringLiteral("/usr/local/share/icons")}) {
        if (!paths.contains(folder) && QDir(folder).exists()) paths.append(folder);
    }
    QIcon::setThemeSearchPaths(paths);
    const auto installed = [&paths](const QString& theme) {
        return std::any_of(paths.begin(), paths.end(), [&theme](const QString& root) {
            return QFile::exists(root + QLatin1Char('/') + theme + QStringLiteral("/index.theme"));
        });
    };
    // Set, so the platform theme's choice (GNOME's Adwaita, KDE's from kdeglobals) never applies.
    QIcon::setThemeName(iconThemeFor(QGuiApplication::palette().color(QPalette::Window).lightness() < 128, installed));
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    foundDrawings().clear();
}

QIcon icon(std::string_view name) { return symbolIcon(name, std::nullopt); }

QIcon icon(std::string_view name, const QColor& tint) { return symbolIcon(name, tint); }

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
    return entry && !drawing(*entry).isEmpty();
}

} // namespace velk::Symbols

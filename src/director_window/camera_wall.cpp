#include "director_window/camera_wall.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/key_repeat.hpp"
#include "app/keyboard_keeper.hpp"
#include "director_window/camera_frame_image.hpp"
#include "director_window/director_accessibility.hpp"
#include "director_window/studio_style.hpp"
#include "director_window/studio_view_kit.hpp"

namespace velk {

namespace {

using DirectorPresenters::WallCellKind;

constexpr double kBottomRowHeight = 25;
constexpr double kSpacing = 7;
constexpr const char* kReleaseSlot = "Release Camera Slot";

void drawDot(QPainter& painter, QPointF centre, double size, const QColor& color) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(centre, size / 2, size / 2);
}

void drawSymbol(QPainter& painter, const char* name, const QRectF& rect, const QColor& tint) {
    const QPixmap pixmap = Studio::symbol(name, tint).pixmap(QSize(int(rect.width()), int(rect.height())));
    painter.drawPixmap(rect.toRect(), pixmap);
}

// A font made smaller, down to `minimumScale` of its size, until `text` fits `width`.
QFont shrunkToFit(QFont font, const QString& text, double width, double minimumScale) {
    const double size = font.pointSizeF();
    const double natural = QFontMetricsF(font).horizontalAdvance(text);
    if (size <= 0 || natural <= width) return font;
    font.setPointSizeF(size * std::max(minimumScale, width / natural));
    return font;
}

// The height of a column's text lines, each after a gap.
double linesHeight(const std::vector<std::pair<QString, QFont>>& lines) {
    double height = 0;
    for (const auto& [text, font] : lines) height += 5 + QFontMetricsF(font).height();
    return height;
}

// Where a centred column of a symbol of `symbolSize` (none at 0) and lines `linesHeight` high puts
// its symbol in `area`.
QRectF columnSymbol(const QRectF& area, double symbolSize, double linesHeight) {
    const double top = area.center().y() - (symbolSize + linesHeight) / 2;
    return QRectF(area.center().x() - symbolSize / 2, top, symbolSize, symbolSize);
}

// A centred column of a symbol and text lines, as the placeholders and slot cells show them; a
// symbol of size 0 is left out.
void drawCentredColumn(QPainter& painter, const QRectF& area, const char* symbol, double symbolSize,
                       const std::vector<std::pair<QString, QFont>>& lines, const QColor& color) {
    const QRectF symbolRect = columnSymbol(area, symbolSize, linesHeight(lines));
    if (symbolSize > 0) drawSymbol(painter, symbol, symbolRect, color);
    double y = symbolRect.bottom();
    painter.setPen(color);
    for (const auto& [text, font] : lines) {
        y += 5;
        QFontMetricsF metrics(font);
        painter.setFont(font);
        const QString shown = metrics.elidedText(text, Qt::ElideRight, area.width() - 8);
        painter.drawText(QRectF(area.left(), y, area.width(), metrics.height()), Qt::AlignCenter, shown);
        y += metrics.height();
    }
}

// A live tile's picture: all of it but the meter row.
QRectF tilePicture(const QRectF& bounds) {
    return QRectF(bounds.left(), bounds.top(), bounds.width(), std::max(0.0, bounds.height() - kBottomRowHeight));
}

QFont tileNameFont() { return Studio::font(Studio::TextStyle::caption, true); }

// The label strip along the top edge of a live tile's picture.
QRectF labelStripIn(const QRectF& picture) {
    return QRectF(picture.left() + 6, picture.top() + 6, picture.width() - 12, QFontMetricsF(tileNameFont()).height() + 14);
}

// The status line of a live tile without a frame: one line, shrinking to 0.6 of its size before
// it is cut.
QFont statusFont(const QString& status, const QRectF& picture) {
    return shrunkToFit(Studio::font(Studio::TextStyle::caption2), status, picture.width() - 8, 0.6);
}

// Where a live tile without a frame centres its status: the picture below its label strip, which
// never covers the symbol. The symbol is made smaller where the room is short, and left out where
// less than half of it would fit.
QRectF statusArea(const QRectF& picture) {
    const double top = labelStripIn(picture).bottom();
    return QRectF(picture.left(), top, picture.width(), std::max(0.0, picture.bottom() - top));
}
double statusSymbolSize(const QRectF& area, double linesHeight) {
    constexpr double full = 22;
    const double room = std::min(full, area.height() - linesHeight - 4);
    return room >= full / 2 ? room : 0;
}

QColor tileColor(StudioColor color, const QPalette& palette) { return Studio::color(color, palette); }

} // namespace

CameraWallCell::CameraWallCell(int number, QWidget* parent) : QWidget(parent), m_number(number) {
    installDirectorAccessibility();
    setObjectName(QStringLiteral("wallCell%1").arg(number));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setMinimumSize(10, 10);
    m_kind = WallCellKind::live; // so that the first showEmpty() sets everything up
    showEmpty();
}

// Live tiles and locked cells take the focus from the keyboard only, so a click shows no focus
// ring; an empty cell has nothing to do and takes none, so a cell that had the focus (a slot
// released from its menu) hands it on by the keyboard's rule (app/keyboard_keeper).
void CameraWallCell::becomeKind(WallCellKind kind) {
    const bool hadFocus = window()->focusWidget() == this;
    m_kind = kind;
    setFocusPolicy(kind == WallCellKind::empty ? Qt::NoFocus : Qt::TabFocus);
    if (kind == WallCellKind::empty && hadFocus) Keyboard::settle(*window());
    setCursor(kind == WallCellKind::live ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (kind != WallCellKind::live) {
        m_cameraID.clear();
        m_image = QImage();
    }
}

void CameraWallCell::showEmpty() {
    if (m_kind == WallCellKind::empty) return;
    becomeKind(WallCellKind::empty);
    setAccessibleName(QString::fromStdString(DirectorPresenters::wallCellAccessibleName(m_number, std::nullopt)));
    setAccessibleDescription(QString::fromUtf8(DirectorPresenters::emptySlotWaiting));
    update();
}

void CameraWallCell::showLocked(const std::string& name) {
    if (m_kind == WallCellKind::lockedOffline && m_name == name) return;
    becomeKind(WallCellKind::lockedOffline);
    m_name = name;
    setAccessibleName(QString::fromStdString(DirectorPresenters::wallCellAccessibleName(m_number, name)));
    setAccessibleDescription(QString::fromStdString(DirectorPresenters::lockedCellAccessibleDescription(m_number)));
    update();
}

void CameraWallCell::showLive(const std::string& cameraID, const std::string& name, const TileState& state,
                              const QImage* image, std::int64_t rotation) {
    const qint64 newKey = image ? image->cacheKey() : 0;
    const qint64 oldKey = m_image.isNull() ? 0 : m_image.cacheKey();
    // The image matters only while it is drawn.
    const bool imageChanged = state.showsFrame && newKey != oldKey;
    if (m_kind == WallCellKind::live && m_cameraID == cameraID && m_name == name && m_state == state &&
        m_rotation == rotation && !imageChanged)
        return;
    // The once-a-second changes (running time, level, battery) touch the meter row alone.
    TileState meterOnly = state;
    meterOnly.meterValue = m_state.meterValue;
    meterOnly.levelText = m_state.levelText;
    meterOnly.levelIsElapsed = m_state.levelIsElapsed;
    meterOnly.batteryText = m_state.batteryText;
    const bool onlyMeterRow = m_kind == WallCellKind::live && m_cameraID == cameraID && m_name == name &&
                              meterOnly == m_state && m_rotation == rotation && !imageChanged;
    if (m_kind != WallCellKind::live) becomeKind(WallCellKind::live);
    m_cameraID = cameraID;
    m_name = name;
    m_state = state;
    m_rotation = rotation;
    m_image = image ? *image : QImage();
    const QString accessibleName = QString::fromStdString(DirectorPresenters::wallCellAccessibleName(m_number, name));
    if (this->accessibleName() != accessibleName) setAccessibleName(accessibleName);
    const QString description = QString::fromStdString(state.accessibleDescription);
    if (accessibleDescription() != description) setAccessibleDescription(description);
    if (onlyMeterRow) update(0, static_cast<int>(height() - kBottomRowHeight), width(), static_cast<int>(kBottomRowHeight));
    else update();
}

QRectF CameraWallCell::labelStrip() const { return labelStripIn(tilePicture(QRectF(rect()))); }

QRectF CameraWallCell::statusSymbol() const {
    const QRectF picture = tilePicture(QRectF(rect()));
    const QString status = QString::fromStdString(m_state.placeholderText);
    const double lines = linesHeight({{status, statusFont(status, picture)}});
    const QRectF area = statusArea(picture);
    return columnSymbol(area, statusSymbolSize(area, lines), lines);
}

void CameraWallCell::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    m_paintedPicture = event->rect().top() < height() - kBottomRowHeight;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    painter.setClipPath(shape);
    painter.fillPath(shape, QColor(0, 0, 0, m_kind == WallCellKind::live ? 46 : 31));
    const QRectF picture = tilePicture(bounds);
    const QRectF bottom(bounds.left() + 6, picture.bottom(), bounds.width() - 12, kBottomRowHeight);
    if (m_kind == WallCellKind::live) paintLive(painter, picture, bottom);
    else paintSlot(painter, picture, bottom);

    painter.setClipping(false);
    painter.setBrush(Qt::NoBrush);
    QPen outline(QColor(255, 255, 255, m_kind == WallCellKind::live ? 20 : 15), 1);
    if (m_kind == WallCellKind::live && m_state.outline == TileOutline::program) outline = QPen(Theme::red(), 2);
    else if (m_kind == WallCellKind::live && m_state.outline == TileOutline::preview) outline = QPen(Theme::green(), 2);
    const double inset = outline.widthF() / 2;
    painter.setPen(outline);
    painter.drawRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), 10, 10);
    if (hasFocus()) {
        // The keyboard's focus: a white ring inside the routing outline, which keeps its colour.
        painter.setPen(QPen(Theme::withOpacity(Qt::white, 0.9), 2));
        painter.drawRoundedRect(bounds.adjusted(4, 4, -4, -4), 7, 7);
    }
}

void CameraWallCell::paintLive(QPainter& painter, const QRectF& picture, const QRectF& bottom) {
    const QPalette& pal = palette();
    const QColor secondary = Theme::secondary(pal);
    if (m_paintedPicture) {
        painter.fillRect(picture, Qt::black);
        if (m_state.showsFrame && !m_image.isNull()) {
            drawCameraFrame(painter, picture, m_image, m_rotation);
            if (m_observer) m_observer(m_cameraID, m_image.cacheKey());
        } else {
            const QString status = QString::fromStdString(m_state.placeholderText);
            drawCentredColumn(painter, statusArea(picture), "video.slash", statusSymbol().width(),
                              {{status, statusFont(status, picture)}}, secondary);
        }
        paintLabelStrip(painter, picture);
    }
    paintMeterRow(painter, bottom);
}

void CameraWallCell::paintLabelStrip(QPainter& painter, const QRectF& picture) {
    const QPalette& pal = palette();

    const QFont nameFont = tileNameFont();
    const QFont stripFont = Studio::font(Studio::TextStyle::caption2, true);
    const QFontMetricsF nameMetrics(nameFont);
    const QRectF strip = labelStripIn(picture);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 40, 44, 170));
    painter.drawRoundedRect(strip, 7, 7);
    double x = strip.left() + 7;
    const double midY = strip.center().y();
    drawDot(painter, QPointF(x + 3.5, midY), 7, tileColor(m_state.dotColor, pal));
    x += 7 + 5;

    // The right-hand tag first, so the name knows its room.
    double right = strip.right() - 7;
    painter.setFont(stripFont);
    const QFontMetricsF stripMetrics(stripFont);
    if (m_state.tag != TileTag::none) {
        const QString tag = m_state.tag == TileTag::program ? "PGM" : "PVW";
        const double w = stripMetrics.horizontalAdvance(tag);
        painter.setPen(m_state.tag == TileTag::program ? Theme::red() : Theme::green());
        painter.drawText(QRectF(right - w, strip.top(), w, strip.height()), Qt::AlignVCenter | Qt::AlignRight, tag);
        right -= w + 5;
    }
    QString badge;
    QColor badgeColor = Theme::orange();
    if (m_state.badge == TileBadge::rec) {
        badge = "REC";
        badgeColor = Theme::red();
    } else if (m_state.badge == TileBadge::saving) badge = "SAVING";
    else if (m_state.badge == TileBadge::busy) badge = "BUSY";
    const double badgeWidth = badge.isEmpty() ? 0 : stripMetrics.horizontalAdvance(badge) + (m_state.badge == TileBadge::rec ? 10 : 0);
    painter.setFont(nameFont);
    const double nameRoom = std::max(0.0, right - x - (badgeWidth > 0 ? badgeWidth + 5 : 0));
    const QString name = nameMetrics.elidedText(QString::fromStdString(m_name), Qt::ElideRight, nameRoom);
    painter.setPen(pal.color(QPalette::WindowText));
    painter.drawText(QRectF(x, strip.top(), nameRoom, strip.height()), Qt::AlignVCenter | Qt::AlignLeft, name);
    x += nameMetrics.horizontalAdvance(name) + 5;
    if (!badge.isEmpty()) {
        painter.setFont(stripFont);
        if (m_state.badge == TileBadge::rec) {
            const QRectF pill(x, midY - stripMetrics.height() / 2 - 2, badgeWidth, stripMetrics.height() + 4);
            painter.setPen(Qt::NoPen);
            painter.setBrush(Theme::withOpacity(Theme::red(), 0.15));
            painter.drawRoundedRect(pill, 4, 4);
            painter.setPen(badgeColor);
            painter.drawText(pill, Qt::AlignCenter, badge);
        } else {
            painter.setPen(badgeColor);
            painter.drawText(QRectF(x, strip.top(), badgeWidth, strip.height()), Qt::AlignVCenter | Qt::AlignLeft, badge);
        }
    }

}

void CameraWallCell::paintMeterRow(QPainter& painter, const QRectF& bottom) {
    const QPalette& pal = palette();
    const QFont rowFont = Theme::monospacedDigits(Studio::TextStyle::caption2);
    const QFontMetricsF rowMetrics(rowFont);
    painter.setFont(rowFont);
    double textRight = bottom.right();
    if (m_state.batteryText) {
        const QString battery = QString::fromStdString(*m_state.batteryText);
        const double w = rowMetrics.horizontalAdvance(battery);
        painter.setPen(pal.color(QPalette::WindowText));
        painter.drawText(QRectF(textRight - w, bottom.top(), w, bottom.height()), Qt::AlignVCenter | Qt::AlignRight, battery);
        textRight -= w + 4;
    }
    const QString level = QString::fromStdString(m_state.levelText);
    const double levelWidth = rowMetrics.horizontalAdvance(level);
    painter.setPen(m_state.levelIsElapsed ? pal.color(QPalette::WindowText) : Theme::secondary(pal));
    painter.drawText(QRectF(textRight - levelWidth, bottom.top(), levelWidth, bottom.height()),
                     Qt::AlignVCenter | Qt::AlignRight, level);
    textRight -= levelWidth + 4;
    paintAudioMeter(painter, QRectF(bottom.left(), bottom.center().y() - 2.5, std::max(0.0, textRight - bottom.left()), 5),
                    m_state.meterValue, pal);
}

void CameraWallCell::paintSlot(QPainter& painter, const QRectF& picture, const QRectF& bottom) {
    const QPalette& pal = palette();
    const bool locked = m_kind == WallCellKind::lockedOffline;
    painter.fillRect(picture, QColor(0, 0, 0, locked ? 173 : 140));
    const QColor text = locked ? Theme::secondary(pal) : Theme::withOpacity(pal.color(QPalette::WindowText), 0.35);
    if (locked) {
        drawCentredColumn(painter, picture, "lock.fill", 18,
                          {{QString::fromStdString(m_name), Studio::font(Studio::TextStyle::caption, true)},
                           {QString::fromStdString(DirectorPresenters::lockedSlotLine(m_number)),
                            Studio::font(Studio::TextStyle::caption2)}},
                          text);
    } else {
        drawCentredColumn(painter, picture, "video.badge.plus", 18,
                          {{QString::fromStdString(DirectorPresenters::emptySlotTitle(m_number)),
                            Studio::font(Studio::TextStyle::caption, true)},
                           {DirectorPresenters::emptySlotWaiting, Studio::font(Studio::TextStyle::caption2)}},
                          text);
    }
    drawDot(painter, QPointF(bottom.left() + 3, bottom.center().y()), 6, Theme::gray());
    painter.setFont(Studio::font(Studio::TextStyle::caption2));
    painter.setPen(Theme::secondary(pal));
    painter.drawText(QRectF(bottom.left() + 11, bottom.top(), bottom.width() - 11, bottom.height()),
                     Qt::AlignVCenter | Qt::AlignLeft,
                     locked ? DirectorPresenters::lockedSlotHint : DirectorPresenters::emptySlotStatus);
}

void CameraWallCell::activate() {
    if (m_kind == WallCellKind::live) Q_EMIT selected(QString::fromStdString(m_cameraID));
}

void CameraWallCell::openMenu(const QPoint& globalPos, bool fromKeyboard) {
    if (m_kind != WallCellKind::lockedOffline) return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const int index = m_number - 1;
    QAction* release = menu->addAction(kReleaseSlot, this, [this, index] { Q_EMIT releaseRequested(index); });
    menu->popup(globalPos);
    if (fromKeyboard) menu->setActiveAction(release);
}

void CameraWallCell::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) activate();
    QWidget::mouseReleaseEvent(event);
}

// The Menu key arrives here from the platform as a keyboard context-menu event.
void CameraWallCell::contextMenuEvent(QContextMenuEvent* event) {
    const bool fromKeyboard = event->reason() == QContextMenuEvent::Keyboard;
    openMenu(fromKeyboard ? mapToGlobal(rect().center()) : event->globalPos(), fromKeyboard);
}

// Return and Enter, whatever the modifiers, select a live tile, once per press; Shift+F10 opens a
// locked cell's menu.
void CameraWallCell::keyPressEvent(QKeyEvent* event) {
    const bool activation = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (activation && m_kind == WallCellKind::live) {
        if (!KeyRepeat::isRepeat(*event)) activate();
        return;
    }
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier &&
        m_kind == WallCellKind::lockedOffline) {
        openMenu(mapToGlobal(rect().center()), true);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CameraWallCell::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void CameraWallCell::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

CameraWall::CameraWall(QWidget* parent) : QWidget(parent) {
    for (int i = 0; i < 8; ++i) {
        auto* cell = new CameraWallCell(i + 1, this);
        connect(cell, &CameraWallCell::selected, this, &CameraWall::cameraSelected);
        connect(cell, &CameraWallCell::releaseRequested, this, &CameraWall::releaseRequested);
        m_cells[static_cast<std::size_t>(i)] = cell;
    }
    m_emptyState = new QWidget(this);
    auto* column = new QVBoxLayout(m_emptyState);
    column->setSpacing(12);
    column->addStretch(1);
    auto* icon = new QLabel(m_emptyState);
    icon->setPixmap(Studio::symbol("wifi.exclamationmark", Theme::orange()).pixmap(34, 34));
    column->addWidget(icon, 0, Qt::AlignHCenter);
    auto* title = new QLabel("No Kestova cameras yet", m_emptyState);
    title->setFont(Studio::font(Studio::TextStyle::headline));
    column->addWidget(title, 0, Qt::AlignHCenter);
    auto* detail = new QLabel("Keep a phone camera open on the same trusted Wi-Fi network.", m_emptyState);
    detail->setFont(Studio::font(Studio::TextStyle::caption));
    QPalette dim = detail->palette();
    dim.setColor(QPalette::WindowText, Theme::secondary(dim));
    detail->setPalette(dim);
    column->addWidget(detail, 0, Qt::AlignHCenter);
    m_scanAgain = new QPushButton("Scan Again", m_emptyState);
    connect(m_scanAgain, &QPushButton::clicked, this, &CameraWall::scanAgainRequested);
    column->addWidget(m_scanAgain, 0, Qt::AlignHCenter);
    column->addStretch(1);
    setShowsEmptyState(true);
}

void CameraWall::setFramePaintObserver(const FramePaintObserver& observer) {
    for (auto* cell : m_cells) cell->setFramePaintObserver(observer);
}

void CameraWall::setShowsEmptyState(bool empty) {
    m_showsEmptyState = empty;
    m_emptyState->setVisible(empty);
    for (auto* cell : m_cells) cell->setVisible(!empty);
    layoutCells();
}

void CameraWall::resizeEvent(QResizeEvent*) { layoutCells(); }

void CameraWall::layoutCells() {
    m_emptyState->setGeometry(rect());
    const double cellHeight = DirectorPresenters::wallCellHeight(height());
    const double columnWidth = (width() - 3 * kSpacing) / 4;
    for (int i = 0; i < 8; ++i) {
        const int row = i / 4, column = i % 4;
        const double x = column * (columnWidth + kSpacing);
        const double y = row * (cellHeight + kSpacing);
        // Whole pixels: round both edges so neighbouring cells keep their 7-point gap.
        const int left = static_cast<int>(std::lround(x));
        const int top = static_cast<int>(std::lround(y));
        m_cells[static_cast<std::size_t>(i)]->setGeometry(left, top,
                                                          static_cast<int>(std::lround(x + columnWidth)) - left,
                                                          static_cast<int>(std::lround(y + cellHeight)) - top);
    }
}

} // namespace velk

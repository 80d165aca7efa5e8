#include "director_window/switcher_view.hpp"

#include <cmath>

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/view_kit.hpp"
#include "director_window/camera_frame_image.hpp"
#include "director_window/director_window.hpp"
#include "director_window/studio_style.hpp"

namespace velk {

namespace {

const std::pair<const char*, double> kFadeDurations[] = {{"0.5 s", 0.5}, {"1.0 s", 1.0}, {"1.5 s", 1.5}, {"2.0 s", 2.0}};

} // namespace

DirectorMonitor::DirectorMonitor(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void DirectorMonitor::setMonitor(const MonitorState& state, const QImage* image, std::int64_t rotation) {
    const bool drawsFrame = state.picture == MonitorPicture::frame && image;
    const bool imageChanged = drawsFrame && image->cacheKey() != (m_image.isNull() ? 0 : m_image.cacheKey());
    if (state == m_state && rotation == m_rotation && !imageChanged) return;
    m_state = state;
    m_rotation = rotation;
    m_image = drawsFrame ? *image : QImage();
    if (accessibleName() != QString::fromStdString(state.accessibleName)) setAccessibleName(QString::fromStdString(state.accessibleName));
    const QString toolTip = plainToolTip(QString::fromStdString(state.cameraLine)); // the whole line, however cut
    if (this->toolTip() != toolTip) setToolTip(toolTip);
    const QString description = QString::fromStdString(state.accessibleDescription);
    if (accessibleDescription() != description) setAccessibleDescription(description);
    update();
}

void DirectorMonitor::paintEvent(QPaintEvent*) {
    ++m_paintCount;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor accent = Studio::color(m_state.color, pal);

    // Header line: title, recording badge, camera line.
    const QFont titleFont = Studio::font(Studio::TextStyle::caption, true);
    const QFont lineFont = Studio::font(Studio::TextStyle::caption);
    const QFontMetricsF titleMetrics(titleFont);
    const double headerHeight = titleMetrics.height() + 4;
    painter.setFont(titleFont);
    painter.setPen(accent);
    const QString title = QString::fromStdString(m_state.title);
    painter.drawText(QRectF(0, 0, width(), headerHeight), Qt::AlignVCenter | Qt::AlignLeft, title);
    double x = titleMetrics.horizontalAdvance(title) + 6;
    if (m_state.showsRecordingBadge) {
        const QFont badgeFont = Studio::font(Studio::TextStyle::caption2, true);
        const QFontMetricsF badgeMetrics(badgeFont);
        const QRectF pill(x, (headerHeight - badgeMetrics.height() - 4) / 2, badgeMetrics.horizontalAdvance("REC") + 10,
                          badgeMetrics.height() + 4);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::withOpacity(Theme::red(), 0.15));
        painter.drawRoundedRect(pill, 4, 4);
        painter.setFont(badgeFont);
        painter.setPen(Theme::red());
        painter.drawText(pill, Qt::AlignCenter, "REC");
        x = pill.right() + 6;
    }
    painter.setFont(lineFont);
    painter.setPen(Theme::secondary(pal));
    const QString line = elidedKeepingEnd(QFontMetrics(lineFont), QString::fromStdString(m_state.cameraLine),
                                          QString::fromStdString(m_state.cameraState), std::max(0, width() - int(std::ceil(x))));
    painter.drawText(QRectF(x, 0, width() - x, headerHeight), Qt::AlignVCenter | Qt::AlignRight, line);

    // Picture box.
    const QRectF box(1, headerHeight + 6, width() - 2, std::max(70.0, height() - headerHeight - 7));
    QPainterPath shape;
    shape.addRoundedRect(box, 9, 9);
    painter.fillPath(shape, Qt::black);
    if (m_state.picture == MonitorPicture::frame && !m_image.isNull()) {
        painter.save();
        painter.setClipPath(shape);
        drawCameraFrame(painter, box, m_image, m_rotation);
        painter.restore();
    } else {
        const bool offline = m_state.picture == MonitorPicture::offline;
        const QColor dim = Theme::secondary(pal);
        const double symbol = 28;
        const QFont offlineFont = Studio::font(Studio::TextStyle::caption2, true);
        const double textHeight = offline ? QFontMetricsF(offlineFont).height() + 5 : 0;
        const double top = box.center().y() - (symbol + textHeight) / 2;
        painter.drawPixmap(QRectF(box.center().x() - symbol / 2, top, symbol, symbol).toRect(),
                           Studio::symbol(offline ? "video.slash" : "rectangle.dashed", dim).pixmap(int(symbol), int(symbol)));
        if (offline) {
            painter.setFont(offlineFont);
            painter.setPen(dim);
            painter.drawText(QRectF(box.left(), top + symbol + 5, box.width(), textHeight - 5), Qt::AlignCenter, "OFFLINE");
        }
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Theme::withOpacity(accent, 0.65), 2));
    painter.drawPath(shape);
}

SwitcherView::SwitcherView(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    auto* monitors = new QHBoxLayout;
    monitors->setSpacing(10);
    m_preview = new DirectorMonitor(this);
    m_preview->setObjectName("previewMonitor");
    m_program = new DirectorMonitor(this);
    m_program->setObjectName("programMonitor");
    monitors->addWidget(m_preview);
    monitors->addWidget(m_program);
    column->addLayout(monitors, 1);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(8);
    m_cut = new QPushButton("CUT", this);
    m_cut->setDefault(true); // the prominent style
    m_cut->setMinimumHeight(30);
    m_cut->setToolTip("Put the Preview camera on Program immediately and log the edit");
    m_fade = new QPushButton("FADE", this);
    m_fade->setMinimumHeight(30);
    m_fade->setToolTip("Fade from Program to Preview using the selected duration and log the edit");
    m_duration = new QComboBox(this);
    m_duration->setObjectName("fadeDuration");
    m_duration->setAccessibleName(DirectorPresenters::AccessibleName::fadeDuration);
    m_duration->setFixedWidth(88);
    for (const auto& [label, seconds] : kFadeDurations) m_duration->addItem(label, seconds);
    m_duration->setCurrentIndex(1);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFixedHeight(24);
    m_marker = new QPushButton(Studio::symbol("bookmark", palette().color(QPalette::ButtonText)), "Marker", this);
    m_marker->setToolTip("Add a timestamped marker to the Director edit log");
    auto* monitorOnly = new QLabel(this);
    monitorOnly->setTextFormat(Qt::PlainText);
    auto* eye = new QLabel(this);
    eye->setObjectName("monitorOnlySymbol");
    // At the size its drawing is made for, as the inspector's orientation symbol: sharp.
    eye->setPixmap(Studio::symbol("eye", Theme::secondary(palette())).pixmap(16, 16));
    monitorOnly->setText("Monitor only");
    monitorOnly->setFont(Studio::font(Studio::TextStyle::caption));
    Theme::setSecondary(*monitorOnly);
    // Tab reaches the buttons (a click leaves the focus where it was); Space stays the window's
    // CUT whichever control has the focus, Return presses the focused one.
    for (QWidget* button : {static_cast<QWidget*>(m_cut), static_cast<QWidget*>(m_fade), static_cast<QWidget*>(m_marker)})
        button->setFocusPolicy(Qt::TabFocus);
    controls->addWidget(m_cut);
    controls->addWidget(m_fade);
    controls->addWidget(m_duration);
    controls->addWidget(divider);
    controls->addWidget(m_marker);
    controls->addStretch(1);
    controls->addWidget(eye);
    controls->addWidget(monitorOnly);
    column->addLayout(controls);

    connect(m_cut, &QPushButton::clicked, this, [this] { m_window.perform(DirectorTransition::cut); });
    connect(m_fade, &QPushButton::clicked, this, [this] { m_window.perform(DirectorTransition::fade); });
    connect(m_marker, &QPushButton::clicked, this, [this] { m_window.addMarker(); });
    connect(m_duration, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_window.setFadeDuration(m_duration->itemData(index).toDouble()); });
}

void SwitcherView::refresh() {
    const bool canTake = m_window.canTake();
    m_cut->setEnabled(canTake);
    m_fade->setEnabled(canTake);
    m_marker->setEnabled(m_window.workspace().timeline.isRunning());
    const double fade = m_window.workspace().fadeDuration;
    for (int i = 0; i < m_duration->count(); ++i)
        if (m_duration->itemData(i).toDouble() == fade && m_duration->currentIndex() != i) m_duration->setCurrentIndex(i);
    refreshMonitors();
}

void SwitcherView::refreshMonitors() {
    const auto& timeline = m_window.workspace().timeline;
    for (bool program : {false, true}) {
        const auto& id = program ? timeline.programCameraID : timeline.previewCameraID;
        const QImage* image = m_window.previewImage(id);
        const MonitorState state =
            DirectorPresenters::monitorState(program, id, m_window.cameras(), m_window.now(), image != nullptr);
        (program ? m_program : m_preview)->setMonitor(state, image, m_window.previewRotation(id));
    }
}

} // namespace velk

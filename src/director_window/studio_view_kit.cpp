#include "director_window/studio_view_kit.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "director_window/director_accessibility.hpp"
#include "director_window/studio_style.hpp"

namespace velk {

namespace {

QLabel* makeLabel(const QString& text, QFont font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setTextColor(QWidget& widget, const QColor& color) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

QLabel* symbolLabel(const char* icon, const QColor& tint, int size, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Studio::symbol(icon, tint).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

} // namespace

// --- StudioPanel ---

StudioPanel::StudioPanel(const QString& title, const QString& subtitle, const char* icon, QWidget* content,
                         QWidget* parent)
    : QFrame(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new QWidget(this);
    header->setFixedHeight(34);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(6);
    row->addWidget(symbolLabel(icon, palette().color(QPalette::WindowText), 14, header));
    row->addWidget(makeLabel(title, Studio::font(Studio::TextStyle::caption, true), header));
    m_subtitle = makeLabel(subtitle, Studio::font(Studio::TextStyle::caption), header);
    setTextColor(*m_subtitle, Theme::secondary(palette()));
    row->addWidget(m_subtitle);
    row->addStretch(1);
    column->addWidget(header);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setStyleSheet("background: rgba(255,255,255,20); border: none;");
    column->addWidget(divider);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(10, 10, 10, 10);
    body->addWidget(content, 1);
    column->addLayout(body, 1);
}

void StudioPanel::setSubtitle(const QString& subtitle) {
    if (m_subtitle->text() != subtitle) m_subtitle->setText(subtitle);
}

QString StudioPanel::subtitle() const { return m_subtitle->text(); }

void StudioPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Theme::cardOutline(), 1));
    painter.setBrush(Theme::material(palette()));
    painter.drawRoundedRect(box, 13, 13);
}

void paintNoteBackground(QWidget& widget, int radius) {
    QPainter painter(&widget);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::withOpacity(widget.palette().color(QPalette::WindowText), 0.07));
    painter.drawRoundedRect(QRectF(widget.rect()), radius, radius);
}

// --- AudioMeter ---

AudioMeter::AudioMeter(QWidget* parent) : QWidget(parent) {
    installDirectorAccessibility();
    setFixedHeight(5);
    setMinimumWidth(45);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void AudioMeter::setValue(double db) {
    if (db == m_value) return;
    m_value = db;
    update();
}

void AudioMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintAudioMeter(painter, QRectF(rect()), m_value, palette());
}

void paintAudioMeter(QPainter& painter, const QRectF& rect, double db, const QPalette& palette) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double radius = rect.height() / 2;
    painter.setBrush(Theme::withOpacity(palette.color(QPalette::WindowText), 0.18));
    painter.drawRoundedRect(rect, radius, radius);
    const double width = rect.width() * DirectorPresenters::meterFill(db);
    if (width > 0) {
        painter.setBrush(Studio::color(DirectorPresenters::meterColor(db), palette));
        painter.drawRoundedRect(QRectF(rect.left(), rect.top(), width, rect.height()), radius, radius);
    }
    painter.restore();
}

// --- InspectorHeading ---

InspectorHeading::InspectorHeading(const QString& title, const QString& detail, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    m_title = new ElidedLabel(title, this); // cut to one line
    m_title->setFont(Studio::font(Studio::TextStyle::title3, true));
    m_detail = makeLabel(detail, Studio::font(Studio::TextStyle::caption), this);
    m_detail->setWordWrap(true);
    setTextColor(*m_detail, Theme::secondary(palette()));
    column->addWidget(m_title);
    column->addWidget(m_detail);
}

void InspectorHeading::setTitle(const QString& title, const QString& keptEnd) {
    m_title->setKeptEnd(keptEnd);
    if (m_title->text() == title) return;
    m_title->setText(title);
    m_title->setToolTip(plainToolTip(title));
}
void InspectorHeading::setDetail(const QString& detail) {
    if (m_detail->text() != detail) m_detail->setText(detail);
}
QString InspectorHeading::title() const { return m_title->text(); }
QString InspectorHeading::detail() const { return m_detail->text(); }

// --- PreviewStatusRow ---

PreviewStatusRow::PreviewStatusRow(const QString& label, const QString& value, QWidget* parent)
    : QWidget(parent), m_label(label) {
    installDirectorAccessibility();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto* name = makeLabel(label, Studio::font(Studio::TextStyle::caption), this);
    name->setFixedWidth(56);
    name->setWordWrap(true);
    setTextColor(*name, Theme::secondary(palette()));
    m_value = new TwoLineLabel(this);
    m_value->setFont(Studio::font(Studio::TextStyle::caption));
    m_value->setText(value);
    m_value->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // The row is read as one text, its field and value together.
    drawnForTheEyeOnly(*name);
    drawnForTheEyeOnly(*m_value);
    row->addWidget(name, 0, Qt::AlignTop);
    row->addWidget(m_value, 1);
}

void PreviewStatusRow::setValue(const QString& value, const QString& cameraName) {
    if (m_value->text() != value) m_value->setText(value);
    const QString spoken = QString::fromStdString(DirectorPresenters::spokenWithCamera(
        cameraName.toStdString(), (m_label + QStringLiteral(": ") + value).toStdString()));
    if (accessibleName() != spoken) setAccessibleName(spoken);
}
QString PreviewStatusRow::value() const { return m_value->text(); }

// --- SafetyNote ---

SafetyNote::SafetyNote(const char* icon, const QString& text, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(6);
    const QColor dim = Theme::secondary(palette());
    row->addWidget(symbolLabel(icon, dim, 14, this), 0, Qt::AlignTop);
    auto* label = makeLabel(text, Studio::font(Studio::TextStyle::caption), this);
    label->setWordWrap(true);
    setTextColor(*label, dim);
    row->addWidget(label, 1);
}

void SafetyNote::paintEvent(QPaintEvent*) { paintNoteBackground(*this); }

// --- FutureControl ---

FutureControl::FutureControl(const char* icon, const QString& title, const QString& detail, QWidget* parent)
    : QWidget(parent) {
    setToolTip(helpText);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(10);
    auto* symbol = symbolLabel(icon, Theme::green(), 20, this);
    auto* symbolColumn = new QWidget(this);
    symbolColumn->setFixedWidth(26);
    auto* symbolLayout = new QHBoxLayout(symbolColumn);
    symbolLayout->setContentsMargins(0, 0, 0, 0);
    symbolLayout->addWidget(symbol, 0, Qt::AlignCenter);
    row->addWidget(symbolColumn);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* titleLabel = makeLabel(title, Studio::font(Studio::TextStyle::callout, true), this);
    titleLabel->setWordWrap(true);
    texts->addWidget(titleLabel);
    auto* detailLabel = makeLabel(detail, Studio::font(Studio::TextStyle::caption), this);
    detailLabel->setWordWrap(true);
    setTextColor(*detailLabel, Theme::secondary(palette()));
    texts->addWidget(detailLabel);
    row->addLayout(texts, 1);
    auto* planned = makeLabel("PLANNED", Studio::font(Studio::TextStyle::caption2, true), this);
    setTextColor(*planned, Theme::secondary(palette()));
    row->addWidget(planned);
}

void FutureControl::paintEvent(QPaintEvent*) { paintNoteBackground(*this); }

// --- CompactAudioChannel ---

CompactAudioChannel::CompactAudioChannel(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(8);
    auto* header = new QHBoxLayout;
    m_name = new ElidedLabel({}, this);
    m_name->setFont(Studio::font(Studio::TextStyle::callout, true));
    drawnForTheEyeOnly(*m_name); // each meter bar tells its camera with its level
    m_level = makeLabel({}, Theme::monospacedDigits(Studio::TextStyle::caption), this);
    setTextColor(*m_level, Theme::secondary(palette()));
    drawnForTheEyeOnly(*m_level); // the meter bars tell each level
    header->addWidget(m_name, 1);
    header->addWidget(m_level);
    column->addLayout(header);
    auto* meters = new QHBoxLayout;
    meters->setSpacing(7);
    m_left = new AudioMeter(this);
    m_right = new AudioMeter(this);
    meters->addWidget(m_left);
    meters->addWidget(m_right);
    column->addLayout(meters);
    auto* controls = new QHBoxLayout;
    auto* gain = makeLabel("GAIN", Studio::font(Studio::TextStyle::caption2), this);
    setTextColor(*gain, Theme::secondary(palette()));
    controls->addWidget(gain);
    m_gain = new QSlider(Qt::Horizontal, this);
    m_gain->setRange(0, 1000);
    m_gain->setEnabled(false);
    m_gain->setAccessibleName(DirectorPresenters::AccessibleName::gain);
    gain->setBuddy(m_gain);
    controls->addWidget(m_gain, 1);
    m_mute = new QToolButton(this);
    m_mute->setText("M");
    m_mute->setAccessibleName(DirectorPresenters::AccessibleName::mute);
    m_mute->setCheckable(true);
    m_mute->setEnabled(false);
    m_solo = new QToolButton(this);
    m_solo->setText("S");
    m_solo->setAccessibleName(DirectorPresenters::AccessibleName::solo);
    m_solo->setCheckable(true);
    m_solo->setEnabled(false);
    controls->addWidget(m_mute);
    controls->addWidget(m_solo);
    column->addLayout(controls);
}

void CompactAudioChannel::setChannel(const AudioChannelState& channel, const LiveCamera* camera, WallTime now) {
    const QString name = QString::fromStdString(channel.name);
    if (m_name->text() != name) {
        m_name->setText(name);
        // Each strip's controls say whose they are.
        for (QWidget* control : {static_cast<QWidget*>(m_gain), static_cast<QWidget*>(m_mute), static_cast<QWidget*>(m_solo)})
            control->setAccessibleDescription(name);
    }
    const QString level = QString::fromStdString(DirectorPresenters::channelLevelText(camera, now));
    if (m_level->text() != level) m_level->setText(level);
    const auto [left, right] = DirectorPresenters::channelMeterValues(camera, now);
    m_left->setValue(left);
    m_right->setValue(right);
    const auto [leftText, rightText] = DirectorPresenters::channelMeterAccessibleTexts(channel.name, camera, now);
    for (auto [meter, text] : {std::pair{m_left, &leftText}, std::pair{m_right, &rightText}}) {
        const QString spoken = QString::fromStdString(*text);
        if (meter->accessibleName() != spoken) meter->setAccessibleName(spoken);
    }
    m_gain->setValue(static_cast<int>(channel.gain * 1000 + 0.5));
    m_mute->setChecked(channel.muted);
    m_solo->setChecked(channel.solo);
}

QString CompactAudioChannel::levelText() const { return m_level->text(); }

void CompactAudioChannel::paintEvent(QPaintEvent*) { paintNoteBackground(*this); }

} // namespace velk

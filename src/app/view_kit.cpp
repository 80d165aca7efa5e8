#include "app/view_kit.hpp"

#include <algorithm>

#include <QApplication>
#include <QPainter>
#include <QVBoxLayout>

#include "app/symbols.hpp"
#include "app/theme.hpp"

namespace velk {

namespace {

QLabel* plainLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

EmptyStateView::EmptyStateView(const QString& title, std::string_view symbol, const QString& detail, QWidget* parent)
    : EmptyStateView(title, symbol, detail, Size::regular, parent) {}

EmptyStateView::EmptyStateView(const QString& title, std::string_view symbol, const QString& detail, Size size,
                               QWidget* parent)
    : QWidget(parent) {
    const bool compact = size == Size::compact;
    auto* column = new QVBoxLayout(this);
    const int padding = compact ? 20 : 30;
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(compact ? 8 : 12);
    column->addStretch(1);
    const QColor dim = Theme::secondary(palette());
    const int symbolSize = compact ? 28 : 42;
    auto* icon = new QLabel(this);
    icon->setPixmap(Symbols::icon(symbol, dim).pixmap(QSize(symbolSize, symbolSize), qApp ? qApp->devicePixelRatio() : 1.0));
    icon->setAlignment(Qt::AlignCenter);
    column->addWidget(icon);
    m_title = plainLabel(title, compact ? Theme::font(Theme::TextStyle::headline, true)
                                        : Theme::font(Theme::TextStyle::title2, true), this);
    m_title->setWordWrap(true);
    column->addWidget(m_title);
    m_detail = plainLabel(detail, Theme::font(compact ? Theme::TextStyle::caption : Theme::TextStyle::body), this);
    m_detail->setWordWrap(true);
    Theme::setSecondary(*m_detail);
    column->addWidget(m_detail);
    column->addStretch(1);
}

CompactEmptyState::CompactEmptyState(const QString& title, std::string_view icon, const QString& detail, QWidget* parent)
    : EmptyStateView(title, icon, detail, Size::compact, parent) {}

StatusPill::StatusPill(QWidget* parent) : StatusPill({}, Theme::secondary(parent ? parent->palette() : QApplication::palette()), parent) {}

StatusPill::StatusPill(const QString& text, const QColor& color, QWidget* parent) : QLabel(parent) {
    setFont(Theme::font(Theme::TextStyle::caption, true));
    setTextFormat(Qt::PlainText);
    setContentsMargins(11, 6, 11, 6);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setPill(text, color);
}

void StatusPill::setPill(const QString& text, const QColor& color) {
    if (text == this->text() && color == m_color) return;
    m_color = color;
    setText(text);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, color);
    setPalette(palette);
    update();
}

void StatusPill::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::withOpacity(m_color, 0.16));
        const double radius = height() / 2.0;
        painter.drawRoundedRect(QRectF(rect()), radius, radius);
    }
    QLabel::paintEvent(event);
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void ElidedLabel::keepAtLeast(int characters) {
    m_keptCharacters = characters;
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    updateGeometry();
}

QSize ElidedLabel::minimumSizeHint() const {
    const int height = QLabel::minimumSizeHint().height();
    if (m_keptCharacters <= 0) return {0, height};
    const int kept = fontMetrics().horizontalAdvance(QString(m_keptCharacters, QLatin1Char('0')));
    return {std::min(sizeHint().width(), kept), height};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.drawText(contentsRect(), static_cast<int>(alignment() | Qt::TextSingleLine), shownText());
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: rgba(255,255,255,24); border: none;"));
    return line;
}

} // namespace velk

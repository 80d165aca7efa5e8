#include "app/view_kit.hpp"

#include <algorithm>

#include <cmath>
#include <optional>

#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QStylePainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QToolTip>
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
    return elidedKeepingEnd(fontMetrics(), text(), m_keptEnd, contentsRect().width());
}

void ElidedLabel::setKeptEnd(const QString& end) {
    if (m_keptEnd == end) return;
    m_keptEnd = end;
    update();
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

ElidedComboBox::ElidedComboBox(QWidget* parent) : QComboBox(parent) {}

QString ElidedComboBox::shownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return shownText(option);
}

QString ElidedComboBox::shownText(const QStyleOptionComboBox& option) const {
    QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (!option.currentIcon.isNull()) field.setLeft(field.left() + option.iconSize.width() + 4);
    // The label is drawn one pixel in from either side of the field.
    return fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width() - 2);
}

bool ElidedComboBox::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        const QString text = currentText();
        if (shownText() != text) QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), plainToolTip(text), this);
        else QToolTip::hideText();
        return true;
    }
    return QComboBox::event(event);
}

// As the pop-up button draws itself, with the chosen text cut to its field.
void ElidedComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0 && !placeholderText().isEmpty()) {
        option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
        option.currentText = placeholderText();
    }
    option.currentText = shownText(option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

QString elidedKeepingEnd(const QFontMetrics& metrics, const QString& text, const QString& end, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    const int room = width - metrics.horizontalAdvance(end);
    if (end.isEmpty() || !text.endsWith(end) || room < metrics.horizontalAdvance(QChar(0x2026)))
        return metrics.elidedText(text, Qt::ElideRight, width);
    return metrics.elidedText(text.chopped(end.size()), Qt::ElideRight, room) + end;
}

WrappedLabel::WrappedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrappedLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    QTextLayout layout(text(), font());
    const int inner = std::max(1, width - margins.left() - margins.right() - 2 * margin());
    return wrapText(layout, inner) + margins.top() + margins.bottom() + 2 * margin();
}

QSize WrappedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    QTextLayout layout(text(), font());
    wrapText(layout, QWIDGETSIZE_MAX);
    int natural = 0;
    for (int i = 0; i < layout.lineCount(); ++i) {
        natural = std::max(natural, static_cast<int>(std::ceil(layout.lineAt(i).naturalTextWidth())));
    }
    const int width = std::min(natural + margins.left() + margins.right() + 2 * margin(), maximumWidth());
    return {width, heightForWidth(width)};
}

QSize WrappedLabel::minimumSizeHint() const {
    const int width = std::min(sizeHint().width(), 4 * fontMetrics().averageCharWidth());
    return {width, fontMetrics().height() + contentsMargins().top() + contentsMargins().bottom() + 2 * margin()};
}

void WrappedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    QTextLayout layout(text(), font());
    const int height = wrapText(layout, area.width(), alignment());
    int top = area.top();
    if (alignment() & Qt::AlignVCenter) top += std::max(0, (area.height() - height) / 2);
    if (alignment() & Qt::AlignBottom) top += std::max(0, area.height() - height);
    layout.draw(&painter, QPointF(area.left(), top));
}

namespace {

// Where a line that breaks inside a word longer than a line (a path, a file name) ends instead: after
// the last path separator of the word that the line holds, else after its last "-", "_" or ".", so
// that a folder's name or a number stays whole. None where the line ends at a place Unicode's rules
// break at, or the word has no such separator on the line.
std::optional<int> separatorBreak(const QString& text, int start, int end) {
    if (end <= start || end >= text.size() || text[end - 1].isSpace() || text[end].isSpace()) return std::nullopt;
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    breaks.setPosition(end);
    if (breaks.isAtBoundary()) return std::nullopt;
    int wordStart = start;
    for (int i = end - 1; i > start; --i) {
        if (text[i - 1].isSpace()) {
            wordStart = i;
            break;
        }
    }
    for (const QString& separators : {QStringLiteral("/\\"), QStringLiteral("-_.")}) {
        for (int i = end - 2; i >= wordStart; --i) {
            if (separators.contains(text[i])) return i + 1;
        }
    }
    return std::nullopt;
}

} // namespace

int wrapText(QTextLayout& layout, int width, Qt::Alignment alignment) {
    QTextOption option(alignment & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    const QString text = layout.text();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (const auto end = separatorBreak(text, line.textStart(), line.textStart() + line.textLength())) {
            line.setNumColumns(*end - line.textStart(), width);
        }
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return static_cast<int>(std::ceil(height));
}

QStringList twoLineText(const QString& text, const QFont& font, int width) {
    QStringList lines;
    if (text.isEmpty() || width <= 0) return lines;
    const QFontMetrics metrics(font);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    while (lines.size() < 2) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        // The second line takes all that is left, so that leftover text ends in an ellipsis.
        const int length = lines.size() == 1 ? static_cast<int>(text.size()) - line.textStart() : line.textLength();
        lines << metrics.elidedText(text.mid(line.textStart(), length).trimmed(), Qt::ElideRight, width);
    }
    layout.endLayout();
    return lines;
}

TwoLineLabel::TwoLineLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QStringList TwoLineLabel::shownLines() const { return twoLineText(text(), font(), contentsRect().width()); }

int TwoLineLabel::heightForWidth(int width) const {
    const auto lines = std::max<qsizetype>(1, twoLineText(text(), font(), width).size());
    return static_cast<int>(lines) * fontMetrics().lineSpacing();
}

QSize TwoLineLabel::sizeHint() const { return {0, heightForWidth(width() > 0 ? width() : QWIDGETSIZE_MAX)}; }

QSize TwoLineLabel::minimumSizeHint() const { return {0, fontMetrics().lineSpacing()}; }

void TwoLineLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    const QRect area = contentsRect();
    const int lineHeight = fontMetrics().lineSpacing();
    int top = area.top();
    for (const QString& line : shownLines()) {
        painter.drawText(QRect(area.left(), top, area.width(), lineHeight),
                         static_cast<int>((alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignTop | Qt::TextSingleLine), line);
        top += lineHeight;
    }
}

QString plainToolTip(const QString& text) {
    if (text.isEmpty()) return {};
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: rgba(255,255,255,24); border: none;"));
    return line;
}

} // namespace velk

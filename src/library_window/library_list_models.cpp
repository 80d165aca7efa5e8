#include "library_window/library_list_models.hpp"

#include <QAbstractItemView>
#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include "app/view_kit.hpp"
#include "base/qt_text.hpp"
#include "library_window/library_presenter.hpp"
#include "library_window/library_style.hpp"
#include "library_window/library_texts.hpp"

namespace velk::library {


void TransferListModel::setTransfers(const std::vector<TransferStatus>& transfers) {
    const bool sameRows = transfers.size() == m_rows.size() &&
                          std::equal(transfers.begin(), transfers.end(), m_rows.begin(),
                                     [](const TransferStatus& a, const TransferStatus& b) { return a.id == b.id; });
    if (!sameRows) {
        beginResetModel();
        m_rows = transfers;
        endResetModel();
        return;
    }
    bool messageChanged = false;
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        if (transfers[i] == m_rows[i]) continue;
        messageChanged = messageChanged || transfers[i].message != m_rows[i].message;
        m_rows[i] = transfers[i];
        const QModelIndex changed = index(static_cast<int>(i));
        Q_EMIT dataChanged(changed, changed);
    }
    // A new message may take another number of lines: the rows are laid out again.
    if (messageChanged) {
        Q_EMIT layoutAboutToBeChanged();
        Q_EMIT layoutChanged();
    }
}

int TransferListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant TransferListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TransferStatus& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(row.clipName);
    case IdentityRole: return QString::fromStdString(row.id);
    case TrailingRole:
    case Qt::AccessibleDescriptionRole: return qs(rawValue(row.phase));
    case ProgressRole: return row.progress();
    case MessageRole: return QString::fromStdString(row.message);
    default: return {};
    }
}

namespace {

struct RowFonts {
    QFont title = font(TextStyle::callout, true);
    QFont caption = font(TextStyle::caption);
    QFont caption2 = font(TextStyle::caption2);
};

const RowFonts& rowFonts() {
    static const RowFonts fonts;
    return fonts;
}

// Rows span the list, so a message wraps in the list's width, also when the view asks for a size.
int rowWidth(const QStyleOptionViewItem& option) {
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget)) return view->viewport()->width();
    return option.rect.width();
}

// A message in as many lines as `width` needs; at least one line, also when it is empty.
int messageHeight(const QString& message, const QFont& font, int width) {
    if (message.isEmpty()) return QFontMetrics(font).height();
    QTextLayout layout(message, font);
    return wrapText(layout, std::max(1, width));
}

void drawMessage(QPainter* painter, const QString& message, const QFont& font, const QRect& area) {
    QTextLayout layout(message, font);
    wrapText(layout, std::max(1, area.width()));
    layout.draw(painter, area.topLeft());
}

// The parts of an activity row: symbol, message and time of day.
constexpr int activitySymbolColumn = 26;
constexpr int activityTimeGap = 10;

int activityTextWidth(int rowWidth, const QString& time) {
    return rowWidth - 12 - activitySymbolColumn - QFontMetrics(rowFonts().caption).horizontalAdvance(time) - activityTimeGap;
}

// Where the keyboard is in a list: the style's focus ring around the current row while the list
// has focus (the style draws it only once the focus has moved by keyboard).
void drawKeyboardFocus(QPainter* painter, const QStyleOptionViewItem& option) {
    if (!option.state.testFlag(QStyle::State_HasFocus)) return;
    QStyleOptionFocusRect ring;
    ring.QStyleOption::operator=(option);
    ring.rect = option.rect.adjusted(1, 1, -1, -1);
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &ring, painter, option.widget);
}

} // namespace

void TransferRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const RowFonts& fonts = rowFonts();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect r = option.rect.adjusted(2, 6, -2, -6);
    const QColor primary = tintColor(Tint::primary);
    const QColor secondary = tintColor(Tint::secondary);
    const int titleHeight = QFontMetrics(fonts.title).height();

    const QString phase = index.data(TrailingRole).toString();
    painter->setFont(fonts.caption);
    painter->setPen(secondary);
    const int phaseWidth = QFontMetrics(fonts.caption).horizontalAdvance(phase);
    painter->drawText(QRect(r.right() - phaseWidth, r.top(), phaseWidth, titleHeight), Qt::AlignRight | Qt::AlignVCenter, phase);
    painter->setFont(fonts.title);
    painter->setPen(primary);
    const QRect titleRect(r.left(), r.top(), r.width() - phaseWidth - 8, titleHeight);
    painter->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(fonts.title).elidedText(index.data().toString(), Qt::ElideRight, titleRect.width()));

    const QRectF track(r.left(), r.top() + titleHeight + 5, r.width(), 5);
    QColor trackColor = secondary;
    trackColor.setAlphaF(0.2f);
    painter->setPen(Qt::NoPen);
    painter->setBrush(trackColor);
    painter->drawRoundedRect(track, 2.5, 2.5);
    const double progress = std::clamp(index.data(ProgressRole).toDouble(), 0.0, 1.0);
    if (progress > 0) {
        painter->setBrush(accentColor());
        painter->drawRoundedRect(QRectF(track.left(), track.top(), track.width() * progress, track.height()), 2.5, 2.5);
    }

    // The whole message, however long: a failure's reason is read here.
    painter->setFont(fonts.caption2);
    painter->setPen(secondary);
    const int messageTop = static_cast<int>(track.bottom()) + 5;
    drawMessage(painter, index.data(MessageRole).toString(), fonts.caption2,
                QRect(r.left(), messageTop, r.width(), r.bottom() - messageTop));
    painter->restore();
    drawKeyboardFocus(painter, option);
}

QSize TransferRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const RowFonts& fonts = rowFonts();
    const int width = rowWidth(option);
    // The rows are 12 apart: 6 above and below each.
    return {width, 12 + QFontMetrics(fonts.title).height() + 5 + 5 + 5 +
                       messageHeight(index.data(MessageRole).toString(), fonts.caption2, width - 4)};
}

void ProjectListModel::setProjects(const std::vector<VELKProject>& projects, const std::vector<std::size_t>& shown) {
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(shown.size());
    for (std::size_t index : shown) {
        const ProjectRow row = projectRow(projects[index]);
        m_rows.push_back({QString::fromStdString(row.title), QString::fromStdString(row.subtitle), projects[index].id,
                          row.tint == Tint::orange});
    }
    endResetModel();
}

int ProjectListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant ProjectListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return row.title;
    case SubtitleRole:
    case Qt::AccessibleDescriptionRole: return row.subtitle;
    case IdentityRole: return QString::fromStdString(row.id);
    case Qt::DecorationRole: {
        static const QIcon folder = symbolIcon("folder.fill", Tint::green);
        static const QIcon tray = symbolIcon("tray", Tint::orange);
        return row.unassigned ? tray : folder;
    }
    default: return {};
    }
}

int ProjectListModel::rowOf(const std::string& projectID) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].id == projectID) return static_cast<int>(i);
    }
    return -1;
}

void ActivityListModel::setActivities(const std::vector<ActivityEntry>& activities) {
    beginResetModel();
    m_rows = activities;
    endResetModel();
}

int ActivityListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant ActivityListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const ActivityEntry& entry = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(entry.message);
    case Qt::ToolTipRole: return plainToolTip(QString::fromStdString(entry.message));
    case Qt::AccessibleDescriptionRole: return entry.isError ? qs(library_text::activityFailed) : QString();
    case Qt::DecorationRole: {
        const ActivityRowView view = activityRow(entry);
        return symbolPixmap(view.symbol, view.tint, 16);
    }
    case TrailingRole: {
        return shortTime(entry.date);
    }
    default: return {};
    }
}

void ActivityRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const RowFonts& fonts = rowFonts();
    painter->save();
    const QRect r = option.rect.adjusted(6, 3, -6, -3);
    const QPixmap icon = index.data(Qt::DecorationRole).value<QPixmap>();
    painter->drawPixmap(r.left(), r.top() + 1, icon);
    const QString time = index.data(TrailingRole).toString();
    painter->setFont(fonts.caption);
    painter->setPen(tintColor(Tint::secondary));
    const int timeWidth = QFontMetrics(fonts.caption).horizontalAdvance(time);
    painter->drawText(QRect(r.right() - timeWidth, r.top(), timeWidth, r.height()), Qt::AlignRight | Qt::AlignTop, time);
    painter->setFont(option.font);
    painter->setPen(tintColor(Tint::primary));
    drawMessage(painter, index.data().toString(), option.font,
                QRect(r.left() + activitySymbolColumn, r.top(), activityTextWidth(option.rect.width(), time), r.height()));
    painter->restore();
    drawKeyboardFocus(painter, option);
}

QSize ActivityRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const int width = rowWidth(option);
    const int text = messageHeight(index.data().toString(), option.font,
                                   activityTextWidth(width, index.data(TrailingRole).toString()));
    return {width, std::max(18, text) + 6};
}

void TwoLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (!index.data(SubtitleRole).isValid()) return QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    base.text.clear();
    base.icon = QIcon();
    QApplication::style()->drawPrimitive(QStyle::PE_PanelItemViewItem, &base, painter, base.widget);

    const RowFonts& fonts = rowFonts();
    painter->save();
    const QRect r = option.rect.adjusted(8, 4, -8, -4);
    const bool selected = option.state & QStyle::State_Selected;
    const int iconSize = 20;
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap icon = index.data(Qt::DecorationRole).value<QIcon>().pixmap(QSize(iconSize, iconSize), ratio);
    if (selected && !icon.isNull()) {
        // On the accent-filled selection the symbol takes the selected text's colour, as the text does.
        QPainter tint(&icon);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(icon.rect(), option.palette.color(QPalette::HighlightedText));
    }
    painter->drawPixmap(QRect(r.left(), r.center().y() - iconSize / 2, iconSize, iconSize), icon);
    const int textLeft = r.left() + iconSize + 9;
    const int width = r.right() - textLeft;
    const QFontMetrics titleMetrics(fonts.title);
    const QFontMetrics subtitleMetrics(fonts.caption2);
    const int top = r.center().y() - (titleMetrics.height() + m_lineSpacing + subtitleMetrics.height()) / 2;
    painter->setFont(fonts.title);
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText) : tintColor(Tint::primary));
    painter->drawText(QRect(textLeft, top, width, titleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      titleMetrics.elidedText(index.data().toString(), Qt::ElideRight, width));
    painter->setFont(fonts.caption2);
    QColor secondary = selected ? option.palette.color(QPalette::HighlightedText) : tintColor(Tint::secondary);
    if (selected) secondary.setAlphaF(0.8f);
    painter->setPen(secondary);
    painter->drawText(QRect(textLeft, top + titleMetrics.height() + m_lineSpacing, width, subtitleMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      subtitleMetrics.elidedText(index.data(SubtitleRole).toString(), Qt::ElideRight, width));
    painter->restore();
    drawKeyboardFocus(painter, option);
}

QSize TwoLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (!index.data(SubtitleRole).isValid()) return QStyledItemDelegate::sizeHint(option, index) + QSize(0, 12);
    const RowFonts& fonts = rowFonts();
    return {option.rect.width(), 8 + 8 + QFontMetrics(fonts.title).height() + m_lineSpacing + QFontMetrics(fonts.caption2).height()};
}

} // namespace velk::library

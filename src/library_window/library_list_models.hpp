#pragma once
// The long lists of the Library window as models drawn by delegates, so that a progress update
// repaints rows instead of building widgets: the transfer rows, the activity log, and the
// two-line rows of the project sidebar and the take list.

#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include "model/library.hpp"
#include "model/progress.hpp"

namespace velk::library {

enum ListRole { SubtitleRole = Qt::UserRole + 1, IdentityRole, TrailingRole, ProgressRole, MessageRole };

// One row per transfer status, in the store's order. An update that keeps the rows (same ids in
// the same order) only repaints the rows whose values changed.
class TransferListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    void setTransfers(const std::vector<TransferStatus>& transfers);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<TransferStatus> m_rows;
};

// Clip name and phase, the progress bar, the message.
class TransferRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The sidebar's projects as the filter leaves them, in library order.
class ProjectListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    void setProjects(const std::vector<VELKProject>& projects, const std::vector<std::size_t>& shown);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // The row of the project with that id, or -1 when it is filtered out or unknown.
    int rowOf(const std::string& projectID) const;

private:
    struct Row {
        QString title;
        QString subtitle;
        std::string id;
        bool unassigned;
    };
    std::vector<Row> m_rows;
};

class ActivityListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    void setActivities(const std::vector<ActivityEntry>& activities);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<ActivityEntry> m_rows;
};

// Symbol, message and the time of day at the trailing side.
class ActivityRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Symbol, a bold title line and a secondary subtitle line (DisplayRole, DecorationRole, SubtitleRole).
class TwoLineDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    // `lineSpacing`: the points between the title and the subtitle.
    TwoLineDelegate(int lineSpacing, QObject* parent) : QStyledItemDelegate(parent), m_lineSpacing(lineSpacing) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int m_lineSpacing;
};

} // namespace velk::library

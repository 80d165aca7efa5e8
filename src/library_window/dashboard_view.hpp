#pragma once
// The detail column: the selected take's header and media state, and its four tabs (Overview,
// Media, Resolve, Activity). The only change it makes is the reference camera.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "library_window/library_presenter.hpp"

class QLabel;
class QListView;
class QStackedWidget;
class QTabBar;

namespace velk {

class AppStore;
class LibraryCommands;
class StatusPill;

namespace library {

class ClipRow;
class MetricCard;
class ReadinessRow;
class SymbolLabel;
class TransferListModel;
class ActivityListModel;

class DashboardView final : public QWidget {
    Q_OBJECT
public:
    DashboardView(AppStore& store, std::shared_ptr<LibraryCommands> commands, QWidget* parent = nullptr);

    LibraryDashboardTab tab() const { return m_tab; }
    void setTab(LibraryDashboardTab tab);
    TransferListModel* transferModel() const { return m_transferModel; }
    // Where Tab enters the dashboard: its tab bar, followed by the controls of the shown tab.
    QWidget* firstInTabChain() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();
    void refreshTransfers();
    void refreshActivities();
    void orderTabChain();
    QWidget* overview();
    void showOverview(const VELKProject& project, const VELKTake& take);
    QWidget* clips(QWidget* parent);
    void showClips(const VELKTake& take);
    QWidget* resolve();
    QWidget* activity();

    AppStore& m_store;
    std::shared_ptr<LibraryCommands> m_commands;
    LibraryDashboardTab m_tab = LibraryDashboardTab::overview;
    QStackedWidget* m_pages;
    QLabel* m_projectName;
    QLabel* m_takeID;
    StatusPill* m_pill;
    QTabBar* m_tabs;
    QStackedWidget* m_tabPages;
    // Drawn again in place from the store: the Overview tab's values, the recordings and the Resolve
    // tab's media status.
    std::vector<MetricCard*> m_metrics;
    std::vector<ReadinessRow*> m_readiness;
    std::vector<QLabel*> m_detailValues;
    QStackedWidget* m_clipPages;
    QWidget* m_clipRows;
    std::vector<ClipRow*> m_clipRowWidgets;
    // The take shown last and its reference camera, whose change is news.
    std::string m_shownTakeID;
    std::optional<std::string> m_shownReference;
    SymbolLabel* m_resolveStatus;
    TransferListModel* m_transferModel;
    QStackedWidget* m_transferPages;
    QListView* m_transferList;
    QListView* m_activityList;
    ActivityListModel* m_activityModel;
    QStackedWidget* m_activityPages;
};

} // namespace library
} // namespace velk

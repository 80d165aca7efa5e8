#pragma once
// The detail column: the selected take's header and media state, and its four tabs (Overview,
// Media, Resolve, Activity). The only change it makes is the reference camera.

#include <memory>

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
    QWidget* overview(const VELKProject& project, const VELKTake& take);
    QWidget* media(const VELKTake& take);
    QWidget* resolve(const VELKTake& take);
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
    // Rebuilt from the store: the Overview and Resolve tabs and the Media tab's recordings panel.
    QWidget* m_overviewHolder;
    QWidget* m_clipsHolder;
    QWidget* m_resolveHolder;
    TransferListModel* m_transferModel;
    QStackedWidget* m_transferPages;
    QListView* m_transferList;
    QListView* m_activityList;
    ActivityListModel* m_activityModel;
    QStackedWidget* m_activityPages;
};

} // namespace library
} // namespace velk

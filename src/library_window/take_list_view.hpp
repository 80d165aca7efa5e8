#pragma once
// The middle column: the takes of the selected project, each with whether its media are on this
// computer; its selection is the store's selected take.

#include <QWidget>

class QLabel;
class QListWidget;
class QStackedWidget;

namespace velk {

class AppStore;

namespace library {

class TakeListView final : public QWidget {
    Q_OBJECT
public:
    explicit TakeListView(AppStore& store, QWidget* parent = nullptr);
    QListWidget* list() const { return m_list; }

private:
    void rebuild();
    void showSelection();
    void projectSelectionChanged();

    AppStore& m_store;
    QStackedWidget* m_pages;
    QLabel* m_title;
    QLabel* m_count;
    QListWidget* m_list;
    bool m_rebuilding = false;
};

} // namespace library
} // namespace velk

#include "library_window/take_list_view.hpp"

#include <QLabel>
#include <QListWidget>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "library_window/library_list_models.hpp"
#include "library_window/library_presenter.hpp"
#include "library_window/library_style.hpp"
#include "library_window/library_texts.hpp"
#include "library_window/view_kit.hpp"
#include "store/app_store.hpp"

namespace velk::library {

namespace T = library_text;

TakeListView::TakeListView(AppStore& store, QWidget* parent) : QWidget(parent), m_store(store) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(this);
    outer->addWidget(m_pages);
    m_pages->addWidget(new EmptyStateView(T::noProject, "film.stack", T::noProjectDetail));

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QWidget(page);
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(14, 14, 14, 14);
    headerLayout->setSpacing(2);
    m_title = elidedLabel({}, TextStyle::headline, true, Tint::primary, header);
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_count = styledLabel({}, TextStyle::caption, false, Tint::secondary, header);
    headerLayout->addWidget(m_title);
    headerLayout->addWidget(m_count);
    layout->addWidget(header);
    layout->addWidget(divider(page));
    m_list = new QListWidget(page);
    m_list->setObjectName(QStringLiteral("takeList"));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setItemDelegate(new TwoLineDelegate(3, m_list));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setAccessibleName(QString::fromUtf8(T::takesList));
    layout->addWidget(m_list, 1);
    m_pages->addWidget(page);

    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_rebuilding) return;
        const auto selected = m_list->selectedItems();
        if (selected.isEmpty()) {
            m_store.setSelectedTakeID(std::nullopt);
        } else if (const QVariant id = selected.front()->data(IdentityRole); id.isValid()) {
            m_store.setSelectedTakeID(id.toString().toStdString());
        }
    });
    connect(&m_store, &AppStore::libraryChanged, this, &TakeListView::rebuild);
    connect(&m_store, &AppStore::selectedProjectIDChanged, this, &TakeListView::projectSelectionChanged);
    connect(&m_store, &AppStore::selectedTakeIDChanged, this, &TakeListView::showSelection);
    rebuild();
}

void TakeListView::projectSelectionChanged() {
    const std::optional<VELKProject> project = m_store.selectedProject();
    const auto next = takeSelectionAfterProjectChange(project ? &*project : nullptr, m_store.selectedTakeID());
    if (next != m_store.selectedTakeID()) m_store.setSelectedTakeID(next);
    rebuild();
}

void TakeListView::rebuild() {
    const std::optional<VELKProject> project = m_store.selectedProject();
    m_pages->setCurrentIndex(project ? 1 : 0);
    if (!project) return;
    m_rebuilding = true;
    m_title->setText(QString::fromStdString(project->name));
    m_count->setText(QString::fromStdString(countText(project->takes.size(), T::takesSuffix)));
    m_list->clear();
    if (project->takes.empty()) {
        auto* item = new QListWidgetItem(QString::fromUtf8(T::noTakesYet), m_list);
        // Not selectable, but a place for the keyboard's focus, so Tab into the empty list shows where it is.
        item->setFlags(Qt::ItemIsEnabled);
        item->setForeground(tintColor(Tint::secondary));
    }
    // The rows go in as one insert, which assistive tools are not told row by row (a screen reader
    // would read every new row before it speaks the window), then take their details.
    QStringList titles;
    for (const VELKTake& take : project->takes) titles.append(QString::fromStdString(takeRow(take).title));
    m_list->addItems(titles);
    for (int at = 0; at < int(project->takes.size()); ++at) {
        const VELKTake& take = project->takes[at];
        const TakeRow row = takeRow(take);
        QListWidgetItem* item = m_list->item(at);
        item->setData(SubtitleRole, QString::fromStdString(row.subtitle));
        item->setData(Qt::AccessibleDescriptionRole, QString::fromStdString(row.subtitle));
        item->setData(IdentityRole, QString::fromStdString(take.id));
        item->setData(Qt::DecorationRole, symbolIcon(row.symbol, row.tint));
    }
    m_rebuilding = false;
    showSelection();
}

// A selection the list already shows (the user's own) is left as it is, so it is told once.
void TakeListView::showSelection() {
    const auto& id = m_store.selectedTakeID();
    QListWidgetItem* wanted = nullptr;
    for (int i = 0; id && !wanted && i < m_list->count(); ++i) {
        if (m_list->item(i)->data(IdentityRole).toString().toStdString() == *id) wanted = m_list->item(i);
    }
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (wanted ? selected == QList<QListWidgetItem*>{wanted} && m_list->currentItem() == wanted : selected.isEmpty())
        return;
    m_rebuilding = true;
    m_list->clearSelection();
    if (wanted) {
        wanted->setSelected(true);
        m_list->setCurrentItem(wanted);
    }
    m_rebuilding = false;
}

} // namespace velk::library

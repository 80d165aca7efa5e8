#include "library_window/dashboard_view.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/status_news.hpp"
#include "base/qt_text.hpp"
#include "library_window/library_commands.hpp"
#include "library_window/library_list_models.hpp"
#include "library_window/library_style.hpp"
#include "library_window/library_texts.hpp"
#include "library_window/view_kit.hpp"
#include "store/app_store.hpp"

namespace velk::library {

namespace T = library_text;


// A list of rows that only show: named for assistive tools by its heading, nothing to select.
// Rows are as high as their wrapped messages and as wide as the list shows them, laid out again
// whenever that width changes: a list view lays its rows out again after a change of width only
// when it wraps its items' text, and otherwise keeps them as wide as before the scroll bar came,
// which cut off what a row draws at its right end (the time of day, a transfer's phase).
static QListView* rowList(QWidget* parent, const QString& objectName, const QString& name, QAbstractItemModel* model) {
    auto* list = new QListView(parent);
    list->setObjectName(objectName);
    list->setAccessibleName(name);
    list->setModel(model);
    list->setFrameShape(QFrame::NoFrame);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setResizeMode(QListView::Adjust);
    list->setWordWrap(true); // only the flag: the delegates draw and wrap the text themselves
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    return list;
}

DashboardView::DashboardView(AppStore& store, std::shared_ptr<LibraryCommands> commands, QWidget* parent)
    : QWidget(parent), m_store(store), m_commands(std::move(commands)) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(this);
    outer->addWidget(m_pages);
    m_pages->addWidget(new EmptyStateView(T::selectTake, "video.badge.plus", T::selectTakeDetail));

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QWidget(page);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(20, 13, 20, 13);
    headerLayout->setSpacing(12);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    m_projectName = elidedLabel({}, TextStyle::title2, true, Tint::primary, header);
    m_projectName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_takeID = elidedLabel({}, TextStyle::callout, false, Tint::secondary, header);
    m_takeID->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    names->addWidget(m_projectName);
    names->addWidget(m_takeID);
    headerLayout->addLayout(names, 1);
    m_pill = new StatusPill({}, tintColor(Tint::orange), header);
    headerLayout->addWidget(m_pill);
    layout->addWidget(header);
    layout->addWidget(divider(page));

    auto* tabRow = new QHBoxLayout;
    tabRow->setContentsMargins(12, 12, 12, 12);
    m_tabs = new QTabBar(page);
    m_tabs->setObjectName(QStringLiteral("takeView"));
    m_tabs->setAccessibleName(qs(T::takeView));
    m_tabs->setExpanding(false);
    m_tabs->setDrawBase(false);
    for (LibraryDashboardTab tab : allDashboardTabs) m_tabs->addTab(symbolIcon(symbol(tab), Tint::primary), qs(rawValue(tab)));
    tabRow->addStretch(1);
    tabRow->addWidget(m_tabs);
    tabRow->addStretch(1);
    layout->addLayout(tabRow);

    m_tabPages = new QStackedWidget(page);
    m_tabPages->addWidget(overview());

    auto* mediaPage = new QWidget(m_tabPages);
    auto* mediaLayout = new QHBoxLayout(mediaPage);
    mediaLayout->setContentsMargins(0, 0, 0, 0);
    mediaLayout->setSpacing(12);
    auto* clipsPanel = new LibraryPanel(qs(T::camerasAndRecordings), "video.fill", mediaPage);
    clipsPanel->contentLayout()->addWidget(clips(clipsPanel));
    mediaLayout->addWidget(clipsPanel, 1);
    auto* transfersPanel = new LibraryPanel(qs(T::transfers), "arrow.down.circle", mediaPage);
    transfersPanel->setFixedWidth(300);
    m_transferPages = new QStackedWidget(transfersPanel);
    m_transferPages->addWidget(new CompactEmptyState(qs(T::noTransfers), "checkmark.circle", qs(T::noTransfersDetail)));
    m_transferModel = new TransferListModel(this);
    m_transferList = rowList(m_transferPages, QStringLiteral("transfers"), qs(T::transfers), m_transferModel);
    m_transferList->setItemDelegate(new TransferRowDelegate(m_transferList));
    m_transferList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_transferPages->addWidget(m_transferList);
    transfersPanel->contentLayout()->addWidget(m_transferPages);
    mediaLayout->addWidget(transfersPanel);
    m_tabPages->addWidget(mediaPage);

    m_tabPages->addWidget(resolve());
    m_tabPages->addWidget(activity());
    auto* tabArea = new QVBoxLayout;
    tabArea->setContentsMargins(12, 0, 12, 12);
    tabArea->addWidget(m_tabPages);
    layout->addLayout(tabArea, 1);
    m_pages->addWidget(page);

    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) {
        m_tab = allDashboardTabs[static_cast<std::size_t>(index)];
        // The keyboard leaves the page that hides by the window's rule (app/keyboard_keeper).
        m_tabPages->setCurrentIndex(index);
    });
    connect(&m_store, &AppStore::libraryChanged, this, &DashboardView::rebuild);
    connect(&m_store, &AppStore::selectedProjectIDChanged, this, &DashboardView::rebuild);
    connect(&m_store, &AppStore::selectedTakeIDChanged, this, &DashboardView::rebuild);
    connect(&m_store, &AppStore::transfersChanged, this, &DashboardView::refreshTransfers);
    connect(&m_store, &AppStore::activitiesChanged, this, &DashboardView::refreshActivities);
    rebuild();
    refreshTransfers();
    refreshActivities();
}

void DashboardView::setTab(LibraryDashboardTab tab) {
    const auto found = std::find(allDashboardTabs.begin(), allDashboardTabs.end(), tab);
    m_tabs->setCurrentIndex(static_cast<int>(found - allDashboardTabs.begin()));
}

void DashboardView::paintEvent(QPaintEvent*) {
    if (m_pages->currentIndex() != 1) return;
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, palette().color(QPalette::Window));
    gradient.setColorAt(1, palette().color(QPalette::Window).darker(106));
    painter.fillRect(rect(), gradient);
}

void DashboardView::rebuild() {
    const std::optional<VELKProject> project = m_store.selectedProject();
    const std::optional<VELKTake> take = m_store.selectedTake();
    m_pages->setCurrentIndex(project && take ? 1 : 0);
    update();
    if (!project || !take) return;
    m_projectName->setText(QString::fromStdString(project->name));
    m_takeID->setText(qs(T::takePrefix) + QString::fromStdString(take->id));
    const Pill pill = mediaPill(*take);
    m_pill->setPill(qs(pill.text), tintColor(pill.tint));
    // The take's new reference camera (Use as reference) is told before its row's button hides and
    // the keyboard leaves it.
    if (take->id == m_shownTakeID && take->referenceCameraId && take->referenceCameraId != m_shownReference)
        StatusNews::tell(*window(), qs(referenceNews(*take->referenceCameraId)));
    m_shownTakeID = take->id;
    m_shownReference = take->referenceCameraId;
    showOverview(*project, *take);
    showClips(*take);
    const StatusLine status = resolveMediaStatus(*take);
    m_resolveStatus->set(qs(status.text), status.symbol, status.tint);
    orderTabChain();
}

QWidget* DashboardView::firstInTabChain() const { return m_tabs; }

// The tab bar, then the shown tab's controls from left to right: the take's readiness, each
// recording's row and its button, the transfers, the activity log. Rebuilt rows come in at the end
// of the window's chain otherwise.
void DashboardView::orderTabChain() {
    std::vector<QWidget*> chain{m_tabs};
    chain.insert(chain.end(), m_readiness.begin(), m_readiness.end());
    for (ClipRow* row : m_clipRowWidgets) chain.insert(chain.end(), {row, row->referenceButton()});
    chain.push_back(m_transferList);
    chain.push_back(m_activityList);
    Accessibility::setTabChain(chain);
}

// The Overview tab, drawn for each take by showOverview: its labels are the same for every take.
QWidget* DashboardView::overview() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* metrics = new QHBoxLayout;
    metrics->setSpacing(12);
    for (const Metric& metric : takeMetrics({})) {
        m_metrics.push_back(new MetricCard(qs(metric.title), {}, metric.symbol, page));
        metrics->addWidget(m_metrics.back());
    }
    layout->addLayout(metrics);

    auto* panels = new QHBoxLayout;
    panels->setSpacing(12);
    auto* readiness = new LibraryPanel(qs(T::takeReadiness), "checklist", page);
    readiness->contentLayout()->setSpacing(11);
    for (const Readiness& row : takeReadiness({}, {})) {
        m_readiness.push_back(new ReadinessRow(qs(row.label), false, readiness));
        readiness->contentLayout()->addWidget(m_readiness.back());
    }
    panels->addWidget(readiness, 1);
    auto* details = new LibraryPanel(qs(T::takeDetails), "info.circle", page);
    details->contentLayout()->setSpacing(12);
    for (const Detail& detail : takeDetails({}, {})) {
        auto* row = new QWidget(details);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->addWidget(styledLabel(qs(detail.label), TextStyle::callout, false, Tint::primary, row));
        rowLayout->addStretch(1);
        m_detailValues.push_back(styledLabel({}, TextStyle::callout, false, Tint::secondary, row));
        m_detailValues.back()->setTextInteractionFlags(Qt::TextSelectableByMouse);
        rowLayout->addWidget(m_detailValues.back());
        details->contentLayout()->addWidget(row);
    }
    panels->addWidget(details, 1);
    layout->addLayout(panels, 1);
    return page;
}

void DashboardView::showOverview(const VELKProject& project, const VELKTake& take) {
    const auto metrics = takeMetrics(take);
    for (std::size_t i = 0; i < metrics.size(); ++i) m_metrics[i]->setValue(qs(metrics[i].value));
    const auto readiness = takeReadiness(project, take);
    for (std::size_t i = 0; i < readiness.size() && i < m_readiness.size(); ++i) m_readiness[i]->setReady(readiness[i].ready);
    const auto details = takeDetails(project, take);
    for (std::size_t i = 0; i < details.size() && i < m_detailValues.size(); ++i) m_detailValues[i]->setText(qs(details[i].value));
}

// The recordings panel: an empty state, or one row per clip in a scroll area.
QWidget* DashboardView::clips(QWidget* parent) {
    m_clipPages = new QStackedWidget(parent);
    m_clipPages->addWidget(new CompactEmptyState(qs(T::noRecordings), "video.slash", qs(T::noRecordingsDetail)));
    auto* scroll = new QScrollArea(m_clipPages);
    scroll->setObjectName(QStringLiteral("clips"));
    // Tab goes to the rows' buttons (and scrolls them into view), not to the scroll area.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_clipRows = new QWidget(scroll);
    auto* layout = new QVBoxLayout(m_clipRows);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
    scroll->setWidget(m_clipRows);
    m_clipPages->addWidget(scroll);
    return m_clipPages;
}

// The rows there are already are drawn again for the take's clips; only the difference in number is
// made or deleted.
void DashboardView::showClips(const VELKTake& take) {
    m_clipPages->setCurrentIndex(take.clips.empty() ? 0 : 1);
    auto* layout = static_cast<QVBoxLayout*>(m_clipRows->layout());
    for (std::size_t i = 0; i < take.clips.size(); ++i) {
        const VELKClip& clip = take.clips[i];
        auto makeReference = [this, cameraID = clip.cameraId] { m_commands->setReferenceCamera(cameraID); };
        if (i < m_clipRowWidgets.size()) {
            m_clipRowWidgets[i]->set(clip, isReferenceClip(take, clip), makeReference);
        } else {
            m_clipRowWidgets.push_back(new ClipRow(clip, isReferenceClip(take, clip), makeReference, m_clipRows));
            layout->insertWidget(static_cast<int>(i), m_clipRowWidgets.back());
        }
    }
    while (m_clipRowWidgets.size() > take.clips.size()) {
        // A row's own button may be what changed the store: it goes once its signal has returned.
        m_clipRowWidgets.back()->hide();
        m_clipRowWidgets.back()->deleteLater();
        m_clipRowWidgets.pop_back();
    }
}

// The Resolve tab, the same for every take but its media status (set by rebuild).
QWidget* DashboardView::resolve() {
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* package = new LibraryPanel(qs(T::resolvePackage), "wand.and.stars", page);
    auto* packageLayout = package->contentLayout();
    packageLayout->setContentsMargins(16, 16, 16, 16);
    packageLayout->setSpacing(16);
    packageLayout->addWidget(new SymbolLabel(qs(T::linkedRetiming), "link", Tint::primary, TextStyle::body, package));
    packageLayout->addWidget(new SymbolLabel(qs(T::originalsUntouched), "lock.shield", Tint::primary, TextStyle::body, package));
    packageLayout->addWidget(new SymbolLabel(qs(T::weakAnchorsFail), "waveform.path.ecg", Tint::primary, TextStyle::body, package));
    packageLayout->addWidget(divider(package));
    auto* creates = styledLabel(qs(T::exportCreates), TextStyle::body, false, Tint::secondary, package);
    creates->setWordWrap(true);
    packageLayout->addWidget(creates);
    packageLayout->addStretch(1);
    const StatusLine status = resolveMediaStatus({});
    m_resolveStatus = new SymbolLabel(qs(status.text), status.symbol, status.tint, TextStyle::body, package);
    m_resolveStatus->setObjectName(QStringLiteral("resolveStatus"));
    packageLayout->addWidget(m_resolveStatus);
    layout->addWidget(package, 1);

    auto* acceptance = new LibraryPanel(qs(T::acceptanceCheck), "checkmark.seal", page);
    acceptance->setFixedWidth(310);
    auto* acceptanceLayout = acceptance->contentLayout();
    acceptanceLayout->setSpacing(13);
    acceptanceLayout->addWidget(styledLabel(qs(T::afterImporting), TextStyle::headline, true, Tint::primary, acceptance));
    for (const char* check : {T::checkHead, T::checkMiddle, T::checkTail, T::checkPitch}) {
        acceptanceLayout->addWidget(new ReadinessRow(qs(check), false, acceptance));
    }
    acceptanceLayout->addStretch(1);
    auto* unverified = styledLabel(qs(T::reportUnverified), TextStyle::caption, false, Tint::secondary, acceptance);
    unverified->setWordWrap(true);
    acceptanceLayout->addWidget(unverified);
    layout->addWidget(acceptance);
    return page;
}

QWidget* DashboardView::activity() {
    auto* panel = new LibraryPanel(qs(T::recentActivity), "clock.arrow.circlepath");
    m_activityPages = new QStackedWidget(panel);
    m_activityPages->addWidget(new CompactEmptyState(qs(T::noActivity), "clock", qs(T::noActivityDetail)));
    m_activityModel = new ActivityListModel(this);
    m_activityList = rowList(m_activityPages, QStringLiteral("activities"), qs(T::recentActivity), m_activityModel);
    m_activityList->setItemDelegate(new ActivityRowDelegate(m_activityList));
    m_activityPages->addWidget(m_activityList);
    panel->contentLayout()->addWidget(m_activityPages);
    return panel;
}

void DashboardView::refreshTransfers() {
    m_transferModel->setTransfers(m_store.transfers());
    m_transferPages->setCurrentIndex(m_store.transfers().empty() ? 0 : 1);
}

void DashboardView::refreshActivities() {
    m_activityModel->setActivities(m_store.activities());
    m_activityPages->setCurrentIndex(m_store.activities().empty() ? 0 : 1);
}

} // namespace velk::library

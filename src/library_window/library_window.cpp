#include "library_window/library_window.hpp"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QShowEvent>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/keyboard_keeper.hpp"
#include "app/status_news.hpp"
#include "app/app_services.hpp"
#include "app/theme.hpp"
#include "app/window_factories.hpp"
#include "app/window_modal.hpp"
#include "app/window_placement.hpp"
#include "app/window_registry.hpp"
#include "base/qt_text.hpp"
#include "discovery/lan_discovery.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "library_window/dashboard_view.hpp"
#include "library_window/library_commands.hpp"
#include "library_window/library_list_models.hpp"
#include "library_window/library_presenter.hpp"
#include "library_window/library_style.hpp"
#include "library_window/library_texts.hpp"
#include "library_window/project_name_sheet.hpp"
#include "library_window/take_list_view.hpp"
#include "library_window/view_kit.hpp"
#include "store/app_store.hpp"

namespace velk {

using namespace library;
namespace T = library_text;

namespace {
} // namespace

LibraryWindow::LibraryWindow(AppStore& store, LANDiscovery& discovery, LiveCameraDiscovery& liveDiscovery,
                             LibraryWindowOptions options, QWidget* parent)
    : QMainWindow(parent),
      m_store(store),
      m_discovery(discovery),
      m_liveDiscovery(liveDiscovery),
      m_commands(options.commands ? std::move(options.commands)
                                  : makeServiceCommands(store, discovery, liveDiscovery, std::move(options.openWindow))),
      m_fileDialogs(options.fileDialogs ? std::move(options.fileDialogs) : makeQtFileDialogs()),
      m_wifi(options.wifi ? std::move(options.wifi) : makeWiFiSheetHost()),
      m_settings(options.settings ? std::move(options.settings) : std::make_shared<QSettings>()),
      m_clock(options.clock ? *options.clock : SystemClock::shared()) {
    setObjectName(QString::fromUtf8(sceneID));
    setWindowTitle(qs(T::windowTitle));
    WindowPlacement::fitToScreen(*this, Theme::libraryWindowSize);
    Theme::applyAccent(*this);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(createSidebar());
    m_takeList = new TakeListView(m_store, split);
    m_takeList->setMinimumWidth(230);
    split->addWidget(m_takeList);
    m_dashboard = new DashboardView(m_store, m_commands, split);
    split->addWidget(m_dashboard);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 0);
    split->setStretchFactor(2, 1);
    split->setSizes({235, 270, 675});
    setCentralWidget(split);

    createToolbar();
    connectServices();
    // The store's activity log is the window's status: an export's, a download's or a pairing's end.
    StatusNews::followActivities(*this, m_store, true);
    rebuildProjects();
    refreshCommands();
    orderTabChain();
    // Wherever the keyboard moves without the user choosing a control, it goes to the control the
    // user last chose that can still take it, else to the control that opened the last sheet, else
    // to the project list (app/keyboard_keeper).
    Keyboard::keep(*this, [this] { return std::vector<QWidget*>{m_openedBy, m_projects}; });
}

// Reading order: the toolbar, then the columns from left to right, each from top to bottom. The
// dashboard keeps the order of its own tabs' contents behind its tab bar.
void LibraryWindow::orderTabChain() {
    QToolBar* bar = findChild<QToolBar*>(QStringLiteral("libraryToolbar"));
    std::vector<QWidget*> chain;
    for (QAction* action : bar->actions()) chain.push_back(bar->widgetForAction(action));
    chain.insert(chain.end(), {m_search, m_projects, m_newProject, m_rename, m_collect, m_wifiButton, m_sidebarDirector,
                               m_takeList->list()});
    chain.push_back(m_dashboard->firstInTabChain());
    Accessibility::setTabChain(chain);
}

LibraryWindow::~LibraryWindow() {
    // Sheets borrow the window's view state and settings: they go before the members do.
    delete m_sheet.data();
    delete m_alert.data();
}

QWidget* LibraryWindow::createSidebar() {
    auto* sidebar = new QWidget;
    auto* layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QWidget(sidebar);
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(14, 14, 14, 14);
    headerLayout->setSpacing(10);
    auto* titleRow = new QHBoxLayout;
    auto* icon = new QLabel(header);
    icon->setPixmap(symbolPixmap("film.stack.fill", Tint::green, 26));
    titleRow->addWidget(icon);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    titles->addWidget(styledLabel(qs(T::sidebarTitle), TextStyle::title2, true, Tint::primary, header));
    m_projectCount = styledLabel({}, TextStyle::caption, false, Tint::secondary, header);
    titles->addWidget(m_projectCount);
    titleRow->addLayout(titles, 1);
    headerLayout->addLayout(titleRow);
    m_search = new QLineEdit(header);
    m_search->setObjectName(QStringLiteral("projectSearch"));
    m_search->setPlaceholderText(qs(T::searchPlaceholder));
    m_search->setAccessibleName(qs(T::searchPlaceholder));
    m_search->setClearButtonEnabled(true);
    // The clear button is the field's one tool button; it shows only a symbol.
    for (QToolButton* clear : m_search->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly))
        clear->setAccessibleName(qs(T::clearSearch));
    headerLayout->addWidget(m_search);
    layout->addWidget(header);
    layout->addWidget(divider(sidebar));

    auto* section = styledLabel(qs(T::projectsSection), TextStyle::caption, true, Tint::secondary, sidebar);
    section->setContentsMargins(14, 8, 14, 4);
    layout->addWidget(section);
    m_projects = new QListView(sidebar);
    m_projects->setObjectName(QStringLiteral("projects"));
    m_projectModel = new ProjectListModel(m_projects);
    m_projects->setModel(m_projectModel);
    m_projects->setFrameShape(QFrame::NoFrame);
    m_projects->setItemDelegate(new TwoLineDelegate(2, m_projects));
    m_projects->setSelectionMode(QAbstractItemView::SingleSelection);
    m_projects->setUniformItemSizes(true);
    m_projects->setAccessibleName(qs(T::projectsList));
    section->setBuddy(m_projects);
    layout->addWidget(m_projects, 1);

    auto* footer = new QWidget(sidebar);
    auto* footerLayout = new QVBoxLayout(footer);
    footerLayout->setContentsMargins(10, 10, 10, 10);
    footerLayout->setSpacing(8);
    auto* editRow = new QHBoxLayout;
    m_newProject = new QPushButton(symbolIcon("plus", Tint::primary), qs(T::newButton), footer);
    m_newProject->setObjectName(QStringLiteral("newProject"));
    m_rename = new QPushButton(symbolIcon("pencil", Tint::primary), qs(T::renameButton), footer);
    m_rename->setObjectName(QStringLiteral("renameProject"));
    editRow->addWidget(m_newProject, 1);
    editRow->addWidget(m_rename, 1);
    footerLayout->addLayout(editRow);
    auto* actionRow = new QHBoxLayout;
    m_collect = new QPushButton(symbolIcon("arrow.down.circle", Tint::primary), qs(T::collectButton), footer);
    m_collect->setObjectName(QStringLiteral("collect"));
    m_collect->setToolTip(qs(T::collectHelp));
    m_wifiButton = new QPushButton(symbolIcon("qrcode.viewfinder", Tint::primary), qs(T::wifiButton), footer);
    m_wifiButton->setObjectName(QStringLiteral("wifi"));
    m_wifiButton->setToolTip(qs(T::wifiHelp));
    m_sidebarDirector = new QPushButton(symbolIcon("video.fill", Tint::primary), qs(T::directorButton), footer);
    m_sidebarDirector->setObjectName(QStringLiteral("sidebarDirector"));
    Theme::setProminent(*m_sidebarDirector);
    actionRow->addWidget(m_collect);
    actionRow->addWidget(m_wifiButton);
    actionRow->addStretch(1);
    actionRow->addWidget(m_sidebarDirector);
    footerLayout->addLayout(actionRow);
    layout->addWidget(footer);
    // At least 210 wide, and as wide as its buttons' symbols and words need in the font and at the
    // scale shown: a minimum the layout keeps, where a fixed one would squeeze the buttons under it.
    layout->addSpacerItem(new QSpacerItem(210, 0, QSizePolicy::Minimum, QSizePolicy::Fixed));

    connect(m_search, &QLineEdit::textChanged, this, &LibraryWindow::rebuildProjects);
    connect(m_projects->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_rebuildingProjects) return;
        const auto selected = m_projects->selectionModel()->selectedRows();
        if (selected.isEmpty()) {
            m_store.setSelectedProjectID(std::nullopt);
        } else {
            m_store.setSelectedProjectID(selected.front().data(IdentityRole).toString().toStdString());
        }
    });
    connect(m_newProject, &QPushButton::clicked, this, &LibraryWindow::showNewProject);
    connect(m_rename, &QPushButton::clicked, this, &LibraryWindow::showRenameProject);
    connect(m_collect, &QPushButton::clicked, this, &LibraryWindow::showCollect);
    connect(m_wifiButton, &QPushButton::clicked, this, &LibraryWindow::showWiFi);
    connect(m_sidebarDirector, &QPushButton::clicked, this, [this] { m_commands->openWindow("director"); });
    return sidebar;
}

void LibraryWindow::rebuildProjects() {
    const auto& projects = m_store.library().projects;
    m_projectCount->setText(qs(countText(projects.size(), T::projectsSuffix)));
    m_rebuildingProjects = true;
    m_projectModel->setProjects(projects, filteredProjectIndexes(projects, m_search->text().toStdString()));
    m_rebuildingProjects = false;
    showProjectSelection();
}

void LibraryWindow::showProjectSelection() {
    QItemSelectionModel* selection = m_projects->selectionModel();
    const auto& id = m_store.selectedProjectID();
    const int row = id ? m_projectModel->rowOf(*id) : -1;
    const QModelIndex wanted = row >= 0 ? m_projectModel->index(row) : QModelIndex();
    // A selection the list already shows (the user's own) is left as it is, so it is told once.
    const QModelIndexList shown = selection->selectedRows();
    if (wanted.isValid() ? shown != QModelIndexList{wanted} || selection->currentIndex() != wanted : !shown.isEmpty()) {
        m_rebuildingProjects = true;
        selection->clearSelection();
        if (wanted.isValid()) selection->setCurrentIndex(wanted, QItemSelectionModel::ClearAndSelect);
        m_rebuildingProjects = false;
    }
    const std::optional<VELKProject> selected = m_store.selectedProject();
    m_rename->setEnabled(canRenameProject(selected ? &*selected : nullptr));
}

void LibraryWindow::rememberOpener() {
    QObject* from = sender();
    if (auto* action = qobject_cast<QAction*>(from)) {
        // A toolbar button, or the menu button of the Project menu's actions.
        auto* bar = findChild<QToolBar*>(QStringLiteral("libraryToolbar"));
        QWidget* button = bar ? bar->widgetForAction(action) : nullptr;
        m_openedBy = button ? button : findChild<QToolButton*>(QStringLiteral("projectMenuButton"));
    } else if (auto* widget = qobject_cast<QWidget*>(from)) {
        m_openedBy = widget;
    }
}

void LibraryWindow::presentSheet(QDialog* sheet) {
    rememberOpener();
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet = sheet;
    openWindowModal(*sheet);
}

void LibraryWindow::showNewProject() {
    if (m_sheet) return;
    auto* sheet = new ProjectNameSheet({qs(T::newProjectTitle), {}, qs(T::create), 420}, m_newProjectName,
                                       [this] {
                                           m_commands->createProject(m_newProjectName);
                                           m_newProjectName.clear();
                                       },
                                       this);
    sheet->setObjectName(QStringLiteral("newProjectSheet"));
    presentSheet(sheet);
}

void LibraryWindow::showRenameProject() {
    if (m_sheet) return;
    const std::optional<VELKProject> selected = m_store.selectedProject();
    if (!canRenameProject(selected ? &*selected : nullptr)) return;
    m_renameProjectName = selected->name;
    m_renameFor = selected->id;
    auto* sheet = new ProjectNameSheet({qs(T::renameProjectTitle), qs(T::renameProjectNote), qs(T::renameButton), 440},
                                       m_renameProjectName,
                                       [this] {
                                           // Only the project the sheet was opened for is renamed.
                                           if (confirmationStillApplies(m_renameFor, m_store.selectedProjectID())) {
                                               m_commands->renameSelectedProject(m_renameProjectName);
                                           }
                                       },
                                       this);
    sheet->setObjectName(QStringLiteral("renameProjectSheet"));
    presentSheet(sheet);
}

void LibraryWindow::showCollect() {
    if (m_sheet) return;
    auto* sheet = new CollectSheet({m_store, m_discovery, m_liveDiscovery, m_commands, *m_settings, m_clock}, m_pairing,
                                   this);
    sheet->setObjectName(QStringLiteral("collectSheet"));
    presentSheet(sheet);
}

void LibraryWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_shownOnce) return;
    m_shownOnce = true;
    evaluateWiFiGuard(true);
    // An error set before the window opened is shown over it, not before it.
    syncErrorAlert();
}

} // namespace velk

namespace velk {

QMainWindow* createLibraryWindow(AppServices& services) {
    LibraryWindowOptions options;
    WindowRegistry& windows = services.windows;
    options.openWindow = [&windows](const std::string& id) { windows.openWindow(id); };
    options.wifi = makeWiFiSheetHost(services.quitting);
    return new LibraryWindow(services.store, services.catalogDiscovery, services.liveDiscovery, std::move(options));
}

} // namespace velk

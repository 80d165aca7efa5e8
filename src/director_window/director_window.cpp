#include "director_window/director_window.hpp"

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/app_services.hpp"
#include "app/key_repeat.hpp"
#include "app/keyboard_keeper.hpp"
#include "app/status_news.hpp"
#include "app/theme.hpp"
#include "app/window_placement.hpp"
#include "app/window_registry.hpp"
#include "base/qt_text.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window/director_actions.hpp"
#include "director_window/director_inspectors.hpp"
#include "director_window/director_presenters.hpp"
#include "director_window/director_services.hpp"
#include "director_window/studio_style.hpp"
#include "app/view_kit.hpp"
#include "director_window/studio_view_kit.hpp"
#include "director_window/switcher_view.hpp"
#include "preview/live_preview_store.hpp"
#include "preview/live_production_profile.hpp"
#include "store/app_store.hpp"

namespace velk {

namespace {


QLabel* textLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setLabelColor(QLabel& label, const QColor& color) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, color);
    label.setPalette(palette);
}

// The work area: the left column and the inspector, with the wall's height taken from the area's
// own height (min(max(0.45 × height, 230), 320)).
class WorkArea final : public QWidget {
public:
    WorkArea(StudioPanel* multiview, StudioPanel* switcher, QWidget* inspector, QWidget* parent)
        : QWidget(parent), m_multiview(multiview) {
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(12, 12, 12, 12);
        row->setSpacing(12);
        auto* left = new QVBoxLayout;
        left->setSpacing(12);
        left->addWidget(multiview);
        left->addWidget(switcher, 1);
        row->addLayout(left, 1);
        row->addWidget(inspector);
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        const double wall = std::min(std::max(0.45 * height(), 230.0), 320.0);
        m_multiview->setFixedHeight(static_cast<int>(wall));
        QWidget::resizeEvent(event);
    }

private:
    StudioPanel* m_multiview;
};

// The window content: the background gradient from the window colour to black at 8 %.
class DirectorContent final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, 0, height());
        const QColor window = palette().color(QPalette::Window);
        gradient.setColorAt(0, window);
        gradient.setColorAt(1, QColor::fromRgbF(window.redF() * 0.92f, window.greenF() * 0.92f, window.blueF() * 0.92f));
        painter.fillRect(rect(), gradient);
    }
};

// Whether `widget` takes a typed Space as text: there Space is a space, not CUT.
bool takesTypedSpace(const QWidget* widget) {
    return widget && (qobject_cast<const QLineEdit*>(widget) || widget->inherits("QTextEdit") ||
                      widget->inherits("QAbstractSpinBox") || widget->inherits("QPlainTextEdit"));
}

// A bare Space that reaches a control of `window` rather than its CUT shortcut (something took the
// shortcut check over) is CUT all the same, once per press, and never a press of a focused button.
class SpaceStaysCut final : public QObject {
public:
    SpaceStaysCut(QWidget& window, std::function<void(const QKeyEvent&)> cut)
        : QObject(&window), m_window(window), m_cut(std::move(cut)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
        const auto* widget = qobject_cast<const QWidget*>(watched);
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (!widget || widget->window() != &m_window || key->key() != Qt::Key_Space ||
            key->modifiers() != Qt::NoModifier || takesTypedSpace(widget))
            return false;
        if (event->type() == QEvent::KeyPress) m_cut(*key);
        return true;
    }

private:
    QWidget& m_window;
    std::function<void(const QKeyEvent&)> m_cut;
};

class TintedBar final : public QWidget {
public:
    TintedBar(QColor color, QWidget* parent) : QWidget(parent), m_color(color) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), m_color); }

private:
    QColor m_color;
};

} // namespace

DirectorWindow::DirectorWindow(Environment environment, QWidget* parent)
    : QMainWindow(parent),
      m_store(environment.store),
      m_channel(environment.channel),
      m_previews(std::move(environment.previews)),
      m_openWindow(std::move(environment.openWindow)),
      m_clock(environment.clock),
      m_liveProductionControlsVisible(environment.liveProductionControlsVisible) {
    if (environment.settings) {
        m_settings = environment.settings;
    } else {
        m_ownSettings = std::make_unique<QSettings>();
        m_settings = m_ownSettings.get();
    }
    m_workspace.plannedTakeID = DirectorRules::defaultTakeID(now());

    setWindowTitle(title);
    WindowPlacement::fitToScreen(*this, Theme::directorWindowSize);
    QPalette tinted = palette();
    tinted.setColor(QPalette::Highlight, Studio::accent().darker(130));
    tinted.setColor(QPalette::Link, Studio::accent());
    setPalette(tinted);

    auto* content = new DirectorContent(this);
    // The content's own minimum, so that a menu bar above it takes nothing from it.
    content->setMinimumSize(1050, 690);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(buildProductionBar());

    m_wall = new CameraWall(content);
    m_multiview = new StudioPanel("MULTIVIEW", qs(DirectorPresenters::multiviewSubtitle(false)), "rectangle.grid.2x2",
                                  m_wall, content);
    m_switcher = new SwitcherView(*this, content);
    auto* switcherPanel =
        new StudioPanel("SWITCHER", "Preview and Program", "arrow.triangle.2.circlepath", m_switcher, content);
    m_inspector = new DirectorInspector(*this, content);
    column->addWidget(new WorkArea(m_multiview, switcherPanel, m_inspector, content), 1);
    setCentralWidget(content);

    // CUT on Space, in the whole window: only while CUT is enabled, and never while a text field
    // has the focus (the field takes its own Space first; the check below also covers fields that
    // do not). A focused button or tile does not take Space, even where its shortcut check went
    // elsewhere: Return presses it. A held key cuts once, as Ctrl+. stops once, also where the
    // window system repeats a held key as new presses.
    m_cutShortcut = new QShortcut(QKeySequence(Qt::Key_Space), this);
    m_cutShortcut->setContext(Qt::WindowShortcut);
    m_cutShortcut->setAutoRepeat(false);
    connect(m_cutShortcut, &QShortcut::activated, this, [this] {
        if (KeyRepeat::latestPressRepeats(Qt::Key_Space) || takesTypedSpace(QApplication::focusWidget())) return;
        if (canTake()) perform(DirectorTransition::cut);
    });
    qApp->installEventFilter(new SpaceStaysCut(*this, [this](const QKeyEvent& key) {
        if (!KeyRepeat::isRepeat(key) && canTake()) perform(DirectorTransition::cut);
    }));
    // Stop All on Ctrl+period, always available.
    m_stopAllShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period), this);
    m_stopAllShortcut->setContext(Qt::WindowShortcut);
    m_stopAllShortcut->setAutoRepeat(false);
    connect(m_stopAllShortcut, &QShortcut::activated, this, [this] {
        if (!KeyRepeat::latestPressRepeats(Qt::Key_Period)) stopAll();
    });

    connect(m_wall, &CameraWall::cameraSelected, this, [this](const QString& id) { selectPreview(id.toStdString()); });
    connect(m_wall, &CameraWall::releaseRequested, this, [this](int index) { releaseSlot(index); });
    connect(m_wall, &CameraWall::scanAgainRequested, this, [this] { m_channel.rescan(); });
    connectServices();
    // The store's activity log is the window's status too (a session started, a cut, a download's
    // end); the Director shows no alert of its own, so its errors are told.
    StatusNews::followActivities(*this, m_store, false);
    m_toldControlMessage = DirectorPresenters::controlMessage(m_channel.lastControlMessage());
    // Return presses the focused button in every window; here, where Space is CUT, it also
    // toggles a check box, and CUT (a default button, which presses itself on Return) cuts once
    // however long Return is held.
    Accessibility::answerReturnOncePerPress(*m_switcher->cutButton());
    for (QCheckBox* box : findChildren<QCheckBox*>()) Accessibility::answerReturnOncePerPress(*box);
    Keyboard::keep(*this, [this] { return keyboardHome(); });
    refresh();
}

DirectorWindow::~DirectorWindow() { disappear(); }

QWidget* DirectorWindow::buildHeader() {
    auto* header = new TintedBar(Theme::withOpacity(palette().color(QPalette::Window).lighter(125), 0.9), this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(12);

    auto* icon = new QLabel(header);
    icon->setFixedSize(38, 38);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(Studio::symbol("video.fill", Theme::green()).pixmap(20, 20));
    icon->setStyleSheet("background: rgba(48,209,88,41); border-radius: 9px;");
    row->addWidget(icon);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    QFont titleFont = QApplication::font();
    titleFont.setPointSizeF(15);
    titleFont.setWeight(QFont::Black);
    titles->addWidget(textLabel("KESTOVA DIRECTOR", titleFont, header));
    auto* subtitle = textLabel("Live production workspace", Studio::font(Studio::TextStyle::caption), header);
    Theme::setSecondary(*subtitle);
    titles->addWidget(subtitle);
    row->addLayout(titles);
    row->addStretch(1);

    m_countPill = new StatusPill(header);
    m_phasePill = new StatusPill(header);
    row->addWidget(m_countPill);
    row->addWidget(m_phasePill);

    m_stopAllButton = new QPushButton(Studio::symbol("stop.circle.fill", Qt::white), "Stop All", header);
    m_stopAllButton->setObjectName("stopAll");
    m_stopAllButton->setToolTip("Stop or cancel camera takes, including preparation and saving. Ctrl+.");
    QPalette red = m_stopAllButton->palette();
    red.setColor(QPalette::Button, Theme::red().darker(140));
    red.setColor(QPalette::ButtonText, Qt::white);
    m_stopAllButton->setPalette(red);
    auto* scan = new QPushButton(Studio::symbol("arrow.clockwise", palette().color(QPalette::ButtonText)), "Scan", header);
    scan->setObjectName("scan");
    scan->setToolTip("Scan the local network for Kestova cameras");
    auto* library = new QPushButton(Studio::symbol("film.stack", palette().color(QPalette::ButtonText)), "Library", header);
    library->setObjectName("library");
    library->setDefault(true); // the prominent style
    m_scanButton = scan;
    m_libraryButton = library;
    // Tab reaches them; a click leaves the focus where it was (Stop All's by its guard).
    for (QPushButton* button : {scan, library}) button->setFocusPolicy(Qt::TabFocus);
    for (QPushButton* button : {m_stopAllButton, scan, library}) row->addWidget(button);
    Keyboard::guard(*m_stopAllButton);
    connect(m_stopAllButton, &QPushButton::clicked, this, [this] { stopAll(); });
    connect(scan, &QPushButton::clicked, this, [this] { m_channel.rescan(); });
    connect(library, &QPushButton::clicked, this, [this] {
        if (m_openWindow) m_openWindow(WindowID::library);
    });
    return header;
}

QWidget* DirectorWindow::buildProductionBar() {
    auto* bar = new TintedBar(QColor(0, 0, 0, 26), this);
    bar->setFixedHeight(34);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(10);
    m_statusDot = new QLabel(bar);
    m_statusDot->setFixedSize(8, 8);
    m_networkText = textLabel({}, Studio::font(Studio::TextStyle::caption, true), bar);
    auto* divider = new QFrame(bar);
    divider->setFrameShape(QFrame::VLine);
    divider->setFixedHeight(18);
    // A long project name or take id must not widen the window.
    auto* projectText = new ElidedLabel({}, bar);
    projectText->keepAtLeast(12);
    m_projectText = projectText;
    m_projectText->setFont(Studio::font(Studio::TextStyle::callout, true));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(Studio::font(Studio::TextStyle::callout).pointSizeF());
    auto* takeText = new ElidedLabel({}, bar);
    takeText->keepAtLeast(28); // "/  " and a whole default take id
    m_takeText = takeText;
    m_takeText->setFont(mono);
    Theme::setSecondary(*m_takeText);
    m_policyText = textLabel({}, Studio::font(Studio::TextStyle::caption), bar);
    Theme::setSecondary(*m_policyText);
    row->addWidget(m_statusDot);
    row->addWidget(m_networkText);
    row->addWidget(divider);
    row->addWidget(m_projectText);
    row->addWidget(m_takeText);
    row->addStretch(1);
    row->addWidget(m_policyText);
    auto addFixed = [&](const QString& text, QColor color) {
        auto* label = textLabel(text, Studio::font(Studio::TextStyle::caption), bar);
        setLabelColor(*label, color);
        row->addWidget(label);
    };
    const QColor tertiary = Studio::color(StudioColor::tertiary, palette());
    addFixed("\u2022", tertiary);
    addFixed("Audio meters only", Theme::secondary(palette()));
    addFixed("\u2022", tertiary);
    addFixed("Live preview not encrypted", Theme::orange());
    return bar;
}

void DirectorWindow::connectServices() {
    connect(&m_channel, &DirectorLiveChannel::camerasChanged, this, [this] { camerasChanged(); });
    connect(&m_channel, &DirectorLiveChannel::livenessTickChanged, this, [this] {
        if (m_reacting) m_previews->update(slottedCameras());
        refresh();
    });
    connect(&m_channel, &DirectorLiveChannel::isActiveScanningChanged, this, [this] {
        m_multiview->setSubtitle(qs(DirectorPresenters::multiviewSubtitle(m_channel.isActiveScanning())));
    });
    // The control message is told before the inspector greys out the control that was pressed (REC
    // ALL as a recording begins), so that it is said before the control the keyboard moves to.
    connect(&m_channel, &DirectorLiveChannel::lastControlMessageChanged, this, [this] {
        tellControlMessage();
        m_inspector->refresh();
    });
    connect(&m_channel, &DirectorLiveChannel::recordingStatusChanged, this, [this] {
        tellControlMessage();
        refreshHeader();
        m_inspector->refresh();
    });
    connect(m_previews.get(), &DirectorPreviewFeed::wallFramesChanged, this, [this] { wallFramesChanged(); });
    connect(m_previews.get(), &DirectorPreviewFeed::selectedFramesChanged, this, [this] { m_switcher->refreshMonitors(); });
    connect(m_previews.get(), &DirectorPreviewFeed::errorsChanged, this, [this] { refreshWall(); });
    connect(m_previews.get(), &DirectorPreviewFeed::transportsChanged, this, [this] {
        if (m_workspace.inspectorTab == DirectorInspectorTab::camera) m_inspector->refresh();
    });
    connect(&m_store, &AppStore::libraryChanged, this, [this] { refresh(); });
    connect(&m_store, &AppStore::selectedProjectIDChanged, this, [this] { refresh(); });
}

// --- Lifecycle ---

// The keyboard goes by the application's rule (app/keyboard_keeper): wherever it moves without the
// user choosing a control (the window activated with none placed yet, a control greyed out or
// hidden, a page switched), it goes to the control the user last chose that can still take it,
// else to the window's home: the first tile with a camera (not on Program), else the Preview and
// Program area's first enabled control. Left to itself, Qt would give it to the first control in
// Tab order, Stop All, or on along the Tab chain from a control greyed out, to REC ALL from Start
// Director Session and to STOP ALL from REC ALL, where one Return typed for anything else starts
// or stops every camera.
std::vector<QWidget*> DirectorWindow::keyboardHome() const {
    std::vector<QWidget*> home;
    if (!m_wall->showsEmptyState()) {
        for (const std::size_t cell : DirectorPresenters::keyboardHome(
                 DirectorPresenters::wallCells(m_workspace.cameraSlots, cameras()), m_workspace.timeline.programCameraID))
            home.push_back(m_wall->cell(static_cast<int>(cell)));
    }
    home.insert(home.end(), {m_switcher->cutButton(), m_switcher->fadeButton(), m_switcher->fadeDurationPicker(),
                             m_switcher->markerButton()});
    return home;
}

void DirectorWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_appeared) appear();
}

void DirectorWindow::closeEvent(QCloseEvent* event) {
    disappear();
    QMainWindow::closeEvent(event);
}

void DirectorWindow::appear() {
    m_appeared = true;
    m_channel.clearPairingHandler();
    m_channel.configureRecording(m_store.collectorIdentity());
    m_workspace.cameraSlots =
        DirectorCameraSlotLayout::decoded(m_settings->value(DirectorCameraSlotLayout::settingsKey, QString()).toString().toStdString());
    synchronizeOrientations();
    synchronizeCameras();
    m_previews->start(slottedCameras());
    synchronizePreviewProfiles();
    // The signatures as they stand now, so that only later changes react.
    const Cameras& list = cameras();
    m_identitySignature = DirectorRules::cameraIdentitySignature(list);
    m_rosterSignature = DirectorRules::previewRosterSignature(list);
    m_orientationSignature = DirectorRules::orientationSignature(list);
    m_framedCameras = m_previews->camerasWithWallFrames();
    m_reacting = true;
    refresh();
}

void DirectorWindow::disappear() {
    if (!m_reacting) return;
    m_reacting = false;
    m_previews->stop();
}

void DirectorWindow::synchronizeCameras() {
    DirectorRules::synchronizeCameras(m_workspace, cameras(), now());
    persistSlots();
    m_previews->update(slottedCameras());
    timelineChanged();
}

void DirectorWindow::synchronizeOrientations() {
    DirectorRules::synchronizeOrientations(m_workspace, cameras(), [this](const std::string& id) -> std::optional<FrameSize> {
        const QImage* image = m_previews->wallFrame(id);
        if (!image) image = m_previews->selectedFrame(id);
        if (!image || image->isNull()) return std::nullopt;
        return FrameSize{static_cast<double>(image->width()), static_cast<double>(image->height())};
    });
}

void DirectorWindow::synchronizePreviewProfiles() {
    m_capabilitiesSignature.clear();
    m_transportSignature.clear();
    for (const auto& camera : cameras()) {
        m_capabilitiesSignature.push_back(camera.previewCapabilities);
        m_transportSignature.push_back(camera.previewTransport);
    }
    m_previewSignature = m_workspace.timeline.previewCameraID;
    m_programSignature = m_workspace.timeline.programCameraID;
    m_previews->select(DirectorRules::selectedStreamCameras(effectivePreviewPolicy(), m_workspace.timeline));
}

void DirectorWindow::persistSlots() {
    m_settings->setValue(DirectorCameraSlotLayout::settingsKey, qs(m_workspace.cameraSlots.encoded()));
}

void DirectorWindow::camerasChanged() {
    if (!m_reacting) {
        refresh();
        return;
    }
    const Cameras& list = cameras();
    auto identity = DirectorRules::cameraIdentitySignature(list);
    if (identity != m_identitySignature) {
        m_identitySignature = std::move(identity);
        synchronizeCameras();
    }
    auto roster = DirectorRules::previewRosterSignature(list);
    if (roster != m_rosterSignature) {
        m_rosterSignature = std::move(roster);
        m_previews->update(slottedCameras());
    }
    auto orientation = DirectorRules::orientationSignature(list);
    if (orientation != m_orientationSignature) {
        m_orientationSignature = std::move(orientation);
        synchronizeOrientations();
    }
    bool profilesChanged = list.size() != m_capabilitiesSignature.size();
    for (std::size_t i = 0; !profilesChanged && i < list.size(); ++i)
        profilesChanged = list[i].previewCapabilities != m_capabilitiesSignature[i] ||
                          list[i].previewTransport != m_transportSignature[i];
    if (profilesChanged) synchronizePreviewProfiles();
    refresh();
}

void DirectorWindow::wallFramesChanged() {
    auto framed = m_previews->camerasWithWallFrames();
    if (framed != m_framedCameras) {
        m_framedCameras = std::move(framed);
        if (m_reacting) synchronizeOrientations();
    }
    refreshWall();
    m_switcher->refreshMonitors();
}

void DirectorWindow::timelineChanged() {
    if (m_workspace.timeline.previewCameraID != m_previewSignature ||
        m_workspace.timeline.programCameraID != m_programSignature) {
        if (m_reacting) synchronizePreviewProfiles();
    }
}

// --- Reads ---

const Cameras& DirectorWindow::cameras() const { return m_channel.cameras(); }

Cameras DirectorWindow::onlineCameras() const {
    return DirectorRules::onlineCameras(m_workspace.cameraSlots, cameras(), now());
}

Cameras DirectorWindow::slottedCameras() const { return DirectorRules::slottedCameras(m_workspace.cameraSlots, cameras()); }

std::optional<LiveCamera> DirectorWindow::selectedCamera() const {
    return DirectorRules::selectedCamera(m_workspace.timeline, cameras());
}

std::string DirectorWindow::storedPolicy() const {
    return m_settings->value(PreviewNetworkPolicy::settingsKey, "automatic").toString().toStdString();
}

VELKPreviewNetworkPolicy DirectorWindow::effectivePreviewPolicy() const {
    return DirectorRules::effectivePreviewPolicy(storedPolicy(),
                                                 DirectorRules::policyCameras(m_workspace.timeline, cameras(), now()));
}

bool DirectorWindow::liveProductionEnabled() const {
    return m_settings->value(LiveProductionProfile::enabledSettingsKey, LiveProductionProfile::defaultEnabled).toBool();
}

std::int64_t DirectorWindow::liveProductionFPS() const {
    return LiveProductionProfile::normalizedFPS(
        m_settings->value(LiveProductionProfile::fpsSettingsKey, qlonglong(LiveProductionProfile::defaultFPS)).toLongLong());
}

bool DirectorWindow::canTake() const { return DirectorRules::canTake(m_workspace.timeline, cameras(), now()); }

const QImage* DirectorWindow::previewImage(const std::optional<std::string>& id) const {
    if (!id || !DirectorRules::cameraIsOnline(id, cameras(), now())) return nullptr;
    if (const QImage* selected = m_previews->selectedFrame(*id)) return selected;
    return m_previews->wallFrame(*id);
}

std::int64_t DirectorWindow::previewRotation(const std::optional<std::string>& id) const {
    return DirectorRules::previewRotation(m_workspace, id, cameras());
}

// --- Operations ---

void DirectorWindow::selectPreview(const std::string& cameraID) {
    m_workspace.timeline.selectPreview(cameraID);
    timelineChanged();
    refresh();
}

// The menu item tests its rule again when chosen: a camera that came back while the menu was open
// keeps its slot.
void DirectorWindow::releaseSlot(int index) {
    if (!DirectorPresenters::slotIsLocked(m_workspace.cameraSlots, index, cameras())) return;
    DirectorRules::releaseSlot(m_workspace, index, cameras(), now());
    persistSlots();
    timelineChanged();
    refresh();
}

// Each action tests again the rule that enables its control: a camera may have gone offline or a
// take may have started since the control was last drawn.
void DirectorWindow::perform(DirectorTransition transition) {
    if (!canTake()) return;
    if (auto line = DirectorRules::perform(m_workspace, transition, cameras(), now())) m_store.log(*line);
    timelineChanged();
    refresh();
}

void DirectorWindow::addMarker() {
    const bool added = DirectorRules::addMarker(m_workspace, now());
    refresh();
    if (added && !m_workspace.timeline.events.empty())
        StatusNews::tell(*this, qs(DirectorPresenters::editRow(m_workspace.timeline.events.back(), cameras(), now()).accessibleText));
}

void DirectorWindow::setFadeDuration(double seconds) { m_workspace.fadeDuration = seconds; }

void DirectorWindow::stopAll() { DirectorActions::stopAll(m_workspace, m_store, m_channel); }

void DirectorWindow::recAll() {
    const Cameras online = onlineCameras();
    if (!DirectorPresenters::recAllEnabled(online, now(), m_store.selectedProject().has_value(),
                                           m_channel.recordingStatus().blocksStart()))
        return;
    DirectorActions::beginRecording(m_workspace, online, m_store, m_channel);
}

void DirectorWindow::recordSelected(bool start) {
    const std::optional<LiveCamera> camera = selectedCamera();
    if (!camera) return;
    if (start && !DirectorPresenters::recCameraEnabled(camera, now(), m_store.selectedProject().has_value(),
                                                       m_channel.recordingStatus().blocksStart()))
        return;
    if (start) DirectorActions::beginRecording(m_workspace, {*camera}, m_store, m_channel);
    else DirectorActions::stopSelected(m_workspace, m_store, m_channel);
}

void DirectorWindow::rotateSelected() {
    const std::optional<LiveCamera> camera = selectedCamera();
    if (!camera || !camera->isOnline(now()) || camera->orientationLocked()) return;
    m_workspace.orientation.rotate(camera->id);
    refresh();
}

void DirectorWindow::startSession() {
    if (!DirectorPresenters::startEnabled(m_store.selectedProjectID(), m_workspace.plannedTakeID,
                                          m_workspace.timeline.isRunning()))
        return;
    DirectorActions::startSession(m_workspace, m_store, now());
    refresh();
}

void DirectorWindow::setPlannedTakeID(const std::string& id) {
    m_workspace.plannedTakeID = id;
    refresh();
}

void DirectorWindow::newTakeID() {
    setPlannedTakeID(DirectorRules::defaultTakeID(now()));
    StatusNews::tell(*this, qs(DirectorPresenters::newTakeIDNews(m_workspace.plannedTakeID)));
}

void DirectorWindow::tellControlMessage() {
    std::string message = DirectorPresenters::controlMessage(m_channel.lastControlMessage());
    if (message == m_toldControlMessage) return;
    m_toldControlMessage = std::move(message);
    StatusNews::tell(*this, qs(m_toldControlMessage));
}

void DirectorWindow::selectProject(const std::optional<std::string>& projectID) { m_store.setSelectedProjectID(projectID); }

void DirectorWindow::setInspectorTab(DirectorInspectorTab tab) {
    m_workspace.inspectorTab = tab;
    m_inspector->refresh();
    Keyboard::settle(*this);
}

void DirectorWindow::setStoredPolicy(const std::string& raw) {
    m_settings->setValue(PreviewNetworkPolicy::settingsKey, qs(raw));
    if (m_reacting) synchronizePreviewProfiles();
    refresh();
}

void DirectorWindow::setLiveProductionEnabled(bool enabled) {
    m_settings->setValue(LiveProductionProfile::enabledSettingsKey, enabled);
    m_inspector->refresh();
}

void DirectorWindow::setLiveProductionFPS(std::int64_t fps) {
    if (!liveProductionEnabled()) return;
    m_settings->setValue(LiveProductionProfile::fpsSettingsKey, qlonglong(LiveProductionProfile::normalizedFPS(fps)));
    m_inspector->refresh();
}

// --- Drawing state ---

void DirectorWindow::refresh() {
    refreshHeader();
    refreshWall();
    m_switcher->refresh();
    m_inspector->refresh();
    // A job ended or the home changed (a camera came): the keyboard goes by the rule unless the user
    // put it where it is.
    Keyboard::settle(*this);
}

void DirectorWindow::refreshHeader() {
    const std::size_t online = onlineCameras().size();
    const StatusPillValue count = DirectorPresenters::cameraCountPill(online);
    const StatusPillValue phase = DirectorPresenters::phasePill(m_channel.recordingStatus().phase);
    m_countPill->setPill(QString::fromStdString(count.text), Studio::color(count.color, palette()));
    m_phasePill->setPill(QString::fromStdString(phase.text), Studio::color(phase.color, palette()));
    const auto bar = DirectorPresenters::productionBar(online, m_store.selectedProject(), m_workspace.plannedTakeID,
                                                       std::string(PreviewNetworkPolicy::title(effectivePreviewPolicy())));
    const QColor dot = Studio::color(bar.dotColor, palette());
    if (m_statusDot->property("dotColor").value<QColor>() != dot) {
        QPixmap pixmap(8, 8);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(dot);
        painter.drawEllipse(QRectF(0.5, 0.5, 7, 7));
        painter.end();
        m_statusDot->setPixmap(pixmap);
        m_statusDot->setProperty("dotColor", dot);
    }
    auto set = [](QLabel* label, const std::string& text) {
        if (label->text() != qs(text)) label->setText(qs(text));
    };
    set(m_networkText, bar.networkText);
    set(m_projectText, bar.projectText);
    set(m_takeText, bar.takeText);
    set(m_policyText, bar.policyText);
    m_multiview->setSubtitle(qs(DirectorPresenters::multiviewSubtitle(m_channel.isActiveScanning())));
}

void DirectorWindow::refreshWall() {
    m_wall->setShowsEmptyState(DirectorPresenters::wallShowsEmptyState(m_workspace.cameraSlots));
    if (m_wall->showsEmptyState()) return;
    const Cameras& list = cameras();
    const WallTime at = now();
    const auto cells = DirectorPresenters::wallCells(m_workspace.cameraSlots, list);
    const auto& timeline = m_workspace.timeline;
    const bool takeUnavailable = timeline.isRunning() && !canTake();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        CameraWallCell* cell = m_wall->cell(static_cast<int>(i));
        const auto& c = cells[i];
        switch (c.kind) {
        case DirectorPresenters::WallCellKind::empty: cell->showEmpty(); break;
        case DirectorPresenters::WallCellKind::lockedOffline: cell->showLocked(c.lockedName); break;
        case DirectorPresenters::WallCellKind::live: {
            const std::string& id = c.camera->id;
            const QImage* image = m_previews->wallFrame(id);
            const TileState state = DirectorPresenters::tileState(*c.camera, at, image != nullptr, m_previews->error(id),
                                                                  timeline.previewCameraID == id,
                                                                  timeline.programCameraID == id, takeUnavailable);
            cell->showLive(id, c.camera->name, state, image, previewRotation(id));
            break;
        }
        }
    }
}

QMainWindow* createDirectorWindow(AppServices& services) {
    auto* channel = new LiveCameraDiscoveryChannel(services.liveDiscovery);
    WindowRegistry* registry = &services.windows;
    auto* window = new DirectorWindow(DirectorWindow::Environment{
        .store = services.store,
        .channel = *channel,
        .previews = std::make_unique<LivePreviewStoreFeed>(new LivePreviewStore()),
        .openWindow = [registry](const std::string& id) { registry->openWindow(id); },
    });
    channel->setParent(window);
    return window;
}

} // namespace velk

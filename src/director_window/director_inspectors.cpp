#include "director_window/director_inspectors.hpp"

#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QButtonGroup>
#include <QToolButton>
#include <QVBoxLayout>

#include "director_window/director_presenters.hpp"
#include "director_window/director_services.hpp"
#include "director_window/director_window.hpp"
#include "director_window/preview_transport_texts.hpp"
#include "director_window/studio_style.hpp"
#include "director_window/studio_view_kit.hpp"
#include "preview/live_production_profile.hpp"
#include "store/app_store.hpp"

namespace velk {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }
QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QLabel* caption(const QString& text, QWidget* parent, bool bold = false) {
    auto* label = new QLabel(text, parent);
    label->setFont(Studio::font(Studio::TextStyle::caption, bold));
    label->setTextFormat(Qt::PlainText);
    Theme::setSecondary(*label);
    return label;
}

void tintRed(QPushButton& button) {
    // Only while enabled: a disabled button keeps the dimmed look.
    QPalette palette = button.palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Button, Theme::red().darker(140));
        palette.setColor(group, QPalette::ButtonText, Qt::white);
    }
    button.setPalette(palette);
}

template <class Widget>
void setEnabledIfChanged(Widget* widget, bool enabled) {
    if (widget->isEnabled() != enabled) widget->setEnabled(enabled);
}

void setTextIfChanged(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

QVBoxLayout* tabColumn(QWidget* tab, int spacing) {
    auto* column = new QVBoxLayout(tab);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(spacing);
    return column;
}

constexpr const char* kPlannedControls[][3] = {
    {"viewfinder", "4K \u2192 1080 Reframe", "Crop, pan and digital zoom"},
    {"camera.metering.center.weighted", "Focus & Zoom", "Manual and tracking control"},
    {"person.crop.rectangle", "Face Assist", "Operator-confirmed framing"},
    {"slider.horizontal.3", "Color Match", "Exposure, white balance and tint"},
    {"antenna.radiowaves.left.and.right", "OBS SRT Outputs", "One feed per camera + Program \u2022 gated"},
    {"wifi", "Stream Health", "Per-camera fallback on heat, loss or backpressure"},
};

constexpr const char* kStatusRowLabels[] = {"Active", "Budget", "Link", "Camera", "Capture",
                                            "Health", "Wall", "Selected", "H.264", "4K stream"};

// A vertical scroll area that shows the inspector's own background behind its content.
QScrollArea* transparentScrollArea(QWidget* parent) {
    auto* scroll = new QScrollArea(parent);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    return scroll;
}

} // namespace

// --- Session ---

SessionInspector::SessionInspector(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    auto* column = tabColumn(this, 14);
    column->addWidget(new InspectorHeading("Production", "Project and take setup", this));

    auto* form = new QFormLayout;
    // The fields take the column's width beyond their 185 points, so that a whole default take id
    // shows in this platform's wider fonts.
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(10);
    m_project = new QComboBox(this);
    m_project->setObjectName("projectPicker");
    m_project->setMinimumWidth(185);
    m_project->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon); // long names elide
    m_project->setMinimumContentsLength(10);
    form->addRow("Project", m_project);
    m_takeRow = new QWidget(this);
    m_takeRow->setMinimumWidth(185);
    m_takeRow->setToolTip("Shared camera take ID, up to 64 UTF-8 bytes. Use a new ID for each recording.");
    auto* takeLayout = new QHBoxLayout(m_takeRow);
    takeLayout->setContentsMargins(0, 0, 0, 0);
    takeLayout->setSpacing(5);
    m_take = new QLineEdit(m_takeRow);
    m_take->setPlaceholderText("take-id");
    m_newTake = new QToolButton(m_takeRow);
    m_newTake->setIcon(Studio::symbol("plus", palette().color(QPalette::ButtonText)));
    m_newTake->setText("+");
    m_newTake->setToolTip("Generate a new unique take ID");
    takeLayout->addWidget(m_take, 1);
    takeLayout->addWidget(m_newTake);
    form->addRow("Take", m_takeRow);
    column->addLayout(form);

    m_start = new QPushButton("Start Director Session", this);
    m_start->setDefault(true);
    m_start->setToolTip("Start a local edit-decision log for the selected project and take");
    column->addWidget(m_start);
    column->addWidget(divider(this));
    column->addWidget(caption("CAMERA CONTROL", this, true));

    auto* recording = new QHBoxLayout;
    m_recAll = new QPushButton(Studio::symbol("record.circle", Qt::white), "REC ALL", this);
    tintRed(*m_recAll);
    m_stopAll = new QPushButton(Studio::symbol("stop.circle", palette().color(QPalette::ButtonText)), "STOP ALL", this);
    recording->addWidget(m_recAll);
    recording->addWidget(m_stopAll);
    recording->addStretch(1);
    column->addLayout(recording);

    m_message = caption({}, this);
    m_message->setWordWrap(true);
    column->addWidget(m_message);
    m_stopResults = new QVBoxLayout;
    m_stopResults->setSpacing(4);
    column->addLayout(m_stopResults);
    column->addStretch(1);
    column->addWidget(new SafetyNote(
        "info.circle", "Preview and switch decisions work now. Program output is not a timed production stream yet.", this));

    connect(m_project, &QComboBox::activated, this, [this](int index) {
        if (m_updating) return;
        const QVariant id = m_project->itemData(index);
        m_window.selectProject(id.isNull() ? std::nullopt : std::optional(id.toString().toStdString()));
    });
    connect(m_take, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!m_updating) m_window.setPlannedTakeID(text.toStdString());
    });
    connect(m_newTake, &QToolButton::clicked, this, [this] { m_window.newTakeID(); });
    connect(m_start, &QPushButton::clicked, this, [this] { m_window.startSession(); });
    connect(m_recAll, &QPushButton::clicked, this, [this] { m_window.recAll(); });
    connect(m_stopAll, &QPushButton::clicked, this, [this] { m_window.stopAll(); });
}

void SessionInspector::refresh() {
    m_updating = true;
    AppStore& store = m_window.store();
    const auto& workspace = m_window.workspace();
    const DirectorRecordingStatus status = m_window.channel().recordingStatus();
    const bool blocks = status.blocksStart();

    // Project picker: "Choose…" then the regular projects; an unassigned selection shows none.
    const auto options = DirectorPresenters::projectOptions(store.library());
    bool same = m_project->count() == static_cast<int>(options.size()) + 1;
    for (std::size_t i = 0; same && i < options.size(); ++i)
        same = m_project->itemData(static_cast<int>(i) + 1).toString() == qs(options[i].id) &&
               m_project->itemText(static_cast<int>(i) + 1) == qs(options[i].name);
    if (!same) {
        m_project->clear();
        m_project->addItem("Choose\u2026", QVariant());
        for (const auto& option : options) m_project->addItem(qs(option.name), qs(option.id));
    }
    int current = 0;
    if (const auto& selected = store.selectedProjectID()) current = m_project->findData(qs(*selected));
    if (m_project->currentIndex() != current) m_project->setCurrentIndex(current);
    setEnabledIfChanged(m_project, !blocks);

    const QString take = qs(workspace.plannedTakeID);
    if (m_take->text() != take) {
        m_take->setText(take);
        m_take->setCursorPosition(0); // show the id from its start
    }
    setEnabledIfChanged(m_takeRow, !blocks);

    const bool running = workspace.timeline.isRunning();
    const QString startTitle = qs(DirectorPresenters::startTitle(running));
    if (m_start->text() != startTitle) m_start->setText(startTitle);
    setEnabledIfChanged(m_start, DirectorPresenters::startEnabled(store.selectedProjectID(), workspace.plannedTakeID, running));
    setEnabledIfChanged(m_recAll, DirectorPresenters::recAllEnabled(m_window.onlineCameras(), m_window.now(),
                                                                    store.selectedProject().has_value(), blocks));

    setTextIfChanged(m_message, qs(DirectorPresenters::controlMessage(m_window.channel().lastControlMessage())));
    const auto lines = DirectorPresenters::stopResultLines(status.stopResults, m_window.cameras(), m_window.now());
    while (m_stopResultLabels.size() > lines.size()) {
        delete m_stopResultLabels.back();
        m_stopResultLabels.pop_back();
    }
    while (m_stopResultLabels.size() < lines.size()) {
        auto* label = caption({}, this);
        label->setFont(Studio::font(Studio::TextStyle::caption2));
        label->setWordWrap(true);
        label->setMaximumHeight(QFontMetrics(label->font()).lineSpacing() * 2 + 1);
        m_stopResults->addWidget(label);
        m_stopResultLabels.push_back(label);
    }
    for (std::size_t i = 0; i < lines.size(); ++i) setTextIfChanged(m_stopResultLabels[i], qs(lines[i]));
    m_updating = false;
}

std::vector<QString> SessionInspector::stopResultTexts() const {
    std::vector<QString> texts;
    for (auto* label : m_stopResultLabels) texts.push_back(label->text());
    return texts;
}

// --- Edits ---

EditsInspector::EditsInspector(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    auto* column = tabColumn(this, 10);
    m_heading = new InspectorHeading("Edit Decisions", qs(DirectorPresenters::editsHeadingDetail(0)), this);
    column->addWidget(m_heading);
    m_empty = new CompactEmptyState("No edits yet", "timeline.selection", "Start a session, then CUT, FADE or add a marker.", this);
    column->addWidget(m_empty);
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    column->addWidget(m_list, 1);
    column->addStretch(0);
}

void EditsInspector::refresh() {
    const auto events = DirectorPresenters::editEvents(m_window.workspace().timeline);
    m_heading->setDetail(qs(DirectorPresenters::editsHeadingDetail(events.size())));
    m_empty->setVisible(events.empty());
    m_list->setVisible(!events.empty());
    if (m_list->count() != static_cast<int>(events.size())) {
        m_list->clear();
        for (std::size_t i = 0; i < events.size(); ++i) {
            auto* item = new QListWidgetItem(m_list);
            auto* row = new QWidget(m_list);
            auto* layout = new QHBoxLayout(row);
            layout->setContentsMargins(6, 3, 6, 3);
            layout->setSpacing(9);
            auto* time = new QLabel(row);
            time->setFont(Theme::monospacedDigits(Studio::TextStyle::caption));
            Theme::setSecondary(*time);
            auto* tag = new QLabel(row);
            tag->setFont(Studio::font(Studio::TextStyle::caption, true));
            tag->setFixedWidth(40);
            auto* detail = new QLabel(row);
            detail->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            layout->addWidget(time);
            layout->addWidget(tag);
            layout->addWidget(detail, 1);
            item->setSizeHint(row->sizeHint());
            m_list->setItemWidget(item, row);
        }
    }
    for (std::size_t i = 0; i < events.size(); ++i) {
        QWidget* row = m_list->itemWidget(m_list->item(static_cast<int>(i)));
        const auto labels = row->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        const auto& event = events[i];
        const QString texts[] = {qs(DirectorPresenters::timeCode(event.elapsedSeconds)), qs(DirectorPresenters::editTag(event)),
                                 qs(DirectorPresenters::editDetail(event, m_window.cameras(), m_window.now()))};
        for (int k = 0; k < 3 && k < labels.size(); ++k) setTextIfChanged(labels[k], texts[k]);
    }
}

// --- Audio ---

AudioInspector::AudioInspector(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    auto* column = tabColumn(this, 10);
    column->addWidget(new InspectorHeading("Audio", "Live meters \u2022 samples not available", this));
    auto* scroll = transparentScrollArea(this);
    auto* content = new QWidget(scroll);
    m_column = new QVBoxLayout(content);
    m_column->setContentsMargins(0, 0, 0, 8);
    m_column->setSpacing(8);
    m_empty = new CompactEmptyState("No audio meters", "waveform.slash", "Waiting for camera status.", content);
    m_column->addWidget(m_empty);
    m_column->addStretch(1);
    scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget turned it on
    column->addWidget(scroll, 1);
    column->addWidget(new SafetyNote(
        "speaker.slash", "Phones currently send dB values, not audio samples. Gain, pan and FX remain disabled.", this));
}

void AudioInspector::refresh() {
    const auto& channels = m_window.workspace().audioChannels;
    m_empty->setVisible(channels.empty());
    while (m_channels.size() > channels.size()) {
        delete m_channels.back();
        m_channels.pop_back();
    }
    while (m_channels.size() < channels.size()) {
        auto* strip = new CompactAudioChannel(m_column->parentWidget());
        m_column->insertWidget(m_column->count() - 1, strip);
        m_channels.push_back(strip);
    }
    for (std::size_t i = 0; i < channels.size(); ++i)
        m_channels[i]->setChannel(channels[i], DirectorRules::findCamera(m_window.cameras(), channels[i].id), m_window.now());
}

// --- Camera ---

CameraInspector::CameraInspector(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    auto* column = tabColumn(this, 10);
    m_heading = new InspectorHeading({}, "Preview camera desk", this);
    column->addWidget(m_heading);

    auto* orientation = new QHBoxLayout;
    m_orientationIcon = new QLabel(this);
    m_orientationText = caption({}, this);
    m_orientationText->setPalette(palette());
    m_rotate = new QPushButton("Rotate 90\u00b0", this);
    orientation->addWidget(m_orientationIcon);
    orientation->addWidget(m_orientationText);
    orientation->addStretch(1);
    orientation->addWidget(m_rotate);
    column->addLayout(orientation);

    auto* recording = new QHBoxLayout;
    m_recCamera = new QPushButton("REC Camera", this);
    tintRed(*m_recCamera);
    m_stopCamera = new QPushButton("STOP Camera", this);
    recording->addWidget(m_recCamera);
    recording->addWidget(m_stopCamera);
    recording->addStretch(1);
    column->addLayout(recording);

    auto* scroll = transparentScrollArea(this);
    auto* content = new QWidget(scroll);
    auto* contentColumn = new QVBoxLayout(content);
    contentColumn->setContentsMargins(0, 0, 0, 0);
    contentColumn->setSpacing(8);

    auto* network = new QWidget(content);
    network->setObjectName("previewNetworkBox");
    network->setAttribute(Qt::WA_StyledBackground, true);
    network->setStyleSheet("#previewNetworkBox { background: rgba(255,255,255,18); border-radius: 9px; }");
    auto* box = new QVBoxLayout(network);
    box->setContentsMargins(10, 10, 10, 10);
    box->setSpacing(9);
    box->addWidget(caption("PREVIEW NETWORK", network, true));
    m_policy = new QComboBox(network);
    m_policy->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_policy->setMinimumContentsLength(10);
    m_policy->setToolTip("Conservative mode reuses the camera-wall preview to reduce extra phone encoding and JPEG "
                         "decoding on this computer. Performance mode adds selected-camera streams.");
    for (auto policy : PreviewNetworkPolicy::allCases)
        m_policy->addItem(qs(PreviewNetworkPolicy::title(policy)), qs(PreviewNetworkPolicy::rawValue(policy)));
    box->addWidget(m_policy);
    for (const char* label : kStatusRowLabels) {
        auto* row = new PreviewStatusRow(label, {}, network);
        box->addWidget(row);
        m_rows.push_back(row);
    }
    auto* production = new PreviewStatusRow("Live Production", {}, network);
    production->setToolTip("FHD controls remain hidden until direct camera transport, elected-computer relay and "
                           "physical acceptance are operational.");
    box->addWidget(production);
    m_rows.push_back(production);
    contentColumn->addWidget(network);
    for (const auto& planned : kPlannedControls)
        contentColumn->addWidget(new FutureControl(planned[0], planned[1], planned[2], content));
    contentColumn->addStretch(1);
    scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget turned it on
    column->addWidget(scroll, 1);
    column->addWidget(new SafetyNote("info.circle",
                                     "Current live preview uses unauthenticated, unencrypted JPEG on a trusted LAN. Secure "
                                     "live pairing and negotiated H.264 are planned for a later version.",
                                     this));

    connect(m_rotate, &QPushButton::clicked, this, [this] { m_window.rotateSelected(); });
    connect(m_recCamera, &QPushButton::clicked, this, [this] { m_window.recordSelected(true); });
    connect(m_stopCamera, &QPushButton::clicked, this, [this] { m_window.recordSelected(false); });
    connect(m_policy, &QComboBox::activated, this, [this](int index) {
        if (!m_updating) m_window.setStoredPolicy(m_policy->itemData(index).toString().toStdString());
    });
}

void CameraInspector::refresh() {
    m_updating = true;
    const auto& workspace = m_window.workspace();
    const WallTime now = m_window.now();
    const std::optional<LiveCamera> selected = m_window.selectedCamera();
    const LiveCamera* camera = selected ? &*selected : nullptr;
    const bool online = camera && camera->isOnline(now);
    const auto& previewID = workspace.timeline.previewCameraID;

    m_heading->setTitle(qs(DirectorRules::cameraName(previewID, m_window.cameras(), now)));
    const auto label = DirectorPresenters::orientationLabel(selected);
    if (m_orientationText->text() != qs(label.text)) {
        m_orientationText->setText(qs(label.text));
        m_orientationIcon->setPixmap(Studio::symbol(label.icon, palette().color(QPalette::WindowText)).pixmap(13, 13));
    }
    setEnabledIfChanged(m_rotate, DirectorPresenters::rotateEnabled(selected, now));
    const DirectorRecordingStatus status = m_window.channel().recordingStatus();
    setEnabledIfChanged(m_recCamera, DirectorPresenters::recCameraEnabled(selected, now, m_window.store().selectedProject().has_value(),
                                                                          status.blocksStart()));
    setEnabledIfChanged(m_stopCamera, DirectorPresenters::stopCameraEnabled(selected));

    const std::string stored = m_window.storedPolicy();
    const auto chosen = PreviewNetworkPolicy::fromRaw(stored).value_or(VELKPreviewNetworkPolicy::automatic);
    const int chosenIndex = m_policy->findData(qs(PreviewNetworkPolicy::rawValue(chosen)));
    if (m_policy->currentIndex() != chosenIndex) m_policy->setCurrentIndex(chosenIndex);

    const VELKPreviewNetworkPolicy effective = m_window.effectivePreviewPolicy();
    using namespace PreviewTransportTexts;
    const std::optional<VELKPreviewClient::Transport> wall =
        previewID ? m_window.previews().wallTransport(*previewID) : std::nullopt;
    const std::optional<VELKPreviewClient::Transport> selectedTransport =
        previewID ? m_window.previews().selectedTransport(*previewID) : std::nullopt;
    const std::string values[] = {
        std::string(PreviewNetworkPolicy::title(effective)),
        std::string(PreviewNetworkPolicy::target(effective)),
        selectedLinkStatus(camera, online),
        advertisedTransportStatus(camera, online),
        DirectorPresenters::captureText(selected),
        previewHealthStatus(camera, online),
        transportStatus(VELKPreviewProfile::wall, previewID, effective, wall),
        transportStatus(VELKPreviewProfile::selected, previewID, effective, selectedTransport),
        h264Status(camera, online),
        fullStream4KStatus(camera, online),
        LiveProductionProfile::availability(m_window.liveProductionEnabled(), m_window.cameras()),
    };
    for (std::size_t i = 0; i < m_rows.size(); ++i) m_rows[i]->setValue(qs(values[i]));
    m_updating = false;
}

// --- The column ---

DirectorInspector::DirectorInspector(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    setFixedWidth(340);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    // The segmented tab picker.
    m_tabs = new QButtonGroup(this);
    auto* picker = new QWidget(this);
    picker->setObjectName("inspectorPicker");
    picker->setStyleSheet("#inspectorPicker QToolButton { border: 1px solid rgba(255,255,255,30); padding: 3px 2px; "
                          "background: rgba(255,255,255,10); }"
                          "#inspectorPicker QToolButton:checked { background: rgba(255,255,255,46); }");
    auto* pickerLayout = new QHBoxLayout(picker);
    pickerLayout->setContentsMargins(10, 10, 10, 10);
    pickerLayout->setSpacing(0);
    const char* icons[] = {"slider.horizontal.3", "waveform", "camera.aperture", "list.bullet.rectangle"};
    int i = 0;
    for (auto tab : allDirectorInspectorTabs) {
        auto* segment = new QToolButton(picker);
        segment->setIcon(Studio::symbol(icons[i], palette().color(QPalette::ButtonText)));
        segment->setText(qs(rawValue(tab)));
        segment->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        segment->setCheckable(true);
        segment->setAutoRaise(false);
        segment->setFocusPolicy(Qt::NoFocus);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setIconSize(QSize(13, 13));
        m_tabs->addButton(segment, i++);
        pickerLayout->addWidget(segment);
    }
    column->addWidget(picker);
    column->addWidget(divider(this));
    m_stack = new QStackedWidget(this);
    m_session = new SessionInspector(window, m_stack);
    m_audio = new AudioInspector(window, m_stack);
    m_camera = new CameraInspector(window, m_stack);
    m_edits = new EditsInspector(window, m_stack);
    for (QWidget* tab : {static_cast<QWidget*>(m_session), static_cast<QWidget*>(m_audio),
                         static_cast<QWidget*>(m_camera), static_cast<QWidget*>(m_edits)})
        m_stack->addWidget(tab);
    column->addWidget(m_stack, 1);
    connect(m_tabs, &QButtonGroup::idClicked, this,
            [this](int index) { m_window.setInspectorTab(allDirectorInspectorTabs[index]); });
}

void DirectorInspector::refresh() {
    const int index = static_cast<int>(m_window.workspace().inspectorTab);
    if (m_tabs->checkedId() != index) m_tabs->button(index)->setChecked(true);
    if (m_stack->currentIndex() != index) m_stack->setCurrentIndex(index);
    switch (m_window.workspace().inspectorTab) {
    case DirectorInspectorTab::session: m_session->refresh(); break;
    case DirectorInspectorTab::audio: m_audio->refresh(); break;
    case DirectorInspectorTab::camera: m_camera->refresh(); break;
    case DirectorInspectorTab::edits: m_edits->refresh(); break;
    }
}

QToolButton* DirectorInspector::tabButton(DirectorInspectorTab tab) const {
    return static_cast<QToolButton*>(m_tabs->button(static_cast<int>(tab)));
}

int DirectorInspector::currentTabIndex() const { return m_tabs->checkedId(); }

void DirectorInspector::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Theme::cardOutline(), 1));
    painter.setBrush(Theme::material(palette()));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 13, 13);
}

} // namespace velk

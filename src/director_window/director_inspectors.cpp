#include "director_window/director_inspectors.hpp"

#include <QAbstractListModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/keyboard_keeper.hpp"
#include "base/qt_text.hpp"
#include "director_window/director_accessibility.hpp"
#include "director_window/director_presenters.hpp"
#include "director_window/director_services.hpp"
#include "director_window/director_window.hpp"
#include "director_window/preview_transport_texts.hpp"
#include "director_window/studio_style.hpp"
#include "director_window/studio_view_kit.hpp"
#include "preview/live_production_profile.hpp"
#include "store/app_store.hpp"

#include <iterator>
#include <utility>

namespace velk {

namespace {

namespace Name = DirectorPresenters::AccessibleName;


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

// A ring of the focus colour around a scroll area while it has the keyboard's focus (it has no
// frame or current item of its own to show it).
void showFocusRing(QAbstractScrollArea& area, const char* name) {
    area.setObjectName(QString::fromLatin1(name));
    const QColor ring = Theme::accent();
    area.setStyleSheet(QStringLiteral("#%1 { border: 2px solid transparent; border-radius: 6px; }"
                                      "#%1:focus { border-color: %2; }")
                           .arg(area.objectName(), ring.name()));
}

// A vertical scroll area that shows the inspector's own background behind its content. The
// keyboard reaches it, to scroll with the arrow keys; a click shows no focus.
QScrollArea* transparentScrollArea(QWidget* parent, const char* name, const QString& accessibleName) {
    auto* scroll = new QScrollArea(parent);
    scroll->setAccessibleName(accessibleName);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::TabFocus);
    showFocusRing(*scroll, name);
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
    m_project = new ElidedComboBox(this);
    m_project->setObjectName("projectPicker");
    m_project->setMinimumWidth(185);
    m_project->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon); // long names elide
    m_project->setMinimumContentsLength(10);
    m_project->setAccessibleName(Name::project);
    form->addRow(Name::project, m_project); // the row's label is the picker's buddy
    // The take field and "+" sit in the row itself, beside their label, so that the label names the
    // field for assistive tools as well as for the eye.
    const QString takeHelp = "Shared camera take ID, up to 64 UTF-8 bytes. Use a new ID for each recording.";
    auto* takeLabel = new QLabel(Name::take, this);
    takeLabel->setToolTip(takeHelp);
    auto* takeLayout = new QHBoxLayout;
    takeLayout->setSpacing(5);
    m_take = new QLineEdit(this);
    m_take->setObjectName("takeField");
    m_take->setPlaceholderText("take-id");
    m_take->setAccessibleName(Name::take);
    m_take->setToolTip(takeHelp);
    m_take->setMinimumWidth(150);
    takeLabel->setBuddy(m_take);
    m_newTake = new QToolButton(this);
    m_newTake->setObjectName("newTakeID");
    m_newTake->setIcon(Studio::symbol("plus", palette().color(QPalette::ButtonText)));
    m_newTake->setText("+");
    m_newTake->setAccessibleName(Name::newTakeID);
    m_newTake->setToolTip("Generate a new unique take ID");
    takeLayout->addWidget(m_take, 1);
    takeLayout->addWidget(m_newTake);
    form->addRow(takeLabel, takeLayout);
    column->addLayout(form);

    m_start = new QPushButton("Start Director Session", this);
    m_start->setDefault(true); // the prominent style
    m_start->setToolTip("Start a local edit-decision log for the selected project and take");
    column->addWidget(m_start);
    column->addWidget(divider(this));
    column->addWidget(caption("CAMERA CONTROL", this, true));

    auto* recording = new QHBoxLayout;
    m_recAll = new QPushButton(Studio::symbol("record.circle", Qt::white), "REC ALL", this);
    tintRed(*m_recAll);
    m_stopAll = new QPushButton(Studio::symbol("stop.circle", palette().color(QPalette::ButtonText)), "STOP ALL", this);
    // They start and stop every camera: the keyboard reaches them only from the user.
    Keyboard::guard(*m_recAll);
    Keyboard::guard(*m_stopAll);
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
    setEnabledIfChanged(m_take, !blocks);
    setEnabledIfChanged(m_newTake, !blocks);

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

namespace {

enum EditRowRole { TimeCodeRole = Qt::UserRole + 1, TagRole, DetailRole, DetailStateRole };

constexpr int kEditRowPaddingX = 6;
constexpr int kEditRowPaddingY = 3;
constexpr int kEditRowSpacing = 9;
constexpr int kEditTagWidth = 40;

// Time code, tag and detail on one line, as the rows of the list draw them.
class EditRowDelegate final : public QStyledItemDelegate {
public:
    explicit EditRowDelegate(QObject* parent)
        : QStyledItemDelegate(parent), m_time(Theme::monospacedDigits(Studio::TextStyle::caption)),
          m_tag(Studio::font(Studio::TextStyle::caption, true)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        painter->save();
        const QRect r = option.rect.adjusted(kEditRowPaddingX, kEditRowPaddingY, -kEditRowPaddingX, -kEditRowPaddingY);
        const QString time = index.data(TimeCodeRole).toString();
        const int timeWidth = QFontMetrics(m_time).horizontalAdvance(time);
        painter->setFont(m_time);
        painter->setPen(Theme::secondary(option.palette));
        painter->drawText(QRect(r.left(), r.top(), timeWidth, r.height()), Qt::AlignLeft | Qt::AlignVCenter, time);
        const int tagLeft = r.left() + timeWidth + kEditRowSpacing;
        painter->setFont(m_tag);
        painter->setPen(option.palette.color(QPalette::Text));
        painter->drawText(QRect(tagLeft, r.top(), kEditTagWidth, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          index.data(TagRole).toString());
        const int detailLeft = tagLeft + kEditTagWidth + kEditRowSpacing;
        const QRect detail(detailLeft, r.top(), std::max(0, r.right() + 1 - detailLeft), r.height());
        painter->setFont(option.font);
        // A camera's name from a phone: drawn as the text it is, cut to one line before its state.
        painter->drawText(detail, Qt::AlignLeft | Qt::AlignVCenter,
                          elidedKeepingEnd(QFontMetrics(option.font), index.data(DetailRole).toString(),
                                           index.data(DetailStateRole).toString(), detail.width()));
        painter->restore();
        if (option.state.testFlag(QStyle::State_HasFocus)) {
            QStyleOptionFocusRect ring;
            ring.QStyleOption::operator=(option);
            ring.rect = option.rect.adjusted(1, 1, -1, -1);
            QStyle* style = option.widget ? option.widget->style() : QApplication::style();
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &ring, painter, option.widget);
        }
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const int line = std::max({QFontMetrics(m_time).height(), QFontMetrics(m_tag).height(),
                                   QFontMetrics(option.font).height()});
        // No width of its own: the list gives each row its whole width, which changes as its scroll
        // bar comes and goes, and a width asked for once would outlast it.
        return {0, line + 2 * kEditRowPaddingY};
    }

private:
    QFont m_time;
    QFont m_tag;
};

} // namespace

// The rows of the list. A new edit is a row inserted on top and a changed text one row's change;
// only a new session rebuilds the rows.
class EditDecisionsModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    // The number of rows that came on top; none when the rows were rebuilt.
    std::optional<std::size_t> setRows(std::vector<DirectorPresenters::EditRow> next) {
        const std::optional<std::size_t> added = DirectorPresenters::editRowsAddedOnTop(m_rows, next);
        if (!added) {
            beginResetModel();
            m_rows = std::move(next);
            endResetModel();
            return added;
        }
        if (*added > 0) {
            beginInsertRows({}, 0, static_cast<int>(*added) - 1);
            m_rows.insert(m_rows.begin(), next.begin(), next.begin() + static_cast<std::ptrdiff_t>(*added));
            endInsertRows();
        }
        int first = -1;
        int last = -1;
        for (std::size_t i = *added; i < next.size(); ++i) {
            if (m_rows[i] == next[i]) continue;
            m_rows[i] = std::move(next[i]);
            if (first < 0) first = static_cast<int>(i);
            last = static_cast<int>(i);
        }
        if (first >= 0) Q_EMIT dataChanged(index(first), index(last));
        return added;
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return {};
        const auto& row = m_rows[static_cast<std::size_t>(index.row())];
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole: return qs(row.accessibleText);
        case Qt::ToolTipRole: return plainToolTip(qs(row.accessibleText));
        case TimeCodeRole: return qs(row.timeCode);
        case TagRole: return qs(row.tag);
        case DetailRole: return qs(row.detail);
        case DetailStateRole: return qs(row.detailState);
        default: return {};
        }
    }

private:
    std::vector<DirectorPresenters::EditRow> m_rows;
};

EditsInspector::EditsInspector(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    auto* column = tabColumn(this, 10);
    m_heading = new InspectorHeading(DirectorPresenters::editsHeading, qs(DirectorPresenters::editsHeadingDetail(0)), this);
    column->addWidget(m_heading);
    m_empty = new CompactEmptyState("No edits yet", "timeline.selection", "Start a session, then CUT, FADE or add a marker.", this);
    column->addWidget(m_empty);
    m_model = new EditDecisionsModel(this);
    m_list = new QListView(this);
    m_list->setObjectName("editDecisions");
    m_list->setAccessibleName(DirectorPresenters::editsHeading);
    Accessibility::readAsTable(*m_list); // a show's thousands of edits are told at once
    m_list->setModel(m_model);
    m_list->setItemDelegate(new EditRowDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem); // the scroll bar counts rows
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The keyboard reads the rows one by one; a click shows no focus.
    m_list->setFocusPolicy(Qt::TabFocus);
    column->addWidget(m_list, 1);
    column->addStretch(0);
}

void EditsInspector::refresh() {
    const LiveEditTimeline& timeline = m_window.workspace().timeline;
    DirectorPresenters::EditRowsSource source = DirectorPresenters::editRowsSource(timeline, m_window.cameras(), m_window.now());
    if (source == m_rowsMadeOf) return;
    m_rowsMadeOf = std::move(source);
    auto rows = DirectorPresenters::editRows(timeline, m_window.cameras(), m_window.now());
    m_heading->setDetail(qs(DirectorPresenters::editsHeadingDetail(rows.size())));
    m_empty->setVisible(rows.empty());
    m_list->setVisible(!rows.empty());
    const QScrollBar& scroll = *m_list->verticalScrollBar();
    const QModelIndex current = m_list->currentIndex();
    const DirectorPresenters::EditListPlace place{scroll.value() == scroll.minimum(), scroll.value(),
                                                  current.isValid() ? std::optional(current.row()) : std::nullopt};
    const std::optional<std::size_t> added = m_model->setRows(std::move(rows));
    if (added && *added > 0) showPlace(DirectorPresenters::editListPlaceAfterRowsOnTop(place, *added));
}

void EditsInspector::showPlace(const DirectorPresenters::EditListPlace& place) {
    m_list->doItemsLayout(); // the scroll bar's range takes the new rows now rather than at the next paint
    m_list->verticalScrollBar()->setValue(place.firstShownRow);
    if (place.currentRow && m_list->currentIndex().row() != *place.currentRow)
        m_list->selectionModel()->setCurrentIndex(m_model->index(*place.currentRow), QItemSelectionModel::NoUpdate);
}

// --- Audio ---

AudioInspector::AudioInspector(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    auto* column = tabColumn(this, 10);
    column->addWidget(new InspectorHeading(DirectorPresenters::audioHeading, "Live meters \u2022 samples not available", this));
    auto* scroll = transparentScrollArea(this, "audioChannels", Name::audioMeters);
    readWithItsPage(*scroll); // each level is spoken once, as the focus comes into the page
    m_scroll = scroll;
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
    m_orientationIcon->setObjectName("orientationSymbol");
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
    Keyboard::guard(*m_recCamera);
    Keyboard::guard(*m_stopCamera);
    recording->addWidget(m_recCamera);
    recording->addWidget(m_stopCamera);
    recording->addStretch(1);
    column->addLayout(recording);

    auto* scroll = transparentScrollArea(this, "cameraDesk", Name::cameraDesk);
    readWithItsPage(*scroll); // each value is spoken once, as the focus comes into the page
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
    m_policy->setObjectName("policyPicker");
    m_policy->setAccessibleName(Name::policy);
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
    if (m_window.liveProductionControlsVisible()) addLiveProductionControls(*box, network);
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

// The toggle and the frame-rate picker, bound to their settings; the picker waits for the toggle.
void CameraInspector::addLiveProductionControls(QVBoxLayout& box, QWidget* parent) {
    m_liveProduction = new QCheckBox(DirectorPresenters::liveProductionToggleTitle, parent);
    m_liveProduction->setObjectName("liveProductionToggle");
    box.addWidget(m_liveProduction);
    auto* row = new QHBoxLayout;
    auto* label = caption(DirectorPresenters::liveProductionFPSLabel, parent);
    m_liveProductionFPS = new QComboBox(parent);
    m_liveProductionFPS->setObjectName("liveProductionFPS");
    m_liveProductionFPS->setAccessibleName(DirectorPresenters::liveProductionFPSLabel);
    label->setBuddy(m_liveProductionFPS);
    for (const std::int64_t fps : LiveProductionProfile::allowedFPS)
        m_liveProductionFPS->addItem(qs(DirectorPresenters::fpsOptionTitle(fps)), QVariant::fromValue<qlonglong>(fps));
    row->addWidget(label);
    row->addStretch(1);
    row->addWidget(m_liveProductionFPS);
    box.addLayout(row);
    connect(m_liveProduction, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_updating) m_window.setLiveProductionEnabled(on);
    });
    connect(m_liveProductionFPS, &QComboBox::activated, this, [this](int index) {
        if (!m_updating) m_window.setLiveProductionFPS(m_liveProductionFPS->itemData(index).toLongLong());
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

    const DirectorRules::CameraNameText previewName = DirectorRules::cameraNameText(previewID, m_window.cameras(), now);
    m_heading->setTitle(qs(previewName.text()), qs(previewName.state));
    const auto label = DirectorPresenters::orientationLabel(selected);
    if (m_orientationText->text() != qs(label.text)) {
        m_orientationText->setText(qs(label.text));
        // At the size its drawing is made for, where its strokes fall on whole pixels: smaller, they
        // are spread over two at half strength, a blur.
        m_orientationIcon->setPixmap(Studio::symbol(label.icon, palette().color(QPalette::WindowText)).pixmap(16, 16));
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
    for (std::size_t i = 0; i < m_rows.size(); ++i) m_rows[i]->setValue(qs(values[i]), qs(previewName.text()));
    if (m_liveProduction) {
        const bool enabled = m_window.liveProductionEnabled();
        if (m_liveProduction->isChecked() != enabled) m_liveProduction->setChecked(enabled);
        setEnabledIfChanged(m_liveProductionFPS, enabled);
        const int fpsIndex = m_liveProductionFPS->findData(QVariant::fromValue<qlonglong>(m_window.liveProductionFPS()));
        if (m_liveProductionFPS->currentIndex() != fpsIndex) m_liveProductionFPS->setCurrentIndex(fpsIndex);
    }
    m_updating = false;
}

// --- The tab bar ---

namespace {

constexpr int kTabIconSize = 13;
constexpr int kTabPaddingX = 6;
constexpr int kTabPaddingY = 3;
constexpr int kTabIconGap = 4;

} // namespace

InspectorTabBar::InspectorTabBar(QWidget* parent) : QTabBar(parent) {
    setObjectName("inspectorTabs");
    setAccessibleName(DirectorPresenters::AccessibleName::inspector);
    setExpanding(true);
    setDrawBase(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setIconSize(QSize(kTabIconSize, kTabIconSize));
    // Tab and the arrow keys reach it; a click shows no focus ring.
    setFocusPolicy(Qt::TabFocus);
}

// Every segment as wide as the widest, so the control divides evenly.
QSize InspectorTabBar::tabSizeHint(int) const {
    const QFontMetrics metrics = fontMetrics();
    int widest = 0;
    for (int i = 0; i < count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(tabText(i)));
    return {2 * kTabPaddingX + kTabIconSize + kTabIconGap + widest + 2,
            std::max(metrics.height(), kTabIconSize) + 2 * kTabPaddingY + 2};
}

QSize InspectorTabBar::minimumTabSizeHint(int index) const { return tabSizeHint(index); }

void InspectorTabBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    const QColor text = pal.color(QPalette::ButtonText);
    for (int i = 0; i < count(); ++i) {
        const QRect tab = tabRect(i);
        painter.fillRect(tab, QColor(255, 255, 255, i == currentIndex() ? 46 : 10));
        painter.setPen(QColor(255, 255, 255, 30));
        painter.drawRect(tab.adjusted(0, 0, -1, -1));
        const int textWidth = fontMetrics().horizontalAdvance(tabText(i));
        const int contentWidth = kTabIconSize + kTabIconGap + textWidth;
        const int left = tab.left() + (tab.width() - contentWidth) / 2;
        const QRect icon(left, tab.center().y() - kTabIconSize / 2, kTabIconSize, kTabIconSize);
        tabIcon(i).paint(&painter, icon);
        painter.setPen(text);
        painter.drawText(QRect(icon.right() + 1 + kTabIconGap, tab.top(), textWidth + 1, tab.height()),
                         Qt::AlignVCenter | Qt::AlignLeft, tabText(i));
    }
    if (hasFocus() && currentIndex() >= 0) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Theme::accent(), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(tabRect(currentIndex())).adjusted(1.5, 1.5, -1.5, -1.5), 3, 3);
    }
}

// --- The column ---

DirectorInspector::DirectorInspector(DirectorWindow& window, QWidget* parent) : QWidget(parent), m_window(window) {
    setFixedWidth(340);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_tabs = new InspectorTabBar(this);
    const char* icons[] = {"slider.horizontal.3", "waveform", "camera.aperture", "list.bullet.rectangle"};
    int i = 0;
    for (auto tab : allDirectorInspectorTabs)
        m_tabs->addTab(Studio::symbol(icons[i++], palette().color(QPalette::ButtonText)), qs(rawValue(tab)));
    auto* picker = new QHBoxLayout;
    picker->setContentsMargins(10, 10, 10, 10);
    picker->addWidget(m_tabs);
    column->addLayout(picker);
    column->addWidget(divider(this));
    m_stack = new QStackedWidget(this);
    m_session = new SessionInspector(window, m_stack);
    m_audio = new AudioInspector(window, m_stack);
    m_camera = new CameraInspector(window, m_stack);
    m_edits = new EditsInspector(window, m_stack);
    // Each page is named as its tab, so assistive tools speak the page that shows by that name.
    i = 0;
    for (QWidget* page : {static_cast<QWidget*>(m_session), static_cast<QWidget*>(m_audio),
                          static_cast<QWidget*>(m_camera), static_cast<QWidget*>(m_edits)}) {
        page->setAccessibleName(qs(rawValue(allDirectorInspectorTabs[i++])));
        m_stack->addWidget(page);
    }
    column->addWidget(m_stack, 1);
    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0 && index != static_cast<int>(m_window.workspace().inspectorTab))
            m_window.setInspectorTab(allDirectorInspectorTabs[index]);
    });
    // Wherever the keyboard is in the inspector, Ctrl+Tab and Ctrl+Page Down show the next tab and
    // Ctrl+Shift+Tab and Ctrl+Page Up the one before, round, as in a tab widget. The user chose the
    // tab: the keyboard goes to the tab bar, before the page it was on hides.
    const auto showTab = [this](int step) {
        const int count = static_cast<int>(std::size(allDirectorInspectorTabs));
        const int index = (static_cast<int>(m_window.workspace().inspectorTab) + step + count) % count;
        m_tabs->setFocus(Qt::ShortcutFocusReason);
        m_window.setInspectorTab(allDirectorInspectorTabs[index]);
    };
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
    };
    for (const auto& [sequence, step] : keys) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [showTab, step] { showTab(step); });
    }
}

void DirectorInspector::refresh() {
    const int index = static_cast<int>(m_window.workspace().inspectorTab);
    if (m_tabs->currentIndex() != index) m_tabs->setCurrentIndex(index);
    // The keyboard leaves the page that hides by the window's rule (app/keyboard_keeper).
    if (m_stack->currentIndex() != index) m_stack->setCurrentIndex(index);
    switch (m_window.workspace().inspectorTab) {
    case DirectorInspectorTab::session: m_session->refresh(); break;
    case DirectorInspectorTab::audio: m_audio->refresh(); break;
    case DirectorInspectorTab::camera: m_camera->refresh(); break;
    case DirectorInspectorTab::edits: m_edits->refresh(); break;
    }
}

int DirectorInspector::currentTabIndex() const { return m_tabs->currentIndex(); }

void DirectorInspector::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Theme::cardOutline(), 1));
    painter.setBrush(Theme::material(palette()));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 13, 13);
}

} // namespace velk

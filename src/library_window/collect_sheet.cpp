#include "library_window/collect_sheet.hpp"

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/keyboard_keeper.hpp"
#include "app/theme.hpp"
#include "base/qt_text.hpp"
#include "discovery/lan_discovery.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "library_window/collect_presenter.hpp"
#include "library_window/library_commands.hpp"
#include "library_window/library_style.hpp"
#include "library_window/library_texts.hpp"
#include "library_window/view_kit.hpp"
#include "store/app_store.hpp"

namespace velk::library {

namespace T = library_text;

namespace {


// No button of the sheet answers Return: the code field must never press one.
QPushButton* button(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")), parent);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QLabel* heading(const char* text, QWidget* parent) {
    return styledLabel(qs(text), TextStyle::caption, true, Tint::secondary, parent);
}

// Set on a rebuilt section's old widgets, which stay until the event loop deletes them.
constexpr const char* staleProperty = "velkStale";

// Takes every widget out of a layout (and its inner layouts), marked as stale but still shown.
std::vector<QWidget*> takeWidgets(QLayout* layout) {
    std::vector<QWidget*> taken;
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->setProperty(staleProperty, true);
            for (QWidget* inner : widget->findChildren<QWidget*>()) inner->setProperty(staleProperty, true);
            taken.push_back(widget);
        } else if (QLayout* child = item->layout()) {
            const auto inner = takeWidgets(child);
            taken.insert(taken.end(), inner.begin(), inner.end());
        }
        delete item;
    }
    return taken;
}

void discard(const std::vector<QWidget*>& widgets) {
    for (QWidget* widget : widgets) {
        widget->hide();
        widget->deleteLater();
    }
}

void clearLayout(QLayout* layout) { discard(takeWidgets(layout)); }

// A rebuilt section keeps the keyboard focus on the control that stands for the same thing as the
// one that had it (the same source, session or button), so acting on a control by keyboard does
// not send the focus elsewhere. The old widgets go only once the new ones are there.
class FocusKeeper {
public:
    explicit FocusKeeper(QWidget* section) {
        if (QWidget* focus = section->window()->focusWidget(); focus && section->isAncestorOf(focus)) {
            m_key = focus->property(keyProperty).toString();
            m_from = focus;
        }
    }
    void mark(QWidget* widget, const QString& key) {
        widget->setProperty(keyProperty, key);
        if (!m_key.isEmpty() && key == m_key && widget->isEnabled()) m_successor = widget;
    }
    void finish(const std::vector<QWidget*>& old) {
        if (m_successor) {
            m_successor->show();
            if (m_from) Keyboard::handOn(*m_from, *m_successor);
        }
        discard(old);
    }

private:
    static constexpr const char* keyProperty = "velkFocusKey";
    QString m_key;
    QPointer<QWidget> m_from;
    QWidget* m_successor = nullptr;
};

QWidget* section(QWidget* parent) {
    auto* widget = new QWidget(parent);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    return widget;
}

// A card-like push button whose face is laid out by the caller; its labels let clicks through.
// A source card is checked while it is the chosen source, which only the sheet decides: a click
// chooses, it does not toggle. The arrow keys go to `arrowed` when it is set (-1 for Left and Up,
// +1 for Right and Down), as they do among radio buttons, rather than moving the focus on.
class CardButton final : public QPushButton {
public:
    using QPushButton::QPushButton;
    std::function<void(int step)> arrowed;

protected:
    void nextCheckState() override {}
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        const int step = key == Qt::Key_Left || key == Qt::Key_Up ? -1 : key == Qt::Key_Right || key == Qt::Key_Down ? 1 : 0;
        if (!arrowed || step == 0 || event->modifiers() & ~Qt::KeypadModifier) return QPushButton::keyPressEvent(event);
        arrowed(step);
    }
};

// A card as assistive tools meet it. A source card is one choice of several, which the sheet
// alone checks: a radio button, so that a user hears that choosing one leaves the other. A camera
// card is a button. Either is pressed as a click is. The labels of its face are its name and
// description, and no children of its own: a screen reader reading out the labels of the group
// around it would read each card's again.
class CardAccessible final : public QAccessibleWidget {
public:
    explicit CardAccessible(QAbstractButton* card) : QAccessibleWidget(card, QAccessible::Button) {}

    QAccessible::Role role() const override {
        return card()->isCheckable() ? QAccessible::RadioButton : QAccessible::Button;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = card()->isCheckable();
        state.checked = card()->isChecked();
        return state;
    }
    QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }
    void doAction(const QString& name) override {
        if (name == pressAction()) card()->click();
        else QAccessibleWidget::doAction(name);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == pressAction()) return {QKeySequence(Qt::Key_Space).toString()};
        return QAccessibleWidget::keyBindingsForAction(name);
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

private:
    QAbstractButton* card() const { return static_cast<QAbstractButton*>(widget()); }
};

// A card's face, with the focus ring that the style sheet's border stands in for: the tint's, as
// the style's ring.
QString cardStyleSheet(const QString& face) {
    return face + QStringLiteral(" QPushButton#card:focus { border: 2px solid %1; }").arg(Theme::accent().name());
}

CardButton* cardButton(QWidget* parent, const QString& style) {
    auto* card = new CardButton(parent);
    Accessibility::presentAs(*card, [](QWidget* widget) -> QAccessibleInterface* {
        return new CardAccessible(static_cast<QAbstractButton*>(widget));
    });
    card->setAutoDefault(false);
    card->setObjectName(QStringLiteral("card"));
    card->setStyleSheet(cardStyleSheet(style));
    card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return card;
}

void passClicks(QWidget* face) {
    for (QWidget* child : face->findChildren<QWidget*>()) child->setAttribute(Qt::WA_TransparentForMouseEvents);
}


} // namespace

CollectSheet::CollectSheet(CollectSheetServices services, PairingInputs& inputs, QWidget* parent)
    : QDialog(parent), m_services(std::move(services)), m_inputs(inputs) {
    setWindowTitle(qs(T::collectTitle));
    setWindowModality(Qt::WindowModal);
    setFixedSize(760, 720);
    createWidgets();
    connectServices();
    refresh();
}

void CollectSheet::createWidgets() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(22, 22, 22, 22);
    outer->setSpacing(14);

    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    titles->addWidget(styledLabel(qs(T::collectTitle), TextStyle::title2, true, Tint::primary, this));
    titles->addWidget(styledLabel(qs(T::collectSubtitle), TextStyle::caption, false, Tint::secondary, this));
    header->addLayout(titles, 1);
    auto* scanAgain = button(qs(T::scanAgain), this);
    scanAgain->setObjectName(QStringLiteral("scanAgain"));
    scanAgain->setIcon(symbolIcon("arrow.clockwise", Tint::primary));
    connect(scanAgain, &QPushButton::clicked, this, [this] { m_services.commands->restartSourceBrowsing(); });
    header->addWidget(scanAgain, 0, Qt::AlignTop);
    outer->addLayout(header);
    m_scanAgain = scanAgain;

    // Many sessions and sources scroll between the pinned header and bottom bar.
    auto* scroll = new QScrollArea(this);
    // Tab goes to the controls inside (and scrolls them into view), not to the scroll area.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 6, 0);
    layout->setSpacing(14);

    m_requireSecure = new QCheckBox(qs(T::requireSecure), content);
    m_requireSecure->setToolTip(qs(T::requireSecureHelp));
    m_requireSecure->setChecked(requireSecureProjectTransfer(m_services.settings));
    connect(m_requireSecure, &QCheckBox::toggled, this, [this](bool on) {
        setRequireSecureProjectTransfer(m_services.settings, on);
        refresh();
    });
    layout->addWidget(m_requireSecure);
    m_sessions = section(content);
    layout->addWidget(m_sessions);
    m_collectStatus = section(content);
    layout->addWidget(m_collectStatus);
    layout->addWidget(heading(T::camerasInTransferMode, content));
    m_sources = section(content);
    layout->addWidget(m_sources);

    m_pairingPanel = new QWidget(content);
    auto* pairingOuter = new QVBoxLayout(m_pairingPanel);
    pairingOuter->setContentsMargins(0, 0, 0, 0);
    pairingOuter->setSpacing(14);
    pairingOuter->addWidget(divider(m_pairingPanel));
    auto* panel = new QFrame(m_pairingPanel);
    panel->setObjectName(QStringLiteral("pairingCard"));
    // On the material, as the other cards: the text field colour is the inside of its box and field.
    panel->setStyleSheet(QStringLiteral("QFrame#pairingCard { background: %1; border-radius: 12px; }")
                             .arg(Theme::material(palette()).name()));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(12, 12, 12, 12);
    panelLayout->setSpacing(10);
    panelLayout->addWidget(heading(T::verifyOnBoth, panel));
    m_fingerprintText = new QLabel(panel);
    m_fingerprintText->setObjectName(QStringLiteral("fingerprint"));
    m_fingerprintText->setTextFormat(Qt::PlainText);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(library::font(TextStyle::body).pointSizeF());
    mono.setWeight(QFont::DemiBold);
    m_fingerprintText->setFont(mono);
    m_fingerprintText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    panelLayout->addWidget(m_fingerprintText);
    m_fingerprint = new QCheckBox(qs(T::fingerprintMatches), panel);
    connect(m_fingerprint, &QCheckBox::toggled, this, [this](bool on) {
        m_inputs.fingerprintConfirmed = on;
        refresh();
    });
    panelLayout->addWidget(m_fingerprint);
    m_code = new QLineEdit(panel);
    m_code->setObjectName(QStringLiteral("pairingCode"));
    m_code->setEchoMode(QLineEdit::Password);
    m_code->setPlaceholderText(qs(T::codePlaceholder));
    m_code->setAccessibleName(qs(T::codeFieldName));
    connect(m_code, &QLineEdit::textEdited, this, [this](const QString& typed) {
        m_inputs.code = filteredPairingCode(typed.toStdString());
        const QString kept = QString::fromStdString(m_inputs.code);
        if (kept != typed) m_code->setText(kept);
        refresh();
    });
    panelLayout->addWidget(m_code);
    auto* note = styledLabel(qs(T::codeNote), TextStyle::caption, false, Tint::secondary, panel);
    note->setWordWrap(true);
    panelLayout->addWidget(note);
    pairingOuter->addWidget(panel);
    layout->addWidget(m_pairingPanel);
    layout->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new SymbolLabel(qs(T::collectFooter), "lock.fill", Tint::secondary, TextStyle::caption, this));
    bottom->addStretch(1);
    m_close = button(qs(T::close), this);
    m_close->setObjectName(QStringLiteral("close"));
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    bottom->addWidget(m_close);
    m_primary = button({}, this);
    Theme::setProminent(*m_primary);
    m_primary->setObjectName(QStringLiteral("primary"));
    connect(m_primary, &QPushButton::clicked, this, &CollectSheet::runPrimaryAction);
    bottom->addWidget(m_primary);
    outer->addLayout(bottom);
}

void CollectSheet::connectServices() {
    AppStore& store = m_services.store;
    for (auto signal : {&AppStore::transferSessionsChanged, &AppStore::collectSourcesChanged, &AppStore::isBusyChanged}) {
        connect(&store, signal, this, &CollectSheet::refresh);
    }
    connect(&m_services.discovery, &LANDiscovery::devicesChanged, this, &CollectSheet::refresh);
    LiveCameraDiscovery* live = &m_services.liveDiscovery;
    connect(live, &LiveCameraDiscovery::camerasChanged, this, &CollectSheet::refresh);
    connect(live, &LiveCameraDiscovery::livenessTickChanged, this, &CollectSheet::refresh);
    connect(live, &LiveCameraDiscovery::transferModeRequestChanged, this, &CollectSheet::refresh);
}

void CollectSheet::refresh() {
    rebuildSessions();
    rebuildCollectStatus();
    rebuildSources();
    showChosenSource();

    const auto listed = transferDevices(m_services.discovery.devices());
    const auto selected = selectedDevice(listed, m_inputs.deviceID);
    CollectInputs inputs{selected ? &*selected : nullptr, m_requireSecure->isChecked(), m_services.store.isBusy(),
                         m_inputs.fingerprintConfirmed, m_inputs.code};
    m_pairingPanel->setVisible(showsPairingPanel(inputs));
    if (selected) {
        // The box tells the fingerprint it asks about; set only when it changes, as the sheet
        // refreshes at every liveness tick and each setting is told to assistive tools.
        const QString fingerprint = QString::fromStdString(fingerprintToCompare(*selected));
        if (m_fingerprintText->text() != fingerprint) {
            m_fingerprintText->setText(fingerprint);
            m_fingerprint->setAccessibleDescription(fingerprint);
        }
    }
    if (m_fingerprint->isChecked() != m_inputs.fingerprintConfirmed) {
        const QSignalBlocker block(m_fingerprint);
        m_fingerprint->setChecked(m_inputs.fingerprintConfirmed);
    }
    if (m_code->text().toStdString() != m_inputs.code) m_code->setText(QString::fromStdString(m_inputs.code));
    m_primary->setText(buttonText(primaryTitle(inputs)));
    setPrimaryEnabled(primaryEnabled(inputs));
    orderTabChain();
}

// The primary button disabled while it has the keyboard (as the pairing it started runs) has it
// again once enabled, unless the user moved it meanwhile: the keyboard's rule (app/keyboard_keeper)
// gives it back to the control the user last chose, also after the pairing's alert is answered.
void CollectSheet::setPrimaryEnabled(bool enabled) {
    if (enabled == m_primary->isEnabled()) return;
    m_primary->setEnabled(enabled);
    if (enabled) Keyboard::settle(*this);
}

// Reading order: the header, the setting, the sessions, the sources or cameras, the pairing
// panel, the bottom bar. Rebuilt sections would otherwise come after the bottom bar.
void CollectSheet::orderTabChain() {
    std::vector<QWidget*> chain{m_scanAgain, m_requireSecure};
    for (QWidget* section : {m_sessions, m_sources}) {
        for (QPushButton* button : section->findChildren<QPushButton*>()) {
            if (!button->property(staleProperty).toBool()) chain.push_back(button);
        }
    }
    chain.insert(chain.end(), {m_fingerprint, m_code, m_close, m_primary});
    Accessibility::setTabChain(chain);
}

void CollectSheet::rebuildSessions() {
    const auto& sessions = m_services.store.transferSessions();
    std::string key = m_services.store.isBusy() ? "busy" : "idle";
    for (const auto& session : sessions) {
        key += "|" + session.deviceId + session.deviceName + std::to_string(toWallMs(session.expiresAt)) +
               (session.openAccess ? "o" : "p");
    }
    if (key == m_sessionsKey) return;
    m_sessionsKey = key;
    auto* layout = static_cast<QVBoxLayout*>(m_sessions->layout());
    FocusKeeper focus(m_sessions);
    const std::vector<QWidget*> old = takeWidgets(layout);
    m_sessions->setVisible(!sessions.empty());
    if (sessions.empty()) {
        focus.finish(old);
        return;
    }
    layout->setSpacing(8);
    layout->addWidget(heading(T::activeSessions, m_sessions));
    for (const auto& session : sessions) {
        auto* row = new QFrame(m_sessions);
        row->setObjectName(QStringLiteral("sessionRow"));
        const QColor green = tintColor(Tint::green);
        row->setStyleSheet(QStringLiteral("QFrame#sessionRow { background: rgba(%1,%2,%3,20); border-radius: 10px; }")
                               .arg(green.red()).arg(green.green()).arg(green.blue()));
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(10, 10, 10, 10);
        auto* icon = new QLabel(row);
        icon->setPixmap(symbolPixmap(session.openAccess ? "network" : "lock.shield.fill", Tint::green, 20));
        rowLayout->addWidget(icon);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        const QString deviceName = QString::fromStdString(session.deviceName);
        texts->addWidget(elidedLabel(deviceName, TextStyle::headline, true, Tint::primary, row));
        row->setToolTip(plainToolTip(deviceName));
        texts->addWidget(styledLabel(qs(sessionLine(session, shortTime(session.expiresAt).toStdString())),
                                     TextStyle::caption, false, Tint::secondary, row));
        rowLayout->addLayout(texts, 1);
        auto* returnButton = button(qs(T::returnToCamera), row);
        Keyboard::guard(*returnButton);
        returnButton->setAccessibleDescription(QString::fromStdString(session.deviceName));
        focus.mark(returnButton, QStringLiteral("session:") + QString::fromStdString(session.deviceId));
        connect(returnButton, &QPushButton::clicked, this,
                [this, id = session.deviceId] { m_services.commands->endTransferSession(id); });
        rowLayout->addWidget(returnButton);
        layout->addWidget(row);
    }
    auto* allRow = new QHBoxLayout;
    allRow->addStretch(1);
    auto* returnAll = button(qs(T::returnAllToCamera), m_sessions);
    returnAll->setObjectName(QStringLiteral("returnAll"));
    Keyboard::guard(*returnAll);
    returnAll->setEnabled(!m_services.store.isBusy());
    connect(returnAll, &QPushButton::clicked, this, [this] {
        if (!m_services.store.isBusy()) m_services.commands->endAllTransferSessions();
    });
    focus.mark(returnAll, QStringLiteral("returnAll"));
    allRow->addWidget(returnAll);
    layout->addLayout(allRow);
    focus.finish(old);
}

void CollectSheet::rebuildCollectStatus() {
    const auto& sources = m_services.store.collectSources();
    std::string key;
    for (const auto& s : sources) {
        key += "|" + s.deviceID + s.name + std::string(rawValue(s.phase)) + std::to_string(s.completedBytes) + "/" +
               std::to_string(s.totalBytes) + s.message;
    }
    if (key == m_collectKey && !key.empty()) return;
    m_collectKey = key;
    auto* layout = static_cast<QVBoxLayout*>(m_collectStatus->layout());
    clearLayout(layout);
    m_collectStatus->setVisible(!sources.empty());
    if (sources.empty()) return;
    layout->setSpacing(6);
    layout->addWidget(heading(T::collectStatus, m_collectStatus));
    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const auto& status = sources[i];
        auto* card = new QFrame(m_collectStatus);
        card->setObjectName(QStringLiteral("collectCard"));
        card->setStyleSheet(QStringLiteral("QFrame#collectCard { background: rgba(128,128,128,15); border-radius: 8px; }"));
        auto* cardLayout = new QVBoxLayout(card);
        cardLayout->setContentsMargins(7, 7, 7, 7);
        cardLayout->setSpacing(3);
        auto* line = new QHBoxLayout;
        const QString sourceName = QString::fromStdString(status.name);
        line->addWidget(elidedLabel(sourceName, TextStyle::caption, true, Tint::primary, card), 1);
        line->addWidget(styledLabel(qs(rawValue(status.phase)), TextStyle::caption2, false, Tint::primary, card));
        cardLayout->addLayout(line);
        if (status.totalBytes > 0) {
            auto* bar = new QProgressBar(card);
            bar->setRange(0, 1000);
            bar->setValue(static_cast<int>(status.progress() * 1000));
            bar->setTextVisible(false);
            bar->setFixedHeight(6);
            cardLayout->addWidget(bar);
        }
        // At most two lines of the message; the card's tooltip holds the whole of it.
        const QString messageText = QString::fromStdString(status.message);
        auto* message = new TwoLineLabel(card);
        message->setText(messageText);
        message->setFont(library::font(TextStyle::caption2));
        setLabelTint(message, collectMessageTint(status));
        cardLayout->addWidget(message);
        card->setToolTip(plainToolTip(messageText.isEmpty() ? sourceName : sourceName + QLatin1Char('\n') + messageText));
        grid->addWidget(card, static_cast<int>(i / 2), static_cast<int>(i % 2));
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
}

void CollectSheet::rebuildSources() {
    const WallTime now = m_services.clock.now();
    const auto listed = transferDevices(m_services.discovery.devices());
    const bool busy = m_services.store.isBusy();
    const bool requireSecure = m_requireSecure->isChecked();
    const auto cameras = collectLiveCameras(m_services.liveDiscovery.cameras(), now);
    const auto& request = m_services.liveDiscovery.transferModeRequest();

    std::string key = std::string(busy ? "b" : "i") + (requireSecure ? "s" : "o");
    for (const auto& device : listed) key += "|" + device.id();
    key += "#";
    if (listed.empty()) {
        for (const auto& camera : cameras) key += "|" + camera.id + camera.name + (cameraCardEnabled(camera, now) ? "1" : "0");
        if (request) key += "#" + request->message + (request->isFailure ? "!" : "");
    }
    if (key == m_sourcesKey) return;
    m_sourcesKey = key;

    auto* layout = static_cast<QVBoxLayout*>(m_sources->layout());
    FocusKeeper focus(m_sources);
    const std::vector<QWidget*> old = takeWidgets(layout);
    m_sourceCards.clear();
    if (!listed.empty()) {
        layout->setSpacing(8);
        auto* top = new QHBoxLayout;
        top->addWidget(styledLabel(qs(T::upToEight), TextStyle::caption, false, Tint::secondary, m_sources));
        top->addStretch(1);
        auto* loadAll = button(qs(T::loadAllOpen), m_sources);
        Theme::setProminent(*loadAll);
        loadAll->setObjectName(QStringLiteral("loadAll"));
        loadAll->setEnabled(loadAllOpenEnabled(listed, busy, requireSecure));
        focus.mark(loadAll, QStringLiteral("loadAll"));
        connect(loadAll, &QPushButton::clicked, this, &CollectSheet::loadAllOpenSources);
        top->addWidget(loadAll);
        layout->addLayout(top);
        // The source cards are one choice, in a group that a screen reader names as their heading:
        // Tab reaches one of them, and the arrow keys choose among them.
        auto* group = new QWidget(m_sources);
        Accessibility::presentAs(*group, [](QWidget* widget) -> QAccessibleInterface* {
            return new QAccessibleWidget(widget, QAccessible::Grouping);
        });
        group->setAccessibleName(qs(T::camerasInTransferMode));
        auto* grid = new QGridLayout(group);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setSpacing(8);
        std::vector<SourceCard> views;
        for (const auto& device : listed) views.push_back(sourceCard(device, m_inputs.deviceID));
        std::vector<CardButton*> cards;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const SourceCard& view = views[i];
            auto* card = cardButton(group, {});
            card->setAccessibleName(QString::fromStdString(view.title));
            card->setCheckable(true);
            auto* face = new QHBoxLayout(card);
            face->setContentsMargins(10, 10, 10, 10);
            face->setSpacing(11);
            auto* icon = new QLabel(card);
            icon->setPixmap(symbolPixmap(view.symbol, view.tint, 22));
            face->addWidget(icon);
            auto* texts = new QVBoxLayout;
            texts->setSpacing(3);
            const QString title = QString::fromStdString(view.title);
            texts->addWidget(elidedLabel(title, TextStyle::headline, true, Tint::primary, card));
            card->setToolTip(plainToolTip(title));
            texts->addWidget(styledLabel(qs(view.capability), TextStyle::caption, false, Tint::secondary, card));
            face->addLayout(texts, 1);
            auto* check = new QLabel(card);
            check->setPixmap(symbolPixmap("checkmark.circle.fill", Tint::green, 18));
            face->addWidget(check);
            card->setMinimumHeight(face->sizeHint().height());
            passClicks(card);
            card->setEnabled(view.enabled);
            focus.mark(card, QStringLiteral("source:") + QString::fromStdString(listed[i].id()));
            connect(card, &QPushButton::clicked, this, [this, id = listed[i].id()] { chooseSource(id); });
            grid->addWidget(card, static_cast<int>(i / 2), static_cast<int>(i % 2));
            cards.push_back(card);
            m_sourceCards.push_back({card, check, listed[i].id()});
        }
        // An arrow key chooses the next card, which takes the focus.
        for (std::size_t i = 0; i < cards.size(); ++i) {
            cards[i]->arrowed = [views, i, to = std::vector<QPointer<CardButton>>(cards.begin(), cards.end())](int step) {
                const std::optional<std::size_t> next = sourceCardAfterArrow(views, i, step);
                if (!next || !to[*next]) return;
                to[*next]->setFocus(Qt::OtherFocusReason);
                to[*next]->click();
            };
        }
        grid->setColumnStretch(0, 1);
        grid->setColumnStretch(1, 1);
        layout->addWidget(group);
        showChosenSource();
        focus.finish(old);
        return;
    }

    layout->setSpacing(10);
    layout->setContentsMargins(0, 6, 0, 6);
    auto* scanning = new QHBoxLayout;
    scanning->setSpacing(10);
    auto* spinner = new QProgressBar(m_sources);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(36, 8);
    scanning->addWidget(spinner);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(styledLabel(qs(T::scanning), TextStyle::body, false, Tint::primary, m_sources));
    texts->addWidget(styledLabel(qs(cameras.empty() ? T::scanningWithout : T::scanningWithCameras), TextStyle::caption,
                                 false, Tint::secondary, m_sources));
    scanning->addLayout(texts, 1);
    layout->addLayout(scanning);
    if (!cameras.empty()) {
        auto* grid = new QGridLayout;
        grid->setSpacing(8);
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            const LiveCamera& camera = cameras[i];
            auto* card = cardButton(m_sources, {});
            card->setAccessibleName(QString::fromStdString(camera.name));
            card->setAccessibleDescription(qs(T::askToShare));
            auto* face = new QHBoxLayout(card);
            face->setContentsMargins(9, 9, 9, 9);
            face->setSpacing(8);
            auto* icon = new QLabel(card);
            icon->setPixmap(symbolPixmap("iphone.gen3.radiowaves.left.and.right", Tint::green, 22));
            face->addWidget(icon);
            auto* names = new QVBoxLayout;
            names->setSpacing(1);
            const QString cameraName = QString::fromStdString(camera.name);
            names->addWidget(elidedLabel(cameraName, TextStyle::callout, true, Tint::primary, card));
            card->setToolTip(plainToolTip(cameraName));
            names->addWidget(styledLabel(qs(T::askToShare), TextStyle::caption2, false, Tint::secondary, card));
            face->addLayout(names, 1);
            card->setMinimumHeight(face->sizeHint().height());
            passClicks(card);
            card->setEnabled(cameraCardEnabled(camera, now));
            focus.mark(card, QStringLiteral("camera:") + QString::fromStdString(camera.id));
            connect(card, &QPushButton::clicked, this, [this, id = camera.id] {
                // The card is rebuilt only when what it shows changes, so the camera is looked up
                // again: the request goes with its latest report, and only while it still may.
                const WallTime clicked = m_services.clock.now();
                for (const LiveCamera& current : collectLiveCameras(m_services.liveDiscovery.cameras(), clicked)) {
                    if (current.id != id) continue;
                    if (!cameraCardEnabled(current, clicked)) return;
                    m_services.commands->requestTransferMode(current);
                    m_services.commands->restartSourceBrowsing();
                    return;
                }
            });
            grid->addWidget(card, static_cast<int>(i / 4), static_cast<int>(i % 4));
        }
        for (int column = 0; column < 4; ++column) grid->setColumnStretch(column, 1);
        layout->addLayout(grid);
    }
    if (request) {
        auto* label = new SymbolLabel(QString::fromStdString(request->message),
                                      request->isFailure ? "exclamationmark.triangle.fill" : "hand.tap.fill",
                                      request->isFailure ? Tint::orange : Tint::green, TextStyle::caption, m_sources);
        label->setObjectName(QStringLiteral("transferRequest"));
        layout->addWidget(label);
    }
    focus.finish(old);
}

// Shows which source card is chosen, on the cards as they are: its tint, check mark and checked
// state, the one card Tab reaches, and each card's place among them.
void CollectSheet::showChosenSource() {
    if (m_sourceCards.empty()) return;
    const auto listed = transferDevices(m_services.discovery.devices());
    std::vector<SourceCard> views;
    for (const SourceCardWidgets& shown : m_sourceCards) {
        const auto device = std::find_if(listed.begin(), listed.end(), [&](const auto& d) { return d.id() == shown.id; });
        if (device == listed.end()) return; // the next rebuild shows the sources as they are
        views.push_back(sourceCard(*device, m_inputs.deviceID));
    }
    const std::optional<std::size_t> tabStop = sourceCardTabStop(views);
    const QColor green = tintColor(Tint::green);
    for (std::size_t i = 0; i < views.size(); ++i) {
        QPushButton* card = m_sourceCards[i].card;
        if (!card) continue;
        const SourceCard& view = views[i];
        const QString style = cardStyleSheet(view.chosen
            ? QStringLiteral("QPushButton#card { background: rgba(%1,%2,%3,26); border: none; border-radius: 10px; }")
                  .arg(green.red()).arg(green.green()).arg(green.blue())
            : QStringLiteral("QPushButton#card { background: rgba(128,128,128,15); border: none; border-radius: 10px; }"));
        if (card->styleSheet() != style) card->setStyleSheet(style);
        if (card->isChecked() != view.chosen) card->setChecked(view.chosen);
        if (m_sourceCards[i].check) m_sourceCards[i].check->setVisible(view.chosen);
        card->setFocusPolicy(i == tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        const QString description = QString::fromStdString(sourceCardDescription(view, i, views.size()));
        if (card->accessibleDescription() != description) card->setAccessibleDescription(description);
    }
}

void CollectSheet::chooseSource(const std::string& id) {
    m_inputs.deviceID = id;
    m_inputs.code.clear();
    m_inputs.fingerprintConfirmed = false;
    refresh();
}

void CollectSheet::loadAllOpenSources() {
    const auto listed = transferDevices(m_services.discovery.devices());
    if (!loadAllOpenEnabled(listed, m_services.store.isBusy(), requireSecureProjectTransfer(m_services.settings))) return;
    m_services.commands->connectOpenSources(listed);
}

void CollectSheet::runPrimaryAction() {
    const auto listed = transferDevices(m_services.discovery.devices());
    const auto selected = selectedDevice(listed, m_inputs.deviceID);
    if (!selected) return;
    const CollectInputs current{&*selected, m_requireSecure->isChecked(), m_services.store.isBusy(),
                                m_inputs.fingerprintConfirmed, m_inputs.code};
    if (!primaryEnabled(current)) return;
    // The continuation may come after the sheet or the window has closed.
    QPointer<QWidget> window = parentWidget();
    QPointer<CollectSheet> sheet = this;
    PairingInputs* inputs = &m_inputs;
    m_services.commands->pairAndConnect(*selected, m_inputs.code, m_inputs.fingerprintConfirmed,
                                        !m_requireSecure->isChecked(), [window, sheet, inputs](bool paired) {
                                            if (!window || !paired) return;
                                            inputs->code.clear();
                                            inputs->fingerprintConfirmed = false;
                                            if (sheet) sheet->accept();
                                        });
}

} // namespace velk::library

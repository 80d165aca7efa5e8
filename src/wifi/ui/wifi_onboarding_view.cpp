#include "wifi/ui/wifi_onboarding_view.hpp"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/file_panel.hpp"
#include "app/symbols.hpp"
#include "app/theme.hpp"
#include "app/window_modal.hpp"
#include "base/qt_text.hpp"
#include "base/desktop_program.hpp"
#include "wifi/ui/wifi_onboarding_presenter.hpp"
#include "wifi/wifi_change_gate.hpp"
#include "wifi/wifi_join_coordinator.hpp"
#include "wifi/wifi_qr_code_image.hpp"

namespace velk {

namespace {

namespace text = WiFiOnboarding;
using Security = WiFiNetworkDetails::Security;


// Every label of the sheet: names and system errors are data, never markup.
QLabel* plainLabel(const QString& value = {}) {
    auto* label = new QLabel(value);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* secondaryLabel(const QString& value, qreal pointScale = 0.9) {
    auto* label = plainLabel(value);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * pointScale);
    label->setFont(font);
    QPalette palette = label->palette();
    QColor secondary = palette.color(QPalette::WindowText);
    // Most of it sits on the tabs' pane, which the style draws lighter than the window: at this
    // opacity it still reads there (4.5:1).
    secondary.setAlphaF(0.72f);
    palette.setColor(QPalette::WindowText, secondary);
    label->setPalette(palette);
    return label;
}

QPixmap symbolPixmap(std::string_view symbol, int side, const QColor& tint) {
    return Symbols::icon(symbol, tint).pixmap(QSize(side, side), qApp->devicePixelRatio());
}

// The empty state both panels show: a symbol, a title and a detail text, centred.
QWidget* placeholder(const QString& name, const QString& title, std::string_view symbol, QLabel** detailOut) {
    auto* box = new QWidget;
    box->setMinimumHeight(180);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);
    layout->addStretch();
    auto* icon = new QLabel;
    icon->setObjectName(name + QStringLiteral("Symbol"));
    icon->setPixmap(symbolPixmap(symbol, 36, Theme::secondary(box->palette())));
    icon->setAlignment(Qt::AlignCenter);
    auto* titleLabel = plainLabel(title);
    QFont headline = titleLabel->font();
    headline.setBold(true);
    titleLabel->setFont(headline);
    titleLabel->setAlignment(Qt::AlignCenter);
    titleLabel->setObjectName(name + QStringLiteral("Title"));
    auto* detail = secondaryLabel(QString(), 0.95);
    detail->setAlignment(Qt::AlignCenter);
    detail->setObjectName(name + QStringLiteral("Detail"));
    layout->addWidget(icon);
    layout->addWidget(titleLabel);
    layout->addWidget(detail);
    layout->addStretch();
    *detailOut = detail;
    return box;
}

} // namespace

struct WiFiOnboardingView::State {
    bool changeAllowed = false;
    QString changeBlockedReason;
    std::shared_ptr<WiFiChangeGate> changeGate;
    std::shared_ptr<WiFiJoinCoordinator> joiner;
    std::function<void(QWidget*, std::function<void(const QString&)>)> chooseImage;
    WiFiOnboarding::ProgramStarter startProgram;
    bool openingSettings = false;

    std::optional<WiFiNetworkDetails> decoded;
    // The most recent sentence of either the sheet or the coordinator: a newer one of the sheet is
    // not hidden behind an older one of the coordinator.
    QString status;
    QString shareMessage;
    QImage shownQR;
};

struct WiFiOnboardingView::Widgets {
    QTabWidget* tabs = nullptr;
    // Join panel.
    QStackedWidget* joinStack = nullptr;
    QWidget* emptyJoin = nullptr;
    QFrame* card = nullptr;
    QLabel* network = nullptr;
    QLabel* security = nullptr;
    QLabel* hidden = nullptr;
    QLabel* password = nullptr;
    QPushButton* copyPassword = nullptr;
    QPushButton* join = nullptr;
    QPushButton* openSettings = nullptr;
    QProgressBar* progress = nullptr;
    QWidget* blockedRow = nullptr;
    QLabel* blockedReason = nullptr;
    QWidget* statusRow = nullptr;
    QLabel* status = nullptr;
    QMessageBox* confirmation = nullptr;
    // Share panel.
    QLineEdit* ssid = nullptr;
    QComboBox* securityPicker = nullptr;
    QLineEdit* sharePassword = nullptr;
    QCheckBox* hiddenSwitch = nullptr;
    QCheckBox* confirmed = nullptr;
    QStackedWidget* shareStack = nullptr;
    QLabel* shareDetail = nullptr;
    QLabel* qrImage = nullptr;
    QLabel* qrName = nullptr;
    QLabel* qrSecurity = nullptr;
    QPushButton* copyQR = nullptr;
    QLabel* shareMessage = nullptr;
    QFormLayout* form = nullptr;
};

WiFiOnboardingView::WiFiOnboardingView(bool changeAllowed, const QString& changeBlockedReason,
                                       std::shared_ptr<WiFiChangeGate> changeGate, QWidget* parent)
    : WiFiOnboardingView(changeAllowed, changeBlockedReason, std::move(changeGate), WiFiOnboardingPlatform{}, parent) {}

WiFiOnboardingView::WiFiOnboardingView(bool changeAllowed, const QString& changeBlockedReason,
                                       std::shared_ptr<WiFiChangeGate> changeGate, WiFiOnboardingPlatform platform,
                                       QWidget* parent)
    : QDialog(parent), m_state(std::make_unique<State>()), m_ui(std::make_unique<Widgets>()) {
    m_state->changeAllowed = changeAllowed;
    m_state->changeBlockedReason = changeBlockedReason;
    m_state->changeGate = changeGate ? std::move(changeGate) : std::make_shared<WiFiChangeGate>();
    m_state->joiner = platform.joiner ? std::move(platform.joiner) : std::make_shared<WiFiJoinCoordinator>();
    m_state->chooseImage = std::move(platform.chooseImage);
    if (!m_state->chooseImage) {
        m_state->chooseImage = [](QWidget* owner, std::function<void(const QString&)> chosen) {
            FilePanel::open(owner, qs(text::kChooseTitle), FilePanel::Choose::ExistingFile,
                            QStringLiteral("Images (*.png *.jpg *.jpeg *.heic *.heif *.tif *.tiff)"), std::move(chosen));
        };
    }
    m_state->startProgram = std::move(platform.startProgram);
    if (!m_state->startProgram) {
        m_state->startProgram = [this](const QString& program, const QStringList& arguments,
                                       std::function<void(bool)> answer) {
            startDesktopProgram(program, arguments, text::kSettingsSettleMs, this, std::move(answer));
        };
    }

    setWindowTitle(qs(text::kTitle));
    setWindowModality(Qt::WindowModal);
    setFixedSize(700, 610);
    createWidgets();
    connectWidgets();
    refresh();
    refreshShare();
}

WiFiOnboardingView::~WiFiOnboardingView() {
    if (m_state->joiner) m_state->joiner->cancelPending();
}

void WiFiOnboardingView::setChangeRule(bool changeAllowed, const QString& changeBlockedReason) {
    m_state->changeAllowed = changeAllowed;
    m_state->changeBlockedReason = changeBlockedReason;
    refresh();
}

bool WiFiOnboardingView::changeAllowed() const { return m_state->changeAllowed; }
QString WiFiOnboardingView::changeBlockedReason() const { return m_state->changeBlockedReason; }
WiFiJoinCoordinator& WiFiOnboardingView::joiner() { return *m_state->joiner; }

void WiFiOnboardingView::done(int result) {
    // A join that waits for permission is dropped; a running one stops before it associates. Only a
    // real close does this: minimising the window hides the sheet too, and the join goes on.
    m_state->joiner->cancelPending();
    QDialog::done(result);
}

void WiFiOnboardingView::createWidgets() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(22, 22, 22, 22);
    root->setSpacing(14);

    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto* title = plainLabel(qs(text::kTitle));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    title->setFont(titleFont);
    titles->addWidget(title);
    auto* subtitle = secondaryLabel(qs(text::kSubtitle), 0.85);
    subtitle->setWordWrap(false);
    titles->addWidget(subtitle);
    header->addLayout(titles);
    header->addStretch();
    auto* done = new QPushButton(tr("Done"));
    done->setObjectName(QStringLiteral("doneButton"));
    done->setAutoDefault(false);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(done, 0, Qt::AlignTop);
    root->addLayout(header);

    m_ui->tabs = new QTabWidget;
    m_ui->tabs->setAccessibleName(qs(text::kTitle));
    m_ui->tabs->tabBar()->setAccessibleName(qs(text::kTitle));
    root->addWidget(m_ui->tabs, 1);

    // --- Join from QR ---
    auto* joinPanel = new QWidget;
    auto* join = new QVBoxLayout(joinPanel);
    join->setContentsMargins(8, 12, 8, 8);
    join->setSpacing(14);
    join->addWidget(secondaryLabel(qs(text::kSupportedInput), 0.95));
    auto* importRow = new QHBoxLayout;
    auto* choose = new QPushButton(Symbols::icon("photo"), tr("Choose QR Image…"));
    choose->setObjectName(QStringLiteral("chooseImageButton"));
    auto* paste = new QPushButton(Symbols::icon("doc.on.clipboard"), tr("Paste QR Image"));
    paste->setObjectName(QStringLiteral("pasteImageButton"));
    for (auto* button : {choose, paste}) button->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, &WiFiOnboardingView::importImage);
    connect(paste, &QPushButton::clicked, this, &WiFiOnboardingView::pasteImage);
    importRow->addWidget(choose);
    importRow->addWidget(paste);
    importRow->addStretch();
    join->addLayout(importRow);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    join->addWidget(divider);

    m_ui->joinStack = new QStackedWidget;
    QLabel* emptyDetail = nullptr;
    m_ui->emptyJoin =
        placeholder(QStringLiteral("joinPlaceholder"), qs(text::kNoQRTitle), "qrcode.viewfinder", &emptyDetail);
    emptyDetail->setText(qs(text::kNoQRDetail));
    m_ui->joinStack->addWidget(m_ui->emptyJoin);

    m_ui->card = new QFrame;
    m_ui->card->setObjectName(QStringLiteral("decodedCard"));
    m_ui->card->setStyleSheet(
        QStringLiteral("#decodedCard { background-color: rgba(52, 199, 89, 18); border-radius: 12px; }"));
    auto* card = new QVBoxLayout(m_ui->card);
    card->setContentsMargins(14, 14, 14, 14);
    card->setSpacing(10);
    const auto addRow = [&](const QString& label, const char* name) {
        auto* row = new QHBoxLayout;
        auto* key = secondaryLabel(label, 1.0);
        key->setFixedWidth(90);
        key->setWordWrap(false);
        auto* value = plainLabel();
        value->setObjectName(QString::fromLatin1(name));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row->addWidget(key);
        row->addWidget(value, 1);
        card->addLayout(row);
        return value;
    };
    m_ui->network = addRow(tr("Network"), "cardNetwork");
    m_ui->security = addRow(tr("Security"), "cardSecurity");
    m_ui->hidden = addRow(tr("Hidden"), "cardHidden");
    auto* passwordRow = new QHBoxLayout;
    auto* passwordKey = secondaryLabel(tr("Password"), 1.0);
    passwordKey->setFixedWidth(90);
    passwordKey->setWordWrap(false);
    m_ui->password = plainLabel();
    m_ui->password->setObjectName(QStringLiteral("cardPassword"));
    m_ui->password->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_ui->copyPassword = new QPushButton(tr("Copy Password"));
    m_ui->copyPassword->setObjectName(QStringLiteral("copyPasswordButton"));
    m_ui->copyPassword->setAutoDefault(false);
    connect(m_ui->copyPassword, &QPushButton::clicked, this, &WiFiOnboardingView::copyPassword);
    passwordRow->addWidget(passwordKey);
    passwordRow->addWidget(m_ui->password, 1);
    passwordRow->addWidget(m_ui->copyPassword);
    card->addLayout(passwordRow);
    card->addWidget(secondaryLabel(qs(text::kPasswordStays), 0.85));
    auto* joinRow = new QHBoxLayout;
    m_ui->join = new QPushButton(tr("Join Network…"));
    m_ui->join->setObjectName(QStringLiteral("joinButton"));
    m_ui->join->setDefault(true);
    m_ui->openSettings = new QPushButton(tr("Open Wi-Fi Settings"));
    m_ui->openSettings->setObjectName(QStringLiteral("openSettingsButton"));
    m_ui->openSettings->setAutoDefault(false);
    m_ui->progress = new QProgressBar;
    m_ui->progress->setObjectName(QStringLiteral("joinProgress"));
    m_ui->progress->setRange(0, 0);
    m_ui->progress->setTextVisible(false);
    m_ui->progress->setFixedSize(60, 10);
    joinRow->addWidget(m_ui->join);
    joinRow->addWidget(m_ui->openSettings);
    joinRow->addWidget(m_ui->progress);
    joinRow->addStretch();
    card->addLayout(joinRow);
    card->addWidget(secondaryLabel(qs(text::kAutomaticJoin), 0.85));
    m_ui->blockedRow = new QWidget;
    auto* blocked = new QHBoxLayout(m_ui->blockedRow);
    blocked->setContentsMargins(0, 0, 0, 0);
    auto* pauseIcon = new QLabel;
    pauseIcon->setPixmap(symbolPixmap("pause.circle.fill", 14, Theme::orange()));
    m_ui->blockedReason = plainLabel();
    m_ui->blockedReason->setObjectName(QStringLiteral("blockedReason"));
    m_ui->blockedReason->setWordWrap(true);
    m_ui->blockedReason->setStyleSheet(QStringLiteral("color: rgb(255, 149, 0);"));
    blocked->addWidget(pauseIcon, 0, Qt::AlignTop);
    blocked->addWidget(m_ui->blockedReason, 1);
    card->addWidget(m_ui->blockedRow);
    m_ui->joinStack->addWidget(m_ui->card);
    join->addWidget(m_ui->joinStack);

    m_ui->statusRow = new QWidget;
    auto* statusLayout = new QHBoxLayout(m_ui->statusRow);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    auto* infoIcon = new QLabel;
    infoIcon->setPixmap(symbolPixmap("info.circle", 16, Theme::secondary(infoIcon->palette())));
    m_ui->status = secondaryLabel(QString(), 0.95);
    m_ui->status->setObjectName(QStringLiteral("statusLine"));
    statusLayout->addWidget(infoIcon, 0, Qt::AlignTop);
    statusLayout->addWidget(m_ui->status, 1);
    join->addWidget(m_ui->statusRow);
    join->addStretch();
    joinPanel->setAccessibleName(qs(text::kJoinTab)); // the page is spoken by its tab's name
    m_ui->tabs->addTab(joinPanel, Symbols::icon("qrcode.viewfinder"), qs(text::kJoinTab));

    // --- Show QR ---
    auto* sharePanel = new QWidget;
    auto* share = new QHBoxLayout(sharePanel);
    share->setContentsMargins(8, 12, 8, 8);
    share->setSpacing(24);
    auto* detailsColumn = new QWidget;
    detailsColumn->setFixedWidth(330);
    auto* details = new QVBoxLayout(detailsColumn);
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(10);
    details->addWidget(secondaryLabel(qs(text::kShareCaption), 0.85));
    m_ui->form = new QFormLayout;
    m_ui->ssid = new QLineEdit;
    m_ui->ssid->setObjectName(QStringLiteral("shareNetworkName"));
    m_ui->securityPicker = new QComboBox;
    m_ui->securityPicker->setObjectName(QStringLiteral("shareSecurity"));
    for (Security security : WiFiNetworkDetails::allSecurities) {
        m_ui->securityPicker->addItem(qs(WiFiNetworkDetails::label(security)), static_cast<int>(security));
    }
    m_ui->sharePassword = new QLineEdit;
    m_ui->sharePassword->setObjectName(QStringLiteral("sharePassword"));
    m_ui->sharePassword->setEchoMode(QLineEdit::Password);
    m_ui->hiddenSwitch = new QCheckBox(tr("Hidden network"));
    m_ui->hiddenSwitch->setObjectName(QStringLiteral("shareHidden"));
    m_ui->confirmed = new QCheckBox(qs(text::kConfirmDetails));
    m_ui->confirmed->setObjectName(QStringLiteral("shareConfirmed"));
    m_ui->form->addRow(tr("Network name"), m_ui->ssid);
    m_ui->form->addRow(tr("Security"), m_ui->securityPicker);
    m_ui->form->addRow(tr("Password"), m_ui->sharePassword);
    m_ui->form->addRow(m_ui->hiddenSwitch);
    m_ui->form->addRow(m_ui->confirmed);
    details->addLayout(m_ui->form);
    details->addStretch();
    share->addWidget(detailsColumn, 0, Qt::AlignTop);

    auto* qrColumn = new QVBoxLayout;
    qrColumn->setSpacing(12);
    m_ui->shareStack = new QStackedWidget;
    m_ui->shareStack->addWidget(
        placeholder(QStringLiteral("sharePlaceholder"), qs(text::kConfirmDetailsTitle), "qrcode", &m_ui->shareDetail));
    auto* display = new QWidget;
    auto* displayLayout = new QVBoxLayout(display);
    displayLayout->setSpacing(12);
    m_ui->qrImage = plainLabel();
    m_ui->qrImage->setObjectName(QStringLiteral("shareQRImage"));
    m_ui->qrImage->setFixedSize(245 + 24, 245 + 24);
    m_ui->qrImage->setAlignment(Qt::AlignCenter);
    m_ui->qrImage->setStyleSheet(QStringLiteral("background: white;"));
    m_ui->qrName = plainLabel();
    m_ui->qrName->setObjectName(QStringLiteral("shareQRName"));
    QFont headline = m_ui->qrName->font();
    headline.setBold(true);
    m_ui->qrName->setFont(headline);
    m_ui->qrName->setAlignment(Qt::AlignCenter);
    m_ui->qrSecurity = secondaryLabel(QString(), 0.85);
    m_ui->qrSecurity->setAlignment(Qt::AlignCenter);
    m_ui->copyQR = new QPushButton(Symbols::icon("doc.on.doc"), tr("Copy QR Image"));
    m_ui->copyQR->setObjectName(QStringLiteral("copyQRButton"));
    m_ui->copyQR->setAutoDefault(false);
    connect(m_ui->copyQR, &QPushButton::clicked, this, &WiFiOnboardingView::copyQRImage);
    auto* warning = secondaryLabel(qs(text::kShareWarning), 0.85);
    warning->setAlignment(Qt::AlignCenter);
    displayLayout->addWidget(m_ui->qrImage, 0, Qt::AlignHCenter);
    displayLayout->addWidget(m_ui->qrName);
    displayLayout->addWidget(m_ui->qrSecurity);
    displayLayout->addWidget(m_ui->copyQR, 0, Qt::AlignHCenter);
    displayLayout->addWidget(warning);
    m_ui->shareStack->addWidget(display);
    qrColumn->addWidget(m_ui->shareStack);
    m_ui->shareMessage = secondaryLabel(QString(), 0.85);
    m_ui->shareMessage->setObjectName(QStringLiteral("shareMessage"));
    m_ui->shareMessage->setAlignment(Qt::AlignCenter);
    qrColumn->addWidget(m_ui->shareMessage);
    qrColumn->addStretch();
    share->addLayout(qrColumn, 1);
    sharePanel->setAccessibleName(qs(text::kShareTab)); // the page is spoken by its tab's name
    m_ui->tabs->addTab(sharePanel, Symbols::icon("qrcode"), qs(text::kShareTab));
}

void WiFiOnboardingView::connectWidgets() {
    WiFiJoinCoordinator* joiner = m_state->joiner.get();
    connect(joiner, &WiFiJoinCoordinator::messageChanged, this, [this](const std::string& message) {
        m_state->status = qs(message);
        refresh();
    });
    connect(joiner, &WiFiJoinCoordinator::isWorkingChanged, this, [this] { refresh(); });
    connect(m_ui->join, &QPushButton::clicked, this, [this] {
        if (!m_ui->confirmation) {
            m_ui->confirmation = new QMessageBox(this);
            m_ui->confirmation->setObjectName(QStringLiteral("joinConfirmation"));
            m_ui->confirmation->setTextFormat(Qt::PlainText); // the title holds the network's name
            m_ui->confirmation->setIcon(QMessageBox::Question);
            auto* ask = m_ui->confirmation->addButton(qs(text::kConfirmJoin), QMessageBox::AcceptRole);
            ask->setObjectName(QStringLiteral("confirmJoinButton"));
            m_ui->confirmation->addButton(QMessageBox::Cancel);
            connect(m_ui->confirmation, &QMessageBox::buttonClicked, this, [this, ask](QAbstractButton* button) {
                if (button == ask) confirmJoin();
            });
        }
        const QString title = qs(WiFiOnboarding::confirmationTitle(m_state->decoded));
        m_ui->confirmation->setWindowTitle(title);
        m_ui->confirmation->setText(title);
        m_ui->confirmation->setInformativeText(qs(text::kConfirmMessage));
        openWindowModal(*m_ui->confirmation);
    });
    connect(m_ui->openSettings, &QPushButton::clicked, this, &WiFiOnboardingView::openWiFiSettings);

    connect(m_ui->ssid, &QLineEdit::textChanged, this, &WiFiOnboardingView::withdrawConfirmation);
    connect(m_ui->sharePassword, &QLineEdit::textChanged, this, &WiFiOnboardingView::withdrawConfirmation);
    connect(m_ui->hiddenSwitch, &QCheckBox::toggled, this, &WiFiOnboardingView::withdrawConfirmation);
    connect(m_ui->securityPicker, &QComboBox::currentIndexChanged, this, [this] {
        if (static_cast<Security>(m_ui->securityPicker->currentData().toInt()) == Security::open) {
            m_ui->sharePassword->clear();
        }
        withdrawConfirmation();
    });
    connect(m_ui->confirmed, &QCheckBox::toggled, this, &WiFiOnboardingView::refreshShare);
}

void WiFiOnboardingView::refresh() {
    const auto& decoded = m_state->decoded;
    m_ui->joinStack->setCurrentWidget(decoded ? static_cast<QWidget*>(m_ui->card) : m_ui->emptyJoin);
    if (decoded) {
        const auto card = WiFiOnboarding::card(*decoded);
        m_ui->network->setText(qs(card.network));
        m_ui->security->setText(qs(card.security));
        m_ui->hidden->setText(qs(card.hidden));
        m_ui->password->setText(qs(card.password));
        m_ui->copyPassword->setVisible(card.showsCopyPassword);
    }
    const bool working = m_state->joiner->isWorking();
    const bool enabled = WiFiOnboarding::joinButtonsEnabled(working, m_state->changeAllowed);
    m_ui->join->setEnabled(enabled);
    m_ui->openSettings->setEnabled(enabled);
    m_ui->progress->setVisible(working);
    m_ui->blockedRow->setVisible(!m_state->changeAllowed);
    m_ui->blockedReason->setText(m_state->changeBlockedReason);
    m_ui->status->setText(m_state->status);
    m_ui->statusRow->setVisible(!m_state->status.isEmpty());
}

void WiFiOnboardingView::importImage() {
    QPointer<WiFiOnboardingView> self(this);
    m_state->chooseImage(this, [self](const QString& path) {
        if (!self) return;
        self->showDecodeResult([&] { return WiFiQRCodeImage::decode(std::filesystem::path(path.toStdString())); });
    });
}

void WiFiOnboardingView::pasteImage() {
    showDecodeResult([] {
        const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
        return clipboard ? WiFiQRCodeImage::decode(*clipboard) : WiFiQRCodeImage::decode(QMimeData());
    });
}

void WiFiOnboardingView::showDecodeResult(const std::function<WiFiNetworkDetails()>& decode) {
    try {
        m_state->decoded = decode();
        m_state->status = qs(text::kDecoded);
    } catch (const std::exception& error) {
        m_state->decoded.reset();
        m_state->status = QString::fromUtf8(error.what());
    }
    refresh();
}

void WiFiOnboardingView::copyPassword() {
    if (!m_state->decoded) return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(qs(m_state->decoded->password));
    m_state->status = qs(text::kPasswordCopied);
    refresh();
}

void WiFiOnboardingView::confirmJoin() {
    if (!WiFiOnboarding::mayHandOverJoin(m_state->changeAllowed, m_state->changeGate->allowsChange(),
                                         m_state->decoded.has_value())) {
        m_state->status = m_state->changeBlockedReason;
        refresh();
        return;
    }
    m_state->joiner->join(*m_state->decoded, m_state->changeGate);
}

void WiFiOnboardingView::openWiFiSettings() {
    if (m_state->openingSettings) return; // the programs of the last click are still being judged
    m_state->openingSettings = true;
    QPointer<WiFiOnboardingView> self(this);
    WiFiOnboarding::openWiFiSettings(m_state->startProgram, [self](bool opened) {
        if (!self) return;
        self->m_state->openingSettings = false;
        if (opened) return;
        self->m_state->status = qs(text::kSettingsFailed);
        self->refresh();
    });
}

void WiFiOnboardingView::withdrawConfirmation() {
    m_ui->confirmed->setChecked(false);
    m_state->shareMessage.clear();
    refreshShare();
}

void WiFiOnboardingView::refreshShare() {
    const auto security = static_cast<Security>(m_ui->securityPicker->currentData().toInt());
    m_ui->form->setRowVisible(m_ui->sharePassword, security != Security::open);
    const auto area = WiFiOnboarding::shareArea(m_ui->ssid->text().toStdString(), security,
                                                m_ui->sharePassword->text().toStdString(),
                                                m_ui->hiddenSwitch->isChecked(), m_ui->confirmed->isChecked());
    m_state->shownQR = area.image;
    if (area.details) {
        const QPixmap pixmap = QPixmap::fromImage(area.image).scaled(245, 245, Qt::KeepAspectRatio, Qt::FastTransformation);
        m_ui->qrImage->setPixmap(pixmap);
        m_ui->qrImage->setAccessibleName(qs(text::kQRImageName) + qs(area.details->ssid));
        m_ui->qrName->setText(m_ui->qrName->fontMetrics().elidedText(qs(area.details->ssid), Qt::ElideRight, 300));
        m_ui->qrSecurity->setText(qs(WiFiNetworkDetails::label(area.details->security)));
        m_ui->shareStack->setCurrentIndex(1);
    } else {
        m_ui->shareDetail->setText(qs(area.placeholderDetail));
        m_ui->shareStack->setCurrentIndex(0);
    }
    m_ui->shareMessage->setText(m_state->shareMessage);
    m_ui->shareMessage->setVisible(!m_state->shareMessage.isEmpty());
}

void WiFiOnboardingView::copyQRImage() {
    if (m_state->shownQR.isNull()) return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    auto* mime = new QMimeData;
    mime->setImageData(m_state->shownQR);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    m_state->shownQR.save(&buffer, "PNG");
    mime->setData(QStringLiteral("image/png"), png);
    clipboard->setMimeData(mime);
    const QMimeData* now = clipboard->mimeData();
    const bool copied = now != nullptr && now->hasImage() && !png.isEmpty();
    m_state->shareMessage = qs(copied ? text::kQRCopied : text::kQRNotCopied);
    refreshShare();
}

} // namespace velk

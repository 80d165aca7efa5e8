#include "pairing/ui/camera_pairing_sheet.hpp"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/keyboard_keeper.hpp"
#include "app/theme.hpp"
#include "app/view_kit.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "pairing/camera_pairing_store.hpp"
#include "pairing/ui/camera_pairing_sheet_presenter.hpp"
#include "pairing/ui/qr_code_image.hpp"

namespace velk {

namespace {

constexpr int sheetWidth = 440;
constexpr int contentWidth = sheetWidth - 2 * 24;
constexpr int qrSide = 260;
constexpr int qrPadding = 14;
constexpr int trustedListHeight = 100;

QLabel* secondaryLabel(const QString& text, double pointScale, QWidget* parent) {
    auto* label = new WrappedLabel(text, parent);
    label->setMaximumWidth(contentWidth);
    label->setAlignment(Qt::AlignCenter);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * pointScale);
    label->setFont(font);
    return label;
}

// No button of the sheet is the dialog's default: Return never presses one the focus is not on.
QPushButton* button(const char* text, QWidget* parent) {
    auto* made = new QPushButton(QString::fromUtf8(text), parent);
    made->setAutoDefault(false);
    made->setDefault(false);
    return made;
}

QPixmap lockSymbol(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::gray, side / 8.0));
    painter.drawArc(QRectF(side * 0.28, side * 0.08, side * 0.44, side * 0.5), 0, 180 * 16);
    painter.drawLine(QPointF(side * 0.28, side * 0.33), QPointF(side * 0.28, side * 0.45));
    painter.drawLine(QPointF(side * 0.72, side * 0.33), QPointF(side * 0.72, side * 0.45));
    QPainterPath body;
    body.addRoundedRect(QRectF(side * 0.18, side * 0.45, side * 0.64, side * 0.48), side * 0.08, side * 0.08);
    painter.fillPath(body, Qt::gray);
    return pixmap;
}

} // namespace

CameraPairingSheet::CameraPairingSheet(CameraPairingStore& pairing, LiveCameraDiscovery& discovery, bool isRecording,
                                       QWidget* parent)
    : CameraPairingSheet(pairing,
                         [channel = QPointer<LiveCameraDiscovery>(&discovery)](const std::string& datagram,
                                                                               const std::string& host) {
                             if (channel) channel->sendPairingPacket(datagram, host);
                         },
                         isRecording, parent) {}

CameraPairingSheet::CameraPairingSheet(CameraPairingStore& pairing, PacketSender send, bool isRecording, QWidget* parent)
    : QDialog(parent), m_pairing(pairing), m_send(std::move(send)), m_isRecording(isRecording) {
    setWindowTitle(CameraPairingSheetText::title);
    setWindowModality(Qt::WindowModal);
    createWidgets();
    connectWidgets();
    refresh();
    rebuildTrustedRows();
}

void CameraPairingSheet::createWidgets() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    // The sheet is as tall as its content and always 440 wide: a strut holds the width.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addSpacerItem(new QSpacerItem(sheetWidth - 48, 0, QSizePolicy::Fixed, QSizePolicy::Fixed));

    auto* header = new QHBoxLayout;
    auto* title = new QLabel(CameraPairingSheetText::title, this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto* done = button(CameraPairingSheetText::done, this);
    done->setObjectName("done");
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(title);
    header->addStretch();
    header->addWidget(done);
    layout->addLayout(header);

    layout->addWidget(secondaryLabel(CameraPairingSheetText::instructions, 0.95, this));

    m_paused = new QWidget(this);
    auto* pausedRow = new QHBoxLayout(m_paused);
    pausedRow->setContentsMargins(0, 0, 0, 0);
    auto* lock = new QLabel(m_paused);
    lock->setPixmap(lockSymbol(18));
    pausedRow->addStretch();
    pausedRow->addWidget(lock);
    pausedRow->addWidget(new QLabel(CameraPairingSheetText::paused, m_paused));
    pausedRow->addStretch();
    m_paused->setObjectName("paused");
    layout->addWidget(m_paused);

    m_qrBox = new QWidget(this);
    m_qrBox->setObjectName("qrCode");
    auto* qrColumn = new QVBoxLayout(m_qrBox);
    qrColumn->setContentsMargins(0, 0, 0, 0);
    qrColumn->setSpacing(6);
    m_qrImage = new QLabel(m_qrBox);
    m_qrImage->setObjectName("qrImage");
    m_qrImage->setFixedSize(qrSide + 2 * qrPadding, qrSide + 2 * qrPadding);
    qrColumn->addWidget(m_qrImage, 0, Qt::AlignHCenter);
    qrColumn->addWidget(secondaryLabel(CameraPairingSheetText::validity, 0.85, m_qrBox));
    qrColumn->addWidget(secondaryLabel(CameraPairingSheetText::requirement, 0.85, m_qrBox));
    layout->addWidget(m_qrBox);

    m_expired = secondaryLabel(CameraPairingSheetText::expired, 1.0, this);
    m_expired->setObjectName("expired");
    layout->addWidget(m_expired);

    m_candidateBox = new QFrame(this);
    m_candidateBox->setObjectName("candidate");
    m_candidateBox->setStyleSheet("QFrame#candidate { background: rgba(0, 160, 0, 20); border-radius: 12px; }");
    auto* candidate = new QVBoxLayout(m_candidateBox);
    candidate->setContentsMargins(12, 12, 12, 12);
    candidate->setSpacing(10);
    // However long the name a phone sends, it wraps within the box instead of widening the sheet.
    m_candidateName = new WrappedLabel({}, m_candidateBox);
    m_candidateName->setObjectName("candidateName");
    m_candidateName->setAlignment(Qt::AlignCenter);
    m_candidateName->setMaximumWidth(contentWidth - 2 * 12);
    m_candidateName->setFont(Theme::font(Theme::TextStyle::headline));
    m_code = new QLabel(m_candidateBox);
    m_code->setObjectName("code");
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(30);
    mono.setBold(true);
    m_code->setFont(mono);
    auto* compare = new QLabel(CameraPairingSheetText::compareCode, m_candidateBox);
    compare->setObjectName("compareCode");
    compare->setFont(Theme::font(Theme::TextStyle::caption));
    m_approve = button(CameraPairingSheetText::approve, m_candidateBox);
    m_approve->setObjectName("approve");
    Theme::setProminent(*m_approve);
    // Approving grants trust: a click, or Space on the focused button, never a key pressed to
    // close the panel.
    Accessibility::answerClickAndSpaceOnly(*m_approve);
    for (QWidget* widget : {static_cast<QWidget*>(m_candidateName), static_cast<QWidget*>(m_code),
                            static_cast<QWidget*>(compare), static_cast<QWidget*>(m_approve)})
        candidate->addWidget(widget, 0, Qt::AlignHCenter);
    layout->addWidget(m_candidateBox);

    m_message = secondaryLabel({}, 0.95, this);
    m_message->setObjectName("message");
    layout->addWidget(m_message);

    m_trustedSection = new QWidget(this);
    m_trustedSection->setObjectName("trusted");
    auto* trusted = new QVBoxLayout(m_trustedSection);
    trusted->setContentsMargins(0, 0, 0, 0);
    trusted->setSpacing(8);
    auto* divider = new QFrame(m_trustedSection);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    trusted->addWidget(divider);
    auto* heading = new QLabel(CameraPairingSheetText::pairedHeading, m_trustedSection);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 0.85);
    heading->setFont(headingFont);
    trusted->addWidget(heading);
    m_trustedScroll = new QScrollArea(m_trustedSection);
    m_trustedScroll->setObjectName("trustedList");
    m_trustedScroll->setFrameShape(QFrame::NoFrame);
    // Tab goes to the rows' buttons (and scrolls them into view), not to the scroll area.
    m_trustedScroll->setFocusPolicy(Qt::NoFocus);
    m_trustedScroll->setWidgetResizable(true);
    m_trustedScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_trustedScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* rows = new QWidget(m_trustedScroll);
    m_trustedRows = new QVBoxLayout(rows);
    m_trustedRows->setContentsMargins(0, 0, 0, 0);
    m_trustedRows->setSpacing(8);
    m_trustedScroll->setWidget(rows);
    trusted->addWidget(m_trustedScroll);
    layout->addWidget(m_trustedSection);
}

void CameraPairingSheet::connectWidgets() {
    connect(&m_pairing, &CameraPairingStore::invitationChanged, this, &CameraPairingSheet::refresh);
    connect(&m_pairing, &CameraPairingStore::candidateChanged, this, &CameraPairingSheet::refresh);
    connect(&m_pairing, &CameraPairingStore::messageChanged, this, &CameraPairingSheet::refresh);
    connect(&m_pairing, &CameraPairingStore::trustedChanged, this, &CameraPairingSheet::rebuildTrustedRows);
    connect(m_approve, &QPushButton::clicked, this, &CameraPairingSheet::approveCamera);
}

void CameraPairingSheet::setRecording(bool recording) {
    const bool cancels = cancelsOnRecordingChange(m_isRecording, recording);
    m_isRecording = recording;
    if (cancels) m_pairing.cancel();
    refresh();
}

void CameraPairingSheet::refresh() {
    const CameraPairingSheetView view =
        presentCameraPairingSheet(m_pairing.invitation(), m_pairing.candidate(), m_pairing.trusted(), m_pairing.message(),
                                  m_isRecording, [this](const std::string& payload) {
                                      return payload == m_shownPayload || QRCodeImage::canMake(payload);
                                  });
    using Centre = CameraPairingSheetView::Centre;
    m_paused->setVisible(view.centre == Centre::paused);
    m_qrBox->setVisible(view.centre == Centre::qrCode);
    m_expired->setVisible(view.centre == Centre::expired);
    if (view.centre == Centre::qrCode && view.qrPayload != m_shownPayload) {
        // Whole pixels per module and no smoothing, so the modules stay sharp.
        const QImage modules = QRCodeImage::make(view.qrPayload);
        const int scale = std::max(1, qrSide / modules.width());
        const QImage scaled = modules.scaled(modules.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QImage framed(qrSide + 2 * qrPadding, qrSide + 2 * qrPadding, QImage::Format_RGB32);
        framed.fill(Qt::white);
        QPainter painter(&framed);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QPoint((framed.width() - scaled.width()) / 2, (framed.height() - scaled.height()) / 2), scaled);
        painter.end();
        m_qrImage->setPixmap(QPixmap::fromImage(framed));
        m_shownPayload = view.qrPayload;
    }
    m_candidateBox->setVisible(view.showsCandidate);
    m_candidateName->setText(QString::fromStdString(view.candidateName));
    m_code->setText(QString::fromStdString(view.verificationCode));
    m_message->setVisible(view.message.has_value());
    m_message->setText(QString::fromStdString(view.message.value_or("")));
}

void CameraPairingSheet::rebuildTrustedRows() {
    while (QLayoutItem* item = m_trustedRows->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    const std::vector<CameraPairingSheetView::Row> rows =
        presentCameraPairingSheet(std::nullopt, std::nullopt, m_pairing.trusted(), {}, false, {}).trusted;
    // Rows added to a sheet on screen are shown only once control returns to the event loop, and
    // until then a layout leaves them out: the list's height is summed from the rows themselves.
    int content = 0;
    for (const CameraPairingSheetView::Row& row : rows) {
        auto* line = new QWidget;
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 0, 0, 0);
        const QString cameraName = QString::fromStdString(row.name);
        auto* name = new ElidedLabel(cameraName, line);
        name->setToolTip(plainToolTip(cameraName));
        layout->addWidget(name, 1);
        auto* remove = button(CameraPairingSheetText::remove, line);
        remove->setObjectName("remove");
        Keyboard::guard(*remove);
        Accessibility::answerClickAndSpaceOnly(*remove); // removes trust, with no confirmation
        remove->setProperty("cameraID", QString::fromStdString(row.id));
        remove->setAccessibleDescription(QString::fromStdString(row.name)); // which camera a screen reader hears
        connect(remove, &QPushButton::clicked, this, [this, id = row.id] { m_pairing.forget(id); });
        layout->addWidget(remove);
        m_trustedRows->addWidget(line);
        content += (content > 0 ? m_trustedRows->spacing() : 0) + line->sizeHint().height();
    }
    m_trustedRows->addStretch();
    m_trustedSection->setVisible(!rows.empty());
    m_trustedScroll->setFixedHeight(std::min(trustedListHeight, std::max(content, 1)));
}

void CameraPairingSheet::approveCamera() {
    const std::optional<CameraPairingStore::Reply> reply = m_pairing.approve();
    if (reply && m_send) m_send(reply->data, reply->host);
}

} // namespace velk

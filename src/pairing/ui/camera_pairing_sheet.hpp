#pragma once
// The panel in which the user pairs a phone camera: the invitation's QR code, the answering camera
// with its six-digit code and "Approve Camera", and the cameras already paired with "Remove".
// Window-modal; open it with open(). It never opens an invitation itself.

#include <functional>
#include <string>

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWidget;

namespace velk {

class CameraPairingStore;
class LiveCameraDiscovery;

class CameraPairingSheet final : public QDialog {
    Q_OBJECT
public:
    // Sends one datagram to a camera's address on the control port.
    using PacketSender = std::function<void(const std::string& datagram, const std::string& host)>;

    CameraPairingSheet(CameraPairingStore& pairing, LiveCameraDiscovery& discovery, bool isRecording,
                       QWidget* parent = nullptr);
    CameraPairingSheet(CameraPairingStore& pairing, PacketSender send, bool isRecording, QWidget* parent = nullptr);

    bool isRecording() const { return m_isRecording; }
    // Set by whatever presents the sheet; a change to true cancels the pairing attempt.
    void setRecording(bool recording);

private:
    void createWidgets();
    void connectWidgets();
    void refresh();
    void rebuildTrustedRows();
    void approveCamera();

    CameraPairingStore& m_pairing;
    PacketSender m_send;
    bool m_isRecording;
    std::string m_shownPayload;

    QWidget* m_paused = nullptr;
    QWidget* m_qrBox = nullptr;
    QLabel* m_qrImage = nullptr;
    QLabel* m_expired = nullptr;
    QFrame* m_candidateBox = nullptr;
    QLabel* m_candidateName = nullptr;
    QLabel* m_code = nullptr;
    QPushButton* m_approve = nullptr;
    QLabel* m_message = nullptr;
    QWidget* m_trustedSection = nullptr;
    QVBoxLayout* m_trustedRows = nullptr;
    QScrollArea* m_trustedScroll = nullptr;
};

} // namespace velk

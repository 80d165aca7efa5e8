#pragma once
// The Wi-Fi QR sheet: join this computer to the network of a Wi-Fi QR image, or show a QR code for
// details the user types and confirms.
//
// The Library window presents it window-modal and never waits on it:
//
//     auto* sheet = new WiFiOnboardingView(canChangeWiFi, blockedReason, m_wifiChangeGate, this);
//     sheet->setAttribute(Qt::WA_DeleteOnClose);
//     openWindowModal(*sheet);
//     // while it is open, whenever the Wi-Fi safety signature changes:
//     sheet->setChangeRule(canChangeWiFi, blockedReason);
//
// "Done" closes it (finished() is emitted). When it is closed or destroyed, not when it is only
// hidden with its minimised window, it cancels a join that has not asked the system to associate
// yet; a running join keeps the coordinator until its result is in. Opening it touches no system
// service. Every text that comes from data (a network name, a system error) is drawn as plain text.

#include <functional>
#include <memory>

#include <QDialog>
#include <QString>
#include <QStringList>

namespace velk {

class WiFiChangeGate;
class WiFiJoinCoordinator;
struct WiFiNetworkDetails;

// What the sheet uses of the desktop, replaceable for tests. Empty members take the defaults.
struct WiFiOnboardingPlatform {
    // Null: a coordinator over NetworkManager on the system bus, which is reached only at a join.
    std::shared_ptr<WiFiJoinCoordinator> joiner;
    // Asks for one image file and calls `chosen` with its path, never for a cancelled choice.
    // Null: a window-modal file dialog opened with open().
    std::function<void(QWidget* parent, std::function<void(const QString& path)> chosen)> chooseImage;
    // Starts a program and answers once whether it opened. Null: startDesktopProgram, which counts
    // a program as opened when it is still running, or ended with status 0, after a short wait.
    std::function<void(const QString& program, const QStringList& arguments, std::function<void(bool opened)> done)>
        startProgram;
};

class WiFiOnboardingView final : public QDialog {
    Q_OBJECT

public:
    WiFiOnboardingView(bool changeAllowed, const QString& changeBlockedReason,
                       std::shared_ptr<WiFiChangeGate> changeGate, QWidget* parent = nullptr);
    WiFiOnboardingView(bool changeAllowed, const QString& changeBlockedReason,
                       std::shared_ptr<WiFiChangeGate> changeGate, WiFiOnboardingPlatform platform,
                       QWidget* parent = nullptr);
    ~WiFiOnboardingView() override;

    // The window's rule and its refusal sentence, taken again while the sheet is shown.
    void setChangeRule(bool changeAllowed, const QString& changeBlockedReason);

    bool changeAllowed() const;
    QString changeBlockedReason() const;
    WiFiJoinCoordinator& joiner();

    // Closes the sheet (accept or reject) and cancels a join that has not associated yet.
    void done(int result) override;

private:
    struct State;
    struct Widgets;
    void createWidgets();
    void connectWidgets();
    void refresh();
    void importImage();
    void pasteImage();
    void showDecodeResult(const std::function<WiFiNetworkDetails()>& decode);
    void copyPassword();
    void confirmJoin();
    void openWiFiSettings();
    void refreshShare();
    void copyQRImage();
    void withdrawConfirmation();

    std::unique_ptr<State> m_state;
    std::unique_ptr<Widgets> m_ui;
};

} // namespace velk

#pragma once
// The rules of the Wi-Fi QR sheet as plain functions, and every sentence it shows of its own.

#include <functional>
#include <optional>
#include <string>

#include <QImage>
#include <QString>
#include <QStringList>

#include "wifi/wifi_qr_codec.hpp"

namespace velk::WiFiOnboarding {

// Texts of the sheet.
inline constexpr const char* kTitle = "Wi-Fi QR";
inline constexpr const char* kSubtitle = "Join from a QR image, or share network details you enter and confirm.";
inline constexpr const char* kJoinTab = "Join from QR";
inline constexpr const char* kShareTab = "Show QR";
inline constexpr const char* kSupportedInput =
    "Supported input: one standard Wi-Fi QR code in a PNG, JPEG, HEIC, or TIFF image, imported from a file or "
    "pasted as an image. This build does not use the computer's camera.";
inline constexpr const char* kNoQRTitle = "No Wi-Fi QR Loaded";
inline constexpr const char* kNoQRDetail =
    "Choose or paste a QR image. Text payloads, WEP, and enterprise Wi-Fi are rejected.";
inline constexpr const char* kPasswordStays = "The password stays in memory only while this panel is open.";
inline constexpr const char* kAutomaticJoin =
    "Automatic join uses NetworkManager after confirmation. Wi-Fi Settings is the fallback for hidden networks, "
    "denied permissions, or system-managed configurations.";
inline constexpr const char* kDecoded = "QR decoded locally. Review the network before choosing Join.";
inline constexpr const char* kPasswordCopied = "Password copied. Clear the clipboard when you are finished.";
inline constexpr const char* kSettingsFailed =
    "Wi-Fi Settings could not be opened. Open the desktop's Wi-Fi settings manually.";
inline constexpr const char* kConfirmMessage =
    "This changes the computer's active Wi-Fi network. NetworkManager may ask for administrator permission. "
    "Kestova does not save the password.";
inline constexpr const char* kConfirmJoin = "Ask NetworkManager to Join";
inline constexpr const char* kChooseTitle = "Choose Wi-Fi QR Image";
inline constexpr const char* kHiddenPassword = "\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022";

inline constexpr const char* kShareCaption =
    "For a private WLAN or phone hotspot, enter its actual current details. Kestova does not read saved passwords "
    "or create/configure a hotspot.";
inline constexpr const char* kConfirmDetails = "I confirm these are the network's current details";
inline constexpr const char* kShareWarning = "Anyone with this QR can obtain the Wi-Fi password.";
inline constexpr const char* kConfirmDetailsTitle = "Confirm Network Details";
inline constexpr const char* kEnterDetails = "Enter the actual network name, security, and password, then confirm them.";
inline constexpr const char* kCheckDetails =
    "Check the network name and password. Personal passwords must be 8–63 printable ASCII characters.";
inline constexpr const char* kGenerationUnavailable = "QR generation is unavailable.";
inline constexpr const char* kQRCopied = "QR image copied.";
inline constexpr const char* kQRNotCopied = "The QR image could not be copied.";
// What a screen reader calls the QR image: this text followed by the network name.
inline constexpr const char* kQRImageName = "Wi-Fi QR code for ";

// The decoded card's rows.
struct Card {
    std::string network;
    std::string security;
    std::string hidden;   // "Yes" or "No"
    std::string password; // "None" or eight bullets, never the password
    bool showsCopyPassword = false;
};
Card card(const WiFiNetworkDetails& details);

// "Join Network…" and "Open Wi-Fi Settings".
bool joinButtonsEnabled(bool joinerIsWorking, bool changeAllowed);
std::string confirmationTitle(const std::optional<WiFiNetworkDetails>& decoded);
// The join confirmation hands over to the coordinator only when all three hold.
bool mayHandOverJoin(bool changeAllowed, bool gateAllowsChange, bool hasDecoded);

// The share panel's QR area.
struct ShareArea {
    std::optional<WiFiNetworkDetails> details; // set: the QR display
    QImage image;
    std::string placeholderDetail;             // when there is no QR display
};
ShareArea shareArea(const std::string& ssid, WiFiNetworkDetails::Security security, const std::string& password,
                    bool hidden, bool confirmed);
// Details for which a QR may be drawn: read back as themselves, and no reserved character that a
// reader splitting by code point would take for a separator.
bool isShareable(const WiFiNetworkDetails& details);

// Starts a program and answers, once, whether it opened (see startDesktopProgram).
using ProgramStarter = std::function<void(const QString& program, const QStringList& arguments,
                                          std::function<void(bool opened)> done)>;
// How long a settings program must keep running, unless it ends with status 0, to count as opened.
inline constexpr int kSettingsSettleMs = 1000;
// Opens the desktop's Wi-Fi settings, trying each program in turn until one opens; `done(false)`
// when none did.
void openWiFiSettings(const ProgramStarter& start, std::function<void(bool opened)> done);

} // namespace velk::WiFiOnboarding

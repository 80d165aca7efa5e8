#pragma once
// What the pairing sheet shows, decided without widgets: the centre item (paused label, QR code,
// expired text or nothing), the candidate box, the message line and the trusted list.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pairing/camera_pairing_core.hpp"
#include "pairing/camera_pairing_invitation.hpp"
#include "pairing/trusted_camera_identity.hpp"

namespace velk {

namespace CameraPairingSheetText {
inline constexpr const char* title = "Pair a camera";
inline constexpr const char* done = "Done";
inline constexpr const char* instructions = "Open Pair Camera on your phone and scan this QR code.";
inline constexpr const char* paused = "Pairing is paused while a camera records.";
inline constexpr const char* validity = "One camera \xE2\x80\xA2 valid for two minutes";
inline constexpr const char* requirement = "Requires QR pairing support in the phone app.";
inline constexpr const char* expired = "Invitation expired. Close this panel and choose Pair Camera again.";
inline constexpr const char* compareCode = "Approve only if the same code is shown on your phone.";
inline constexpr const char* approve = "Approve Camera";
inline constexpr const char* pairedHeading = "Paired on this computer";
inline constexpr const char* remove = "Remove";
} // namespace CameraPairingSheetText

struct CameraPairingSheetView {
    enum class Centre { paused, qrCode, expired, nothing };
    Centre centre = Centre::nothing;
    std::string qrPayload; // the invitation JSON when the centre is the QR code
    bool showsCandidate = false;
    std::string candidateName;
    std::string verificationCode;
    std::optional<std::string> message;
    struct Row {
        std::string id;
        std::string name;
    };
    std::vector<Row> trusted; // the divider and heading show only when this is not empty
};

// `canDrawQRCode` tells whether a QR image can be made from a payload (it is asked only when an
// invitation is open and the sheet is not paused).
CameraPairingSheetView presentCameraPairingSheet(const std::optional<CameraPairingInvitation>& invitation,
                                                 const std::optional<CameraPairingCandidate>& candidate,
                                                 const std::vector<TrustedCameraIdentity>& trusted,
                                                 const std::string& message, bool isRecording,
                                                 const std::function<bool(const std::string& payload)>& canDrawQRCode);

// Only a change to recording cancels the store's attempt; a change back does nothing.
inline bool cancelsOnRecordingChange(bool wasRecording, bool isRecording) { return isRecording && !wasRecording; }

} // namespace velk

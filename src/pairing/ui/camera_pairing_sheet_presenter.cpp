#include "pairing/ui/camera_pairing_sheet_presenter.hpp"

namespace velk {

CameraPairingSheetView presentCameraPairingSheet(const std::optional<CameraPairingInvitation>& invitation,
                                                 const std::optional<CameraPairingCandidate>& candidate,
                                                 const std::vector<TrustedCameraIdentity>& trusted,
                                                 const std::string& message, bool isRecording,
                                                 const std::function<bool(const std::string& payload)>& canDrawQRCode) {
    CameraPairingSheetView view;
    std::optional<std::string> payload;
    if (!isRecording && invitation) {
        try {
            payload = encodeInvitation(*invitation);
        } catch (const std::exception&) {
        }
    }
    if (isRecording) {
        view.centre = CameraPairingSheetView::Centre::paused;
    } else if (payload && canDrawQRCode(*payload)) {
        view.centre = CameraPairingSheetView::Centre::qrCode;
        view.qrPayload = *payload;
    } else if (message.empty()) {
        view.centre = CameraPairingSheetView::Centre::expired;
    }
    if (candidate && !isRecording) {
        view.showsCandidate = true;
        view.candidateName = candidate->name;
        view.verificationCode = candidate->verificationCode();
    }
    if (!message.empty()) view.message = message;
    for (const TrustedCameraIdentity& camera : trusted) view.trusted.push_back({camera.id, camera.name});
    return view;
}

} // namespace velk

#pragma once
// A camera's side of the hello, for the pairing tests: fields that start valid for an invitation,
// signed and MACed the way a phone does, with switches to break one thing at a time.

#include <functional>
#include <optional>
#include <string>

#include "base/json.hpp"
#include "pairing/camera_pairing_core.hpp"
#include "pairing/camera_pairing_wire.hpp"
#include "pairing/pairing_crypto.hpp"
#include "support/qt_test.hpp"

#include <QApplication>

namespace velk::pairing_test {

// The Director and the camera address the pairing tests use.
inline constexpr const char* director = "6f9619ff-8b86-4011-b42d-00c04fc964ff";
inline constexpr const char* camera = "10.77.0.11";

inline Bytes sequence(std::uint8_t first, std::size_t count) {
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}

inline pairing_crypto::SigningKey directorKey() { return pairing_crypto::SigningKey::fromRaw(sequence(0x01, 32)); }
inline pairing_crypto::SigningKey cameraKey() { return pairing_crypto::SigningKey::fromRaw(sequence(0x21, 32)); }
inline Bytes secret() { return sequence(0x40, 32); }

struct Hello {
    std::string director;
    std::string invite;
    std::string request = "7c9e6679-7425-40de-944b-e07fc1f90ae7";
    std::string sender = "cam-A";
    std::string name = "Camera A";
    std::string key = CameraPairingWire::base64(cameraKey().publicKey());
    Bytes macKey;
    pairing_crypto::SigningKey signer = cameraKey();
    std::optional<Bytes> signatureBytes; // replaces the real signature
    std::function<void(Json&)> edit;     // applied to the finished JSON

    // Keyed with the invitation's secret, as a phone that read its QR code.
    explicit Hello(const CameraPairingInvitation& invitation)
        : director(invitation.directorId), invite(invitation.inviteId),
          macKey(CameraPairingWire::bytes(invitation.secret).value_or(Bytes{})) {}

    Bytes transcript() const {
        return CameraPairingWire::helloTranscript(director, invite, request, sender, name, key);
    }
    std::string build() const {
        const Bytes text = transcript();
        const Bytes signature = signatureBytes ? *signatureBytes : signer.sign(text);
        Json root = {{"v", 1},
                     {"type", "pair-hello"},
                     {"sender", sender},
                     {"payload",
                      {{"directorId", director},
                       {"inviteId", invite},
                       {"requestId", request},
                       {"cameraName", name},
                       {"cameraPublicKey", key},
                       {"proof", CameraPairingWire::base64(pairing_crypto::hmacSHA256(macKey, text))},
                       {"signature", CameraPairingWire::base64(signature)}}}};
        if (edit) edit(root);
        return root.dump();
    }
};

} // namespace velk::pairing_test


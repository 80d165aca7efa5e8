#pragma once
// The Director's pairing state machine: the signing key, the open invitation, the one verified
// camera hello that waits for the user's approval and the last signed reply. A plain value: time
// comes in as seconds of monotonic uptime (`now`) and wall time; nothing here touches the network.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/clock.hpp"
#include "base/sha256.hpp"
#include "pairing/camera_pairing_invitation.hpp"
#include "pairing/pairing_crypto.hpp"
#include "pairing/trusted_camera_identity.hpp"

namespace velk {

// A camera hello that passed every check; texts exactly as received.
struct CameraPairingCandidate {
    std::string id; // the hello's "sender"
    std::string name;
    std::string publicKey;
    std::string requestID;
    std::string host;
    Bytes transcript;
    std::string proof;
    std::string signature;

    std::string verificationCode() const;
    bool operator==(const CameraPairingCandidate&) const = default;
};

class CameraPairingCore {
public:
    static constexpr double invitationLifetimeSeconds = 120;
    static constexpr double replyLifetimeSeconds = 120;
    static constexpr int maximumRepeats = 32;
    static constexpr std::size_t maximumDatagramBytes = 8192;
    static constexpr std::int64_t port = 45454;
    static constexpr std::int64_t directorNameLimit = 64;
    static constexpr std::int64_t cameraNameLimit = 64;
    static constexpr std::int64_t senderLimit = 128;
    static constexpr std::size_t secretBytes = 32;
    static constexpr std::size_t proofBytes = 32;
    static constexpr std::size_t signatureLimit = 72;

    struct Approval {
        TrustedCameraIdentity identity;
        std::string datagram; // the "pair-accept" JSON
        std::string host;     // where it goes
    };

    explicit CameraPairingCore(pairing_crypto::SigningKey key) : m_key(std::move(key)) {}

    // Opens a new invitation, replacing any earlier state. Throws CameraPairingError.
    void begin(const std::string& directorID, const std::string& name, const std::string& host, double now,
               WallTime wall, const std::optional<Bytes>& secret = std::nullopt);
    void expire(double now);
    void cancel();
    // A reply for `host`, or none. Never throws for any datagram.
    std::optional<std::string> receive(std::string_view datagram, const std::string& host, double now);
    // Throws CameraPairingError (nothing to approve) or PairingCryptoError / JsonError unchanged.
    Approval approve(double now, WallTime wall);

    static bool isLANHost(std::string_view host);

    const std::optional<CameraPairingInvitation>& invitation() const { return m_invitation; }
    const std::optional<CameraPairingCandidate>& candidate() const { return m_candidate; }
    const pairing_crypto::SigningKey& key() const { return m_key; }

private:
    struct Accepted {
        CameraPairingCandidate candidate;
        std::string response;
        double at = 0;
    };

    pairing_crypto::SigningKey m_key;
    std::optional<CameraPairingInvitation> m_invitation;
    std::optional<CameraPairingCandidate> m_candidate;
    double m_opened = 0;
    std::optional<Accepted> m_accepted;
    int m_retryCount = 0;
};

namespace CameraPairingText {
inline constexpr const char* noNetwork = "Connect this computer to a local Wi-Fi or Ethernet network first.";
inline constexpr const char* invalidInvitationKey = "Invalid invitation key.";
inline constexpr const char* invitationExpired = "Invitation expired. Show a new QR code.";
} // namespace CameraPairingText

} // namespace velk

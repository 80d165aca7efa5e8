#pragma once
// The application's camera pairing service (GUI thread): the pairing core with its invitation and
// pending candidate, the trusted cameras and their file, the Director key, the one-second expiry
// timer and one status sentence, `message`, for the pairing sheet. The application creates one
// at launch; creating it loads the trusted list and nothing else.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "base/clock.hpp"
#include "pairing/camera_pairing_core.hpp"
#include "pairing/camera_pairing_invitation.hpp"
#include "pairing/trusted_camera_identity.hpp"

class QTimer;

namespace velk {

class LiveCameraDiscovery;

class CameraPairingStore final : public QObject {
    Q_OBJECT
public:
    static constexpr int expiryIntervalMs = 1000;

    struct Reply {
        std::string data; // one datagram for the control channel
        std::string host; // the camera's IPv4 address
    };

    // `dataFolder`: where "trusted-cameras-v1.json" and the Director key live; by default the
    // folder the application store uses ($XDG_DATA_HOME/Velk).
    explicit CameraPairingStore(std::optional<std::filesystem::path> dataFolder = std::nullopt,
                                const Clock& clock = SystemClock::shared(), QObject* parent = nullptr);
    ~CameraPairingStore() override;

    // Published state.
    const std::optional<CameraPairingInvitation>& invitation() const { return m_invitation; }
    const std::optional<CameraPairingCandidate>& candidate() const { return m_candidate; }
    const std::vector<TrustedCameraIdentity>& trusted() const { return m_trusted; }
    const std::string& message() const { return m_message; }

    // Opens a new pairing attempt; failures go to `message`.
    void begin(const std::string& directorID, const std::optional<std::string>& host);
    void cancel();
    // A reply to send back to `host`, or none.
    std::optional<Reply> receive(const std::string& datagram, const std::string& host);
    // The accept datagram and the camera's address, which the caller sends; none on failure.
    std::optional<Reply> approve();
    void forget(const std::string& id);

    // Makes this store the channel's pairing handler: each hello goes to `receive`, and a reply
    // leaves through the channel's `sendPairingPacket`. Undone when either object goes away.
    void attach(LiveCameraDiscovery& channel);

    std::filesystem::path dataFolder() const { return m_dataFolder; }
    std::filesystem::path recordsFile() const;
    bool isExpiryTimerRunning() const { return m_timer != nullptr; }
    // One tick of the expiry timer (the timer calls it every second; tests call it with their clock).
    void expiryTick();
    // Where the Director name comes from; the computer's name as the desktop shows it unless
    // replaced (for tests).
    void setHostNameSource(std::function<std::optional<std::string>()> source) { m_hostName = std::move(source); }
    // The invitation's Director name from a host name: control and format characters become
    // spaces, cut to 64 UTF-8 bytes on a character boundary, "Kestova Desktop" when none is left.
    static std::string directorName(const std::optional<std::string>& hostName);

Q_SIGNALS:
    void invitationChanged();
    void candidateChanged();
    void trustedChanged();
    void messageChanged();

private:
    void load();
    void synchronize();
    void setMessage(std::string message);
    void setTrusted(std::vector<TrustedCameraIdentity> trusted);
    // Writes the list, first keeping an unreadable file aside.
    void write(const std::vector<TrustedCameraIdentity>& list, bool createFolder);
    // The sentence followed by where an unreadable file was kept, until a write has succeeded:
    // a failed write must not lose the only word of where the old list went.
    std::string withKeptAsideNotice(std::string sentence) const;
    double uptimeSeconds() const { return m_clock.monotonicMs() / 1000.0; }

    std::optional<CameraPairingInvitation> m_invitation;
    std::optional<CameraPairingCandidate> m_candidate;
    std::vector<TrustedCameraIdentity> m_trusted;
    std::string m_message;
    std::optional<CameraPairingCore> m_core;
    QTimer* m_timer = nullptr;

    std::filesystem::path m_dataFolder;
    const Clock& m_clock;
    std::function<std::optional<std::string>()> m_hostName;
    bool m_unreadableFileOnDisk = false;
    std::optional<std::filesystem::path> m_keptAsideAs;
};

namespace CameraPairingText {
inline constexpr const char* noHost = "Connect this computer to a local network first.";
inline constexpr const char* listFull = "Pairing list is full. Remove an old camera first.";
inline constexpr const char* removeFailedPrefix = "Could not remove camera trust: ";
inline constexpr const char* defaultDirectorName = "Kestova Desktop";
} // namespace CameraPairingText

} // namespace velk

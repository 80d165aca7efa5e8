#pragma once
// The computer's end of the live camera channel: one UDP socket on port 45454 that hears camera
// announcements and status (unicast and the multicast group) and carries the Director's recording
// commands, transfer-mode requests and pairing datagrams; TCP identity probes to port 45455; the
// published camera list. Socket, timers, probes and the recording coordinator live on the
// channel's own thread (live_camera_channel.hpp); every published property changes on the GUI
// thread only.
//
// Waiting rule: the GUI thread may wait on the channel thread, never the reverse. The destructor
// waits for the channel to be deleted on its thread; the channel only posts to the GUI thread and
// never blocks on it, so that wait always ends.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "base/clock.hpp"
#include "base/executor.hpp"
#include "director/director_recording_coordinator.hpp"
#include "discovery/transfer_mode_request.hpp"
#include "model/live_camera.hpp"

namespace velk {

class SleepMonitor;

class LiveCameraDiscovery final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* group = "239.255.71.42";
    static constexpr std::uint16_t port = 45454;
    static constexpr double identityRefreshAge = 2.5;

    // What tests and benchmarks may change; the application uses the defaults.
    struct Options {
        std::uint16_t port = LiveCameraDiscovery::port;
        std::uint16_t probePort = 45455;
        std::string group = LiveCameraDiscovery::group;
        // The usable local IPv4 addresses; the system's when empty.
        std::function<std::vector<std::string>()> localLinks;
        bool watchNetworkPath = true;
        bool watchSleep = true;
        // How long a transfer-mode request waits for the camera's acknowledgement.
        int transferRequestLifetimeMs = 30000;
        // Every "now" of the channel and of the camera list; read from both threads.
        const Clock* clock = &SystemClock::shared();
        struct Intervals {
            int scanFirstMs = 400;
            int scanEveryMs = 15000;
            int peerRefreshMs = 3000;
            int livenessMs = 1000;
            int recordingMs = 100;
        } intervals;
    };

    explicit LiveCameraDiscovery(bool startAutomatically = true, std::vector<LiveCamera> initialCameras = {},
                                 QObject* parent = nullptr);
    LiveCameraDiscovery(Options options, bool startAutomatically, std::vector<LiveCamera> initialCameras,
                        QObject* parent = nullptr);
    ~LiveCameraDiscovery() override;

    // Published state (GUI thread).
    const std::vector<LiveCamera>& cameras() const { return m_cameras; }
    bool isListening() const { return m_isListening; }
    bool isActiveScanning() const { return m_isActiveScanning; }
    const std::optional<std::string>& errorMessage() const { return m_errorMessage; }
    const std::optional<TransferModeRequestState>& transferModeRequest() const { return m_transferModeRequest; }
    const std::optional<std::string>& lastControlMessage() const { return m_lastControlMessage; }
    std::uint64_t livenessTick() const { return m_livenessTick; }
    const DirectorRecordingStatus& recordingStatus() const { return m_recordingStatus; }

    // Receiver of pairing hellos (datagram bytes, sender's dotted IPv4 address); GUI thread.
    std::function<void(const std::string& datagram, const std::string& host)> pairingPacketHandler;

    void start();
    void stop();
    void rescan();

    void configureRecording(const std::string& sender);
    void beginRecording(const std::vector<LiveCamera>& cameras, const std::string& sender,
                        const DirectorTakeAssignment& assignment);
    void stopRecording(const std::vector<LiveCamera>& cameras, const std::string& sender, bool all);

    void sendPairingPacket(const std::string& datagram, const std::string& host);
    std::optional<std::string> pairingHost() const;

    // Returns the request id, or none when no request was sent.
    std::optional<std::string> requestTransferMode(const LiveCamera& camera, const std::string& collectorID,
                                                   const std::string& collectorName);

    // The reaction to the computer going to sleep or waking up (logind calls it through the
    // sleep monitor): the recording coordinator is suspended, the socket stays open.
    void handleSleepOrWake();

Q_SIGNALS:
    void camerasChanged();
    void isListeningChanged();
    void isActiveScanningChanged();
    void errorMessageChanged();
    void transferModeRequestChanged();
    void lastControlMessageChanged();
    void livenessTickChanged();
    void recordingStatusChanged();

private:
    class Channel;
    friend class Channel;

    void setCameras(std::vector<LiveCamera> cameras);
    void setListening(bool listening);
    void setActiveScanning(bool scanning);
    void setErrorMessage(std::optional<std::string> message);
    void setTransferModeRequest(TransferModeRequestState state);
    void setLastControlMessage(std::optional<std::string> message);
    void publishRecordingStatus(const DirectorRecordingStatus& status);
    void ingest(const std::string& sender, const std::string& host, const Json& payload,
                const std::optional<std::string>& session);
    void livenessTickFired();
    void publishTransferFailure(const std::string& requestID, const std::string& cameraID,
                                const std::string& cameraName, const std::string& message);

    Options m_options;
    std::vector<LiveCamera> m_cameras;
    bool m_isListening = false;
    bool m_isActiveScanning = false;
    std::optional<std::string> m_errorMessage;
    std::optional<TransferModeRequestState> m_transferModeRequest;
    std::optional<std::string> m_lastControlMessage;
    std::uint64_t m_livenessTick = 0;
    DirectorRecordingStatus m_recordingStatus;

    std::unique_ptr<ServiceThread> m_thread;
    Channel* m_channel = nullptr; // lives on m_thread
    std::unique_ptr<SleepMonitor> m_sleepMonitor;
    std::shared_ptr<struct CameraListMirror> m_mirror;
};

} // namespace velk

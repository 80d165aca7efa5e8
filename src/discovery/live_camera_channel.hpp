#pragma once
// The live camera channel's own thread: the UDP socket, the timers, the identity probes, the
// transfer-mode requests in flight and the recording coordinator. Private to LiveCameraDiscovery,
// which makes it, moves it to its ServiceThread, posts every call to it and deletes it there.
//
// Waiting rule: the GUI thread may wait on the channel thread (LiveCameraDiscovery's destructor
// does), never the reverse. The channel reaches the GUI thread only by posting (toOwner) and reads
// the published camera list from CameraListMirror under that mirror's own short lock, so it never
// blocks behind the GUI thread and a GUI thread waiting on it cannot deadlock.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include <QObject>

#include "base/clock.hpp"
#include "director/director_recording_coordinator.hpp"
#include "discovery/identity_probe.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "discovery/live_camera_packet.hpp"
#include "discovery/snapshot_order_filter.hpp"
#include "discovery/transfer_mode_request.hpp"

class QSocketNotifier;
class QTimer;

namespace velk {

class NetworkPathMonitor;

// The camera list as last published, for the channel's scan and refresh: the channel reads it
// without waiting on the GUI thread, so it never blocks behind the GUI.
struct CameraListMirror {
    std::mutex mutex;
    std::vector<LiveCamera> cameras;
};

class LiveCameraDiscovery::Channel final : public QObject {
public:
    Channel(LiveCameraDiscovery* owner, Options options, std::shared_ptr<CameraListMirror> mirror);
    ~Channel() override;

    // --- lifecycle ---
    void startSequence();
    void stopSequence();
    void suspendCoordinator();

    // --- socket ---
    void openSocket();
    void closeSocket();
    void report(const std::string& message);

    // Fire and forget; returns what sendto returned. Only dotted IPv4 text is ever a destination.
    ssize_t sendDatagram(const std::string& host, std::string_view bytes);
    std::vector<std::string> links() const;

    // --- timers ---
    QTimer* makeTimer(QTimer*& slot, int intervalMs, std::function<void()> handler);
    void startScanTimer();
    void startPeerRefreshTimer();
    void startLivenessTimer();
    void startRecordingTimer();
    void recordingTick();
    void pathUpdate();

    // --- recording carriage ---
    void flushRecordingCommands();
    void configureRecording(const std::string& sender);
    void beginRecording(const std::vector<std::string>& ids, const std::string& sender,
                        const DirectorTakeAssignment& assignment);
    void stopRecording(const std::vector<std::string>& ids, const std::string& sender, bool all);
    void sendPairingPacket(const std::string& datagram, const std::string& host);

    // --- receive path ---
    void receive();
    void handleDatagram(std::string_view datagram, const std::string& host);
    void updateRecordingPeer(const LiveCameraPacket& packet, const std::string& host);
    void postIngest(const LiveCameraPacket& packet, const std::string& host);

    // --- active scan and identity probes ---
    struct Probe {
        std::string host;
        int fd = -1;
        QSocketNotifier* writable = nullptr;
        QSocketNotifier* readable = nullptr;
        std::uint64_t startRevision = 0;
        IdentityReplyReader reader;
        Probe() = default;
        Probe(const Probe&) = delete;
        Probe& operator=(const Probe&) = delete;
        ~Probe();
    };
    void beginActiveScan(bool force);
    void peerRefresh();
    void launchNextProbes();
    void probe(const std::string& host);
    Probe* findProbe(std::uint64_t id);
    void probeConnected(std::uint64_t id);
    void probeReadable(std::uint64_t id);
    void handleProbeReply(const Probe& probe);
    void endProbe(std::uint64_t id);

    // --- transfer-mode request ---
    void sendTransferRequest(const std::string& requestID, const std::string& cameraID, const std::string& cameraName,
                             const std::string& host, const std::string& collectorID, const std::string& datagram);
    void expireTransferRequest(const std::string& requestID);
    void handleTransferModeResponse(const std::string& sender, const std::string& host, const Json& payload);
    void publishTransferFailure(const std::string& requestID, const std::string& cameraID,
                                const std::string& cameraName, const std::string& message);

    // Posts to the GUI thread; a post reaching an owner that is gone is dropped by Qt.
    void toOwner(std::function<void(LiveCameraDiscovery&)> fn);

private:
    LiveCameraDiscovery* m_owner;
    Options m_options;
    std::shared_ptr<CameraListMirror> m_mirror;
    int m_fd = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QTimer* m_scanTimer = nullptr;
    QTimer* m_peerRefreshTimer = nullptr;
    QTimer* m_livenessTimer = nullptr;
    QTimer* m_recordingTimer = nullptr;
    NetworkPathMonitor* m_networkMonitor = nullptr;
    std::optional<std::string> m_networkSignature;
    DirectorRecordingCoordinator m_coordinator;
    SnapshotOrderTable m_orders;
    PendingTransferRequests m_pendingTransfers;
    std::deque<std::string> m_queuedProbeHosts;
    std::map<std::uint64_t, std::unique_ptr<Probe>> m_probes;
    std::uint64_t m_nextProbeID = 0;
};

} // namespace velk

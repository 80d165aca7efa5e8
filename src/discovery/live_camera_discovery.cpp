#include "discovery/live_camera_discovery.hpp"

#include <algorithm>
#include <mutex>

#include "base/uuid.hpp"
#include "discovery/camera_status_ingest.hpp"
#include "discovery/live_camera_channel.hpp"
#include "model/pairing_bodies.hpp"
#include "discovery/local_interfaces.hpp"
#include "discovery/sleep_monitor.hpp"

namespace velk {

namespace {

std::vector<std::string> idsOf(const std::vector<LiveCamera>& cameras) {
    std::vector<std::string> ids;
    ids.reserve(cameras.size());
    for (const LiveCamera& camera : cameras) ids.push_back(camera.id);
    return ids;
}

} // namespace

// --- LiveCameraDiscovery (GUI thread) ---

LiveCameraDiscovery::LiveCameraDiscovery(bool startAutomatically, std::vector<LiveCamera> initialCameras,
                                         QObject* parent)
    : LiveCameraDiscovery(Options{}, startAutomatically, std::move(initialCameras), parent) {}

LiveCameraDiscovery::LiveCameraDiscovery(Options options, bool startAutomatically,
                                         std::vector<LiveCamera> initialCameras, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_mirror(std::make_shared<CameraListMirror>()) {
    m_thread = std::make_unique<ServiceThread>("live-discovery");
    m_channel = new Channel(this, m_options, m_mirror);
    m_channel->moveToThread(m_thread->thread());
    setCameras(std::move(initialCameras));
    if (startAutomatically) start();
    if (m_options.watchSleep) m_sleepMonitor = std::make_unique<SleepMonitor>([this] { handleSleepOrWake(); });
}

LiveCameraDiscovery::~LiveCameraDiscovery() {
    m_sleepMonitor.reset();
    Channel* channel = m_channel;
    m_channel = nullptr;
    m_thread->invokeBlocking([channel] { delete channel; });
    m_thread.reset();
}

void LiveCameraDiscovery::start() {
    postTo(m_channel, [channel = m_channel] { channel->startSequence(); });
}

void LiveCameraDiscovery::stop() {
    postTo(m_channel, [channel = m_channel] { channel->stopSequence(); });
}

void LiveCameraDiscovery::rescan() {
    postTo(m_channel, [channel = m_channel] { channel->beginActiveScan(true); });
}

void LiveCameraDiscovery::handleSleepOrWake() {
    postTo(m_channel, [channel = m_channel] { channel->suspendCoordinator(); });
}

void LiveCameraDiscovery::configureRecording(const std::string& sender) {
    postTo(m_channel, [channel = m_channel, sender] { channel->configureRecording(sender); });
}

void LiveCameraDiscovery::beginRecording(const std::vector<LiveCamera>& cameras, const std::string& sender,
                                         const DirectorTakeAssignment& assignment) {
    postTo(m_channel, [channel = m_channel, ids = idsOf(cameras), sender, assignment] {
        channel->beginRecording(ids, sender, assignment);
    });
}

void LiveCameraDiscovery::stopRecording(const std::vector<LiveCamera>& cameras, const std::string& sender, bool all) {
    postTo(m_channel,
           [channel = m_channel, ids = idsOf(cameras), sender, all] { channel->stopRecording(ids, sender, all); });
}

void LiveCameraDiscovery::sendPairingPacket(const std::string& datagram, const std::string& host) {
    if (datagram.size() > maximumDatagramBytes) return;
    postTo(m_channel, [channel = m_channel, datagram, host] { channel->sendPairingPacket(datagram, host); });
}

std::optional<std::string> LiveCameraDiscovery::pairingHost() const {
    return pairingHostFrom(m_options.localLinks ? m_options.localLinks() : localIPv4Links());
}

std::optional<std::string> LiveCameraDiscovery::requestTransferMode(const LiveCamera& camera,
                                                                    const std::string& collectorID,
                                                                    const std::string& collectorName) {
    std::string requestID = uuid::newUppercase();
    std::string name = cleanedCollectorName(collectorName);
    if (!camera.isOnline(m_options.clock->now())) {
        publishTransferFailure(requestID, camera.id, camera.name, TransferModeText::notReady());
        return std::nullopt;
    }
    if (name.empty()) name = std::string(defaultCollectorName);
    auto datagram = transferModeRequestData(collectorID, camera.id, requestID, name, toWallMs(m_options.clock->now()));
    if (!datagram) {
        publishTransferFailure(requestID, camera.id, camera.name, TransferModeText::notReady());
        return std::nullopt;
    }
    TransferModeRequestState sent{requestID, camera.id, camera.name, TransferModeText::requestSent(camera.name), false};
    postTo(this, [this, sent] { setTransferModeRequest(sent); });
    postTo(m_channel, [channel = m_channel, requestID, id = camera.id, cameraName = camera.name, host = camera.host,
                       collectorID, data = *datagram] {
        channel->sendTransferRequest(requestID, id, cameraName, host, collectorID, data);
    });
    return requestID;
}

void LiveCameraDiscovery::publishTransferFailure(const std::string& requestID, const std::string& cameraID,
                                                 const std::string& cameraName, const std::string& message) {
    TransferModeRequestState state{requestID, cameraID, cameraName, message, true};
    postTo(this, [this, state] { setTransferModeRequest(state); });
}

void LiveCameraDiscovery::ingest(const std::string& sender, const std::string& host, const Json& payload,
                                 const std::optional<std::string>& session) {
    std::vector<LiveCamera> next = m_cameras;
    if (!ingestCamera(next, sender, host, payload, session, m_options.clock->now())) return;
    setCameras(std::move(next));
}

void LiveCameraDiscovery::livenessTickFired() {
    if (m_cameras.empty()) return;
    WallTime now = m_options.clock->now();
    if (std::any_of(m_cameras.begin(), m_cameras.end(), [&](const LiveCamera& c) { return c.isExpired(now); })) {
        std::vector<LiveCamera> kept;
        for (const LiveCamera& camera : m_cameras)
            if (!camera.isExpired(now)) kept.push_back(camera);
        setCameras(std::move(kept));
    }
    ++m_livenessTick;
    Q_EMIT livenessTickChanged();
}

void LiveCameraDiscovery::setCameras(std::vector<LiveCamera> cameras) {
    m_cameras = std::move(cameras);
    {
        std::lock_guard lock(m_mirror->mutex);
        m_mirror->cameras = m_cameras;
    }
    Q_EMIT camerasChanged();
}

void LiveCameraDiscovery::setListening(bool listening) {
    if (m_isListening == listening) return;
    m_isListening = listening;
    Q_EMIT isListeningChanged();
}

void LiveCameraDiscovery::setActiveScanning(bool scanning) {
    if (m_isActiveScanning == scanning) return;
    m_isActiveScanning = scanning;
    Q_EMIT isActiveScanningChanged();
}

void LiveCameraDiscovery::setErrorMessage(std::optional<std::string> message) {
    if (m_errorMessage == message) return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

void LiveCameraDiscovery::setTransferModeRequest(TransferModeRequestState state) {
    m_transferModeRequest = std::move(state);
    Q_EMIT transferModeRequestChanged();
}

void LiveCameraDiscovery::setLastControlMessage(std::optional<std::string> message) {
    m_lastControlMessage = std::move(message);
    Q_EMIT lastControlMessageChanged();
}

// The status's message is the last control message already as the status change is told: a window
// that greys out a control at the change tells the message first.
void LiveCameraDiscovery::publishRecordingStatus(const DirectorRecordingStatus& status) {
    if (status == m_recordingStatus) return;
    m_recordingStatus = status;
    m_lastControlMessage = status.message;
    Q_EMIT recordingStatusChanged();
    Q_EMIT lastControlMessageChanged();
}

} // namespace velk

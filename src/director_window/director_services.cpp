#include "director_window/director_services.hpp"

#include "discovery/live_camera_discovery.hpp"

namespace velk {

LiveCameraDiscoveryChannel::LiveCameraDiscoveryChannel(LiveCameraDiscovery& discovery, QObject* parent)
    : DirectorLiveChannel(parent), m_discovery(discovery) {
    connect(&discovery, &LiveCameraDiscovery::camerasChanged, this, &DirectorLiveChannel::camerasChanged);
    connect(&discovery, &LiveCameraDiscovery::livenessTickChanged, this, &DirectorLiveChannel::livenessTickChanged);
    connect(&discovery, &LiveCameraDiscovery::isActiveScanningChanged, this,
            &DirectorLiveChannel::isActiveScanningChanged);
    connect(&discovery, &LiveCameraDiscovery::lastControlMessageChanged, this,
            &DirectorLiveChannel::lastControlMessageChanged);
    connect(&discovery, &LiveCameraDiscovery::recordingStatusChanged, this,
            &DirectorLiveChannel::recordingStatusChanged);
}

const std::vector<LiveCamera>& LiveCameraDiscoveryChannel::cameras() const { return m_discovery.cameras(); }
std::uint64_t LiveCameraDiscoveryChannel::livenessTick() const { return m_discovery.livenessTick(); }
bool LiveCameraDiscoveryChannel::isActiveScanning() const { return m_discovery.isActiveScanning(); }
std::optional<std::string> LiveCameraDiscoveryChannel::lastControlMessage() const {
    return m_discovery.lastControlMessage();
}
DirectorRecordingStatus LiveCameraDiscoveryChannel::recordingStatus() const { return m_discovery.recordingStatus(); }
void LiveCameraDiscoveryChannel::clearPairingHandler() { m_discovery.pairingPacketHandler = nullptr; }
void LiveCameraDiscoveryChannel::rescan() { m_discovery.rescan(); }
void LiveCameraDiscoveryChannel::configureRecording(const std::string& sender) { m_discovery.configureRecording(sender); }
void LiveCameraDiscoveryChannel::beginRecording(const std::vector<LiveCamera>& cameras, const std::string& sender,
                                                const DirectorTakeAssignment& assignment) {
    m_discovery.beginRecording(cameras, sender, assignment);
}
void LiveCameraDiscoveryChannel::stopRecording(const std::vector<LiveCamera>& cameras, const std::string& sender,
                                               bool all) {
    m_discovery.stopRecording(cameras, sender, all);
}

} // namespace velk

#include "director_window/director_services.hpp"

#include "discovery/live_camera_discovery.hpp"
#include "preview/live_preview_store.hpp"

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

namespace {

template <class Map>
const typename Map::mapped_type* entry(const Map& map, const std::string& key) {
    auto found = map.find(key);
    return found == map.end() ? nullptr : &found->second;
}

template <class Map>
std::optional<typename Map::mapped_type> optionalEntry(const Map& map, const std::string& key) {
    auto found = map.find(key);
    if (found == map.end()) return std::nullopt;
    return found->second;
}

} // namespace

LivePreviewStoreFeed::LivePreviewStoreFeed(LivePreviewStore* store, QObject* parent)
    : DirectorPreviewFeed(parent), m_store(store) {
    m_store->setParent(this);
    connect(m_store, &LivePreviewStore::wallFramesChanged, this, &DirectorPreviewFeed::wallFramesChanged);
    connect(m_store, &LivePreviewStore::selectedFramesChanged, this, &DirectorPreviewFeed::selectedFramesChanged);
    connect(m_store, &LivePreviewStore::errorsChanged, this, &DirectorPreviewFeed::errorsChanged);
    connect(m_store, &LivePreviewStore::wallTransportsChanged, this, &DirectorPreviewFeed::transportsChanged);
    connect(m_store, &LivePreviewStore::selectedTransportsChanged, this, &DirectorPreviewFeed::transportsChanged);
}

LivePreviewStoreFeed::~LivePreviewStoreFeed() = default;

void LivePreviewStoreFeed::start(const std::vector<LiveCamera>& cameras) { m_store->start(cameras); }
void LivePreviewStoreFeed::update(const std::vector<LiveCamera>& cameras) { m_store->update(cameras); }
void LivePreviewStoreFeed::select(const std::set<std::string>& cameraIDs) { m_store->select(cameraIDs); }
void LivePreviewStoreFeed::stop() { m_store->stop(); }
const QImage* LivePreviewStoreFeed::wallFrame(const std::string& id) const { return entry(m_store->wallFrames(), id); }
const QImage* LivePreviewStoreFeed::selectedFrame(const std::string& id) const {
    return entry(m_store->selectedFrames(), id);
}
std::optional<std::string> LivePreviewStoreFeed::error(const std::string& id) const {
    return optionalEntry(m_store->errors(), id);
}
std::optional<VELKPreviewClient::Transport> LivePreviewStoreFeed::wallTransport(const std::string& id) const {
    return optionalEntry(m_store->wallTransports(), id);
}
std::optional<VELKPreviewClient::Transport> LivePreviewStoreFeed::selectedTransport(const std::string& id) const {
    return optionalEntry(m_store->selectedTransports(), id);
}
std::vector<std::string> LivePreviewStoreFeed::camerasWithWallFrames() const {
    std::vector<std::string> ids;
    for (const auto& [id, frame] : m_store->wallFrames()) ids.push_back(id); // std::map: already sorted
    return ids;
}

} // namespace velk

#include "discovery/live_camera_channel.hpp"

#include <algorithm>
#include <cerrno>

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "director/recording_wire.hpp"
#include "discovery/camera_status_ingest.hpp"
#include "discovery/local_interfaces.hpp"
#include "discovery/network_path_monitor.hpp"
#include "discovery/wire_readers.hpp"

namespace velk {

namespace {

constexpr const char* socketCreationFailed = "Could not create the Kestova discovery socket.";
constexpr const char* portUnavailable = "UDP port 45454 is unavailable.";
constexpr const char* recordingNotRequested = "Camera network is unavailable. Recording was not requested.";
constexpr const char* stopNotSent = "Camera network is unavailable. Stop was not sent.";

} // namespace

LiveCameraDiscovery::Channel::Probe::~Probe() {
    for (QSocketNotifier* notifier : {writable, readable}) {
        if (!notifier) continue;
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    if (fd >= 0) ::close(fd);
}

LiveCameraDiscovery::Channel::Channel(LiveCameraDiscovery* owner, Options options, std::shared_ptr<CameraListMirror> mirror)
    : m_owner(owner), m_options(std::move(options)), m_mirror(std::move(mirror)) {}

LiveCameraDiscovery::Channel::~Channel() {
    m_probes.clear();
    closeSocket();
}

void LiveCameraDiscovery::Channel::startSequence() {
    openSocket();
    startScanTimer();
    startPeerRefreshTimer();
    startLivenessTimer();
    startRecordingTimer();
}

void LiveCameraDiscovery::Channel::stopSequence() {
    suspendCoordinator();
    closeSocket();
    for (QTimer** timer : {&m_scanTimer, &m_peerRefreshTimer, &m_livenessTimer, &m_recordingTimer}) {
        delete *timer;
        *timer = nullptr;
    }
    delete m_networkMonitor;
    m_networkMonitor = nullptr;
    m_queuedProbeHosts.clear();
    m_probes.clear();
    toOwner([](LiveCameraDiscovery& owner) { owner.setListening(false); });
}

void LiveCameraDiscovery::Channel::suspendCoordinator() {
    m_coordinator.suspend(m_options.clock->monotonicMs());
    flushRecordingCommands();
}

void LiveCameraDiscovery::Channel::openSocket() {
    if (m_fd >= 0) return;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        report(socketCreationFailed);
        return;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_options.port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        report(portUnavailable);
        return;
    }
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    m_fd = fd;
    in_addr groupAddress{};
    ::inet_pton(AF_INET, m_options.group.c_str(), &groupAddress);
    for (const std::string& link : links()) {
        ip_mreq membership{};
        membership.imr_multiaddr = groupAddress;
        if (::inet_pton(AF_INET, link.c_str(), &membership.imr_interface) != 1) continue;
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
    }
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { receive(); });
    toOwner([](LiveCameraDiscovery& owner) {
        owner.setListening(true);
        owner.setErrorMessage(std::nullopt);
    });
}

void LiveCameraDiscovery::Channel::closeSocket() {
    int fd = m_fd;
    m_fd = -1;
    if (m_readNotifier) {
        m_readNotifier->setEnabled(false);
        m_readNotifier->deleteLater();
        m_readNotifier = nullptr;
    }
    if (fd >= 0) ::close(fd);
}

void LiveCameraDiscovery::Channel::report(const std::string& message) {
    toOwner([message](LiveCameraDiscovery& owner) {
        owner.setErrorMessage(message);
        owner.setListening(false);
    });
}

ssize_t LiveCameraDiscovery::Channel::sendDatagram(const std::string& host, std::string_view bytes) {
    if (m_fd < 0 || !isDottedIPv4(host)) return -1;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(m_options.port);
    if (::inet_pton(AF_INET, host.c_str(), &destination.sin_addr) != 1) return -1;
    return ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&destination),
                    sizeof destination);
}

std::vector<std::string> LiveCameraDiscovery::Channel::links() const {
    return m_options.localLinks ? m_options.localLinks() : localIPv4Links();
}

QTimer* LiveCameraDiscovery::Channel::makeTimer(QTimer*& slot, int intervalMs, std::function<void()> handler) {
    delete slot;
    slot = new QTimer(this);
    slot->setTimerType(Qt::PreciseTimer);
    slot->setInterval(intervalMs);
    connect(slot, &QTimer::timeout, this, std::move(handler));
    slot->start();
    return slot;
}

void LiveCameraDiscovery::Channel::startScanTimer() {
    makeTimer(m_scanTimer, m_options.intervals.scanFirstMs, [this] {
        const int every = m_options.intervals.scanEveryMs;
        if (m_scanTimer->interval() != every) m_scanTimer->setInterval(every);
        beginActiveScan(false);
    });
}

void LiveCameraDiscovery::Channel::startPeerRefreshTimer() {
    makeTimer(m_peerRefreshTimer, m_options.intervals.peerRefreshMs, [this] { peerRefresh(); });
}

void LiveCameraDiscovery::Channel::startLivenessTimer() {
    makeTimer(m_livenessTimer, m_options.intervals.livenessMs,
              [this] { toOwner([](LiveCameraDiscovery& owner) { owner.livenessTickFired(); }); });
}

void LiveCameraDiscovery::Channel::startRecordingTimer() {
    makeTimer(m_recordingTimer, m_options.intervals.recordingMs, [this] { recordingTick(); });
    QTimer::singleShot(0, this, [this] { recordingTick(); });
    if (m_options.watchNetworkPath) {
        delete m_networkMonitor;
        m_networkMonitor = new NetworkPathMonitor([this] { pathUpdate(); }, this);
        m_networkMonitor->start();
    }
}

void LiveCameraDiscovery::Channel::recordingTick() {
    m_coordinator.tick(m_options.clock->monotonicMs());
    flushRecordingCommands();
}

void LiveCameraDiscovery::Channel::pathUpdate() {
    auto entries = systemInterfaceAddresses();
    auto currentLinks = links();
    std::string signature = pathSignature(currentLinks.empty() ? "unsatisfied" : "satisfied",
                                          usableInterfaceNames(entries), currentLinks);
    if (m_networkSignature && *m_networkSignature != signature) {
        suspendCoordinator();
        closeSocket();
        openSocket();
    }
    m_networkSignature = signature;
}

void LiveCameraDiscovery::Channel::flushRecordingCommands() {
    for (const DirectorRecordingCommand& command : m_coordinator.drain()) {
        if (m_fd < 0) continue;
        auto bytes = RecordingWire::packet(m_coordinator.sender(), command.payload, toWallMs(m_options.clock->now()));
        if (!bytes) continue;
        sendDatagram(command.host.value_or(m_options.group),
                     std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    }
    DirectorRecordingStatus status = m_coordinator.status();
    toOwner([status = std::move(status)](LiveCameraDiscovery& owner) { owner.publishRecordingStatus(status); });
}

void LiveCameraDiscovery::Channel::configureRecording(const std::string& sender) { m_coordinator.identify(sender); }

void LiveCameraDiscovery::Channel::beginRecording(const std::vector<std::string>& ids, const std::string& sender,
                                                  const DirectorTakeAssignment& assignment) {
    m_coordinator.identify(sender);
    if (m_fd < 0) {
        toOwner([](LiveCameraDiscovery& owner) { owner.setLastControlMessage(recordingNotRequested); });
        return;
    }
    m_coordinator.begin(ids, assignment, m_options.clock->monotonicMs());
    flushRecordingCommands();
}

void LiveCameraDiscovery::Channel::stopRecording(const std::vector<std::string>& ids, const std::string& sender, bool all) {
    m_coordinator.identify(sender);
    m_coordinator.stop(ids, all, m_options.clock->monotonicMs());
    flushRecordingCommands();
    // The coordinator keeps its retry schedule, but the operator must not read that a stop
    // went out when no socket could carry it.
    if (m_fd < 0) toOwner([](LiveCameraDiscovery& owner) { owner.setLastControlMessage(stopNotSent); });
}

void LiveCameraDiscovery::Channel::sendPairingPacket(const std::string& datagram, const std::string& host) {
    if (m_fd < 0) return;
    sendDatagram(host, datagram);
}

void LiveCameraDiscovery::Channel::receive() {
    if (m_fd < 0) return;
    std::vector<char> buffer(maximumDatagramBytes + 1, 0);
    while (m_fd >= 0) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                               &fromLength);
        if (n <= 0) break;
        if (static_cast<std::size_t>(n) > maximumDatagramBytes) continue;
        char text[INET_ADDRSTRLEN] = {};
        std::string host;
        if (from.sin_family == AF_INET && ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text)) host = text;
        handleDatagram(std::string_view(buffer.data(), static_cast<std::size_t>(n)), host);
    }
}

void LiveCameraDiscovery::Channel::handleDatagram(std::string_view datagram, const std::string& host) {
    auto root = json::tryParse(datagram);
    const Json* type = root ? wire::member(*root, "type") : nullptr;
    // Only a "command" can pass the recording reader; parsing once spares the others.
    if (type && type->is_string() && type->get<std::string>() == "command") {
        if (auto command = RecordingWire::command(datagram)) {
            m_coordinator.receive(command->sender, host, command->session, command->payload, m_options.clock->monotonicMs());
            flushRecordingCommands();
        }
    }
    if (type && type->is_string() && type->get<std::string>() == "pair-hello") {
        std::string bytes(datagram);
        toOwner([bytes = std::move(bytes), host](LiveCameraDiscovery& owner) {
            if (owner.pairingPacketHandler) owner.pairingPacketHandler(bytes, host);
        });
        return;
    }
    if (!root) return;
    if (auto response = decodeTransferModeResponse(*root, datagram.size())) {
        handleTransferModeResponse(response->sender, host, response->payload);
        return;
    }
    auto packet = decodePacket(*root, datagram.size());
    if (!packet) return;
    if (!m_orders.acceptSnapshot(*packet, m_options.clock->monotonicMs(), true, true)) return;
    updateRecordingPeer(*packet, host);
    m_orders.recordUDPSnapshot(packet->cameraID());
    postIngest(*packet, host);
}

void LiveCameraDiscovery::Channel::updateRecordingPeer(const LiveCameraPacket& packet, const std::string& host) {
    if (isDirectorSnapshot(packet.payload)) return;
    double now = m_options.clock->monotonicMs();
    m_coordinator.update(recordingPeer(packet, host, now), now);
    flushRecordingCommands();
}

void LiveCameraDiscovery::Channel::postIngest(const LiveCameraPacket& packet, const std::string& host) {
    toOwner([sender = packet.sender, host, payload = packet.payload,
             session = packet.sessionText()](LiveCameraDiscovery& owner) {
        owner.ingest(sender, host, payload, session);
    });
}

void LiveCameraDiscovery::Channel::beginActiveScan(bool force) {
    if (!m_probes.empty() || !m_queuedProbeHosts.empty()) return;
    if (!force) {
        WallTime now = m_options.clock->now();
        std::lock_guard lock(m_mirror->mutex);
        for (const LiveCamera& camera : m_mirror->cameras)
            if (camera.isOnline(now)) return;
    }
    auto candidates = scanCandidates(links());
    if (candidates.empty()) return;
    m_queuedProbeHosts.assign(candidates.begin(), candidates.end());
    toOwner([](LiveCameraDiscovery& owner) { owner.setActiveScanning(true); });
    launchNextProbes();
}

void LiveCameraDiscovery::Channel::peerRefresh() {
    if (!m_probes.empty() || !m_queuedProbeHosts.empty()) return;
    std::vector<std::string> hosts;
    {
        WallTime now = m_options.clock->now();
        std::lock_guard lock(m_mirror->mutex);
        for (const LiveCamera& camera : m_mirror->cameras) {
            if (camera.isExpired(now) || camera.ageSeconds(now) < identityRefreshAge) continue;
            if (std::find(hosts.begin(), hosts.end(), camera.host) == hosts.end()) hosts.push_back(camera.host);
        }
    }
    if (hosts.empty()) return;
    m_queuedProbeHosts.assign(hosts.begin(), hosts.end());
    launchNextProbes();
}

void LiveCameraDiscovery::Channel::launchNextProbes() {
    if (m_probes.size() >= maximumConcurrentProbes) return;
    while (!m_queuedProbeHosts.empty()) {
        std::string host = std::move(m_queuedProbeHosts.front());
        m_queuedProbeHosts.pop_front();
        probe(host);
        if (m_probes.size() >= maximumConcurrentProbes) return;
    }
    if (m_probes.empty()) toOwner([](LiveCameraDiscovery& owner) { owner.setActiveScanning(false); });
}

void LiveCameraDiscovery::Channel::probe(const std::string& host) {
    std::uint64_t id = ++m_nextProbeID;
    auto entry = std::make_unique<Probe>();
    Probe& probe = *entry;
    probe.host = host;
    probe.startRevision = m_orders.udpRevision();
    m_probes.emplace(id, std::move(entry));
    QTimer::singleShot(static_cast<int>(identityProbeTimeoutMs), this, [this, id] { endProbe(id); });

    // Failures found at once end the probe from the event loop, so a sweep of unusable hosts
    // does not recurse through launchNextProbes.
    auto failSoon = [this, id] { QTimer::singleShot(0, this, [this, id] { endProbe(id); }); };
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_options.probePort);
    if (!isDottedIPv4(host) || ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return failSoon();
    probe.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe.fd < 0) return failSoon();
    if (::connect(probe.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS)
        return failSoon();
    probe.writable = new QSocketNotifier(probe.fd, QSocketNotifier::Write, this);
    connect(probe.writable, &QSocketNotifier::activated, this, [this, id] { probeConnected(id); });
}

LiveCameraDiscovery::Channel::Probe* LiveCameraDiscovery::Channel::findProbe(std::uint64_t id) {
    auto it = m_probes.find(id);
    return it == m_probes.end() ? nullptr : it->second.get();
}

void LiveCameraDiscovery::Channel::probeConnected(std::uint64_t id) {
    Probe* probe = findProbe(id);
    if (!probe) return;
    probe->writable->setEnabled(false);
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(probe->fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return endProbe(id);
    if (::send(probe->fd, &identityProbeRequest, 1, MSG_NOSIGNAL) != 1) return endProbe(id);
    probe->readable = new QSocketNotifier(probe->fd, QSocketNotifier::Read, this);
    connect(probe->readable, &QSocketNotifier::activated, this, [this, id] { probeReadable(id); });
}

void LiveCameraDiscovery::Channel::probeReadable(std::uint64_t id) {
    Probe* probe = findProbe(id);
    if (!probe) return;
    char buffer[maximumDatagramBytes];
    std::size_t wanted = std::min(probe->reader.wanted(), sizeof buffer);
    ssize_t n = ::recv(probe->fd, buffer, wanted, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) return endProbe(id);
    auto state = probe->reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    if (state == IdentityReplyReader::State::needMore) return;
    if (state == IdentityReplyReader::State::complete) handleProbeReply(*probe);
    endProbe(id);
}

void LiveCameraDiscovery::Channel::handleProbeReply(const Probe& probe) {
    auto packet = decodePacket(probe.reader.body());
    if (!packet) return;
    bool allow = false;
    switch (m_orders.probeAdmission(packet->cameraID(), probe.startRevision)) {
    case SnapshotOrderTable::ProbeAdmission::sessionSwitchAllowed: allow = true; break;
    case SnapshotOrderTable::ProbeAdmission::sameSessionOnly: allow = false; break;
    case SnapshotOrderTable::ProbeAdmission::dropped: return;
    }
    if (!m_orders.acceptSnapshot(*packet, m_options.clock->monotonicMs(), allow, allow)) return;
    updateRecordingPeer(*packet, probe.host);
    postIngest(*packet, probe.host);
}

void LiveCameraDiscovery::Channel::endProbe(std::uint64_t id) {
    auto it = m_probes.find(id);
    if (it == m_probes.end()) return;
    m_probes.erase(it);
    launchNextProbes();
}

void LiveCameraDiscovery::Channel::sendTransferRequest(const std::string& requestID, const std::string& cameraID, const std::string& cameraName,
                         const std::string& host, const std::string& collectorID, const std::string& datagram) {
    if (m_fd < 0) {
        publishTransferFailure(requestID, cameraID, cameraName, TransferModeText::discoveryUnavailable());
        return;
    }
    m_pendingTransfers.remember(requestID, PendingTransferRequest{cameraID, cameraName, host, collectorID});
    ssize_t sent = sendDatagram(host, datagram);
    if (sent < 0 || static_cast<std::size_t>(sent) != datagram.size()) {
        m_pendingTransfers.take(requestID);
        publishTransferFailure(requestID, cameraID, cameraName, TransferModeText::couldNotReach(cameraName));
        return;
    }
    QTimer::singleShot(m_options.transferRequestLifetimeMs, this, [this, requestID] { expireTransferRequest(requestID); });
}

void LiveCameraDiscovery::Channel::expireTransferRequest(const std::string& requestID) {
    auto request = m_pendingTransfers.take(requestID);
    if (!request) return;
    toOwner([requestID, request = *request](LiveCameraDiscovery& owner) {
        if (!owner.m_transferModeRequest || owner.m_transferModeRequest->requestID != requestID) return;
        owner.setTransferModeRequest({requestID, request.cameraID, request.cameraName,
                                      TransferModeText::expired(request.cameraName), true});
    });
}

void LiveCameraDiscovery::Channel::handleTransferModeResponse(const std::string& sender, const std::string& host, const Json& payload) {
    auto state = m_pendingTransfers.handleResponse(sender, host, payload);
    if (!state) return;
    toOwner([state = *state](LiveCameraDiscovery& owner) { owner.setTransferModeRequest(state); });
}

void LiveCameraDiscovery::Channel::publishTransferFailure(const std::string& requestID, const std::string& cameraID,
                            const std::string& cameraName, const std::string& message) {
    toOwner([=](LiveCameraDiscovery& owner) {
        owner.setTransferModeRequest({requestID, cameraID, cameraName, message, true});
    });
}

void LiveCameraDiscovery::Channel::toOwner(std::function<void(LiveCameraDiscovery&)> fn) {
    LiveCameraDiscovery* owner = m_owner;
    postTo(owner, [owner, fn = std::move(fn)] { fn(*owner); });
}

} // namespace velk

#include "director/director_recording_coordinator.hpp"

#include <algorithm>
#include <array>

#include "base/rfc3339.hpp"
#include "base/sha256.hpp"
#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "director/recording_wire.hpp"

namespace velk {

namespace {

namespace Message {
constexpr const char* refused = "Choose a valid project/take, or resolve the previous stop first.";
constexpr const char* takeUsed = "Use a new take ID; this take was already prepared in this session.";
constexpr const char* camerasNotEligible =
    "Every selected camera must be online, idle and support durable project preparation. Update or wake cameras, then retry.";
constexpr const char* checkingClocks = "Checking camera clocks…";
constexpr const char* preparing = "Preparing cameras · waiting for durable project assignment…";
constexpr const char* startScheduled = "Start scheduled · waiting for every camera acknowledgement…";
constexpr const char* startAccepted = "Start accepted · waiting for recording status…";
constexpr const char* recordingConfirmed = "Recording confirmed by every camera.";
constexpr const char* camerasIdle = "Cameras report idle. Verify saved clips in Collect.";
constexpr const char* cameraOffline = "Camera offline · recording state unknown. Stop remains available.";
constexpr const char* camerasSaving = "Some cameras are saving; other cameras may still be recording.";
constexpr const char* cameraLost = "Camera lost during preparation/start. Cancellation sent; check cameras.";
constexpr const char* clocksNotReady = "Camera clocks did not become ready. Check the network and retry with a new take.";
constexpr const char* prepareTimedOut = "Camera preparation timed out. Cancellation sent.";
constexpr const char* proofExpired = "Clock/preparation proof expired before START. Cancellation sent.";
constexpr const char* startNotAcknowledged = "START was not acknowledged by every camera. Cancellation sent; check cameras.";
constexpr const char* recordingNotConfirmed = "Recording status was not confirmed after START. Cancellation sent; check cameras.";
constexpr const char* reconnected = " reconnected. Stop/check cameras before preparing another take.";
constexpr const char* rejectedPreparation =
    " rejected preparation or returned mismatched durable metadata. Cancellation sent.";
constexpr const char* stopRequested = "Stop requested. Waiting for acceptance and camera finalization.";
constexpr const char* stopUnconfirmed = "Some cameras have not accepted Stop. Check them; no saved-file confirmation is implied.";
constexpr const char* stopAccepted = "Stop accepted. Cameras may still be saving; Collect confirms the files.";
constexpr const char* suspended = "The computer slept or the network changed. Cancellation sent; check camera recording states.";
} // namespace Message

namespace StopResult {
constexpr const char* saving = "Saving on camera…";
constexpr const char* idle = "Camera idle · verify saved clip in Collect";
constexpr const char* unconfirmed = "Stop unconfirmed · check camera / retry Stop";
constexpr const char* rejected = "Stop rejected · check active take on camera";
constexpr const char* acceptedSaving = "Stop accepted · Saving on camera…";
constexpr const char* acceptedAwaiting = "Stop accepted · awaiting idle status";
constexpr const char* requested = "Stop requested · awaiting acceptance";
constexpr const char* legacyBroadcast = "Legacy Stop broadcast · no acknowledgement support";
constexpr const char* legacySent = "Legacy Stop sent · no acknowledgement support";
} // namespace StopResult

constexpr std::array<const char*, 8> timelineRates{"24/1",  "25/1",       "30/1",       "50/1",
                                                   "60/1",  "24000/1001", "30000/1001", "60000/1001"};

// The preparation fields a camera must echo exactly as text.
constexpr std::array<const char*, 8> proofTextKeys{"takeId",           "directorId",        "prepareCommandId",
                                                   "projectId",        "projectNameAtCapture", "createdAt",
                                                   "referenceCameraId", "timelineFPS"};

// Request ids only correlate replies with requests; drawing the randomness in batches keeps the
// once-a-second ping round to every camera cheap.
std::string randomRequestID() {
    constexpr std::size_t batchBytes = 1024;
    thread_local Bytes pool;
    thread_local std::size_t used = 0;
    if (pool.size() < used + 16) {
        pool = randomBytes(batchBytes);
        used = 0;
    }
    uuid::Bytes bytes{};
    std::copy_n(pool.begin() + static_cast<std::ptrdiff_t>(used), bytes.size(), bytes.begin());
    used += bytes.size();
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    return uuid::lowercaseText(bytes);
}

bool isIdle(const DirectorRecordingPeer& peer) { return !peer.recording && !peer.busy && !peer.finalizing; }

bool isActive(DirectorRecordingPhase phase) {
    return phase != DirectorRecordingPhase::idle && phase != DirectorRecordingPhase::failed;
}

} // namespace

// --- Records ---

bool DirectorRecordingPeer::supportsDurablePreparation() const {
    return (prepareVersion >= 2 && warmPrepare) || projectSyncVersion > 0;
}

bool DirectorRecordingPeer::online(double now) const {
    return seenAt <= now && now - seenAt < RecordingTiming::peerOnline;
}

bool DirectorTakeAssignment::valid() const {
    if (!RecordingWire::identifier(takeID, RecordingWire::takeIDLimit)) return false;
    if (!uuid::isValid(projectID)) return false;
    if (projectRevision <= 0) return false;
    if (!RecordingWire::identifier(projectName, RecordingWire::projectNameLimit)) return false;
    if (!RecordingWire::identifier(referenceCameraID, RecordingWire::identifierLimit)) return false;
    if (std::find(timelineRates.begin(), timelineRates.end(), timelineFPS) == timelineRates.end()) return false;
    if (createdAt.find('.') != std::string::npos) return false;
    return rfc3339::parse(createdAt).has_value();
}

std::string_view rawValue(DirectorRecordingPhase phase) {
    switch (phase) {
    case DirectorRecordingPhase::idle: return "idle";
    case DirectorRecordingPhase::synchronizing: return "synchronizing";
    case DirectorRecordingPhase::preparing: return "preparing";
    case DirectorRecordingPhase::starting: return "starting";
    case DirectorRecordingPhase::recording: return "recording";
    case DirectorRecordingPhase::stopping: return "stopping";
    case DirectorRecordingPhase::failed: return "failed";
    }
    return "";
}

std::optional<DirectorRecordingPhase> directorRecordingPhase(std::string_view raw) {
    for (auto phase : {DirectorRecordingPhase::idle, DirectorRecordingPhase::synchronizing, DirectorRecordingPhase::preparing,
                       DirectorRecordingPhase::starting, DirectorRecordingPhase::recording, DirectorRecordingPhase::stopping,
                       DirectorRecordingPhase::failed}) {
        if (rawValue(phase) == raw) return phase;
    }
    return std::nullopt;
}

bool DirectorRecordingStatus::blocksStart() const { return isActive(phase); }

// --- Construction, identity, outbox ---

DirectorRecordingCoordinator::DirectorRecordingCoordinator() : DirectorRecordingCoordinator(nullptr) {}

DirectorRecordingCoordinator::DirectorRecordingCoordinator(std::function<std::string()> newID)
    : m_newID(newID ? std::move(newID) : std::function<std::string()>(randomRequestID)) {}

std::string DirectorRecordingCoordinator::newID() { return m_newID(); }

void DirectorRecordingCoordinator::identify(const std::string& sender) {
    if (m_sender.empty() && uuid::isValid(sender)) m_sender = sender;
}

std::vector<DirectorRecordingCommand> DirectorRecordingCoordinator::drain() {
    std::vector<DirectorRecordingCommand> commands;
    commands.swap(m_outbox);
    return commands;
}

Json DirectorRecordingCoordinator::legacyStop(const std::string& target) { return RecordingWire::legacyStop(target); }

void DirectorRecordingCoordinator::send(const DirectorRecordingPeer& peer, Json payload) {
    payload["target"] = peer.id;
    m_outbox.push_back({peer.host, std::move(payload)});
}

bool DirectorRecordingCoordinator::sameEndpoint(const DirectorRecordingPeer& copy) const {
    auto it = m_peers.find(copy.id);
    return it != m_peers.end() && it->second.host == copy.host && it->second.session == copy.session;
}

Json DirectorRecordingCoordinator::preparation(const Session& session, const std::string& action) const {
    const DirectorTakeAssignment& assignment = session.assignment;
    return Json{{"action", action},
                {"requestId", assignment.takeID},
                {"takeId", assignment.takeID},
                {"directorId", m_sender},
                {"prepareCommandId", session.commandID},
                {"projectId", assignment.projectID},
                {"projectNameAtCapture", assignment.projectName},
                {"projectRevisionAtCapture", assignment.projectRevision},
                {"createdAt", assignment.createdAt},
                {"referenceCameraId", assignment.referenceCameraID},
                {"timelineFPS", assignment.timelineFPS}};
}

// --- Camera status ---

void DirectorRecordingCoordinator::update(const DirectorRecordingPeer& peer, double now) {
    auto existing = m_peers.find(peer.id);
    if (existing == m_peers.end() && m_peers.size() >= maximumPeers) return;

    std::optional<DirectorRecordingPeer> previous;
    if (existing != m_peers.end()) previous = existing->second;
    m_peers[peer.id] = peer;

    if (previous && (previous->host != peer.host || previous->session != peer.session)) {
        m_clocks.erase(peer.id);
        std::erase_if(m_pings, [&](const auto& entry) { return entry.second.peer.id == peer.id; });
        if (m_session && m_session->peers.contains(peer.id) && isActive(m_status.phase)) {
            fail(peer.name + Message::reconnected, now);
        }
    }

    if (m_session && m_session->peers.contains(peer.id) && peer.takeID == m_session->assignment.takeID && peer.recording) {
        m_session->observedRecording.insert(peer.id);
    }

    for (auto& [request, stop] : m_stops) {
        if (stop.peer.id != peer.id || !stop.acknowledgedAt || !(now > *stop.acknowledgedAt)) continue;
        if (stop.peer.host != peer.host || stop.peer.session != peer.session) continue;
        if (peer.finalizing) {
            m_status.stopResults[peer.id] = StopResult::saving;
        } else if (!peer.recording && !peer.busy) {
            m_status.stopResults[peer.id] = StopResult::idle;
            stop.completed = true;
        }
    }

    settleStopping(now);
}

bool DirectorRecordingCoordinator::settled(const Stop& stop, double now) const {
    if (stop.completed) return true;
    if (!stop.timedOut) return false;
    auto current = m_peers.find(stop.peer.id);
    if (current == m_peers.end()) return true;
    const DirectorRecordingPeer& peer = current->second;
    if (!peer.online(now)) return true;
    if (peer.host != stop.peer.host || peer.session != stop.peer.session) return true;
    return isIdle(peer);
}

// A camera no longer holds Stop back when it reports idle, or when its stop timed out and settled
// because the camera can no longer answer it (tracked or legacy).
bool DirectorRecordingCoordinator::quiet(const std::string& cameraID, double now) const {
    auto current = m_peers.find(cameraID);
    if (current != m_peers.end() && isIdle(current->second)) return true;
    if (legacyStopLapsed(cameraID, now)) return true;
    return std::any_of(m_stops.begin(), m_stops.end(), [&](const auto& entry) {
        const Stop& stop = entry.second;
        return stop.peer.id == cameraID && stop.timedOut && settled(stop, now);
    });
}

// A camera without acknowledged stop that died while recording would report recording for ever; once
// its stop has been out as long as a tracked stop waits for acceptance and the camera can no longer
// answer, it no longer holds Stop back. One still online at the same endpoint keeps it open.
bool DirectorRecordingCoordinator::legacyStopLapsed(const std::string& cameraID, double now) const {
    auto legacy = m_legacyStops.find(cameraID);
    if (legacy == m_legacyStops.end() || now - legacy->second.sentAt < RecordingTiming::stopACK) return false;
    auto current = m_peers.find(cameraID);
    if (current == m_peers.end()) return true;
    const DirectorRecordingPeer& peer = current->second;
    return !peer.online(now) || peer.host != legacy->second.peer.host || peer.session != legacy->second.peer.session;
}

void DirectorRecordingCoordinator::settleStopping(double now) {
    if (m_status.phase != DirectorRecordingPhase::stopping) return;
    for (const auto& [request, stop] : m_stops) {
        if (!settled(stop, now)) return;
    }
    if (m_session) {
        for (const auto& [id, peer] : m_session->peers) {
            if (!quiet(id, now)) return;
        }
    } else {
        for (const auto& [id, text] : m_status.stopResults) {
            if (!quiet(id, now)) return;
        }
    }
    m_session.reset();
    m_status.phase = DirectorRecordingPhase::idle;
    m_status.message = Message::camerasIdle;
}

// --- Failure and cancellation ---

void DirectorRecordingCoordinator::fail(const std::string& message, double now) {
    if (m_session) {
        const Session session = *m_session;
        enqueueCancel(session, now);
        const std::string& take = session.assignment.takeID;
        for (const auto& [id, snapshot] : session.peers) {
            if (snapshot.safeStopVersion <= 0 || !sameEndpoint(snapshot)) continue;
            // One tracked stop per camera: a failure while stopping replaces the earlier request.
            const std::string& cameraID = id;
            std::erase_if(m_stops, [&](const auto& entry) { return entry.second.peer.id == cameraID; });
            const std::string request = newID();
            m_stops[request] = Stop{snapshot, take, request, now, 0, std::nullopt, false, false};
            send(snapshot, RecordingWire::stopTake(take, request));
        }
    }
    m_status.phase = DirectorRecordingPhase::failed;
    m_status.message = message;
}

void DirectorRecordingCoordinator::enqueueCancel(const Session& session, double now) {
    Cancel cancel;
    for (const auto& [id, peer] : session.peers) cancel.peers.push_back(peer);
    cancel.take = session.assignment.takeID;
    cancel.began = now;
    cancel.next = 0;
    for (const DirectorRecordingPeer& peer : cancel.peers) {
        if (!sameEndpoint(peer)) continue;
        send(peer, RecordingWire::cancelTake(cancel.take));
        if (!session.starts.empty() && peer.safeStopVersion == 0) send(peer, legacyStop(peer.id));
    }
    cancel.next = 1;
    m_cancellations.push_back(std::move(cancel));
}

// --- Begin ---

bool DirectorRecordingCoordinator::begin(const std::vector<std::string>& ids, const DirectorTakeAssignment& assignment,
                                         double now) {
    if (m_status.blocksStart()) return false;

    const bool stopsSettled =
        std::all_of(m_stops.begin(), m_stops.end(), [&](const auto& entry) { return settled(entry.second, now); });
    if (!stopsSettled || !uuid::isValid(m_sender) || !assignment.valid()) {
        m_status.message = Message::refused;
        return false;
    }

    const std::string key = assignment.projectID + "/" + assignment.takeID;
    if (std::find(m_consumedTakes.begin(), m_consumedTakes.end(), key) != m_consumedTakes.end()) {
        m_status.message = Message::takeUsed;
        return false;
    }

    const std::set<std::string> cameras(ids.begin(), ids.end());
    const auto eligible = [&](const std::string& id) {
        auto it = m_peers.find(id);
        if (it == m_peers.end()) return false;
        const DirectorRecordingPeer& peer = it->second;
        return peer.online(now) && peer.remoteControl && peer.syncVersion > 0 && peer.supportsDurablePreparation() &&
               peer.ready && isIdle(peer);
    };
    if (cameras.empty() || cameras.size() > maximumSessionCameras || !cameras.contains(assignment.referenceCameraID) ||
        !std::all_of(cameras.begin(), cameras.end(), eligible)) {
        m_status.message = Message::camerasNotEligible;
        return false;
    }

    if (m_consumedTakes.size() >= maximumConsumedTakes) m_consumedTakes.erase(m_consumedTakes.begin());
    m_consumedTakes.push_back(key);
    m_stops.clear();
    m_legacyStops.clear();

    Session session;
    session.assignment = assignment;
    for (const std::string& id : cameras) session.peers[id] = m_peers.at(id);
    session.commandID = newID();
    session.deadline = now + RecordingTiming::clockDeadline;
    m_session = std::move(session);

    m_status = DirectorRecordingStatus{DirectorRecordingPhase::synchronizing, assignment.takeID, Message::checkingClocks, {}};
    m_nextClock = now;
    tick(now);
    return true;
}

// --- Tick ---

void DirectorRecordingCoordinator::tick(double now) {
    if (m_sender.empty()) return;
    tickPings(now);
    tickCancellations(now);
    tickStops(now);
    // Time alone can settle a timed-out or lapsed legacy stop (its camera goes offline without another report).
    const bool anyTimedOut = std::any_of(m_stops.begin(), m_stops.end(), [](const auto& entry) { return entry.second.timedOut; });
    const bool anyLegacyLapsed = std::any_of(m_legacyStops.begin(), m_legacyStops.end(), [&](const auto& entry) {
        return now - entry.second.sentAt >= RecordingTiming::stopACK;
    });
    if (anyTimedOut || anyLegacyLapsed) settleStopping(now);
    tickSession(now);
}

void DirectorRecordingCoordinator::tickPings(double now) {
    std::erase_if(m_pings, [&](const auto& entry) {
        const double t1 = entry.second.t1;
        return !(now >= t1 && now - t1 <= RecordingTiming::pingExpiry);
    });
    if (!(now >= m_nextClock)) return;
    m_nextClock = now + RecordingTiming::clockPingInterval;
    for (const auto& [id, peer] : m_peers) {
        if (!peer.online(now) || peer.syncVersion <= 0) continue;
        const std::string request = newID();
        m_pings[request] = Ping{peer, now};
        send(peer, RecordingWire::clockPing(request, now));
    }
}

void DirectorRecordingCoordinator::tickCancellations(double now) {
    constexpr auto& repeats = RecordingTiming::cancelRepeats;
    for (Cancel& cancel : m_cancellations) {
        while (cancel.next < repeats.size() && now - cancel.began >= repeats[cancel.next]) {
            for (const DirectorRecordingPeer& peer : cancel.peers) {
                if (sameEndpoint(peer)) send(peer, RecordingWire::cancelTake(cancel.take));
            }
            ++cancel.next;
        }
    }
    std::erase_if(m_cancellations, [&](const Cancel& cancel) { return cancel.next >= repeats.size(); });
}

void DirectorRecordingCoordinator::tickStops(double now) {
    constexpr auto& retries = RecordingTiming::stopRetries;
    for (auto& [request, stop] : m_stops) {
        if (stop.completed || stop.acknowledgedAt) continue;
        const double elapsed = now - stop.began;
        std::size_t i = stop.retryIndex;
        while (i < retries.size() && elapsed >= retries[i]) {
            if (sameEndpoint(stop.peer)) send(stop.peer, RecordingWire::stopTake(stop.take, stop.request));
            ++i;
        }
        stop.retryIndex = i;
        if (!stop.timedOut && elapsed >= RecordingTiming::stopACK) {
            m_status.stopResults[stop.peer.id] = StopResult::unconfirmed;
            m_status.message = Message::stopUnconfirmed;
            stop.timedOut = true;
        }
    }
}

void DirectorRecordingCoordinator::tickSession(double now) {
    if (!m_session) return;
    Session session = *m_session;
    const DirectorRecordingPhase phase = m_status.phase;

    if (phase == DirectorRecordingPhase::synchronizing || phase == DirectorRecordingPhase::preparing ||
        phase == DirectorRecordingPhase::starting) {
        for (const auto& [id, snapshot] : session.peers) {
            auto current = m_peers.find(id);
            if (current == m_peers.end() || current->second.host != snapshot.host ||
                current->second.session != snapshot.session || !current->second.online(now)) {
                fail(Message::cameraLost, now);
                return;
            }
        }
    }

    const auto clockUsable = [&](const std::string& id) {
        auto clock = m_clocks.find(id);
        return clock != m_clocks.end() && clock->second.usable(now);
    };

    switch (phase) {
    case DirectorRecordingPhase::synchronizing: {
        const bool allUsable =
            std::all_of(session.peers.begin(), session.peers.end(), [&](const auto& entry) { return clockUsable(entry.first); });
        if (allUsable) {
            session.deadline = now + RecordingTiming::directorPrepare;
            m_status.phase = DirectorRecordingPhase::preparing;
            m_status.message = Message::preparing;
        } else if (now >= session.deadline) {
            fail(Message::clocksNotReady, now);
            return;
        }
        break;
    }
    case DirectorRecordingPhase::preparing: {
        if (session.prepareACKs.size() == session.peers.size()) {
            const bool fresh = std::all_of(session.peers.begin(), session.peers.end(), [&](const auto& entry) {
                auto proof = session.prepareACKs.find(entry.first);
                return clockUsable(entry.first) && proof != session.prepareACKs.end() &&
                       (now - proof->second) + RecordingTiming::startLead < RecordingTiming::reservation;
            });
            if (!fresh) {
                fail(Message::proofExpired, now);
                return;
            }
            session.startAt = now + RecordingTiming::startLead;
            for (const auto& [id, peer] : session.peers) session.starts[id] = session.startAt + m_clocks.at(id).offset;
            session.deadline = now + RecordingTiming::startACK;
            m_status.phase = DirectorRecordingPhase::starting;
            m_status.message = Message::startScheduled;
        } else if (now >= session.deadline) {
            fail(Message::prepareTimedOut, now);
            return;
        }
        break;
    }
    case DirectorRecordingPhase::starting: {
        if (now >= session.deadline && session.startACKs.size() != session.peers.size()) {
            fail(Message::startNotAcknowledged, now);
            return;
        }
        if (session.observedRecording.size() == session.peers.size() && now >= session.startAt) {
            m_status.phase = DirectorRecordingPhase::recording;
            m_status.message = Message::recordingConfirmed;
        } else if (now > session.startAt + RecordingTiming::recordingConfirmation) {
            fail(Message::recordingNotConfirmed, now);
            return;
        } else if (now >= session.deadline) {
            m_status.message = Message::startAccepted;
        }
        break;
    }
    case DirectorRecordingPhase::recording: {
        const bool anyLost = std::any_of(session.peers.begin(), session.peers.end(), [&](const auto& entry) {
            auto current = m_peers.find(entry.first);
            return current == m_peers.end() || !current->second.online(now);
        });
        const bool allIdle = std::all_of(session.peers.begin(), session.peers.end(), [&](const auto& entry) {
            auto current = m_peers.find(entry.first);
            return current != m_peers.end() && isIdle(current->second);
        });
        const bool anySaving = std::any_of(session.peers.begin(), session.peers.end(), [&](const auto& entry) {
            auto current = m_peers.find(entry.first);
            return current != m_peers.end() && current->second.finalizing;
        });
        if (anyLost) {
            m_status.message = Message::cameraOffline;
        } else if (allIdle) {
            m_session.reset();
            m_status.phase = DirectorRecordingPhase::idle;
            m_status.message = Message::camerasIdle;
            return;
        } else if (anySaving) {
            m_status.message = Message::camerasSaving;
        }
        break;
    }
    case DirectorRecordingPhase::idle:
    case DirectorRecordingPhase::stopping:
    case DirectorRecordingPhase::failed: break;
    }

    if (m_status.phase == DirectorRecordingPhase::preparing && now >= session.nextPrepare) {
        session.nextPrepare = now + RecordingTiming::prepareInterval;
        for (const auto& [id, peer] : session.peers) {
            if (!session.prepareACKs.contains(id)) send(peer, preparation(session, "PREPARE_TAKE"));
        }
    }

    if (m_status.phase == DirectorRecordingPhase::starting) {
        for (double offset : RecordingTiming::startSendOffsets) {
            const bool sent = std::find(session.startSentAt.begin(), session.startSentAt.end(), offset) != session.startSentAt.end();
            if (sent || !(now >= session.startAt - RecordingTiming::startLead + offset)) continue;
            for (const auto& [id, peer] : session.peers) {
                Json payload = preparation(session, "START_AT");
                payload["directorMonoMs"] = session.startAt;
                payload["startMonoMs"] = session.starts.at(id);
                send(peer, std::move(payload));
            }
            session.startSentAt.push_back(offset);
        }
    }

    *m_session = std::move(session);
}

// --- Replies ---

void DirectorRecordingCoordinator::receive(const std::string& sender, const std::string& host,
                                           const std::optional<std::string>& packetSession, const Json& payload,
                                           double now) {
    if (m_peers.empty()) return;
    auto camera = m_peers.find(sender);
    if (camera == m_peers.end()) return;
    if (host != camera->second.host) return;
    if (packetSession && camera->second.session &&
        text::lowercased(*packetSession) != text::lowercased(*camera->second.session)) {
        return;
    }
    if (!payload.is_object() || payload.empty()) return;
    if (RecordingWire::text(payload, "target") != m_sender) return;
    const std::optional<std::string> action = RecordingWire::text(payload, "action");
    if (!action) return;
    const std::string request = RecordingWire::text(payload, "requestId").value_or("");

    if (*action == "CLOCK_PONG") {
        receivePong(sender, request, payload, now);
    } else if (*action == "STOP_ACK") {
        receiveStopACK(sender, request, payload, now);
    } else {
        receiveSessionReply(sender, *action, request, payload, now);
    }
}

void DirectorRecordingCoordinator::receivePong(const std::string& sender, const std::string& request, const Json& payload,
                                               double now) {
    auto ping = m_pings.find(request);
    if (ping == m_pings.end() || ping->second.peer.id != sender || !sameEndpoint(ping->second.peer)) return;
    const double t1 = ping->second.t1;
    const std::optional<double> echoed = RecordingWire::number(payload, "t1");
    const std::optional<double> t2 = RecordingWire::number(payload, "t2");
    const std::optional<double> t3 = RecordingWire::number(payload, "t3");
    if (!echoed || *echoed != t1 || !t2 || !t3) return;
    m_pings.erase(ping);
    m_clocks[sender].observe(t1, *t2, *t3, now);
}

void DirectorRecordingCoordinator::receiveStopACK(const std::string& sender, const std::string& request,
                                                  const Json& payload, double now) {
    auto entry = m_stops.find(request);
    if (entry == m_stops.end()) return;
    Stop& stop = entry->second;
    if (stop.peer.id != sender || !sameEndpoint(stop.peer)) return;
    if (RecordingWire::text(payload, "takeId") != stop.take) return;
    const std::optional<bool> accepted = RecordingWire::boolean(payload, "accepted");
    const std::optional<bool> finalizing = RecordingWire::boolean(payload, "finalizing");
    if (!accepted || !finalizing) return;
    if (stop.acknowledgedAt) return;
    if (!*accepted) {
        m_status.stopResults[sender] = StopResult::rejected;
        return;
    }
    stop.acknowledgedAt = now;
    m_status.stopResults[sender] = *finalizing ? StopResult::acceptedSaving : StopResult::acceptedAwaiting;
    m_status.message = Message::stopAccepted;
}

void DirectorRecordingCoordinator::receiveSessionReply(const std::string& sender, const std::string& action,
                                                       const std::string& request, const Json& payload, double now) {
    if (!m_session) return;
    Session& session = *m_session;
    auto snapshot = session.peers.find(sender);
    if (snapshot == session.peers.end() || !sameEndpoint(snapshot->second)) return;
    if (RecordingWire::text(payload, "takeId") != session.assignment.takeID) return;
    if (request != session.assignment.takeID) return;

    if (action == "PREPARE_ACK") {
        if (m_status.phase != DirectorRecordingPhase::preparing || session.prepareACKs.contains(sender)) return;
        const std::optional<std::string> clip = RecordingWire::text(payload, "clipId");
        const bool clipReused = clip && std::any_of(session.clipIDs.begin(), session.clipIDs.end(), [&](const auto& entry) {
                                    return entry.first != sender && entry.second == *clip;
                                });
        if (matchesProof(payload, session) && clip && !clipReused) {
            session.prepareACKs[sender] = now;
            session.clipIDs[sender] = *clip;
        } else {
            fail(m_peers.at(sender).name + Message::rejectedPreparation, now);
        }
    } else if (action == "START_ACK") {
        if (m_status.phase != DirectorRecordingPhase::starting) return;
        if (RecordingWire::boolean(payload, "accepted") == true) session.startACKs.insert(sender);
    }
}

bool DirectorRecordingCoordinator::matchesProof(const Json& payload, const Session& session) const {
    const Json expected = preparation(session, "PREPARE_TAKE");
    for (const char* key : proofTextKeys) {
        const std::optional<std::string> received = RecordingWire::text(payload, key);
        const std::optional<std::string> wanted = RecordingWire::text(expected, key);
        if (!received || !wanted || *received != *wanted) return false;
    }
    if (RecordingWire::integer(payload, "projectRevisionAtCapture") != session.assignment.projectRevision) return false;
    if (RecordingWire::boolean(payload, "ready") != true) return false;
    if (RecordingWire::boolean(payload, "projectAssignmentStored") != true) return false;
    const std::optional<double> storedAt = RecordingWire::number(payload, "assignmentStoredMonoMs");
    if (!storedAt || *storedAt < 0) return false;
    const std::optional<std::string> clip = RecordingWire::text(payload, "clipId");
    return clip && uuid::isValid(*clip);
}

// --- Stop and suspend ---

int DirectorRecordingCoordinator::stop(const std::vector<std::string>& ids, bool all, double now) {
    if (m_sender.empty()) return 0;

    std::set<std::string> targets(ids.begin(), ids.end());
    if (all && m_session) {
        for (const auto& [id, peer] : m_session->peers) targets.insert(id);
    }
    if (m_session) {
        const bool touchesSession = std::any_of(targets.begin(), targets.end(),
                                                [&](const std::string& id) { return m_session->peers.contains(id); });
        const DirectorRecordingPhase phase = m_status.phase;
        const bool cancellable = phase == DirectorRecordingPhase::synchronizing || phase == DirectorRecordingPhase::preparing ||
                                 phase == DirectorRecordingPhase::starting || phase == DirectorRecordingPhase::failed;
        if (touchesSession && cancellable) {
            for (const auto& [id, peer] : m_session->peers) targets.insert(id);
            const Session session = *m_session;
            enqueueCancel(session, now);
        }
    }

    std::vector<std::string> acknowledged;
    int count = 0;
    for (const std::string& id : targets) {
        std::optional<DirectorRecordingPeer> record;
        if (auto current = m_peers.find(id); current != m_peers.end()) {
            record = current->second;
        } else if (m_session && m_session->peers.contains(id)) {
            record = m_session->peers.at(id);
        }
        if (!record) continue;

        const bool inSession = m_session && m_session->peers.contains(id);
        const std::string take = inSession ? m_session->assignment.takeID : record->takeID;
        if (record->safeStopVersion > 0 && RecordingWire::identifier(take, RecordingWire::takeIDLimit)) {
            acknowledged.push_back(id);
            m_legacyStops.erase(id);
            const bool pending = std::any_of(m_stops.begin(), m_stops.end(), [&](const auto& entry) {
                const Stop& stop = entry.second;
                return stop.peer.id == id && stop.take == take && !stop.completed && !stop.timedOut;
            });
            if (!pending) {
                std::erase_if(m_stops, [&](const auto& entry) { return entry.second.peer.id == id; });
                const std::string request = newID();
                m_stops[request] = Stop{*record, take, request, now, 0, std::nullopt, false, false};
                send(*record, RecordingWire::stopTake(take, request));
                m_status.stopResults[id] = StopResult::requested;
            }
        } else if (all) {
            m_status.stopResults[id] = StopResult::legacyBroadcast;
            m_legacyStops[id] = LegacyStop{*record, now};
        } else {
            send(*record, legacyStop(id));
            m_status.stopResults[id] = StopResult::legacySent;
            m_legacyStops[id] = LegacyStop{*record, now};
        }
        ++count;
    }

    if (all) m_outbox.push_back({std::nullopt, RecordingWire::legacyBroadcast(acknowledged)});
    if (count > 0) {
        m_status.phase = DirectorRecordingPhase::stopping;
        m_status.message = Message::stopRequested;
    }
    return count;
}

void DirectorRecordingCoordinator::suspend(double now) {
    if (m_session && isActive(m_status.phase)) fail(Message::suspended, now);
    m_clocks.clear();
    m_pings.clear();
    m_nextClock = now;
}

} // namespace velk

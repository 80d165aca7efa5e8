#pragma once
// The Director's multi-camera recording state machine. A plain value owned by the live camera
// channel and used only on its serial queue: it performs no input or output, every operation
// receives `now` (monotonic milliseconds) and leaves its packets in an outbox that the channel
// drains after each call. Every table is ordered, so each outbox is deterministic.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "director/recording_timing.hpp"

namespace velk {

// One camera as the coordinator last saw it, built by the channel from a status report.
struct DirectorRecordingPeer {
    std::string id;
    std::string name;
    std::string host;                   // address the camera's datagrams came from
    std::optional<std::string> session; // status-session id, lower-cased
    double seenAt = 0;                  // monotonic ms the status was accepted
    bool remoteControl = false;
    std::int64_t syncVersion = 0;
    std::int64_t prepareVersion = 0;
    bool warmPrepare = false;
    std::int64_t safeStopVersion = 0;   // 0: legacy stop only
    bool ready = false;
    bool busy = false;
    bool recording = false;
    bool finalizing = false;
    std::string takeID;
    std::int64_t projectSyncVersion = 0;

    bool supportsDurablePreparation() const;
    bool online(double now) const;

    bool operator==(const DirectorRecordingPeer&) const = default;
};

// The frozen project assignment of one take.
struct DirectorTakeAssignment {
    std::string takeID;
    std::string projectID;
    std::string projectName;
    std::int64_t projectRevision = 0;
    std::string createdAt;
    std::string referenceCameraID;
    std::string timelineFPS;

    bool valid() const;

    bool operator==(const DirectorTakeAssignment&) const = default;
};

enum class DirectorRecordingPhase { idle, synchronizing, preparing, starting, recording, stopping, failed };

std::string_view rawValue(DirectorRecordingPhase phase);
std::optional<DirectorRecordingPhase> directorRecordingPhase(std::string_view raw);

struct DirectorRecordingStatus {
    DirectorRecordingPhase phase = DirectorRecordingPhase::idle;
    std::string takeID;
    std::string message = "Ready. Record prepares every camera and confirms the frozen project assignment.";
    std::map<std::string, std::string> stopResults; // camera id -> short stop text

    // True unless the phase is idle or failed.
    bool blocksStart() const;

    bool operator==(const DirectorRecordingStatus&) const = default;
};

// One queued control message; no host means the multicast group.
struct DirectorRecordingCommand {
    std::optional<std::string> host;
    Json payload;

    bool operator==(const DirectorRecordingCommand&) const = default;
};

class DirectorRecordingCoordinator {
public:
    static constexpr std::size_t maximumPeers = 128;
    static constexpr std::size_t maximumConsumedTakes = 256;
    static constexpr std::size_t maximumSessionCameras = 8;

    struct Ping {
        DirectorRecordingPeer peer;
        double t1 = 0;
    };

    struct Session {
        DirectorTakeAssignment assignment;
        std::map<std::string, DirectorRecordingPeer> peers; // snapshot taken at begin
        std::string commandID;
        double deadline = 0;
        double nextPrepare = 0;
        std::map<std::string, double> prepareACKs;
        std::map<std::string, std::string> clipIDs;
        std::map<std::string, double> starts; // start time on each camera's own clock
        double startAt = 0;                   // start time on the Director's clock
        std::vector<double> startSentAt;
        std::set<std::string> startACKs;
        std::set<std::string> observedRecording;
    };

    struct Stop {
        DirectorRecordingPeer peer;
        std::string take;
        std::string request;
        double began = 0;
        std::size_t retryIndex = 0;
        std::optional<double> acknowledgedAt;
        bool completed = false;
        bool timedOut = false;
    };

    // A STOP_TAKE without acknowledgement support: only the camera's own status can confirm it.
    struct LegacyStop {
        DirectorRecordingPeer peer;
        double sentAt = 0;
    };

    struct Cancel {
        std::vector<DirectorRecordingPeer> peers;
        std::string take;
        double began = 0;
        std::size_t next = 0;
    };

    DirectorRecordingCoordinator();
    // Request ids and command ids come from `newID`, which must return lower-case UUID text; the
    // default draws random ones. Tests pass a counter to make every outbox reproducible.
    explicit DirectorRecordingCoordinator(std::function<std::string()> newID);

    // Adopts the Director identity once: the first UUID text wins for the coordinator's life.
    void identify(const std::string& sender);
    // Starts a take on the given cameras; true when accepted (phase synchronizing).
    bool begin(const std::vector<std::string>& ids, const DirectorTakeAssignment& assignment, double now);
    // Stops the given cameras (all: Stop All); returns how many cameras a stop was sent,
    // broadcast or already pending for.
    int stop(const std::vector<std::string>& ids, bool all, double now);
    // The 100 ms timer: pings, preparation resends, timed start, cancel repeats, stop retries.
    void tick(double now);
    // A control reply whose envelope parsed; `host` is the datagram's source address.
    void receive(const std::string& sender, const std::string& host, const std::optional<std::string>& packetSession,
                 const Json& payload, double now);
    // One camera's status report.
    void update(const DirectorRecordingPeer& peer, double now);
    // Sleep, wake or a network change: fails an active take and forgets every clock.
    void suspend(double now);
    // The queued commands in queue order; leaves the outbox empty.
    std::vector<DirectorRecordingCommand> drain();

    static Json legacyStop(const std::string& target);

    const DirectorRecordingStatus& status() const { return m_status; }
    const std::string& sender() const { return m_sender; }

    // Read-only views of the working tables.
    const std::map<std::string, DirectorRecordingPeer>& peers() const { return m_peers; }
    const std::map<std::string, DirectorClockEstimate>& clocks() const { return m_clocks; }
    const std::map<std::string, Ping>& pings() const { return m_pings; }
    double nextClock() const { return m_nextClock; }
    const std::optional<Session>& session() const { return m_session; }
    const std::map<std::string, Stop>& stops() const { return m_stops; }
    const std::vector<Cancel>& cancellations() const { return m_cancellations; }
    const std::vector<std::string>& consumedTakes() const { return m_consumedTakes; }
    std::size_t pendingCommands() const { return m_outbox.size(); }

    // A stop is settled when completed, or when it timed out and its camera can no longer answer
    // it (gone, offline, at another endpoint) or reports itself idle.
    bool settled(const Stop& stop, double now) const;

private:
    void send(const DirectorRecordingPeer& peer, Json payload);
    bool sameEndpoint(const DirectorRecordingPeer& copy) const;
    Json preparation(const Session& session, const std::string& action) const;
    bool matchesProof(const Json& payload, const Session& session) const;
    void fail(const std::string& message, double now);
    void enqueueCancel(const Session& session, double now);
    void settleStopping(double now);
    bool quiet(const std::string& cameraID, double now) const;
    bool legacyStopLapsed(const std::string& cameraID, double now) const;
    std::string newID();

    void tickPings(double now);
    void tickCancellations(double now);
    void tickStops(double now);
    void tickSession(double now);

    void receivePong(const std::string& sender, const std::string& request, const Json& payload, double now);
    void receiveStopACK(const std::string& sender, const std::string& request, const Json& payload, double now);
    void receiveSessionReply(const std::string& sender, const std::string& action, const std::string& request,
                             const Json& payload, double now);

    DirectorRecordingStatus m_status;
    std::map<std::string, DirectorRecordingPeer> m_peers;
    std::map<std::string, DirectorClockEstimate> m_clocks;
    std::map<std::string, Ping> m_pings;
    double m_nextClock = 0;
    std::optional<Session> m_session;
    std::map<std::string, Stop> m_stops;
    std::map<std::string, LegacyStop> m_legacyStops; // camera id -> last legacy stop
    std::vector<Cancel> m_cancellations;
    std::vector<std::string> m_consumedTakes;
    std::string m_sender;
    std::vector<DirectorRecordingCommand> m_outbox;
    std::function<std::string()> m_newID;
};

} // namespace velk

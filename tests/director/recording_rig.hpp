#pragma once
// A scripted set of phone cameras around one recording coordinator, driven by a manual clock in
// 100 ms ticks, as the live camera channel drives it.

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "director/director_recording_coordinator.hpp"
#include "director/recording_wire.hpp"

namespace velk::testing {

inline const std::string directorID = "6f1c2b9e-8a4d-4c1e-9f2a-3b5d7e9a1c20";
inline const std::string otherDirectorID = "7f1c2b9e-8a4d-4c1e-9f2a-3b5d7e9a1c20";
inline const std::string projectID = "0d6a1f3e-2b4c-4d5e-8f60-718293a4b5c6";

inline std::string fakeID(const char* prefix, int n) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%s-0000-4000-8000-%012d", prefix, n);
    return buffer;
}

inline DirectorTakeAssignment assignment(const std::string& take = "take-1", const std::string& reference = "cam-a") {
    return DirectorTakeAssignment{take, projectID, "Harbour Shoot", 7, "2026-05-01T12:30:00Z", reference, "30/1"};
}

// An idle camera that can take part in a take and supports acknowledged stop.
inline DirectorRecordingPeer peer(const std::string& id, const std::string& host, double seenAt) {
    return {.id = id, .name = "Camera " + id, .host = host, .session = "5e55i0n-" + id, .seenAt = seenAt,
            .remoteControl = true, .syncVersion = 1, .prepareVersion = 2, .warmPrepare = true, .safeStopVersion = 1,
            .ready = true, .projectSyncVersion = 1};
}

struct SimCamera {
    DirectorRecordingPeer peer;
    double clockOffset = 0; // camera clock minus Director clock
    bool reportsStatus = true, answersPings = true, answersPrepare = true, answersStart = true;
    bool answersStop = true, acceptsStop = true, startsRecording = true;
    std::optional<double> startMono;
    std::string preparedTake;
    std::optional<double> startedAtDirector; // Director time at which it began recording
    int pings = 0, prepares = 0;
    std::vector<Json> startPayloads;
};

class RecordingRig {
public:
    RecordingRig() : coordinator([this] { return fakeID("00000000", ++m_ids); }) { coordinator.identify(directorID); }
    RecordingRig(const RecordingRig&) = delete;
    RecordingRig& operator=(const RecordingRig&) = delete;

    DirectorRecordingCoordinator coordinator;
    std::map<std::string, SimCamera> cameras;
    std::vector<DirectorRecordingCommand> sent;
    std::vector<double> sentAt; // Director time each sent command left
    double now = 100000;

    SimCamera& add(const std::string& id, double clockOffset = 0, std::int64_t safeStopVersion = 1) {
        SimCamera& camera = cameras[id];
        camera.peer = peer(id, "10.0.0." + std::to_string(cameras.size() + 10), now);
        camera.peer.safeStopVersion = safeStopVersion;
        camera.clockOffset = clockOffset;
        report(id);
        return camera;
    }

    // Cameras cam-a, cam-b, ... with the given clock offsets.
    std::vector<std::string> addCameras(int count, const std::vector<double>& offsets = {}) {
        std::vector<std::string> ids;
        for (int i = 0; i < count; ++i) {
            ids.push_back("cam-" + std::string(1, char('a' + i)));
            add(ids.back(), i < int(offsets.size()) ? offsets[i] : 0);
        }
        return ids;
    }

    void report(const std::string& id) {
        SimCamera& camera = cameras.at(id);
        camera.peer.seenAt = now;
        coordinator.update(camera.peer, now);
        pump();
    }

    // One 100 ms step of the channel: cameras act on their clocks, report, then the timer fires.
    void step(double ms = 100) {
        now += ms;
        for (auto& [id, camera] : cameras) {
            if (camera.startMono && camera.startsRecording && now + camera.clockOffset >= *camera.startMono) {
                camera.peer.recording = camera.peer.busy = true;
                camera.peer.takeID = camera.preparedTake;
                camera.startedAtDirector = now;
                camera.startMono.reset();
            }
        }
        for (auto& [id, camera] : cameras) {
            if (camera.reportsStatus) report(id);
        }
        tick(now);
    }

    // Only the timer, without status reports.
    void tick(double at) {
        coordinator.tick(now = at);
        pump();
    }

    void runFor(double ms) {
        for (double end = now + ms; now < end;) step();
    }

    // Steps until the phase is `wanted`, for 30 s at most.
    bool reach(DirectorRecordingPhase wanted) {
        for (double end = now + 30000; phase() != wanted && now < end;) step();
        return phase() == wanted;
    }

    // Every camera records take-1 (cam-a the reference) on clocks that are already usable.
    bool record(const std::vector<std::string>& ids) {
        runFor(2100);
        return begin(ids) && reach(DirectorRecordingPhase::recording);
    }

    DirectorRecordingPhase phase() const { return coordinator.status().phase; }
    const std::string& message() const { return coordinator.status().message; }
    std::string result(const std::string& id) const {
        const auto& results = coordinator.status().stopResults;
        return results.contains(id) ? results.at(id) : "";
    }

    bool begin(const std::vector<std::string>& ids, const DirectorTakeAssignment& take = assignment()) {
        const bool accepted = coordinator.begin(ids, take, now);
        pump();
        return accepted;
    }

    int stop(const std::vector<std::string>& ids, bool all = false) {
        const int count = coordinator.stop(ids, all, now);
        pump();
        return count;
    }
    int stopAll() { return stop({}, true); }
    void suspend() {
        coordinator.suspend(now);
        pump();
    }

    void reply(const std::string& id, Json payload) {
        if (!payload.contains("target")) payload["target"] = directorID;
        coordinator.receive(id, cameras.at(id).peer.host, cameras.at(id).peer.session, payload, now);
    }

    // A camera's proof of a PREPARE_TAKE (by default the last one sent).
    Json proof(int clip = 1, std::optional<Json> prepare = std::nullopt, double storedAt = 12.5) const {
        Json payload = prepare ? *prepare : sentSince(0, "PREPARE_TAKE").back().payload;
        payload.erase("target");
        payload.update(Json{{"action", "PREPARE_ACK"}, {"ready", true}, {"projectAssignmentStored", true},
                            {"assignmentStoredMonoMs", storedAt}, {"clipId", fakeID("c3000000", clip)}});
        return payload;
    }

    // Delivers every queued command to the cameras, feeding their replies back until quiet.
    void pump() {
        for (int round = 0; round < 16; ++round) {
            std::vector<DirectorRecordingCommand> commands = coordinator.drain();
            if (commands.empty()) return;
            for (const DirectorRecordingCommand& command : commands) {
                sent.push_back(command);
                sentAt.push_back(now);
                deliver(command);
            }
        }
    }

    std::vector<DirectorRecordingCommand> sentSince(std::size_t mark, const std::string& action) const {
        std::vector<DirectorRecordingCommand> out;
        for (std::size_t i = mark; i < sent.size(); ++i) {
            if (sent[i].payload.value("action", "") == action) out.push_back(sent[i]);
        }
        return out;
    }

    // Times at which `action` left for `target` since `mark`.
    std::vector<double> times(std::size_t mark, const std::string& action, const std::string& target) const {
        std::vector<double> out;
        for (std::size_t i = mark; i < sent.size(); ++i) {
            if (sent[i].payload.value("action", "") == action && sent[i].payload.value("target", "") == target) {
                out.push_back(sentAt[i]);
            }
        }
        return out;
    }

    // "ACTION target takeId" of every command since `mark` but pings and start times, in queue order.
    std::vector<std::string> route(std::size_t mark) const {
        std::vector<std::string> out;
        for (std::size_t i = mark; i < sent.size(); ++i) {
            const Json& p = sent[i].payload;
            const std::string action = p.value("action", "");
            if (action == "CLOCK_PING" || action == "START_AT") continue;
            out.push_back(action + " " + p.value("target", "") + " " + p.value("takeId", ""));
        }
        return out;
    }

private:
    void deliver(const DirectorRecordingCommand& command) {
        const Json& payload = command.payload;
        const std::string action = payload.value("action", "");
        const std::string target = payload.value("target", "");
        if (!command.host) {
            for (auto& [id, camera] : cameras) {
                if (action == "STOP_TAKE" && camera.peer.safeStopVersion == 0) stopRecording(camera);
            }
            return;
        }
        auto it = cameras.find(target);
        if (it == cameras.end() || it->second.peer.host != *command.host) return;
        SimCamera& camera = it->second;
        const double cameraNow = now + camera.clockOffset;

        if (action == "CLOCK_PING") {
            ++camera.pings;
            const double t1 = payload.at("t1").get<double>(), t2 = t1 + camera.clockOffset;
            if (camera.answersPings) {
                reply(target, Json{{"action", "CLOCK_PONG"}, {"requestId", payload.at("requestId")}, {"t1", t1}, {"t2", t2}, {"t3", t2}});
            }
        } else if (action == "PREPARE_TAKE") {
            ++camera.prepares;
            camera.preparedTake = payload.at("takeId").get<std::string>();
            if (camera.answersPrepare) reply(target, proof(1000 + ++m_clips, payload, cameraNow));
        } else if (action == "START_AT") {
            camera.startPayloads.push_back(payload);
            camera.startMono = payload.at("startMonoMs").get<double>();
            if (camera.answersStart) {
                reply(target, Json{{"action", "START_ACK"}, {"requestId", payload.at("takeId")},
                                   {"takeId", payload.at("takeId")}, {"accepted", true}});
            }
        } else if (action == "STOP_TAKE") {
            if (payload.at("takeId") == "") return stopRecording(camera);
            if (!camera.answersStop) return;
            reply(target, Json{{"action", "STOP_ACK"}, {"requestId", payload.at("requestId")},
                               {"takeId", payload.at("takeId")}, {"accepted", camera.acceptsStop}, {"finalizing", false}});
            if (camera.acceptsStop) stopRecording(camera);
        } else if (action == "CANCEL_TAKE") {
            stopRecording(camera);
        }
    }

    static void stopRecording(SimCamera& camera) {
        camera.peer.recording = camera.peer.busy = false;
        camera.startMono.reset();
    }

    int m_ids = 0;
    int m_clips = 0;
};

} // namespace velk::testing

#pragma once
// A scripted set of phone cameras around one recording coordinator, driven by a manual clock in
// 100 ms ticks, as the live camera channel drives it.

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "director/director_recording_coordinator.hpp"
#include "director/recording_wire.hpp"

namespace velk::testing {

inline const std::string directorID = "6f1c2b9e-8a4d-4c1e-9f2a-3b5d7e9a1c20";
inline const std::string projectID = "0d6a1f3e-2b4c-4d5e-8f60-718293a4b5c6";

inline std::string fakeID(const char* prefix, int n) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%s-0000-4000-8000-%012d", prefix, n);
    return buffer;
}

inline DirectorTakeAssignment assignment(const std::string& take = "take-1", const std::string& reference = "cam-a") {
    return DirectorTakeAssignment{take, projectID, "Harbour Shoot", 7, "2026-05-01T12:30:00Z", reference, "30/1"};
}

inline DirectorRecordingPeer peer(const std::string& id, const std::string& host, double seenAt) {
    DirectorRecordingPeer p;
    p.id = id;
    p.name = "Camera " + id;
    p.host = host;
    p.session = "5e55i0n-" + id;
    p.seenAt = seenAt;
    p.remoteControl = true;
    p.syncVersion = 1;
    p.prepareVersion = 2;
    p.warmPrepare = true;
    p.safeStopVersion = 1;
    p.ready = true;
    p.projectSyncVersion = 1;
    return p;
}

struct SimCamera {
    DirectorRecordingPeer peer;
    double clockOffset = 0; // camera clock minus Director clock
    bool reportsStatus = true;
    bool answersPings = true;
    bool answersPrepare = true;
    bool answersStart = true;
    bool answersStop = true;
    bool acceptsStop = true;
    bool startsRecording = true;
    bool finalizesMs = false; // reports finalizing for one tick after stopping
    std::optional<double> startMono;
    std::string preparedTake;
    std::optional<double> startedAtDirector; // Director time at which it began recording
    int pings = 0, prepares = 0, startAts = 0, stops = 0, legacyStops = 0, cancels = 0;
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
    double now = 100000;

    SimCamera& add(const std::string& id, double clockOffset = 0) {
        SimCamera& camera = cameras[id];
        camera.peer = peer(id, "10.0.0." + std::to_string(cameras.size() + 10), now);
        camera.clockOffset = clockOffset;
        report(id);
        return camera;
    }

    void report(const std::string& id) {
        SimCamera& camera = cameras.at(id);
        camera.peer.seenAt = now;
        coordinator.update(camera.peer, now);
        pump();
    }

    void reportAll() {
        for (auto& [id, camera] : cameras) {
            if (camera.reportsStatus) report(id);
        }
    }

    // One 100 ms step of the channel: cameras act on their clocks, report, then the timer fires.
    void step(double ms = 100) {
        now += ms;
        for (auto& [id, camera] : cameras) {
            if (camera.startMono && camera.startsRecording && now + camera.clockOffset >= *camera.startMono) {
                camera.peer.recording = true;
                camera.peer.busy = true;
                camera.peer.takeID = camera.preparedTake;
                camera.startedAtDirector = now;
                camera.startMono.reset();
            }
        }
        reportAll();
        coordinator.tick(now);
        pump();
    }

    void runFor(double ms) {
        for (double end = now + ms; now < end;) step();
    }

    bool runUntil(const std::function<bool()>& done, double maxMs = 30000) {
        for (double end = now + maxMs; now < end;) {
            if (done()) return true;
            step();
        }
        return done();
    }

    DirectorRecordingPhase phase() const { return coordinator.status().phase; }
    const std::string& message() const { return coordinator.status().message; }

    bool begin(const std::vector<std::string>& ids, const DirectorTakeAssignment& take) {
        const bool accepted = coordinator.begin(ids, take, now);
        pump();
        return accepted;
    }

    int stopAll() {
        const int count = coordinator.stop({}, true, now);
        pump();
        return count;
    }

    void reply(const std::string& id, Json payload) {
        SimCamera& camera = cameras.at(id);
        payload["target"] = directorID;
        coordinator.receive(id, camera.peer.host, camera.peer.session, payload, now);
    }

    // Delivers every queued command to the cameras, feeding their replies back until quiet.
    void pump() {
        for (int round = 0; round < 16; ++round) {
            std::vector<DirectorRecordingCommand> commands = coordinator.drain();
            if (commands.empty()) return;
            for (const DirectorRecordingCommand& command : commands) {
                sent.push_back(command);
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
            if (!camera.answersPings) return;
            const double t1 = payload.at("t1").get<double>();
            reply(target, Json{{"action", "CLOCK_PONG"},
                               {"requestId", payload.at("requestId")},
                               {"t1", t1},
                               {"t2", t1 + camera.clockOffset},
                               {"t3", t1 + camera.clockOffset}});
        } else if (action == "PREPARE_TAKE") {
            ++camera.prepares;
            if (!camera.answersPrepare) return;
            Json ack = payload;
            ack["action"] = "PREPARE_ACK";
            ack["ready"] = true;
            ack["projectAssignmentStored"] = true;
            ack["assignmentStoredMonoMs"] = cameraNow;
            ack["clipId"] = fakeID("c1000000", ++m_clips);
            camera.preparedTake = payload.at("takeId").get<std::string>();
            reply(target, ack);
        } else if (action == "START_AT") {
            ++camera.startAts;
            camera.startPayloads.push_back(payload);
            camera.startMono = payload.at("startMonoMs").get<double>();
            if (camera.answersStart) {
                reply(target, Json{{"action", "START_ACK"},
                                   {"requestId", payload.at("takeId")},
                                   {"takeId", payload.at("takeId")},
                                   {"accepted", true}});
            }
        } else if (action == "STOP_TAKE") {
            if (payload.at("takeId") == "") {
                ++camera.legacyStops;
                stopRecording(camera);
                return;
            }
            ++camera.stops;
            if (!camera.answersStop) return;
            reply(target, Json{{"action", "STOP_ACK"},
                               {"requestId", payload.at("requestId")},
                               {"takeId", payload.at("takeId")},
                               {"accepted", camera.acceptsStop},
                               {"finalizing", false}});
            if (camera.acceptsStop) stopRecording(camera);
        } else if (action == "CANCEL_TAKE") {
            ++camera.cancels;
            camera.startMono.reset();
            stopRecording(camera);
        }
    }

    static void stopRecording(SimCamera& camera) {
        camera.peer.recording = false;
        camera.peer.busy = false;
        camera.startMono.reset();
    }

    int m_ids = 0;
    int m_clips = 0;
};

} // namespace velk::testing

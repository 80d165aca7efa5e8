// Control replies of the recording channel: each NUL-separated datagram goes through
// RecordingWire::command and, when it passes, to a coordinator that has pinged two cameras and
// begun a take on them, with a 100 ms tick between datagrams. Request ids come from a counter, so
// seeds can answer real requests. Nothing may crash, and the coordinator's outbox stays well formed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "director/director_recording_coordinator.hpp"
#include "director/recording_wire.hpp"

namespace {

using namespace velk;

const std::string kDirector = "6f1c2b9e-8a4d-4c1e-9f2a-3b5d7e9a1c20";

DirectorRecordingPeer camera(const std::string& id, const std::string& host) {
    return {.id = id, .name = "Camera " + id, .host = host, .session = "s-" + id, .seenAt = 0,
            .remoteControl = true, .syncVersion = 1, .prepareVersion = 2, .warmPrepare = true,
            .safeStopVersion = 1, .ready = true, .projectSyncVersion = 1};
}

void checkOutbox(DirectorRecordingCoordinator& coordinator) {
    for (const DirectorRecordingCommand& command : coordinator.drain()) {
        if (!command.payload.is_object() || !RecordingWire::packet(kDirector, command.payload, 0)) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int next = 0;
    DirectorRecordingCoordinator coordinator([&next] {
        char id[40];
        std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", ++next);
        return std::string(id);
    });
    coordinator.identify(kDirector);
    double now = 0;
    coordinator.update(camera("cam-a", "10.0.0.2"), now);
    coordinator.update(camera("cam-b", "10.0.0.3"), now);
    coordinator.tick(now);
    checkOutbox(coordinator);

    std::string_view rest(reinterpret_cast<const char*>(data), size);
    bool begun = false;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\0');
        const std::string_view datagram = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (auto command = RecordingWire::command(datagram)) {
            const std::string host = command->sender == "cam-b" ? "10.0.0.3" : "10.0.0.2";
            coordinator.receive(command->sender, host, command->session, command->payload, now);
        }
        now += 100;
        if (!begun) {
            const DirectorTakeAssignment assignment{"take-1", "0d6a1f3e-2b4c-4d5e-8f60-718293a4b5c6", "Shoot", 7,
                                                    "2026-05-01T12:30:00Z", "cam-a", "30/1"};
            begun = coordinator.begin({"cam-a", "cam-b"}, assignment, now);
        }
        coordinator.tick(now);
        checkOutbox(coordinator);
    }
    coordinator.stop({}, true, now);
    checkOutbox(coordinator);
    return 0;
}

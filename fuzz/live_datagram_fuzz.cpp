// Every datagram of the live camera channel goes through these decoders; none may crash, hang or
// leak on any input, and an accepted snapshot must survive the order filter and the camera list.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "discovery/camera_status_ingest.hpp"
#include "discovery/identity_probe.hpp"
#include "discovery/live_camera_packet.hpp"
#include "discovery/snapshot_order_filter.hpp"
#include "discovery/transfer_mode_request.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view datagram(reinterpret_cast<const char*>(data), size);

    velk::IdentityReplyReader reader;
    reader.feed(datagram);

    if (auto response = velk::decodeTransferModeResponse(datagram)) {
        velk::PendingTransferRequests pending;
        pending.remember("r", {"cam", "Camera", "10.0.0.2", "c"});
        pending.handleResponse(response->sender, "10.0.0.2", response->payload);
    }

    auto packet = velk::decodePacket(datagram);
    if (!packet) return 0;
    velk::SnapshotOrderTable orders;
    if (!orders.acceptSnapshot(*packet, 0, true, true)) return 0;
    velk::recordingPeer(*packet, "10.0.0.2", 0);
    std::vector<velk::LiveCamera> cameras;
    velk::ingestCamera(cameras, packet->sender, "10.0.0.2", packet->payload, packet->sessionText(),
                       velk::WallTime{});
    velk::ingestCamera(cameras, packet->sender, "10.0.0.2", packet->payload, packet->sessionText(),
                       velk::WallTime{});
    return 0;
}

// The identity-probe reply as the prober reads it off its TCP connection: the first byte decides
// how many bytes each read returns, the rest arrives read by read, only as much as the reader
// asks for. A complete body is at most 8192 bytes and then goes through the status decoder, the
// probe's order admission and the camera list.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "discovery/camera_status_ingest.hpp"
#include "discovery/identity_probe.hpp"
#include "discovery/live_camera_packet.hpp"
#include "discovery/snapshot_order_filter.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velk;
    if (size == 0) return 0;
    const std::size_t readSize = data[0] % 64 + 1;
    std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

    IdentityReplyReader reader;
    IdentityReplyReader::State state = IdentityReplyReader::State::needMore;
    while (state == IdentityReplyReader::State::needMore && !stream.empty()) {
        const std::size_t wanted = reader.wanted();
        if (wanted == 0) std::abort();
        const std::size_t count = std::min({wanted, readSize, stream.size()});
        state = reader.feed(stream.substr(0, count));
        stream.remove_prefix(count);
    }
    if (state != IdentityReplyReader::State::complete) return 0;
    if (reader.body().empty() || reader.body().size() > 8192) std::abort();

    auto packet = decodePacket(reader.body());
    if (!packet) return 0;
    SnapshotOrderTable orders;
    const bool allow = orders.probeAdmission(packet->cameraID(), 0) ==
                       SnapshotOrderTable::ProbeAdmission::sessionSwitchAllowed;
    if (!orders.acceptSnapshot(*packet, 0, allow, allow)) return 0;
    std::vector<LiveCamera> cameras;
    ingestCamera(cameras, packet->sender, "10.0.0.2", packet->payload, packet->sessionText(), WallTime{});
    return 0;
}

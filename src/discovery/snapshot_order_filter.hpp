#pragma once
// The per-camera order filter: a snapshot may change what the Director knows of a camera only
// when it is newer than the last one accepted from that camera.

#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "base/json.hpp"
#include "discovery/live_camera_packet.hpp"

namespace velk {

struct PeerSnapshotOrder {
    std::optional<std::string> session; // lower-case UUID text
    double highest = -1;
    std::set<std::string> retired;
    std::deque<std::string> retiredOrder; // oldest first
    double legacySent = -1;
    double lastAccepted = -std::numeric_limits<double>::infinity();

    static constexpr std::size_t maximumRetiredSessions = 16;
    static constexpr double legacyResetQuietMs = 6500;

    // An integral, non-negative JSON number of at most 2^53 - 1, as a double.
    static std::optional<double> integer(const std::optional<Json>& value);

    // True when the snapshot is newer; only then is the state advanced.
    bool accept(const LiveCameraPacket& packet, double nowMs, bool allowSessionSwitch, bool allowLegacyReset);
};

// The channel's table of order filters, bounded at 128 cameras by first appearance, together with
// the revision of each camera's last UDP snapshot. A camera's revision leaves with its order entry,
// so neither table grows beyond the bound.
class SnapshotOrderTable {
public:
    static constexpr std::size_t maximumCameras = 128;

    bool acceptSnapshot(const LiveCameraPacket& packet, double nowMs, bool allowSessionSwitch, bool allowLegacyReset);

    // Counts an accepted UDP snapshot of a camera.
    void recordUDPSnapshot(const std::string& cameraID);
    std::uint64_t udpRevision() const { return m_udpRevision; }
    std::optional<std::uint64_t> lastUDPRevision(const std::string& cameraID) const;

    // What an identity-probe reply of a camera may do, given the revision when the probe began.
    enum class ProbeAdmission { sessionSwitchAllowed, sameSessionOnly, dropped };
    ProbeAdmission probeAdmission(const std::string& cameraID, std::uint64_t probeStartRevision) const;

    const PeerSnapshotOrder* order(const std::string& cameraID) const;
    std::size_t size() const { return m_orders.size(); }
    std::size_t revisionCount() const { return m_lastUDPRevision.size(); }

private:
    std::unordered_map<std::string, PeerSnapshotOrder> m_orders;
    std::deque<std::string> m_keys; // first appearance, oldest first
    std::uint64_t m_udpRevision = 0;
    std::unordered_map<std::string, std::uint64_t> m_lastUDPRevision;
};

} // namespace velk

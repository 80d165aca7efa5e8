#include "discovery/snapshot_order_filter.hpp"

#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "discovery/wire_readers.hpp"

namespace velk {

std::optional<double> PeerSnapshotOrder::integer(const std::optional<Json>& value) {
    auto read = wire::safeInteger(value ? &*value : nullptr);
    if (!read) return std::nullopt;
    return static_cast<double>(*read);
}

bool PeerSnapshotOrder::accept(const LiveCameraPacket& packet, double nowMs, bool allowSessionSwitch,
                               bool allowLegacyReset) {
    if (!packet.hasSessionID) {
        if (packet.hasSequence) return false;
        if (session) return false;
        std::optional<double> sent;
        if (packet.hasSentMs) {
            sent = integer(packet.sentMs);
            if (!sent) return false;
            if (*sent < legacySent && !(allowLegacyReset && nowMs - lastAccepted > legacyResetQuietMs)) return false;
        } else if (!allowLegacyReset) {
            return false;
        }
        if (sent) legacySent = *sent;
        lastAccepted = nowMs;
        return true;
    }

    if (!packet.hasSequence) return false;
    auto text = packet.sessionText();
    if (!text || text->size() != 36) return false;
    auto bytes = uuid::parse(*text);
    if (!bytes) return false;
    auto sequence = integer(packet.sequence);
    if (!sequence) return false;
    std::string canonical = uuid::lowercaseText(*bytes);
    if (retired.count(canonical)) return false;

    if (!session) {
        if (!allowSessionSwitch) return false;
        session = canonical;
        highest = -1;
    } else if (*session == canonical) {
        if (!(*sequence > highest)) return false;
    } else {
        if (!allowSessionSwitch) return false;
        retired.insert(*session);
        retiredOrder.push_back(*session);
        if (retiredOrder.size() > maximumRetiredSessions) {
            retired.erase(retiredOrder.front());
            retiredOrder.pop_front();
        }
        session = canonical;
        highest = -1;
    }
    highest = *sequence;
    lastAccepted = nowMs;
    return true;
}

bool SnapshotOrderTable::acceptSnapshot(const LiveCameraPacket& packet, double nowMs, bool allowSessionSwitch,
                                        bool allowLegacyReset) {
    std::string id = packet.cameraID();
    if (id.empty() || id.size() > maximumIdentityBytes) return false;
    auto found = m_orders.find(id);
    if (found == m_orders.end()) {
        if (m_keys.size() >= maximumCameras) {
            const std::string& oldest = m_keys.front();
            m_orders.erase(oldest);
            m_lastUDPRevision.erase(oldest);
            m_keys.pop_front();
        }
        m_keys.push_back(id);
        found = m_orders.emplace(id, PeerSnapshotOrder{}).first;
    }
    return found->second.accept(packet, nowMs, allowSessionSwitch, allowLegacyReset);
}

void SnapshotOrderTable::recordUDPSnapshot(const std::string& cameraID) {
    ++m_udpRevision;
    // Only cameras that hold an order entry are counted, so the revision table stays bounded.
    if (m_orders.count(cameraID)) m_lastUDPRevision[cameraID] = m_udpRevision;
}

std::optional<std::uint64_t> SnapshotOrderTable::lastUDPRevision(const std::string& cameraID) const {
    auto it = m_lastUDPRevision.find(cameraID);
    if (it == m_lastUDPRevision.end()) return std::nullopt;
    return it->second;
}

SnapshotOrderTable::ProbeAdmission SnapshotOrderTable::probeAdmission(const std::string& cameraID,
                                                                     std::uint64_t probeStartRevision) const {
    auto last = lastUDPRevision(cameraID);
    if (!last) return ProbeAdmission::sessionSwitchAllowed;
    if (*last <= probeStartRevision) return ProbeAdmission::sameSessionOnly;
    return ProbeAdmission::dropped;
}

const PeerSnapshotOrder* SnapshotOrderTable::order(const std::string& cameraID) const {
    auto it = m_orders.find(cameraID);
    return it == m_orders.end() ? nullptr : &it->second;
}

} // namespace velk

#pragma once
// The relay arrangement of a live production: canonical identifiers, the time-limited relay lease
// with its epoch, the election and the resolution of competing claims, the preview decision of a
// receiving node and one camera's fan-out. Deterministic functions of their arguments: no clock,
// no state, nothing sent. Times are whole milliseconds on one clock.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "preview/live_production_profile.hpp"

namespace velk {

struct LiveProductionRelayCandidate {
    std::string stableID;
    bool isMac = false;
    bool isOnline = false;
    bool supportsProcessedPreviewRelay = false;

    std::optional<std::string> canonicalID() const;
    bool isEligible() const;
    bool operator==(const LiveProductionRelayCandidate&) const = default;
};

struct LiveProductionRelayLease {
    std::string sessionID;
    std::string authorityID;
    std::uint64_t epoch = 0;
    std::int64_t expiresAtMillis = 0;

    bool isValid(std::string_view session, std::int64_t at) const;
    bool operator==(const LiveProductionRelayLease&) const = default;
};

void to_json(Json& json, const LiveProductionRelayCandidate& candidate);
void from_json(const Json& json, LiveProductionRelayCandidate& candidate);
void to_json(Json& json, const LiveProductionRelayLease& lease);
void from_json(const Json& json, LiveProductionRelayLease& lease);

namespace LiveProductionRelayElection {

inline constexpr std::int64_t defaultLeaseMillis = 6000;

// The lower-case standard form of a UUID text; none for anything else.
std::optional<std::string> canonicalSessionID(std::string_view text);
// A UUID (lowered), or exactly 16 lower-case hexadecimal digits unchanged; none otherwise.
std::optional<std::string> canonicalStableID(std::string_view text);

std::optional<LiveProductionRelayLease> elect(std::string_view sessionID,
                                              const std::vector<LiveProductionRelayCandidate>& candidates,
                                              const std::optional<LiveProductionRelayLease>& current,
                                              std::int64_t nowMillis, std::int64_t leaseMillis = defaultLeaseMillis);
std::optional<LiveProductionRelayLease> resolve(std::string_view sessionID,
                                                const std::vector<LiveProductionRelayLease>& claims,
                                                const std::vector<LiveProductionRelayCandidate>& candidates,
                                                std::int64_t nowMillis);
bool isAuthority(std::string_view sessionID, LiveProductionNodeRole role, std::string_view stableID,
                 const std::optional<LiveProductionRelayLease>& lease, std::int64_t nowMillis);

} // namespace LiveProductionRelayElection

struct LiveProductionPreviewDecision {
    LiveProductionPreviewSource source = LiveProductionPreviewSource::unavailable;
    std::optional<std::string> relayAuthorityID;
    bool mayTranscodeOrRelay = false;
    std::string explanation;
    bool operator==(const LiveProductionPreviewDecision&) const = default;
};

namespace LiveProductionTopology {

inline constexpr std::int64_t minimumFullHDBudgetMbps = 6;

LiveProductionPreviewDecision previewDecision(
    std::string_view sessionID, LiveProductionNodeRole receiverRole, std::string_view receiverStableID,
    LiveProductionPreviewIntent intent, const std::optional<LiveProductionRelayLease>& relayLease,
    std::int64_t nowMillis, bool cameraAdvertisesFullHD, bool receiverSupportsFullHD, std::int64_t networkBudgetMbps,
    bool fhdTransportOperational = LiveProductionProfile::fhdTransportOperational,
    bool processedRelayOperational = LiveProductionProfile::processedPreviewRelayOperational);

} // namespace LiveProductionTopology

struct LiveProductionCameraFanout {
    bool localRecordingActive = false;
    std::vector<std::string> unicastViewerIDs;
    std::int64_t bitrateMbps = 0;

    // Canonical viewer identifiers, duplicates collapsed, in ascending order.
    std::vector<std::string> uniqueViewers() const;
    std::int64_t unicastViewerCount() const;
    std::int64_t outboundMbps() const;
    std::int64_t additionalViewerBandwidthMbps() const;
    std::int64_t encoderInstances() const;
    bool sharesIdenticalEncodedBytes() const;
    std::string bandwidthSummary() const;

    bool operator==(const LiveProductionCameraFanout&) const = default;
};

} // namespace velk

#include "preview/live_production_relay_election.hpp"

#include <algorithm>
#include <limits>
#include <set>

#include "base/uuid.hpp"

namespace velk {

namespace {

using LiveProductionRelayElection::canonicalSessionID;
using LiveProductionRelayElection::canonicalStableID;

std::set<std::string> eligibleSet(const std::vector<LiveProductionRelayCandidate>& candidates) {
    std::set<std::string> eligible;
    for (const auto& candidate : candidates) {
        if (candidate.isEligible()) eligible.insert(*candidate.canonicalID());
    }
    return eligible;
}

// Products and sums clamp at the largest 64-bit value instead of wrapping.
std::int64_t saturatingMultiply(std::int64_t a, std::int64_t b) {
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return std::numeric_limits<std::int64_t>::max();
    return product;
}

std::uint64_t readEpoch(const Json& object) {
    auto it = object.find("epoch");
    if (it != object.end() && it->is_number_unsigned()) return it->get<std::uint64_t>();
    if (it != object.end()) {
        if (auto value = json::integerValue(*it); value && *value >= 0) return static_cast<std::uint64_t>(*value);
    }
    throw JsonError("Expected an unsigned integer for key \"epoch\".");
}

} // namespace

std::optional<std::string> LiveProductionRelayCandidate::canonicalID() const { return canonicalStableID(stableID); }

bool LiveProductionRelayCandidate::isEligible() const {
    return canonicalID().has_value() && isMac && isOnline && supportsProcessedPreviewRelay;
}

bool LiveProductionRelayLease::isValid(std::string_view session, std::int64_t at) const {
    const auto own = canonicalSessionID(sessionID);
    const auto given = canonicalSessionID(session);
    return own && given && *own == *given && canonicalStableID(authorityID) && epoch != 0 && expiresAtMillis > at;
}

void to_json(Json& json, const LiveProductionRelayCandidate& candidate) {
    json = Json{{"stableID", candidate.stableID},
                {"isMac", candidate.isMac},
                {"isOnline", candidate.isOnline},
                {"supportsProcessedPreviewRelay", candidate.supportsProcessedPreviewRelay}};
}

void from_json(const Json& json, LiveProductionRelayCandidate& candidate) {
    const Json& object = json::requireObject(json, "relay candidate");
    candidate.stableID = json::requireString(object, "stableID");
    candidate.isMac = json::requireBool(object, "isMac");
    candidate.isOnline = json::requireBool(object, "isOnline");
    candidate.supportsProcessedPreviewRelay = json::requireBool(object, "supportsProcessedPreviewRelay");
}

void to_json(Json& json, const LiveProductionRelayLease& lease) {
    json = Json{{"sessionID", lease.sessionID},
                {"authorityID", lease.authorityID},
                {"epoch", lease.epoch},
                {"expiresAtMillis", lease.expiresAtMillis}};
}

void from_json(const Json& json, LiveProductionRelayLease& lease) {
    const Json& object = json::requireObject(json, "relay lease");
    lease.sessionID = json::requireString(object, "sessionID");
    lease.authorityID = json::requireString(object, "authorityID");
    lease.epoch = readEpoch(object);
    lease.expiresAtMillis = json::requireInt64(object, "expiresAtMillis");
}

namespace LiveProductionRelayElection {

std::optional<std::string> canonicalSessionID(std::string_view text) {
    auto parsed = uuid::parse(text);
    if (!parsed) return std::nullopt;
    return uuid::lowercaseText(*parsed);
}

std::optional<std::string> canonicalStableID(std::string_view text) {
    if (auto session = canonicalSessionID(text)) return session;
    if (text.size() != 16) return std::nullopt;
    const bool lowerHex = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
    if (!lowerHex) return std::nullopt;
    return std::string(text);
}

std::optional<LiveProductionRelayLease> elect(std::string_view sessionID,
                                              const std::vector<LiveProductionRelayCandidate>& candidates,
                                              const std::optional<LiveProductionRelayLease>& current,
                                              std::int64_t nowMillis, std::int64_t leaseMillis) {
    const auto session = canonicalSessionID(sessionID);
    if (!session) return std::nullopt;
    if (leaseMillis <= 0) return std::nullopt;
    std::int64_t expires = 0;
    if (__builtin_add_overflow(nowMillis, leaseMillis, &expires)) return std::nullopt;
    const auto eligible = eligibleSet(candidates);
    if (eligible.empty()) return std::nullopt;

    if (current && current->isValid(*session, nowMillis)) {
        const auto authority = canonicalStableID(current->authorityID);
        if (authority && eligible.count(*authority)) {
            return LiveProductionRelayLease{*session, *authority, current->epoch, expires};
        }
    }
    const std::string& winner = *eligible.begin();
    std::uint64_t epoch = 1;
    if (current && canonicalSessionID(current->sessionID) == session) {
        if (current->epoch == std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
        epoch = current->epoch + 1;
    }
    return LiveProductionRelayLease{*session, winner, epoch, expires};
}

std::optional<LiveProductionRelayLease> resolve(std::string_view sessionID,
                                                const std::vector<LiveProductionRelayLease>& claims,
                                                const std::vector<LiveProductionRelayCandidate>& candidates,
                                                std::int64_t nowMillis) {
    const auto session = canonicalSessionID(sessionID);
    if (!session) return std::nullopt;
    const auto eligible = eligibleSet(candidates);
    std::vector<LiveProductionRelayLease> retained;
    for (const auto& claim : claims) {
        if (canonicalSessionID(claim.sessionID) != session) continue;
        const auto authority = canonicalStableID(claim.authorityID);
        if (!authority || claim.epoch == 0 || claim.expiresAtMillis <= nowMillis || !eligible.count(*authority)) continue;
        retained.push_back({*session, *authority, claim.epoch, claim.expiresAtMillis});
    }
    std::stable_sort(retained.begin(), retained.end(), [](const auto& a, const auto& b) {
        if (a.epoch != b.epoch) return a.epoch > b.epoch;
        if (a.authorityID != b.authorityID) return a.authorityID < b.authorityID;
        return a.expiresAtMillis > b.expiresAtMillis;
    });
    if (retained.empty()) return std::nullopt;
    return retained.front();
}

bool isAuthority(std::string_view sessionID, LiveProductionNodeRole role, std::string_view stableID,
                 const std::optional<LiveProductionRelayLease>& lease, std::int64_t nowMillis) {
    if (role != LiveProductionNodeRole::macDirector) return false;
    if (!lease || !lease->isValid(sessionID, nowMillis)) return false;
    const auto mine = canonicalStableID(stableID);
    const auto authority = canonicalStableID(lease->authorityID);
    return mine && authority && *mine == *authority;
}

} // namespace LiveProductionRelayElection

namespace LiveProductionTopology {

LiveProductionPreviewDecision previewDecision(std::string_view sessionID, LiveProductionNodeRole receiverRole,
                                              std::string_view receiverStableID, LiveProductionPreviewIntent intent,
                                              const std::optional<LiveProductionRelayLease>& relayLease,
                                              std::int64_t nowMillis, bool cameraAdvertisesFullHD,
                                              bool receiverSupportsFullHD, std::int64_t networkBudgetMbps,
                                              bool fhdTransportOperational, bool processedRelayOperational) {
    using Source = LiveProductionPreviewSource;
    std::optional<std::string> relayAuthority;
    if (processedRelayOperational && relayLease && relayLease->isValid(sessionID, nowMillis)) {
        relayAuthority = canonicalStableID(relayLease->authorityID);
    }
    const bool receiverIsAuthority =
        processedRelayOperational &&
        LiveProductionRelayElection::isAuthority(sessionID, receiverRole, receiverStableID, relayLease, nowMillis);
    const bool fullHD = intent == LiveProductionPreviewIntent::fullHD && fhdTransportOperational &&
                        cameraAdvertisesFullHD && receiverSupportsFullHD &&
                        networkBudgetMbps >= minimumFullHDBudgetMbps;

    switch (receiverRole) {
    case LiveProductionNodeRole::camera:
        return {Source::unavailable, std::nullopt, false, "Camera nodes do not consume Director previews"};
    case LiveProductionNodeRole::macDirector:
        if (fullHD) {
            return {Source::cameraDirectFullHD, relayAuthority, receiverIsAuthority,
                    "The computer consumes the camera's existing encoded bytes directly"};
        }
        return {Source::cameraLow, relayAuthority, receiverIsAuthority, "Computer LOW uses the ordinary camera preview"};
    case LiveProductionNodeRole::deviceDirector:
        if (fullHD) {
            return {Source::cameraDirectFullHD, relayAuthority, false,
                    "Device Director consumes the camera's existing encoded bytes directly"};
        }
        if (relayAuthority) {
            return {Source::electedMacProcessedLow, relayAuthority, false,
                    "Device Director LOW consumes the elected computer's processed preview"};
        }
        return {Source::cameraLow, std::nullopt, false, "Device Director LOW falls back to ordinary camera previews"};
    case LiveProductionNodeRole::both:
        if (relayAuthority) {
            return {Source::electedMacProcessedLow, relayAuthority, false,
                    "Both is LOW-only and consumes the elected computer's processed preview"};
        }
        return {Source::cameraLow, std::nullopt, false, "Both is LOW-only and falls back to ordinary camera previews"};
    }
    return {Source::unavailable, std::nullopt, false, "Camera nodes do not consume Director previews"};
}

} // namespace LiveProductionTopology

std::vector<std::string> LiveProductionCameraFanout::uniqueViewers() const {
    std::set<std::string> unique;
    for (const auto& id : unicastViewerIDs) {
        if (auto canonical = canonicalStableID(id)) unique.insert(*canonical);
    }
    return {unique.begin(), unique.end()};
}

std::int64_t LiveProductionCameraFanout::unicastViewerCount() const {
    return static_cast<std::int64_t>(uniqueViewers().size());
}

std::int64_t LiveProductionCameraFanout::outboundMbps() const {
    return saturatingMultiply(std::max<std::int64_t>(bitrateMbps, 0), unicastViewerCount());
}

std::int64_t LiveProductionCameraFanout::additionalViewerBandwidthMbps() const {
    return saturatingMultiply(std::max<std::int64_t>(unicastViewerCount() - 1, 0), std::max<std::int64_t>(bitrateMbps, 0));
}

std::int64_t LiveProductionCameraFanout::encoderInstances() const { return sharesIdenticalEncodedBytes() ? 1 : 0; }

bool LiveProductionCameraFanout::sharesIdenticalEncodedBytes() const {
    return localRecordingActive || unicastViewerCount() > 0;
}

std::string LiveProductionCameraFanout::bandwidthSummary() const {
    return std::to_string(unicastViewerCount()) + " unicast viewers \u2022 ~" + std::to_string(outboundMbps()) +
           " Mbps outbound \u2022 " + std::to_string(encoderInstances()) + " encoder";
}

} // namespace velk

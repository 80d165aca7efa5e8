// Live production: the profile, relay election, claim resolution, preview decision and fan-out.

#include <limits>

#include <gtest/gtest.h>

#include "preview/live_production_relay_election.hpp"

namespace velk {
namespace {

namespace Election = LiveProductionRelayElection;
using Role = LiveProductionNodeRole;
using Source = LiveProductionPreviewSource;

const std::string kSession = "3f2504e0-4f89-41d3-9a0c-0305e82c3301";
const std::string kOtherSession = "9b2c1d3e-0000-4000-8000-000000000001";
const std::string kA = "aaaaaaaaaaaaaaaa";
const std::string kB = "bbbbbbbbbbbbbbbb";
const std::string kC = "cccccccccccccccc";

LiveProductionRelayCandidate mac(const std::string& id, bool online = true, bool isMac = true, bool relay = true) {
    return {id, isMac, online, relay};
}

TEST(LiveProductionProfile, FpsAndAvailability) {
    for (auto [in, out] : std::vector<std::pair<std::int64_t, std::int64_t>>{{30, 30}, {25, 25}, {24, 25}, {60, 25}, {0, 25}, {-30, 25}}) {
        EXPECT_EQ(LiveProductionProfile::normalizedFPS(in), out) << in;
    }
    EXPECT_EQ(LiveProductionProfile::availability(true, {}), "Unavailable in this build");
    EXPECT_EQ(LiveProductionProfile::availability(false, std::vector<LiveCamera>(8)), "Off");
}

TEST(LiveProductionProfile, EnumerationsCodeAsTheirRawValues) {
    EXPECT_EQ(Json(Role::deviceDirector), Json("deviceDirector"));
    EXPECT_EQ(Json("fullHD").get<LiveProductionPreviewIntent>(), LiveProductionPreviewIntent::fullHD);
    EXPECT_EQ(Json("electedMacProcessedLow").get<Source>(), Source::electedMacProcessedLow);
    EXPECT_THROW(Json("DeviceDirector").get<Role>(), JsonError);
    EXPECT_THROW(Json("director").get<Role>(), JsonError);
    EXPECT_THROW(Json(3).get<Role>(), JsonError);
    EXPECT_EQ(nodeRoleFromRaw("both"), Role::both);
    EXPECT_EQ(previewSourceFromRaw("cameralow"), std::nullopt);
}

TEST(LiveProductionRelayElection, CanonicalStableIDs) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"0123456789abcdef", "0123456789abcdef"},
        {"0123456789abcdeF", std::nullopt},
        {"0123456789abcde", std::nullopt},
        {"0123456789abcdef0", std::nullopt},
        {"3F2504E0-4F89-41D3-9A0C-0305E82C3301", kSession},
        {"{3f2504e0-4f89-41d3-9a0c-0305e82c3301}", std::nullopt},
        {"3f2504e04f8941d39a0c0305e82c3301", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Election::canonicalStableID(text), expected) << text;
    EXPECT_EQ(Election::canonicalSessionID("0123456789abcdef"), std::nullopt);
}

TEST(LiveProductionRelayElection, Elect) {
    const std::int64_t now = 1'000;
    EXPECT_EQ(Election::elect(kSession, {}, std::nullopt, now), std::nullopt);
    EXPECT_EQ(Election::elect(kSession, {mac(kA, false), mac(kB, true, false), mac(kC, true, true, false)}, std::nullopt, now),
              std::nullopt);
    const std::vector<LiveProductionRelayCandidate> three = {mac(kC), mac(kB), mac("not-an-id"), mac(kB)};
    EXPECT_EQ(Election::elect(kSession, three, std::nullopt, now), (LiveProductionRelayLease{kSession, kB, 1, 7'000}));
    // A valid lease of an eligible authority is renewed, even with a smaller identifier present.
    const LiveProductionRelayLease held{kSession, kC, 4, 2'000};
    EXPECT_EQ(Election::elect(kSession, {mac(kA), mac(kC)}, held, now), (LiveProductionRelayLease{kSession, kC, 4, 7'000}));
    // Expired: the smallest takes over with the next epoch; another session starts again at 1.
    EXPECT_EQ(Election::elect(kSession, {mac(kA), mac(kC)}, LiveProductionRelayLease{kSession, kC, 4, now}, now),
              (LiveProductionRelayLease{kSession, kA, 5, 7'000}));
    EXPECT_EQ(Election::elect(kSession, {mac(kA)}, LiveProductionRelayLease{kOtherSession, kA, 9, 9'000}, now),
              (LiveProductionRelayLease{kSession, kA, 1, 7'000}));
    EXPECT_EQ(Election::elect(kSession, {mac(kA)}, std::nullopt, now, 0), std::nullopt);
    EXPECT_EQ(Election::elect(kSession, {mac(kA)}, std::nullopt, std::numeric_limits<std::int64_t>::max()), std::nullopt);
    EXPECT_EQ(Election::elect(kSession, {mac(kA)},
                              LiveProductionRelayLease{kSession, kB, std::numeric_limits<std::uint64_t>::max(), 0}, now),
              std::nullopt);
    EXPECT_EQ(Election::elect("not-a-session", {mac(kA)}, std::nullopt, now), std::nullopt);
}

TEST(LiveProductionRelayElection, Resolve) {
    const std::int64_t now = 1'000;
    const std::vector<LiveProductionRelayCandidate> all = {mac(kA), mac(kB), mac(kC)};
    const LiveProductionRelayLease b3{kSession, kB, 3, 5'000}, a3{kSession, kA, 3, 5'000}, c4{kSession, kC, 4, 5'000};
    EXPECT_EQ(Election::resolve(kSession, {b3, a3, c4}, all, now), c4);
    EXPECT_EQ(Election::resolve(kSession, {b3, a3}, all, now), a3);
    const LiveProductionRelayLease a3later{kSession, kA, 3, 6'000};
    EXPECT_EQ(Election::resolve(kSession, {a3, a3later}, all, now), a3later);
    const std::vector<LiveProductionRelayLease> dropped = {
        {kSession, kA, 3, now}, {kSession, kA, 0, 5'000}, {kOtherSession, kA, 3, 5'000}, {kSession, "dddddddddddddddd", 9, 5'000}};
    EXPECT_EQ(Election::resolve(kSession, dropped, all, now), std::nullopt);
    EXPECT_EQ(Election::resolve(kSession, {a3}, {}, now), std::nullopt);
}

TEST(LiveProductionTopology, AuthorityAndDecisions) {
    const std::int64_t now = 1'000;
    const LiveProductionRelayLease lease{kSession, kA, 2, 5'000};
    EXPECT_TRUE(Election::isAuthority(kSession, Role::macDirector, kA, lease, now));
    EXPECT_FALSE(Election::isAuthority(kSession, Role::deviceDirector, kA, lease, now));
    EXPECT_FALSE(Election::isAuthority(kSession, Role::macDirector, kA, lease, 5'000));

    const auto decide = [&](Role role, LiveProductionPreviewIntent intent, bool fhd, bool relay) {
        return LiveProductionTopology::previewDecision(kSession, role, kA, intent, lease, now, true, true, 6, fhd, relay);
    };
    using Intent = LiveProductionPreviewIntent;
    const std::optional<std::string> none;
    struct Case {
        Role role;
        Intent intent;
        bool fhd, relay;
        LiveProductionPreviewDecision expected;
    } cases[] = {
        {Role::camera, Intent::fullHD, true, true, {Source::unavailable, none, false, "Camera nodes do not consume Director previews"}},
        {Role::macDirector, Intent::fullHD, true, true, {Source::cameraDirectFullHD, kA, true, "The computer consumes the camera's existing encoded bytes directly"}},
        {Role::macDirector, Intent::fullHD, false, false, {Source::cameraLow, none, false, "Computer LOW uses the ordinary camera preview"}},
        {Role::deviceDirector, Intent::fullHD, true, false, {Source::cameraDirectFullHD, none, false, "Device Director consumes the camera's existing encoded bytes directly"}},
        {Role::deviceDirector, Intent::low, true, true, {Source::electedMacProcessedLow, kA, false, "Device Director LOW consumes the elected computer's processed preview"}},
        {Role::deviceDirector, Intent::low, false, false, {Source::cameraLow, none, false, "Device Director LOW falls back to ordinary camera previews"}},
        {Role::both, Intent::fullHD, true, true, {Source::electedMacProcessedLow, kA, false, "Both is LOW-only and consumes the elected computer's processed preview"}},
        {Role::both, Intent::fullHD, true, false, {Source::cameraLow, none, false, "Both is LOW-only and falls back to ordinary camera previews"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decide(c.role, c.intent, c.fhd, c.relay), c.expected) << c.expected.explanation;
    }
    // The build's switches are off: a Mac gets the ordinary preview and may not relay.
    EXPECT_EQ(LiveProductionTopology::previewDecision(kSession, Role::macDirector, kA, Intent::fullHD, lease, now, true, true, 100),
              (LiveProductionPreviewDecision{Source::cameraLow, none, false, "Computer LOW uses the ordinary camera preview"}));
    // A budget under 6 Mbps rules Full HD out.
    EXPECT_EQ(LiveProductionTopology::previewDecision(kSession, Role::macDirector, kA, Intent::fullHD, lease, now, true, true, 5, true, false).source,
              Source::cameraLow);
}

TEST(LiveProductionCameraFanout, ViewersBandwidthAndSummary) {
    const std::string upper = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    LiveProductionCameraFanout one{false, {upper, kSession, "nobody"}, 6};
    EXPECT_EQ(one.unicastViewerCount(), 1);
    EXPECT_EQ(one.outboundMbps(), 6);
    EXPECT_EQ(one.additionalViewerBandwidthMbps(), 0);
    EXPECT_EQ(one.encoderInstances(), 1);
    EXPECT_EQ(one.bandwidthSummary(), "1 unicast viewers \u2022 ~6 Mbps outbound \u2022 1 encoder");

    LiveProductionCameraFanout idle{false, {}, 6};
    EXPECT_EQ(idle.encoderInstances(), 0);
    EXPECT_FALSE(idle.sharesIdenticalEncodedBytes());
    LiveProductionCameraFanout recording{true, {}, 6};
    EXPECT_EQ(recording.encoderInstances(), 1);
    EXPECT_EQ(recording.outboundMbps(), 0);

    LiveProductionCameraFanout negative{false, {kA, kB, kC}, -4};
    EXPECT_EQ(negative.outboundMbps(), 0);
    EXPECT_EQ(negative.additionalViewerBandwidthMbps(), 0);
    LiveProductionCameraFanout huge{false, {kA, kB}, std::numeric_limits<std::int64_t>::max()};
    EXPECT_EQ(huge.outboundMbps(), std::numeric_limits<std::int64_t>::max());
}

TEST(LiveProductionRelayLease, JsonKeysAndLargeEpochs) {
    const LiveProductionRelayLease lease{kSession, kA, std::numeric_limits<std::uint64_t>::max(), 42};
    const Json encoded = lease;
    EXPECT_EQ(encoded.at("epoch").get<std::uint64_t>(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(encoded.get<LiveProductionRelayLease>(), lease);
    EXPECT_THROW(json::parse(R"({"sessionID":"s","authorityID":"a","epoch":-1,"expiresAtMillis":1})").get<LiveProductionRelayLease>(),
                 JsonError);
    const LiveProductionRelayCandidate candidate{kA, true, false, true};
    EXPECT_EQ(Json(candidate).get<LiveProductionRelayCandidate>(), candidate);
    EXPECT_THROW(json::parse(R"({"stableID":"a","isMac":1,"isOnline":true,"supportsProcessedPreviewRelay":true})")
                     .get<LiveProductionRelayCandidate>(),
                 JsonError);
}

} // namespace
} // namespace velk

// The preview network policy and the wall roster: pure tables.

#include <gtest/gtest.h>

#include "preview/preview_network_policy.hpp"

namespace velk {
namespace {

using Policy = VELKPreviewNetworkPolicy;

PreviewCapabilities caps(std::optional<double> band, std::optional<double> mbps, bool advertised = true) {
    PreviewCapabilities c;
    if (advertised) c.version = 1;
    c.wifiBandGHz = band;
    c.usableMbps = mbps;
    return c;
}

TEST(PreviewNetworkPolicy, EffectiveTable) {
    struct Case {
        Policy policy;
        std::vector<PreviewCapabilities> cameras;
        Policy expected;
    } cases[] = {
        {Policy::automatic, {}, Policy::conservative24GHz},
        {Policy::automatic, {caps(5.0, 80), caps(5.0, 80)}, Policy::performance5GHz},
        {Policy::automatic, {caps(5.0, 80), caps(5.0, 80), caps(5.0, 80, false)}, Policy::conservative24GHz},
        {Policy::automatic, {caps(4.9, 65.0)}, Policy::performance5GHz},
        {Policy::automatic, {caps(4.9, 64.9)}, Policy::conservative24GHz},
        {Policy::automatic, {caps(4.89, 80)}, Policy::conservative24GHz},
        {Policy::automatic, {caps(5.0, std::nullopt)}, Policy::conservative24GHz},
        {Policy::automatic, {caps(std::nullopt, 80)}, Policy::conservative24GHz},
        {Policy::performance5GHz, {}, Policy::performance5GHz},
        {Policy::performance5GHz, {caps(2.4, 10)}, Policy::performance5GHz},
        {Policy::conservative24GHz, {caps(5.0, 80)}, Policy::conservative24GHz},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PreviewNetworkPolicy::effective(c.policy, c.cameras), c.expected)
            << PreviewNetworkPolicy::rawValue(c.policy) << " with " << c.cameras.size() << " cameras";
    }
}

TEST(PreviewNetworkPolicy, NamesTitlesAndTargets) {
    std::vector<std::string> raws, titles, targets;
    for (auto policy : PreviewNetworkPolicy::allCases) {
        raws.emplace_back(PreviewNetworkPolicy::id(policy));
        titles.emplace_back(PreviewNetworkPolicy::title(policy));
        targets.emplace_back(PreviewNetworkPolicy::target(policy));
        EXPECT_EQ(PreviewNetworkPolicy::fromRaw(PreviewNetworkPolicy::rawValue(policy)), policy);
    }
    EXPECT_EQ(raws, (std::vector<std::string>{"automatic", "performance5GHz", "conservative24GHz"}));
    EXPECT_EQ(titles, (std::vector<std::string>{"Auto", "5 GHz Performance", "2.4 GHz Conservative"}));
    EXPECT_EQ(targets, (std::vector<std::string>{"Capability measured", "65\u201370 Mbps usable target",
                                                 "Reduced selected streams"}));
    EXPECT_EQ(PreviewNetworkPolicy::fromRaw("Auto"), std::nullopt);
    EXPECT_EQ(PreviewNetworkPolicy::fromRaw("Automatic"), std::nullopt);
}

LiveCamera camera(const std::string& id, double ageSeconds, const std::string& role = "CAMERA") {
    LiveCamera c;
    c.id = id;
    c.role = role;
    c.host = "127.0.0.2";
    c.lastSeen = WallTime{} + std::chrono::seconds(100) -
                 std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double>(ageSeconds));
    return c;
}

TEST(LivePreviewRoster, OnlineNonDirectorsFirstEightInOrder) {
    const WallTime at = WallTime{} + std::chrono::seconds(100);
    std::vector<LiveCamera> cameras = {camera("d1", 0, "director"), camera("d2", 0, "DiReCtOr"), camera("old", 6.5),
                                       camera("almost", 6.4), camera("future", -3)};
    for (int i = 0; i < 10; ++i) cameras.push_back(camera("c" + std::to_string(i), 1));
    const auto eligible = LivePreviewRoster::eligible(cameras, at);
    std::vector<std::string> ids;
    for (const auto& c : eligible) ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"almost", "future", "c0", "c1", "c2", "c3", "c4", "c5"}));
    EXPECT_EQ(LivePreviewRoster::eligibleIDs(cameras, at).size(), 8u);
}

} // namespace
} // namespace velk

#include <gtest/gtest.h>

#include "library_window/collect_presenter.hpp"

namespace velk::library {
namespace {

const WallTime now = fromWallMs(1'700'000'000'000);

DiscoveredDevice source(const std::string& name, bool secure, bool open, const std::string& type = "_velk-transfer._tcp.") {
    DiscoveredDevice d;
    d.serviceName = name;
    d.catalogURL = "https://" + name + ".local:8443/velk/v1/catalog";
    d.serviceType = type;
    d.deviceId = "0123456789abcdef";
    if (secure) {
        d.sessionId = "5f0c7a7e-51a1-4d5e-9a51-8f1c6b1e2d3f";
        d.certificateSHA256 = std::string(64, 'a');
        d.foregroundOnly = true;
    }
    if (open) d.transferAccess = "open";
    return d;
}

TEST(CollectPresenter, CodeFilterKeepsDecimalDigitsOfAnyScriptAsASCII) {
    struct Case {
        std::string typed, kept;
    };
    for (const Case& c : std::vector<Case>{{"12-34 56", "123456"},
                                           {"1234567", "123456"},
                                           {"\u0661\u0662\u0663\u0664\u0665\u0666", "123456"},
                                           {"\u00bd\u216b", ""},
                                           {"\uff11a\u0968", "12"},
                                           {"", ""}}) {
        EXPECT_EQ(filteredPairingCode(c.typed), c.kept) << c.typed;
    }
}

TEST(CollectPresenter, ListsOnlyEightSecureTypeSourcesAndNonDirectorOnlineCameras) {
    std::vector<DiscoveredDevice> devices{source("legacy", true, true, "_velk._tcp.")};
    for (int i = 0; i < 9; ++i) devices.push_back(source("p" + std::to_string(i), true, false));
    const auto listed = transferDevices(devices);
    ASSERT_EQ(listed.size(), 8u);
    EXPECT_EQ(listed.front().serviceName, "p0");

    std::vector<LiveCamera> cameras(3);
    cameras[0].id = "a", cameras[0].role = "camera", cameras[0].lastSeen = now;
    cameras[1].id = "d", cameras[1].role = "director", cameras[1].lastSeen = now;
    cameras[2].id = "old", cameras[2].lastSeen = now - std::chrono::seconds(10);
    const auto live = collectLiveCameras(cameras, now);
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(live[0].id, "a");
    cameras[0].recording = true;
    EXPECT_FALSE(cameraCardEnabled(cameras[0], now));
}

TEST(CollectPresenter, ChoiceHoldsOnlyWhileTheSourceIsListed) {
    const auto listed = transferDevices({source("a", true, false)});
    EXPECT_TRUE(selectedDevice(listed, listed[0].id()).has_value());
    EXPECT_FALSE(selectedDevice(listed, std::string("gone")).has_value());
    EXPECT_FALSE(selectedDevice(listed, std::nullopt).has_value());
}

TEST(CollectPresenter, PrimaryButtonTitleEnablingAndPairingPanel) {
    const DiscoveredDevice open = source("open", true, true);
    const DiscoveredDevice secure = source("secure", true, false);
    const DiscoveredDevice incomplete = source("broken", false, false);
    struct Case {
        const char* name;
        CollectInputs in;
        std::string title;
        bool enabled, panel;
    };
    for (const Case& c : std::vector<Case>{
             {"nothing chosen", {nullptr}, "Pair & Load Projects", false, false},
             {"open, setting off", {&open}, "Load Projects", true, false},
             {"open, setting off, busy", {&open, false, true}, "Load Projects", false, false},
             {"open, setting on, no code", {&open, true, false, true, ""}, "Pair & Load Projects", false, true},
             {"open, setting on, code and confirmation", {&open, true, false, true, "123456"}, "Pair & Load Projects", true, true},
             {"secure, code without confirmation", {&secure, false, false, false, "123456"}, "Pair & Load Projects", false, true},
             {"secure, short code", {&secure, false, false, true, "12345"}, "Pair & Load Projects", false, true},
             {"secure, ready", {&secure, false, false, true, "123456"}, "Pair & Load Projects", true, true},
             {"incomplete", {&incomplete, false, false, true, "123456"}, "Pair & Load Projects", false, true},
         }) {
        EXPECT_EQ(primaryTitle(c.in), c.title) << c.name;
        EXPECT_EQ(primaryEnabled(c.in), c.enabled) << c.name;
        EXPECT_EQ(showsPairingPanel(c.in), c.panel) << c.name;
    }
}

TEST(CollectPresenter, LoadAllOpenSourcesIsForbiddenBySecureSettingAndBusy) {
    const std::vector<DiscoveredDevice> withOpen{source("a", true, false), source("b", true, true)};
    const std::vector<DiscoveredDevice> secureOnly{source("a", true, false)};
    EXPECT_TRUE(loadAllOpenEnabled(withOpen, false, false));
    EXPECT_FALSE(loadAllOpenEnabled(withOpen, false, true));
    EXPECT_FALSE(loadAllOpenEnabled(withOpen, true, false));
    EXPECT_FALSE(loadAllOpenEnabled(secureOnly, false, false));
}

// Cards written one letter each: "o" can be chosen, "x" cannot, "C" is the chosen one.
TEST(CollectPresenter, SourceCardsAreOneTabStopWhoseArrowsChoose) {
    const auto cards = [](std::string_view letters) {
        std::vector<SourceCard> made;
        for (char letter : letters) made.push_back({"", Tint::green, "", "", letter != 'x', letter == 'C'});
        return made;
    };
    using Place = std::optional<std::size_t>;
    const struct { std::string_view cards; Place stop; } stops[] = {
        {"", std::nullopt}, {"xx", std::nullopt}, {"oo", 0}, {"xo", 1}, {"oC", 1}, {"xoC", 2},
    };
    for (const auto& c : stops) EXPECT_EQ(sourceCardTabStop(cards(c.cards)), c.stop) << c.cards;
    const struct { std::string_view cards; std::size_t from; int step; Place to; } arrows[] = {
        {"Co", 0, 1, 1}, {"oC", 1, -1, 0}, {"Cxo", 0, 1, 2}, {"oxC", 2, -1, 0},
        {"oC", 1, 1, std::nullopt}, {"Co", 0, -1, std::nullopt}, {"Cx", 0, 1, std::nullopt},
    };
    for (const auto& c : arrows)
        EXPECT_EQ(sourceCardAfterArrow(cards(c.cards), c.from, c.step), c.to) << c.cards << " from " << c.from << " " << c.step;
}

TEST(CollectPresenter, SourceCardsNameTheirCapability) {
    EXPECT_EQ(sourceCard(source("a", true, true), std::nullopt).capability, "Open LAN \u2022 HTTPS \u2022 foreground only");
    EXPECT_EQ(sourceCard(source("a", true, false), std::nullopt).capability, "Secure pairing \u2022 HTTPS");
    const SourceCard broken = sourceCard(source("a", false, false), std::nullopt);
    EXPECT_EQ(broken.capability, "Incomplete transfer advertisement");
    EXPECT_EQ(broken.symbol, "exclamationmark.shield");
    EXPECT_FALSE(broken.enabled);
    const DiscoveredDevice chosen = source("c", true, false);
    EXPECT_TRUE(sourceCard(chosen, chosen.id()).chosen);

    TransferSessionSummary session;
    session.openAccess = true;
    EXPECT_EQ(sessionLine(session, "00:15"), "Open LAN \u2022 expires 00:15");
    session.openAccess = false;
    EXPECT_EQ(sessionLine(session, "9:05 PM"), "Paired \u2022 expires 9:05 PM");
}

} // namespace
} // namespace velk::library

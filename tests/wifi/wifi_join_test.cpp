#include <gtest/gtest.h>

#include "wifi/wifi_join_coordinator.hpp"
#include "wifi/wifi_test_support.hpp"

namespace velk {
namespace {

using Security = WiFiNetworkDetails::Security;
using S = WifiSecurity;
using test::joinOnce;
using test::network;
using test::openGate;

using test::kHome;
const std::string kBlocked =
    "Wi-Fi was not changed because recording, camera preparation, or a project operation became active.";
const std::string kDenied = "Automatic joining is unavailable without NetworkManager Wi-Fi scan permission. Open "
                            "Wi-Fi Settings and use the decoded details.";
const std::string kFailed =
    "NetworkManager could not join automatically. Open Wi-Fi Settings and use the decoded details.";
const std::string kStarted = "Asking NetworkManager to find and join Home;Net\u2026";

TEST(WiFiJoinSynchronously, KeepsOnlyNetworksWhoseSecurityFitsTheCode) {
    const std::tuple<Security, std::vector<S>, bool> cases[] = {
        {Security::wpa, {S::wpaPersonal}, true},     {Security::wpa, {S::wpaPersonalMixed}, true},
        {Security::wpa, {S::wpa2Personal}, true},    {Security::wpa, {S::personal}, true},
        {Security::wpa, {S::wpa3Transition}, true},  {Security::wpa, {S::wpa3Personal}, false},
        {Security::wpa, {S::wpa2Enterprise}, false}, {Security::wpa, {S::wep, S::dynamicWEP}, false},
        {Security::sae, {S::wpa3Personal}, true},    {Security::sae, {S::wpa3Transition}, true},
        {Security::sae, {S::wpa2Personal}, false},   {Security::sae, {S::none}, false},
        {Security::open, {S::none}, true},           {Security::open, {S::owe, S::oweTransition}, false},
    };
    for (const auto& [qr, offered, fits] : cases) {
        test::FakeWifiBackend backend;
        backend.scanResult = std::vector{network("Net", offered, 50, "a")};
        EXPECT_EQ(joinOnce(backend, {"Net", qr, qr == Security::open ? "" : "password1", false}),
                  fits ? WiFiJoinResult::joined : WiFiJoinResult::securityMismatch)
            << static_cast<int>(qr) << " " << static_cast<int>(offered.front());
    }
}

TEST(WiFiJoinSynchronously, ChoosesTheStrongestFittingNetworkAndGivesAnOpenOneNoPassword) {
    test::FakeWifiBackend backend;
    backend.scanResult = std::vector{network("Home;Net", {S::wpa2Personal}, -70, "weak"),
                                     network("Home;Net", {S::wpa3Personal}, -20, "unfit"),
                                     network("Home;Net", {S::wpa2Personal}, -48, "strong"),
                                     network("Home;Net", {S::wpa2Personal}, -48, "later")};
    EXPECT_EQ(joinOnce(backend, kHome), WiFiJoinResult::joined);
    EXPECT_EQ(backend.associatedID(), "strong");
    EXPECT_EQ(backend.associatedPassword(), "password1");

    backend.scanResult = std::vector{network("Cafe", {S::none}, 10, "open")};
    EXPECT_EQ(joinOnce(backend, {"Cafe", Security::open, "", false}), WiFiJoinResult::joined);
    EXPECT_EQ(backend.associatedPassword(), std::nullopt);
}

TEST(WiFiJoinSynchronously, AGateClosedDuringTheScanKeepsTheNetworkUnchanged) {
    test::FakeWifiBackend backend;
    WiFiChangeGate gate;
    EXPECT_FALSE(gate.allowsChange()); // a new gate is closed
    gate.update(true);
    backend.scanResult = std::vector{network("Home;Net", {S::wpa2Personal}, 50, "a")};
    backend.duringScan = [&] { gate.update(false); };
    WiFiJoinAttempt attempt;
    EXPECT_EQ(WiFiJoin::joinSynchronously(kHome, gate, attempt, backend), WiFiJoinResult::blocked);
    EXPECT_EQ(backend.associations, 0);
}

class WiFiJoinCoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override { test::ensureApplication(); }

    std::string joinAndWait(const WiFiNetworkDetails& details = kHome) {
        coordinator.join(details, openGate());
        EXPECT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
        return coordinator.message();
    }

    std::shared_ptr<test::FakeWifiBackend> backend = std::make_shared<test::FakeWifiBackend>();
    WiFiJoinCoordinator coordinator{backend};
};

TEST_F(WiFiJoinCoordinatorTest, PublishesTheSentenceOfEachResult) {
    const auto home = [](std::vector<S> securities) { return std::vector{network("Home;Net", securities, 50, "a")}; };
    const WifiInterface wlan0 = WifiInterface::found("wlan0");
    const std::tuple<WifiInterface, std::optional<std::vector<WifiNetwork>>, bool, std::string> cases[] = {
        {wlan0, home({S::wpa2Personal}), true, "Joined Home;Net. NetworkManager now controls this Wi-Fi connection."},
        {{WifiInterface::Status::none, {}}, home({}), true,
         "No usable Wi-Fi interface is available. Open Wi-Fi Settings for system options."},
        // No answer about the interface is no proof that there is none.
        {{WifiInterface::Status::noAnswer, {}}, home({S::wpa2Personal}), true, kFailed},
        {wlan0, std::nullopt, true, kFailed},
        {wlan0, home({S::wpa2Personal}), false, kFailed},
        {wlan0, std::vector{network("home;net", {S::wpa2Personal}, 50, "a"), WifiNetwork{std::nullopt, {}, 9, "b"}},
         true, "That network was not found. Hidden networks and disabled Wi-Fi may require Wi-Fi Settings."},
        {wlan0, home({S::wep}), true, "The visible network does not match the QR security type. Nothing was changed."},
    };
    for (const auto& [interface, scanned, associates, sentence] : cases) {
        backend->wifiInterface = interface;
        backend->scanResult = scanned;
        backend->associateSucceeds = associates;
        EXPECT_EQ(joinAndWait(), sentence);
    }
    // Name bytes are compared as they are: another Unicode form of the same name is another name.
    backend->scanResult = std::vector{network("Cafe\u0301", {S::none}, 90, "decomposed")};
    EXPECT_EQ(joinAndWait({"Café", Security::open, "", false}),
              "That network was not found. Hidden networks and disabled Wi-Fi may require Wi-Fi Settings.");
}

TEST_F(WiFiJoinCoordinatorTest, AClosedGateOrARunningJoinStartsNothing) {
    backend->status = WifiPermission::notDetermined;
    coordinator.join(kHome, std::make_shared<WiFiChangeGate>());
    EXPECT_EQ(coordinator.message(),
              "Wi-Fi changes are paused while recording, camera preparation, or a project operation is active.");
    EXPECT_EQ(backend->permissionRequests, 0);

    backend->status = WifiPermission::authorized;
    auto release = backend->holdScan();
    coordinator.join(kHome, openGate());
    EXPECT_EQ(coordinator.message(), kStarted);
    coordinator.join({"Other", Security::open, "", false}, std::make_shared<WiFiChangeGate>());
    EXPECT_EQ(coordinator.message(), kStarted);
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    EXPECT_EQ(backend->scans, 1);
}

TEST_F(WiFiJoinCoordinatorTest, ThePermissionAnswerDecidesTheJoin) {
    const std::pair<WifiPermission, std::string> refusals[] = {
        {WifiPermission::denied, kDenied},
        {WifiPermission::restricted, kDenied},
        {WifiPermission::other, "Automatic joining is unavailable. Open Wi-Fi Settings and use the decoded details."},
        {WifiPermission::noAnswer, kFailed},
    };
    for (const auto& [status, sentence] : refusals) {
        backend->status = status;
        coordinator.join(kHome, openGate());
        EXPECT_EQ(coordinator.message(), sentence);
    }
    backend->status = WifiPermission::notDetermined;
    coordinator.join(kHome, openGate());
    // The question may take as long as NetworkManager does: the join's progress shows at once.
    EXPECT_EQ(backend->permissionRequests, 1);
    EXPECT_TRUE(coordinator.isWorking());
    EXPECT_EQ(coordinator.message(), kStarted);
    coordinator.join(kHome, openGate()); // a second confirmation while the question is open
    backend->permissionAnswer(WifiPermission::notDetermined);
    EXPECT_TRUE(coordinator.isWorking());
    EXPECT_EQ(backend->permissionRequests, 1);
    backend->permissionAnswer(WifiPermission::authorized);
    backend->permissionAnswer(WifiPermission::authorized); // nothing waits any more
    ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    EXPECT_EQ(backend->scans, 1);

    // Every answer that ends the join before its worker starts ends its progress too.
    for (const auto& [answer, sentence] : refusals) {
        coordinator.join(kHome, openGate());
        backend->permissionAnswer(answer);
        EXPECT_FALSE(coordinator.isWorking());
        EXPECT_EQ(coordinator.message(), sentence);
    }

    auto gate = openGate(); // closed while the question is open
    coordinator.join(kHome, gate);
    gate->update(false);
    backend->permissionAnswer(WifiPermission::authorized);
    EXPECT_FALSE(coordinator.isWorking());
    EXPECT_EQ(coordinator.message(), kBlocked);
}

TEST_F(WiFiJoinCoordinatorTest, SpeaksOfPermissionOnlyWhenNetworkManagerWillAsk) {
    const std::string asks = kStarted + " NetworkManager will ask for permission because it protects Wi-Fi scanning.";
    const std::pair<WifiPermission, std::string> known[] = {{WifiPermission::authorized, kStarted},
                                                            {WifiPermission::askOnUse, asks}};
    for (const auto& [status, sentence] : known) {
        backend->status = status;
        coordinator.join(kHome, openGate());
        EXPECT_EQ(coordinator.message(), sentence);
        ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    }
    for (const auto& [answer, sentence] : known) {
        backend->status = WifiPermission::notDetermined;
        coordinator.join(kHome, openGate());
        EXPECT_EQ(coordinator.message(), kStarted);
        backend->permissionAnswer(answer);
        EXPECT_EQ(coordinator.message(), sentence);
        ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    }
    EXPECT_EQ(backend->scans, 4);
}

TEST_F(WiFiJoinCoordinatorTest, CancellingStopsAWaitingOrRunningJoinSilently) {
    backend->status = WifiPermission::notDetermined;
    coordinator.join(kHome, openGate());
    const std::string asked = coordinator.message();
    coordinator.cancelPending();
    EXPECT_FALSE(coordinator.isWorking());
    backend->permissionAnswer(WifiPermission::authorized);
    EXPECT_FALSE(coordinator.isWorking());
    EXPECT_EQ(coordinator.message(), asked);

    backend->status = WifiPermission::authorized;
    backend->scanResult = std::vector{network("Home;Net", {S::wpa2Personal}, 50, "a")};
    auto release = backend->holdScan();
    coordinator.join(kHome, openGate());
    coordinator.cancelPending();
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    EXPECT_EQ(backend->associations, 0);
    EXPECT_EQ(coordinator.message(), kStarted);
}

} // namespace
} // namespace velk

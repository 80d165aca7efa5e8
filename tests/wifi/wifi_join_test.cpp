#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "wifi/wifi_join_coordinator.hpp"
#include "wifi/wifi_test_support.hpp"

namespace velk {
namespace {

using Security = WiFiNetworkDetails::Security;
using test::FakeWifiBackend;
using test::network;

const WiFiNetworkDetails kHome{"Home;Net", Security::wpa, "password1", false};

std::shared_ptr<WiFiChangeGate> openGate() {
    auto gate = std::make_shared<WiFiChangeGate>();
    gate->update(true);
    return gate;
}

WiFiJoinResult joinOnce(FakeWifiBackend& backend, const WiFiNetworkDetails& details = kHome) {
    WiFiChangeGate gate;
    gate.update(true);
    WiFiJoinAttempt attempt;
    return WiFiJoin::joinSynchronously(details, gate, attempt, backend);
}

TEST(WiFiChangeGate, StartsClosedAndFollowsEveryUpdate) {
    WiFiChangeGate gate;
    EXPECT_FALSE(gate.allowsChange());
    gate.update(true);
    EXPECT_TRUE(gate.allowsChange());
    gate.update(false);
    EXPECT_FALSE(gate.allowsChange());
}

TEST(WiFiChangeGate, ReadsFromAnotherThreadWhileTheOwnerWrites) {
    WiFiChangeGate gate;
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!stop) {
            gate.allowsChange();
            ++reads;
        }
    });
    for (int i = 0; i < 20000; ++i) gate.update(i % 2 == 0);
    while (reads < 1000) std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_FALSE(gate.allowsChange());
}

TEST(WiFiJoinSynchronously, EndsWithTheResultOfTheFirstFailingStep) {
    struct Case {
        const char* what;
        std::optional<std::string> wifiInterface;
        std::optional<std::vector<WifiNetwork>> scanResult;
        bool associateSucceeds;
        WiFiJoinResult expected;
    };
    const auto wpa2 = std::vector{WifiSecurity::wpa2Personal};
    const Case cases[] = {
        {"no interface", std::nullopt, std::vector<WifiNetwork>{}, true, WiFiJoinResult::unavailable},
        {"scan error", "wlan0", std::nullopt, true, WiFiJoinResult::failed},
        {"nothing seen", "wlan0", std::vector<WifiNetwork>{}, true, WiFiJoinResult::networkNotFound},
        {"other name", "wlan0", std::vector{network("home;net", wpa2, 50, "a")}, true, WiFiJoinResult::networkNotFound},
        {"no name bytes", "wlan0", std::vector{WifiNetwork{std::nullopt, wpa2, 50, "a"}}, true,
         WiFiJoinResult::networkNotFound},
        {"WEP only", "wlan0", std::vector{network("Home;Net", {WifiSecurity::wep}, 50, "a")}, true,
         WiFiJoinResult::securityMismatch},
        {"association fails", "wlan0", std::vector{network("Home;Net", wpa2, 50, "a")}, false, WiFiJoinResult::failed},
        {"joined", "wlan0", std::vector{network("Home;Net", wpa2, 50, "a")}, true, WiFiJoinResult::joined},
    };
    for (const auto& c : cases) {
        FakeWifiBackend backend;
        backend.wifiInterface = c.wifiInterface;
        backend.scanResult = c.scanResult;
        backend.associateSucceeds = c.associateSucceeds;
        EXPECT_EQ(joinOnce(backend), c.expected) << c.what;
    }
}

TEST(WiFiJoinSynchronously, MatchesTheNameByteForByte) {
    FakeWifiBackend backend;
    backend.scanResult = std::vector{network("Cafe\u0301", {WifiSecurity::none}, 90, "decomposed")};
    EXPECT_EQ(joinOnce(backend, {"Café", Security::open, "", false}), WiFiJoinResult::networkNotFound);
}

TEST(WiFiJoinSynchronously, KeepsOnlyNetworksWhoseSecurityFitsTheCode) {
    using S = WifiSecurity;
    struct Case {
        Security qr;
        std::vector<S> offered;
        bool fits;
    };
    const Case cases[] = {
        {Security::wpa, {S::wpaPersonal}, true},      {Security::wpa, {S::wpaPersonalMixed}, true},
        {Security::wpa, {S::wpa2Personal}, true},     {Security::wpa, {S::personal}, true},
        {Security::wpa, {S::wpa3Transition}, true},   {Security::wpa, {S::wpa3Personal}, false},
        {Security::wpa, {S::wpa2Enterprise}, false},  {Security::wpa, {S::wep, S::dynamicWEP}, false},
        {Security::sae, {S::wpa3Personal}, true},     {Security::sae, {S::wpa3Transition}, true},
        {Security::sae, {S::wpa2Personal}, false},    {Security::sae, {S::none}, false},
        {Security::open, {S::none}, true},            {Security::open, {S::owe, S::oweTransition}, false},
        {Security::open, {S::wep}, false},
    };
    for (const auto& c : cases) {
        FakeWifiBackend backend;
        backend.scanResult = std::vector{network("Net", c.offered, 50, "a")};
        const std::string password = c.qr == Security::open ? "" : "password1";
        EXPECT_EQ(joinOnce(backend, {"Net", c.qr, password, false}),
                  c.fits ? WiFiJoinResult::joined : WiFiJoinResult::securityMismatch)
            << static_cast<int>(c.qr) << " " << static_cast<int>(c.offered.front());
    }
}

TEST(WiFiJoinSynchronously, ChoosesTheStrongestFittingNetworkAndTheFirstOfEqualOnes) {
    FakeWifiBackend backend;
    backend.scanResult = std::vector{network("Home;Net", {WifiSecurity::wpa2Personal}, -70, "weak"),
                                     network("Home;Net", {WifiSecurity::wpa3Personal}, -20, "unfit"),
                                     network("Home;Net", {WifiSecurity::wpa2Personal}, -48, "strong"),
                                     network("Home;Net", {WifiSecurity::wpa2Personal}, -48, "later")};
    EXPECT_EQ(joinOnce(backend), WiFiJoinResult::joined);
    EXPECT_EQ(backend.associatedID(), "strong");
    EXPECT_EQ(backend.associatedPassword(), "password1");
}

TEST(WiFiJoinSynchronously, JoinsAnOpenNetworkWithNoPasswordAtAll) {
    FakeWifiBackend backend;
    backend.scanResult = std::vector{network("Cafe", {WifiSecurity::none}, 10, "a")};
    EXPECT_EQ(joinOnce(backend, {"Cafe", Security::open, "", false}), WiFiJoinResult::joined);
    EXPECT_EQ(backend.associatedPassword(), std::nullopt);
}

TEST(WiFiJoinSynchronously, AGateClosedDuringTheScanKeepsTheNetworkUnchanged) {
    FakeWifiBackend backend;
    WiFiChangeGate gate;
    gate.update(true);
    backend.scanResult = std::vector{network("Home;Net", {WifiSecurity::wpa2Personal}, 50, "a")};
    backend.duringScan = [&] { gate.update(false); };
    WiFiJoinAttempt attempt;
    EXPECT_EQ(WiFiJoin::joinSynchronously(kHome, gate, attempt, backend), WiFiJoinResult::blocked);
    EXPECT_EQ(backend.associations, 0);

    WiFiJoinAttempt closedFromTheStart;
    EXPECT_EQ(WiFiJoin::joinSynchronously(kHome, gate, closedFromTheStart, backend), WiFiJoinResult::blocked);
    EXPECT_EQ(backend.scans, 1);
}

TEST(WiFiJoinResultSentence, NamesTheNetworkAsDecoded) {
    EXPECT_EQ(WiFiJoin::sentence(WiFiJoinResult::joined, "Home;Net"),
              "Joined Home;Net. NetworkManager now controls this Wi-Fi connection.");
    EXPECT_EQ(WiFiJoin::sentence(WiFiJoinResult::blocked, "x"),
              "Wi-Fi was not changed because recording, camera preparation, or a project operation became active.");
    EXPECT_EQ(WiFiJoin::sentence(WiFiJoinResult::unavailable, "x"),
              "No usable Wi-Fi interface is available. Open Wi-Fi Settings for system options.");
    EXPECT_EQ(WiFiJoin::sentence(WiFiJoinResult::networkNotFound, "x"),
              "That network was not found. Hidden networks and disabled Wi-Fi may require Wi-Fi Settings.");
    EXPECT_EQ(WiFiJoin::sentence(WiFiJoinResult::securityMismatch, "x"),
              "The visible network does not match the QR security type. Nothing was changed.");
    EXPECT_EQ(WiFiJoin::sentence(WiFiJoinResult::failed, "x"),
              "NetworkManager could not join automatically. Open Wi-Fi Settings and use the decoded details.");
}

class WiFiJoinCoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override { test::ensureGuiApplication(); }

    std::shared_ptr<FakeWifiBackend> backend = std::make_shared<FakeWifiBackend>();
    WiFiJoinCoordinator coordinator{backend};
};

TEST_F(WiFiJoinCoordinatorTest, PublishesTheStartThenTheResultOnTheGuiThread) {
    backend->scanResult = std::vector{network("Home;Net", {WifiSecurity::wpa2Personal}, 50, "a")};
    std::vector<std::string> messages;
    QObject::connect(&coordinator, &WiFiJoinCoordinator::messageChanged,
                     [&](const std::string& message) { messages.push_back(message); });
    coordinator.join(kHome, openGate());
    EXPECT_TRUE(coordinator.isWorking());
    ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    EXPECT_EQ(messages, (std::vector<std::string>{"Asking NetworkManager to find and join Home;Net\u2026",
                                                  "Joined Home;Net. NetworkManager now controls this Wi-Fi connection."}));
}

TEST_F(WiFiJoinCoordinatorTest, AClosedGateAtJoinPausesWithoutAskingForPermission) {
    backend->status = WifiPermission::notDetermined;
    coordinator.join(kHome, std::make_shared<WiFiChangeGate>());
    EXPECT_EQ(coordinator.message(),
              "Wi-Fi changes are paused while recording, camera preparation, or a project operation is active.");
    EXPECT_EQ(backend->permissionRequests, 0);
    EXPECT_FALSE(coordinator.isWorking());
}

TEST_F(WiFiJoinCoordinatorTest, IgnoresAJoinWhileOneRuns) {
    std::promise<void> release;
    auto released = release.get_future().share();
    backend->duringScan = [released] { released.wait(); };
    coordinator.join(kHome, openGate());
    const std::string started = coordinator.message();
    coordinator.join({"Other", Security::open, "", false}, std::make_shared<WiFiChangeGate>());
    EXPECT_EQ(coordinator.message(), started);
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    EXPECT_EQ(backend->scans, 1);
}

TEST_F(WiFiJoinCoordinatorTest, RefusedOrUnknownPermissionEndsWithItsSentence) {
    const std::string denied =
        "Automatic joining is unavailable without NetworkManager Wi-Fi scan permission. Open Wi-Fi Settings and "
        "use the decoded details.";
    const std::string unknown = "Automatic joining is unavailable. Open Wi-Fi Settings and use the decoded details.";
    const std::pair<WifiPermission, std::string> cases[] = {
        {WifiPermission::restricted, denied}, {WifiPermission::denied, denied}, {WifiPermission::other, unknown}};
    for (const auto& [status, sentence] : cases) {
        backend->status = status;
        coordinator.join(kHome, openGate());
        EXPECT_EQ(coordinator.message(), sentence);
        EXPECT_FALSE(coordinator.isWorking());
    }
    EXPECT_EQ(backend->scans, 0);
}

TEST_F(WiFiJoinCoordinatorTest, AnUndeterminedPermissionAsksAndTheAnswerDecides) {
    backend->status = WifiPermission::notDetermined;
    coordinator.join(kHome, openGate());
    EXPECT_EQ(coordinator.message(), "NetworkManager will ask for permission because it protects Wi-Fi scanning. "
                                     "Kestova does not read or store your location.");
    coordinator.join(kHome, openGate()); // a second confirmation while the question is open
    ASSERT_EQ(backend->permissionRequests, 2);
    backend->permissionAnswer(WifiPermission::notDetermined);
    EXPECT_FALSE(coordinator.isWorking());
    backend->permissionAnswer(WifiPermission::authorized);
    EXPECT_TRUE(coordinator.isWorking());
    backend->permissionAnswer(WifiPermission::authorized); // nothing waits any more
    ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    EXPECT_EQ(backend->scans, 1);

    coordinator.join(kHome, openGate());
    backend->permissionAnswer(WifiPermission::denied);
    EXPECT_EQ(coordinator.message(), "Automatic joining is unavailable without NetworkManager Wi-Fi scan permission. "
                                     "Open Wi-Fi Settings and use the decoded details.");
}

TEST_F(WiFiJoinCoordinatorTest, AnAnswerAfterCancellingStartsNothing) {
    backend->status = WifiPermission::notDetermined;
    coordinator.join(kHome, openGate());
    const std::string asked = coordinator.message();
    coordinator.cancelPending();
    backend->permissionAnswer(WifiPermission::authorized);
    EXPECT_FALSE(coordinator.isWorking());
    EXPECT_EQ(coordinator.message(), asked);
}

TEST_F(WiFiJoinCoordinatorTest, AGateClosedBeforeThePermissionAnswerBlocksTheStart) {
    backend->status = WifiPermission::notDetermined;
    auto gate = openGate();
    coordinator.join(kHome, gate);
    gate->update(false);
    backend->permissionAnswer(WifiPermission::authorized);
    EXPECT_EQ(coordinator.message(),
              "Wi-Fi was not changed because recording, camera preparation, or a project operation became active.");
    EXPECT_FALSE(coordinator.isWorking());
}

TEST_F(WiFiJoinCoordinatorTest, CancellingDuringTheScanNeverAssociatesAndPublishesNothing) {
    backend->scanResult = std::vector{network("Home;Net", {WifiSecurity::wpa2Personal}, 50, "a")};
    std::promise<void> release;
    auto released = release.get_future().share();
    backend->duringScan = [released] { released.wait(); };
    coordinator.join(kHome, openGate());
    coordinator.cancelPending();
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !coordinator.isWorking(); }));
    EXPECT_EQ(backend->associations, 0);
    EXPECT_EQ(coordinator.message(), "Asking NetworkManager to find and join Home;Net\u2026");
}

} // namespace
} // namespace velk

// Connecting the store to simulated phones: pairing with code and fingerprint, open connections,
// the checks on the catalog, and the session and source rows they leave.

#include "store_phone_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

class StoreConnect : public StoreEndToEnd {};

// The catalog is merged on the worker into the library as it stood; an edit made meanwhile on the
// GUI thread is kept, and the catalog is merged again onto it.
TEST_F(StoreConnect, LibraryEditedWhileTheCatalogLoadsKeepsBothChanges) {
    StorePhone phone("Stage Left");
    phone.addClip(uuidLike(1, 1), "cam-a", 1000);
    phone.publish(wedding);
    phone.phone.fault("catalog", "slowBody", 0.3, 1);
    std::optional<bool> paired;
    store->pairAndConnect(phone.device(), "123456", true, false, [&](bool ok) { paired = ok; });
    ASSERT_TRUE(runUntil([&] { return phone.requests().size() == 2; }));
    store->createProject("Added Meanwhile");
    ASSERT_TRUE(runUntil([&] { return paired.has_value(); }));
    EXPECT_TRUE(*paired);
    std::vector<std::string> names;
    for (const auto& project : store->library().projects) names.push_back(project.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Added Meanwhile", "Wedding"}));
    EXPECT_NE(findClip(uuidLike(1, 1)), nullptr);
}

TEST_F(StoreConnect, PairingMergesTheCatalogAndKeepsTheSession) {
    StorePhone phone("Stage Left");
    phone.addClip(uuidLike(1, 1), "cam-a", 1000);
    // The catalog writes the device id in another letter case; clips keep the client's text.
    phone.publish(wedding, "take-1", [&](Json& body) { body["deviceId"] = upper(phone.phone.deviceId); });

    ASSERT_TRUE(pair(phone));
    EXPECT_EQ(findClip(uuidLike(1, 1))->deviceId, phone.phone.deviceId);
    EXPECT_FALSE(store->isBusy());
    EXPECT_FALSE(store->errorMessage());
    EXPECT_EQ(activityTexts().front(), "Paired with Stage Left; merged 1 project(s).");
    ASSERT_EQ(store->transferSessions().size(), 1u);
    EXPECT_EQ(store->transferSessions()[0].deviceId, phone.phone.deviceId);
    EXPECT_FALSE(store->transferSessions()[0].openAccess);
    ASSERT_EQ(store->collectSources().size(), 1u);
    EXPECT_EQ(store->collectSources()[0].phase, CollectSourcePhase::ready);
    EXPECT_EQ(store->collectSources()[0].message, "Catalog loaded over pinned HTTPS");
    EXPECT_EQ(store->selectedProjectID(), wedding);
    EXPECT_NE(store->transferClient(phone.phone.deviceId), nullptr);
    EXPECT_TRUE(std::filesystem::exists(roots.support() / "library.json"));
    EXPECT_EQ(phone.requests(), (std::vector<std::pair<std::string, std::string>>{{"POST", "/velk/v1/pair"},
                                                                                   {"GET", "/velk/v1/catalog"}}));

    // A second pairing with the same phone replaces the first session.
    ASSERT_TRUE(pair(phone));
    EXPECT_EQ(store->transferSessions().size(), 1u);
    EXPECT_EQ(store->collectSources().size(), 1u);
    EXPECT_EQ(store->transferClients().size(), 1u);
}

// A phone started again with its kept identity is the same phone, in a new session: the library
// that holds its clips, reopened as at the application's next start, pairs with it and takes them.
TEST_F(StoreConnect, PhoneRestartedWithItsKeptIdentityPairsAgain) {
    const TemporaryFolder identity;
    std::string deviceId, fingerprint, sessionId;
    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE(start);
        StorePhone phone("Stage Left", false, {}, "127.0.0.1", identity.path());
        phone.addClip(uuidLike(1, 1), "cam-a", 1000);
        phone.publish(wedding);
        if (start == 2) {
            EXPECT_EQ(phone.phone.deviceId, deviceId);
            EXPECT_EQ(phone.phone.fingerprint, fingerprint);
            EXPECT_NE(phone.phone.sessionId, sessionId);
            store = roots.open();
            hook(nullptr);
        }
        ASSERT_TRUE(pair(phone)) << store->errorMessage().value_or("");
        deviceId = phone.phone.deviceId;
        fingerprint = phone.phone.fingerprint;
        sessionId = phone.phone.sessionId;
    }
    EXPECT_EQ(findClip(uuidLike(1, 1))->deviceId, deviceId);
}

TEST_F(StoreConnect, RefusedConnectionsLeaveNothingBehind) {
    struct Case {
        const char* name;
        std::string code;
        std::function<void(Json&)> change;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"wrong code", "654321", nullptr, "Secure camera connection failed: Transfer server returned HTTP 403."},
        {"catalog version", "123456", [](Json& body) { body["schemaVersion"] = 2; },
         "Secure camera connection failed: Unsupported catalog version."},
        {"other device", "123456", [](Json& body) { body["deviceId"] = "ffffffffffffffff"; },
         "Secure camera connection failed: Catalog device identity differs from the paired camera."},
        {"invalid clip", "123456", [](Json& body) { body["projects"][0]["takes"][0]["clips"][0]["sizeBytes"] = 0; },
         "Secure camera connection failed: Authenticated catalog clip metadata is invalid."},
    };
    StorePhone phone("Stage Left");
    phone.addClip(uuidLike(1, 1), "cam-a", 1000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        phone.publish(wedding, "take-1", c.change);
        EXPECT_FALSE(pair(phone, c.code));
        expectError(*store, c.error);
        EXPECT_TRUE(store->library().projects.empty() && store->transferSessions().empty());
        EXPECT_TRUE(store->collectSources().empty() && store->transferClients().empty());
        EXPECT_FALSE(store->isBusy());
    }
    EXPECT_FALSE(std::filesystem::exists(roots.support() / "library.json"));
}

TEST_F(StoreConnect, BusyStoreRefusesToPair) {
    StorePhone phone("Stage Left");
    store->setIsBusy(true);
    std::optional<bool> result;
    store->pairAndConnect(phone.device(), "123456", true, false, [&](bool ok) { result = ok; });
    EXPECT_EQ(result, false);
    EXPECT_TRUE(store->activities().empty());
    EXPECT_TRUE(phone.requests().empty());
}

TEST_F(StoreConnect, OpenConnectionOnlyWhenAllowed) {
    StorePhone phone("Stage Left", true);
    phone.addClip(uuidLike(1, 1), "cam-a", 1000);
    phone.publish("");
    ASSERT_TRUE(pair(phone, "", true, true));
    EXPECT_EQ(activityTexts().front(), "Connected openly to Stage Left; merged 0 project(s) plus unassigned takes.");
    EXPECT_TRUE(store->transferSessions()[0].openAccess);
    EXPECT_EQ(phone.requests().size(), 1u); // the catalog only

    // Not allowed: the same source is paired with its code.
    phone.phone.clear();
    EXPECT_TRUE(pair(phone, "123456", false, true));
    EXPECT_EQ(phone.requests().front().second, "/velk/v1/pair");
    EXPECT_TRUE(activityTexts().front().starts_with("Paired with Stage Left"));
}

TEST_F(StoreConnect, OpenSourcesLoadTogetherAndFailAlone) {
    StorePhone left("Stage Left", true);
    StorePhone right("Stage Right", true);
    StorePhone paired("Paired Only");
    left.addClip(uuidLike(1, 1), "cam-a", 1000);
    left.publish(wedding);
    right.phone.fault("catalog", "status", 500);

    std::vector<DiscoveredDevice> devices = {right.device(true), paired.device(false), left.device(true)};
    DiscoveredDevice twin = left.device(true);
    twin.serviceName = "Stage Left again";
    devices.push_back(twin);
    await([&](auto done) { store->connectOpenSources(devices, done); });

    EXPECT_EQ(activityTexts().front(), "Collect loaded 1 trusted private-LAN source session(s).");
    ASSERT_EQ(store->collectSources().size(), 2u);
    EXPECT_EQ(store->collectSources()[0].name, "Stage Left");
    EXPECT_EQ(store->collectSources()[0].phase, CollectSourcePhase::ready);
    EXPECT_EQ(store->collectSources()[0].message, "1 project catalog(s) loaded");
    EXPECT_EQ(store->collectSources()[1].name, "Stage Right");
    EXPECT_EQ(store->collectSources()[1].phase, CollectSourcePhase::failed);
    EXPECT_EQ(store->collectSources()[1].message, "Transfer server returned HTTP 500.");
    EXPECT_EQ(store->transferSessions().size(), 1u);
    EXPECT_FALSE(store->errorMessage());
    EXPECT_TRUE(paired.requests().empty());
    EXPECT_EQ(left.requests().size(), 1u); // the same phone under two names is loaded once
    EXPECT_TRUE(std::filesystem::exists(roots.support() / "library.json"));

    await([&](auto done) { store->connectOpenSources({paired.device(false)}, done); });
    EXPECT_EQ(store->errorMessage(), "No trusted private-LAN transfer sources are ready.");
    EXPECT_FALSE(store->isBusy());
}

TEST(StoreSourceRows, OneRowPerPhoneSortedByName) {
    ensureApplication();
    StoreRoots roots;
    auto store = roots.open();
    const std::string id = "5F0C7A7E-51A1-4D5E-9A51-8F1C6B1E2D3F";
    store->setCollectSource("5f0c7a7e-51a1-4d5e-9a51-8f1c6b1e2d3f", "b phone", CollectSourcePhase::loading, 0, 0, "Loading catalog");
    store->setCollectSource("not-canonical", "A phone", CollectSourcePhase::loading, 0, 0, "Loading catalog");
    store->setCollectSource(id, "c phone", CollectSourcePhase::ready, 1, 2, "x");
    ASSERT_EQ(store->collectSources().size(), 2u);
    EXPECT_EQ(store->collectSources()[0].name, "A phone");
    EXPECT_EQ(store->collectSources()[1].deviceID, id); // kept as given, not canonicalised
    EXPECT_EQ(store->collectSources()[1].phase, CollectSourcePhase::ready);
}

TEST(StoreCollectorName, NeverEmpty) { EXPECT_FALSE(AppStore::collectorName().empty()); }

} // namespace
} // namespace velk

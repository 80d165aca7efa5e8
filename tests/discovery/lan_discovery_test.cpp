#include "discovery/lan_discovery.hpp"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "discovery/dns_sd_fake.hpp"

namespace velk {
namespace {

const std::string kTransfer = "_velk-transfer._tcp.";
const std::string kLegacy = "_velk._tcp.";

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string numbered(std::string prefix, int number) {
    prefix += std::to_string(number);
    return prefix;
}

DnsSdResolution resolution(std::optional<DnsSdTxtRecord> txt = std::nullopt,
                           std::optional<std::string> host = "phone.local.", int port = 8443) {
    DnsSdResolution r;
    r.hostName = std::move(host);
    r.port = port;
    r.txtRecord = std::move(txt);
    return r;
}

DnsSdTxtRecord txt(std::initializer_list<std::pair<const char*, const char*>> entries) {
    DnsSdTxtRecord record;
    for (const auto& [key, value] : entries) record[key] = bytes(value);
    return record;
}

// --- Reading a resolution ---

TEST(DeviceFromResolution, TransferSourceWithoutTxtRecordGetsEveryDefault) {
    auto device = lan::deviceFromResolution(kTransfer, "Phone A", resolution());
    ASSERT_TRUE(device);
    EXPECT_EQ(device->serviceName, "Phone A");
    EXPECT_EQ(device->serviceType, "_velk-transfer._tcp.");
    EXPECT_EQ(device->catalogURL, "https://phone.local:8443/velk/v1/catalog");
    EXPECT_EQ(device->pairPath, "/velk/v1/pair");
    EXPECT_EQ(device->transferAccess, "paired");
    EXPECT_FALSE(device->foregroundOnly);
    EXPECT_FALSE(device->deviceId);
    EXPECT_FALSE(device->sessionId);
    EXPECT_FALSE(device->certificateSHA256);
    EXPECT_FALSE(device->projectTrashVersion);
}

TEST(DeviceFromResolution, EmptyTxtRecordKeepsDefaultsAndLegacyDefaultsToHttp) {
    auto device = lan::deviceFromResolution(kLegacy, "Old", resolution(DnsSdTxtRecord{}, "old.local.", 80));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->catalogURL, "http://old.local:80/velk/v1/catalog");
    EXPECT_EQ(device->serviceType, "_velk._tcp.");
}

TEST(DeviceFromResolution, FullAdvertisementFillsEveryField) {
    const std::string fp(64, 'a');
    auto device = lan::deviceFromResolution(
        kTransfer, "Phone A",
        resolution(txt({{"scheme", "https"}, {"catalog", "/c"}, {"pair", "/p"}, {"deviceId", "dev-1"},
                        {"sessionId", "s-1"}, {"fp", fp.c_str()}, {"access", "open"},
                        {"projectsDelete", "trash-v1"}, {"foreground", "1"}, {"other", "x"}})));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->catalogURL, "https://phone.local:8443/c");
    EXPECT_EQ(device->pairPath, "/p");
    EXPECT_EQ(device->deviceId, "dev-1");
    EXPECT_EQ(device->sessionId, "s-1");
    EXPECT_EQ(device->certificateSHA256, fp);
    EXPECT_EQ(device->transferAccess, "open");
    EXPECT_EQ(device->projectTrashVersion, "trash-v1");
    EXPECT_TRUE(device->foregroundOnly);
    EXPECT_TRUE(device->supportsOpenTransfer());
}

TEST(DeviceFromResolution, OnlyOneOrTrueInAnyCaseMeansForeground) {
    const std::pair<const char*, bool> cases[] = {{"1", true},  {"true", true}, {"TRUE", true}, {"tRuE", true},
                                                  {"yes", false}, {"0", false},   {"", false},     {" 1", false},
                                                  {"1 ", false},  {"true ", false}};
    for (auto [value, foreground] : cases) {
        auto device = lan::deviceFromResolution(kTransfer, "P", resolution(txt({{"foreground", value}})));
        ASSERT_TRUE(device);
        EXPECT_EQ(device->foregroundOnly, foreground) << "value '" << value << "'";
    }
}

TEST(DeviceFromResolution, TxtTextsFallBackKeyByKey) {
    struct Case {
        const char* key;
        const char* value;
        const char* catalogURL;
        const char* pairPath;
        const char* access;
        std::optional<std::string> trash;
    };
    const char* const catalog = "https://phone.local:8443/velk/v1/catalog";
    const Case cases[] = {
        {"catalog", "api/list", "https://phone.local:8443/api/list", "/velk/v1/pair", "paired", {}},
        {"catalog", "", catalog, "/velk/v1/pair", "paired", {}},
        {"pair", "v2/pair", catalog, "/v2/pair", "paired", {}},
        {"pair", "", catalog, "/velk/v1/pair", "paired", {}},
        {"scheme", "", catalog, "/velk/v1/pair", "paired", {}},
        {"scheme", "HTTPS", "HTTPS://phone.local:8443/velk/v1/catalog", "/velk/v1/pair", "paired", {}},
        {"access", "open", catalog, "/velk/v1/pair", "open", {}},
        {"access", "OPEN", catalog, "/velk/v1/pair", "paired", {}},
        {"access", "Open", catalog, "/velk/v1/pair", "paired", {}},
        {"projectsDelete", "trash-v1", catalog, "/velk/v1/pair", "paired", "trash-v1"},
        {"projectsDelete", "trash-v2", catalog, "/velk/v1/pair", "paired", {}},
        {"Catalog", "x", catalog, "/velk/v1/pair", "paired", {}},
        {"catalog", "/a b?c", "https://phone.local:8443/a%20b%3Fc", "/velk/v1/pair", "paired", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "='" + c.value + "'");
        auto device = lan::deviceFromResolution(kTransfer, "P", resolution(txt({{c.key, c.value}})));
        ASSERT_TRUE(device);
        EXPECT_EQ(device->catalogURL, c.catalogURL);
        EXPECT_EQ(device->pairPath, c.pairPath);
        EXPECT_EQ(device->transferAccess, c.access);
        EXPECT_EQ(device->projectTrashVersion, c.trash);
    }
}

TEST(DeviceFromResolution, SchemeFromTxtDecidesTransferSupport) {
    auto plain = lan::deviceFromResolution(
        kTransfer, "P", resolution(txt({{"scheme", "http"}, {"foreground", "1"}, {"sessionId", "s"},
                                        {"fp", std::string(64, 'b').c_str()}})));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->catalogURL, "http://phone.local:8443/velk/v1/catalog");
    EXPECT_FALSE(plain->supportsAuthenticatedTransfer());
    EXPECT_FALSE(plain->supportsOpenTransfer());

    auto legacy = lan::deviceFromResolution(kLegacy, "L", resolution(txt({{"scheme", "https"}})));
    ASSERT_TRUE(legacy);
    EXPECT_EQ(legacy->catalogURL, "https://phone.local:8443/velk/v1/catalog");
    EXPECT_FALSE(legacy->supportsAuthenticatedTransfer());
}

TEST(DeviceFromResolution, IdentifiersAreTakenAsWrittenEvenWhenEmpty) {
    auto device = lan::deviceFromResolution(kTransfer, "P",
                                            resolution(txt({{"deviceId", ""}, {"sessionId", ""}, {"fp", ""}})));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->deviceId, "");
    EXPECT_EQ(device->sessionId, "");
    EXPECT_EQ(device->certificateSHA256, "");
}

TEST(DeviceFromResolution, ValueThatIsNotUTF8CountsAsAbsent) {
    DnsSdTxtRecord record;
    const std::vector<std::uint8_t> invalid{0xff, 0xfe, '1'};
    for (const char* key : {"deviceId", "sessionId", "fp", "catalog", "pair", "scheme", "access", "foreground"}) {
        record[key] = invalid;
    }
    record["projectsDelete"] = {'t', 'r', 'a', 's', 'h', '-', 'v', '1', 0xc3};
    auto device = lan::deviceFromResolution(kTransfer, "P", resolution(record));
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->deviceId);
    EXPECT_FALSE(device->sessionId);
    EXPECT_FALSE(device->certificateSHA256);
    EXPECT_EQ(device->catalogURL, "https://phone.local:8443/velk/v1/catalog");
    EXPECT_EQ(device->pairPath, "/velk/v1/pair");
    EXPECT_EQ(device->transferAccess, "paired");
    EXPECT_FALSE(device->foregroundOnly);
    EXPECT_FALSE(device->projectTrashVersion);
}

TEST(DeviceFromResolution, HostLosesOneTrailingDot) {
    struct Case {
        const char* host;
        const char* url;
    };
    for (const auto& c : {Case{"phone.local.", "https://phone.local:8443/velk/v1/catalog"},
                          Case{"phone.local", "https://phone.local:8443/velk/v1/catalog"},
                          Case{"phone.local..", "https://phone.local.:8443/velk/v1/catalog"}}) {
        auto device = lan::deviceFromResolution(kTransfer, "P", resolution(std::nullopt, c.host));
        ASSERT_TRUE(device) << c.host;
        EXPECT_EQ(device->catalogURL, c.url) << c.host;
    }
}

TEST(DeviceFromResolution, GivesNoDeviceWithoutHostPortOrURL) {
    EXPECT_FALSE(lan::deviceFromResolution(kTransfer, "P", resolution(std::nullopt, std::nullopt)));
    EXPECT_FALSE(lan::deviceFromResolution(kTransfer, "P", resolution(std::nullopt, "phone.local.", 0)));
    EXPECT_FALSE(lan::deviceFromResolution(kTransfer, "P", resolution(std::nullopt, "phone.local.", -1)));
    EXPECT_FALSE(lan::deviceFromResolution(kTransfer, "P", resolution(std::nullopt, "phone.local.", 65536)));
    EXPECT_FALSE(lan::deviceFromResolution(kTransfer, "P", resolution(std::nullopt, ".")));
    EXPECT_FALSE(lan::deviceFromResolution(kTransfer, "P", resolution(std::nullopt, "bad host.local.")));
    for (const char* scheme : {"ht tp", "1http", "-x", "https:"}) {
        EXPECT_FALSE(lan::deviceFromResolution(kTransfer, "P", resolution(txt({{"scheme", scheme}})))) << scheme;
    }
}

// --- The published list ---

class LANDiscoveryTest : public testing::Test {
protected:
    std::shared_ptr<FakeDnsSdBackend> backend = std::make_shared<FakeDnsSdBackend>();
    LANDiscovery discovery{true, backend};

    // Finds and resolves a service; returns the service object.
    std::shared_ptr<FakeDnsSdService> announce(const std::string& type, const std::string& name,
                                               const std::string& host = "phone.local.",
                                               const std::string& domain = "local.") {
        auto service = backend->find(type, name, domain);
        if (service) backend->resolve(service, resolution(std::nullopt, host));
        return service;
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& device : discovery.devices()) out.push_back(device.serviceName);
        return out;
    }
};

TEST_F(LANDiscoveryTest, StartsBrowsingBothTypesAtOnce) {
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_TRUE(backend->isBrowsing("_velk-transfer._tcp."));
    EXPECT_TRUE(backend->isBrowsing("_velk._tcp."));
    EXPECT_TRUE(discovery.devices().empty());
}

TEST(LANDiscoveryStart, WaitsWhenNotStartedAutomatically) {
    auto backend = std::make_shared<FakeDnsSdBackend>();
    LANDiscovery discovery(false, backend);
    EXPECT_FALSE(discovery.isSearching());
    EXPECT_EQ(backend->browseCount(), 0);
    QSignalSpy searching(&discovery, &LANDiscovery::isSearchingChanged);
    discovery.start();
    discovery.start();
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_EQ(backend->browseCount(), 2);
    EXPECT_EQ(searching.count(), 1);
}

TEST_F(LANDiscoveryTest, FoundServiceIsResolvedWithFiveSecondTimeOut) {
    auto service = backend->find(kTransfer, "Phone A");
    ASSERT_TRUE(service);
    EXPECT_EQ(service->resolveCount(), 1);
    EXPECT_DOUBLE_EQ(service->timeoutSeconds(), 5.0);
    EXPECT_TRUE(discovery.devices().empty());
}

TEST_F(LANDiscoveryTest, ResolvedServiceIsPublishedWithItsAddress) {
    QSignalSpy changed(&discovery, &LANDiscovery::devicesChanged);
    auto service = backend->find(kTransfer, "Phone A");
    auto r = resolution();
    r.ipv4Address = "10.77.0.11";
    backend->resolve(service, r);
    ASSERT_EQ(discovery.devices().size(), 1u);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(discovery.resolvedAddress(discovery.devices()[0]), "10.77.0.11");
    DiscoveredDevice other = discovery.devices()[0];
    other.serviceName = "Someone else";
    EXPECT_FALSE(discovery.resolvedAddress(other));
}

TEST_F(LANDiscoveryTest, NinthTransferSourceIsDroppedWhileLegacySourcesAreNotLimited) {
    std::vector<std::shared_ptr<FakeDnsSdService>> eight;
    for (int i = 1; i <= 8; ++i) eight.push_back(announce(kTransfer, numbered("T", i)));
    auto ninth = announce(kTransfer, "T9");
    for (int i = 1; i <= 10; ++i) announce(kLegacy, numbered("L", i));
    EXPECT_EQ(discovery.devices().size(), 18u);
    for (const auto& name : names()) EXPECT_NE(name, "T9");

    backend->resolve(eight[2], resolution(txt({{"sessionId", "new"}}), "t3.local."));
    auto t3 = std::find_if(discovery.devices().begin(), discovery.devices().end(),
                           [](const DiscoveredDevice& d) { return d.serviceName == "T3"; });
    ASSERT_NE(t3, discovery.devices().end());
    EXPECT_EQ(t3->sessionId, "new");
    EXPECT_EQ(t3->catalogURL, "https://t3.local:8443/velk/v1/catalog");
    EXPECT_EQ(discovery.devices().size(), 18u);

    backend->remove(kTransfer, "T1");
    backend->resolve(ninth, resolution());
    EXPECT_EQ(discovery.devices().size(), 18u);
    auto listed = names();
    EXPECT_NE(std::find(listed.begin(), listed.end(), "T9"), listed.end());
}

// Which waiting services are asked is the list's rule; here, that the asks reach each one's current
// object, and that a failure and the place's answer, with its address, come back to the rule.
TEST_F(LANDiscoveryTest, AFreedPlaceIsOfferedAgainThroughTheCurrentObjects) {
    for (int i = 1; i <= 8; ++i) announce(kTransfer, numbered("T", i));
    auto first = announce(kTransfer, "A");
    backend->find(kTransfer, "B");
    auto second = announce(kTransfer, "B");
    backend->remove(kTransfer, "T8");
    EXPECT_EQ(first->resolveCount() + second->resolveCount(), 4);
    backend->failResolving(first);
    auto answer = resolution(txt({{"sessionId", "now"}}));
    answer.ipv4Address = "10.77.0.12";
    backend->resolve(second, answer);
    EXPECT_EQ(discovery.devices().front().sessionId, "now");
    EXPECT_EQ(discovery.resolvedAddress(discovery.devices().front()), "10.77.0.12");
}

TEST_F(LANDiscoveryTest, RemovalIgnoresTheDomain) {
    announce(kTransfer, "Phone A", "phone.local.", "local.");
    announce(kLegacy, "Phone A");
    backend->remove(kTransfer, "Phone A", "elsewhere.");
    ASSERT_EQ(discovery.devices().size(), 1u);
    EXPECT_EQ(discovery.devices()[0].serviceType, "_velk._tcp.");
}

TEST_F(LANDiscoveryTest, SortIsCaseInsensitiveAndStableWithTheNewOneLast) {
    announce(kTransfer, "alpha");
    announce(kTransfer, "beta");
    announce(kTransfer, "Alpha");
    EXPECT_EQ(names(), (std::vector<std::string>{"alpha", "Alpha", "beta"}));
    // Re-resolving moves the re-listed source behind its equals.
    announce(kTransfer, "alpha");
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "alpha", "beta"}));
}

TEST_F(LANDiscoveryTest, SameNameUnderBothTypesIsListedTwice) {
    announce(kTransfer, "Phone");
    announce(kLegacy, "Phone");
    EXPECT_EQ(discovery.devices().size(), 2u);
}

TEST_F(LANDiscoveryTest, UnusableResolutionLeavesTheListedSourceAsItWas) {
    auto service = announce(kTransfer, "Phone A");
    auto before = discovery.devices();
    backend->resolve(service, resolution(std::nullopt, "phone.local.", 0));
    backend->resolve(service, resolution(std::nullopt, std::nullopt));
    EXPECT_EQ(discovery.devices(), before);
}

TEST(LANDiscoveryStale, ResolutionAfterRemovalOrRestartAddsNothing) {
    for (bool restart : {false, true}) {
        auto backend = std::make_shared<FakeDnsSdBackend>();
        LANDiscovery discovery(true, backend);
        auto service = backend->find(kTransfer, "Phone A");
        if (restart) discovery.restart();
        else backend->remove(kTransfer, "Phone A");
        backend->resolve(service, resolution());
        EXPECT_TRUE(discovery.devices().empty()) << restart;
    }
}

TEST_F(LANDiscoveryTest, ResolutionOfAReplacedServiceObjectAddsNothing) {
    auto first = backend->find(kTransfer, "Phone A");
    auto second = backend->find(kTransfer, "Phone A");
    backend->resolve(first, resolution(std::nullopt, "old.local."));
    EXPECT_TRUE(discovery.devices().empty());
    backend->resolve(second, resolution(std::nullopt, "new.local."));
    ASSERT_EQ(discovery.devices().size(), 1u);
    EXPECT_EQ(discovery.devices()[0].catalogURL, "https://new.local:8443/velk/v1/catalog");
}

TEST_F(LANDiscoveryTest, StopKeepsTheListAndRestartEmptiesItBeforeBrowsingAgain) {
    announce(kTransfer, "Phone A");
    discovery.stop();
    EXPECT_FALSE(discovery.isSearching());
    EXPECT_FALSE(backend->isBrowsing(kTransfer));
    EXPECT_EQ(discovery.devices().size(), 1u);

    QSignalSpy changed(&discovery, &LANDiscovery::devicesChanged);
    int browsesBefore = backend->browseCount();
    discovery.restart();
    EXPECT_TRUE(discovery.devices().empty());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_EQ(backend->browseCount(), browsesBefore + 2);
    EXPECT_TRUE(backend->isBrowsing(kTransfer));
    EXPECT_TRUE(backend->isBrowsing(kLegacy));
}

TEST_F(LANDiscoveryTest, BrowsingStoppedClearsSearchingSoStartBrowsesAgain) {
    backend->stopBrowsing(kLegacy);
    EXPECT_FALSE(discovery.isSearching());
    discovery.start();
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_TRUE(backend->isBrowsing(kLegacy));
}

TEST_F(LANDiscoveryTest, UnreachableDNSSDServiceIsVisibleAndChangesNothingElse) {
    announce(kTransfer, "Phone A");
    QSignalSpy available(&discovery, &LANDiscovery::isBrowsingAvailableChanged);
    EXPECT_TRUE(discovery.isBrowsingAvailable());
    backend->setAvailable(false);
    EXPECT_FALSE(discovery.isBrowsingAvailable());
    EXPECT_EQ(available.count(), 1);
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_EQ(discovery.devices().size(), 1u);
}

TEST(LANDiscoveryAvailability, StartsUnavailableWhenTheBackendIs) {
    auto backend = std::make_shared<FakeDnsSdBackend>();
    backend->setAvailable(false);
    LANDiscovery discovery(true, backend);
    EXPECT_FALSE(discovery.isBrowsingAvailable());
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_TRUE(discovery.devices().empty());
}

} // namespace
} // namespace velk

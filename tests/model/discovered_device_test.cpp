#include "model/discovered_device.hpp"

#include <unordered_set>

#include <gtest/gtest.h>

namespace velk {
namespace {

const std::string kFingerprint = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

DiscoveredDevice secureSource() {
    return DiscoveredDevice{.serviceName = "Phone A",
                            .catalogURL = "https://phone-a.local.:8443/velk/v1/catalog",
                            .serviceType = "_velk-transfer._tcp.",
                            .deviceId = "dev-a",
                            .sessionId = "s-1",
                            .certificateSHA256 = kFingerprint,
                            .foregroundOnly = true};
}

TEST(DiscoveredDeviceRecord, Defaults) {
    DiscoveredDevice device{.serviceName = "x", .catalogURL = "https://h/c"};
    EXPECT_EQ(device.serviceType, "_velk._tcp.");
    EXPECT_EQ(device.pairPath, "/velk/v1/pair");
    EXPECT_FALSE(device.foregroundOnly);
    EXPECT_EQ(device.transferAccess, "paired");
    EXPECT_FALSE(device.projectTrashVersion.has_value());
}

TEST(DiscoveredDeviceIdentity, JoinsTypeNameUrlSessionAndFingerprint) {
    EXPECT_EQ(secureSource().id(), "_velk-transfer._tcp.|Phone A|https://phone-a.local.:8443/velk/v1/catalog|s-1|" +
                                       kFingerprint);
    DiscoveredDevice bare{.serviceName = "B", .catalogURL = "http://h/c"};
    EXPECT_EQ(bare.id(), "_velk._tcp.|B|http://h/c||");
}

TEST(DiscoveredDeviceIdentity, DeviceIdIsNotPartOfIdentityButOfEquality) {
    DiscoveredDevice a = secureSource();
    DiscoveredDevice b = secureSource();
    b.deviceId = "other";
    EXPECT_EQ(a.id(), b.id());
    EXPECT_NE(a, b);
    b.deviceId = a.deviceId;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<DiscoveredDevice>{}(a), std::hash<DiscoveredDevice>{}(b));
    std::unordered_set<DiscoveredDevice> set{a, b};
    EXPECT_EQ(set.size(), 1u);
}

TEST(DiscoveredDeviceIdentity, NewSessionMakesANewSource) {
    DiscoveredDevice b = secureSource();
    b.sessionId = "s-2";
    EXPECT_NE(secureSource().id(), b.id());
}

TEST(DiscoveredDeviceTransfer, SecureSourceSupportsAuthenticatedTransfer) {
    EXPECT_TRUE(secureSource().supportsAuthenticatedTransfer());
    EXPECT_FALSE(secureSource().supportsOpenTransfer());
}

struct TransferCase {
    const char* name;
    void (*change)(DiscoveredDevice&);
    bool authenticated;
};

class DiscoveredDeviceTests : public ::testing::TestWithParam<TransferCase> {};

TEST_P(DiscoveredDeviceTests, AuthenticatedTransfer) {
    DiscoveredDevice device = secureSource();
    GetParam().change(device);
    EXPECT_EQ(device.supportsAuthenticatedTransfer(), GetParam().authenticated) << GetParam().name;
    if (!GetParam().authenticated) {
        device.transferAccess = "open";
        EXPECT_FALSE(device.supportsOpenTransfer()) << GetParam().name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiscoveredDeviceTests,
    ::testing::Values(
        TransferCase{"legacy type", [](DiscoveredDevice& d) { d.serviceType = "_velk._tcp."; }, false},
        TransferCase{"type without dot", [](DiscoveredDevice& d) { d.serviceType = "_velk-transfer._tcp"; }, false},
        TransferCase{"HTTPS scheme", [](DiscoveredDevice& d) { d.catalogURL = "HTTPS://h:1/c"; }, true},
        TransferCase{"http scheme", [](DiscoveredDevice& d) { d.catalogURL = "http://h:1/c"; }, false},
        TransferCase{"no scheme", [](DiscoveredDevice& d) { d.catalogURL = "//h/c"; }, false},
        TransferCase{"not foreground", [](DiscoveredDevice& d) { d.foregroundOnly = false; }, false},
        TransferCase{"no session", [](DiscoveredDevice& d) { d.sessionId.reset(); }, false},
        TransferCase{"empty session", [](DiscoveredDevice& d) { d.sessionId = ""; }, false},
        TransferCase{"no fingerprint", [](DiscoveredDevice& d) { d.certificateSHA256.reset(); }, false},
        TransferCase{"capital fingerprint",
                     [](DiscoveredDevice& d) { d.certificateSHA256 = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF"; },
                     true},
        TransferCase{"63 digits", [](DiscoveredDevice& d) { d.certificateSHA256 = kFingerprint.substr(1); }, false},
        TransferCase{"65 digits", [](DiscoveredDevice& d) { d.certificateSHA256 = kFingerprint + "0"; }, false},
        TransferCase{"one non-hex", [](DiscoveredDevice& d) { d.certificateSHA256 = "g" + kFingerprint.substr(1); }, false},
        TransferCase{"colon separated",
                     [](DiscoveredDevice& d) { d.certificateSHA256 = kFingerprint.substr(0, 63) + ":"; }, false}));

TEST(DiscoveredDeviceTransfer, OpenNeedsExactlyOpen) {
    DiscoveredDevice device = secureSource();
    device.transferAccess = "open";
    EXPECT_TRUE(device.supportsOpenTransfer());
    device.transferAccess = "Open";
    EXPECT_FALSE(device.supportsOpenTransfer());
    EXPECT_TRUE(device.supportsAuthenticatedTransfer());
}

TEST(DiscoveredDeviceTransfer, LegacySourceNeverTransfers) {
    DiscoveredDevice device = secureSource();
    device.serviceType = "_velk._tcp.";
    device.transferAccess = "open";
    EXPECT_FALSE(device.supportsAuthenticatedTransfer());
    EXPECT_FALSE(device.supportsOpenTransfer());
}

TEST(DiscoveredDeviceTransfer, FullWidthHexDigitsCount) {
    // Full-width "０" (U+FF10) and "Ａ" (U+FF21) are hexadecimal digits too.
    std::string fingerprint;
    for (int i = 0; i < 32; ++i) fingerprint += "\xEF\xBC\x90";
    for (int i = 0; i < 32; ++i) fingerprint += "\xEF\xBC\xA1";
    DiscoveredDevice device = secureSource();
    device.certificateSHA256 = fingerprint;
    EXPECT_TRUE(device.supportsAuthenticatedTransfer());
}

TEST(DiscoveredDeviceFingerprint, FirstHalfInUpperCaseGroups) {
    EXPECT_EQ(secureSource().fingerprintDisplay(), "0123 4567 89AB CDEF 0123 4567 89AB CDEF");
    DiscoveredDevice capitals = secureSource();
    capitals.certificateSHA256 = "FEDCBA9876543210FEDCBA9876543210" + std::string(32, '1');
    EXPECT_EQ(capitals.fingerprintDisplay(), "FEDC BA98 7654 3210 FEDC BA98 7654 3210");
    EXPECT_EQ(capitals.fingerprintDisplay().size(), 39u);
}

TEST(DiscoveredDeviceFingerprint, InvalidIsUnavailable) {
    for (std::optional<std::string> bad : {std::optional<std::string>{}, std::optional<std::string>{""},
                                           std::optional<std::string>{kFingerprint.substr(1)},
                                           std::optional<std::string>{kFingerprint + "a"},
                                           std::optional<std::string>{"z" + kFingerprint.substr(1)}}) {
        DiscoveredDevice device = secureSource();
        device.certificateSHA256 = bad;
        EXPECT_EQ(device.fingerprintDisplay(), "Unavailable");
    }
}

TEST(DiscoveredDeviceFingerprint, ShownEvenWhenTransferIsNotPossible) {
    DiscoveredDevice device = secureSource();
    device.serviceType = "_velk._tcp.";
    EXPECT_EQ(device.fingerprintDisplay(), "0123 4567 89AB CDEF 0123 4567 89AB CDEF");
}

TEST(UrlScheme, ReadsTheSchemeAsWritten) {
    EXPECT_EQ(urlScheme("HTTPS://h/c"), "HTTPS");
    EXPECT_EQ(urlScheme("git+ssh://h"), "git+ssh");
    EXPECT_FALSE(urlScheme("/velk/v1/catalog").has_value());
    EXPECT_FALSE(urlScheme("1http://h").has_value());
    EXPECT_FALSE(urlScheme(":x").has_value());
    EXPECT_FALSE(urlScheme("").has_value());
}

} // namespace
} // namespace velk

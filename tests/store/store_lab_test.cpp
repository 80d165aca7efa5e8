// Pairing and "Download Take" with a phone known only by its ".local" name: the desk's system
// resolver cannot find it, the address DNS-SD resolved can. The desk case runs only inside the lab
// that store_avahi_lab_test.sh builds; the parent case starts that script.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "base/sha256.hpp"
#include "discovery/lan_discovery.hpp"
#include "store_phone_fixture.hpp"
#include "support/build_paths.hpp"

namespace velk {
namespace {

using namespace velk::testing;
namespace fs = std::filesystem;

constexpr int skipStatus = 77;

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

TEST(StoreAvahiLab, PairsAndDownloadsByTheResolvedAddress) {
    if (!variable("VELK_STORE_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    if (::geteuid() != 0) GTEST_SKIP() << "the network lab needs root";
    TempDir dir;
    const std::string log = dir / "lab.log";
    ChildProcess script({"bash", test::sourcePath("tests/store/store_avahi_lab_test.sh"), "/proc/" +
                         std::to_string(::getpid()) + "/exe"}, log);
    int status = -1;
    ASSERT_EQ(::waitpid(script.pid(), &status, 0), script.pid());
    ASSERT_TRUE(WIFEXITED(status)) << fileText(log);
    if (WEXITSTATUS(status) == skipStatus) GTEST_SKIP() << fileText(log);
    EXPECT_EQ(WEXITSTATUS(status), 0) << fileText(log);
}

TEST(StoreAvahiLabDesk, PairsAndDownloadsByTheResolvedAddress) {
    if (variable("VELK_STORE_LAB_ROLE") != "desk") GTEST_SKIP() << "runs only inside the lab's desk";
    ensureApplication();
    const std::string lab = variable("VELK_LAB");
    const std::string work = variable("VELK_STORE_LAB_DIR");
    const std::vector<std::string> inPhone = {"ip", "netns", "exec", lab + "-phone1"};

    StorePhone phone("Velk Phone One", false, inPhone, "10.77.0.11");
    const PhoneClip clip = phone.addClip(uuidLike(1, 1), "cam-a", 3'000'000);
    phone.publish("11111111-2222-4333-8444-555555555555");
    std::vector<std::string> publish = inPhone;
    for (const std::string& arg : std::vector<std::string>{"env", "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + work + "/phone1/bus", "avahi-publish", "-s",
                                   phone.name, "_velk-transfer._tcp", std::to_string(phone.phone.port),
                                   "fp=" + phone.phone.fingerprint, "sessionId=" + phone.phone.sessionId,
                                   "deviceId=" + phone.phone.deviceId, "foreground=1", "projectsDelete=trash-v1"}) {
        publish.push_back(arg);
    }
    ChildProcess publisher(publish, work + "/phone1/publish.log");

    LANDiscovery discovery;
    ASSERT_TRUE(runUntil([&] { return !discovery.devices().empty(); }, 30'000)) << "the advertisement was never found";
    const DiscoveredDevice device = discovery.devices().front();
    EXPECT_EQ(device.catalogURL, "https://velk-phone1.local:" + std::to_string(phone.phone.port) + "/velk/v1/catalog");
    EXPECT_EQ(discovery.resolvedAddress(device), "10.77.0.11");

    TempDir roots;
    AppStore store(roots.path() / "support", roots.path() / "recordings");
    TransferClientEnvironment environment;
    environment.sleeper = [](std::uint64_t, const CancellationToken*) {};
    store.setTransferEnvironment(environment);
    auto pair = [&] {
        std::optional<bool> paired;
        store.pairAndConnect(device, "123456", true, false, [&](bool ok) { paired = ok; });
        EXPECT_TRUE(runUntil([&] { return paired.has_value(); }));
        return paired.value_or(false);
    };
    // The name alone leads nowhere here.
    EXPECT_FALSE(pair());
    EXPECT_EQ(store.errorMessage(), "Secure camera connection failed: Could not connect to the camera.");

    store.setAddressResolver([&](const DiscoveredDevice& source) { return discovery.resolvedAddress(source); });
    ASSERT_TRUE(pair()) << store.errorMessage().value_or("");
    store.setSelectedProjectID(store.library().projects.at(0).id);
    store.setSelectedTakeID(store.library().projects.at(0).takes.at(0).id);
    bool downloaded = false;
    store.downloadSelectedTake([&] { downloaded = true; });
    ASSERT_TRUE(runUntil([&] { return downloaded; }));
    const auto& copy = store.library().projects.at(0).takes.at(0).clips.at(0).localPath;
    ASSERT_TRUE(copy) << store.errorMessage().value_or("");
    EXPECT_EQ(hexLower(Sha256::of(fileText(*copy))), clip.sha256);
    for (const auto& [method, path] : phone.requests()) EXPECT_FALSE(path.empty()) << method;
}

} // namespace
} // namespace velk

// A process that quits while a transfer waits inside a request exits at once and cleanly: the
// store cancels its work, the pool drains and joins, and nothing runs during static destruction.

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>

#include "base/executor.hpp"
#include "store_phone_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;
namespace fs = std::filesystem;

constexpr const char* childVariable = "VELK_QUIT_CHILD";

// The child: connects openly, starts "Download Take" against a phone that never sends the body,
// then quits as the application does (store gone, workers shut down, main returns).
TEST(QuitMidTransferChild, Run) {
    const char* spec = std::getenv(childVariable);
    if (!spec) GTEST_SKIP() << "runs only as the child of QuitMidTransfer";
    const Json given = json::parse(spec);
    ensureApplication();
    {
        const fs::path root = json::requireString(given, "root");
        AppStore store(root / "support", root / "recordings");
        DiscoveredDevice device{.serviceName = "Stage Left", .catalogURL = json::requireString(given, "catalogURL"),
                                .serviceType = "_velk-transfer._tcp.", .deviceId = json::requireString(given, "deviceId"),
                                .sessionId = json::requireString(given, "sessionId"),
                                .certificateSHA256 = json::requireString(given, "fingerprint"), .foregroundOnly = true,
                                .transferAccess = "open"};
        std::optional<bool> connected;
        store.pairAndConnect(device, "", true, true, [&](bool ok) { connected = ok; });
        ASSERT_TRUE(runUntil([&] { return connected.has_value(); }, 10'000));
        ASSERT_TRUE(*connected);
        store.downloadSelectedTake();
        runUntil([] { return false; }, 200);
        std::printf("transferring\n");
        std::fflush(stdout);
    }
    shutdownWorkers();
}

TEST(QuitMidTransfer, ExitsAtOnceAndCleanly) {
    StorePhone phone("Stage Left", true);
    phone.addClip(uuidLike(1, 1), "cam-a", 20'000'000);
    phone.publish("11111111-2222-4333-8444-555555555555");
    phone.phone.fault("files", "slowBody", 120);
    const char* runsText = std::getenv("VELK_QUIT_RUNS");
    const int runs = runsText ? std::atoi(runsText) : 3;
    long slowestMs = 0;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(run);
        TempDir root;
        const Json spec{{"root", root.path().string()}, {"catalogURL", phone.phone.baseURL() + "/velk/v1/catalog"},
                        {"deviceId", phone.phone.deviceId}, {"sessionId", phone.phone.sessionId},
                        {"fingerprint", phone.phone.fingerprint}};
        ::setenv(childVariable, spec.dump().c_str(), 1);
        ChildProcess child({"/proc/self/exe", "--gtest_filter=QuitMidTransferChild.Run"}, "", true);
        ::unsetenv(childVariable);
        bool transferring = false;
        while (!transferring) {
            auto line = child.readLine(20'000);
            ASSERT_TRUE(line) << "the child ended before its transfer";
            transferring = *line == "transferring";
        }
        const auto quitting = std::chrono::steady_clock::now();
        while (child.readLine(20'000)) {
        }
        int status = -1;
        ASSERT_EQ(::waitpid(child.pid(), &status, 0), child.pid());
        slowestMs = std::max<long>(slowestMs, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - quitting).count());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::printf("%d quits mid-transfer; slowest exit after the last line: %ld ms\n", runs, slowestMs);
}

} // namespace
} // namespace velk

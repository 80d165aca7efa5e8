// The computer's name as a phone is told it: hostnamed's pretty name first, asked on a private bus
// where python-dbusmock plays hostnamed, so the test never depends on the machine it runs on.

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include <QCoreApplication>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "base/host_name.hpp"
#include "support/hostnamed_mock.hpp"
#include "support/silent_bus.hpp"

namespace velk::host_name {
namespace {

TEST(HostName, PrettyNameThenStaticThenKernel) {
    using O = std::optional<std::string>;
    const struct {
        HostNames names;
        O expected;
    } cases[] = {
        {{"Studio Desk", "studio-desk", "localhost"}, "Studio Desk"},
        {{"  Studio Desk\n", "studio-desk", "localhost"}, "Studio Desk"},
        {{" ", "studio-desk", "localhost"}, "studio-desk"},
        {{"", "", "edit-7"}, "edit-7"},
        {{"", "", ""}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(userFacingName(c.names), c.expected) << c.names.pretty;
}

// Polls: the kept name is written by the watch's own thread.
bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

class HostNameOnTheBus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "velk_base_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }
    void SetUp() override {
        if (!mock.ready) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
    }
    std::filesystem::path machineInfo(const std::string& contents) {
        const std::filesystem::path file = std::filesystem::path(folder.path().toStdString()) / "machine-info";
        std::ofstream(file) << contents;
        return file;
    }

    test::HostnamedMock mock{QStringLiteral("Studio Desk"), QStringLiteral("studio-desk")};
    QTemporaryDir folder;
};

TEST_F(HostNameOnTheBus, AsksHostnamedForThePrettyAndStaticNamesAndAgainWhenTheyChange) {
    const std::filesystem::path info = machineInfo("PRETTY_HOSTNAME=\"Not Asked\"\n");
    // The application's watch asks the system bus, which is the mock's while it lives.
    const Watch watch;
    ASSERT_TRUE(eventually([&] { return currentNames(info).pretty == "Studio Desk"; }));
    const HostNames names = currentNames(info);
    EXPECT_EQ(names.staticName, "studio-desk");
    EXPECT_EQ(names.kernel, QSysInfo::machineHostName().toStdString());
    EXPECT_EQ(computerName(), "Studio Desk");
    mock.setPrettyName({});
    EXPECT_TRUE(eventually([] { return computerName() == "studio-desk"; }));
}

TEST_F(HostNameOnTheBus, WithoutHostnamedThePrettyNameComesFromMachineInfo) {
    const std::filesystem::path info = machineInfo("ICON_NAME=computer\nPRETTY_HOSTNAME='Edit Suite'\n");
    EXPECT_EQ(currentNames(info).pretty, "Edit Suite");
    {
        // A watch whose bus is not there.
        const Watch watch("unix:path=" + folder.filePath("no-bus").toStdString());
        EXPECT_EQ(currentNames(info).pretty, "Edit Suite");
    }
    const HostNames bare = currentNames(folder.filePath("missing").toStdString());
    EXPECT_EQ(bare.pretty, "");
    EXPECT_EQ(userFacingName(bare), userFacingName({"", "", QSysInfo::machineHostName().toStdString()}));
}

TEST(HostNameOnASilentBus, NobodyWaitsForIt) {
    QTemporaryDir folder;
    test::SilentBus silent(folder.filePath("silent-bus").toStdString());
    ASSERT_TRUE(silent.listening);
    const std::filesystem::path info = std::filesystem::path(folder.path().toStdString()) / "machine-info";
    std::ofstream(info) << "PRETTY_HOSTNAME=\"Edit Suite\"\n";
    // A request reads the kept name, none yet here: it never asks the bus itself.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(silent.address));
    EXPECT_TRUE(computerName().has_value());
    EXPECT_EQ(silent.connectionsMade(), 0);
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");

    const auto started = std::chrono::steady_clock::now();
    {
        const Watch watch(silent.address);
        // As a click asks for it while the bus is still silent: the name from the file, at once.
        EXPECT_EQ(currentNames(info).pretty, "Edit Suite");
        EXPECT_EQ(currentNames(info).kernel, QSysInfo::machineHostName().toStdString());
    } // and the watch, still connecting, ends at once
    // Generous: what matters is the difference from a connection's wait, which has no limit.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

} // namespace
} // namespace velk::host_name

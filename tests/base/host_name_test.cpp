// The computer's name as a phone is told it: hostnamed's pretty name first, asked on a private bus
// where python-dbusmock plays hostnamed, so the test never depends on the machine it runs on.

#include <fstream>

#include <QCoreApplication>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "base/host_name.hpp"
#include "support/hostnamed_mock.hpp"

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

TEST_F(HostNameOnTheBus, AsksHostnamedForThePrettyAndStaticNames) {
    const HostNames names = readHostNames(mock.address, machineInfo("PRETTY_HOSTNAME=\"Not Asked\"\n"), 5000);
    EXPECT_EQ(names.pretty, "Studio Desk");
    EXPECT_EQ(names.staticName, "studio-desk");
    EXPECT_EQ(names.kernel, QSysInfo::machineHostName().toStdString());
    // The application asks the system bus, which is the mock's while it lives.
    EXPECT_EQ(computerName(), "Studio Desk");
    mock.setPrettyName({});
    EXPECT_EQ(computerName(), "studio-desk");
}

TEST_F(HostNameOnTheBus, WithoutHostnamedThePrettyNameComesFromMachineInfo) {
    const QString nobody = QStringLiteral("unix:path=") + folder.filePath("no-bus");
    EXPECT_EQ(readHostNames(nobody, machineInfo("ICON_NAME=computer\nPRETTY_HOSTNAME='Edit Suite'\n"), 5000).pretty,
              "Edit Suite");
    const HostNames bare = readHostNames(nobody, folder.filePath("missing").toStdString(), 5000);
    EXPECT_EQ(bare.pretty, "");
    EXPECT_EQ(userFacingName(bare), userFacingName({"", "", QSysInfo::machineHostName().toStdString()}));
}

} // namespace
} // namespace velk::host_name

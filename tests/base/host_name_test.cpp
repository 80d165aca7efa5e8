// The computer's name as a phone is told it: hostnamed's pretty name first, asked on a private bus
// where python-dbusmock plays hostnamed, so the test never depends on the machine it runs on.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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

// A system bus that takes every connection and never says a word: a listening socket nobody reads.
// A new connection waits for the bus to let it in, with no time limit of its own.
class SilentBus {
public:
    explicit SilentBus(const QString& path) : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        const QByteArray bytes = path.toUtf8();
        std::memcpy(where.sun_path, bytes.constData(), std::min<std::size_t>(bytes.size(), sizeof where.sun_path - 1));
        listening = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 && ::listen(m_fd, 16) == 0;
        address = QStringLiteral("unix:path=") + path;
    }
    // Closing it ends the connections it kept waiting, and with them the workers that asked.
    ~SilentBus() {
        if (m_fd >= 0) ::close(m_fd);
    }
    QString address;
    bool listening = false;

private:
    int m_fd;
};

TEST(HostNameOnASilentBus, NoCallerWaitsPastItsTimeOut) {
    static int argc = 1;
    static char name[] = "velk_base_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    QTemporaryDir folder;
    const SilentBus silent(folder.filePath("silent-bus"));
    ASSERT_TRUE(silent.listening);
    const std::filesystem::path info = std::filesystem::path(folder.path().toStdString()) / "machine-info";
    std::ofstream(info) << "PRETTY_HOSTNAME=\"Edit Suite\"\n";
    const auto started = std::chrono::steady_clock::now();
    const HostNames first = readHostNames(silent.address, info, 300);
    // A second caller while the first question is still unanswered, as a second click would be.
    const HostNames second = readHostNames(silent.address, info, 300);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(first.pretty, "Edit Suite");
    EXPECT_EQ(second.pretty, "Edit Suite");
    EXPECT_EQ(first.kernel, QSysInfo::machineHostName().toStdString());
    // Generous: what matters is the difference from a connection's wait, which has no limit.
    EXPECT_LT(elapsed, std::chrono::seconds(3));

    // The name the application asks for on the GUI thread, with the silent bus as the system bus.
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", silent.address.toUtf8());
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(computerName().has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
}

} // namespace
} // namespace velk::host_name

// The NetworkManager backend against python-dbusmock's NetworkManager template, on a private bus
// that the test starts and stops. Neither the system bus nor a real NetworkManager is touched.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/host_name.hpp"
#include "wifi/network_manager_wifi_backend.hpp"
#include "wifi/wifi_join_coordinator.hpp"
#include "wifi/wifi_test_support.hpp"
#include "support/child_process.hpp"
#include "support/silent_bus.hpp"

namespace velk {
namespace {

using S = WifiSecurity;
using test::joinOnce;

const QString kManager = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kMock = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kWireless = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");

// A private bus with the mock on it, one Wi-Fi device whose scans move LastScan on.
class NetworkManagerMock {
public:
    NetworkManagerMock() {
        m_bus = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", true);
        const std::optional<std::string> printed = m_bus->readLine(5000);
        if (!printed) return;
        address = QString::fromStdString(*printed).trimmed();
        m_mock = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{"env", "DBUS_SESSION_BUS_ADDRESS=" + address.toStdString(),
                                     "DBUS_SYSTEM_BUS_ADDRESS=" + address.toStdString(), "/usr/bin/python3", "-m",
                                     "dbusmock", "--session", "-t", "networkmanager", "-l",
                                     m_dir.filePath("calls.log").toStdString()},
            "");
        m_connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "nm-mock"));
        if (!test::waitUntil([&] { return m_connection->interface()->isServiceRegistered(kManagerInterface).value(); },
                             20000)) {
            return;
        }
        device = call(kManager, kMock, "AddWiFiDevice", {"wlan0", "wlan0", 100u}).value(0).toString();
        call(device, kMock, "AddProperty", {kWireless, "LastScan", QVariant::fromValue(QDBusVariant(qlonglong(1)))});
        addMethod(device, kWireless, "RequestScan", "a{sv}", "",
                  QStringLiteral("self.Set('%1', 'LastScan', self.Get('%1', 'LastScan') + 1)").arg(kWireless));
        ready = true;
    }

    ~NetworkManagerMock() {
        m_connection.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("nm-mock"));
        m_mock.reset();
        m_bus.reset();
    }

    QList<QVariant> call(const QString& path, const QString& interface, const QString& method,
                         const QList<QVariant>& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(kManagerInterface, path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = m_connection->call(message);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments();
    }

    void addMethod(const QString& path, const QString& interface, const QString& name, const QString& in,
                   const QString& out, const QString& code) {
        call(path, kMock, "AddMethod", {interface, name, in, out, code});
    }

    // An access point with real flag values; the template itself knows only one security value.
    void addAccessPoint(const QString& name, const QString& ssid, std::uint32_t flags, std::uint32_t wpa,
                        std::uint32_t rsn, std::uint8_t strength) {
        const QString path = call(kManager, kMock, "AddAccessPoint",
                                  {device, name, ssid, "00:11:22:33:44:55", 2u, 2412u, 54000u,
                                   QVariant::fromValue(strength), rsn})
                                 .value(0)
                                 .toString();
        for (const auto& [key, value] : {std::pair{"Flags", flags}, {"WpaFlags", wpa}, {"RsnFlags", rsn}}) {
            call(path, "org.freedesktop.DBus.Properties", "Set",
                 {"org.freedesktop.NetworkManager.AccessPoint", key, QVariant::fromValue(QDBusVariant(value))});
        }
    }

    // The activation that AddAndActivateConnection2 leaves behind ends in this state.
    void activationEndsIn(int state) {
        addMethod(kManager, kManagerInterface, "AddAndActivateConnection2", "a{sa{sv}}ooa{sv}", "ooa{sv}",
                  QStringLiteral("(c, a) = self.add_and_activate_connection(self, args[0], args[1], args[2])\n"
                                 "import dbusmock\n"
                                 "dbusmock.get_object(a).Set('org.freedesktop.NetworkManager.Connection.Active', "
                                 "'State', dbus.UInt32(%1))\n"
                                 "ret = (c, a, dbus.Dictionary({}, signature='sv'))")
                      .arg(state));
    }

    bool hasConnection(const QString& name) {
        const auto reply = call(kManager + "/Settings", kManagerInterface + ".Settings", "ListConnections");
        for (const auto& path : qdbus_cast<QList<QDBusObjectPath>>(reply.value(0))) {
            if (path.path().endsWith("/" + name)) return true;
        }
        return false;
    }

    // The mock's log from the last AddAndActivateConnection2 on.
    QString lastActivation() { return log().section(QStringLiteral("AddAndActivateConnection2"), -1); }

    // Stopped, the mock keeps NetworkManager's name on the bus and answers nothing, as a hung
    // daemon does; the calls made meanwhile wait in the bus.
    void setSilent(bool silent) { ::kill(m_mock->pid(), silent ? SIGSTOP : SIGCONT); }

    // The mock stops itself inside the next call whose line in its log holds `name`, once the call
    // has done its work and before it answers: a NetworkManager that hangs in that call.
    // setSilent(false) lets it answer and go on.
    void stallInside(const QString& name) {
        addMethod(kManager, kMock, "StallInside", "s", "",
                  "import os, signal, sys, dbusmock.mockobject as m\n"
                  "if not hasattr(m, 'stall_inside'):\n"
                  "    def log(self, line, logged=m.DBusMockObject.log, m=m, os=os, signal=signal, sys=sys):\n"
                  "        logged(self, line)\n"
                  "        if m.stall_inside and m.stall_inside in line:\n"
                  "            m.stall_inside = ''\n"
                  "            call = sys._getframe(1)\n"
                  "            def stop(frame, event, _):\n"
                  "                if frame is call and event == 'return':\n"
                  "                    sys.setprofile(None)\n"
                  "                    os.kill(os.getpid(), signal.SIGSTOP)\n"
                  "            sys.setprofile(stop)\n"
                  "    m.DBusMockObject.log = log\n"
                  "m.stall_inside = args[0]");
        call(kManager, kMock, "StallInside", {name});
    }
    bool stalled() {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_mock->pid()));
        return stat.open(QIODevice::ReadOnly) && stat.readAll().split(')').last().trimmed().startsWith('T');
    }
    // Answered once the mock has taken what was sent to it before.
    void ping() { call(kManager, QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")); }
    qsizetype logged() { return log().size(); }
    // The calls logged after the first `from` characters of the log (the mock's own signals left
    // out), each as its name and first argument.
    std::string callsAfter(qsizetype from) {
        QStringList calls;
        for (const QString& line : log().mid(from).split('\n', Qt::SkipEmptyParts)) {
            if (line.section(' ', 1, 1) != QStringLiteral("emit")) calls << line.section(' ', 1, 2);
        }
        return calls.join(QStringLiteral("; ")).toStdString();
    }

    QString address;
    QString device;
    bool ready = false;

private:
    QString log() {
        QFile file(m_dir.filePath("calls.log"));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    QTemporaryDir m_dir;
    std::unique_ptr<test::ChildProcess> m_bus;
    std::unique_ptr<test::ChildProcess> m_mock;
    std::unique_ptr<QDBusConnection> m_connection;
};

class NetworkManagerBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::ensureApplication();
        mock = new NetworkManagerMock;
    }
    static void TearDownTestSuite() { delete mock; }

    void SetUp() override {
        if (!mock->ready) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
    }

    std::shared_ptr<NetworkManagerWifiBackend> backend(int activationWaitMs = 5000) {
        NetworkManagerWifiBackend::Options options;
        options.busAddress = mock->address.toStdString();
        options.scanWaitMs = 2000;
        options.activationWaitMs = activationWaitMs;
        options.pollIntervalMs = 20;
        return std::make_shared<NetworkManagerWifiBackend>(options);
    }

    static inline NetworkManagerMock* mock = nullptr;
    const std::shared_ptr<const CancellationToken> going = std::make_shared<CancellationToken>();
};

TEST(NetworkManagerSecurityMapping, ReadsTheAccessPointFlags) {
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::vector<S>> cases[] = {
        {0x0, 0x0, 0x0, {S::none}},
        {0x1, 0x0, 0x0, {S::wep}},
        {0x1, 0x144, 0x0, {S::wpaPersonal}},
        {0x1, 0x0, 0x188, {S::wpa2Personal}},
        {0x1, 0x0, 0x488, {S::wpa3Personal}},
        {0x1, 0x0, 0x588, {S::wpa2Personal, S::wpa3Personal, S::wpa3Transition}},
        {0x1, 0x0, 0x288, {S::wpa2Enterprise}},
        {0x1, 0x0, 0x888, {S::owe}},
    };
    for (const auto& [flags, wpa, rsn, expected] : cases) {
        EXPECT_EQ(NetworkManagerWifiBackend::securities(flags, wpa, rsn), expected) << std::hex << wpa << " " << rsn;
    }
}

TEST_F(NetworkManagerBackendTest, ScansForTheNameAndReadsEveryAccessPoint) {
    mock->addAccessPoint("scan_sae", "ScanNet", 0x1, 0x0, 0x488, 71);
    auto nm = backend();
    const WifiInterface interface = nm->interface(*going);
    ASSERT_EQ(interface, WifiInterface::found(mock->device.toStdString()));
    const std::string ssid = "ScanNet";
    const auto networks = nm->scan(interface.name, {ssid.begin(), ssid.end()}, *going);
    ASSERT_TRUE(networks);
    const auto found = std::find_if(networks->begin(), networks->end(),
                                    [](const WifiNetwork& n) { return n.id.ends_with("/scan_sae"); });
    ASSERT_NE(found, networks->end());
    EXPECT_EQ(found->ssid, std::vector<std::uint8_t>(ssid.begin(), ssid.end()));
    EXPECT_EQ(found->securities, std::vector<S>{S::wpa3Personal});
    EXPECT_EQ(found->signal, 71);
}

TEST_F(NetworkManagerBackendTest, JoinsWithAVolatileProfileHoldingThePassword) {
    mock->addAccessPoint("home_weak", "HomeNet", 0x1, 0x0, 0x188, 30);
    mock->addAccessPoint("home_strong", "HomeNet", 0x1, 0x0, 0x188, 80);
    mock->activationEndsIn(2);
    EXPECT_EQ(joinOnce(*backend(), {"HomeNet", WiFiNetworkDetails::Security::wpa, "secret-pass-1", false}),
              WiFiJoinResult::joined);
    const QString call = mock->lastActivation();
    for (const char* expected : {"/home_strong", "\"psk\": \"secret-pass-1\"", "wpa-psk", "\"persist\": \"volatile\""}) {
        EXPECT_TRUE(call.contains(QString::fromUtf8(expected))) << expected << " in " << call.toStdString();
    }
    EXPECT_FALSE(call.contains(QStringLiteral("Delete")));
}

TEST_F(NetworkManagerBackendTest, AFailedOrTimedOutActivationRemovesItsProfile) {
    mock->addAccessPoint("fail_ap", "FailNet", 0x0, 0x0, 0x0, 50);
    mock->activationEndsIn(4); // deactivated
    EXPECT_EQ(joinOnce(*backend(), {"FailNet", WiFiNetworkDetails::Security::open, "", false}), WiFiJoinResult::failed);
    EXPECT_FALSE(mock->lastActivation().contains(QStringLiteral("psk")));
    EXPECT_TRUE(mock->lastActivation().contains(QStringLiteral("Delete")));
    EXPECT_FALSE(mock->hasConnection("fail_ap"));

    mock->addAccessPoint("slow_ap", "SlowNet", 0x1, 0x0, 0x488, 50);
    mock->activationEndsIn(1); // still activating when the wait ends
    EXPECT_EQ(joinOnce(*backend(300), {"SlowNet", WiFiNetworkDetails::Security::sae, "password1", false}),
              WiFiJoinResult::failed);
    EXPECT_TRUE(mock->lastActivation().contains(QStringLiteral("\"key-mgmt\": \"sae\"")));
    EXPECT_TRUE(mock->lastActivation().contains(QStringLiteral("Delete")));
    EXPECT_FALSE(mock->hasConnection("slow_ap"));
}

TEST_F(NetworkManagerBackendTest, ScanPermissionIsRefusedOnlyWhenNetworkManagerSaysNo) {
    auto nm = backend();
    EXPECT_EQ(nm->permissionStatus(), WifiPermission::notDetermined);
    const auto ask = [&] {
        std::optional<WifiPermission> answer;
        nm->requestPermission(going, [&](WifiPermission status) { answer = status; });
        EXPECT_TRUE(test::waitUntil([&] { return answer.has_value(); }));
        return answer;
    };
    EXPECT_EQ(ask(), WifiPermission::authorized);
    mock->addMethod(kManager, kManagerInterface, "GetPermissions", "", "a{ss}",
                    "ret = {'org.freedesktop.NetworkManager.wifi.scan': 'no'}");
    EXPECT_EQ(ask(), WifiPermission::denied);
    EXPECT_EQ(nm->permissionStatus(), WifiPermission::denied);
}

// Runs after the test above: it leaves GetPermissions answering "auth".
TEST_F(NetworkManagerBackendTest, AnAuthAnswerMeansNetworkManagerWillAskTheUser) {
    mock->addMethod(kManager, kManagerInterface, "GetPermissions", "", "a{ss}",
                    "ret = {'org.freedesktop.NetworkManager.wifi.scan': 'auth'}");
    auto nm = backend();
    std::optional<WifiPermission> answer;
    nm->requestPermission(going, [&](WifiPermission status) { answer = status; });
    ASSERT_TRUE(test::waitUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(answer, WifiPermission::askOnUse);
    // Its agent may keep the authentication a while, so the next join asks again.
    EXPECT_EQ(nm->permissionStatus(), WifiPermission::notDetermined);
}

TEST_F(NetworkManagerBackendTest, AnswersWhileAnotherConnectionWaitsOnASilentBus) {
    QTemporaryDir folder;
    const test::SilentBus silent(folder.filePath("silent-bus").toStdString());
    ASSERT_TRUE(silent.listening);
    // The computer's name is being asked of a bus that never lets the connection in.
    const host_name::Watch asking(silent.address);
    EXPECT_EQ(backend()->interface(*going), WifiInterface::found(mock->device.toStdString()));
}

// A NetworkManager that answers nothing, from the start or once it has answered the permission, and
// a bus that never lets the connection in: the join shows its progress at once and ends as failed.
// Only a NetworkManager that answers with no Wi-Fi device gets the missing-interface sentence.
TEST_F(NetworkManagerBackendTest, AJoinWithoutAnAnswerShowsItsProgressAtOnceAndEndsAsFailed) {
    QTemporaryDir folder;
    const test::SilentBus silentBus(folder.filePath("silent-bus").toStdString());
    ASSERT_TRUE(silentBus.listening);
    enum class Silent { nothing, networkManager, networkManagerOnceAsked, bus };
    const std::string failed =
        "NetworkManager could not join automatically. Open Wi-Fi Settings and use the decoded details.";
    const std::tuple<Silent, bool, std::string> cases[] = {
        {Silent::networkManager, true, failed},
        {Silent::networkManagerOnceAsked, true, failed},
        {Silent::bus, true, failed},
        {Silent::nothing, false, "No usable Wi-Fi interface is available. Open Wi-Fi Settings for system options."},
    };
    // An earlier test leaves GetPermissions answering "auth".
    mock->addMethod(kManager, kManagerInterface, "GetPermissions", "", "a{ss}", "ret = {}");
    const QString listDevices = QStringLiteral("ret = [k for k in objects.keys() if '/Devices' in k]");
    for (const auto& [silent, listsWifi, sentence] : cases) {
        const int row = static_cast<int>(silent);
        NetworkManagerWifiBackend::Options options;
        options.busAddress = silent == Silent::bus ? silentBus.address : mock->address.toStdString();
        // Short bounds, yet long enough for the mock's answers on a busy machine.
        options.connectTimeoutMs = 1000;
        options.callTimeoutMs = 2000;
        auto nm = std::make_shared<NetworkManagerWifiBackend>(options);
        if (silent == Silent::networkManagerOnceAsked) {
            std::optional<WifiPermission> answer;
            nm->requestPermission(going, [&](WifiPermission status) { answer = status; });
            ASSERT_TRUE(test::waitUntil([&] { return answer.has_value(); }));
            ASSERT_EQ(nm->permissionStatus(), WifiPermission::authorized);
        }
        mock->addMethod(kManager, kManagerInterface, "GetDevices", "", "ao", listsWifi ? listDevices : "ret = []");
        const bool stopped = silent == Silent::networkManager || silent == Silent::networkManagerOnceAsked;
        if (stopped) mock->setSilent(true);
        auto coordinator = std::make_shared<WiFiJoinCoordinator>(nm);
        coordinator->join(test::kHome, test::openGate());
        EXPECT_TRUE(coordinator->isWorking()) << row;
        EXPECT_EQ(coordinator->message(), "Asking NetworkManager to find and join Home;Net\u2026") << row;
        const bool ended = test::waitUntil([&] { return !coordinator->isWorking(); });
        if (stopped) mock->setSilent(false);
        ASSERT_TRUE(ended) << row;
        EXPECT_EQ(coordinator->message(), sentence) << row;
    }
    mock->addMethod(kManager, kManagerInterface, "GetDevices", "", "ao", listDevices);
}

// Done, or the application quitting, while NetworkManager hangs in any call of a join: the join
// ends without waiting for the answer, asks NetworkManager nothing more once it goes on, and tells
// no result.
TEST_F(NetworkManagerBackendTest, ACancelledJoinAsksNetworkManagerNothingMore) {
    mock->addMethod(kManager, kManagerInterface, "GetPermissions", "", "a{ss}", "ret = {}");
    mock->addAccessPoint("cancel_ap", "Home;Net", 0x1, 0x0, 0x188, 60);
    mock->activationEndsIn(1); // activating for as long as anyone waits
    const struct {
        const char* call; // as the mock logs it
        bool quitting;    // else Done
    } cases[] = {
        {"GetPermissions", false},
        {"GetDevices", false},
        {"Device.DeviceType", false},
        {"RequestScan", false},
        {"GetAllAccessPoints", false},
        {"AddAndActivateConnection2", false},
        {"Connection.Active.State", false},
        {"GetPermissions", true},
        {"GetDevices", true},
        {"Connection.Active.State", true},
    };
    for (const auto& c : cases) {
        const std::string row = std::string(c.call) + (c.quitting ? ", quitting" : ", Done");
        auto quitting = std::make_shared<CancellationToken>();
        auto coordinator = std::make_shared<WiFiJoinCoordinator>(backend(2000), quitting);
        mock->stallInside(c.call);
        coordinator->join(test::kHome, test::openGate());
        if (!test::waitUntil([&] { return mock->stalled(); })) {
            ADD_FAILURE() << row << ": never called";
            continue;
        }
        const qsizetype stalledAt = mock->logged();
        if (c.quitting) {
            quitting->cancel();
        } else {
            coordinator->cancelPending();
        }
        EXPECT_TRUE(test::waitUntil([&] { return !coordinator->isWorking(); }, 5000)) << row << ": waits for the answer";
        mock->setSilent(false);
        ASSERT_TRUE(test::waitUntil([&] { return !coordinator->isWorking(); })) << row;
        mock->ping();
        EXPECT_EQ(mock->callsAfter(stalledAt), "") << row;
        EXPECT_EQ(coordinator->message(), "Asking NetworkManager to find and join Home;Net\u2026") << row;
    }
}

TEST(NetworkManagerOnASilentBus, AStepEndsAtItsTimeOutOrAtOnceWhenQuitting) {
    test::ensureApplication();
    QTemporaryDir folder;
    const test::SilentBus silent(folder.filePath("silent-bus").toStdString());
    ASSERT_TRUE(silent.listening);
    for (const bool quitting : {false, true}) {
        NetworkManagerWifiBackend::Options options;
        options.busAddress = silent.address;
        options.connectTimeoutMs = quitting ? 10 * 60 * 1000 : 300;
        CancellationToken cancellation;
        NetworkManagerWifiBackend nm(options);
        auto asking = std::async(std::launch::async, [&] { return nm.interface(cancellation); });
        if (quitting) cancellation.cancel();
        // A bound against hanging only: a connection to the silent bus would wait for ever.
        ASSERT_EQ(asking.wait_for(std::chrono::seconds(10)), std::future_status::ready) << quitting;
        EXPECT_EQ(asking.get().status, WifiInterface::Status::noAnswer) << quitting;
    }
}

} // namespace
} // namespace velk

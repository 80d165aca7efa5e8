// The NetworkManager backend against python-dbusmock's NetworkManager template, on a private bus
// that the test starts and stops. Neither the system bus nor a real NetworkManager is touched.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "wifi/network_manager_wifi_backend.hpp"
#include "wifi/wifi_join_coordinator.hpp"
#include "wifi/wifi_test_support.hpp"

namespace velk {
namespace {

using S = WifiSecurity;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManager = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kMock = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kWireless = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");
const QString kAccessPoint = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");

class NetworkManagerMock {
public:
    NetworkManagerMock() {
        m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                    QStringLiteral("--print-address=1")});
        if (!m_bus.waitForStarted(5000) || !m_bus.waitForReadyRead(5000)) return;
        address = QString::fromUtf8(m_bus.readLine()).trimmed();
        if (address.isEmpty()) return;

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        m_mock.setProcessEnvironment(environment);
        logPath = m_dir.filePath(QStringLiteral("calls.log"));
        m_mock.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                                          QStringLiteral("--session"), QStringLiteral("-t"),
                                                          QStringLiteral("networkmanager"), QStringLiteral("-l"), logPath});
        connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("nm-mock-test")));
        ready = test::waitUntil([&] { return connection->interface()->isServiceRegistered(kService).value(); }, 20000);
    }

    ~NetworkManagerMock() {
        connection.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("nm-mock-test"));
        for (QProcess* process : {&m_mock, &m_bus}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    QList<QVariant> call(const QString& path, const QString& interface, const QString& method,
                         const QList<QVariant>& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = connection->call(message);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString() << ": "
                                                            << reply.errorMessage().toStdString();
        return reply.arguments();
    }

    void set(const QString& path, const QString& interface, const QString& name, const QVariant& value) {
        call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
             {interface, name, QVariant::fromValue(QDBusVariant(value))});
    }

    void addMethod(const QString& path, const QString& interface, const QString& name, const QString& in,
                   const QString& out, const QString& code) {
        call(path, kMock, QStringLiteral("AddMethod"), {interface, name, in, out, code});
    }

    QString addAccessPoint(const QString& name, const QString& ssid, std::uint32_t flags, std::uint32_t wpa,
                           std::uint32_t rsn, std::uint8_t strength) {
        const auto reply = call(kManager, kMock, QStringLiteral("AddAccessPoint"),
                                {device, name, ssid, QStringLiteral("00:11:22:33:44:55"), 2u, 2412u, 54000u,
                                 QVariant::fromValue(strength), rsn});
        const QString path = reply.value(0).toString();
        set(path, kAccessPoint, QStringLiteral("Flags"), flags);
        set(path, kAccessPoint, QStringLiteral("WpaFlags"), wpa);
        set(path, kAccessPoint, QStringLiteral("RsnFlags"), rsn);
        return path;
    }

    QStringList connections() {
        const auto reply = call(QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
                                QStringLiteral("org.freedesktop.NetworkManager.Settings"), QStringLiteral("ListConnections"));
        QStringList paths;
        for (const auto& path : qdbus_cast<QList<QDBusObjectPath>>(reply.value(0))) paths << path.path();
        return paths;
    }

    QString log() {
        QFile file(logPath);
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    QString address;
    QString logPath;
    QString device;
    bool ready = false;
    std::unique_ptr<QDBusConnection> connection;

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_mock;
};

// The activation that AddAndActivateConnection2 leaves behind, by the active connection's state.
QString addAndActivateCode(int activeState) {
    return QStringLiteral("(c, a) = self.add_and_activate_connection(self, args[0], args[1], args[2])\n"
                          "import dbusmock\n"
                          "dbusmock.get_object(a).Set('org.freedesktop.NetworkManager.Connection.Active', 'State', "
                          "dbus.UInt32(%1))\n"
                          "ret = (c, a, dbus.Dictionary({}, signature='sv'))")
        .arg(activeState);
}

class NetworkManagerBackendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::ensureGuiApplication();
        mock = new NetworkManagerMock;
        if (!mock->ready) return;
        mock->device = mock->call(kManager, kMock, QStringLiteral("AddWiFiDevice"),
                                  {QStringLiteral("wlan0"), QStringLiteral("wlan0"), 100u})
                           .value(0)
                           .toString();
        // A scan that ends by moving LastScan on, as NetworkManager's does.
        mock->call(mock->device, kMock, QStringLiteral("AddProperty"),
                   {kWireless, QStringLiteral("LastScan"), QVariant::fromValue(QDBusVariant(qlonglong(1000)))});
        mock->addMethod(mock->device, kWireless, QStringLiteral("RequestScan"), QStringLiteral("a{sv}"), QString(),
                        QStringLiteral("self.Set('%1', 'LastScan', dbus.Int64(self.Get('%1', 'LastScan') + 1))").arg(kWireless));
    }
    static void TearDownTestSuite() {
        delete mock;
        mock = nullptr;
    }

    void SetUp() override {
        if (!mock->ready) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
    }

    std::shared_ptr<NetworkManagerWifiBackend> backend(int activationWaitMs = 5000) {
        NetworkManagerWifiBackend::Options options;
        options.busAddress = mock->address;
        options.scanWaitMs = 2000;
        options.activationWaitMs = activationWaitMs;
        options.pollIntervalMs = 20;
        return std::make_shared<NetworkManagerWifiBackend>(options);
    }

    void activationEndsIn(int activeState) {
        mock->addMethod(kManager, QStringLiteral("org.freedesktop.NetworkManager"),
                        QStringLiteral("AddAndActivateConnection2"), QStringLiteral("a{sa{sv}}ooa{sv}"),
                        QStringLiteral("ooa{sv}"), addAndActivateCode(activeState));
    }

    static WiFiJoinResult join(WifiBackend& backend, const WiFiNetworkDetails& details) {
        WiFiChangeGate gate;
        gate.update(true);
        WiFiJoinAttempt attempt;
        return WiFiJoin::joinSynchronously(details, gate, attempt, backend);
    }

    static inline NetworkManagerMock* mock = nullptr;
};

TEST(NetworkManagerSecurityMapping, ReadsTheAccessPointFlags) {
    struct Case {
        std::uint32_t flags, wpa, rsn;
        std::vector<S> expected;
    };
    const Case cases[] = {
        {0x0, 0x0, 0x0, {S::none}},
        {0x1, 0x0, 0x0, {S::wep}},
        {0x1, 0x144, 0x0, {S::wpaPersonal}},
        {0x1, 0x0, 0x188, {S::wpa2Personal}},
        {0x1, 0x144, 0x18c, {S::wpaPersonal, S::wpa2Personal}},
        {0x1, 0x0, 0x488, {S::wpa3Personal}},
        {0x1, 0x0, 0x588, {S::wpa2Personal, S::wpa3Personal, S::wpa3Transition}},
        {0x1, 0x0, 0x288, {S::wpa2Enterprise}},
        {0x1, 0x0, 0x888, {S::owe}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NetworkManagerWifiBackend::securities(c.flags, c.wpa, c.rsn), c.expected)
            << std::hex << c.flags << " " << c.wpa << " " << c.rsn;
    }
}

TEST_F(NetworkManagerBackendTest, ScansForTheNameAndReadsEveryAccessPoint) {
    mock->addAccessPoint(QStringLiteral("scan_sae"), QStringLiteral("ScanNet"), 0x1, 0x0, 0x488, 71);
    auto nm = backend();
    const auto interface = nm->interface();
    ASSERT_EQ(interface, mock->device.toStdString());
    const std::string ssid = "ScanNet";
    const auto networks = nm->scan(*interface, {ssid.begin(), ssid.end()});
    ASSERT_TRUE(networks);
    const auto found = std::find_if(networks->begin(), networks->end(),
                                    [](const WifiNetwork& n) { return n.id.ends_with("/scan_sae"); });
    ASSERT_NE(found, networks->end());
    EXPECT_EQ(found->ssid, std::vector<std::uint8_t>(ssid.begin(), ssid.end()));
    EXPECT_EQ(found->securities, std::vector<S>{S::wpa3Personal});
    EXPECT_EQ(found->signal, 71);
    EXPECT_TRUE(mock->log().contains(QStringLiteral("RequestScan")));
}

TEST_F(NetworkManagerBackendTest, JoinsWithAVolatileProfileHoldingThePassword) {
    mock->addAccessPoint(QStringLiteral("home_weak"), QStringLiteral("HomeNet"), 0x1, 0x0, 0x188, 30);
    mock->addAccessPoint(QStringLiteral("home_strong"), QStringLiteral("HomeNet"), 0x1, 0x0, 0x188, 80);
    activationEndsIn(2);
    auto nm = backend();
    EXPECT_EQ(join(*nm, {"HomeNet", WiFiNetworkDetails::Security::wpa, "secret-pass-1", false}), WiFiJoinResult::joined);
    const QString log = mock->log();
    const auto call = log.mid(log.lastIndexOf(QStringLiteral("AddAndActivateConnection2")));
    EXPECT_TRUE(call.contains(QStringLiteral("/home_strong"))) << call.toStdString();
    EXPECT_TRUE(call.contains(QStringLiteral("secret-pass-1")));
    EXPECT_TRUE(call.contains(QStringLiteral("wpa-psk")));
    EXPECT_TRUE(call.contains(QStringLiteral("volatile")));
    EXPECT_FALSE(call.contains(QStringLiteral("Delete")));
}

TEST_F(NetworkManagerBackendTest, AFailedActivationRemovesItsProfile) {
    mock->addAccessPoint(QStringLiteral("fail_ap"), QStringLiteral("FailNet"), 0x0, 0x0, 0x0, 50);
    activationEndsIn(4);
    auto nm = backend();
    EXPECT_EQ(join(*nm, {"FailNet", WiFiNetworkDetails::Security::open, "", false}), WiFiJoinResult::failed);
    EXPECT_TRUE(mock->log().section(QStringLiteral("AddAndActivateConnection2"), -1).contains(QStringLiteral("Delete")));
    EXPECT_FALSE(mock->connections().contains(QStringLiteral("/org/freedesktop/NetworkManager/Settings/fail_ap")));
    EXPECT_FALSE(mock->log().section(QStringLiteral("AddAndActivateConnection2"), -1).contains(QStringLiteral("psk")));
}

TEST_F(NetworkManagerBackendTest, AnActivationThatNeverEndsTimesOutAsFailed) {
    mock->addAccessPoint(QStringLiteral("slow_ap"), QStringLiteral("SlowNet"), 0x1, 0x0, 0x488, 50);
    activationEndsIn(1);
    auto nm = backend(300);
    EXPECT_EQ(join(*nm, {"SlowNet", WiFiNetworkDetails::Security::sae, "password1", false}), WiFiJoinResult::failed);
    EXPECT_TRUE(mock->log().section(QStringLiteral("AddAndActivateConnection2"), -1).contains(QStringLiteral("Delete")));
    EXPECT_FALSE(mock->connections().contains(QStringLiteral("/org/freedesktop/NetworkManager/Settings/slow_ap")));
    EXPECT_TRUE(mock->log().section(QStringLiteral("AddAndActivateConnection2"), -1).contains(QStringLiteral("\"sae\"")));
}

TEST_F(NetworkManagerBackendTest, ScanPermissionIsRefusedOnlyWhenNetworkManagerSaysNo) {
    auto nm = backend();
    EXPECT_EQ(nm->permissionStatus(), WifiPermission::notDetermined);
    std::optional<WifiPermission> answer;
    nm->requestPermission([&](WifiPermission status) { answer = status; });
    ASSERT_TRUE(test::waitUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(answer, WifiPermission::authorized);

    mock->addMethod(kManager, QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("GetPermissions"),
                    QString(), QStringLiteral("a{ss}"),
                    QStringLiteral("ret = {'org.freedesktop.NetworkManager.wifi.scan': 'no'}"));
    answer.reset();
    nm->requestPermission([&](WifiPermission status) { answer = status; });
    ASSERT_TRUE(test::waitUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(answer, WifiPermission::denied);
    EXPECT_EQ(nm->permissionStatus(), WifiPermission::denied);
}

} // namespace
} // namespace velk

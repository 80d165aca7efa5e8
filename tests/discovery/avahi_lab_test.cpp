// The Avahi backend against real daemons. The desk case runs only inside the lab that
// avahi_lab_test.sh builds (it starts this program there); the other cases start child runs of
// this program and never reach the machine's own bus or network.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "discovery/avahi_service_instances.hpp"
#include "discovery/lan_discovery.hpp"
#include "discovery/sleep_monitor.hpp"
#include "discovery_test_support.hpp"
#include "support/build_paths.hpp"
#include "support/child_process.hpp"
#include "support/dbus_mock.hpp"
#include "support/silent_bus.hpp"
#include "test_record.hpp"

namespace velk {
namespace {

constexpr int kChildTimeoutMs = 150'000;
// A child on a silent bus that has not ended by then is held by it.
constexpr int kSilentBusChildTimeoutMs = 30'000;
constexpr int kFindTimeoutMs = 30'000;
constexpr int kSkipStatus = 77;

using discovery_test::environment;
using discovery_test::EventLoop;

discovery_test::ChildRun runAvahiChild(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
    return discovery_test::runChild(program, arguments, env, kChildTimeoutMs);
}

QString thisProgramPath() { return QString::fromStdString(discovery_test::thisProgram()); }

const DiscoveredDevice* listedDevice(const LANDiscovery& discovery, const std::string& name) {
    for (const auto& device : discovery.devices()) {
        if (device.serviceName == name) return &device;
    }
    return nullptr;
}

// --- Services heard on several interfaces ---

TEST(AvahiServiceInstances, FoundOnFirstInstanceAndRemovedOnLast) {
    AvahiServiceInstances instances;
    const AvahiServiceInstances::Key phone{"Phone", "_velk-transfer._tcp.", "local."};
    const AvahiServiceInstances::Key other{"Phone", "_velk._tcp.", "local."};
    EXPECT_TRUE(instances.add(phone));
    EXPECT_FALSE(instances.add(phone));
    EXPECT_TRUE(instances.add(other));
    EXPECT_FALSE(instances.remove(phone));
    EXPECT_TRUE(instances.remove(phone));
    EXPECT_FALSE(instances.remove(phone)); // never more removals than instances
    EXPECT_TRUE(instances.add(phone));
    instances.clear();
    EXPECT_FALSE(instances.remove(other));
    EXPECT_TRUE(instances.add(other));
}

// --- The daemon played by python-dbusmock on a private bus ---

QDBusMessage avahiMockCall(const char* member, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Avahi", "/", "org.freedesktop.DBus.Mock", member);
    call.setArguments(arguments);
    return call;
}

TEST(AvahiBackendOnAPrivateBus, FollowsTheDaemonsStateAndKeepsBrowsingWhenTheBusGoes) {
    if (!environment("VELK_AVAHI_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    EventLoop loop;
    auto avahi = std::make_unique<test::DbusMock>(std::vector<std::string>{"org.freedesktop.Avahi", "/", "org.freedesktop.Avahi.Server"},
                                                  "org.freedesktop.Avahi", "avahi-mock");
    if (!avahi->ready) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
    avahi->call(avahiMockCall("AddMethod", {"org.freedesktop.Avahi.Server", "GetState", "", "i", "ret = 2"}));
    const auto stateChanged = [&](int state) {
        avahi->call(avahiMockCall("EmitSignal", {"org.freedesktop.Avahi.Server", "StateChanged", "is",
                                                 QVariantList{state, QString()}}));
    };
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(avahi->address.toStdString()));
    EXPECT_TRUE(loop.runUntil([&] { return discovery.isBrowsingAvailable(); }, kFindTimeoutMs)) << "running";
    stateChanged(4); // failure
    EXPECT_TRUE(loop.runUntil([&] { return !discovery.isBrowsingAvailable(); }, kFindTimeoutMs)) << "failed";
    stateChanged(1); // registering
    EXPECT_TRUE(loop.runUntil([&] { return discovery.isBrowsingAvailable(); }, kFindTimeoutMs)) << "registering";
    EXPECT_TRUE(discovery.isSearching());
    avahi.reset(); // the bus goes, and is not there when the backend tries again
    EXPECT_TRUE(loop.runUntil([&] { return !discovery.isBrowsingAvailable(); }, kFindTimeoutMs));
    loop.runFor(1500); // past the first attempt to connect again
    EXPECT_TRUE(discovery.isSearching()) << "browsing resumes when the bus returns";
}

// --- Run from the test suite ---

TEST(AvahiBackend, WithoutASystemBusTheBrowserStaysEmptyAndSaysSo) {
    if (!environment("VELK_AVAHI_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    EventLoop loop;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELK_AVAHI_LAB_ROLE", "no-bus");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.path() + "/no-such-bus");
    auto run = runAvahiChild(thisProgramPath(), {QString::fromStdString(test_record::filterFor({"AvahiNoBus"}))}, env);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
}

// Runs the cases of `suite` as a child run (`role`) whose system bus takes connections and never
// answers; it must end by itself, its cases passed.
void expectChildPassesOnASilentSystemBus(const QString& role, const std::string& suite) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const test::SilentBus silent(dir.filePath("silent-bus").toStdString());
    ASSERT_TRUE(silent.listening);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELK_AVAHI_LAB_ROLE", role);
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", QString::fromStdString(silent.address));
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.path() + "/no-session-bus");
    env.remove("DISPLAY");
    auto run = discovery_test::runChild(thisProgramPath(), {QString::fromStdString(test_record::filterFor({suite}))},
                                        env, kSilentBusChildTimeoutMs);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
}

TEST(AvahiBackend, ASilentSystemBusHoldsNeitherBrowsingNorTheSleepWatch) {
    if (!environment("VELK_AVAHI_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    EventLoop loop;
    expectChildPassesOnASilentSystemBus("silent-bus", "AvahiSilentBus");
}

TEST(AvahiBackend, ASilentSystemBusHoldsNoOtherBusOfQts) {
    if (!environment("VELK_AVAHI_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    EventLoop loop;
    expectChildPassesOnASilentSystemBus("silent-bus-qt", "AvahiSilentBusQt");
}

TEST(AvahiLab, FindsResolvesAndLosesPhoneAdvertisements) {
    if (!environment("VELK_AVAHI_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    const std::vector<std::string> deskSuites = {"AvahiLabDesk"};
    if (geteuid() != 0) VELK_SKIP_CHILD_RUN(deskSuites, "the network lab needs root");
    EventLoop loop;
    const QString script = QString::fromStdString(test::sourcePath("tests/discovery/avahi_lab_test.sh"));
    auto run = runAvahiChild("bash", {script, thisProgramPath()}, QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(run.finished) << run.output;
    if (run.status == kSkipStatus) VELK_SKIP_CHILD_RUN(deskSuites, run.output);
    EXPECT_EQ(run.status, 0) << run.output;
}

// --- Child runs ---

TEST(AvahiNoBus, StaysEmptyAndUnavailable) {
    if (environment("VELK_AVAHI_LAB_ROLE") != "no-bus") GTEST_SKIP() << "runs only as a child run";
    EventLoop loop;
    LANDiscovery discovery;
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_FALSE(discovery.isBrowsingAvailable());
    loop.runUntil([] { return false; }, 200);
    EXPECT_TRUE(discovery.devices().empty());
    discovery.restart();
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_TRUE(discovery.devices().empty());
}

TEST(AvahiSilentBus, NothingWaitsForIt) {
    if (environment("VELK_AVAHI_LAB_ROLE") != "silent-bus") GTEST_SKIP() << "runs only as a child run";
    EventLoop loop;
    const auto started = std::chrono::steady_clock::now();
    {
        LANDiscovery discovery;
        SleepMonitor sleep([] {});
        EXPECT_TRUE(discovery.isSearching());
        discovery.restart();
        loop.runFor(200);
        EXPECT_FALSE(discovery.isBrowsingAvailable());
        EXPECT_TRUE(discovery.devices().empty());
    }
    // Generous: a wait for the bus on this thread would last as long as the bus stays silent.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST(AvahiSilentBusQt, ABusQtConnectsToLaterAnswersAndCloses) {
    if (environment("VELK_AVAHI_LAB_ROLE") != "silent-bus-qt") GTEST_SKIP() << "runs only as a child run";
    EventLoop loop;
    const auto started = std::chrono::steady_clock::now();
    LANDiscovery discovery; // its backend waits for the silent system bus from here on
    loop.runFor(200);
    // A second bus that answers, as the screen reader's is when the accessibility bridge comes up
    // after the application has started.
    test::ChildProcess busDaemon({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, "", true);
    const std::optional<std::string> address = busDaemon.readLine(5000);
    ASSERT_TRUE(address) << "dbus-daemon did not start";
    {
        const QDBusConnection second = QDBusConnection::connectToBus(QString::fromStdString(*address), "second-bus");
        ASSERT_TRUE(second.isConnected());
        const QDBusMessage reply = second.call(
            QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId"),
            QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }
    QDBusConnection::disconnectFromBus("second-bus");
    EXPECT_FALSE(discovery.isBrowsingAvailable());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST(AvahiLabDesk, BrowsesResolvesAndRemoves) {
    if (environment("VELK_AVAHI_LAB_ROLE") != "desk") GTEST_SKIP() << "runs only inside the lab's desk";
    EventLoop loop;
    LANDiscovery discovery;
    // Counted as it happens: the lab starts the daemon again at once, so a busy machine can hand over
    // its end and its return in one turn of the loop, and the state alone would never be seen false.
    int endsNoticed = 0;
    QObject::connect(&discovery, &LANDiscovery::isBrowsingAvailableChanged, [&] {
        if (!discovery.isBrowsingAvailable()) ++endsNoticed;
    });
    EXPECT_TRUE(discovery.isSearching());
    // The desk's daemon is started only after this report.
    EXPECT_FALSE(discovery.isBrowsingAvailable());
    std::ofstream(environment("VELK_AVAHI_LAB_DIR") + "/desk-waiting") << "ready\n";

    ASSERT_TRUE(loop.runUntil([&] { return discovery.isBrowsingAvailable(); }, kFindTimeoutMs))
        << "the desk's daemon never became reachable";
    ASSERT_TRUE(loop.runUntil(
        [&] { return listedDevice(discovery, "Velk Phone One") && listedDevice(discovery, "Velk Legacy Two"); },
        kFindTimeoutMs))
        << "found " << discovery.devices().size() << " sources";

    const DiscoveredDevice& phone = *listedDevice(discovery, "Velk Phone One");
    EXPECT_EQ(phone.serviceType, "_velk-transfer._tcp.");
    EXPECT_EQ(phone.catalogURL, "https://velk-phone1.local:8443/velk/v1/catalog");
    EXPECT_EQ(phone.certificateSHA256, "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef");
    EXPECT_EQ(phone.sessionId, "session-1");
    EXPECT_EQ(phone.deviceId, "device-1"); // a repeated key keeps its first value
    EXPECT_TRUE(phone.foregroundOnly);
    EXPECT_EQ(phone.transferAccess, "open");
    EXPECT_EQ(phone.projectTrashVersion, "trash-v1");
    EXPECT_EQ(phone.pairPath, "/velk/v1/pair2");
    EXPECT_TRUE(phone.supportsOpenTransfer());
    EXPECT_EQ(discovery.resolvedAddress(phone), "10.77.0.11");

    const DiscoveredDevice& legacy = *listedDevice(discovery, "Velk Legacy Two");
    EXPECT_EQ(legacy.serviceType, "_velk._tcp.");
    EXPECT_EQ(legacy.catalogURL, "http://velk-phone2.local:8080/api/list");
    EXPECT_EQ(legacy.deviceId, "device-2");
    EXPECT_FALSE(legacy.sessionId);
    EXPECT_EQ(legacy.transferAccess, "paired");
    EXPECT_FALSE(legacy.supportsAuthenticatedTransfer());
    EXPECT_EQ(discovery.resolvedAddress(legacy), "10.77.0.12");

    // The phone withdraws its advertisement.
    const pid_t publisher = static_cast<pid_t>(std::atoi(environment("VELK_AVAHI_LAB_PUBLISHER_PID").c_str()));
    ASSERT_GT(publisher, 1);
    ASSERT_EQ(kill(publisher, SIGTERM), 0);
    EXPECT_TRUE(loop.runUntil([&] { return !listedDevice(discovery, "Velk Phone One"); }, kFindTimeoutMs))
        << "the withdrawn source stayed listed";
    EXPECT_TRUE(listedDevice(discovery, "Velk Legacy Two"));

    // A restart lists what is still advertised.
    discovery.restart();
    EXPECT_TRUE(discovery.devices().empty());
    EXPECT_TRUE(loop.runUntil([&] { return listedDevice(discovery, "Velk Legacy Two") != nullptr; }, kFindTimeoutMs));
    EXPECT_EQ(discovery.devices().size(), 1u);

    // The desk's daemon stops and comes back (the lab starts it again): browsing resumes.
    std::ifstream pidFile(environment("VELK_AVAHI_LAB_DIR") + "/desk/avahi.pid");
    pid_t daemon = 0;
    pidFile >> daemon;
    ASSERT_GT(daemon, 1);
    const int endsBefore = endsNoticed;
    ASSERT_EQ(kill(daemon, SIGTERM), 0);
    ASSERT_TRUE(loop.runUntil([&] { return endsNoticed > endsBefore; }, kFindTimeoutMs))
        << "the daemon's end was not noticed";
    EXPECT_TRUE(discovery.isSearching());
    discovery.restart();
    ASSERT_TRUE(loop.runUntil([&] { return discovery.isBrowsingAvailable(); }, kFindTimeoutMs))
        << "the daemon's return was not noticed";
    EXPECT_TRUE(loop.runUntil([&] { return listedDevice(discovery, "Velk Legacy Two") != nullptr; }, kFindTimeoutMs));
    EXPECT_EQ(discovery.devices().size(), 1u);
}

} // namespace
} // namespace velk

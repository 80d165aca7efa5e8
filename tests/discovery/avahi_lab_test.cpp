// The Avahi backend against real daemons. The desk case runs only inside the lab that
// avahi_lab_test.sh builds (it starts this program there); the other cases start child runs of
// this program and never reach the machine's own bus or network.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
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

// Beyond the lab script's own bounds on its steps and on the desk's run.
constexpr int kChildTimeoutMs = 480'000;
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

// The bus refuses to say who holds the daemon's name, then its policy changes: the backend asks
// again and finds the daemon.
TEST(AvahiBackendOnAPrivateBus, AsksAgainWhoHoldsTheDaemonsNameAfterARefusal) {
    if (!environment("VELK_AVAHI_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    EventLoop loop;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string config = dir.filePath("bus.conf").toStdString();
    const std::string log = dir.filePath("bus.log").toStdString();
    const auto writeConfig = [&](bool refusing) {
        std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=" << dir.path().toStdString()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                              << "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>"
                              << (refusing ? "<deny send_destination=\"org.freedesktop.DBus\" "
                                             "send_interface=\"org.freedesktop.DBus\" send_member=\"GetNameOwner\"/>"
                                           : "")
                              << "</policy></busconfig>\n";
    };
    writeConfig(true);
    test::DbusMock avahi({"org.freedesktop.Avahi", "/", "org.freedesktop.Avahi.Server"}, "org.freedesktop.Avahi",
                         "avahi-mock", config, log);
    if (!avahi.ready) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
    avahi.call(avahiMockCall("AddMethod", {"org.freedesktop.Avahi.Server", "GetState", "", "i", "ret = 2"}));
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(avahi.address.toStdString()));
    const auto refused = [&] { // the bus logs only its refusals here
        std::ostringstream text;
        text << std::ifstream(log).rdbuf();
        return text.str().find("member=\"GetNameOwner\"") != std::string::npos;
    };
    ASSERT_TRUE(loop.runUntil(refused, kFindTimeoutMs));
    writeConfig(false);
    avahi.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                              "ReloadConfig"));
    // Available only once the mock's GetState has answered: nothing here sends a StateChanged.
    EXPECT_TRUE(loop.runUntil([&] { return discovery.isBrowsingAvailable(); }, kFindTimeoutMs));
}

// The daemon, played by the mock, goes (its state fails) and returns. Its fresh browser object
// reports `reported`, and looking up a listed source it did not report gets that source's errors in
// `lookUpErrors` (one per look-up, the last one again from then on; "silent": no answer ever), or
// finds it. Once the list is `expected`, the object reports `late` found, then `leaving` removed, and
// the list must become `afterwards`.
struct DaemonGapCase {
    const char* name;
    std::vector<std::string> before;
    std::vector<std::string> reported;
    std::map<std::string, std::string> lookUpErrors;
    bool isAllForNow; // else the fresh object does not settle within the case
    std::set<std::string> expected;
    std::vector<std::string> late = {};
    std::vector<std::string> leaving = {};
    std::set<std::string> afterwards = {};
};

void PrintTo(const DaemonGapCase& row, std::ostream* out) { *out << row.name; }

class AvahiBackendGapOnAPrivateBus : public testing::TestWithParam<DaemonGapCase> {};

TEST_P(AvahiBackendGapOnAPrivateBus, ANewPhoneWaitsOnlyForAPlace) {
    if (!environment("VELK_AVAHI_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    const DaemonGapCase& row = GetParam();
    EventLoop loop;
    test::DbusMock avahi({"org.freedesktop.Avahi", "/", "org.freedesktop.Avahi.Server"}, "org.freedesktop.Avahi",
                         "avahi-mock");
    if (!avahi.ready) GTEST_SKIP() << "dbus-daemon or python3-dbusmock is missing";
    // The mock keeps the names resolved as a phone is (with its TXT and address), for WasResolved.
    std::string resolve = "self.resolvedNames = getattr(self, 'resolvedNames', set())\n"
                          "if not args[6]: self.resolvedNames.add(str(args[2]))\n"
                          "errors = {";
    for (const auto& [name, errors] : row.lookUpErrors) resolve += "'" + name + "': '" + errors + "'.split(), ";
    // A call whose method has reply callbacks is answered only through them: that is how it stays silent.
    resolve += "}\nmethod = self.methods['org.freedesktop.Avahi.Server']['ResolveService'][3]\n"
               "method._dbus_async_callbacks = None\n"
               "if args[6] and args[2] in errors:\n"
               "    self.asked = getattr(self, 'asked', {})\n"
               "    self.asked[args[2]] = self.asked.get(args[2], -1) + 1\n"
               "    error = errors[args[2]][min(self.asked[args[2]], len(errors[args[2]]) - 1)]\n"
               "    if error == 'silent': method._dbus_async_callbacks = ('reply', 'error')\n"
               "    else: raise dbus.exceptions.DBusException('', name=error)\n"
               "ret = (2, 0, args[2], args[3], args[4], 'phone.local', 0, '10.77.0.11', dbus.UInt16(8443), "
               "dbus.Array([], signature='ay'), dbus.UInt32(0))";
    for (const QVariantList& method : std::vector<QVariantList>{
             {"org.freedesktop.Avahi.Server", "GetState", "", "i", "ret = 2"},
             {"org.freedesktop.Avahi.Server2", "ServiceBrowserPrepare", "iissu", "o",
              "ret = dbus.ObjectPath('/Transfer' if args[2] == '_velk-transfer._tcp' else '/Legacy')\n"
              "if ret not in objects: self.AddObject(ret, 'org.freedesktop.Avahi.ServiceBrowser', {}, [])"},
             {"org.freedesktop.Avahi.Server", "ResolveService", "iisssiu", "iissssisqaayu",
              QString::fromStdString(resolve)},
             {"org.freedesktop.Avahi.Server", "WasResolved", "s", "b",
              "ret = str(args[0]) in getattr(self, 'resolvedNames', set())"}}) {
        avahi.call(avahiMockCall("AddMethod", method));
    }
    const auto mockSays = [&](const char* path, const char* interface, const char* member, const char* signature,
                              const QVariantList& arguments) {
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.freedesktop.Avahi", path, "org.freedesktop.DBus.Mock", "EmitSignal");
        call.setArguments({interface, member, signature, arguments});
        avahi.call(call);
    };
    // Said again until the list shows it: what the daemon's browser object says before the backend
    // has it is not heard, and an instance said twice is one service still (and removed as often).
    const auto browserReports = [&](const std::vector<std::string>& names, bool isAllForNow,
                                    const char* member = "ItemNew") {
        for (const std::string& name : names) {
            mockSays("/Transfer", "org.freedesktop.Avahi.ServiceBrowser", member, "iisssu",
                     {2, 0, QString::fromStdString(name), "_velk-transfer._tcp", "local", 0u});
        }
        if (isAllForNow) mockSays("/Transfer", "org.freedesktop.Avahi.ServiceBrowser", "AllForNow", "", {});
    };
    // Calls are bounded far beyond what a case waits for: only the daemon's own search time may end
    // a look-up's round without its answer.
    const AvahiDnsSdTiming timing{std::chrono::minutes(1), std::chrono::hours(1)};
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(avahi.address.toStdString(), timing));
    const auto listedBecomes = [&](const std::vector<std::string>& names, bool isAllForNow,
                                   const std::set<std::string>& expected, const char* member = "ItemNew") {
        return loop.runUntil([&] {
            browserReports(names, isAllForNow, member);
            std::set<std::string> listed;
            for (const auto& device : discovery.devices()) listed.insert(device.serviceName);
            return listed == expected;
        }, kFindTimeoutMs);
    };
    ASSERT_TRUE(listedBecomes(row.before, false, {row.before.begin(), row.before.end()}));
    mockSays("/", "org.freedesktop.Avahi.Server", "StateChanged", "is", {4, QString()}); // failure
    ASSERT_TRUE(loop.runUntil([&] { return !discovery.isBrowsingAvailable(); }, kFindTimeoutMs));
    mockSays("/", "org.freedesktop.Avahi.Server", "StateChanged", "is", {2, QString()}); // running
    // A started browser object reports what it knows before it says AllForNow. The mock says its
    // reports before the backend listens to the fresh object too, so they are said until the backend
    // has resolved each new phone, and only then with AllForNow.
    const auto newPhonesResolved = [&](const std::vector<std::string>& reported) {
        for (const std::string& name : reported) {
            if (std::find(row.before.begin(), row.before.end(), name) != row.before.end()) continue;
            QDBusMessage asked = QDBusMessage::createMethodCall("org.freedesktop.Avahi", "/",
                                                                "org.freedesktop.Avahi.Server", "WasResolved");
            asked.setArguments({QString::fromStdString(name)});
            const QDBusMessage reply = avahi.call(asked);
            if (reply.arguments().isEmpty() || !reply.arguments().front().toBool()) return false;
        }
        return true;
    };
    ASSERT_TRUE(loop.runUntil([&] {
        browserReports(row.reported, false);
        return newPhonesResolved(row.reported);
    }, kFindTimeoutMs));
    EXPECT_TRUE(listedBecomes(row.reported, row.isAllForNow, row.expected));
    if (row.leaving.empty()) return;
    ASSERT_TRUE(loop.runUntil([&] {
        browserReports(row.late, false);
        return newPhonesResolved(row.late);
    }, kFindTimeoutMs));
    EXPECT_TRUE(listedBecomes(row.leaving, false, row.afterwards, "ItemRemove"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AvahiBackendGapOnAPrivateBus,
    testing::Values(
        // A is gone and B new: B is listed without waiting for A's look-up, which never starts here.
        DaemonGapCase{"RoomForANewPhone", {"A"}, {"B"}, {}, false, {"A", "B"}},
        // Eight listed: 9 waits for a place, which 8 frees once the daemon cannot find it, while 7's
        // look-up is refused; 7 stays.
        DaemonGapCase{"FullListAndALookUpRefused",
                      {"1", "2", "3", "4", "5", "6", "7", "8"},
                      {"1", "2", "3", "4", "5", "6", "9"},
                      {{"7", "org.freedesktop.DBus.Error.AccessDenied"}, {"8", "org.freedesktop.Avahi.TimeoutError"}},
                      true,
                      {"1", "2", "3", "4", "5", "6", "7", "9"}},
        // 8's first look-up is refused and its round ends with 8 kept; its next finds it gone, and 9
        // takes the place.
        DaemonGapCase{"FullListAndALookUpRefusedThenNotFound",
                      {"1", "2", "3", "4", "5", "6", "7", "8"},
                      {"1", "2", "3", "4", "5", "6", "7", "9"},
                      {{"8", "org.freedesktop.DBus.Error.AccessDenied org.freedesktop.Avahi.TimeoutError"}},
                      true,
                      {"1", "2", "3", "4", "5", "6", "7", "9"}},
        // 8's look-up is never answered: it holds back neither 7's removal nor 9 taking its place.
        DaemonGapCase{"FullListAndALookUpNeverAnswered",
                      {"1", "2", "3", "4", "5", "6", "7", "8"},
                      {"1", "2", "3", "4", "5", "6", "9"},
                      {{"7", "org.freedesktop.Avahi.TimeoutError"}, {"8", "silent"}},
                      true,
                      {"1", "2", "3", "4", "5", "6", "8", "9"}},
        // Eight listed and reported again; 9 is reported only after AllForNow, so the full list leaves
        // it out; when 8 withdraws, 9 takes its place.
        DaemonGapCase{"FullListAndAPhoneReportedAfterAllForNow",
                      {"1", "2", "3", "4", "5", "6", "7", "8"},
                      {"1", "2", "3", "4", "5", "6", "7", "8"},
                      {},
                      true,
                      {"1", "2", "3", "4", "5", "6", "7", "8"},
                      {"9"},
                      {"8"},
                      {"1", "2", "3", "4", "5", "6", "7", "9"}}),
    [](const testing::TestParamInfo<DaemonGapCase>& row) { return std::string(row.param.name); });

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

// The desk's daemon or bus goes and comes back, or another program poses as the daemon: one lab
// rig (avahi_lab_test.sh with a case), one row per case, each its own lab, so they run side by side.
struct ReturnCase {
    const char* name;
    const char* labCase;
};

void PrintTo(const ReturnCase& row, std::ostream* out) { *out << row.name; }

class AvahiLabReturn : public testing::TestWithParam<ReturnCase> {};

TEST_P(AvahiLabReturn, TheListMatchesWhatTheDaemonHas) {
    if (!environment("VELK_AVAHI_LAB_ROLE").empty()) GTEST_SKIP() << "part of another run";
    const std::vector<std::string> deskSuites = {"AvahiLabReturns"};
    if (geteuid() != 0) VELK_SKIP_CHILD_RUN(deskSuites, "the network lab needs root");
    EventLoop loop;
    const QString script = QString::fromStdString(test::sourcePath("tests/discovery/avahi_lab_test.sh"));
    auto run = runAvahiChild("bash", {script, thisProgramPath(), GetParam().labCase},
                             QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(run.finished) << run.output;
    if (run.status == kSkipStatus) VELK_SKIP_CHILD_RUN(deskSuites, run.output);
    EXPECT_EQ(run.status, 0) << run.output;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("avahi lab figure:") != std::string::npos || line.find("avahi lab note:") != std::string::npos) {
            std::cout << line << '\n';
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AvahiLabReturn,
    testing::Values(ReturnCase{"DaemonBackWithAPhoneGone", "daemon-back-one-gone"},
                    ReturnCase{"DaemonBackWithAPhoneGoneAndOneNew", "daemon-back-one-gone-one-new"},
                    ReturnCase{"DaemonBackWithEightGoneAndOneNew", "daemon-back-eight-gone-one-new"},
                    ReturnCase{"DaemonBackFullAndGoneAgainInItsRound", "daemon-back-full-then-again"},
                    ReturnCase{"DaemonBackThriceWithSixtyPhones", "sixty-phones"},
                    ReturnCase{"NinthRepublishedTakesAFreedPlace", "ninth-republished"},
                    ReturnCase{"BusBackAfter2s", "bus-back-2"}, ReturnCase{"BusBackAfter40s", "bus-back-40"},
                    ReturnCase{"DaemonStoppedPastTheAnswerTimeOut", "daemon-stopped"},
                    ReturnCase{"SignalsPosingAsTheDaemon", "posing"},
                    ReturnCase{"DaemonBackWithAPhoneRepublishedDuringTheGap", "republished"},
                    ReturnCase{"DaemonBackWithAPhoneResolvingWhenItWent", "resolving"},
                    ReturnCase{"DaemonBackWithAPhoneThatAnswersLate", "slow-phone"},
                    ReturnCase{"DaemonStoppedWhileItSettles", "daemon-stopped-while-settling"}),
    [](const testing::TestParamInfo<ReturnCase>& row) { return std::string(row.param.name); });

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

// --- The desk's side of AvahiLabReturn ---

// Beyond the lab script's bounds on each of its steps, which fail the case themselves.
constexpr int kLabRequestTimeoutMs = 240'000;
// The answer time-out of the product is 25 s; the lab's cases use a short one.
const AvahiDnsSdTiming kLabTiming{std::chrono::seconds(2), std::chrono::seconds(5)};

// Has the lab script change the lab (see avahi_lab_test.sh) and waits until it has, serving the
// event loop meanwhile.
class LabRequests {
public:
    explicit LabRequests(EventLoop& loop) : m_loop(loop), m_folder(environment("VELK_AVAHI_LAB_DIR")) {}

    void operator()(const std::string& request) {
        const int number = ++m_sent;
        std::ofstream(m_folder + "/requests", std::ios::app) << number << ' ' << request << '\n' << std::flush;
        ASSERT_TRUE(m_loop.runUntil([&] { return handled() >= number; }, kLabRequestTimeoutMs)) << request;
        if (request == "daemon-start") lastDaemonStart = std::chrono::steady_clock::now();
    }

    // The names of the transfer sources that avahi-browse on the desk resolves now.
    std::set<std::string> reference() {
        (*this)("reference");
        std::ifstream lines(m_folder + "/desk/reference.txt");
        std::set<std::string> names;
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line); // =;eth0;IPv4;NAME;TYPE;...
            std::vector<std::string> field(4);
            for (auto& part : field) std::getline(fields, part, ';');
            if (field[0] == "=") names.insert(field[3]);
        }
        return names;
    }

    std::chrono::steady_clock::time_point lastDaemonStart;

private:
    int handled() const {
        std::ifstream done(m_folder + "/done");
        int count = 0;
        for (std::string line; std::getline(done, line);) ++count;
        return count;
    }

    EventLoop& m_loop;
    std::string m_folder;
    int m_sent = 0;
};

std::set<std::string> listedNames(const LANDiscovery& discovery) {
    std::set<std::string> names;
    for (const auto& device : discovery.devices()) names.insert(device.serviceName);
    return names;
}

std::string namesText(const std::set<std::string>& names) {
    std::string text = "[";
    for (const auto& name : names) text += (text.size() > 1 ? " " : "") + name;
    return text + "]";
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each card as the Collect sheet shows it: name, catalog URL, session, fingerprint and access.
std::set<std::string> listedCards(const LANDiscovery& discovery) {
    std::set<std::string> cards;
    for (const auto& device : discovery.devices()) {
        cards.insert(device.serviceName + " " + device.catalogURL + " " + device.sessionId.value_or("-") + " " +
                     device.certificateSHA256.value_or("-").substr(0, 8) + " " + device.transferAccess);
    }
    return cards;
}

// Waits until the list (its names, or what `view` shows of it) is `expected`, and says how long
// that took from `start` and what was listed.
bool listBecomes(EventLoop& loop, const LANDiscovery& discovery, const std::set<std::string>& expected,
                 std::chrono::steady_clock::time_point start, int timeoutMs, const std::string& what,
                 std::set<std::string> (*view)(const LANDiscovery&) = listedNames) {
    const bool matched = loop.runUntil([&] { return view(discovery) == expected; }, timeoutMs);
    std::cout << "avahi lab figure: " << what << ": listed " << namesText(view(discovery)) << ", expected "
              << namesText(expected) << (matched ? ", matched after " : ", not matched within ")
              << (matched ? secondsSince(start) : timeoutMs / 1000.0) << " s" << std::endl;
    return matched;
}

// The cards of sources still published must stay listed through a gap, not blink off and on; says
// when one left, counted from `back`.
struct BlinkWatch {
    BlinkWatch(const LANDiscovery& discovery, std::set<std::string> staying) : staying(std::move(staying)) {
        QObject::connect(&discovery, &LANDiscovery::devicesChanged, [this, &discovery] {
            for (const auto& name : this->staying) {
                if (listedNames(discovery).contains(name) || !blinked.insert(name).second) continue;
                std::cout << "avahi lab figure: " << name << " left the list " << secondsSince(back)
                          << " s after the return" << std::endl;
            }
        });
    }
    std::set<std::string> staying;
    std::set<std::string> blinked;
    std::chrono::steady_clock::time_point back = std::chrono::steady_clock::now();
};

// Publishes `names`, starts browsing and waits until they are listed.
// A source whose first answer takes longer than its resolution's 5 s stays unlisted until it is
// found again, as by Scan Again; on a loaded machine that can happen while the cases set up, which is
// not what they are about, so the set-up scans again then, and says so.
void publishAndList(EventLoop& loop, LabRequests& lab, LANDiscovery& discovery, const std::set<std::string>& names) {
    for (const auto& name : names) lab("publish " + name);
    const auto listed = [&] { return listedNames(discovery) == names; };
    for (int scans = 0; !loop.runUntil(listed, kFindTimeoutMs / 2); ++scans) {
        ASSERT_LT(scans, 2) << namesText(listedNames(discovery));
        std::cout << "avahi lab note: listed " << namesText(listedNames(discovery)) << " while setting up; Scan Again"
                  << std::endl;
        discovery.restart();
    }
}

// A request to the lab made this long after the daemon's return.
struct LateRequest {
    int afterMs;
    std::string request;
};

// The desk's daemon goes for `gapMs` from its TERM, while the lab does `during`, and each of `late`
// is done at its time after the return; the list, as `view` shows it, must then become `expected`,
// and no source listed before that it names may leave the list meanwhile.
void daemonAway(EventLoop& loop, LabRequests& lab, const LANDiscovery& discovery, int gapMs,
                const std::vector<std::string>& during, const std::set<std::string>& expected,
                std::set<std::string> (*view)(const LANDiscovery&), const std::vector<LateRequest>& late = {},
                std::chrono::steady_clock::time_point* returnedAt = nullptr) {
    std::set<std::string> staying;
    for (const auto& shown : expected) {
        const std::string name = shown.substr(0, shown.find(' '));
        if (listedNames(discovery).contains(name)) staying.insert(name);
    }
    BlinkWatch blinks(discovery, staying);
    lab("daemon-stop");
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(loop.runUntil([&] { return !discovery.isBrowsingAvailable(); }, kFindTimeoutMs));
    for (const auto& request : during) lab(request);
    loop.runFor(std::max(0, gapMs - static_cast<int>(secondsSince(stopped) * 1000)));
    lab("daemon-start");
    blinks.back = std::chrono::steady_clock::now();
    if (returnedAt) *returnedAt = blinks.back;
    for (const auto& [afterMs, request] : late) {
        loop.runFor(std::max(0, afterMs - static_cast<int>(secondsSince(blinks.back) * 1000)));
        lab(request);
    }
    EXPECT_TRUE(listBecomes(loop, discovery, expected, blinks.back, 20'000, "after the daemon's return", view));
    EXPECT_TRUE(blinks.blinked.empty()) << namesText(blinks.blinked);
    EXPECT_TRUE(discovery.isSearching());
}

// The daemon stops, `gone` are withdrawn and `added` published meanwhile, and it starts again. With
// room for them, the added sources are listed before the daemon has finished looking for the gone
// ones, that is, while those are still listed.
void daemonBack(EventLoop& loop, LabRequests& lab, const std::set<std::string>& before,
                const std::set<std::string>& gone, const std::set<std::string>& added, int gapMs = 6000,
                const std::vector<LateRequest>& late = {}) {
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    publishAndList(loop, lab, discovery, before);
    std::vector<std::string> during;
    for (const auto& name : gone) during.push_back("withdraw " + name);
    for (const auto& name : added) during.push_back("publish " + name);
    std::set<std::string> expected = added;
    for (const auto& name : before) {
        if (!gone.contains(name)) expected.insert(name);
    }
    struct Arrival {
        std::chrono::steady_clock::time_point at;
        bool isBeforeTheRemovals;
    };
    std::map<std::string, Arrival> arrivals;
    std::set<std::string> removed;
    QObject::connect(&discovery, &LANDiscovery::devicesChanged, [&] {
        const std::set<std::string> listed = listedNames(discovery);
        for (const auto& name : gone) {
            if (listed.contains(name) || !removed.insert(name).second) continue;
            std::cout << "avahi lab figure: " << name << " removed " << secondsSince(lab.lastDaemonStart)
                      << " s after the last return" << std::endl;
        }
        for (const auto& name : added) {
            if (!listed.contains(name) || arrivals.contains(name)) continue;
            const bool isBeforeTheRemovals = std::includes(listed.begin(), listed.end(), before.begin(), before.end());
            arrivals[name] = {std::chrono::steady_clock::now(), isBeforeTheRemovals};
        }
    });
    std::chrono::steady_clock::time_point back;
    daemonAway(loop, lab, discovery, gapMs, during, expected, listedNames, late, &back);
    const bool hasRoom = before.size() + added.size() <= LANDiscovery::maximumTransferSources;
    for (const auto& [name, arrival] : arrivals) {
        std::cout << "avahi lab figure: " << name << " listed "
                  << std::chrono::duration<double>(arrival.at - back).count() << " s after the return ("
                  << std::chrono::duration<double>(arrival.at - lab.lastDaemonStart).count() << " s after the last), "
                  << (arrival.isBeforeTheRemovals ? "before" : "after") << " the removals" << std::endl;
        EXPECT_TRUE(arrival.isBeforeTheRemovals || !hasRoom) << name;
    }
}

// Sixty phones, eight listed; the daemon stops, six listed phones withdraw and three new ones
// publish, and the daemon returns three times 3 s apart, inside its look-up rounds: eight phones
// still published are then listed, as avahi-browse has them.
void sixtyPhones(EventLoop& loop, LabRequests& lab) {
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    lab("publish-many Phone- 1 60");
    const auto full = [&] { return discovery.devices().size() == LANDiscovery::maximumTransferSources; };
    ASSERT_TRUE(loop.runUntil(full, kFindTimeoutMs));
    // One of the eight withdraws, and one of the 52 others takes its place.
    std::set<std::string> withdrawn = {*listedNames(discovery).begin()};
    lab("withdraw " + *withdrawn.begin());
    ASSERT_TRUE(loop.runUntil([&] { return full() && !listedNames(discovery).contains(*withdrawn.begin()); },
                              kFindTimeoutMs));
    std::vector<std::string> during;
    for (const auto& name : listedNames(discovery)) {
        if (withdrawn.size() < 6 && withdrawn.insert(name).second) during.push_back("withdraw " + name);
    }
    for (const char* name : {"New-1", "New-2", "New-3"}) during.push_back("publish " + std::string(name));
    lab("daemon-stop");
    ASSERT_TRUE(loop.runUntil([&] { return !discovery.isBrowsingAvailable(); }, kFindTimeoutMs));
    for (const auto& request : during) lab(request);
    lab("daemon-start");
    for (int restart = 0; restart < 2; ++restart) {
        loop.runFor(std::max(0, 3000 - static_cast<int>(secondsSince(lab.lastDaemonStart) * 1000)));
        lab("daemon-stop");
        lab("daemon-start");
    }
    const auto published = [&] {
        const std::set<std::string> listed = listedNames(discovery);
        return full() && std::none_of(listed.begin(), listed.end(), [&](auto& name) { return withdrawn.contains(name); });
    };
    const bool matched = loop.runUntil(published, 20'000);
    const std::set<std::string> reference = lab.reference();
    std::cout << "avahi lab figure: " << discovery.devices().size() << " cards " << namesText(listedNames(discovery))
              << (matched ? ", all published, " : ", not all published, ") << secondsSince(lab.lastDaemonStart)
              << " s after the last return; avahi-browse resolves " << reference.size() << std::endl;
    EXPECT_TRUE(matched);
    for (const auto& name : listedNames(discovery)) EXPECT_TRUE(reference.contains(name)) << name;
}

// Eight listed; a ninth is published, which the full list leaves out, and publishes again on another
// port and session; when one of the eight withdraws, the ninth takes its place as it publishes now.
void ninthRepublished(EventLoop& loop, LabRequests& lab) {
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    publishAndList(loop, lab, discovery, {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8"});
    lab("publish Ninth 8443 sessionId=s-old");
    ASSERT_TRUE(lab.reference().contains("Ninth")); // the desk's daemon, and so the list, heard of it
    lab("withdraw Ninth");
    lab("publish Ninth 9443 sessionId=s-new");
    ASSERT_TRUE(lab.reference().contains("Ninth"));
    EXPECT_FALSE(listedNames(discovery).contains("Ninth"));
    std::set<std::string> expected = listedCards(discovery);
    expected.erase("P8 https://velk-phone1.local:8443/velk/v1/catalog - - paired");
    expected.insert("Ninth https://velk-phone1.local:9443/velk/v1/catalog s-new - paired");
    const auto withdrawing = std::chrono::steady_clock::now();
    lab("withdraw P8");
    EXPECT_TRUE(listBecomes(loop, discovery, expected, withdrawing, 5'000, "after P8 withdrew", listedCards));
}

// A phone publishes again with a new port, fingerprint and session and no longer open while the
// daemon is away.
void republishedDuringTheGap(EventLoop& loop, LabRequests& lab) {
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    lab("publish Cam 8443 fp=" + std::string(64, 'a') + " sessionId=s-old access=open");
    ASSERT_TRUE(loop.runUntil([&] { return !discovery.devices().empty(); }, kFindTimeoutMs));
    EXPECT_EQ(*listedCards(discovery).begin(), "Cam https://velk-phone1.local:8443/velk/v1/catalog s-old aaaaaaaa open");
    daemonAway(loop, lab, discovery, 3500,
               {"withdraw Cam", "publish Cam 9443 fp=" + std::string(64, 'b') + " sessionId=s-new"},
               {"Cam https://velk-phone1.local:9443/velk/v1/catalog s-new bbbbbbbb paired"}, listedCards);
}

// A phone whose host has no address yet is still being resolved when the daemon goes; the host
// gets its address during the gap.
void resolvingDuringTheGap(EventLoop& loop, LabRequests& lab) {
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    lab("publish-hostless Slow slow.local");
    loop.runFor(1500);
    EXPECT_TRUE(discovery.devices().empty());
    daemonAway(loop, lab, discovery, 2500, {"address slow.local"},
               {"Slow https://slow.local:8443/velk/v1/catalog - - paired"}, listedCards);
}

// A phone publishes a new session during the gap, and its own daemon is stopped until `late` has it
// go on, so its answers come late.
void slowPhone(EventLoop& loop, LabRequests& lab, const std::vector<LateRequest>& late) {
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    publishAndList(loop, lab, discovery, {"Phone-A"});
    daemonAway(loop, lab, discovery, 3500, {"withdraw Phone-A", "publish Phone-A 8443 sessionId=s-new", "phone-pause"},
               {"Phone-A https://velk-phone1.local:8443/velk/v1/catalog s-new - paired"}, listedCards, late);
}

// The bus (and the daemon with it) goes for `gapMs`; a source published after its return appears.
void busBack(EventLoop& loop, LabRequests& lab, int gapMs) {
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    publishAndList(loop, lab, discovery, {"Phone-A"});
    BlinkWatch blinks(discovery, {"Phone-A"}); // Phone-A stays published, and listed, throughout
    lab("bus-stop");
    ASSERT_TRUE(loop.runUntil([&] { return !discovery.isBrowsingAvailable(); }, kFindTimeoutMs));
    loop.runFor(gapMs);
    EXPECT_TRUE(discovery.isSearching());
    lab("bus-start");
    lab("daemon-start");
    blinks.back = std::chrono::steady_clock::now();
    lab("publish Phone-C");
    // The bus is tried again as soon as its socket is back, whatever pause the gap had grown to.
    EXPECT_TRUE(listBecomes(loop, discovery, {"Phone-A", "Phone-C"}, blinks.back, 10'000, "after the bus's return"));
    EXPECT_TRUE(discovery.isSearching());
    EXPECT_TRUE(blinks.blinked.empty());
}

// The daemon holds its name but does not answer for longer than the answer time-out, then goes on;
// then the same while the list is browsed again (Scan Again), which is done again as it goes on.
void daemonStopped(EventLoop& loop, LabRequests& lab) {
    const int stoppedMs = static_cast<int>(kLabTiming.answerTimeout.count()) + 3000;
    lab("publish Phone-A");
    lab("daemon-pause");
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    loop.runFor(stoppedMs);
    EXPECT_TRUE(discovery.devices().empty());
    lab("daemon-continue");
    const auto continued = std::chrono::steady_clock::now();
    EXPECT_TRUE(listBecomes(loop, discovery, {"Phone-A"}, continued, 15'000, "after the daemon went on"));

    lab("daemon-pause");
    discovery.restart();
    loop.runFor(2 * stoppedMs);
    EXPECT_TRUE(discovery.devices().empty());
    lab("daemon-continue");
    discovery.restart();
    const auto scanAgain = std::chrono::steady_clock::now();
    EXPECT_TRUE(listBecomes(loop, discovery, {"Phone-A"}, scanAgain, 2'000, "after Scan Again"));
}

// Another connection sends the signals the daemon and the bus would send when the daemon stops.
void posing(EventLoop& loop, LabRequests& lab) {
    LANDiscovery discovery(true, makeAvahiDnsSdBackend(std::nullopt, kLabTiming));
    publishAndList(loop, lab, discovery, {"Phone-A"});
    int availabilityChanges = 0;
    QObject::connect(&discovery, &LANDiscovery::isBrowsingAvailableChanged, [&] { ++availabilityChanges; });

    QDBusConnection poser = QDBusConnection::connectToBus(QString::fromStdString(environment("DBUS_SYSTEM_BUS_ADDRESS")),
                                                          "poser");
    ASSERT_TRUE(poser.isConnected());
    QString application; // the backend's connection: this process's other one
    for (const QString& name : poser.interface()->registeredServiceNames().value()) {
        if (!name.startsWith(':') || name == poser.baseService()) continue;
        if (poser.interface()->servicePid(name).value() == static_cast<uint>(getpid())) application = name;
    }
    ASSERT_FALSE(application.isEmpty());
    const QString daemon = poser.interface()->serviceOwner("org.freedesktop.Avahi").value();
    QDBusMessage failed =
        QDBusMessage::createTargetedSignal(application, "/", "org.freedesktop.Avahi.Server", "StateChanged");
    failed.setArguments({4, QString()});
    QDBusMessage left = QDBusMessage::createTargetedSignal(application, "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                           "NameOwnerChanged");
    left.setArguments({QString("org.freedesktop.Avahi"), daemon, QString()});
    EXPECT_TRUE(poser.send(failed));
    EXPECT_TRUE(poser.send(left));
    loop.runFor(2000);
    QDBusConnection::disconnectFromBus("poser");
    EXPECT_EQ(availabilityChanges, 0);
    EXPECT_TRUE(discovery.isBrowsingAvailable());
    EXPECT_EQ(listedNames(discovery), std::set<std::string>{"Phone-A"});
}

TEST(AvahiLabReturns, TheListMatchesWhatTheDaemonHas) {
    if (environment("VELK_AVAHI_LAB_ROLE") != "desk-returns") GTEST_SKIP() << "runs only inside the lab's desk";
    EventLoop loop;
    LabRequests lab(loop);
    const std::string labCase = environment("VELK_AVAHI_LAB_CASE");
    std::cout << "avahi lab figure: case " << labCase << std::endl;
    if (labCase == "daemon-back-one-gone") {
        daemonBack(loop, lab, {"Phone-A", "Phone-B"}, {"Phone-B"}, {});
    } else if (labCase == "daemon-back-one-gone-one-new") {
        daemonBack(loop, lab, {"Phone-A"}, {"Phone-A"}, {"Phone-B"});
    } else if (labCase == "daemon-back-eight-gone-one-new") {
        const std::set<std::string> eight = {"Phone-1", "Phone-2", "Phone-3", "Phone-4",
                                             "Phone-5", "Phone-6", "Phone-7", "Phone-8"};
        daemonBack(loop, lab, eight, eight, {"Phone-9"});
    } else if (labCase == "daemon-back-full-then-again") {
        // The daemon returns after 3 s and goes again 2 s later, for 0.6 s, inside its look-up round.
        daemonBack(loop, lab, {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8"}, {"P8"}, {"New"}, 3000,
                   {{2000, "daemon-stop"}, {2600, "daemon-start"}});
        std::cout << "avahi lab figure: avahi-browse resolves " << namesText(lab.reference()) << std::endl;
    } else if (labCase == "ninth-republished") {
        ninthRepublished(loop, lab);
    } else if (labCase == "sixty-phones") {
        sixtyPhones(loop, lab);
    } else if (labCase == "bus-back-2") {
        busBack(loop, lab, 2000);
    } else if (labCase == "bus-back-40") {
        busBack(loop, lab, 40'000);
    } else if (labCase == "daemon-stopped") {
        daemonStopped(loop, lab);
    } else if (labCase == "posing") {
        posing(loop, lab);
    } else if (labCase == "republished") {
        republishedDuringTheGap(loop, lab);
    } else if (labCase == "resolving") {
        resolvingDuringTheGap(loop, lab);
    } else if (labCase == "slow-phone") {
        slowPhone(loop, lab, {{2700, "phone-continue"}});
    } else if (labCase == "daemon-stopped-while-settling") {
        // Stopped while it looks for the late phone, for far longer than any look-up may take.
        slowPhone(loop, lab, {{2000, "daemon-pause"}, {16'000, "phone-continue"}, {16'000, "daemon-continue"}});
    } else {
        FAIL() << "unknown case " << labCase;
    }
}

} // namespace
} // namespace velk

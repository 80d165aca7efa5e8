// End-to-end runs of the live camera channel against simulated phone cameras (tests/sim), each in
// its own namespace of the project's network lab. The LiveCameraLabDesk cases run only as a child
// run of this program in the lab's desk, which the first case starts through scripts/lab.

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "base/uuid.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "live_camera_test_support.hpp"
#include "support/build_paths.hpp"
#include "support/child_process.hpp"
#include "test_record.hpp"

namespace velk {
namespace {

using namespace live_test;


std::string actionOf(const Json& message) {
    if (!message.is_object()) return {};
    auto payload = message.find("payload");
    if (payload == message.end() || !payload->is_object()) return {};
    auto action = payload->find("action");
    return action != payload->end() && action->is_string() ? action->get<std::string>() : std::string();
}
constexpr int kListMs = 10'000;

TEST(LiveCameraLab, EndToEndWithSimulatedCameras) {
    if (!role().empty()) GTEST_SKIP() << "part of another run";
    const std::vector<std::string> deskSuites = {"LiveCameraLabDesk"};
    if (geteuid() != 0) VELK_SKIP_CHILD_RUN(deskSuites, "the network lab needs root");
    EventLoop loop;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELK_LIVE_CHANNEL_ROLE", "lab-desk");
    auto run = runChild(QString::fromStdString(test::sourcePath("scripts/lab")),
                        {"run", "--phones", "4", "--", QString::fromStdString(thisProgram()),
                         QString::fromStdString(test_record::filterFor(deskSuites))},
                        env, 240'000);
    ASSERT_TRUE(run.finished) << run.output;
    if (run.status == 77) VELK_SKIP_CHILD_RUN(deskSuites, run.output);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("[  FAILED  ]"), std::string::npos) << run.output;
}

// Simulated cameras in the lab's phone namespaces; stopped when this goes away.
class SimCameras {
public:
    SimCameras() { m_logs.setAutoRemove(true); }

    static std::string phoneAddress(int phone) { return "10.77.0." + std::to_string(10 + phone); }

    void start(int phone, const std::string& id, const std::string& name, QStringList extra = {}) {
        std::vector<std::string> argv = {environment("VELK_LAB_SCRIPT"),
                                         "exec",
                                         environment("VELK_LAB"),
                                         "phone" + std::to_string(phone),
                                         "--",
                                         "/usr/bin/python3",
                                         test::sourcePath("tests/sim/sim_camera.py"),
                                         "--id",
                                         id,
                                         "--name",
                                         name,
                                         "--address",
                                         phoneAddress(phone),
                                         "--desk",
                                         environment("VELK_LAB_DESK"),
                                         "--log",
                                         logPath(phone).toStdString()};
        for (const QString& argument : extra) argv.push_back(argument.toStdString());
        m_processes.push_back(std::make_unique<test::ChildProcess>(argv, ""));
    }

    QString logPath(int phone) const { return m_logs.path() + QStringLiteral("/phone%1.log").arg(phone); }

    // The JSON lines the camera logged (what reached it and what it sent).
    std::vector<Json> log(int phone) const {
        std::vector<Json> entries;
        QFile file(logPath(phone));
        if (!file.open(QIODevice::ReadOnly)) return entries;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (auto value = json::tryParse(line.toStdString())) entries.push_back(*value);
        return entries;
    }

private:
    QTemporaryDir m_logs;
    std::vector<std::unique_ptr<test::ChildProcess>> m_processes; // stopped (TERM, then KILL) when destroyed
};

class LiveCameraLabDesk : public testing::Test {
protected:
    void SetUp() override {
        if (role() != "lab-desk") GTEST_SKIP() << "runs only inside the lab's desk";
    }

    std::unique_ptr<LiveCameraDiscovery> makeChannel(int transferLifetimeMs = 30000) {
        LiveCameraDiscovery::Options options;
        options.watchSleep = false;
        options.transferRequestLifetimeMs = transferLifetimeMs;
        auto channel = std::make_unique<LiveCameraDiscovery>(options, true, std::vector<LiveCamera>{});
        EXPECT_TRUE(loop.runUntil([&] { return channel->isListening(); }, kListMs));
        return channel;
    }

    bool awaitListed(const LiveCameraDiscovery& channel, const std::vector<std::string>& ids, int timeoutMs = kListMs) {
        return loop.runUntil(
            [&] {
                for (const std::string& id : ids)
                    if (!listed(channel, id)) return false;
                return true;
            },
            timeoutMs);
    }

    static DirectorTakeAssignment assignment(const std::string& take, const std::string& reference) {
        return {take, "2d0c4b2e-3f41-4a55-9b6e-7c8d9e0f1a2b", "Lab Project", 1, "2026-01-02T03:04:05Z", reference,
                "30/1"};
    }

    bool awaitPhase(const LiveCameraDiscovery& channel, DirectorRecordingPhase phase, int timeoutMs) {
        return loop.runUntil([&] { return channel.recordingStatus().phase == phase; }, timeoutMs);
    }

    EventLoop loop;
    SimCameras sims;
};

TEST_F(LiveCameraLabDesk, CamerasAppearWithTheirFieldsAndTheGroupIsJoinedOnTheLabInterfaceOnly) {
    sims.start(1, "cam-beta", "Beta");
    sims.start(2, "cam-alpha", "alpha");
    auto channel = makeChannel();
    ASSERT_TRUE(awaitListed(*channel, {"cam-alpha", "cam-beta"}));
    ASSERT_EQ(channel->cameras().size(), 2u);
    EXPECT_EQ(channel->cameras()[0].id, "cam-alpha");
    EXPECT_EQ(channel->cameras()[1].id, "cam-beta");
    const LiveCamera& beta = *listed(*channel, "cam-beta");
    EXPECT_EQ(beta.host, "10.77.0.11");
    EXPECT_EQ(beta.name, "Beta");
    EXPECT_EQ(beta.role, "CAMERA");
    EXPECT_EQ(beta.battery, 80);
    EXPECT_EQ(beta.freeGB, 12.5);
    EXPECT_EQ(beta.leftDB, -20.0);
    EXPECT_EQ(beta.channels, 2);
    EXPECT_EQ(beta.quality, "4K");
    EXPECT_EQ(beta.aspect, "16:9");
    EXPECT_TRUE(beta.remoteControl);
    EXPECT_TRUE(beta.cameraReady);
    EXPECT_EQ(beta.syncVersion, 1);
    EXPECT_TRUE(beta.previewCapabilities.supportsPersistentJPEG());
    EXPECT_EQ(beta.previewCapabilities.wifiBandGHz, 5.0);
    ASSERT_TRUE(beta.sourceSessionID);
    EXPECT_TRUE(uuid::isValid(*beta.sourceSessionID));
    EXPECT_TRUE(beta.canPrepareRecording(std::chrono::system_clock::now()));
    EXPECT_EQ(listed(*channel, "cam-alpha")->host, "10.77.0.12");

    EXPECT_TRUE(igmpGroupOn("eth0"));
    EXPECT_FALSE(igmpGroupOn("lo"));
    EXPECT_EQ(channel->pairingHost(), "10.77.0.1");
}

TEST_F(LiveCameraLabDesk, ACameraSilentOnUdpIsFoundByTheActiveScan) {
    sims.start(1, "cam-zero", "Zero", {"--udp-silent", "--probe", "len0"});
    sims.start(2, "cam-short", "Short", {"--udp-silent", "--probe", "short"});
    sims.start(3, "cam-quiet", "Quiet", {"--udp-silent"});
    sims.start(4, "cam-oversize", "Oversize", {"--udp-silent", "--probe", "len8193"});
    auto channel = makeChannel();
    bool sawScanning = false;
    QObject::connect(channel.get(), &LiveCameraDiscovery::isActiveScanningChanged,
                     [&] { sawScanning = sawScanning || channel->isActiveScanning(); });
    ASSERT_TRUE(awaitListed(*channel, {"cam-quiet"}, 15'000));
    EXPECT_TRUE(sawScanning);
    EXPECT_EQ(listed(*channel, "cam-quiet")->host, "10.77.0.13");
    // Cameras that answer the probe badly were probed earlier in the sweep and stay unlisted.
    for (int phone = 1; phone <= 3; ++phone) {
        bool probed = false;
        for (const Json& entry : sims.log(phone)) probed = probed || entry.value("event", "") == "probe";
        EXPECT_TRUE(probed) << "phone " << phone;
    }
    EXPECT_FALSE(listed(*channel, "cam-zero"));
    EXPECT_FALSE(listed(*channel, "cam-short"));
    ASSERT_TRUE(loop.runUntil(
        [&] {
            for (const Json& entry : sims.log(4))
                if (entry.value("event", "") == "probe") return true;
            return false;
        },
        kListMs));
    loop.runFor(1000);
    EXPECT_FALSE(listed(*channel, "cam-oversize"));
    EXPECT_EQ(channel->cameras().size(), 1u);
}

TEST_F(LiveCameraLabDesk, ReorderedDuplicatedAndStaleSnapshotsAreFiltered) {
    sims.start(1, "cam-messy", "Messy", {"--reorder", "--stale", "--duplicates", "--echo-seq", "--rate", "5"});
    sims.start(2, "cam-restarts", "Restarts", {"--restart-every", "4", "--rate", "5"});
    sims.start(3, "cam-legacy", "Legacy", {"--legacy", "--rate", "4"});
    auto channel = makeChannel();
    std::vector<long> sequences;
    std::set<std::string> sessions;
    QObject::connect(channel.get(), &LiveCameraDiscovery::camerasChanged, [&] {
        if (const LiveCamera* messy = listed(*channel, "cam-messy")) {
            if (messy->quality.rfind("seq-", 0) == 0) {
                long sequence = std::stol(messy->quality.substr(4));
                if (sequences.empty() || sequences.back() != sequence) sequences.push_back(sequence);
            }
        }
        if (const LiveCamera* restarts = listed(*channel, "cam-restarts"); restarts && restarts->sourceSessionID)
            sessions.insert(*restarts->sourceSessionID);
    });
    loop.runFor(4000);
    ASSERT_GE(sequences.size(), 5u);
    for (std::size_t i = 1; i < sequences.size(); ++i) EXPECT_GT(sequences[i], sequences[i - 1]) << i;
    EXPECT_GE(sessions.size(), 2u) << "a restarted camera moves to its new session";
    std::size_t restartEntries = 0;
    for (const LiveCamera& camera : channel->cameras()) restartEntries += camera.id == "cam-restarts";
    EXPECT_EQ(restartEntries, 1u);
    ASSERT_TRUE(listed(*channel, "cam-legacy"));
    EXPECT_FALSE(listed(*channel, "cam-legacy")->sourceSessionID);
}

TEST_F(LiveCameraLabDesk, AWholeTakeAcrossFourCamerasWithClockOffsets) {
    const std::vector<std::pair<std::string, double>> cameras = {
        {"cam-1", 0}, {"cam-2", 5000}, {"cam-3", -3000.5}, {"cam-4", 123456}};
    for (int k = 1; k <= 4; ++k)
        sims.start(k, cameras[k - 1].first, "Camera " + std::to_string(k),
                   {"--clock-offset-ms", QString::number(cameras[k - 1].second, 'f', 1)});
    auto channel = makeChannel();
    channel->configureRecording(director);
    ASSERT_TRUE(awaitListed(*channel, {"cam-1", "cam-2", "cam-3", "cam-4"}));
    // Clock pings run from the first report on; give each camera its three samples.
    loop.runFor(3500);
    std::vector<LiveCamera> selected;
    for (const auto& [id, offset] : cameras) selected.push_back(*listed(*channel, id));
    channel->beginRecording(selected, director, assignment("lab-take-1", "cam-1"));
    ASSERT_TRUE(awaitPhase(*channel, DirectorRecordingPhase::recording, 20'000))
        << channel->recordingStatus().message;
    EXPECT_EQ(channel->recordingStatus().message, "Recording confirmed by every camera.");
    EXPECT_EQ(channel->lastControlMessage(), "Recording confirmed by every camera.");

    // Every camera was told the same instant, each on its own clock.
    std::vector<double> startsOnDirectorClock;
    for (int k = 1; k <= 4; ++k) {
        for (const Json& entry : sims.log(k)) {
            if (entry.value("event", "") != "start-scheduled") continue;
            startsOnDirectorClock.push_back(entry["startMonoMs"].get<double>() - cameras[k - 1].second);
            break;
        }
    }
    ASSERT_EQ(startsOnDirectorClock.size(), 4u);
    for (double start : startsOnDirectorClock) EXPECT_NEAR(start, startsOnDirectorClock[0], 50.0);
    ASSERT_TRUE(loop.runUntil(
        [&] {
            for (const auto& [id, offset] : cameras)
                if (!listed(*channel, id)->recording) return false;
            return true;
        },
        kListMs));

    channel->stopRecording(selected, director, true);
    ASSERT_TRUE(awaitPhase(*channel, DirectorRecordingPhase::idle, 15'000)) << channel->recordingStatus().message;
    EXPECT_EQ(channel->recordingStatus().message, "Cameras report idle. Verify saved clips in Collect.");
    for (int k = 1; k <= 4; ++k) {
        bool stopped = false;
        for (const Json& entry : sims.log(k))
            stopped = stopped || (entry.value("event", "") == "reply" && entry.value("action", "") == "STOP_ACK");
        EXPECT_TRUE(stopped) << "camera " << k;
    }
}

TEST_F(LiveCameraLabDesk, TransferModeRequestWithEachReply) {
    sims.start(1, "cam-yes", "Yes", {"--transfer", "accept"});
    sims.start(2, "cam-no", "No", {"--transfer", "decline"});
    sims.start(3, "cam-busy", "Busy", {"--transfer", "error:Camera is recording."});
    sims.start(4, "cam-mute", "Mute", {"--transfer", "pending"});
    auto channel = makeChannel(2500);
    ASSERT_TRUE(awaitListed(*channel, {"cam-yes", "cam-no", "cam-busy", "cam-mute"}));
    auto expectOutcome = [&](const std::string& id, const std::string& message, bool failure) {
        auto requestID = channel->requestTransferMode(*listed(*channel, id), director, "Lab Desk");
        ASSERT_TRUE(requestID) << id;
        ASSERT_TRUE(loop.runUntil(
            [&] {
                const auto& state = channel->transferModeRequest();
                return state && state->requestID == *requestID && state->message == message;
            },
            kListMs))
            << id << ": " << (channel->transferModeRequest() ? channel->transferModeRequest()->message : "none");
        EXPECT_EQ(channel->transferModeRequest()->isFailure, failure);
        EXPECT_EQ(channel->transferModeRequest()->cameraID, id);
    };
    expectOutcome("cam-yes", "Approved \xE2\x80\x94 waiting for secure Transfer Mode.", false);
    expectOutcome("cam-no", "Transfer Mode was declined.", true);
    expectOutcome("cam-busy", "Camera is recording.", true);
    expectOutcome("cam-mute", "Approve the request on Mute within 30 seconds.", false);
    expectOutcome("cam-mute", "Request expired \xE2\x80\x94 ask Mute again.", true);
}

TEST_F(LiveCameraLabDesk, AnAddressChangeSuspendsTheTakeAndReopensTheSocket) {
    sims.start(1, "cam-net", "Net");
    auto channel = makeChannel();
    channel->configureRecording(director);
    ASSERT_TRUE(awaitListed(*channel, {"cam-net"}));
    loop.runFor(3500);
    channel->beginRecording({*listed(*channel, "cam-net")}, director, assignment("lab-take-net", "cam-net"));
    ASSERT_TRUE(awaitPhase(*channel, DirectorRecordingPhase::recording, 20'000)) << channel->recordingStatus().message;

    std::vector<std::string> messages;
    QObject::connect(channel.get(), &LiveCameraDiscovery::recordingStatusChanged,
                     [&] { messages.push_back(channel->recordingStatus().message); });
    ASSERT_TRUE(shell("ip addr add 10.77.0.200/24 dev eth0"));
    ASSERT_TRUE(awaitPhase(*channel, DirectorRecordingPhase::failed, kListMs));
    // The camera may accept the stop that follows the failure at once, which changes the message.
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "The computer slept or the network changed. Cancellation sent; check camera recording states.");
    // The reopened socket still hears the camera.
    auto heardAfter = [&] {
        auto since = std::chrono::system_clock::now();
        return loop.runUntil([&] { return listed(*channel, "cam-net")->lastSeen > since; }, kListMs);
    };
    EXPECT_TRUE(heardAfter());
    EXPECT_TRUE(channel->isListening());
    EXPECT_TRUE(igmpGroupOn("eth0"));

    ASSERT_TRUE(shell("ip addr del 10.77.0.200/24 dev eth0"));
    loop.runFor(300);
    EXPECT_TRUE(heardAfter());
    EXPECT_TRUE(igmpGroupOn("eth0"));
    bool cancelled = false;
    for (const Json& entry : sims.log(1)) {
        if (entry.value("event", "") != "received") continue;
        std::string action = actionOf(entry.value("message", Json::object()));
        cancelled = cancelled || action == "CANCEL_TAKE" || action == "STOP_TAKE";
    }
    EXPECT_TRUE(cancelled);
}

} // namespace
} // namespace velk

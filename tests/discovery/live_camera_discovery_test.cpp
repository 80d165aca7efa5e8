// The live camera channel over real sockets. The cases of LiveCameraChannel run only as a child run
// of this program inside a private network namespace that the first case below builds with
// `unshare -n`: loopback, plus one interface eth0 (10.88.0.1/24) whose far end answers nothing.
// Fake cameras use loopback addresses of their own (127.0.0.x, and 10.88.0.10 and up for probes).

#include <chrono>
#include <set>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/clock.hpp"
#include "base/uuid.hpp"
#include "discovery/live_camera_discovery.hpp"
#include "live_camera_test_support.hpp"
#include "test_record.hpp"

namespace velk {
namespace {

using namespace live_test;


constexpr int kWaitMs = 5000;

const std::vector<std::string> kNamespaceSuites = {"LiveCameraChannel", "LiveCameraTransfer"};

TEST(LiveCameraChannelNamespace, RunsTheSocketCasesInAPrivateNetwork) {
    if (!role().empty()) GTEST_SKIP() << "part of another run";
    if (geteuid() != 0) VELK_SKIP_CHILD_RUN(kNamespaceSuites, "a private network namespace needs root");
    EventLoop loop;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELK_LIVE_CHANNEL_ROLE", "netns");
    // No system bus in the run: the channel must work without sleep and wake events.
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/velk-no-system-bus");
    const QString setup = QStringLiteral(
        "ip link set lo up && ip link add eth0 type veth peer name xpeer0 && ip link set eth0 up && "
        "ip link set xpeer0 up && ip addr add 10.88.0.1/24 dev eth0 && "
        "for a in 10 100 101 102 103; do ip addr add 10.88.0.$a/32 dev lo; done && "
        "exec \"$0\" \"$1\"");
    auto run = runChild("unshare",
                        {"-n", "--", "sh", "-c", setup, QString::fromStdString(thisProgram()),
                         QString::fromStdString(test_record::filterFor(kNamespaceSuites))},
                        env, 120'000);
    ASSERT_TRUE(run.finished) << run.output;
    if (run.output.find("unshare failed") != std::string::npos) VELK_SKIP_CHILD_RUN(kNamespaceSuites, run.output);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("[  FAILED  ]"), std::string::npos) << run.output;
    const std::string passed = "[  PASSED  ] " + std::to_string(test_record::caseCount(kNamespaceSuites)) + " tests.";
    EXPECT_NE(run.output.find(passed), std::string::npos) << "every case of the suites runs:\n" << run.output;
}

class LiveCameraChannel : public testing::Test {
protected:
    void SetUp() override {
        if (role() != "netns") GTEST_SKIP() << "runs only inside a private network namespace";
    }

    LiveCameraChannel() {
        options.watchSleep = false;
        options.clock = &clock;
        // Ages and expiry follow the manual clock; the timers only need to come round often.
        options.intervals.livenessMs = 20;
        options.intervals.peerRefreshMs = 20;
        options.intervals.recordingMs = 10;
    }

    std::unique_ptr<LiveCameraDiscovery> makeChannel(bool start = true, std::vector<LiveCamera> initial = {}) {
        auto channel = std::make_unique<LiveCameraDiscovery>(options, start, std::move(initial));
        if (start) {
            EXPECT_TRUE(loop.runUntil([&] { return channel->isListening(); }, kWaitMs));
        }
        return channel;
    }

    static std::string status(const std::string& id, Json payload, std::optional<std::int64_t> seq = std::nullopt,
                              const std::string& session = sessionA) {
        payload["id"] = id;
        Json envelope = {{"v", 1}, {"type", "status"}, {"sender", id}, {"payload", payload}};
        if (seq) {
            envelope["sessionId"] = session;
            envelope["seq"] = *seq;
        }
        return json::write(envelope);
    }

    static Json eligible(const std::string& name) {
        return {{"name", name},         {"remoteControl", true}, {"cameraReady", true}, {"takeBusy", false},
                {"recording", false},   {"finalizing", false},   {"syncVersion", 1},    {"syncPrepareVersion", 2},
                {"warmPrepare", true},  {"safeStopVersion", 1},  {"projectSyncVersion", 1}};
    }

    // A camera last heard `ageMs` ago on the manual clock.
    LiveCamera known(const std::string& id, const std::string& name, const std::string& host, double ageMs = 0) const {
        LiveCamera camera;
        camera.id = id;
        camera.name = name;
        camera.host = host;
        camera.lastSeen = clock.now() - std::chrono::duration_cast<WallTime::duration>(
                                            std::chrono::duration<double, std::milli>(ageMs));
        return camera;
    }

    // What the channel sent the camera before a marker it sends now: work posted to the channel
    // runs in order and loopback keeps datagram order, so nothing sent earlier is still on its way.
    std::vector<Json> sentBefore(LiveCameraDiscovery& channel, FakeCameraSocket& camera, const std::string& host) {
        const Json marker = {{"marker", ++markers}};
        channel.sendPairingPacket(marker.dump(), host);
        std::vector<Json> received;
        EXPECT_TRUE(loop.runUntil(
            [&] {
                for (Json& value : camera.receiveAll()) received.push_back(std::move(value));
                return !received.empty() && received.back() == marker;
            },
            kWaitMs));
        if (!received.empty()) received.pop_back();
        return received;
    }

    EventLoop loop;
    int markers = 0;
    ManualClock clock{fromWallMs(1'780'000'000'000), 5000};
    LiveCameraDiscovery::Options options;
};

TEST_F(LiveCameraChannel, OpensItsSocketAndJoinsTheGroupOnUsableInterfacesOnly) {
    auto channel = makeChannel();
    EXPECT_TRUE(channel->isListening());
    EXPECT_FALSE(channel->errorMessage());
    EXPECT_TRUE(loop.runUntil([] { return igmpGroupOn("eth0"); }, kWaitMs));
    EXPECT_FALSE(igmpGroupOn("lo"));
    EXPECT_FALSE(igmpGroupOn("xpeer0"));
    EXPECT_EQ(channel->pairingHost(), "10.88.0.1");
    EXPECT_EQ(channel->recordingStatus().message,
              "Ready. Record prepares every camera and confirms the frozen project assignment.");
}

TEST_F(LiveCameraChannel, PortHeldWithoutAddressReuseIsReportedAndTimersStillRun) {
    int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(45454);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    auto channel = makeChannel(false, {known("cam", "cam", "")});
    channel->start();
    EXPECT_TRUE(loop.runUntil([&] { return channel->errorMessage().has_value(); }, kWaitMs));
    EXPECT_EQ(channel->errorMessage(), "UDP port 45454 is unavailable.");
    EXPECT_FALSE(channel->isListening());
    EXPECT_TRUE(loop.runUntil([&] { return channel->livenessTick() >= 1; }, kWaitMs));
    channel.reset();
    ::close(holder);
}

TEST_F(LiveCameraChannel, SnapshotsFillTheListAndStaleOnesAreFiltered) {
    FakeCameraSocket camera("127.0.0.2");
    ASSERT_TRUE(camera.isOpen());
    auto channel = makeChannel();
    std::vector<std::string> qualities;
    QObject::connect(channel.get(), &LiveCameraDiscovery::camerasChanged, [&] {
        if (const LiveCamera* c = listed(*channel, "front")) qualities.push_back(c->quality);
    });
    camera.sendTo("127.0.0.1", status("front", {{"name", "Front"}, {"quality", "q1"}}, 1));
    ASSERT_TRUE(loop.runUntil([&] { return listed(*channel, "front"); }, kWaitMs));
    const LiveCamera* front = listed(*channel, "front");
    EXPECT_EQ(front->host, "127.0.0.2");
    EXPECT_EQ(front->name, "Front");
    EXPECT_EQ(front->sourceSessionID, sessionA);
    camera.sendTo("127.0.0.1", status("front", {{"quality", "stale"}}, 0));
    camera.sendTo("127.0.0.1", status("front", {{"quality", "duplicate"}}, 1));
    camera.sendTo("127.0.0.1", status("front", {{"quality", "q2"}}, 2));
    ASSERT_TRUE(loop.runUntil([&] { return listed(*channel, "front")->quality == "q2"; }, kWaitMs));
    EXPECT_EQ(qualities, (std::vector<std::string>{"q1", "q2"}));
    EXPECT_EQ(listed(*channel, "front")->name, "Front");
}

TEST_F(LiveCameraChannel, DatagramOf8192BytesIsReadAndLargerIsDropped) {
    FakeCameraSocket camera("127.0.0.2");
    auto channel = makeChannel();
    auto padded = [](const std::string& id, std::size_t size) {
        std::string head = R"({"v":1,"type":"status","sender":")" + id + R"(","payload":{"id":")" + id + R"(","pad":")";
        std::string tail = R"("}})";
        return head + std::string(size - head.size() - tail.size(), 'x') + tail;
    };
    camera.sendTo("127.0.0.1", padded("big", 8193));
    camera.sendTo("127.0.0.1", padded("exact", 8192));
    ASSERT_TRUE(loop.runUntil([&] { return listed(*channel, "exact"); }, kWaitMs));
    EXPECT_FALSE(listed(*channel, "big"));
}

TEST_F(LiveCameraChannel, PairHelloReachesTheHandlerOnlyWhenInstalled) {
    FakeCameraSocket camera("127.0.0.2");
    auto channel = makeChannel();
    std::vector<std::pair<std::string, std::string>> hellos;
    const std::string hello = R"({"v":1,"type":"pair-hello","sender":"cam","payload":{"id":"cam"}})";
    camera.sendTo("127.0.0.1", hello);
    // A status sent after the first hello is heard only once that hello has been handled.
    FakeCameraSocket other("127.0.0.6");
    other.sendTo("127.0.0.1", status("later", {}));
    ASSERT_TRUE(loop.runUntil([&] { return listed(*channel, "later"); }, kWaitMs));
    channel->pairingPacketHandler = [&](const std::string& bytes, const std::string& host) {
        hellos.emplace_back(bytes, host);
    };
    camera.sendTo("127.0.0.1", hello);
    ASSERT_TRUE(loop.runUntil([&] { return !hellos.empty(); }, kWaitMs));
    EXPECT_EQ(hellos.size(), 1u);
    EXPECT_EQ(hellos[0].first, hello);
    EXPECT_EQ(hellos[0].second, "127.0.0.2");
    EXPECT_EQ(channel->cameras().size(), 1u) << "a hello lists no camera";

    channel->sendPairingPacket(R"({"type":"pair-accept"})", "127.0.0.2");
    channel->sendPairingPacket(std::string(8193, ' '), "127.0.0.2");
    EXPECT_EQ(sentBefore(*channel, camera, "127.0.0.2"), (std::vector<Json>{Json{{"type", "pair-accept"}}}));
}

class LiveCameraTransfer : public LiveCameraChannel {
protected:
    // Lists camera "front" at 127.0.0.3 and returns its record.
    LiveCamera listFront(LiveCameraDiscovery& channel, FakeCameraSocket& camera) {
        camera.sendTo("127.0.0.1", status("front", {{"name", "Front"}}, 1));
        EXPECT_TRUE(loop.runUntil([&] { return listed(channel, "front"); }, kWaitMs));
        return *listed(channel, "front");
    }
    Json awaitRequest(FakeCameraSocket& camera) {
        Json request;
        loop.runUntil(
            [&] {
                for (Json& value : camera.receiveAll())
                    if (value.value("payload", Json::object()).value("action", "") == "REQUEST_TRANSFER_MODE")
                        request = value;
                return !request.is_null();
            },
            kWaitMs);
        return request;
    }
    static std::string reply(const std::string& action, const std::string& requestID, Json extra = Json::object()) {
        extra["action"] = action;
        extra["requestId"] = requestID;
        return json::write(Json{{"v", 1}, {"type", "command"}, {"sender", "front"}, {"payload", extra}});
    }
    bool awaitMessage(LiveCameraDiscovery& channel, const std::string& message) {
        return loop.runUntil(
            [&] { return channel.transferModeRequest() && channel.transferModeRequest()->message == message; },
            kWaitMs);
    }
};

TEST_F(LiveCameraTransfer, RequestPendingAndAcceptedRoundTrip) {
    FakeCameraSocket camera("127.0.0.3");
    auto channel = makeChannel();
    LiveCamera front = listFront(*channel, camera);
    auto requestID = channel->requestTransferMode(front, director, "  Studio \n  Mac ");
    ASSERT_TRUE(requestID);
    EXPECT_TRUE(uuid::isValid(*requestID));
    EXPECT_EQ(*requestID, uuid::uppercaseText(*uuid::parse(*requestID)));
    EXPECT_TRUE(awaitMessage(*channel, "Request sent \xE2\x80\x94 approve on Front within 30 seconds."));
    Json request = awaitRequest(camera);
    ASSERT_FALSE(request.is_null());
    EXPECT_EQ(request["sender"], director);
    EXPECT_EQ(request["payload"]["collectorName"], "Studio Mac");
    EXPECT_EQ(request["payload"]["target"], "front");
    EXPECT_EQ(request["payload"]["requestId"], *requestID);

    camera.sendTo("127.0.0.1", reply("TRANSFER_MODE_PENDING", *requestID));
    EXPECT_TRUE(awaitMessage(*channel, "Approve the request on Front within 30 seconds."));
    camera.sendTo("127.0.0.1", reply("TRANSFER_MODE_ACK", *requestID, {{"accepted", true}}));
    EXPECT_TRUE(awaitMessage(*channel, "Approved \xE2\x80\x94 waiting for secure Transfer Mode."));
    EXPECT_FALSE(channel->transferModeRequest()->isFailure);
    EXPECT_EQ(channel->transferModeRequest()->requestID, *requestID);
}

TEST_F(LiveCameraTransfer, DeclinedWithTheCamerasTextAndExpiry) {
    FakeCameraSocket camera("127.0.0.3");
    options.transferRequestLifetimeMs = 200;
    auto channel = makeChannel();
    LiveCamera front = listFront(*channel, camera);
    auto first = channel->requestTransferMode(front, director, "");
    ASSERT_TRUE(first);
    Json request = awaitRequest(camera);
    EXPECT_EQ(request["payload"]["collectorName"], "Kestova Desktop");
    camera.sendTo("127.0.0.1", reply("TRANSFER_MODE_ACK", *first, {{"accepted", false}, {"error", "Recording in progress"}}));
    EXPECT_TRUE(awaitMessage(*channel, "Recording in progress"));
    EXPECT_TRUE(channel->transferModeRequest()->isFailure);

    auto second = channel->requestTransferMode(front, director, "Mac");
    ASSERT_TRUE(second);
    EXPECT_TRUE(awaitMessage(*channel, "Request expired \xE2\x80\x94 ask Front again."));
    EXPECT_EQ(channel->transferModeRequest()->requestID, *second);
    EXPECT_TRUE(channel->transferModeRequest()->isFailure);
}

TEST_F(LiveCameraTransfer, OfflineCameraGetsNoDatagram) {
    FakeCameraSocket camera("127.0.0.3");
    auto channel = makeChannel();
    EXPECT_FALSE(channel->requestTransferMode(known("front", "Front", "127.0.0.3", 6500), director, "Mac"));
    EXPECT_TRUE(awaitMessage(*channel, "This camera is not ready for a transfer request."));
    EXPECT_TRUE(sentBefore(*channel, camera, "127.0.0.3").empty());
}

TEST_F(LiveCameraTransfer, AHostThatIsNotDottedIPv4IsNeverSentTo) {
    auto channel = makeChannel();
    EXPECT_TRUE(channel->requestTransferMode(known("front", "Front", "front.local"), director, "Mac"));
    EXPECT_TRUE(awaitMessage(*channel, "The transfer request could not reach Front."));
    EXPECT_TRUE(channel->transferModeRequest()->isFailure);
}

TEST_F(LiveCameraChannel, WithoutASocketNothingIsSentAndTheOperatorIsTold) {
    const LiveCamera online = known("front", "Front", "127.0.0.3");
    auto channel = makeChannel(false, {online});
    DirectorTakeAssignment assignment;
    channel->beginRecording({online}, director, assignment);
    EXPECT_TRUE(loop.runUntil([&] { return channel->lastControlMessage().has_value(); }, kWaitMs));
    EXPECT_EQ(channel->lastControlMessage(), "Camera network is unavailable. Recording was not requested.");
    EXPECT_EQ(channel->recordingStatus(), DirectorRecordingStatus{});

    channel->stopRecording({online}, director, true);
    EXPECT_TRUE(loop.runUntil(
        [&] { return channel->lastControlMessage() == "Camera network is unavailable. Stop was not sent."; }, kWaitMs));

    channel->requestTransferMode(online, director, "Mac");
    EXPECT_TRUE(loop.runUntil(
        [&] {
            return channel->transferModeRequest() &&
                   channel->transferModeRequest()->message == "Kestova network discovery is not available.";
        },
        kWaitMs));
}

TEST_F(LiveCameraChannel, CarriesRecordingCommandsAndSleepSuspendsTheTake) {
    FakeCameraSocket camera("127.0.0.4");
    auto channel = makeChannel();
    channel->configureRecording(director);
    Json ping;
    auto heard = [&] {
        camera.sendTo("127.0.0.1", status("rec", eligible("Rec"), 1));
        return loop.runUntil([&] { return listed(*channel, "rec"); }, kWaitMs);
    };
    ASSERT_TRUE(heard());
    clock.advanceMs(1000); // the next round of clock pings
    ASSERT_TRUE(loop.runUntil(
        [&] {
            for (Json& value : camera.receiveAll())
                if (value["payload"].value("action", "") == "CLOCK_PING") ping = value;
            return !ping.is_null();
        },
        kWaitMs));
    EXPECT_EQ(ping["sender"], director);
    EXPECT_EQ(ping["type"], "command");
    EXPECT_EQ(ping["payload"]["target"], "rec");

    DirectorTakeAssignment assignment{"take-1", "2d0c4b2e-3f41-4a55-9b6e-7c8d9e0f1a2b", "Project", 1,
                                      "2026-01-02T03:04:05Z", "rec", "30/1"};
    channel->beginRecording({*listed(*channel, "rec")}, director, assignment);
    ASSERT_TRUE(loop.runUntil(
        [&] { return channel->recordingStatus().phase == DirectorRecordingPhase::synchronizing; }, kWaitMs))
        << channel->recordingStatus().message;
    EXPECT_EQ(channel->lastControlMessage(), channel->recordingStatus().message);

    camera.receiveAll();
    channel->handleSleepOrWake();
    ASSERT_TRUE(loop.runUntil([&] { return channel->recordingStatus().phase == DirectorRecordingPhase::failed; },
                              kWaitMs));
    EXPECT_EQ(channel->recordingStatus().message,
              "The computer slept or the network changed. Cancellation sent; check camera recording states.");
    EXPECT_EQ(channel->lastControlMessage(), channel->recordingStatus().message);
    bool cancelled = false;
    loop.runUntil(
        [&] {
            for (Json& value : camera.receiveAll())
                cancelled = cancelled || value["payload"].value("action", "") == "CANCEL_TAKE";
            return cancelled;
        },
        kWaitMs);
    EXPECT_TRUE(cancelled);
}

TEST_F(LiveCameraChannel, DirectorSnapshotsAreListedButNeverPinged) {
    FakeCameraSocket camera("127.0.0.5");
    auto channel = makeChannel();
    channel->configureRecording(director);
    Json payload = eligible("Other desk");
    payload["role"] = "director";
    camera.sendTo("127.0.0.1", status("desk2", payload, 1));
    ASSERT_TRUE(loop.runUntil([&] { return listed(*channel, "desk2"); }, kWaitMs));
    clock.advanceMs(1300);
    loop.runFor(150);
    for (Json& value : camera.receiveAll()) EXPECT_NE(value["payload"].value("action", ""), "CLOCK_PING");
}

TEST_F(LiveCameraChannel, LivenessDropsExpiredCamerasAndTicks) {
    auto channel = makeChannel(false);
    channel->start();
    loop.runFor(150);
    EXPECT_EQ(channel->livenessTick(), 0u) << "an empty list does not tick";
    channel.reset();

    channel = makeChannel(true, {known("fresh", "fresh", ""), known("old", "old", "", 29'300)});
    ASSERT_TRUE(loop.runUntil([&] { return channel->livenessTick() >= 1; }, kWaitMs));
    EXPECT_EQ(channel->cameras().size(), 2u) << "29.3 s is not yet expired";
    clock.advanceMs(1000);
    ASSERT_TRUE(loop.runUntil([&] { return channel->cameras().size() == 1; }, kWaitMs));
    EXPECT_EQ(channel->cameras()[0].id, "fresh");
}

TEST_F(LiveCameraChannel, ForcedScanProbesTheLocal24AndKeepsEightInFlight) {
    auto probeBody = [&](const std::string& id) { return status(id, {{"name", "Probed " + id}}, 3); };
    FakeProbeServer good("10.88.0.10", FakeProbeServer::Mode::answer, probeBody("probed"));
    FakeProbeServer zero("10.88.0.100", FakeProbeServer::Mode::lengthZero, probeBody("zero"));
    FakeProbeServer oversize("10.88.0.101", FakeProbeServer::Mode::length8193, probeBody("oversize"));
    FakeProbeServer shortBody("10.88.0.102", FakeProbeServer::Mode::shortBody, probeBody("short"));
    FakeProbeServer silent("10.88.0.103", FakeProbeServer::Mode::silent, probeBody("silent"));
    ASSERT_TRUE(good.isOpen() && zero.isOpen() && oversize.isOpen() && shortBody.isOpen() && silent.isOpen());

    // An online camera keeps the unforced timer scan away; the forced scan runs anyway.
    options.intervals.scanFirstMs = 20;
    auto channel = makeChannel(true, {known("online", "online", "127.0.0.9")});
    loop.runFor(150);
    EXPECT_FALSE(channel->isActiveScanning());
    EXPECT_EQ(good.accepted(), 0);

    channel->rescan();
    auto openProbes = [] { return synSentConnectionsAtOnce(); };
    int most = 0;
    ASSERT_TRUE(loop.runUntil(
        [&] {
            most = std::max(most, openProbes());
            return listed(*channel, "probed") != nullptr;
        },
        kWaitMs));
    EXPECT_TRUE(channel->isActiveScanning());
    EXPECT_EQ(listed(*channel, "probed")->host, "10.88.0.10");
    EXPECT_EQ(listed(*channel, "probed")->name, "Probed probed");
    loop.runUntil(
        [&] {
            most = std::max(most, openProbes());
            return false;
        },
        2000);
    EXPECT_LE(most, 8);
    EXPECT_GE(most, 1);
    for (const char* id : {"zero", "oversize", "short", "silent"}) EXPECT_FALSE(listed(*channel, id)) << id;
    EXPECT_EQ(silent.accepted(), 1);
    EXPECT_EQ(shortBody.accepted(), 1);
    channel->rescan(); // ignored while the sweep runs
    channel->stop();
    EXPECT_TRUE(loop.runUntil([&] { return !channel->isListening(); }, kWaitMs));
    EXPECT_TRUE(loop.runUntil([] { return synSentConnections() == 0; }, kWaitMs)) << "stop cancels the probes";
}

TEST_F(LiveCameraChannel, PeerRefreshProbesQuietCamerasButNotExpiredOnes) {
    FakeProbeServer quiet("10.88.0.10", FakeProbeServer::Mode::answer, status("quiet", {{"name", "Refreshed"}}, 7));
    FakeProbeServer gone("10.88.0.100", FakeProbeServer::Mode::answer, status("gone", {{"name", "Back"}}, 7));
    ASSERT_TRUE(quiet.isOpen() && gone.isOpen());
    auto channel = makeChannel(true, {known("quiet", "Quiet", "10.88.0.10", 2600), known("gone", "Quiet", "10.88.0.100", 31'000)});
    ASSERT_TRUE(loop.runUntil([&] { return listed(*channel, "quiet") && listed(*channel, "quiet")->name == "Refreshed"; },
                              kWaitMs));
    EXPECT_EQ(listed(*channel, "quiet")->sourceSessionID, sessionA) << "a camera never heard over UDP may switch session";
    EXPECT_FALSE(channel->isActiveScanning()) << "a refresh is no scan";
    EXPECT_EQ(gone.accepted(), 0);
    EXPECT_FALSE(listed(*channel, "gone"));
}

TEST_F(LiveCameraChannel, WithoutASystemBusTheSleepWatchIsQuietlyAbsent) {
    auto channel = std::make_unique<LiveCameraDiscovery>(); // the defaults: real clock, sleep watch
    EXPECT_TRUE(loop.runUntil([&] { return channel->isListening(); }, kWaitMs));
    EXPECT_FALSE(channel->errorMessage());
}

TEST_F(LiveCameraChannel, PathChangeReopensTheSocketWithNewMemberships) {
    auto channel = makeChannel();
    ASSERT_TRUE(loop.runUntil([] { return igmpGroupOn("eth0"); }, kWaitMs));
    ASSERT_TRUE(shell("ip link add eth1 type veth peer name xpeer1 && ip link set eth1 up && ip link set xpeer1 up && "
                      "ip addr add 10.89.0.1/24 dev eth1"));
    EXPECT_TRUE(loop.runUntil([] { return igmpGroupOn("eth1"); }, kWaitMs));
    EXPECT_TRUE(channel->isListening());
    // Still hearing cameras on the new socket.
    FakeCameraSocket camera("127.0.0.2");
    camera.sendTo("127.0.0.1", status("after", {}, 1));
    EXPECT_TRUE(loop.runUntil([&] { return listed(*channel, "after"); }, kWaitMs));
    ASSERT_TRUE(shell("ip link del eth1"));
    EXPECT_TRUE(loop.runUntil([] { return !igmpGroupOn("eth1"); }, kWaitMs));
}

} // namespace
} // namespace velk

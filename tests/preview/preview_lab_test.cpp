// The preview store end to end: eight simulated cameras, each in its own namespace of the
// network lab, serving preview on port 45455. The PreviewLabDesk case runs only as a child run of
// this program in the lab's desk, which the first case starts through scripts/lab.

#include <cstdlib>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include "preview/live_preview_store.hpp"
#include "preview_test_support.hpp"

namespace velk {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

TEST(PreviewLab, EightCamerasEndToEnd) {
    if (!environment("VELK_PREVIEW_ROLE").empty()) GTEST_SKIP() << "part of another run";
    if (geteuid() != 0) GTEST_SKIP() << "the network lab needs root";
    {
        // Make the shared frames once, before eight cameras would each run ffmpeg.
        preview_test::SimPreview frames;
        ASSERT_TRUE(frames.isListening());
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELK_PREVIEW_ROLE", "lab-desk");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(VELK_SOURCE_DIR "/scripts/lab",
                {"run", "--phones", "8", "--", QString::fromStdString("/proc/" + std::to_string(getpid()) + "/exe"),
                 "--gtest_filter=PreviewLabDesk.*"});
    ASSERT_TRUE(child.waitForStarted());
    const bool finished = child.waitForFinished(180'000);
    if (!finished) {
        child.terminate();
        if (!child.waitForFinished(20'000)) child.kill();
    }
    const std::string output = child.readAll().toStdString();
    ASSERT_TRUE(finished) << output;
    if (child.exitCode() == 77) GTEST_SKIP() << output;
    EXPECT_EQ(child.exitCode(), 0) << output;
    EXPECT_EQ(output.find("[  FAILED  ]"), std::string::npos) << output;
}

class SimCamera {
public:
    explicit SimCamera(int phone, QStringList extra = {}) : m_phone(phone), m_extra(std::move(extra)) { start(); }
    ~SimCamera() { kill(); }
    void start() {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::ForwardedChannels);
        m_process->start(QString::fromStdString(environment("VELK_LAB_SCRIPT")),
                         QStringList{"exec", QString::fromStdString(environment("VELK_LAB")),
                                     QStringLiteral("phone%1").arg(m_phone), "--", "/usr/bin/python3",
                                     VELK_SOURCE_DIR "/tests/sim/sim_camera.py", "--id", QString::fromStdString(id()),
                                     "--address", QString::fromStdString(host()), "--desk",
                                     QString::fromStdString(environment("VELK_LAB_DESK")), "--no-multicast",
                                     "--frames-dir", QString::fromStdString(preview_test::framesDirectory())} +
                             m_extra);
        m_process->waitForStarted();
    }
    void kill() {
        if (!m_process) return;
        m_process->kill();
        m_process->waitForFinished(5000);
        m_process.reset();
    }
    std::string id() const { return "cam" + std::to_string(m_phone); }
    std::string host() const { return "10.77.0." + std::to_string(10 + m_phone); }

private:
    int m_phone;
    QStringList m_extra;
    std::unique_ptr<QProcess> m_process;
};

TEST(PreviewLabDesk, EightCamerasStreamFailAndRecover) {
    if (environment("VELK_PREVIEW_ROLE") != "lab-desk") GTEST_SKIP() << "runs only inside the lab's desk";
    int argc = 1;
    char name[] = "preview-lab";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    std::vector<std::unique_ptr<SimCamera>> cameras;
    for (int phone = 1; phone <= 8; ++phone) {
        QStringList extra;
        if (phone == 8) extra = {"--preview-fault", "persistent-refused"};
        cameras.push_back(std::make_unique<SimCamera>(phone, extra));
    }
    const auto records = [&] {
        std::vector<LiveCamera> list;
        for (const auto& camera : cameras) {
            LiveCamera record;
            record.id = camera->id();
            record.role = "CAMERA";
            record.host = camera->host();
            record.sourceSessionID = "session-" + camera->id();
            record.lastSeen = std::chrono::system_clock::now();
            list.push_back(record);
        }
        return list;
    };
    LivePreviewStore store;
    store.start(records());
    store.select({"cam1", "cam2"});
    // The camera channel's liveness tick.
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { store.update(records()); });
    tick.start(1000);
    const auto runUntil = [&](auto done, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    };
    using Transport = VELKPreviewClient::Transport;

    ASSERT_TRUE(runUntil([&] { return store.wallFrames().size() == 8 && store.selectedFrames().size() == 2; }, 30'000))
        << store.wallFrames().size() << " wall frames, " << store.selectedFrames().size() << " selected";
    for (const auto& camera : cameras) {
        const std::string id = camera->id();
        EXPECT_EQ(store.wallTransports().at(id), id == "cam8" ? Transport::legacy : Transport::persistent) << id;
        EXPECT_EQ(store.wallFrames().at(id).size(), QSize(640, 360)) << id;
        EXPECT_FALSE(store.errors().count(id)) << id;
    }
    EXPECT_EQ(store.selectedFrames().at("cam1").size(), QSize(1280, 720));
    EXPECT_EQ(store.selectedTransports().at("cam2"), Transport::persistent);

    // A camera killed mid-stream shows its error; the others keep streaming.
    cameras[2]->kill();
    ASSERT_TRUE(runUntil([&] { return store.errors().count("cam3") && !store.wallFrames().count("cam3"); }, 10'000));
    const std::string message = store.errors().at("cam3");
    EXPECT_TRUE(message == "Preview connection failed" || message == "Preview response was incomplete") << message;
    EXPECT_EQ(store.wallFrames().size(), 7u);
    cameras[2]->start();
    ASSERT_TRUE(runUntil([&] { return store.wallFrames().count("cam3") && !store.errors().count("cam3"); }, 20'000));
    EXPECT_EQ(store.wallTransports().at("cam3"), Transport::persistent);

    store.stop();
    tick.stop();
    ASSERT_TRUE(runUntil([&] { return store.wallFrames().empty() && store.frameTimes().empty(); }, 5'000));
}

} // namespace
} // namespace velk

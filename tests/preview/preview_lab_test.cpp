// The preview store end to end: eight simulated cameras, each in its own namespace of the
// network lab, serving preview on port 45455. The PreviewLabDesk case runs only as a child run of
// this program in the lab's desk, which the first case starts through scripts/lab.

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include "preview/live_preview_store.hpp"
#include "preview_test_support.hpp"
#include "support/lab.hpp"
#include "test_record.hpp"
#include "support/qt_test.hpp"

namespace velk {
namespace {

using test::waitUntil;

TEST(PreviewLab, EightCamerasEndToEnd) {
#if defined(__SANITIZE_THREAD__)
    // Eight cameras streaming in real time against a thread-sanitised desk miss every deadline.
    VELK_SKIP_CHILD_RUN(std::vector<std::string>{"PreviewLabDesk"}, "real-time end to end: too slow under ThreadSanitizer");
#endif
    if (test::environment("VELK_PREVIEW_ROLE").empty()) {
        // Make the shared frames once, before eight cameras would each run ffmpeg.
        preview_test::SimPreview frames;
        ASSERT_TRUE(frames.isListening());
    }
    if (auto skip = test::runInLabDesk("VELK_PREVIEW_ROLE", "PreviewLabDesk.*", 8, 180'000)) GTEST_SKIP() << *skip;
}

TEST(PreviewLabDesk, EightCamerasStreamFailAndRecover) {
    if (!test::isLabDesk("VELK_PREVIEW_ROLE")) GTEST_SKIP() << "runs only inside the lab's desk";
    test::ensureApplication<QCoreApplication>();
    std::vector<std::unique_ptr<test::LabPhone>> cameras;
    const auto id = [](std::size_t index) { return "cam" + std::to_string(index + 1); };
    for (int phone = 1; phone <= 8; ++phone) {
        QStringList arguments{"--id", QString::fromStdString(id(phone - 1)), "--no-multicast", "--frames-dir",
                              QString::fromStdString(preview_test::framesDirectory())};
        if (phone == 8) arguments << "--preview-fault" << "persistent-refused";
        cameras.push_back(std::make_unique<test::LabPhone>(phone, arguments));
    }
    const auto records = [&] {
        std::vector<LiveCamera> list;
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            LiveCamera record;
            record.id = id(i);
            record.role = "CAMERA";
            record.host = cameras[i]->host();
            record.sourceSessionID = "session-" + id(i);
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
    using Transport = VELKPreviewClient::Transport;

    ASSERT_TRUE(waitUntil([&] { return store.wallFrames().size() == 8 && store.selectedFrames().size() == 2; }, 30'000))
        << store.wallFrames().size() << " wall frames, " << store.selectedFrames().size() << " selected";
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        EXPECT_EQ(store.wallTransports().at(id(i)), i == 7 ? Transport::legacy : Transport::persistent) << id(i);
        EXPECT_EQ(store.wallFrames().at(id(i)).size(), QSize(640, 360)) << id(i);
        EXPECT_FALSE(store.errors().count(id(i))) << id(i);
    }
    EXPECT_EQ(store.selectedFrames().at("cam1").size(), QSize(1280, 720));
    EXPECT_EQ(store.selectedTransports().at("cam2"), Transport::persistent);

    // A camera killed mid-stream shows its error; the others keep streaming.
    cameras[2]->kill();
    ASSERT_TRUE(waitUntil([&] { return store.errors().count("cam3") && !store.wallFrames().count("cam3"); }, 10'000));
    const std::string message = store.errors().at("cam3");
    EXPECT_TRUE(message == "Preview connection failed" || message == "Preview response was incomplete") << message;
    EXPECT_EQ(store.wallFrames().size(), 7u);
    cameras[2]->start();
    ASSERT_TRUE(waitUntil([&] { return store.wallFrames().count("cam3") && !store.errors().count("cam3"); }, 20'000));
    EXPECT_EQ(store.wallTransports().at("cam3"), Transport::persistent);

    store.stop();
    tick.stop();
    ASSERT_TRUE(waitUntil([&] { return store.wallFrames().empty() && store.frameTimes().empty(); }, 5'000));
}

} // namespace
} // namespace velk

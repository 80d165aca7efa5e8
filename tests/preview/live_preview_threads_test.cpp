// The preview store as the application runs it, with its own worker threads, timers and GUI-thread
// posting, against simulated cameras on loopback addresses. The fakes of live_preview_store_test
// choose the order of every step; here the threads choose it, so that ThreadSanitizer sees the
// streams start, run, restart under new tokens, stop and go away while their workers block.

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "preview/live_preview_store.hpp"
#include "preview_test_support.hpp"
#include "support/qt_test.hpp"

namespace velk {
namespace {

using preview_test::SimPreview;
using test::waitUntil;
using Transport = VELKPreviewClient::Transport;

LiveCamera camera(const std::string& id, const std::string& host, const std::string& session) {
    LiveCamera record;
    record.id = id;
    record.role = "CAMERA";
    record.host = host;
    record.sourceSessionID = session;
    // Online for the whole test, however slowly a sanitised build runs it.
    record.lastSeen = std::chrono::system_clock::now() + std::chrono::hours(1);
    return record;
}

TEST(LivePreviewStoreThreads, StreamsRestartStopAndEndWhileWorkersBlock) {
    test::ensureApplication<QCoreApplication>();
    // One port on two loopback addresses: a camera that streams, and one that only answers
    // one-shot requests.
    SimPreview streaming({"--fps", "30"}, "127.0.0.2");
    ASSERT_TRUE(streaming.isListening());
    SimPreview oneShot({"--preview-fault", "persistent-refused", "--port", QString::number(streaming.port())},
                       "127.0.0.3");
    ASSERT_TRUE(oneShot.isListening());
    const auto cameras = [](const std::string& session) {
        return std::vector<LiveCamera>{camera("a", "127.0.0.2", session), camera("b", "127.0.0.3", session)};
    };

    auto store = std::make_unique<LivePreviewStore>(streaming.port());
    store->select({"a"});
    store->start(cameras("s0"));
    const auto streamingBoth = [&] {
        return store->wallFrames().count("a") && store->wallFrames().count("b") && store->selectedFrames().count("a");
    };
    ASSERT_TRUE(waitUntil(streamingBoth)) << store->wallFrames().size() << " wall frames";
    EXPECT_EQ(store->wallTransports().at("a"), Transport::persistent);
    EXPECT_EQ(store->wallTransports().at("b"), Transport::legacy);
    EXPECT_TRUE(store->errors().empty());

    // New sessions restart every stream under a new token while the old workers are mid-frame.
    for (int round = 1; round <= 5; ++round) {
        store->update(cameras("s" + std::to_string(round)));
        store->select(round % 2 ? std::set<std::string>{"a"} : std::set<std::string>{});
        test::runFor(30);
    }
    ASSERT_TRUE(waitUntil(streamingBoth));

    store->stop();
    ASSERT_TRUE(waitUntil([&] { return store->wallFrames().empty() && store->selectedFrames().empty(); }));
    EXPECT_FALSE(store->engineState().running);

    // Going away while the streams run: the workers wake, and nothing is published afterwards.
    store->start(cameras("s9"));
    ASSERT_TRUE(waitUntil([&] { return store->wallFrames().size() == 2; }));
    store.reset();
    test::runFor(100);
}

} // namespace
} // namespace velk

// The preview store with its exchange, GUI-thread executor, timers, worker launch and clocks
// replaced: every step of the streams runs here, in an order the test chooses.

#include <condition_variable>
#include <deque>
#include <system_error>
#include <thread>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include "preview/live_preview_store.hpp"

namespace velk {
namespace {

using Transport = VELKPreviewClient::Transport;
using Error = VELKPreviewError::Case;
// The camera's side of one exchange; the tests never stop a stream from inside.
using Behaviour = std::function<Transport(const PreviewExchangeRequest&, const PreviewFrameSink&)>;

const PreviewStreamKey kWall{"cam", VELKPreviewProfile::wall};
const PreviewStreamKey kSelected{"cam", VELKPreviewProfile::selected};

PreviewImage image(int width) { return PreviewImage(QImage(width, 2, QImage::Format_RGB32)); }

Behaviour failsWith(Error error) {
    return [=](const PreviewExchangeRequest&, const PreviewFrameSink&) -> Transport {
        throw VELKPreviewError(error);
    };
}

class Harness {
public:
    explicit Harness(const std::function<void(LivePreviewStore::Options&)>& adjust = {}) {
        LivePreviewStore::Options options;
        options.clock = &clock;
        options.postToMain = [this](std::function<void()> fn) {
            std::lock_guard lock(mutex);
            if (postsFail) throw std::bad_alloc();
            main.push_back(std::move(fn));
        };
        options.launchWorker = [this](VELKPreviewProfile, std::function<void()> body) {
            std::lock_guard lock(mutex);
            if (launchesFail) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            tasks.push_back(std::move(body));
        };
        options.schedule = [this](double seconds, std::function<void()> fn) {
            std::lock_guard lock(mutex);
            if (schedulesFail) throw std::bad_alloc();
            pauses.push_back(seconds);
            timers.push_back({nowSeconds() + seconds, std::move(fn)});
        };
        options.exchange = [this](const PreviewExchangeRequest& request, const std::function<bool()>&,
                                  const PreviewFrameSink& sink) {
            {
                std::lock_guard lock(mutex);
                requests.push_back(request);
            }
            return behaviour(request, sink);
        };
        if (adjust) adjust(options);
        store = std::make_unique<LivePreviewStore>(options);
    }

    double nowSeconds() const { return clock.monotonicMs() / 1000.0; }

    LiveCamera camera(const std::string& id, const std::string& host = "127.0.0.2",
                      std::optional<std::string> session = "s1") const {
        LiveCamera c;
        c.id = id;
        c.role = "CAMERA";
        c.host = host;
        c.sourceSessionID = std::move(session);
        // Seen "in the future": online whatever the test does with the clock.
        c.lastSeen = clock.now() + std::chrono::hours(24);
        return c;
    }

    // Takes the first of `queue` under the lock; empty when none is left.
    std::function<void()> take(std::deque<std::function<void()>>& queue) {
        std::lock_guard lock(mutex);
        if (queue.empty()) return {};
        auto fn = std::move(queue.front());
        queue.pop_front();
        return fn;
    }
    // Runs the next posted GUI-thread step; false when none is left.
    bool mainStep() {
        auto fn = take(main);
        if (fn) fn();
        return bool(fn);
    }
    void drainMain() {
        while (mainStep()) {
        }
    }
    // Runs every started worker body on this thread, one after another.
    void runWorkers() {
        while (auto body = take(tasks)) body();
    }
    void settle() {
        runWorkers();
        drainMain();
    }
    // Moves the clocks on and fires the timers that fall due, in order.
    void advance(double seconds) {
        clock.advanceMs(seconds * 1000.0);
        for (;;) {
            auto due = std::min_element(timers.begin(), timers.end(), [](auto& a, auto& b) { return a.at < b.at; });
            if (due == timers.end() || due->at > nowSeconds() + 1e-9) break;
            auto fn = std::move(due->fn);
            timers.erase(due);
            fn();
        }
    }
    std::size_t pendingTasks() {
        std::lock_guard lock(mutex);
        return tasks.size();
    }

    ManualClock clock{WallTime{} + std::chrono::hours(1000), 5'000'000.0};
    Behaviour behaviour = failsWith(Error::connectionFailed);
    // Make the executors themselves fail, as they may when memory or threads run out.
    bool postsFail = false;
    bool launchesFail = false;
    bool schedulesFail = false;
    std::mutex mutex;
    std::deque<std::function<void()>> main;
    std::deque<std::function<void()>> tasks;
    struct Timer {
        double at;
        std::function<void()> fn;
    };
    std::vector<Timer> timers;
    std::vector<double> pauses;
    std::vector<PreviewExchangeRequest> requests;
    std::unique_ptr<LivePreviewStore> store;
};

Behaviour streams(int frames, int width = 8) {
    return [=](const PreviewExchangeRequest&, const PreviewFrameSink& sink) -> Transport {
        for (int i = 0; i < frames; ++i) sink(image(width), Transport::persistent);
        throw VELKPreviewError(Error::transportFailed);
    };
}

// One frame, then a clean end, over `transport`.
Behaviour oneFrame(Transport transport = Transport::persistent) {
    return [=](const PreviewExchangeRequest&, const PreviewFrameSink& sink) {
        sink(image(8), transport);
        return transport;
    };
}

// A frame whose width tells the camera's host apart: 2 from 127.0.0.2, 3 from elsewhere.
Behaviour widthByHost(bool firstHostFails = false) {
    return [=](const PreviewExchangeRequest& request, const PreviewFrameSink& sink) {
        const bool first = request.host == "127.0.0.2";
        sink(image(first ? 2 : 3), Transport::persistent);
        if (first && firstHostFails) throw VELKPreviewError(Error::transportFailed);
        return Transport::persistent;
    };
}

// Nothing starts before start(); then only the first eight eligible cameras get wall streams, and a
// selected stream only where the camera is eligible.
TEST(LivePreviewStore, StartsOnStartOnlyTheFirstEightEligibleCameras) {
    Harness h;
    std::vector<LiveCamera> cameras;
    auto director = h.camera("director");
    director.role = "Director";
    auto offline = h.camera("offline");
    offline.lastSeen = h.clock.now() - std::chrono::seconds(7);
    cameras.push_back(director);
    cameras.push_back(offline);
    for (int i = 0; i < 10; ++i) cameras.push_back(h.camera("c" + std::to_string(i)));
    h.store->update(cameras);
    h.store->select({"c0", "c9", "director", "offline"});
    EXPECT_EQ(h.pendingTasks(), 0u);
    EXPECT_TRUE(h.main.empty());
    h.store->start(cameras);
    const auto state = h.store->engineState();
    EXPECT_EQ(state.activeTokens.size(), 9u);
    EXPECT_TRUE(state.activeTokens.count({"c0", VELKPreviewProfile::selected}));
    EXPECT_FALSE(state.activeTokens.count({"c8", VELKPreviewProfile::wall}));
    EXPECT_FALSE(state.activeTokens.count({"director", VELKPreviewProfile::wall}));
}

TEST(LivePreviewStore, FrameTimeKeepsTheFirstFrame) {
    Harness h;
    h.behaviour = streams(1);
    h.store->start({h.camera("cam")});
    const WallTime first = h.clock.now();
    h.settle();
    EXPECT_EQ(h.store->errors().at("cam"), "Preview response was incomplete");
    h.advance(0.5);
    h.behaviour = oneFrame();
    h.settle();
    // A failure removes the frame but not the time of the first frame.
    ASSERT_EQ(h.store->frameTimes().count("cam"), 1u);
    EXPECT_EQ(h.store->frameTimes().at("cam"), first);
    h.advance(0.35);
    h.settle();
    EXPECT_EQ(h.store->frameTimes().at("cam"), first);
    EXPECT_EQ(h.store->wallTransports().at("cam"), Transport::persistent);
    EXPECT_TRUE(h.store->errors().empty());
    EXPECT_EQ(h.store->engineState().failureCounts.at(kWall), 0);
    EXPECT_TRUE(h.store->engineState().legacyHosts.empty());
}

TEST(LivePreviewStore, LegacyPreferenceBackoffAndProbeAgainOnTheMonotonicClock) {
    Harness h;
    h.behaviour = oneFrame(Transport::legacy);
    h.store->start({h.camera("cam")});
    h.settle();
    EXPECT_EQ(h.store->wallTransports().at("cam"), Transport::legacy);
    EXPECT_EQ(h.store->engineState().legacyHosts.at(kWall), "127.0.0.2");
    EXPECT_EQ(h.pauses, std::vector<double>{0.35});
    h.advance(0.35);
    h.behaviour = failsWith(Error::connectionFailed);
    // A wall clock stepping back an hour neither keeps nor drops the preference.
    h.clock.setWall(h.clock.now() - std::chrono::hours(1));
    h.runWorkers();
    ASSERT_EQ(h.requests.size(), 2u);
    EXPECT_TRUE(h.requests[1].preferLegacy);
    h.drainMain();
    EXPECT_EQ(h.store->errors().at("cam"), "Preview connection failed");
    EXPECT_FALSE(h.store->wallFrames().count("cam"));
    EXPECT_FALSE(h.store->wallTransports().count("cam"));
    // 0.35 + 0.5 + 1 + 2 + 4 + 8 + 8 + 8 s: the preference set at 0 s expires at 30 s.
    for (int i = 0; i < 7; ++i) {
        h.advance(h.pauses.back());
        h.settle();
    }
    EXPECT_EQ(h.pauses, (std::vector<double>{0.35, 0.5, 1, 2, 4, 8, 8, 8, 8}));
    ASSERT_EQ(h.requests.size(), 9u);
    EXPECT_TRUE(h.requests[7].preferLegacy);   // started at 23.85 s
    EXPECT_FALSE(h.requests[8].preferLegacy);  // started at 31.85 s
    EXPECT_EQ(h.store->engineState().failureCounts.at(kWall), 5);
    // One frame clears the error and the count: the next failure waits 0.5 s again.
    h.advance(8);
    h.behaviour = streams(1);
    h.settle();
    EXPECT_EQ(h.store->engineState().failureCounts.at(kWall), 1);
    EXPECT_EQ(h.pauses.back(), 0.5);
    EXPECT_TRUE(h.store->engineState().legacyHosts.empty());
}

TEST(LivePreviewStore, PreferenceOfAnotherHostIsIgnored) {
    Harness h;
    h.behaviour = oneFrame(Transport::legacy);
    h.store->start({h.camera("cam", "127.0.0.2", std::nullopt)});
    h.settle();
    h.store->update({h.camera("cam", "127.0.0.3", std::nullopt)});
    h.runWorkers();
    EXPECT_FALSE(h.requests.back().preferLegacy);
    EXPECT_EQ(h.requests.back().host, "127.0.0.3");
}

// Each stream decodes into a frame pool of its own, kept while the stream restarts; the pool ends,
// giving its memory back, when the stream ends: a new session, a camera no longer selected, stop().
TEST(LivePreviewStore, EachStreamKeepsOneFramePoolUntilItEnds) {
    Harness h;
    const auto ended = [](const std::shared_ptr<FramePool>& pool) { return !pool->take(64); };
    h.store->select({"cam"});
    h.store->start({h.camera("cam", "127.0.0.2", "s1")});
    h.store->update({h.camera("cam", "127.0.0.2", "s2")}); // the first workers have not run yet
    h.runWorkers();
    ASSERT_EQ(h.requests.size(), 4u);
    for (const auto& request : h.requests) ASSERT_TRUE(request.frames);
    EXPECT_TRUE(ended(h.requests[0].frames) && ended(h.requests[1].frames)) << "the first session's";
    const auto wall = h.requests[2].frames, selected = h.requests[3].frames;
    EXPECT_EQ(h.requests[2].profile, VELKPreviewProfile::wall);
    EXPECT_NE(wall, selected);
    EXPECT_FALSE(ended(wall) || ended(selected));
    h.drainMain();
    h.advance(0.5); // both failed: they restart with the same pools
    h.runWorkers();
    ASSERT_EQ(h.requests.size(), 6u);
    EXPECT_EQ(h.requests[4].frames, wall);
    EXPECT_EQ(h.requests[5].frames, selected);
    h.drainMain();
    h.store->select({}); // while both wait for their restart
    EXPECT_TRUE(ended(selected));
    EXPECT_FALSE(ended(wall));
    EXPECT_EQ(h.store->engineState().framePools, std::set<PreviewStreamKey>{kWall});
    h.store->stop();
    EXPECT_TRUE(ended(wall));
    EXPECT_TRUE(h.store->engineState().framePools.empty());
}

TEST(LivePreviewStore, RestartedStreamLosesItsOldEntriesBeforeItsFirstFrame) {
    Harness h;
    h.behaviour = widthByHost();
    h.store->start({h.camera("cam")});
    h.settle();
    ASSERT_EQ(h.store->wallFrames().at("cam").width(), 2);
    h.store->update({h.camera("cam", "127.0.0.2", "s2")});  // a new source session
    h.runWorkers();
    ASSERT_TRUE(h.mainStep());
    EXPECT_FALSE(h.store->wallFrames().count("cam"));
    EXPECT_FALSE(h.store->frameTimes().count("cam"));
    h.drainMain();
    EXPECT_EQ(h.store->wallFrames().at("cam").width(), 2);
}

TEST(LivePreviewStore, SupersededWorkerChangesNothing) {
    Harness h;
    h.behaviour = widthByHost(true);
    h.store->start({h.camera("cam")});
    h.store->update({h.camera("cam", "127.0.0.3")});
    const auto token = h.store->engineState().activeTokens.at(kWall);
    h.settle();  // the old worker runs first: its frame, failure and restart are dropped
    EXPECT_EQ(h.store->wallFrames().at("cam").width(), 3);
    EXPECT_TRUE(h.store->errors().empty());
    EXPECT_EQ(h.pauses, std::vector<double>{0.35});
    EXPECT_EQ(h.store->engineState().lastTokens.at(kWall), token);
}

TEST(LivePreviewStore, OldRestartDoesNotCutANewerBackoffShort) {
    Harness h;
    h.store->start({h.camera("cam")});
    h.settle();                       // fails: restart due at 0.5 s
    h.store->update({h.camera("cam")});  // the liveness tick starts it at once
    h.settle();                       // fails again: restart due at 1 s
    EXPECT_EQ(h.pauses, (std::vector<double>{0.5, 1}));
    h.advance(0.5);
    EXPECT_EQ(h.pendingTasks(), 0u);
    h.advance(0.5);
    EXPECT_EQ(h.pendingTasks(), 1u);
}

// The text shown is the error's own: a preview failure's sentence, any other exception's what(),
// and for an exception without one a fixed text. Every one of them backs off and restarts.
TEST(LivePreviewStore, AnyExceptionEndsTheExchangeWithItsOwnTextAndRestarts) {
    struct Case {
        std::function<void()> fail;
        std::string text;
    } cases[] = {
        {[] { throw VELKPreviewError(Error::invalidLength); }, "Preview frame size was rejected"},
        {[] { throw std::runtime_error("Decoder ran out of frame buffers"); }, "Decoder ran out of frame buffers"},
        {[] { throw 42; }, "Unknown error."},
    };
    for (const auto& c : cases) {
        Harness h;
        h.behaviour = [&](const PreviewExchangeRequest&, const PreviewFrameSink&) -> Transport {
            c.fail();
            return Transport::persistent;
        };
        h.store->start({h.camera("cam")});
        h.settle();
        EXPECT_EQ(h.store->errors().at("cam"), c.text);
        h.advance(0.5);
        h.settle();
        EXPECT_EQ(h.pauses, (std::vector<double>{0.5, 1})) << c.text;
        EXPECT_EQ(h.requests.size(), 2u) << c.text;
    }
}

// However the end of an exchange fails, the stream is not left for ever without a worker: the
// timer restarts it, or, when even the timer or the worker's thread cannot be had, the next
// reconcile (the liveness tick) does.
TEST(LivePreviewStore, EndStepThatCannotPostStillRestartsTheStream) {
    Harness h;
    h.store->start({h.camera("cam")});
    h.drainMain();
    h.postsFail = true;
    EXPECT_NO_THROW(h.runWorkers());
    h.postsFail = false;
    EXPECT_TRUE(h.store->errors().empty());  // the text was lost with the post
    EXPECT_EQ(h.pauses, std::vector<double>{0.5});
    h.advance(0.5);
    EXPECT_EQ(h.pendingTasks(), 1u);
}

TEST(LivePreviewStore, StreamWithoutTimerOrThreadIsStartedByTheNextReconcile) {
    for (const bool timerFails : {true, false}) {
        Harness h;
        h.store->start({h.camera("cam")});
        h.schedulesFail = timerFails;
        EXPECT_NO_THROW(h.settle());
        h.schedulesFail = false;
        h.drainMain();
        EXPECT_EQ(h.store->errors(), (LivePreviewStore::TextMap{{"cam", "Preview connection failed"}}));
        if (!timerFails) {
            // The timer fires, but no thread can be had for the worker.
            h.launchesFail = true;
            EXPECT_NO_THROW(h.advance(0.5));
            h.launchesFail = false;
        }
        EXPECT_EQ(h.pendingTasks(), 0u);
        EXPECT_FALSE(h.store->engineState().activeTokens.count(kWall));
        h.store->update({h.camera("cam")});
        EXPECT_EQ(h.pendingTasks(), 1u) << (timerFails ? "timer" : "thread");
    }
}

TEST(LivePreviewStore, SessionlessCameraMovingHostLosesItsStaleError) {
    Harness h;
    h.store->start({h.camera("cam", "127.0.0.2", std::nullopt)});
    h.settle();
    EXPECT_EQ(h.store->errors().at("cam"), "Preview connection failed");
    QSignalSpy errors(h.store.get(), &LivePreviewStore::errorsChanged);
    h.store->update({h.camera("cam", "127.0.0.3", std::nullopt)});
    h.drainMain();
    EXPECT_FALSE(h.store->errors().count("cam"));
    EXPECT_EQ(errors.count(), 1);
}

TEST(LivePreviewStore, SelectedFailureKeepsTheWallFrame) {
    Harness h;
    h.behaviour = [](const PreviewExchangeRequest& request, const PreviewFrameSink& sink) {
        if (request.profile == VELKPreviewProfile::selected) throw VELKPreviewError(Error::invalidJPEG);
        sink(image(8), Transport::persistent);
        return Transport::persistent;
    };
    h.store->select({"cam"});
    h.store->start({h.camera("cam")});
    h.settle();
    EXPECT_TRUE(h.store->wallFrames().count("cam"));
    EXPECT_FALSE(h.store->selectedFrames().count("cam"));
    EXPECT_EQ(h.store->errors().at("cam"), "Preview frame was not a valid JPEG");
    h.advance(0.35);  // the wall stream's next frame clears the shared error text
    h.settle();
    EXPECT_TRUE(h.store->errors().empty());
    // Deselecting removes the selected stream's frame time too, but not the wall's entries.
    h.store->select({});
    h.drainMain();
    EXPECT_TRUE(h.store->wallFrames().count("cam"));
}

// Frames that come while the GUI thread is busy wait one a stream: a newer one takes the place of
// the one waiting, and the GUI thread shows the latest.
TEST(LivePreviewStore, FramesWaitingForABusyGuiThreadAreOneAStream) {
    Harness one;
    Harness many;
    one.behaviour = oneFrame();
    many.behaviour = [](const PreviewExchangeRequest&, const PreviewFrameSink& sink) {
        for (int width = 4; width <= 40; ++width) sink(image(width), Transport::persistent);
        return Transport::persistent;
    };
    for (Harness* h : {&one, &many}) {
        h->store->start({h->camera("cam")});
        h->drainMain();
        h->runWorkers();
    }
    EXPECT_EQ(many.main.size(), one.main.size());
    many.drainMain();
    ASSERT_TRUE(many.store->wallFrames().count("cam"));
    EXPECT_EQ(many.store->wallFrames().at("cam").width(), 40);
}

TEST(LivePreviewStore, RepeatedUpdateSignalsNothing) {
    Harness h;
    h.behaviour = oneFrame();
    const auto cameras = std::vector<LiveCamera>{h.camera("cam")};
    h.store->start(cameras);
    h.settle();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (auto signal : {&LivePreviewStore::wallFramesChanged, &LivePreviewStore::selectedFramesChanged,
                        &LivePreviewStore::errorsChanged, &LivePreviewStore::frameTimesChanged,
                        &LivePreviewStore::wallTransportsChanged, &LivePreviewStore::selectedTransportsChanged}) {
        spies.push_back(std::make_unique<QSignalSpy>(h.store.get(), signal));
    }
    h.store->update(cameras);
    h.store->update(cameras);
    h.drainMain();
    for (const auto& spy : spies) EXPECT_EQ(spy->count(), 0);
}

TEST(LivePreviewStore, StopEmptiesEverythingAndSilencesOldWorkers) {
    Harness h;
    h.store->start({h.camera("cam")});
    h.settle();  // failed: error shown, restart pending
    h.store->update({h.camera("cam")});
    bool socketsShutDown = false;
    h.behaviour = [&](const PreviewExchangeRequest& request, const PreviewFrameSink& sink) -> Transport {
        sink(image(8), Transport::persistent);
        h.store->stop();
        socketsShutDown = request.watch->isShutDown();
        throw VELKPreviewError(Error::transportFailed);
    };
    h.runWorkers();
    EXPECT_TRUE(socketsShutDown);
    h.drainMain();
    EXPECT_TRUE(h.store->wallFrames().empty());
    EXPECT_TRUE(h.store->errors().empty());
    h.advance(10);
    EXPECT_EQ(h.pendingTasks(), 0u);
    h.store->update({h.camera("cam")});
    h.store->select({"cam"});
    EXPECT_EQ(h.pendingTasks(), 0u);
    EXPECT_FALSE(h.store->engineState().running);
}

// The owner goes away while a worker blocks in its exchange: the worker wakes (its sockets are
// shut down), ends without touching the store, and nothing leaks or is used after being freed.
TEST(LivePreviewStore, DestroyedWhileAWorkerBlocks) {
    std::vector<std::thread> threads;
    std::mutex startedMutex;
    std::condition_variable startedCondition;
    bool started = false;
    bool wokeByShutdown = false;
    Harness h([&](LivePreviewStore::Options& options) {
        options.launchWorker = [&](VELKPreviewProfile, std::function<void()> body) { threads.emplace_back(std::move(body)); };
        options.exchange = [&](const PreviewExchangeRequest& request, const std::function<bool()>&,
                               const PreviewFrameSink&) -> Transport {
            {
                std::lock_guard lock(startedMutex);
                started = true;
            }
            startedCondition.notify_all();
            for (int i = 0; i < 500 && !request.watch->isShutDown(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            wokeByShutdown = request.watch->isShutDown();
            throw VELKPreviewError(Error::transportFailed);
        };
    });
    h.store->start({h.camera("cam")});
    {
        std::unique_lock lock(startedMutex);
        startedCondition.wait(lock, [&] { return started; });
    }
    h.drainMain();
    h.store.reset();
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(wokeByShutdown);
    EXPECT_TRUE(h.main.empty());
}

} // namespace
} // namespace velk

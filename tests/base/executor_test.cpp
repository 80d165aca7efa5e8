#include "base/executor.hpp"
#include "base/worker_pool.hpp"

#include <atomic>
#include <future>
#include <numeric>
#include <stdexcept>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "base/worker_pool.hpp"

namespace velk {
namespace {

constexpr int kGiveUpMs = 10'000; // only a bound against hanging; nothing is timed

class ExecutorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "velk_base_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) {
            static QCoreApplication app(argc, argv);
        }
    }

    // Runs the GUI thread's events until `done` holds (or the bound is reached).
    static bool spinUntil(const std::function<bool()>& done) {
        for (int i = 0; i < kGiveUpMs && !done(); ++i) {
            QCoreApplication::processEvents();
            if (!done()) QThread::msleep(1);
        }
        return done();
    }

    template <class T>
    static bool ready(std::future<T>& future) {
        return future.wait_for(std::chrono::milliseconds(kGiveUpMs)) == std::future_status::ready;
    }

    static QThread* guiThread() { return QCoreApplication::instance()->thread(); }
};

TEST_F(ExecutorTest, WorkerResultsComeBackOnTheContextThread) {
    QObject context;
    std::atomic<QThread*> workThread{nullptr};
    QThread* valueThread = nullptr;
    QThread* voidThread = nullptr;
    int delivered = 0;
    runThenCallback(&context, [&] { return workThread = QThread::currentThread(), 42; },
                    [&](int value) { valueThread = QThread::currentThread(), delivered = value; });
    runThenCallback(&context, [] {}, [&] { voidThread = QThread::currentThread(); });
    ASSERT_TRUE(spinUntil([&] { return delivered != 0 && voidThread != nullptr; }));
    EXPECT_EQ(delivered, 42);
    EXPECT_EQ(valueThread, guiThread());
    EXPECT_EQ(voidThread, guiThread());
    EXPECT_NE(workThread.load(), guiThread());
}

TEST_F(ExecutorTest, WorkForADeletedContextIsDropped) {
    bool called = false;
    auto* context = new QObject;
    postTo(context, [&] { called = true; });
    postTo(nullptr, [&] { called = true; });

    // The result is released once the worker has decided whether to post the callback.
    auto* resultContext = new QObject;
    std::promise<void> contextGone, resultReleased;
    runThenCallback(
        resultContext,
        [gone = contextGone.get_future().share(), released = &resultReleased] {
            gone.wait();
            return std::shared_ptr<int>(new int(0), [released](int* p) { delete p, released->set_value(); });
        },
        [&](std::shared_ptr<int>) { called = true; });
    delete context;
    delete resultContext;
    contextGone.set_value();
    // The result comes back to the GUI thread, which finds the context gone and releases it.
    auto released = resultReleased.get_future();
    ASSERT_TRUE(spinUntil([&] { return released.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(called);
}

TEST_F(ExecutorTest, AContextDestroyedAsItsWorkEndsIsNeverTouchedByTheWorker) {
    // The GUI thread destroys the context at every moment of the worker's end, from before its
    // result exists to after it was posted; the worker must not look at the object meanwhile.
    for (int round = 0; round < 200; ++round) {
        auto* context = new QObject;
        std::promise<void> go;
        std::atomic<bool> returned{false};
        bool called = false;
        runThenCallback(
            context,
            [go = go.get_future().share(), &returned] {
                go.wait();
                returned = true;
                return 1;
            },
            [&](int) { called = true; });
        go.set_value();
        while (!returned.load()) {
        }
        for (int spin = 0; spin < round % 50 * 20; ++spin) (void)returned.load(std::memory_order_relaxed);
        delete context;
        ASSERT_TRUE(spinUntil([] { return workers::busyCount() == 0; }));
        QCoreApplication::sendPostedEvents();
        EXPECT_FALSE(called) << round;
    }
}

// What a posted function holds ends with its call, on the thread that runs it, also when that
// thread runs it before the posting thread is back from posting: Qt's queue keeps a share of the
// call for the poster until then, and its last share would otherwise end there.
TEST_F(ExecutorTest, WhatAPostedFunctionHoldsEndsOnTheThreadThatRunsIt) {
    struct Witness {
        explicit Witness(std::atomic<QThread*>* endedOn) : endedOn(endedOn) {}
        Witness(const Witness&) = delete;
        ~Witness() { *endedOn = QThread::currentThread(); }
        std::atomic<QThread*>* endedOn;
    };
    for (int round = 0; round < 300; ++round) {
        std::atomic<QThread*> endedOn{nullptr};
        std::atomic<bool> posted{false};
        launchWorker([&] {
            auto witness = std::make_shared<Witness>(&endedOn);
            postToGui([witness = std::move(witness)] {});
            posted = true;
        });
        // The GUI thread takes up the call as soon as it is queued.
        for (int spins = 0; spins < 100 * kGiveUpMs && (!posted.load() || !endedOn.load()); ++spins) {
            QCoreApplication::sendPostedEvents();
        }
        ASSERT_TRUE(spinUntil([&] { return endedOn.load() != nullptr; }));
        EXPECT_EQ(endedOn.load(), guiThread()) << round;
    }
}

TEST_F(ExecutorTest, WorkersRunSideBySideOffTheGuiThread) {
    std::atomic<QThread*> guiRanOn{nullptr};
    launchWorker([&] { postToGui([&] { guiRanOn = QThread::currentThread(); }); });
    ASSERT_TRUE(spinUntil([&] { return guiRanOn.load() != nullptr; }));
    EXPECT_EQ(guiRanOn.load(), guiThread());

    // Exceptions stay inside their worker.
    launchWorker([] { throw std::runtime_error("worker failure"); });
    launchWorker([] { throw 7; });

    // Sixteen workers that each wait for all the others only finish if they run side by side.
    constexpr int kWorkers = 16;
    std::atomic<int> arrived{0}, finished{0};
    for (int i = 0; i < kWorkers; ++i) {
        launchWorker([&] {
            ++arrived;
            for (int spins = 0; arrived.load() < kWorkers && spins < kGiveUpMs; ++spins) QThread::msleep(1);
            ++finished;
        });
    }
    for (int spins = 0; finished.load() < kWorkers && spins < 2 * kGiveUpMs; ++spins) QThread::msleep(1);
    EXPECT_EQ(arrived.load(), kWorkers);
    EXPECT_EQ(finished.load(), kWorkers);
}

// Blocking work yields the processors to the GUI thread: workers run at a lower priority (a higher
// nice value) than the thread that first used them.
TEST_F(ExecutorTest, WorkersRunBelowTheGuiThreadsPriority) {
    auto workerNice = workers::submit([] { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())); });
    ASSERT_TRUE(ready(workerNice));
    const int gui = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    // Started already at the lowest priority (`nice -n 19`), there is no lower one to give.
    if (gui == 19) {
        EXPECT_EQ(workerNice.get(), 19);
    } else {
        EXPECT_GT(workerNice.get(), gui);
    }
}

TEST_F(ExecutorTest, ServiceThreadRunsWorkInOrderOnItsOwnThread) {
    std::uintptr_t serviceThread = 0, contextDeletedOn = 0;
    bool childDeleted = false;
    {
        ServiceThread service("velk-test-service");
        serviceThread = reinterpret_cast<std::uintptr_t>(service.thread());
        EXPECT_NE(service.thread(), guiThread());
        EXPECT_EQ(service.context()->thread(), service.thread());
        EXPECT_EQ(service.thread()->objectName(), "velk-test-service");
        EXPECT_FALSE(service.isCurrent());

        std::vector<int> order; // touched only on the service thread until the blocking read below
        bool allOnThread = true;
        for (int i = 0; i < 100; ++i) service.post([&, i] { allOnThread = allOnThread && service.isCurrent(), order.push_back(i); });
        std::vector<int> seen;
        service.invokeBlocking([&] { seen = order, allOnThread = allOnThread && service.isCurrent(); });
        std::vector<int> expected(100);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(seen, expected);
        EXPECT_TRUE(allOnThread);

        // On its own thread a blocking call runs directly instead of waiting for itself; from there the
        // GUI thread can be called blocking too.
        std::promise<bool> nested;
        QThread* guiCallOn = nullptr;
        service.post([&] {
            bool inner = false;
            service.invokeBlocking([&] { inner = true; });
            invokeBlocking(QCoreApplication::instance(), [&] { guiCallOn = QThread::currentThread(); });
            nested.set_value(inner);
        });
        auto future = nested.get_future();
        ASSERT_TRUE(spinUntil([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        EXPECT_TRUE(future.get());
        EXPECT_EQ(guiCallOn, guiThread());

        // An exception reaches the caller and the thread keeps serving.
        EXPECT_THROW(service.invokeBlocking([] { throw std::runtime_error("inside"); }), std::runtime_error);
        service.invokeBlocking([&] {
            auto* child = new QObject(service.context());
            QObject::connect(child, &QObject::destroyed, [&] { childDeleted = true; });
            QObject::connect(service.context(), &QObject::destroyed,
                             [&] { contextDeletedOn = reinterpret_cast<std::uintptr_t>(QThread::currentThread()); });
        });
    }
    // Stopping deletes the context, with its children, on the service thread.
    EXPECT_TRUE(childDeleted);
    EXPECT_EQ(contextDeletedOn, serviceThread);
}

} // namespace
} // namespace velk

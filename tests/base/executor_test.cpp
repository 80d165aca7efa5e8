#include "base/executor.hpp"

#include <atomic>
#include <future>
#include <stdexcept>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace velk {
namespace {

constexpr int kGiveUpMs = 10'000; // only a bound against hanging; nothing is timed

class ExecutorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "velk_base_tests";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }

    // Runs the GUI thread's event loop until `done` holds (or the bound is reached).
    static bool spinUntil(const std::function<bool()>& done) {
        QEventLoop loop;
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
        giveUp.start(kGiveUpMs);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done()) loop.quit();
        });
        poll.start(1);
        if (!done()) loop.exec();
        return done();
    }

    static QThread* guiThread() { return QCoreApplication::instance()->thread(); }
};

TEST_F(ExecutorTest, WorkerResultIsDeliveredOnTheContextThread) {
    QObject context;
    std::atomic<QThread*> workThread{nullptr};
    QThread* doneThread = nullptr;
    int delivered = 0;
    runThenCallback(
        &context,
        [&] {
            workThread = QThread::currentThread();
            return 42;
        },
        [&](int value) {
            doneThread = QThread::currentThread();
            delivered = value;
        });
    ASSERT_TRUE(spinUntil([&] { return delivered != 0; }));
    EXPECT_EQ(delivered, 42);
    EXPECT_EQ(doneThread, guiThread());
    EXPECT_NE(workThread.load(), guiThread());
}

TEST_F(ExecutorTest, WorkWithoutResultStillCallsBackOnTheContextThread) {
    QObject context;
    std::atomic<bool> worked{false};
    QThread* doneThread = nullptr;
    runThenCallback(&context, [&] { worked = true; }, [&] { doneThread = QThread::currentThread(); });
    ASSERT_TRUE(spinUntil([&] { return doneThread != nullptr; }));
    EXPECT_TRUE(worked.load());
    EXPECT_EQ(doneThread, guiThread());
}

// Signals when the last copy of a result is gone, i.e. when the worker has decided whether to
// post the callback.
struct Probe {
    explicit Probe(std::promise<void>* promise) : released(promise) {}
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    ~Probe() { released->set_value(); }
    std::promise<void>* released;
};

TEST_F(ExecutorTest, CallbackIsDroppedWhenTheContextIsDeletedFirst) {
    auto* context = new QObject;
    std::promise<void> contextGone;
    std::promise<void> resultReleased;
    bool called = false;
    runThenCallback(
        context,
        [gone = contextGone.get_future().share(), released = &resultReleased] {
            gone.wait();
            return std::make_shared<Probe>(released);
        },
        [&](std::shared_ptr<Probe>) { called = true; });
    delete context;
    contextGone.set_value();
    ASSERT_EQ(resultReleased.get_future().wait_for(std::chrono::milliseconds(kGiveUpMs)), std::future_status::ready);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(called);
}

TEST_F(ExecutorTest, PostedWorkIsDroppedWithItsContext) {
    auto* context = new QObject;
    bool called = false;
    postTo(context, [&] { called = true; });
    postTo(nullptr, [&] { called = true; });
    delete context;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(called);
}

TEST_F(ExecutorTest, PostToGuiRunsOnTheGuiThread) {
    std::atomic<QThread*> ranOn{nullptr};
    launchWorker([&] { postToGui([&] { ranOn = QThread::currentThread(); }); });
    ASSERT_TRUE(spinUntil([&] { return ranOn.load() != nullptr; }));
    EXPECT_EQ(ranOn.load(), guiThread());
}

TEST_F(ExecutorTest, AWorkerExceptionIsContained) {
    std::promise<QThread*> ranOn;
    launchWorker([] { throw std::runtime_error("worker failure"); });
    launchWorker([] { throw 7; });
    launchWorker([&] { ranOn.set_value(QThread::currentThread()); });
    auto future = ranOn.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::milliseconds(kGiveUpMs)), std::future_status::ready);
    EXPECT_NE(future.get(), guiThread());
}

TEST_F(ExecutorTest, ManyBlockingWorkersRunAtOnce) {
    // Sixteen workers that each wait for all the others only finish if they run side by side.
    constexpr int kWorkers = 16;
    std::atomic<int> arrived{0};
    std::atomic<int> finished{0};
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

TEST_F(ExecutorTest, ServiceThreadRunsPostedWorkInOrderOnItsThread) {
    ServiceThread service("velk-test-service");
    EXPECT_NE(service.thread(), guiThread());
    EXPECT_EQ(service.context()->thread(), service.thread());
    EXPECT_EQ(service.thread()->objectName(), "velk-test-service");
    EXPECT_FALSE(service.isCurrent());

    std::vector<int> order; // touched only on the service thread until the blocking read below
    bool allOnThread = true;
    for (int i = 0; i < 100; ++i) {
        service.post([&, i] {
            allOnThread = allOnThread && service.isCurrent();
            order.push_back(i);
        });
    }
    std::vector<int> seen;
    service.invokeBlocking([&] { seen = order; });
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(allOnThread);
}

TEST_F(ExecutorTest, InvokeBlockingReturnsAfterTheWorkRan) {
    ServiceThread service("velk-test-blocking");
    bool ran = false;
    QThread* ranOn = nullptr;
    service.invokeBlocking([&] {
        ran = true;
        ranOn = QThread::currentThread();
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(ranOn, service.thread());

    // On its own thread the call runs directly instead of waiting for itself.
    std::promise<bool> nested;
    service.post([&] {
        bool inner = false;
        service.invokeBlocking([&] { inner = true; });
        nested.set_value(inner);
    });
    auto future = nested.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::milliseconds(kGiveUpMs)), std::future_status::ready);
    EXPECT_TRUE(future.get());

    EXPECT_THROW(service.invokeBlocking([] { throw std::runtime_error("inside"); }), std::runtime_error);
    bool stillRunning = false;
    service.invokeBlocking([&] { stillRunning = true; });
    EXPECT_TRUE(stillRunning);
}

TEST_F(ExecutorTest, ServiceThreadInvokesTheGuiThreadBlocking) {
    ServiceThread service("velk-test-to-gui");
    std::atomic<bool> done{false};
    QThread* ranOn = nullptr;
    service.post([&] {
        invokeBlocking(QCoreApplication::instance(), [&] { ranOn = QThread::currentThread(); });
        done = true;
    });
    ASSERT_TRUE(spinUntil([&] { return done.load(); }));
    EXPECT_EQ(ranOn, guiThread());
}

TEST_F(ExecutorTest, ServiceThreadDeletesItsContextOnItsOwnThread) {
    std::uintptr_t serviceThread = 0;
    std::uintptr_t deletedOn = 0;
    bool childDeleted = false;
    {
        ServiceThread service("velk-test-teardown");
        serviceThread = reinterpret_cast<std::uintptr_t>(service.thread());
        service.invokeBlocking([&] {
            auto* child = new QObject(service.context());
            QObject::connect(child, &QObject::destroyed, [&] { childDeleted = true; });
            QObject::connect(service.context(), &QObject::destroyed,
                             [&] { deletedOn = reinterpret_cast<std::uintptr_t>(QThread::currentThread()); });
        });
    }
    EXPECT_TRUE(childDeleted);
    EXPECT_EQ(deletedOn, serviceThread);
}

} // namespace
} // namespace velk

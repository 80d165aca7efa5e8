#pragma once
// How work moves between threads: the GUI thread owns every published property; blocking work
// runs on workers; a long-lived service runs serially on a thread with its own event loop.

#include <functional>
#include <memory>
#include <type_traits>

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>

namespace velk {

// Runs `fn` on the thread of `context` (queued), where what `fn` holds is destroyed with the call.
// Dropped when `context` is destroyed first.
void postTo(QObject* context, std::function<void()> fn);
// Runs `fn` on the application's GUI thread (queued).
void postToGui(std::function<void()> fn);
// Runs `fn` on `context`'s thread and waits for it; runs it directly when already there.
// Only for service threads calling the GUI thread, never the other way round.
void invokeBlocking(QObject* context, const std::function<void()>& fn);

// Starts `work` on a worker thread (the one pool of base/worker_pool.hpp, never the GUI thread).
// Exceptions are caught and dropped; callers that care catch inside `work`.
void launchWorker(std::function<void()> work);
// Lets the work under way and queued end, then joins every worker thread. The application calls it
// once its event loop has returned and the objects that cancel their work are gone, before static
// destruction; afterwards no work runs.
void shutdownWorkers();

// Runs `work` on a worker, then `done(result)` on the GUI thread while `context`, an object of the
// GUI thread, still exists. Whether it does is asked on the GUI thread, where it can be destroyed,
// never on the worker: between a worker's look and its post the object could go.
template <class Work, class Done>
void runThenCallback(QObject* context, Work work, Done done) {
    Q_ASSERT(!context || !QCoreApplication::instance() || context->thread() == QCoreApplication::instance()->thread());
    QPointer<QObject> guard(context); // copied across threads, read only on the GUI thread
    launchWorker([guard, work = std::move(work), done = std::move(done)]() mutable {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            postToGui([guard, done = std::move(done)]() mutable {
                if (guard) done();
            });
        } else {
            auto result = std::make_shared<decltype(work())>(work());
            postToGui([guard, result, done = std::move(done)]() mutable {
                if (guard) done(std::move(*result));
            });
        }
    });
}

// A thread with its own event loop on which posted functions, socket notifiers and timers of its
// objects run serially. `context()` lives on that thread; objects parented to it do too.
class ServiceThread {
public:
    explicit ServiceThread(const char* name);
    ~ServiceThread(); // quits the loop and joins
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;
    QObject* context() const { return m_context; }
    QThread* thread() const { return m_thread.get(); }
    void post(std::function<void()> fn) { postTo(m_context, std::move(fn)); }
    void invokeBlocking(const std::function<void()>& fn) { velk::invokeBlocking(m_context, fn); }
    bool isCurrent() const { return QThread::currentThread() == m_thread.get(); }
private:
    std::unique_ptr<QThread> m_thread;
    QObject* m_context = nullptr;
};

} // namespace velk

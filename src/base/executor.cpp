#include "base/executor.hpp"

#include <algorithm>
#include <exception>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include <openssl/crypto.h>

namespace velk {

namespace {

// Workers block on disks and sockets, so the pool is sized for waiting rather than for the cores:
// a core-sized pool would starve on a two-core machine.
constexpr int kMinimumWorkers = 16;
constexpr int kWorkersPerCore = 8;
constexpr int kExitWaitMs = 5000;

class WorkerPool {
public:
    WorkerPool() : m_pool(new QThreadPool) {
        m_pool->setObjectName(QStringLiteral("velk-workers"));
        m_pool->setMaxThreadCount(std::max(kMinimumWorkers, QThread::idealThreadCount() * kWorkersPerCore));
    }
    // At exit, running workers get a moment to finish; a worker stuck in a blocking call must not
    // hold the process open, so then the pool is left to the operating system.
    ~WorkerPool() {
        if (m_pool->waitForDone(kExitWaitMs)) delete m_pool;
    }
    QThreadPool* get() const { return m_pool; }

private:
    QThreadPool* m_pool;
};

QThreadPool* workerPool() {
    static WorkerPool pool;
    return pool.get();
}

} // namespace

void postTo(QObject* context, std::function<void()> fn) {
    if (!context || !fn) return;
    QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

void postToGui(std::function<void()> fn) { postTo(QCoreApplication::instance(), std::move(fn)); }

void invokeBlocking(QObject* context, const std::function<void()>& fn) {
    if (!context || !fn) return;
    if (QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    // An exception must not unwind through the other thread's event loop: carry it back here.
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        context,
        [&fn, &failure] {
            try {
                fn();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
}

void launchWorker(std::function<void()> work) {
    if (!work) return;
    workerPool()->start([work = std::move(work)] {
        try {
            work();
        } catch (...) {
            // Nothing may escape a worker thread; callers that care catch inside `work`.
        }
        // Workers hash, draw random ids and speak TLS, so OpenSSL keeps a random generator and an
        // error queue for this thread. Pool threads outlive their tasks and may still be ending
        // when the process exits, so that state is released with every task; OpenSSL makes it
        // again on next use.
        OPENSSL_thread_stop();
    });
}

ServiceThread::ServiceThread(const char* name) : m_thread(std::make_unique<QThread>()), m_context(new QObject) {
    m_thread->setObjectName(QString::fromUtf8(name));
    m_context->setObjectName(QString::fromUtf8(name));
    m_context->moveToThread(m_thread.get());
    // The context and its children (sockets, timers) are deleted on their own thread once the loop
    // has ended: finished() runs there, and deferred deletions are still processed after it.
    QObject::connect(m_thread.get(), &QThread::finished, m_context, &QObject::deleteLater, Qt::DirectConnection);
    // finished() runs on the ending thread: release OpenSSL's per-thread state there too.
    QObject::connect(m_thread.get(), &QThread::finished, m_context, [] { OPENSSL_thread_stop(); }, Qt::DirectConnection);
    m_thread->start();
}

ServiceThread::~ServiceThread() {
    m_thread->quit();
    m_thread->wait();
    m_context = nullptr;
}

} // namespace velk

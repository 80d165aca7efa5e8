#include "base/executor.hpp"

#include "base/worker_pool.hpp"

#include <exception>

#include <QCoreApplication>
#include <QMetaObject>

#include <openssl/crypto.h>

namespace velk {

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

void launchWorker(std::function<void()> work) { workers::post(std::move(work)); }

void shutdownWorkers() { workers::shutdown(); }

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

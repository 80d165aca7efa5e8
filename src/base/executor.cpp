#include "base/executor.hpp"

#include "base/tsan_annotations.hpp"
#include "base/worker_pool.hpp"

#include <exception>
#include <utility>

#include <QCoreApplication>
#include <QMetaObject>

#include <openssl/crypto.h>

namespace velk {

namespace {

// What a queued call carries to the other thread. Its last copy is the one Qt keeps until the call
// runs, so its own address is the hand-off's token: released once that copy is written, acquired
// before the function runs or, when the call is dropped, is destroyed.
class Handoff {
public:
    explicit Handoff(std::function<void()> fn) : m_fn(std::move(fn)) { tsan::release(this); }
    Handoff(Handoff&& other) noexcept : m_fn(std::move(other.m_fn)) { tsan::release(this); }
    Handoff(const Handoff& other) : m_fn(other.m_fn) { tsan::release(this); }
    Handoff& operator=(const Handoff&) = delete;
    Handoff& operator=(Handoff&&) = delete;
    ~Handoff() { tsan::acquire(this); }

    // The function goes with its call, so what it holds is destroyed here, on the receiving thread,
    // and the call's end is handed to wherever Qt destroys the carrier (the caller of a blocking call).
    void operator()() {
        tsan::acquire(this);
        std::exchange(m_fn, nullptr)();
        tsan::release(this);
    }

private:
    std::function<void()> m_fn;
};

} // namespace

void postTo(QObject* context, std::function<void()> fn) {
    if (!context || !fn) return;
    QMetaObject::invokeMethod(context, Handoff(std::move(fn)), Qt::QueuedConnection);
}

void postToGui(std::function<void()> fn) { postTo(QCoreApplication::instance(), std::move(fn)); }

void invokeBlocking(QObject* context, const std::function<void()>& fn) {
    if (!context || !fn) return;
    if (QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    // An exception must not unwind through the other thread's event loop: carry it back here.
    // The caller's wait is Qt's too: what `fn` wrote is handed back through `failure`'s address.
    std::exception_ptr failure;
    QMetaObject::invokeMethod(context,
                              Handoff([&fn, &failure] {
                                  try {
                                      fn();
                                  } catch (...) {
                                      failure = std::current_exception();
                                  }
                                  tsan::release(&failure);
                              }),
                              Qt::BlockingQueuedConnection);
    tsan::acquire(&failure);
    if (failure) std::rethrow_exception(failure);
}

void launchWorker(std::function<void()> work) { workers::post(std::move(work)); }

void shutdownWorkers() { workers::shutdown(); }

ServiceThread::ServiceThread(const char* name) : m_thread(std::make_unique<QThread>()), m_context(new QObject) {
    m_thread->setObjectName(QString::fromUtf8(name));
    m_context->setObjectName(QString::fromUtf8(name));
    m_context->moveToThread(m_thread.get());
    // finished() runs on the ending thread once its loop has returned: the context and its children
    // (sockets, timers) are deleted there, and OpenSSL's per-thread state is released. What the
    // thread did is then handed to the destructor, whose wait() the race detector does not see.
    QObject::connect(
        m_thread.get(), &QThread::finished, m_thread.get(),
        [this, context = m_context] {
            delete context;
            OPENSSL_thread_stop();
            tsan::release(this);
        },
        Qt::DirectConnection);
    m_thread->start();
}

ServiceThread::~ServiceThread() {
    m_thread->quit();
    m_thread->wait();
    tsan::acquire(this);
    m_context = nullptr;
}

} // namespace velk

#include "base/worker_pool.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <openssl/crypto.h>
#include <sys/resource.h>
#include <unistd.h>

namespace velk::workers {

namespace {

// Workers block on disks and sockets, so the bound is for waiting rather than for the cores.
constexpr unsigned minimumThreads = 16;
constexpr unsigned threadsPerCore = 8;
// How many nice levels below the thread that first uses the pool (the GUI thread) workers run:
// hashing and transfers yield the processors to the windows whenever both want them.
constexpr int workerNiceLevels = 5;

class Pool {
public:
    Pool() {
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
        if (errno == 0) m_workerNice = std::min(nice + workerNiceLevels, 19);
    }
    ~Pool() { stop(); }

    bool post(std::function<void()> work) {
        std::lock_guard lock(m_mutex);
        if (m_joined) return false;
        m_queue.push_back(std::move(work));
        // Every idle thread takes one queued task; a thread is added for each task beyond them.
        if (m_queue.size() > m_idle && m_threads.size() < limit()) {
            try {
                m_threads.emplace_back([this] { loop(); });
                return true;
            } catch (const std::system_error&) {
                // Fewer threads only lower the concurrency; the queue still drains.
            }
        }
        m_wake.notify_one();
        return true;
    }

    void stop() {
        std::vector<std::thread> threads;
        {
            std::unique_lock lock(m_mutex);
            if (m_joined) return;
            // Work still queued or running may post more: wait until all of it has ended.
            m_drained.wait(lock, [this] { return m_queue.empty() && m_running == 0; });
            m_joined = true;
            threads.swap(m_threads);
        }
        m_wake.notify_all();
        for (auto& thread : threads) thread.join();
    }

    int busy() {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_queue.size() + m_running);
    }

private:
    static std::size_t limit() { return std::max(minimumThreads, std::thread::hardware_concurrency() * threadsPerCore); }

    void loop() {
        if (m_workerNice) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), *m_workerNice);
        std::unique_lock lock(m_mutex);
        while (true) {
            ++m_idle;
            m_wake.wait(lock, [this] { return m_joined || !m_queue.empty(); });
            --m_idle;
            if (m_queue.empty()) break;
            std::function<void()> work = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_running;
            lock.unlock();
            try {
                work();
            } catch (...) {
                // Nothing may escape a worker thread.
            }
            work = nullptr;
            // Workers hash, draw random ids and speak TLS, so OpenSSL keeps a random generator and
            // an error queue for this thread. A program that never shuts the pool down meets its
            // static destruction with these threads alive, so the state goes with every task;
            // OpenSSL makes it again on next use.
            OPENSSL_thread_stop();
            lock.lock();
            --m_running;
            if (m_queue.empty() && m_running == 0) m_drained.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<std::function<void()>> m_queue;
    std::vector<std::thread> m_threads;
    std::optional<int> m_workerNice;
    std::size_t m_idle = 0;
    std::size_t m_running = 0;
    bool m_joined = false;
};

Pool& pool() {
    static Pool instance;
    return instance;
}

} // namespace

bool post(std::function<void()> work) { return work && pool().post(std::move(work)); }

void shutdown() { pool().stop(); }

int busyCount() { return pool().busy(); }

} // namespace velk::workers

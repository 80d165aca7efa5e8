#pragma once
// Named moments that one thread reaches and another waits for: a test holds a request on a worker
// until the step it is meant to overlap has begun.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

namespace velk::testing {

class Milestones {
public:
    void reach(const std::string& name) {
        std::lock_guard lock(m_mutex);
        m_reached.insert(name);
        m_changed.notify_all();
    }
    bool reached(const std::string& name) {
        std::lock_guard lock(m_mutex);
        return m_reached.contains(name);
    }
    // False when `name` was not reached within ten seconds, a bound against hanging only.
    bool waitFor(const std::string& name) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_reached.contains(name); });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<std::string> m_reached;
};

} // namespace velk::testing

#include "base/cancellation.hpp"

#include <chrono>

namespace velk {

void CancellationToken::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled.store(true);
    }
    m_wake.notify_all();
}

bool CancellationToken::waitFor(std::uint64_t nanoseconds) const {
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::nanoseconds(nanoseconds), [this] { return m_cancelled.load(); });
}

} // namespace velk

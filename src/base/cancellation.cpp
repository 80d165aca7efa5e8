#include "base/cancellation.hpp"

#include <chrono>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace velk {

namespace {

void signalCancellation(int descriptor) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(descriptor, &one, sizeof one);
}

} // namespace

CancellationToken::~CancellationToken() {
    if (m_wakeDescriptor >= 0) ::close(m_wakeDescriptor);
}

void CancellationToken::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled.store(true);
        if (m_wakeDescriptor >= 0) signalCancellation(m_wakeDescriptor);
    }
    m_wake.notify_all();
}

int CancellationToken::wakeDescriptor() const {
    std::lock_guard lock(m_mutex);
    if (m_wakeDescriptor < 0) {
        m_wakeDescriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wakeDescriptor >= 0 && m_cancelled.load()) signalCancellation(m_wakeDescriptor);
    }
    return m_wakeDescriptor;
}

bool CancellationToken::waitFor(std::uint64_t nanoseconds) const {
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::nanoseconds(nanoseconds), [this] { return m_cancelled.load(); });
}

} // namespace velk

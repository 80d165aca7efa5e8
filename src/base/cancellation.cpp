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

CancellationToken::CancellationToken(std::shared_ptr<const CancellationToken> parent) : m_parent(std::move(parent)) {
    if (!m_parent) return;
    std::lock_guard lock(m_parent->m_mutex);
    if (m_parent->m_cancelled.load()) {
        m_cancelled.store(true);
    } else {
        m_parent->m_children.push_back(this);
    }
}

CancellationToken::~CancellationToken() {
    if (m_parent) {
        std::lock_guard lock(m_parent->m_mutex);
        std::erase(m_parent->m_children, this);
    }
    if (m_wakeDescriptor >= 0) ::close(m_wakeDescriptor);
}

void CancellationToken::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled.store(true);
        if (m_wakeDescriptor >= 0) signalCancellation(m_wakeDescriptor);
        // Under the lock, so that no child goes while it is told; a child never takes its parent's
        // lock while it holds its own.
        for (CancellationToken* child : m_children) child->cancel();
        m_children.clear();
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

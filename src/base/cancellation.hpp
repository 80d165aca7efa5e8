#pragma once
// Cancellation of running work, shared between the work and whoever may stop it. Every blocking
// step checks it: sleeps wake at once, transfers abort at their next progress report, file loops
// stop between blocks.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace velk {

class CancellationToken {
public:
    CancellationToken() = default;
    // Cancelled with `parent` too (at once when it already is), as one piece of work is when the
    // whole it belongs to stops; cancelling it leaves the parent as it is.
    explicit CancellationToken(std::shared_ptr<const CancellationToken> parent);
    ~CancellationToken();
    CancellationToken(const CancellationToken&) = delete;
    CancellationToken& operator=(const CancellationToken&) = delete;

    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }
    // Waits up to `nanoseconds`; false when cancelled before or during the wait.
    bool waitFor(std::uint64_t nanoseconds) const;
    // A descriptor that becomes readable once the token is cancelled, for a wait that polls other
    // descriptors too (a socket's). Made on first use and kept with the token; -1 when none could
    // be made, and the wait must then look at isCancelled() now and then.
    int wakeDescriptor() const;

private:
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;
    mutable int m_wakeDescriptor = -1; // guarded by m_mutex
    const std::shared_ptr<const CancellationToken> m_parent;
    mutable std::vector<CancellationToken*> m_children; // guarded by m_mutex
};

// The operation was cancelled by its caller (not by the network).
class OperationCancelledError : public std::runtime_error {
public:
    OperationCancelledError() : std::runtime_error("The operation was cancelled.") {}
};

inline void throwIfCancelled(const CancellationToken* token) {
    if (token && token->isCancelled()) throw OperationCancelledError();
}

} // namespace velk

#pragma once
// Repeats an idempotent read a bounded number of times when the network drops or times out. The
// reply's own checks run after the retries, so only transport failures are ever repeated.

#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

#include "transfer/https_session.hpp"

namespace velk::TransferReadRetry {

inline const std::vector<std::uint64_t> defaultDelays{250'000'000, 750'000'000};

// Waits the given nanoseconds; throws OperationCancelledError when the token is cancelled before
// or during the wait. Tests inject one that records the delays instead of waiting.
using Sleeper = std::function<void(std::uint64_t nanoseconds, const CancellationToken* cancellation)>;

void realSleep(std::uint64_t nanoseconds, const CancellationToken* cancellation);

// A lost connection or a time-out; nothing else (cancellation, TLS failures, protocol errors).
bool isTransient(const std::exception& error);

namespace detail {
bool isTransient(std::exception_ptr error);
}

// Runs the operation at once and again after each delay while it fails transiently; the last
// failure is rethrown unchanged. Cancellation is checked before every attempt and during every
// sleep (OperationCancelledError).
template <class Operation>
auto run(const std::vector<std::uint64_t>& delays, Operation&& operation, const CancellationToken* cancellation = nullptr,
         const Sleeper& sleeper = realSleep) -> decltype(operation()) {
    std::size_t attempt = 0;
    if (cancellation && cancellation->isCancelled()) throw OperationCancelledError();
    while (true) {
        try {
            return operation();
        } catch (...) {
            std::exception_ptr failure = std::current_exception();
            if (cancellation && cancellation->isCancelled()) throw;
            if (!detail::isTransient(failure)) throw;
            if (attempt >= delays.size()) throw;
            sleeper(delays[attempt], cancellation);
        }
        if (cancellation && cancellation->isCancelled()) throw OperationCancelledError();
        ++attempt;
    }
}

} // namespace velk::TransferReadRetry

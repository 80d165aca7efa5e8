#pragma once
// Runs one blocking operation over every item of a list on worker threads, never more than a fixed
// number at once, and hands back one result per item in the order of the input. Collection uses
// it so that at most two catalog loads or clip downloads talk to the phones at any moment.

#include <algorithm>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <openssl/crypto.h>

namespace velk::BoundedAsyncQueue {

// Items start in input order; a new one starts only when a running one has finished, so at most
// `maximumConcurrent` operations run (values below 1 mean 1). The call returns after every item
// has run exactly once. The operation reports failures inside its result; should it throw anyway,
// the other items still run and the first such exception is rethrown once all have finished.
template <class Item, class Operation>
auto map(const std::vector<Item>& items, int maximumConcurrent, Operation&& operation)
    -> std::vector<std::invoke_result_t<Operation&, const Item&>> {
    using Result = std::invoke_result_t<Operation&, const Item&>;
    const std::size_t limit = maximumConcurrent >= 2 ? static_cast<std::size_t>(maximumConcurrent) : 1;
    const std::size_t count = items.size();
    if (count == 0) return {};

    std::vector<std::optional<Result>> finished(count);
    std::exception_ptr firstEscape;
    std::mutex mutex;
    std::size_t next = 0;

    // Each worker takes the next unstarted item only after its previous one has finished, so the
    // number of workers is the bound and items are taken in input order.
    auto work = [&] {
        while (true) {
            std::size_t index;
            {
                std::lock_guard lock(mutex);
                if (next == count) return;
                index = next++;
            }
            std::optional<Result> result;
            std::exception_ptr escape;
            try {
                result.emplace(operation(items[index]));
            } catch (...) {
                escape = std::current_exception();
            }
            std::lock_guard lock(mutex);
            finished[index] = std::move(result);
            if (escape && !firstEscape) firstEscape = escape;
        }
    };

    std::vector<std::thread> workers;
    const std::size_t workerCount = std::min(limit, count);
    workers.reserve(workerCount);
    for (std::size_t i = 0; i < workerCount; ++i) {
        try {
            workers.emplace_back([&work] {
                work();
                // Release OpenSSL's per-thread state (random generator, error queue) here rather
                // than leave it to the thread's exit, which may race the process's own exit.
                OPENSSL_thread_stop();
            });
        } catch (const std::system_error&) {
            break; // fewer workers only lower the concurrency
        }
    }
    if (workers.empty()) work();
    for (auto& worker : workers) worker.join();

    if (firstEscape) std::rethrow_exception(firstEscape);
    std::vector<Result> results;
    results.reserve(count);
    for (auto& result : finished) results.push_back(std::move(*result));
    return results;
}

} // namespace velk::BoundedAsyncQueue

#pragma once
// Runs one blocking operation over every item of a list on worker threads, never more than a fixed
// number at once, and hands back one result per item in the order of the input. Collection uses
// it so that at most two catalog loads or clip downloads talk to the phones at any moment.

#include <algorithm>
#include <cstddef>
#include <exception>
#include <future>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/cancellation.hpp"
#include "base/worker_pool.hpp"

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

    // Each lane takes the next unstarted item only after its previous one has finished, so the
    // number of lanes is the bound and items are taken in input order.
    auto lane = [&] {
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

    std::vector<std::future<void>> lanes;
    for (std::size_t i = 0; i < std::min(limit, count); ++i) lanes.push_back(workers::submit(lane));
    for (auto& running : lanes) running.wait();

    if (firstEscape) std::rethrow_exception(firstEscape);
    std::vector<Result> results;
    results.reserve(count);
    for (auto& result : finished) {
        // Only a pool that has already shut down leaves an item unrun.
        if (!result) throw OperationCancelledError();
        results.push_back(std::move(*result));
    }
    return results;
}

} // namespace velk::BoundedAsyncQueue

#pragma once
// Runs one blocking operation over every item of a list on worker threads, never more than a fixed
// number at once, and hands back one result per item in the order of the input. Collection uses
// it so that at most two catalog loads or clip downloads talk to the phones at any moment, and so
// that two downloads at once go to two phones where the list allows.

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

// As `map`, but items that share a key (the connection they use, say) are kept apart while others
// wait: a lane takes the first unstarted item whose key no running item has, and only when every
// unstarted item shares a running item's key the first unstarted one. With one key for all, items
// start in input order. Results are in input order whatever order the items started in.
template <class Item, class KeyOf, class Operation>
auto mapSpread(const std::vector<Item>& items, int maximumConcurrent, KeyOf&& keyOf, Operation&& operation)
    -> std::vector<std::invoke_result_t<Operation&, const Item&>> {
    using Result = std::invoke_result_t<Operation&, const Item&>;
    using Key = std::decay_t<std::invoke_result_t<KeyOf&, const Item&>>;
    const std::size_t limit = maximumConcurrent >= 2 ? static_cast<std::size_t>(maximumConcurrent) : 1;
    const std::size_t count = items.size();
    if (count == 0) return {};

    std::vector<Key> keys;
    keys.reserve(count);
    for (const Item& item : items) keys.push_back(keyOf(item));
    std::vector<std::optional<Result>> finished(count);
    std::vector<bool> started(count, false);
    std::vector<Key> running;
    std::exception_ptr firstEscape;
    std::mutex mutex;
    std::size_t firstUnstarted = 0;

    // Called with the mutex held; `count` when every item has started.
    auto take = [&]() -> std::size_t {
        while (firstUnstarted < count && started[firstUnstarted]) ++firstUnstarted;
        if (firstUnstarted == count) return count;
        std::size_t index = firstUnstarted;
        for (std::size_t i = firstUnstarted; i < count; ++i) {
            if (!started[i] && std::find(running.begin(), running.end(), keys[i]) == running.end()) {
                index = i;
                break;
            }
        }
        started[index] = true;
        running.push_back(keys[index]);
        return index;
    };

    // Each lane takes another item only after its previous one has finished, so the number of
    // lanes is the bound.
    auto lane = [&] {
        while (true) {
            std::size_t index;
            {
                std::lock_guard lock(mutex);
                index = take();
                if (index == count) return;
            }
            std::optional<Result> result;
            std::exception_ptr escape;
            try {
                result.emplace(operation(items[index]));
            } catch (...) {
                escape = std::current_exception();
            }
            std::lock_guard lock(mutex);
            running.erase(std::find(running.begin(), running.end(), keys[index]));
            finished[index] = std::move(result);
            if (escape && !firstEscape) firstEscape = escape;
        }
    };

    std::vector<std::future<void>> lanes;
    for (std::size_t i = 0; i < std::min(limit, count); ++i) lanes.push_back(workers::submit(lane));
    for (auto& each : lanes) each.wait();

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

// Items start in input order; a new one starts only when a running one has finished, so at most
// `maximumConcurrent` operations run (values below 1 mean 1). The call returns after every item
// has run exactly once. The operation reports failures inside its result; should it throw anyway,
// the other items still run and the first such exception is rethrown once all have finished.
template <class Item, class Operation>
auto map(const std::vector<Item>& items, int maximumConcurrent, Operation&& operation)
    -> std::vector<std::invoke_result_t<Operation&, const Item&>> {
    return mapSpread(items, maximumConcurrent, [](const Item&) { return 0; }, std::forward<Operation>(operation));
}

} // namespace velk::BoundedAsyncQueue

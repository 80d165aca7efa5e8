#pragma once
// The one pool of threads for blocking work (disks, sockets, hashing). It grows while every thread
// is busy, so work that waits for other work never starves, and it ends in order: `shutdown()`
// lets the work under way and queued finish (its owners cancel it first), then joins every thread.
// The application calls it after its event loop, before static destruction. Its threads run a few
// nice levels below the thread that first used it (the GUI thread), so a window never waits for a
// processor behind a download's hashing.

#include <functional>
#include <future>
#include <memory>
#include <type_traits>
#include <utility>

namespace velk::workers {

// Runs `work` on a pool thread. Exceptions are caught and dropped; callers that care catch inside
// `work`. False, and nothing runs, once the pool has shut down.
bool post(std::function<void()> work);

// Runs `work` on a pool thread; its result or exception comes back through the future.
template <class Work>
auto submit(Work work) -> std::future<std::invoke_result_t<Work&>> {
    using Result = std::invoke_result_t<Work&>;
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    std::future<Result> result = task->get_future();
    post([task] { (*task)(); });
    return result;
}

// Waits until no work is queued or running, then joins every thread. Idempotent.
void shutdown();

// Tasks queued or running now (for tests and benchmarks).
int busyCount();

} // namespace velk::workers

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "transfer/bounded_async_queue.hpp"

namespace velk {
namespace {

// An operation whose items finish only when the test releases them, recording when each starts.
class Gate {
public:
    int operator()(int item) {
        std::unique_lock lock(m_mutex);
        m_started.push_back(item);
        m_running.push_back(item);
        m_most = std::max(m_most, m_running.size());
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_released.count(item) > 0; });
        std::erase(m_running, item);
        m_changed.notify_all();
        return item * 10;
    }

    void release(int item) {
        std::lock_guard lock(m_mutex);
        m_released.insert(item);
        m_changed.notify_all();
    }
    void waitForStarted(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_started.size() >= count; });
    }
    std::vector<int> started() {
        std::lock_guard lock(m_mutex);
        return m_started;
    }
    std::size_t most() {
        std::lock_guard lock(m_mutex);
        return m_most;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_started;
    std::vector<int> m_running;
    std::set<int> m_released;
    std::size_t m_most = 0;
};

TEST(BoundedAsyncQueue, ThirdItemStartsOnlyAfterOneOfTheFirstTwoEnds) {
    Gate gate;
    std::vector<int> results;
    std::thread caller([&] { results = BoundedAsyncQueue::map(std::vector<int>{0, 1, 2, 3, 4}, 2, std::ref(gate)); });
    gate.waitForStarted(2);
    // The first two start on two workers at once, in either order; every later one alone.
    const auto inStartOrder = [&gate] {
        std::vector<int> started = gate.started();
        std::sort(started.begin(), started.begin() + std::min<std::ptrdiff_t>(2, std::ssize(started)));
        return started;
    };
    EXPECT_EQ(inStartOrder(), (std::vector<int>{0, 1}));

    // Finishing order 1, 0, 3, 2, 4: each release lets exactly one more item start.
    gate.release(1);
    gate.waitForStarted(3);
    EXPECT_EQ(inStartOrder(), (std::vector<int>{0, 1, 2}));
    gate.release(0);
    gate.waitForStarted(4);
    gate.release(3);
    gate.waitForStarted(5);
    gate.release(2);
    gate.release(4);
    caller.join();

    EXPECT_EQ(inStartOrder(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(gate.most(), 2u);
    EXPECT_EQ(results, (std::vector<int>{0, 10, 20, 30, 40}));
}

// Items 0, 1 and 4 share one key, 2 and 3 another: the first two to run have different keys, a
// lane skips an item whose key is running for one whose key is not, and takes an item of a running
// key only when nothing else is left. Results stay in input order.
TEST(BoundedAsyncQueue, ItemsSharingAKeyRunApartWhileOthersCan) {
    Gate gate;
    std::vector<int> results;
    const auto keyOf = [](int item) { return item == 2 || item == 3 ? 'R' : 'L'; };
    std::thread caller([&] { results = BoundedAsyncQueue::mapSpread(std::vector<int>{0, 1, 2, 3, 4}, 2, keyOf, std::ref(gate)); });
    gate.waitForStarted(2);
    std::vector<int> firstTwo = gate.started();
    std::sort(firstTwo.begin(), firstTwo.end());
    EXPECT_EQ(firstTwo, (std::vector<int>{0, 2}));

    gate.release(0); // 2 (R) runs: 1 (L) is next
    gate.waitForStarted(3);
    EXPECT_EQ(gate.started().back(), 1);
    gate.release(1); // 2 (R) runs: 3 (R) waits, 4 (L) goes first
    gate.waitForStarted(4);
    EXPECT_EQ(gate.started().back(), 4);
    gate.release(4); // only 3 is left, and it runs beside 2 of its own key
    gate.waitForStarted(5);
    EXPECT_EQ(gate.started().back(), 3);
    gate.release(2);
    gate.release(3);
    caller.join();

    EXPECT_EQ(gate.most(), 2u);
    EXPECT_EQ(results, (std::vector<int>{0, 10, 20, 30, 40}));
}

TEST(BoundedAsyncQueue, LimitsBelowOneRunOneAtATimeAndLargeLimitsRunEverything) {
    for (const auto& [limit, most] : std::vector<std::pair<int, std::size_t>>{{1, 1}, {0, 1}, {-3, 1}, {8, 3}}) {
        SCOPED_TRACE(limit);
        Gate gate;
        std::vector<int> results;
        std::thread caller([&] { results = BoundedAsyncQueue::map(std::vector<int>{0, 1, 2}, limit, std::ref(gate)); });
        gate.waitForStarted(most); // as many as the limit allows run before any has finished
        for (int item : {2, 0, 1}) gate.release(item);
        caller.join();
        EXPECT_EQ(gate.most(), most);
        EXPECT_EQ(results, (std::vector<int>{0, 10, 20}));
    }
}

TEST(BoundedAsyncQueue, RunsOffTheCallingThreadAndEveryItemOnce) {
    EXPECT_TRUE(BoundedAsyncQueue::map(std::vector<int>{}, 2, [](int) -> int { throw std::logic_error("called"); }).empty());
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<int> items(200);
    for (int i = 0; i < 200; ++i) items[static_cast<std::size_t>(i)] = i;
    std::atomic<int> onCaller = 0;
    auto results = BoundedAsyncQueue::map(items, 2, [&](int item) {
        if (std::this_thread::get_id() == caller) ++onCaller;
        return std::to_string(item);
    });
    ASSERT_EQ(results.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(results[static_cast<std::size_t>(i)], std::to_string(i));
    EXPECT_EQ(onCaller.load(), 0);
}

TEST(BoundedAsyncQueue, AnEscapingErrorDoesNotSkipTheOtherItems) {
    std::atomic<int> calls = 0;
    auto operation = [&](int item) {
        ++calls;
        if (item == 1) throw std::runtime_error("boom");
        return item;
    };
    EXPECT_THROW(BoundedAsyncQueue::map(std::vector<int>{0, 1, 2, 3}, 2, operation), std::runtime_error);
    EXPECT_EQ(calls.load(), 4);
}

} // namespace
} // namespace velk

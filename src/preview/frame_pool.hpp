#pragma once
// Where one preview stream's decoded frames live. A stream decodes tens of frames a second on its
// worker and frees each on the GUI thread once a newer one is shown; from the heap, every frame
// would either settle in the worker's arena, which grows to its own high water as workers come
// and go, or be a fresh mapping that pays a page fault per page. A pool instead keeps a few
// buffers of the stream's frame size and hands the same ones out again, frame after frame:
//   - at most `bound` buffers exist at once; with all of them out, the next frame is dropped, as
//     the GUI thread is that far behind (a stream's frames are held by the decode under way, the
//     one waiting for the GUI thread and the one shown);
//   - a frame of another size ends the buffers of the old size: those kept go at once, those out
//     go when they come back;
//   - `end()` (the stream ended) gives back every buffer kept, and each one out as it comes back.
// Each buffer is a mapping of its own, so what the pool gives back goes back to the system.
// Thread-safe; a frame keeps the pool's state alive by itself, so frames and pool may go in either
// order.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velk {

namespace frame_pool_detail {
struct State;
}

// One buffer out of a pool, writable by its holder. Destroying it (on any thread) hands it back.
class PooledFrame {
public:
    PooledFrame() = default;
    PooledFrame(PooledFrame&& other) noexcept;
    PooledFrame& operator=(PooledFrame&& other) noexcept;
    PooledFrame(const PooledFrame&) = delete;
    PooledFrame& operator=(const PooledFrame&) = delete;
    ~PooledFrame();

    unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    explicit operator bool() const { return m_data != nullptr; }

private:
    friend class FramePool;
    PooledFrame(std::shared_ptr<frame_pool_detail::State> pool, unsigned char* data, std::size_t size,
                std::uint64_t generation);
    void giveBack() noexcept;

    std::shared_ptr<frame_pool_detail::State> m_pool;
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    std::uint64_t m_generation = 0;
};

class FramePool {
public:
    // The decode under way, the frame waiting for the GUI thread, the one shown, and one more for
    // a view that still holds the frame shown before.
    static constexpr std::size_t defaultBound = 4;

    explicit FramePool(std::size_t bound = defaultBound);
    // Ends the pool.
    ~FramePool();
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    // A buffer of `bytes` (more than zero): a kept one when there is one of that size, else a new
    // one. Empty when `bound` buffers are out or the pool has ended. Throws std::bad_alloc when the
    // system has no memory to map.
    PooledFrame take(std::size_t bytes);
    // The stream ended: nothing more is handed out, and every buffer is given back to the system.
    void end();

    struct Counts {
        std::size_t kept = 0;       // ready to hand out again
        std::size_t out = 0;        // held by frames, whatever their size
        std::size_t made = 0;       // mapped since the pool began
        std::size_t frameBytes = 0; // the size handed out now (0 before the first frame)
        bool operator==(const Counts&) const = default;
    };
    Counts counts() const;

private:
    std::shared_ptr<frame_pool_detail::State> m_state;
};

} // namespace velk

#include "preview/frame_pool.hpp"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include <sys/mman.h>

namespace velk {

namespace frame_pool_detail {

struct State {
    explicit State(std::size_t bound) : bound(bound) {
        // Room for every buffer that can exist, so that giving one back never allocates.
        kept.reserve(bound);
    }
    const std::size_t bound;
    std::mutex mutex;
    std::vector<unsigned char*> kept; // each of frameBytes
    std::size_t frameBytes = 0;
    // Counts the frame sizes: a buffer of an older one is unmapped when it comes back.
    std::uint64_t generation = 0;
    std::size_t out = 0;
    std::size_t made = 0;
    bool ended = false;
};

} // namespace frame_pool_detail

namespace {

using frame_pool_detail::State;

unsigned char* mapBuffer(std::size_t bytes) {
    void* data = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) throw std::bad_alloc();
    return static_cast<unsigned char*>(data);
}

void unmapBuffers(const std::vector<unsigned char*>& buffers, std::size_t bytes) noexcept {
    for (unsigned char* data : buffers) ::munmap(data, bytes);
}

} // namespace

PooledFrame::PooledFrame(std::shared_ptr<State> pool, unsigned char* data, std::size_t size, std::uint64_t generation)
    : m_pool(std::move(pool)), m_data(data), m_size(size), m_generation(generation) {}

PooledFrame::PooledFrame(PooledFrame&& other) noexcept
    : m_pool(std::move(other.m_pool)), m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)), m_generation(other.m_generation) {}

PooledFrame& PooledFrame::operator=(PooledFrame&& other) noexcept {
    if (this != &other) {
        giveBack();
        m_pool = std::move(other.m_pool);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_generation = other.m_generation;
    }
    return *this;
}

PooledFrame::~PooledFrame() { giveBack(); }

void PooledFrame::giveBack() noexcept {
    if (!m_data) return;
    bool kept = false;
    {
        std::lock_guard lock(m_pool->mutex);
        --m_pool->out;
        if (!m_pool->ended && m_generation == m_pool->generation) {
            m_pool->kept.push_back(m_data); // within the capacity reserved
            kept = true;
        }
    }
    if (!kept) ::munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
    m_pool.reset();
}

FramePool::FramePool(std::size_t bound) : m_state(std::make_shared<State>(bound)) {}

FramePool::~FramePool() { end(); }

PooledFrame FramePool::take(std::size_t bytes) {
    State& state = *m_state;
    std::vector<unsigned char*> dropped;
    std::size_t droppedBytes = 0;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(state.mutex);
        if (state.ended || bytes == 0 || state.out >= state.bound) return {};
        if (bytes != state.frameBytes) {
            dropped.assign(state.kept.begin(), state.kept.end());
            state.kept.clear();
            droppedBytes = state.frameBytes;
            state.frameBytes = bytes;
            ++state.generation;
        }
        generation = state.generation;
        ++state.out;
        if (!state.kept.empty()) {
            unsigned char* data = state.kept.back();
            state.kept.pop_back();
            return PooledFrame(m_state, data, bytes, generation);
        }
        ++state.made;
    }
    // Unmapping and mapping happen outside the lock; the buffer's place under the bound is held.
    unmapBuffers(dropped, droppedBytes);
    try {
        return PooledFrame(m_state, mapBuffer(bytes), bytes, generation);
    } catch (...) {
        std::lock_guard lock(state.mutex);
        --state.out;
        --state.made;
        throw;
    }
}

void FramePool::end() {
    std::vector<unsigned char*> kept;
    std::size_t bytes = 0;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->ended = true;
        kept.swap(m_state->kept);
        bytes = m_state->frameBytes;
    }
    unmapBuffers(kept, bytes);
}

FramePool::Counts FramePool::counts() const {
    std::lock_guard lock(m_state->mutex);
    return Counts{m_state->kept.size(), m_state->out, m_state->made, m_state->frameBytes};
}

} // namespace velk

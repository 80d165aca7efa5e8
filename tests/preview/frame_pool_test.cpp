// A preview stream's frame pool: buffers used again, the bound on those out, a new frame size, the
// stream's end, and frames that outlive their pool on another thread.

#include <cerrno>
#include <optional>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "preview/frame_pool.hpp"

namespace velk {
namespace {

using Counts = FramePool::Counts;

// Whether the system still maps the buffer's pages to this process.
bool isMapped(const unsigned char* data, std::size_t bytes) {
    return ::msync(const_cast<unsigned char*>(data), bytes, MS_ASYNC) == 0 || errno != ENOMEM;
}

TEST(FramePool, BuffersAreUsedAgainWithinTheBoundAndGoBackWhenTheStreamEnds) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t wall = 3 * page, selected = 5 * page;
    enum class Op { take, giveBack, end };
    struct Step {
        const char* what;
        Op op;
        int slot;            // the frame taken or given back
        std::size_t bytes;   // asked for by take
        bool handedOut;      // take: whether a buffer came
        Counts after;        // kept, out, made, frame size
        std::optional<bool> slotMapped; // the slot's last buffer, after the step
    } steps[] = {
        {"the first frame maps a buffer", Op::take, 0, wall, true, {0, 1, 1, wall}, true},
        {"a frame given back is kept", Op::giveBack, 0, 0, false, {1, 0, 1, wall}, true},
        {"the next frame uses it again", Op::take, 0, wall, true, {0, 1, 1, wall}, {}},
        {"frames still held need buffers of their own", Op::take, 1, wall, true, {0, 2, 2, wall}, {}},
        {"up to the bound", Op::take, 2, wall, true, {0, 3, 3, wall}, {}},
        {"beyond the bound a frame gets nothing", Op::take, 3, wall, false, {0, 3, 3, wall}, {}},
        {"a frame given back makes room", Op::giveBack, 1, 0, false, {1, 2, 3, wall}, true},
        {"and its buffer is handed out again", Op::take, 3, wall, true, {0, 3, 3, wall}, {}},
        {"given back again", Op::giveBack, 0, 0, false, {1, 2, 3, wall}, true},
        {"a new frame size unmaps the kept buffers", Op::take, 0, selected, true, {0, 3, 4, selected}, {}},
        {"a frame of the old size is unmapped as it comes back", Op::giveBack, 2, 0, false, {0, 2, 4, selected}, false},
        {"one of the new size is kept", Op::giveBack, 0, 0, false, {1, 1, 4, selected}, true},
        {"the stream ends: the kept buffer is unmapped", Op::end, 0, 0, false, {0, 1, 4, selected}, false},
        {"an ended pool hands out nothing", Op::take, 1, selected, false, {0, 1, 4, selected}, {}},
        {"a frame that outlived the end is unmapped as it comes back", Op::giveBack, 3, 0, false,
         {0, 0, 4, selected}, false},
    };
    FramePool pool(3);
    PooledFrame frames[4];
    const unsigned char* last[4] = {};
    std::size_t lastBytes[4] = {};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        PooledFrame& frame = frames[step.slot];
        switch (step.op) {
        case Op::take:
            frame = pool.take(step.bytes);
            EXPECT_EQ(bool(frame), step.handedOut);
            if (frame) {
                EXPECT_EQ(frame.size(), step.bytes);
                frame.data()[0] = 1;
                frame.data()[frame.size() - 1] = 1;
                last[step.slot] = frame.data();
                lastBytes[step.slot] = frame.size();
            }
            break;
        case Op::giveBack: frame = PooledFrame(); break;
        case Op::end: pool.end(); break;
        }
        EXPECT_EQ(pool.counts(), step.after);
        if (step.slotMapped) {
            EXPECT_EQ(isMapped(last[step.slot], lastBytes[step.slot]), *step.slotMapped);
        }
    }
}

// A frame keeps what it needs of its pool: one given back on another thread after the pool is gone
// is unmapped there, and one given back before is kept for the pool's next frame.
TEST(FramePool, FramesAndTheirPoolMayGoInEitherOrder) {
    auto pool = std::make_unique<FramePool>();
    PooledFrame first = pool->take(4096);
    PooledFrame second = pool->take(4096);
    ASSERT_TRUE(first && second);
    std::thread([frame = std::move(first)]() mutable { frame = PooledFrame(); }).join();
    EXPECT_EQ(pool->counts(), (Counts{1, 1, 2, 4096}));
    const unsigned char* data = second.data();
    pool.reset();
    second.data()[4095] = 2; // still the holder's
    std::thread([frame = std::move(second)]() mutable { frame = PooledFrame(); }).join();
    EXPECT_FALSE(isMapped(data, 4096));
}

} // namespace
} // namespace velk

#include "base/heap_policy.hpp"

#include <cstdlib>

#include <malloc.h>

#include <gtest/gtest.h>

namespace velk {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerAllocator = true;
#else
constexpr bool kSanitizerAllocator = false;
#endif

// A wall frame freed and decoded again, frame after frame, is a block of its own each time: none
// stays in the heap, where malloc would keep it once the threshold followed the freed frames up.
TEST(HeapPolicy, EveryFreedFrameGoesBackToTheSystem) {
    if (kSanitizerAllocator) GTEST_SKIP() << "the sanitizer's allocator keeps its own heap";
    ASSERT_TRUE(heap::mapLargeBlocksApart());
    constexpr std::size_t wallFrame = 640 * 360 * 4;
    for (int frame = 0; frame < 3; ++frame) {
        const std::size_t mappedBefore = mallinfo2().hblks;
        void* block = std::malloc(wallFrame);
        ASSERT_NE(block, nullptr);
        static_cast<volatile char*>(block)[0] = 1;
        EXPECT_EQ(mallinfo2().hblks, mappedBefore + 1) << "frame " << frame;
        std::free(block);
        EXPECT_EQ(mallinfo2().hblks, mappedBefore) << "frame " << frame;
    }
}

} // namespace
} // namespace velk

// Process-wide resident memory and CPU time, as the soak and load runs read them.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/System.h"

namespace {

using namespace velmora::platform;

constexpr size_t kMiB = 1024 * 1024;

TEST(ProcessResourcesTest, ResidentMemoryFollowsTouchedPagesAndPeakKeepsTheMaximum) {
    const uint64_t before = ResidentMemoryBytes();
    ASSERT_GT(before, 0u);
    const uint64_t peakBefore = PeakResidentMemoryBytes();
    ASSERT_GE(peakBefore, before);
    {
        // Every page written, so it is resident rather than merely reserved.
        std::vector<uint8_t> block(64 * kMiB, 1);
        for (size_t i = 0; i < block.size(); i += 4096) block[i] = static_cast<uint8_t>(i);
        const uint64_t during = ResidentMemoryBytes();
        EXPECT_GE(during, before + 48 * kMiB) << "64 MiB written but the resident set barely moved";
        EXPECT_GE(PeakResidentMemoryBytes(), during);
    }
    // The peak stays whatever the allocator does with the freed block.
    EXPECT_GE(PeakResidentMemoryBytes(), before + 48 * kMiB);
}

TEST(ProcessResourcesTest, HeapInUseCountsLiveAllocationsOnly) {
    const uint64_t before = HeapBytesInUse();
    ASSERT_GT(before, 0u);
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 0; i < 64; ++i) blocks.emplace_back(64 * 1024, static_cast<uint8_t>(i));  // 4 MiB in small blocks
    const uint64_t during = HeapBytesInUse();
    EXPECT_GE(during, before + 4 * kMiB);
    blocks.clear();
    blocks.shrink_to_fit();
    EXPECT_LT(HeapBytesInUse(), during - 3 * kMiB) << "freed blocks still counted as in use";
}

TEST(ProcessResourcesTest, CpuTimeGrowsWithWorkDone) {
    uint64_t user0 = 0, sys0 = 0;
    ASSERT_TRUE(ProcessCpuTimeNs(&user0, &sys0));
    EXPECT_FALSE(ProcessCpuTimeNs(nullptr, &sys0));
    // Work until 20 ms of CPU time show, bounded by a wall-clock limit.
    volatile uint64_t sink = 0;
    uint64_t user = user0, sys = sys0;
    const uint64_t deadline = MonotonicMilliseconds() + 10000;
    while (user + sys < user0 + sys0 + 20000000ull && MonotonicMilliseconds() < deadline) {
        for (int i = 0; i < 100000; ++i) sink = sink + static_cast<uint64_t>(i) * 2654435761u;
        ASSERT_TRUE(ProcessCpuTimeNs(&user, &sys));
    }
    EXPECT_GE(user + sys, user0 + sys0 + 20000000ull);
    EXPECT_GE(user, user0);
    EXPECT_GE(sys, sys0);
}

}  // namespace

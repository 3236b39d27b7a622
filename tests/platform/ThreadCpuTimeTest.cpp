// Per-thread CPU clocks: the calling thread's own clock and the list of every thread's clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/System.h"

namespace {

// Spins until the calling thread has used `ns` more CPU time; bounded by a wall-clock limit.
bool Burn(uint64_t ns) {
    uint64_t start = 0, now = 0;
    if (!velmora::platform::CurrentThreadCpuTimeNs(&start)) return false;
    const uint64_t deadline = velmora::platform::MonotonicMilliseconds() + 10000;
    volatile uint64_t sink = 0;
    while (velmora::platform::MonotonicMilliseconds() < deadline) {
        for (int i = 0; i < 100000; ++i) sink = sink + i;
        if (velmora::platform::CurrentThreadCpuTimeNs(&now) && now - start >= ns) return true;
    }
    return false;
}

const velmora::platform::ThreadCpuTime* FindThread(const std::vector<velmora::platform::ThreadCpuTime>& list,
                                                   uint64_t id) {
    auto it = std::find_if(list.begin(), list.end(), [id](const auto& t) { return t.systemId == id; });
    return it == list.end() ? nullptr : &*it;
}

}  // namespace

TEST(ThreadCpuTimeTest, BusyThreadIsChargedAndIdleThreadIsNot) {
    std::atomic<uint64_t> busyId{0}, idleId{0};
    std::atomic<bool> busyDone{false}, release{false};
    std::thread busy([&] {
        busyId = velmora::platform::CurrentSystemThreadId();
        busyDone = Burn(50'000'000);  // 50 ms of CPU
        while (!release) std::this_thread::yield();
    });
    std::thread idle([&] {
        idleId = velmora::platform::CurrentSystemThreadId();
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    const uint64_t deadline = velmora::platform::MonotonicMilliseconds() + 15000;
    while ((!busyDone || idleId == 0) && velmora::platform::MonotonicMilliseconds() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<velmora::platform::ThreadCpuTime> list;
    const bool listed = velmora::platform::ThreadCpuTimes(&list);
    release = true;
    busy.join();
    idle.join();
    ASSERT_TRUE(busyDone.load());
    ASSERT_TRUE(listed);
    const auto* b = FindThread(list, busyId);
    const auto* i = FindThread(list, idleId);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(i, nullptr);
    EXPECT_NE(busyId.load(), idleId.load());
    EXPECT_GE(b->cpuNs, 50'000'000u);
    EXPECT_LT(i->cpuNs, b->cpuNs);
    // The calling thread is listed too, under its own number.
    EXPECT_NE(FindThread(list, velmora::platform::CurrentSystemThreadId()), nullptr);
}

TEST(ThreadCpuTimeTest, NullArgumentsAreRefused) {
    EXPECT_FALSE(velmora::platform::CurrentThreadCpuTimeNs(nullptr));
    EXPECT_FALSE(velmora::platform::ThreadCpuTimes(nullptr));
}

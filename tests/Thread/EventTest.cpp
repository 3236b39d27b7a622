// Event wrappers: waits with and without a handle, manual and auto reset, cross-thread wake-up.
#include "Thread/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/Waitable.h"

namespace {

using quillon::test::kEventTimeoutMs;

// A CEvent that never got a handle, as a derived class whose creation failed would leave it.
class HandlelessEvent : public velmora::CEvent {};

TEST(CEventTest, WithoutHandleEveryOperationFails) {
    HandlelessEvent event;
    EXPECT_EQ(event.Handle(), nullptr);
    // A long time-out: a wait that blocked instead of failing at once would hang the test.
    EXPECT_FALSE(event.Wait(velmora::platform::kInfinite));
    EXPECT_FALSE(event.Set());
    EXPECT_FALSE(event.Reset());
}

TEST(CEventTest, ManualEventStaysSetUntilReset) {
    velmora::CManualEvent event;
    ASSERT_NE(event.Handle(), nullptr);
    EXPECT_FALSE(event.Wait(0)) << "created non-signalled";
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0)) << "a manual-reset event is not consumed by a wait";
    EXPECT_TRUE(event.Reset());
    EXPECT_FALSE(event.Wait(0));
}

TEST(CEventTest, AutoEventIsConsumedByOneWait) {
    velmora::CAutoEvent event;
    ASSERT_NE(event.Handle(), nullptr);
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Set()) << "setting twice still stands for one wake-up";
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(CEventTest, WaitTimesOutWhenNobodySets) {
    velmora::CManualEvent event;
    EXPECT_FALSE(event.Wait(20));
}

TEST(CEventTest, SetFromAnotherThreadReleasesWaiter) {
    velmora::CAutoEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(kEventTimeoutMs));
    setter.join();
}

TEST(CEventTest, ManualEventReleasesEveryWaiter) {
    velmora::CManualEvent event;
    constexpr int kWaiters = 4;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            if (event.Wait(kEventTimeoutMs)) ++released;
        });
    event.Set();
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(released.load(), kWaiters);
}

}  // namespace

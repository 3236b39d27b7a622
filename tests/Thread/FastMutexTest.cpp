// Recursive spin-then-block lock: recursion, exclusion between threads, hand-off to a blocked
// waiter and the spin count chosen from the processor count.
#include "Thread/FastMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/Sync.h"
#include "support/Waitable.h"

namespace {

using quillon::test::Gate;
using velmora::CFastMutex;
using velmora::CFastMutexGuard;

// TryLock from a thread other than the caller's.
bool TryLockElsewhere(CFastMutex& mutex) {
    bool locked = false;
    std::thread other([&] {
        locked = mutex.TryLock();
        if (locked) mutex.Unlock();
    });
    other.join();
    return locked;
}

TEST(CFastMutexTest, OwnerRelocksAndMustUnlockAsOften) {
    CFastMutex mutex;
    mutex.Lock();
    mutex.Lock();                 // recursion through Lock
    ASSERT_TRUE(mutex.TryLock()); // and through TryLock
    EXPECT_FALSE(TryLockElsewhere(mutex));
    mutex.Unlock();
    EXPECT_FALSE(TryLockElsewhere(mutex)) << "still held twice";
    mutex.Unlock();
    EXPECT_FALSE(TryLockElsewhere(mutex)) << "still held once";
    mutex.Unlock();
    EXPECT_TRUE(TryLockElsewhere(mutex)) << "released after the third unlock";
}

TEST(CFastMutexTest, GuardReleasesOnScopeExit) {
    CFastMutex mutex;
    {
        CFastMutexGuard outer(mutex);
        CFastMutexGuard inner(&mutex);
        EXPECT_FALSE(TryLockElsewhere(mutex));
    }
    EXPECT_TRUE(TryLockElsewhere(mutex));
}

TEST(CFastMutexTest, SpinCountFollowsProcessorCount) {
    CFastMutex mutex;
    const uint32_t expected = velmora::platform::ProcessorCount() > 1 ? 4000u : 0u;
    EXPECT_EQ(CFastMutex::DefaultSpinCount(), expected);
    EXPECT_EQ(mutex.SpinCount(), expected);
}

TEST(CFastMutexTest, ContendedCounterLosesNoIncrement) {
    CFastMutex mutex;
    constexpr int kThreads = 4;
    constexpr int kIterations = 20000;
    int64_t counter = 0;  // plain on purpose: only the lock protects it
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kIterations; ++i) {
                // Half the threads take the lock recursively, so owner checks meet contention.
                CFastMutexGuard guard(mutex);
                std::optional<CFastMutexGuard> nested;
                if (t % 2) nested.emplace(mutex);
                if (inside.fetch_add(1) != 0) overlapped = true;
                ++counter;
                inside.fetch_sub(1);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_FALSE(overlapped.load()) << "two threads held the lock at once";
    EXPECT_EQ(counter, int64_t(kThreads) * kIterations);
}

// Shared with worker threads by shared_ptr so that, should a fault leave a thread blocked, the
// test can detach it and fail instead of hanging.
struct Shared {
    CFastMutex mutex;
    Gate started, acquired;
    quillon::test::WaitableCounter done;
};

TEST(CFastMutexTest, BlockedWaiterGetsTheLockWhenReleased) {
    auto s = std::make_shared<Shared>();
    s->mutex.Lock();
    std::thread waiter([s] {
        s->started.Open();
        s->mutex.Lock();  // blocks (or spins) until the main thread unlocks
        s->acquired.Open();
        s->mutex.Unlock();
    });
    ASSERT_TRUE(s->started.Wait());
    EXPECT_FALSE(s->acquired.IsOpen());
    s->mutex.Unlock();
    if (!s->acquired.Wait()) {
        waiter.detach();
        FAIL() << "the waiter never got the released lock";
    }
    waiter.join();
    EXPECT_TRUE(s->mutex.TryLock());
    s->mutex.Unlock();
}

TEST(CFastMutexTest, ManyWaitersAreAllServed) {
    // Several threads pile up behind a held lock; each release must wake one of them, and no
    // wake-up may be lost, or a waiter would never return.
    auto s = std::make_shared<Shared>();
    constexpr int kWaiters = 6;
    s->mutex.Lock();
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([s] {
            for (int k = 0; k < 200; ++k) {
                CFastMutexGuard guard(s->mutex);
            }
            s->done.Add();
        });
    s->mutex.Unlock();
    const bool allDone = s->done.WaitFor(kWaiters);
    for (std::thread& t : waiters) allDone ? t.join() : t.detach();
    EXPECT_TRUE(allDone) << s->done.Value() << " of " << kWaiters << " waiters finished";
}

}  // namespace

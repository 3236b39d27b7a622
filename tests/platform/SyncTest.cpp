// Platform events and threads: reset modes, time-outs, null handles, thread ids, waits on
// threads from several waiters, thread names.
#include "platform/Sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "support/Waitable.h"

namespace {

using namespace velmora::platform;
using quillon::test::Gate;
using quillon::test::kEventTimeoutMs;

struct EventCloser {
    void operator()(EventObject* e) const { CloseEventObject(e); }
};
using EventPtr = std::unique_ptr<EventObject, EventCloser>;

TEST(PlatformSyncTest, EventResetModes) {
    struct Row {
        const char* why;
        bool manual;
        bool initiallySet;
        WaitResult first, second;  // two waits of 0 ms in a row
    };
    const Row rows[] = {
        {"manual, set: stays set", true, true, WaitResult::Signalled, WaitResult::Signalled},
        {"manual, clear", true, false, WaitResult::TimedOut, WaitResult::TimedOut},
        {"auto, set: consumed by the first wait", false, true, WaitResult::Signalled, WaitResult::TimedOut},
        {"auto, clear", false, false, WaitResult::TimedOut, WaitResult::TimedOut},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        EventPtr event(CreateEventObject(row.manual, row.initiallySet));
        ASSERT_TRUE(event);
        EXPECT_EQ(WaitEventObject(event.get(), 0), row.first);
        EXPECT_EQ(WaitEventObject(event.get(), 0), row.second);
        EXPECT_TRUE(SetEventObject(event.get()));
        EXPECT_TRUE(ResetEventObject(event.get()));
        EXPECT_EQ(WaitEventObject(event.get(), 0), WaitResult::TimedOut) << "reset clears a set event";
    }
}

TEST(PlatformSyncTest, NullEventFailsEveryOperation) {
    EXPECT_FALSE(SetEventObject(nullptr));
    EXPECT_FALSE(ResetEventObject(nullptr));
    EXPECT_EQ(WaitEventObject(nullptr, kInfinite), WaitResult::Failed);
    CloseEventObject(nullptr);  // allowed
}

TEST(PlatformSyncTest, InfiniteWaitReturnsWhenSetElsewhere) {
    EventPtr event(CreateEventObject(false, false));
    std::thread setter([&] { SetEventObject(event.get()); });
    EXPECT_EQ(WaitEventObject(event.get(), kInfinite), WaitResult::Signalled);
    setter.join();
    EXPECT_EQ(WaitEventObject(event.get(), 0), WaitResult::TimedOut) << "the infinite wait consumed it";
}

struct ThreadProbe {
    Gate started, release;
    std::atomic<uint64_t> seenId{0};
    std::atomic<int> runs{0};
};

uint32_t ProbeEntry(void* argument) {
    auto* probe = static_cast<ThreadProbe*>(argument);
    probe->seenId = CurrentThreadId();
    ++probe->runs;
    probe->started.Open();
    probe->release.Wait();
    return 7;
}

TEST(PlatformSyncTest, ThreadRunsEntryWithItsArgumentAndKnownId) {
    ThreadProbe probe;
    uint64_t id = 0;
    ThreadObject* thread = CreateThreadObject(&ProbeEntry, &probe, &id);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(probe.started.Wait());
    EXPECT_EQ(probe.seenId.load(), id) << "the id given to the creator is the one the thread sees";
    EXPECT_NE(id, CurrentThreadId());
    EXPECT_EQ(WaitThreadObject(thread, 10), WaitResult::TimedOut);
    probe.release.Open();
    EXPECT_EQ(WaitThreadObject(thread, kEventTimeoutMs), WaitResult::Signalled);
    EXPECT_EQ(WaitThreadObject(thread, 0), WaitResult::Signalled) << "an ended thread stays signalled";
    EXPECT_FALSE(TerminateThreadObject(thread, 1)) << "no forced termination on POSIX";
    CloseThreadObject(thread);
    EXPECT_EQ(probe.runs.load(), 1);
    EXPECT_EQ(WaitThreadObject(nullptr, 0), WaitResult::Failed);
    CloseThreadObject(nullptr);
}

TEST(PlatformSyncTest, SeveralWaitersOnOneThreadAllSeeItEnd) {
    // Two stoppers waiting for the same thread (a channel's Stop and its owner's) must both
    // return; the thread is reaped once. Shared state lives on the heap so that a waiter stuck
    // by a fault can be left behind while the test fails.
    struct Shared {
        ThreadProbe probe;
        quillon::test::WaitableCounter signalled, returned;
        ThreadObject* thread = nullptr;
    };
    for (int round = 0; round < 20; ++round) {
        auto shared = std::make_shared<Shared>();
        shared->thread = CreateThreadObject(&ProbeEntry, &shared->probe, nullptr);
        ASSERT_NE(shared->thread, nullptr);
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i)
            waiters.emplace_back([shared] {
                if (WaitThreadObject(shared->thread, kEventTimeoutMs) == WaitResult::Signalled) shared->signalled.Add();
                shared->returned.Add();
            });
        shared->probe.release.Open();
        if (!shared->returned.WaitFor(3)) {
            for (std::thread& w : waiters) w.detach();
            FAIL() << "a waiter never returned from waiting for an ended thread";
        }
        for (std::thread& w : waiters) w.join();
        EXPECT_EQ(shared->signalled.Value(), 3);
        CloseThreadObject(shared->thread);
    }
}

struct DetachedProbe {
    Gate started, release, finished;
};

// Owns a reference to the probe, so the probe outlives the detached thread's last touch.
uint32_t DetachedEntry(void* argument) {
    std::unique_ptr<std::shared_ptr<DetachedProbe>> holder(static_cast<std::shared_ptr<DetachedProbe>*>(argument));
    DetachedProbe& probe = **holder;
    probe.started.Open();
    probe.release.Wait();
    probe.finished.Open();
    return 0;
}

TEST(PlatformSyncTest, ClosingARunningThreadLetsItRunToTheEnd) {
    auto probe = std::make_shared<DetachedProbe>();
    ThreadObject* thread = CreateThreadObject(&DetachedEntry, new std::shared_ptr<DetachedProbe>(probe), nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(probe->started.Wait());
    CloseThreadObject(thread);  // detaches: must neither block nor stop the thread
    EXPECT_FALSE(probe->finished.IsOpen());
    probe->release.Open();
    EXPECT_TRUE(probe->finished.Wait());
}

uint32_t NameEntry(void* argument) {
    auto* names = static_cast<std::vector<std::string>*>(argument);
    for (std::string& name : *names) {
        SetCurrentThreadName(name.c_str());
        char buffer[64];
        name = GetCurrentThreadNameCopy(buffer, sizeof(buffer));
    }
    return 0;
}

TEST(PlatformSyncTest, ThreadNamesAreCutToTheOsLimit) {
    std::vector<std::string> names = {
        "short",                 // kept
        "exactly15chars_",       // the OS limit
        "BaseIPPTZThread_Ch3",   // cut to 15 where the OS has that limit (Linux), else kept
        "",                      // empty is allowed
    };
    ThreadObject* thread = CreateThreadObject(&NameEntry, &names, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitThreadObject(thread, kEventTimeoutMs), WaitResult::Signalled);
    CloseThreadObject(thread);
    EXPECT_EQ(names[0], "short");
    EXPECT_EQ(names[1], "exactly15chars_");
    EXPECT_GE(names[2].size(), 15u);
    EXPECT_EQ(std::string("BaseIPPTZThread_Ch3").rfind(names[2], 0), 0u) << names[2];
    EXPECT_EQ(names[3], "");
    char tiny[1] = {'x'};
    EXPECT_STREQ(GetCurrentThreadNameCopy(tiny, 0), "");
    EXPECT_EQ(tiny[0], 'x') << "a zero-size buffer is not written";
}

}  // namespace

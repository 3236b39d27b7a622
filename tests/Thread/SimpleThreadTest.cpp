// Named threads: Run on a new thread under its name, one start per handle, bounded waits.
#include "Thread/SimpleThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/Sync.h"
#include "support/Waitable.h"

namespace {

using quillon::test::Gate;

class RecordingThread : public velmora::thread::CSimpleThread {
public:
    ~RecordingThread() override {
        release.Open();
        WaitForEnd(quillon::test::kEventTimeoutMs);
    }

    uint32_t Run() override {
        // What the thread sees of itself, read before anything else it does.
        seenCurrent = IsCurrentThread();
        seenId = velmora::platform::CurrentThreadId();
        char buffer[64];
        seenName = velmora::platform::GetCurrentThreadNameCopy(buffer, sizeof(buffer));
        ++runs;
        ran.Open();
        release.Wait();
        return 0;
    }

    Gate ran, release;
    bool seenCurrent = false;
    uint64_t seenId = 0;
    std::string seenName;
    std::atomic<int> runs{0};
};

TEST(CSimpleThreadTest, RunsOnItsOwnNamedThread) {
    RecordingThread thread;
    EXPECT_FALSE(thread.HasHandle());
    ASSERT_TRUE(thread.Start("CaptureThread"));
    ASSERT_TRUE(thread.ran.Wait());
    EXPECT_EQ(thread.Name(), "CaptureThread");
    EXPECT_EQ(thread.seenName, "CaptureThread");
    EXPECT_TRUE(thread.seenCurrent) << "the thread must know itself from its first instruction on";
    EXPECT_EQ(thread.seenId, thread.ThreadId());
    EXPECT_NE(thread.seenId, velmora::platform::CurrentThreadId());
    EXPECT_FALSE(thread.IsCurrentThread());
}

// Linux cuts thread names to fifteen characters; Windows keeps them whole.
TEST(CSimpleThreadTest, OsNameIsCutToFifteenCharactersAtMost) {
    RecordingThread thread;
    ASSERT_TRUE(thread.Start("BaseIPPTZThread_Ch12"));
    ASSERT_TRUE(thread.ran.Wait());
    EXPECT_EQ(thread.Name(), "BaseIPPTZThread_Ch12") << "the object keeps the full name";
    EXPECT_GE(thread.seenName.size(), 15u);
    EXPECT_EQ(std::string("BaseIPPTZThread_Ch12").rfind(thread.seenName, 0), 0u) << thread.seenName;
}

TEST(CSimpleThreadTest, SecondStartFailsWhileHandleIsHeld) {
    RecordingThread thread;
    ASSERT_TRUE(thread.Start("first"));
    EXPECT_FALSE(thread.Start("second")) << "thread still running";
    ASSERT_TRUE(thread.ran.Wait());
    thread.release.Open();
    ASSERT_TRUE(thread.WaitForEnd(quillon::test::kEventTimeoutMs));
    EXPECT_FALSE(thread.Start("third")) << "thread ended but its handle is still held";
    EXPECT_EQ(thread.Name(), "first");
    thread.CloseHandle();
    EXPECT_FALSE(thread.HasHandle());
    EXPECT_TRUE(thread.Start("fourth")) << "closing the handle allows a new start";
    ASSERT_TRUE(thread.WaitForEnd(quillon::test::kEventTimeoutMs));
    EXPECT_EQ(thread.runs.load(), 2);
}

TEST(CSimpleThreadTest, WaitForEndTimesOutWhileRunning) {
    RecordingThread thread;
    EXPECT_TRUE(thread.WaitForEnd(0)) << "no thread: nothing to wait for";
    ASSERT_TRUE(thread.Start("waiter"));
    ASSERT_TRUE(thread.ran.Wait());
    EXPECT_FALSE(thread.WaitForEnd(20));
    thread.release.Open();
    EXPECT_TRUE(thread.WaitForEnd(quillon::test::kEventTimeoutMs));
    EXPECT_TRUE(thread.WaitForEnd(0)) << "a second wait on an ended thread succeeds too";
}

}  // namespace

// Work-item thread: ordered execution, draining after one wake-up, Stop discarding queued
// items, ownership of refused items, throwing items and restarts.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "Thread/SimpleThread.h"
#include "Thread/WorkItemRecorder.h"

namespace {

using quillon::test::Ids;
using quillon::test::ItemKind;
using quillon::test::kEventTimeoutMs;
using quillon::test::WorkRecorder;
using velmora::thread::CWorkItemThread;

struct Item : CWorkItemThread::IWorkItem {
    Item(std::shared_ptr<WorkRecorder> r, int i, ItemKind k = ItemKind::Plain) : recorder(std::move(r)), id(i), kind(k) {}
    ~Item() override { recorder->destroyed.Add(std::to_string(id)); }
    std::shared_ptr<WorkRecorder> recorder;
    int id;
    ItemKind kind;
};

class Worker : public CWorkItemThread {
public:
    explicit Worker(std::shared_ptr<WorkRecorder> r) : recorder_(std::move(r)) {}
    // A derived worker stops before its Execute goes away.
    ~Worker() override { Stop(); }

    void Execute(IWorkItem* raw) override {
        auto* item = static_cast<Item*>(raw);
        quillon::test::ExecuteRecorded(*recorder_, item->id, item->kind, [this] { Stop(); });
    }
    uint32_t Run() override {
        // A copy: the test may drop the worker and the recorder once the gate opens.
        std::shared_ptr<WorkRecorder> recorder = recorder_;
        uint32_t result = CWorkItemThread::Run();
        recorder->runReturned.Open();
        return result;
    }
    // A refused item stays with the caller, so this helper deletes it.
    bool Post(int id, ItemKind kind = ItemKind::Plain) {
        auto* item = new Item(recorder_, id, kind);
        if (CWorkItemThread::Post(item)) return true;
        delete item;
        return false;
    }

private:
    std::shared_ptr<WorkRecorder> recorder_;
};

TEST(CWorkItemThreadTest, ExecutesItemsInPostingOrder) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("Digital Output thread"));
    std::vector<std::string> expected;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(worker.Post(i));
        expected.push_back(std::to_string(i));
    }
    ASSERT_TRUE(recorder->destroyed.WaitForSize(50));
    EXPECT_EQ(recorder->Executed(), expected);
    EXPECT_EQ(recorder->Destroyed(), expected) << "each item is deleted after it ran";
}

TEST(CWorkItemThreadTest, ThreePostsBehindOneSignalAllRun) {
    // While the worker is busy, three posts leave the auto-reset event set once. After the busy
    // item the worker must drain the queue; waiting for a signal per item would strand two.
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("worker"));
    ASSERT_TRUE(worker.Post(0, ItemKind::Block));
    ASSERT_TRUE(recorder->blockStarted.Wait());
    ASSERT_TRUE(worker.Post(1));
    ASSERT_TRUE(worker.Post(2));
    ASSERT_TRUE(worker.Post(3));
    recorder->unblock.Open();
    ASSERT_TRUE(recorder->executed.WaitForSize(4, 5000)) << "the worker polls every second at most";
    EXPECT_EQ(recorder->Executed(), Ids({0, 1, 2, 3}));
}

TEST(CWorkItemThreadTest, StopDeletesQueuedItemsWithoutRunningThem) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("worker"));
    ASSERT_TRUE(worker.Post(0, ItemKind::Block));
    ASSERT_TRUE(recorder->blockStarted.Wait());
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(worker.Post(i));
    // Stop waits for the running item, so it runs on its own thread here.
    std::thread stopper([&] { worker.Stop(); });
    EXPECT_TRUE(recorder->destroyed.WaitForSize(3)) << "queued items are deleted before Stop waits";
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2, 3}));
    recorder->unblock.Open();
    stopper.join();
    EXPECT_EQ(recorder->Executed(), Ids({0})) << "the running item finishes, the queued ones never run";
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2, 3, 0}));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.HasHandle());
}

TEST(CWorkItemThreadTest, RefusedItemStaysWithTheCaller) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    // Rows: before Start, and after Start + Stop. The item must come back untouched.
    auto* before = new Item(recorder, 1);
    EXPECT_FALSE(worker.CWorkItemThread::Post(before));
    ASSERT_TRUE(worker.Start("worker"));
    EXPECT_FALSE(worker.CWorkItemThread::Post(nullptr));
    worker.Stop();
    auto* after = new Item(recorder, 2);
    EXPECT_FALSE(worker.CWorkItemThread::Post(after));
    EXPECT_TRUE(recorder->Destroyed().empty()) << "a refused item is not deleted by the thread";
    EXPECT_EQ(before->id, 1);
    EXPECT_EQ(after->id, 2);
    delete before;
    delete after;
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2}));
    EXPECT_TRUE(recorder->Executed().empty());
}

TEST(CWorkItemThreadTest, ThrowingItemIsDeletedAndNextOneRuns) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("worker"));
    ASSERT_TRUE(worker.Post(1, ItemKind::Throw));
    ASSERT_TRUE(worker.Post(2));
    ASSERT_TRUE(recorder->destroyed.WaitForSize(2));
    EXPECT_EQ(recorder->Executed(), Ids({1, 2}));
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2}));
    EXPECT_TRUE(worker.IsRunning());
}

TEST(CWorkItemThreadTest, StartTwiceFailsAndRestartAfterStopWorks) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("worker"));
    EXPECT_FALSE(worker.Start("again"));
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    ASSERT_TRUE(worker.Start("restarted")) << "the wake-up event is reused";
    ASSERT_TRUE(worker.Post(7));
    ASSERT_TRUE(recorder->executed.WaitForSize(1));
    EXPECT_EQ(recorder->Executed(), Ids({7}));
}

TEST(CWorkItemThreadTest, StopFromInsideAnItemDoesNotWaitForItself) {
    auto recorder = std::make_shared<WorkRecorder>();
    auto worker = std::make_unique<Worker>(recorder);
    ASSERT_TRUE(worker->Start("worker"));
    ASSERT_TRUE(worker->Post(1, ItemKind::StopSelf));
    if (!recorder->runReturned.Wait()) {
        worker.release();  // the worker is stuck waiting for itself: leak it rather than hang
        FAIL() << "Stop on the worker thread waited for itself";
    }
    EXPECT_EQ(recorder->Executed(), Ids({1}));
    EXPECT_EQ(recorder->Destroyed(), Ids({1}));
    EXPECT_FALSE(worker->IsRunning());
    EXPECT_FALSE(worker->Post(2)) << "stopped";
}

}  // namespace

// Bounded work-item thread: the per-post bound on pending items, deletion of refused items,
// Stop and Clear discarding pending items, throwing items and stops from the worker itself.
#include "Thread/WorkItemThreadEx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "Thread/WorkItemRecorder.h"

namespace {

using quillon::test::Ids;
using quillon::test::ItemKind;
using quillon::test::WorkRecorder;
using velmora::CWorkItemThreadEx;

struct Item : CWorkItemThreadEx::IWorkItem {
    Item(std::shared_ptr<WorkRecorder> r, int i, ItemKind k = ItemKind::Plain) : recorder(std::move(r)), id(i), kind(k) {}
    ~Item() override { recorder->destroyed.Add(std::to_string(id)); }
    std::shared_ptr<WorkRecorder> recorder;
    int id;
    ItemKind kind;
};

class Worker : public CWorkItemThreadEx {
public:
    explicit Worker(std::shared_ptr<WorkRecorder> r) : recorder_(std::move(r)) {}
    ~Worker() override { Stop(); }

    void HandleWorkItem(IWorkItem* raw) override {
        auto* item = static_cast<Item*>(raw);
        quillon::test::ExecuteRecorded(*recorder_, item->id, item->kind, [this] { Stop(); });
    }
    uint32_t Run() override {
        // A copy: the test may drop the worker and the recorder once the gate opens.
        std::shared_ptr<WorkRecorder> recorder = recorder_;
        uint32_t result = CWorkItemThreadEx::Run();
        recorder->runReturned.Open();
        return result;
    }
    using CWorkItemThreadEx::Post;
    bool Post(int id, uint32_t maximumPending = 0, ItemKind kind = ItemKind::Plain) {
        return CWorkItemThreadEx::Post(new Item(recorder_, id, kind), maximumPending);
    }

private:
    std::shared_ptr<WorkRecorder> recorder_;
};

TEST(CWorkItemThreadExTest, RefusedItemIsDeleted) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    EXPECT_FALSE(worker.Post(1)) << "before Start";
    EXPECT_EQ(recorder->Destroyed(), Ids({1}));
    ASSERT_TRUE(worker.Start("BaseIPPTZThread_Ch0"));
    EXPECT_FALSE(worker.CWorkItemThreadEx::Post(nullptr, 0));
    EXPECT_TRUE(worker.Stop());
    EXPECT_FALSE(worker.Post(2)) << "after Stop";
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2}));
    EXPECT_TRUE(recorder->Executed().empty());
    EXPECT_TRUE(worker.Stop()) << "a second Stop is harmless and still reports true";
}

TEST(CWorkItemThreadExTest, BoundTrimsOldestPendingItems) {
    struct Row {
        const char* why;
        uint32_t maximum;
        int pendingBefore;                      // items 1..n queued behind the busy item 0
        std::vector<std::string> discarded;     // deleted by the post of item 100
        size_t pendingAfter;
    };
    const std::vector<Row> rows = {
        {"0 means no bound", 0, 3, {}, 4},
        {"1 keeps only the newest", 1, 3, Ids({1, 2, 3}), 1},
        {"1 on an empty queue discards nothing", 1, 0, {}, 1},
        {"16 full pushes out the oldest only", 16, 16, Ids({1}), 16},
        {"16 with room discards nothing", 16, 5, {}, 6},
        {"2 keeps the newest pending one", 2, 3, Ids({1, 2}), 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        auto recorder = std::make_shared<WorkRecorder>();
        Worker worker(recorder);
        ASSERT_TRUE(worker.Start("worker"));
        // Item 0 is taken out of the queue and blocks: a post never discards it.
        ASSERT_TRUE(worker.Post(0, 1, ItemKind::Block));
        ASSERT_TRUE(recorder->blockStarted.Wait());
        for (int i = 1; i <= row.pendingBefore; ++i) ASSERT_TRUE(worker.Post(i, 0));
        ASSERT_EQ(worker.PendingCount(), size_t(row.pendingBefore));
        ASSERT_TRUE(worker.Post(100, row.maximum));
        EXPECT_EQ(recorder->Destroyed(), row.discarded);
        EXPECT_EQ(worker.PendingCount(), row.pendingAfter);

        std::vector<std::string> expectedRun = Ids({0});
        for (int i = 1; i <= row.pendingBefore; ++i)
            if (std::find(row.discarded.begin(), row.discarded.end(), std::to_string(i)) == row.discarded.end())
                expectedRun.push_back(std::to_string(i));
        expectedRun.push_back("100");
        recorder->unblock.Open();
        ASSERT_TRUE(recorder->executed.WaitForSize(expectedRun.size()));
        ASSERT_TRUE(recorder->destroyed.WaitForSize(row.discarded.size() + expectedRun.size()));
        EXPECT_EQ(recorder->Executed(), expectedRun);
    }
}

TEST(CWorkItemThreadExTest, StopDeletesPendingItemsWithoutRunningThem) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("worker"));
    ASSERT_TRUE(worker.Post(0, 16, ItemKind::Block));
    ASSERT_TRUE(recorder->blockStarted.Wait());
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(worker.Post(i, 16));
    std::thread stopper([&] { EXPECT_TRUE(worker.Stop()); });
    EXPECT_TRUE(recorder->destroyed.WaitForSize(3)) << "pending items are deleted before Stop waits";
    recorder->unblock.Open();
    stopper.join();
    EXPECT_EQ(recorder->Executed(), Ids({0}));
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2, 3, 0}));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.HasHandle());
    EXPECT_EQ(worker.PendingCount(), 0u);
}

TEST(CWorkItemThreadExTest, ClearDeletesPendingItemsAndKeepsRunning) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("worker"));
    ASSERT_TRUE(worker.Post(0, 0, ItemKind::Block));
    ASSERT_TRUE(recorder->blockStarted.Wait());
    ASSERT_TRUE(worker.Post(1));
    ASSERT_TRUE(worker.Post(2));
    worker.Clear();
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2}));
    EXPECT_EQ(worker.PendingCount(), 0u);
    ASSERT_TRUE(worker.Post(3));
    recorder->unblock.Open();
    ASSERT_TRUE(recorder->executed.WaitForSize(2));
    EXPECT_EQ(recorder->Executed(), Ids({0, 3}));
}

TEST(CWorkItemThreadExTest, ThrowingItemIsDeletedAndNextOneRuns) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("worker"));
    ASSERT_TRUE(worker.Post(1, 16, ItemKind::Throw));
    ASSERT_TRUE(worker.Post(2, 16));
    ASSERT_TRUE(recorder->destroyed.WaitForSize(2));
    EXPECT_EQ(recorder->Executed(), Ids({1, 2}));
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2}));
    EXPECT_TRUE(worker.IsRunning());
}

TEST(CWorkItemThreadExTest, StartTwiceFailsButKeepsRunning) {
    auto recorder = std::make_shared<WorkRecorder>();
    Worker worker(recorder);
    ASSERT_TRUE(worker.Start("worker"));
    EXPECT_FALSE(worker.Start("again"));
    EXPECT_TRUE(worker.IsRunning());
    ASSERT_TRUE(worker.Post(1));
    ASSERT_TRUE(recorder->executed.WaitForSize(1));
    EXPECT_TRUE(worker.Stop());
    ASSERT_TRUE(worker.Start("restarted"));
    ASSERT_TRUE(worker.Post(2));
    ASSERT_TRUE(recorder->executed.WaitForSize(2));
    EXPECT_EQ(recorder->Executed(), Ids({1, 2}));
}

TEST(CWorkItemThreadExTest, StopFromInsideAnItemDoesNotWaitForItself) {
    auto recorder = std::make_shared<WorkRecorder>();
    auto worker = std::make_unique<Worker>(recorder);
    ASSERT_TRUE(worker->Start("worker"));
    ASSERT_TRUE(worker->Post(1, 0, ItemKind::StopSelf));
    if (!recorder->runReturned.Wait()) {
        worker.release();  // stuck waiting for itself: leak it rather than hang
        FAIL() << "Stop on the worker thread waited for itself";
    }
    EXPECT_EQ(recorder->Executed(), Ids({1}));
    EXPECT_FALSE(worker->IsRunning());
    EXPECT_FALSE(worker->Post(2));
    EXPECT_EQ(recorder->Destroyed(), Ids({1, 2}));
}

}  // namespace

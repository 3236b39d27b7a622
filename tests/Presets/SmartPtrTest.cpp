// TSmartPtr: shared ownership, the holder limit of 127 and deletion by the last holder.
#include "Presets/SmartPtr.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

struct Counted {
    explicit Counted(int* deletions) : deletions(deletions) {}
    virtual ~Counted() { ++*deletions; }
    int* deletions;
};

using Handle = velmora::TSmartPtr<Counted>;

TEST(TSmartPtrTest, LastHolderDeletesTheObjectOnce) {
    int deletions = 0;
    {
        Handle first(new Counted(&deletions));
        EXPECT_EQ(1, first.HolderCount());
        {
            Handle second(first);
            Handle third;
            third = second;
            EXPECT_EQ(3, first.HolderCount());
            EXPECT_TRUE(third.SameAs(first));
        }
        EXPECT_EQ(0, deletions);
        EXPECT_EQ(1, first.HolderCount());
    }
    EXPECT_EQ(1, deletions);
}

TEST(TSmartPtrTest, AtMost127HoldersShareOneObject) {
    int deletions = 0;
    Handle owner(new Counted(&deletions));
    std::vector<std::unique_ptr<Handle>> copies;
    for (int i = 0; i < 126; ++i) copies.push_back(std::make_unique<Handle>(owner));
    EXPECT_EQ(127, owner.HolderCount());
    for (const auto& copy : copies) EXPECT_TRUE(copy->SameAs(owner));
    Handle refused(owner);
    EXPECT_TRUE(refused.Empty()) << "the 128th holder gets an empty handle";
    EXPECT_EQ(127, owner.HolderCount());
    copies.pop_back();
    Handle accepted(owner);
    EXPECT_FALSE(accepted.Empty());
    copies.clear();
    accepted.Release();
    EXPECT_EQ(0, deletions);
    owner.Release();
    EXPECT_EQ(1, deletions);
}

TEST(TSmartPtrTest, MoveAndSelfAssignmentKeepTheCount) {
    int deletions = 0;
    Handle a(new Counted(&deletions));
    Handle b(std::move(a));
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(1, b.HolderCount());
    Handle& alias = b;
    b = alias;
    EXPECT_EQ(1, b.HolderCount());
    Handle c;
    c = std::move(b);
    EXPECT_EQ(1, c.HolderCount());
    c = Handle();
    EXPECT_EQ(1, deletions);
}

TEST(TSmartPtrTest, ConcurrentCopiesAndReleasesDeleteExactlyOnce) {
    int deletions = 0;
    {
        Handle owner(new Counted(&deletions));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&owner] {
                for (int i = 0; i < 2000; ++i) {
                    Handle copy(owner);
                    EXPECT_FALSE(copy.Empty());
                }
            });
        }
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(1, owner.HolderCount());
    }
    EXPECT_EQ(1, deletions);
}

}  // namespace

// The soak run's fault schedule: faults stay inside their bounds, never pile onto one channel, end
// before the run does, and the recovery verdicts follow the pictures that arrive after each end.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

#include "host/FaultPlan.h"

namespace {

using namespace quillon::host;

constexpr uint64_t kStepMs = 100;
constexpr uint64_t kRunMs = 120000;

FaultTiming Timing() {
    FaultTiming t;
    t.lastBeginMs = kRunMs - t.maxDurationMs;
    return t;
}

// Drives a plan with a made-up clock; deliver(channel, now) says whether that channel delivers a
// picture in this step. Returns every action seen, with its time.
struct DriveResult {
    struct Seen {
        uint64_t atMs;
        FaultAction action;
    };
    std::vector<Seen> actions;
    std::vector<uint64_t> pictures;
};

template <typename Deliver>
DriveResult Drive(FaultPlan& plan, size_t channels, uint64_t untilMs, Deliver deliver) {
    DriveResult run;
    run.pictures.assign(channels, 0);
    for (uint64_t now = 0; now <= untilMs; now += kStepMs) {
        for (size_t c = 0; c < channels; ++c)
            if (deliver(c, now, plan)) ++run.pictures[c];
        for (const FaultAction& a : plan.Step(now, run.pictures)) run.actions.push_back({now, a});
    }
    return run;
}

// A channel delivers unless it is under a fault that is still active.
bool HealthyOutsideFaults(size_t channel, uint64_t, const FaultPlan& plan) {
    for (const FaultRecord& r : plan.Records())
        if (r.channel == channel && r.outcome == FaultOutcome::kActive) return false;
    return true;
}

TEST(FaultPlanTest, FaultsStayWithinTheirBoundsAndNeverOverlapOnAChannel) {
    const size_t channels = 8;
    FaultPlan plan(7, channels, Timing());
    DriveResult run = Drive(plan, channels, kRunMs + 40000, HealthyOutsideFaults);
    const FaultTiming& t = plan.Timing();
    ASSERT_GE(plan.Records().size(), 15u) << "a two-minute run with 8 channels should see many faults";
    EXPECT_EQ(t.maxConcurrent, channels / 2);

    size_t busyMax = 0;
    std::vector<int> active(channels, 0);
    for (const DriveResult::Seen& seen : run.actions) {
        const FaultRecord& r = plan.Records()[seen.action.record];
        if (seen.action.type == FaultAction::Type::kBegin) {
            EXPECT_GE(seen.atMs, t.firstBeginMs);
            EXPECT_LE(seen.atMs, t.lastBeginMs);
            EXPECT_EQ(active[r.channel]++, 0) << "two faults at once on channel " << r.channel;
        } else {
            EXPECT_EQ(active[r.channel]--, 1);
            const uint64_t lasted = seen.atMs - r.beginMs;
            EXPECT_GE(lasted, t.minDurationMs);
            EXPECT_LE(lasted, t.maxDurationMs + kStepMs);
            EXPECT_LE(seen.atMs, kRunMs + kStepMs) << "a fault outlived the run";
        }
        size_t busy = 0;
        for (size_t c = 0; c < channels; ++c) busy += plan.ChannelBusy(c);
        busyMax = std::max(busyMax, busy);
    }
    EXPECT_LE(busyMax, t.maxConcurrent);
    for (int a : active) EXPECT_EQ(a, 0) << "a begun fault never ended";
    EXPECT_TRUE(plan.Settled());
    EXPECT_EQ(plan.Count(FaultOutcome::kSurvived), plan.Records().size());
}

TEST(FaultPlanTest, EverySixFaultsHoldEveryKindAndParametersFitTheKind) {
    FaultPlan plan(11, 8, Timing());
    Drive(plan, 8, kRunMs + 40000, HealthyOutsideFaults);
    ASSERT_GE(plan.Records().size(), 2 * kFaultKindCount);
    std::set<FaultKind> kinds;
    for (size_t i = 0; i < plan.Records().size(); ++i) {
        const FaultRecord& r = plan.Records()[i];
        // A short run still meets every kind: each block of six is one of each.
        if (i % kFaultKindCount == 0) kinds.clear();
        EXPECT_TRUE(kinds.insert(r.kind).second) << "kind repeated within a block, fault " << i;
        switch (r.kind) {
            case FaultKind::kCloseMidBody: EXPECT_GT(r.parameter, 0u) << "a cut before any byte is a refused stream"; break;
            case FaultKind::kGarbage: EXPECT_GT(r.parameter, 0u) << "zero garbage bytes is no fault"; break;
            case FaultKind::kTrickle: EXPECT_GT(r.parameter, 0u) << "zero-byte pieces never send anything"; break;
            default: break;
        }
    }
}

TEST(FaultPlanTest, SameSeedSameScheduleOtherSeedAnother) {
    auto schedule = [](uint32_t seed) {
        FaultPlan plan(seed, 8, Timing());
        Drive(plan, 8, kRunMs, HealthyOutsideFaults);
        std::vector<std::tuple<size_t, int, uint64_t, uint64_t>> s;
        for (const FaultRecord& r : plan.Records()) s.emplace_back(r.channel, static_cast<int>(r.kind), r.beginMs, r.plannedEndMs);
        return s;
    };
    EXPECT_EQ(schedule(5), schedule(5));
    EXPECT_NE(schedule(5), schedule(6));
}

TEST(FaultPlanTest, ChannelSilentAfterItsFaultIsNeverRecoveredAndGetsNoMoreFaults) {
    const size_t channels = 2;
    FaultPlan plan(3, channels, Timing());
    // Channel 0 stops for good once its first fault begins; channel 1 is healthy.
    DriveResult run = Drive(plan, channels, kRunMs + 40000, [](size_t c, uint64_t now, const FaultPlan& p) {
        for (const FaultRecord& r : p.Records())
            if (r.channel == 0 && c == 0 && now >= r.beginMs) return false;
        return HealthyOutsideFaults(c, now, p);
    });
    size_t onZero = 0;
    const FaultRecord* failed = nullptr;
    for (const FaultRecord& r : plan.Records())
        if (r.channel == 0) {
            ++onZero;
            failed = &r;
        }
    ASSERT_EQ(onZero, 1u) << "a channel that never recovered was faulted again";
    EXPECT_EQ(failed->outcome, FaultOutcome::kNeverRecovered);
    EXPECT_EQ(plan.Count(FaultOutcome::kNeverRecovered), 1u);
    EXPECT_GT(plan.Count(FaultOutcome::kSurvived), 0u) << "the healthy channel keeps being faulted and recovering";
    EXPECT_TRUE(plan.Settled());
}

TEST(FaultPlanTest, VerdictWaitsForPicturesAfterTheEndNotDuringTheFault) {
    FaultTiming t = Timing();
    t.maxConcurrent = 1;
    FaultPlan plan(9, 1, t);
    std::vector<uint64_t> pictures{0};
    uint64_t now = 0;
    // Pictures keep coming until the first fault ends (a trickle lets some through), then none.
    for (; now <= kRunMs && plan.Records().empty(); now += kStepMs) {
        ++pictures[0];
        plan.Step(now, pictures);
    }
    ASSERT_EQ(plan.Records().size(), 1u);
    for (; plan.Records()[0].outcome == FaultOutcome::kActive; now += kStepMs) {
        pictures[0] += 5;
        plan.Step(now, pictures);
    }
    const uint64_t endedAt = plan.Records()[0].endMs;
    // Fewer new pictures than a resume needs: still awaiting until the recovery bound passes.
    pictures[0] += t.resumePictures - 1;
    for (; now <= endedAt + t.recoveryMs; now += kStepMs) {
        plan.Step(now, pictures);
        ASSERT_EQ(plan.Records()[0].outcome, FaultOutcome::kAwaitingPictures) << "decided early at " << now;
    }
    plan.Step(now, pictures);
    EXPECT_EQ(plan.Records()[0].outcome, FaultOutcome::kNeverRecovered);
}

TEST(FaultPlanTest, ResumeTimeIsMeasuredFromTheEnd) {
    FaultTiming t = Timing();
    FaultPlan plan(4, 1, t);
    std::vector<uint64_t> pictures{0};
    uint64_t now = 0;
    for (; plan.Records().empty(); now += kStepMs) plan.Step(now, pictures);
    for (; plan.Records()[0].outcome == FaultOutcome::kActive; now += kStepMs) plan.Step(now, pictures);
    const uint64_t endedAt = plan.Records()[0].endMs;
    now = endedAt + 2500;
    pictures[0] += t.resumePictures;
    plan.Step(now, pictures);
    EXPECT_EQ(plan.Records()[0].outcome, FaultOutcome::kSurvived);
    EXPECT_EQ(plan.Records()[0].resumedAfterMs, 2500u);
}

TEST(FaultPlanTest, NoFaultsWithoutABeginWindow) {
    FaultTiming t;  // lastBeginMs 0: --faults none, or a run too short
    FaultPlan plan(1, 4, t);
    Drive(plan, 4, kRunMs, HealthyOutsideFaults);
    EXPECT_TRUE(plan.Records().empty());
    EXPECT_TRUE(plan.Settled());
}

TEST(FaultPlanTest, MemoryGrowthRule) {
    constexpr uint64_t kMiB = 1024 * 1024;
    struct Row {
        uint64_t warm, end, limit;
        bool acceptable;
    } rows[] = {
        {40 * kMiB, 40 * kMiB, 16 * kMiB, true},        // flat
        {40 * kMiB, 30 * kMiB, 16 * kMiB, true},        // shrank
        {40 * kMiB, 56 * kMiB, 16 * kMiB, true},        // exactly the limit
        {40 * kMiB, 56 * kMiB + 1, 16 * kMiB, false},   // one byte over
        {0, 40 * kMiB, 16 * kMiB, false},               // unreadable early reading shows nothing
        {40 * kMiB, 0, 16 * kMiB, false},               // unreadable end reading
    };
    for (const Row& r : rows)
        EXPECT_EQ(MemoryGrowthAcceptable(r.warm, r.end, r.limit), r.acceptable) << r.warm << " -> " << r.end;
}

}  // namespace

// Random fault schedule of the soak run.
#include "host/FaultPlan.h"

#include <algorithm>

namespace quillon::host {

namespace {
// Kind-specific byte amounts: where a stall or a cut falls inside the stream, how much garbage, how
// small the trickled pieces are. Within the first pictures of a 320x240 stream.
constexpr uint32_t kMaxStallAfterBytes = 40000;
constexpr uint32_t kMinCloseAfterBytes = 200;
constexpr uint32_t kMaxCloseAfterBytes = 60000;
constexpr uint32_t kMinGarbageBytes = 16;
constexpr uint32_t kMaxGarbageBytes = 8192;
constexpr uint32_t kMaxTrickleBytes = 256;
}  // namespace

const char* FaultKindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::kCameraOff: return "camera off";
        case FaultKind::kStall: return "stall";
        case FaultKind::kCloseMidBody: return "close mid-body";
        case FaultKind::kUnauthorized: return "401 burst";
        case FaultKind::kGarbage: return "garbage";
        case FaultKind::kTrickle: return "trickle";
    }
    return "?";
}

FaultPlan::FaultPlan(uint32_t seed, size_t channels, FaultTiming timing)
    : random_(seed), channels_(channels), timing_(timing), nextBeginMs_(timing.firstBeginMs), failed_(channels, false) {
    if (timing_.maxConcurrent == 0) timing_.maxConcurrent = std::max<size_t>(1, channels / 2);
    if (timing_.maxGapMs < timing_.minGapMs) timing_.maxGapMs = timing_.minGapMs;
    if (timing_.maxDurationMs < timing_.minDurationMs) timing_.maxDurationMs = timing_.minDurationMs;
}

uint32_t FaultPlan::Uniform(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random_);
}

std::vector<FaultAction> FaultPlan::Step(uint64_t nowMs, const std::vector<uint64_t>& pictures) {
    std::vector<FaultAction> actions;
    auto picturesOf = [&](size_t channel) { return channel < pictures.size() ? pictures[channel] : 0; };
    for (size_t i = 0; i < records_.size(); ++i) {
        FaultRecord& r = records_[i];
        if (r.outcome == FaultOutcome::kActive && nowMs >= r.plannedEndMs) {
            r.outcome = FaultOutcome::kAwaitingPictures;
            r.endMs = nowMs;
            r.picturesAtEnd = picturesOf(r.channel);
            actions.push_back({FaultAction::Type::kEnd, i});
        } else if (r.outcome == FaultOutcome::kAwaitingPictures) {
            if (picturesOf(r.channel) >= r.picturesAtEnd + timing_.resumePictures) {
                r.outcome = FaultOutcome::kSurvived;
                r.resumedAfterMs = nowMs - r.endMs;
            } else if (nowMs > r.endMs + timing_.recoveryMs) {
                r.outcome = FaultOutcome::kNeverRecovered;
                failed_[r.channel] = true;
            }
        }
    }
    if (timing_.lastBeginMs != 0 && nowMs >= nextBeginMs_ && nowMs <= timing_.lastBeginMs) Begin(nowMs, &actions);
    return actions;
}

void FaultPlan::Begin(uint64_t nowMs, std::vector<FaultAction>* actions) {
    size_t busy = 0;
    std::vector<size_t> eligible;
    for (size_t c = 0; c < channels_; ++c) {
        if (ChannelBusy(c))
            ++busy;
        else if (!failed_[c])
            eligible.push_back(c);
    }
    // At the cap, the next step tries again: the gap counts from a fault that really began.
    if (busy >= timing_.maxConcurrent || eligible.empty()) return;
    FaultRecord r;
    r.channel = eligible[Uniform(0, static_cast<uint32_t>(eligible.size() - 1))];
    // Kinds are dealt from a shuffled deck, so every run of six faults holds each kind once.
    if (deck_.empty()) {
        for (size_t k = 0; k < kFaultKindCount; ++k) deck_.push_back(static_cast<FaultKind>(k));
        std::shuffle(deck_.begin(), deck_.end(), random_);
    }
    r.kind = deck_.back();
    deck_.pop_back();
    switch (r.kind) {
        case FaultKind::kStall: r.parameter = Uniform(0, kMaxStallAfterBytes); break;
        case FaultKind::kCloseMidBody: r.parameter = Uniform(kMinCloseAfterBytes, kMaxCloseAfterBytes); break;
        case FaultKind::kGarbage: r.parameter = Uniform(kMinGarbageBytes, kMaxGarbageBytes); break;
        case FaultKind::kTrickle: r.parameter = Uniform(1, kMaxTrickleBytes); break;
        default: break;
    }
    r.beginMs = nowMs;
    r.plannedEndMs = nowMs + Uniform(timing_.minDurationMs, timing_.maxDurationMs);
    records_.push_back(r);
    actions->push_back({FaultAction::Type::kBegin, records_.size() - 1});
    nextBeginMs_ = nowMs + Uniform(timing_.minGapMs, timing_.maxGapMs);
}

bool FaultPlan::Settled() const {
    for (const FaultRecord& r : records_)
        if (r.outcome == FaultOutcome::kActive || r.outcome == FaultOutcome::kAwaitingPictures) return false;
    return true;
}

bool FaultPlan::ChannelBusy(size_t channel) const {
    for (const FaultRecord& r : records_)
        if (r.channel == channel && (r.outcome == FaultOutcome::kActive || r.outcome == FaultOutcome::kAwaitingPictures))
            return true;
    return false;
}

size_t FaultPlan::Count(FaultOutcome outcome) const {
    return static_cast<size_t>(
        std::count_if(records_.begin(), records_.end(), [outcome](const FaultRecord& r) { return r.outcome == outcome; }));
}

bool MemoryGrowthAcceptable(uint64_t afterWarmUpBytes, uint64_t endBytes, uint64_t limitBytes) {
    if (afterWarmUpBytes == 0 || endBytes == 0) return false;
    return endBytes <= afterWarmUpBytes || endBytes - afterWarmUpBytes <= limitBytes;
}

}  // namespace quillon::host

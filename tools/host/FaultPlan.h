// The soak run's random fault schedule and its bookkeeping: which channel gets which fault when, when
// each fault ends, and whether that channel delivered pictures again afterwards. Pure: the caller
// brings the time and the channels' picture counts, so tests drive it with a made-up clock.
//
// Contract: one thread uses a plan. Step is called repeatedly with a non-decreasing time; the caller
// carries out what it returns at once (ends before begins). A channel carries at most one fault at a
// time and gets no new one until it has delivered pictures after the last; a channel that never
// recovers gets no further faults.
#pragma once
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace quillon::host {

enum class FaultKind {
    kCameraOff,     // refuses connections and drops open ones for the whole fault
    kStall,         // stream pauses longer than the request time-out
    kCloseMidBody,  // stream connection dropped after some bytes
    kUnauthorized,  // every stream request answered 401
    kGarbage,       // bytes that are not HTTP instead of a response
    kTrickle,       // stream sent in small pieces with pauses
};
constexpr size_t kFaultKindCount = 6;
const char* FaultKindName(FaultKind kind);

struct FaultTiming {
    uint64_t firstBeginMs = 3000;    // the channels run undisturbed first
    uint64_t lastBeginMs = 0;        // no fault begins after this; 0: none begins at all
    uint32_t minGapMs = 1000;        // between two fault beginnings (any channels)
    uint32_t maxGapMs = 4000;
    uint32_t minDurationMs = 1000;   // how long a fault lasts
    uint32_t maxDurationMs = 8000;
    uint32_t recoveryMs = 30000;     // after its end, a channel must deliver again within this
    uint64_t resumePictures = 3;     // new pictures that count as delivering again
    size_t maxConcurrent = 0;        // channels under fault or awaiting pictures; 0: half the channels
};

enum class FaultOutcome { kActive, kAwaitingPictures, kSurvived, kNeverRecovered };

struct FaultRecord {
    size_t channel = 0;
    FaultKind kind = FaultKind::kCameraOff;
    uint32_t parameter = 0;          // kind-specific amount of bytes (see FaultPlan::Parameter)
    uint64_t beginMs = 0;
    uint64_t plannedEndMs = 0;
    uint64_t endMs = 0;              // when Step ended it
    uint64_t picturesAtEnd = 0;
    uint64_t resumedAfterMs = 0;     // end to the resume pictures, when survived
    FaultOutcome outcome = FaultOutcome::kActive;
};

struct FaultAction {
    enum class Type { kBegin, kEnd } type;
    size_t record;  // index into Records()
};

class FaultPlan {
public:
    FaultPlan(uint32_t seed, size_t channels, FaultTiming timing);

    // Advances to nowMs; pictures[c] is channel c's delivered picture count so far.
    std::vector<FaultAction> Step(uint64_t nowMs, const std::vector<uint64_t>& pictures);

    // No fault active and none awaiting pictures.
    bool Settled() const;
    bool ChannelBusy(size_t channel) const;
    const std::vector<FaultRecord>& Records() const { return records_; }
    size_t Count(FaultOutcome outcome) const;
    const FaultTiming& Timing() const { return timing_; }

private:
    uint32_t Uniform(uint32_t low, uint32_t high);
    void Begin(uint64_t nowMs, std::vector<FaultAction>* actions);

    std::mt19937 random_;
    size_t channels_;
    FaultTiming timing_;
    uint64_t nextBeginMs_;
    std::vector<bool> failed_;
    std::vector<FaultKind> deck_;
    std::vector<FaultRecord> records_;
};

// The soak run's memory rule: the resident set at the end may exceed the one after warm-up by at
// most limitBytes. An unreadable reading (0) fails, since nothing was shown.
bool MemoryGrowthAcceptable(uint64_t afterWarmUpBytes, uint64_t endBytes, uint64_t limitBytes);

}  // namespace quillon::host

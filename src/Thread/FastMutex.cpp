// Spin-then-block recursive lock.
#include "Thread/FastMutex.h"

#include <new>

namespace velmora {

namespace {
constexpr uint32_t kMultiProcessorSpinCount = 4000;
// -1 undetermined, 0 several processors, 1 a single processor; set by the first lock built.
std::atomic<int> g_singleProcessor{-1};
}  // namespace

uint32_t CFastMutex::DefaultSpinCount() {
    int single = g_singleProcessor.load(std::memory_order_relaxed);
    if (single < 0) {
        single = platform::ProcessorCount() <= 1 ? 1 : 0;
        g_singleProcessor.store(single, std::memory_order_relaxed);
    }
    return single ? 0 : kMultiProcessorSpinCount;
}

CFastMutex::CFastMutex() : event_(platform::CreateEventObject(false, false)), spinCount_(DefaultSpinCount()) {
    // Without its event a blocked Lock would return at once and share the lock.
    if (!event_) throw std::bad_alloc();
}

CFastMutex::~CFastMutex() { platform::CloseEventObject(event_); }

bool CFastMutex::TryLock() {
    const uint64_t self = platform::CurrentThreadId();
    for (uint32_t attempt = 0; attempt <= spinCount_; ++attempt) {
        int32_t expected = 0;
        if (lockCount_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            owner_.store(self, std::memory_order_relaxed);
            recursion_ = 1;
            return true;
        }
        if (owner_.load(std::memory_order_relaxed) == self) {
            lockCount_.fetch_add(1, std::memory_order_relaxed);
            ++recursion_;
            return true;
        }
    }
    return false;
}

void CFastMutex::Lock() {
    if (TryLock()) return;
    const uint64_t self = platform::CurrentThreadId();
    if (lockCount_.fetch_add(1, std::memory_order_acquire) + 1 == 1) {
        // Released between the spin and the increment.
        owner_.store(self, std::memory_order_relaxed);
        recursion_ = 1;
        return;
    }
    if (owner_.load(std::memory_order_relaxed) == self) {
        ++recursion_;
        return;
    }
    platform::WaitEventObject(event_, platform::kInfinite);
    owner_.store(self, std::memory_order_relaxed);
    recursion_ = 1;
}

void CFastMutex::Unlock() {
    if (--recursion_ > 0) {
        lockCount_.fetch_sub(1, std::memory_order_release);
        return;
    }
    owner_.store(0, std::memory_order_relaxed);
    // Another thread counted itself in: it waits (or is about to) on the event; wake exactly one.
    if (lockCount_.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0) platform::SetEventObject(event_);
}

}  // namespace velmora

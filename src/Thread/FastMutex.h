// Recursive lock that spins before it blocks: an uncontended Lock is one compare-exchange,
// a contended one spins up to spin count + 1 attempts and then waits on an auto-reset event.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/Sync.h"

namespace velmora {

class CFastMutex {
public:
    CFastMutex();
    ~CFastMutex();
    CFastMutex(const CFastMutex&) = delete;
    CFastMutex& operator=(const CFastMutex&) = delete;

    void Lock();
    bool TryLock();
    void Unlock();

    uint32_t SpinCount() const { return spinCount_; }
    // Spin count given to new locks: 4000 on a multi-processor machine, 0 on one processor.
    static uint32_t DefaultSpinCount();

private:
    platform::EventObject* event_;
    uint32_t spinCount_;
    std::atomic<int32_t> lockCount_{0};
    std::atomic<uint64_t> owner_{0};
    uint32_t recursion_ = 0;  // touched only by the owner
};

class CFastMutexGuard {
public:
    explicit CFastMutexGuard(CFastMutex* mutex) : mutex_(mutex) { mutex_->Lock(); }
    explicit CFastMutexGuard(CFastMutex& mutex) : CFastMutexGuard(&mutex) {}
    ~CFastMutexGuard() { mutex_->Unlock(); }
    CFastMutexGuard(const CFastMutexGuard&) = delete;
    CFastMutexGuard& operator=(const CFastMutexGuard&) = delete;

private:
    CFastMutex* mutex_;
};

}  // namespace velmora

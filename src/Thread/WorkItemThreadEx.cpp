// Bounded work-item thread.
#include "Thread/WorkItemThreadEx.h"

#include <new>

namespace velmora {

namespace {
constexpr uint32_t kWakeupPollMs = 1000;
}

CWorkItemThreadEx::CWorkItemThreadEx() : wakeup_(platform::CreateEventObject(false, false)) {
    // Without its event the worker's wait would fail at once and spin.
    if (!wakeup_) throw std::bad_alloc();
}

CWorkItemThreadEx::~CWorkItemThreadEx() {
    // Stop is virtual but the derived part is gone here; this class's own Stop is what runs.
    if (running_ || HasHandle()) CWorkItemThreadEx::Stop();
    CWorkItemThreadEx::Clear();
    platform::CloseEventObject(wakeup_);
}

void CWorkItemThreadEx::Clear() {
    std::list<IWorkItem*> items;
    {
        CFastMutexGuard guard(queueLock_);
        items.swap(queue_);
    }
    for (IWorkItem* item : items) delete item;
}

bool CWorkItemThreadEx::Start(const std::string& name) {
    running_ = true;
    return CSimpleThread::Start(name);
}

bool CWorkItemThreadEx::Stop() {
    {
        CFastMutexGuard guard(queueLock_);
        running_ = false;
    }
    Clear();
    platform::SetEventObject(wakeup_);
    if (HasHandle()) {
        if (!IsCurrentThread()) WaitForEnd(platform::kInfinite);
        CloseHandle();
    }
    return true;
}

bool CWorkItemThreadEx::Post(IWorkItem* item, uint32_t maximumPending) {
    if (!item) return false;
    std::list<IWorkItem*> discarded;
    {
        CFastMutexGuard guard(queueLock_);
        if (!running_) {
            discarded.push_back(item);
        } else {
            while (maximumPending > 0 && queue_.size() > maximumPending - 1) {
                discarded.push_back(queue_.front());
                queue_.pop_front();
            }
            queue_.push_back(item);
            platform::SetEventObject(wakeup_);
            item = nullptr;
        }
    }
    // Deleted outside the lock: an item's destructor is not ours to bound.
    for (IWorkItem* old : discarded) delete old;
    return item == nullptr;
}

size_t CWorkItemThreadEx::PendingCount() {
    CFastMutexGuard guard(queueLock_);
    return queue_.size();
}

uint32_t CWorkItemThreadEx::Run() {
    while (running_) {
        if (platform::WaitEventObject(wakeup_, kWakeupPollMs) != platform::WaitResult::Signalled) continue;
        for (;;) {
            IWorkItem* item = nullptr;
            {
                CFastMutexGuard guard(queueLock_);
                if (queue_.empty()) break;
                item = queue_.front();
                queue_.pop_front();
            }
            try {
                HandleWorkItem(item);
            } catch (...) {
                // A failing command must not end the worker.
            }
            delete item;
            if (!running_) return 0;
        }
    }
    return 0;
}

}  // namespace velmora

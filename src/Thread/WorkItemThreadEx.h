// Work-item thread with a per-call bound on pending items: the oldest pending items are
// discarded to make room. Items passed to Post belong to this object from that moment.
#pragma once
#include <atomic>
#include <cstdint>
#include <list>
#include <string>

#include "Thread/FastMutex.h"
#include "Thread/SimpleThread.h"

namespace velmora {

class CWorkItemThreadEx : public thread::CSimpleThread {
public:
    class IWorkItem {
    public:
        virtual ~IWorkItem() = default;
    };

    CWorkItemThreadEx();
    uint32_t Run() override;
    ~CWorkItemThreadEx() override;
    virtual void Clear();
    virtual void HandleWorkItem(IWorkItem* item) = 0;
    // The running flag is set even when the thread cannot be started.
    virtual bool Start(const std::string& name);
    virtual bool Stop();
    // maximumPending 0: no bound. A refused item is deleted.
    virtual bool Post(IWorkItem* item, uint32_t maximumPending);

    bool IsRunning() const { return running_.load(); }
    size_t PendingCount();

private:
    platform::EventObject* wakeup_;
    std::atomic<bool> running_{false};
    CFastMutex queueLock_;
    std::list<IWorkItem*> queue_;
};

}  // namespace velmora

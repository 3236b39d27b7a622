// Named thread objects and the work-item thread that executes queued items one at a time.
#pragma once
#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>

#include "platform/Sync.h"

namespace velmora::thread {

// A thread with a name whose body is Run. The handle stays until the owner closes it.
class CSimpleThread {
public:
    CSimpleThread() = default;
    virtual uint32_t Run() = 0;
    virtual ~CSimpleThread();
    CSimpleThread(const CSimpleThread&) = delete;
    CSimpleThread& operator=(const CSimpleThread&) = delete;

    // False when a handle is already held or the thread cannot be created.
    bool Start(const std::string& name);

    const std::string& Name() const { return name_; }
    bool HasHandle() const { return handle_ != nullptr; }
    uint64_t ThreadId() const { return threadId_; }
    bool IsCurrentThread() const;
    // Waits for the thread to end; true once it has.
    bool WaitForEnd(uint32_t milliseconds);
    void CloseHandle();

    // Exit code of every thread started here.
    static constexpr uint32_t kExitCode = 123;

protected:
    std::string name_;
    platform::ThreadObject* handle_ = nullptr;
    uint64_t threadId_ = 0;

private:
    static uint32_t Entry(void* self);

    // Held by Start while it creates the thread and stores its handle and id; the new thread
    // passes through it before Run, so Run sees both (IsCurrentThread, a Stop from inside).
    std::mutex startLock_;
};

// Executes posted items in order on its own thread. The queue owns queued items.
class CWorkItemThread : public CSimpleThread {
public:
    class IWorkItem {
    public:
        virtual ~IWorkItem() = default;
    };

    CWorkItemThread() = default;
    uint32_t Run() override;
    ~CWorkItemThread() override;
    virtual void Execute(IWorkItem* item) = 0;

    bool Start(const std::string& name);
    // Discards queued items, wakes the worker and waits for it without a time limit
    // (unless called on the worker itself).
    void Stop();
    // False when not running or the item is null; the caller then keeps the item.
    bool Post(IWorkItem* item);
    bool IsRunning() const { return running_.load(); }

private:
    void DeleteQueued();

    std::mutex queueLock_;
    std::list<IWorkItem*> queue_;
    platform::EventObject* wakeup_ = nullptr;
    std::atomic<bool> running_{false};
};

}  // namespace velmora::thread

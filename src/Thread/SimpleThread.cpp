// Named threads and the work-item thread.
#include "Thread/SimpleThread.h"

namespace velmora::thread {

namespace {
constexpr uint32_t kWakeupPollMs = 1000;
}

CSimpleThread::~CSimpleThread() { CloseHandle(); }

uint32_t CSimpleThread::Entry(void* self) {
    auto* thread = static_cast<CSimpleThread*>(self);
    { std::lock_guard<std::mutex> started(thread->startLock_); }
    platform::SetCurrentThreadName(thread->name_.c_str());
    thread->Run();
    return kExitCode;
}

bool CSimpleThread::Start(const std::string& name) {
    std::lock_guard<std::mutex> lock(startLock_);
    if (handle_) return false;
    name_ = name;
    uint64_t id = 0;
    handle_ = platform::CreateThreadObject(&CSimpleThread::Entry, this, &id);
    if (!handle_) {
        threadId_ = 0;
        return false;
    }
    threadId_ = id;
    return true;
}

bool CSimpleThread::IsCurrentThread() const {
    return handle_ && threadId_ == platform::CurrentThreadId();
}

bool CSimpleThread::WaitForEnd(uint32_t milliseconds) {
    if (!handle_) return true;
    return platform::WaitThreadObject(handle_, milliseconds) == platform::WaitResult::Signalled;
}

void CSimpleThread::CloseHandle() {
    if (handle_) {
        platform::CloseThreadObject(handle_);
        handle_ = nullptr;
        threadId_ = 0;
    }
}

CWorkItemThread::~CWorkItemThread() {
    Stop();
    std::lock_guard<std::mutex> lock(queueLock_);
    if (wakeup_) {
        platform::CloseEventObject(wakeup_);
        wakeup_ = nullptr;
    }
}

bool CWorkItemThread::Start(const std::string& name) {
    if (HasHandle()) return false;
    if (!wakeup_) {
        wakeup_ = platform::CreateEventObject(false, false);
        if (!wakeup_) return false;
    }
    running_ = true;
    return CSimpleThread::Start(name);
}

bool CWorkItemThread::Post(IWorkItem* item) {
    if (!item || !wakeup_) return false;
    std::lock_guard<std::mutex> lock(queueLock_);
    // Checked under the lock so that Stop's purge cannot miss an item posted concurrently.
    if (!running_) return false;
    queue_.push_back(item);
    platform::SetEventObject(wakeup_);
    return true;
}

void CWorkItemThread::DeleteQueued() {
    std::list<IWorkItem*> items;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        items.swap(queue_);
    }
    for (IWorkItem* item : items) delete item;
}

void CWorkItemThread::Stop() {
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        running_ = false;
    }
    DeleteQueued();
    if (wakeup_) platform::SetEventObject(wakeup_);
    if (HasHandle()) {
        if (!IsCurrentThread()) WaitForEnd(platform::kInfinite);
        CloseHandle();
    }
}

uint32_t CWorkItemThread::Run() {
    while (running_) {
        if (platform::WaitEventObject(wakeup_, kWakeupPollMs) != platform::WaitResult::Signalled) continue;
        // One signal may stand for several posts: drain the queue.
        for (;;) {
            IWorkItem* item = nullptr;
            {
                std::lock_guard<std::mutex> lock(queueLock_);
                if (!queue_.empty()) {
                    item = queue_.front();
                    queue_.pop_front();
                }
            }
            if (!running_) {
                delete item;
                break;
            }
            if (!item) break;
            try {
                Execute(item);
            } catch (...) {
                // A failing item must not end the worker.
            }
            delete item;
        }
    }
    DeleteQueued();
    return 0;
}

}  // namespace velmora::thread

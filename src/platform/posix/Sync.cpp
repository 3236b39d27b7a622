// POSIX events and threads: condition-variable events and pthreads with a completion flag,
// so that a thread can be waited for with a time limit.
#include "platform/Sync.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace velmora::platform {

struct EventObject {
    std::mutex mutex;
    std::condition_variable cv;
    bool manualReset = false;
    bool set = false;
};

EventObject* CreateEventObject(bool manualReset, bool initiallySet) {
    auto* event = new (std::nothrow) EventObject;
    if (event) {
        event->manualReset = manualReset;
        event->set = initiallySet;
    }
    return event;
}

void CloseEventObject(EventObject* event) { delete event; }

bool SetEventObject(EventObject* event) {
    if (!event) return false;
    {
        std::lock_guard<std::mutex> lock(event->mutex);
        event->set = true;
    }
    if (event->manualReset)
        event->cv.notify_all();
    else
        event->cv.notify_one();
    return true;
}

bool ResetEventObject(EventObject* event) {
    if (!event) return false;
    std::lock_guard<std::mutex> lock(event->mutex);
    event->set = false;
    return true;
}

WaitResult WaitEventObject(EventObject* event, uint32_t milliseconds) {
    if (!event) return WaitResult::Failed;
    std::unique_lock<std::mutex> lock(event->mutex);
    auto ready = [event] { return event->set; };
    if (milliseconds == kInfinite) {
        event->cv.wait(lock, ready);
    } else if (milliseconds == 0) {
        // A poll: a zero-length condition wait would still enter the kernel.
        if (!event->set) return WaitResult::TimedOut;
    } else if (!event->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
        return WaitResult::TimedOut;
    }
    if (!event->manualReset) event->set = false;
    return WaitResult::Signalled;
}

namespace {

// Shared between the handle and the running thread, so either may go first.
struct ThreadState {
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;
    ThreadEntry entry = nullptr;
    void* argument = nullptr;
};

void* ThreadTrampoline(void* raw) {
    auto* holder = static_cast<std::shared_ptr<ThreadState>*>(raw);
    std::shared_ptr<ThreadState> state = *holder;
    delete holder;
    state->entry(state->argument);
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->finished = true;
    }
    state->cv.notify_all();
    return nullptr;
}


}  // namespace

struct ThreadObject {
    pthread_t thread{};
    std::shared_ptr<ThreadState> state;
    // Several stoppers may wait for one thread at once; exactly one of them reaps it.
    std::mutex joinMutex;
    bool joined = false;
};

ThreadObject* CreateThreadObject(ThreadEntry entry, void* argument, uint64_t* threadId) {
    auto state = std::make_shared<ThreadState>();
    state->entry = entry;
    state->argument = argument;
    auto* object = new (std::nothrow) ThreadObject;
    if (!object) return nullptr;
    object->state = state;
    auto* holder = new std::shared_ptr<ThreadState>(state);
    if (pthread_create(&object->thread, nullptr, ThreadTrampoline, holder) != 0) {
        delete holder;
        delete object;
        return nullptr;
    }
    if (threadId) {
        // pthread_t is opaque; a numeric id comes from the handle's identity instead.
        static_assert(sizeof(pthread_t) <= sizeof(uint64_t));
        uint64_t id = 0;
        std::memcpy(&id, &object->thread, sizeof(pthread_t));
        *threadId = id;
    }
    return object;
}

WaitResult WaitThreadObject(ThreadObject* thread, uint32_t milliseconds) {
    if (!thread) return WaitResult::Failed;
    {
        std::unique_lock<std::mutex> lock(thread->state->mutex);
        auto done = [thread] { return thread->state->finished; };
        if (milliseconds == kInfinite) {
            thread->state->cv.wait(lock, done);
        } else if (!thread->state->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), done)) {
            return WaitResult::TimedOut;
        }
    }
    std::lock_guard<std::mutex> lock(thread->joinMutex);
    if (!thread->joined) {
        // The entry has returned; this only waits for the thread's own exit.
        pthread_join(thread->thread, nullptr);
        thread->joined = true;
    }
    return WaitResult::Signalled;
}

bool TerminateThreadObject(ThreadObject*, uint32_t) { return false; }

void CloseThreadObject(ThreadObject* thread) {
    if (!thread) return;
    std::unique_lock<std::mutex> lock(thread->joinMutex);
    if (!thread->joined) pthread_detach(thread->thread);
    lock.unlock();
    delete thread;
}

uint64_t CurrentThreadId() {
    pthread_t self = pthread_self();
    uint64_t id = 0;
    std::memcpy(&id, &self, sizeof(pthread_t));
    return id;
}

void SetCurrentThreadName(const char* name) {
    if (!name) return;
    char shortName[16];
    std::strncpy(shortName, name, sizeof(shortName) - 1);
    shortName[sizeof(shortName) - 1] = 0;
    pthread_setname_np(pthread_self(), shortName);
}

const char* GetCurrentThreadNameCopy(char* buffer, unsigned size) {
    if (!buffer || size == 0) return "";
    buffer[0] = 0;
    pthread_getname_np(pthread_self(), buffer, size);
    return buffer;
}

unsigned ProcessorCount() {
    unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

void SleepMilliseconds(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace velmora::platform

// The capability query's module-wide state and its query thread.
#include "Properties/CapabilityQuery.h"

#include <memory>
#include <new>
#include <string>

#include "Driver/IDriver.h"
#include "Properties/MobotixCameraProperties.h"
#include "Thread/FastMutex.h"
#include "platform/Sync.h"

namespace velmora::capability {

namespace {

constexpr int32_t kDefaultFailureCode = 3;

struct QueryState {
    CFastMutex lock;  // held only briefly, never while calling the host or waiting for the thread
    ipcapture::ICapabilityQueryCallback* callback = nullptr;
    int32_t videoStandard = 0;
    ipcapture::ICapabilityQueryResult* result = nullptr;
    platform::ThreadObject* thread = nullptr;  // none, or the running or finished query thread
    uint64_t threadId = 0;
    CCameraPropertiesEx* properties = nullptr;  // owned; created by the query thread
    bool stopRequested = false;  // a stop that came before the properties object existed
    bool closing = false;        // UninitQuery runs: the probe is aborted, not only cancelled
    bool reported = false;       // the query thread is about to send, or has sent, its notification
};

// Made on first use, so that no work happens at module load; freed when the module is unloaded
// (the host ends every query with UninitCapabilityQuery before that).
QueryState& State() {
    static QueryState state;
    return state;
}

// The query thread's notification, with exceptions from the host dropped.
void Notify(ipcapture::ICapabilityQueryCallback* callback, bool succeeded, int32_t code, const char* message) {
    {
        QueryState& state = State();
        CFastMutexGuard guard(state.lock);
        state.reported = true;
    }
    try {
        if (succeeded) callback->OnQuerySucceeded();
        else callback->OnQueryFailed(code, message);
    } catch (...) {
    }
}

uint32_t QueryThread(void* argument) {
    std::unique_ptr<DEVICE_INFO> device(static_cast<DEVICE_INFO*>(argument));
    QueryState& state = State();
    ipcapture::ICapabilityQueryCallback* callback = nullptr;
    ipcapture::ICapabilityQueryResult* result = nullptr;
    int32_t videoStandard = 0;
    {
        CFastMutexGuard guard(state.lock);
        callback = state.callback;
        result = state.result;
        videoStandard = state.videoStandard;
    }
    if (!callback || !device) return 0;

    int32_t errorCode = kDefaultFailureCode;
    CMobotixCameraProperties* properties = nullptr;
    try {
        properties = new CMobotixCameraProperties(*device, videoStandard);
    } catch (...) {
        properties = nullptr;
    }
    if (!properties) {
        Notify(callback, false, kDefaultFailureCode, kCreateFailedMessage);
        return 0;
    }
    {
        CFastMutexGuard guard(state.lock);
        state.properties = properties;
        if (state.closing) properties->Abort();
        else if (state.stopRequested) properties->Cancel();
    }

    bool probed = false;
    try {
        probed = properties->GetProperties(&errorCode);
    } catch (...) {
        probed = false;
    }
    if (!probed) {
        Notify(callback, false, errorCode, kProbeFailedMessage);
        return 0;
    }
    bool saved = false;
    try {
        saved = properties->SaveResults(result);
    } catch (...) {
        saved = false;
    }
    if (!saved) {
        Notify(callback, false, kDefaultFailureCode, kSaveFailedMessage);
        return 0;
    }
    Notify(callback, true, 0, nullptr);
    return 1;
}

}  // namespace

int32_t InitQuery(ipcapture::ICapabilityQueryCallback* callback, uint8_t videoStandard) {
    QueryState& state = State();
    CFastMutexGuard guard(state.lock);
    if (state.callback) return 0;
    state.callback = callback;
    state.videoStandard = videoStandard != 0 ? 1 : 0;
    return 1;
}

int32_t StartQuery(const char* address, int32_t port, const char* user, const char* password,
                   ipcapture::ICapabilityQueryResult* result) {
    QueryState& state = State();
    platform::ThreadObject* previous = nullptr;
    bool previousReported = false;
    uint64_t previousId = 0;
    {
        CFastMutexGuard guard(state.lock);
        previous = state.thread;
        previousReported = state.reported;
        previousId = state.threadId;
    }
    if (previous) {
        // A second query before UninitQuery: refused while the first still runs, since it still
        // writes to its result object; one that has sent its notification is waited for briefly.
        bool ended = platform::WaitThreadObject(previous, 0) == platform::WaitResult::Signalled;
        if (!ended && previousReported && previousId != platform::CurrentThreadId()) {
            ended = platform::WaitThreadObject(previous, kReclaimWaitMs) == platform::WaitResult::Signalled;
        }
        if (!ended) return 0;
        CCameraPropertiesEx* finished = nullptr;
        {
            CFastMutexGuard guard(state.lock);
            finished = state.properties;
            state.properties = nullptr;
            state.thread = nullptr;
        }
        platform::CloseThreadObject(previous);
        delete finished;
    }

    auto device = std::make_unique<DEVICE_INFO>();
    device->Address = address ? address : "";
    device->Port = static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFFu);
    device->UserName = user ? user : "";
    device->Password = password ? password : "";

    CFastMutexGuard guard(state.lock);
    state.result = result;
    state.stopRequested = false;
    state.closing = false;
    state.reported = false;
    // The thread's first step takes the lock, so it sees this call's state complete.
    uint64_t threadId = 0;
    platform::ThreadObject* thread = platform::CreateThreadObject(QueryThread, device.get(), &threadId);
    if (!thread) {
        state.thread = nullptr;
        return 0;
    }
    device.release();  // the query thread owns it now
    state.thread = thread;
    state.threadId = threadId;
    return 1;
}

int32_t TerminateQuery() {
    QueryState& state = State();
    CFastMutexGuard guard(state.lock);
    if (state.properties) state.properties->Cancel();
    else if (state.thread) state.stopRequested = true;
    return 1;
}

int32_t UninitQuery() {
    QueryState& state = State();
    platform::ThreadObject* thread = nullptr;
    uint64_t threadId = 0;
    {
        CFastMutexGuard guard(state.lock);
        // Aborting makes the request in flight fail, so the probe ends and sends its one
        // notification now rather than when the camera lets it.
        if (state.properties) state.properties->Abort();
        state.stopRequested = true;
        state.closing = true;
        thread = state.thread;
        threadId = state.threadId;
    }
    // Once this returns no query thread may call the host: the thread is waited for to its end,
    // a wait the abort bounds (at once on POSIX, within the request time-out on Windows) apart
    // from the host's own callback. Called from that callback, the thread is not waited for, and
    // its object may go: the notification is its last use.
    if (thread) {
        if (threadId != platform::CurrentThreadId()) platform::WaitThreadObject(thread, platform::kInfinite);
        platform::CloseThreadObject(thread);
    }
    CCameraPropertiesEx* properties = nullptr;
    {
        CFastMutexGuard guard(state.lock);
        state.thread = nullptr;
        state.threadId = 0;
        state.callback = nullptr;
        state.result = nullptr;
        state.stopRequested = false;
        state.closing = false;
        state.reported = false;
        properties = state.properties;
        state.properties = nullptr;
    }
    delete properties;
    return 1;
}

}  // namespace velmora::capability

// Win32 events and threads: the kernel objects themselves, one call per operation.
#include "platform/Sync.h"

#include <windows.h>
#include <process.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace velmora::platform {

namespace {

HANDLE AsHandle(EventObject* event) { return reinterpret_cast<HANDLE>(event); }

WaitResult FromWait(DWORD rc) {
    switch (rc) {
        case WAIT_OBJECT_0: return WaitResult::Signalled;
        case WAIT_ABANDONED: return WaitResult::Abandoned;
        case WAIT_TIMEOUT: return WaitResult::TimedOut;
        default: return WaitResult::Failed;
    }
}

// The entry and its argument, handed to the new thread, which frees them.
struct ThreadStart {
    ThreadEntry entry;
    void* argument;
};

unsigned __stdcall ThreadTrampoline(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    return start.entry(start.argument);
}

// Thread names through SetThreadDescription / GetThreadDescription, which only Windows 10 1607
// and later have: looked up at run time so that the module still loads on older systems.
using SetDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
using GetDescriptionFn = HRESULT(WINAPI*)(HANDLE, PWSTR*);

template <typename Fn>
Fn KernelFunction(const char* name) {
    for (const wchar_t* module : {L"kernel32.dll", L"kernelbase.dll"}) {
        HMODULE handle = GetModuleHandleW(module);
        if (!handle) continue;
        if (FARPROC proc = GetProcAddress(handle, name)) return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
    }
    return nullptr;
}

// The older naming method: a debugger attached to the process catches this exception and names
// the thread. Without a debugger nothing would catch it, so it is raised only under one, and a
// vectored handler continues past it should the debugger pass it on.
constexpr DWORD kSetThreadNameException = 0x406D1388;

#pragma pack(push, 8)
struct ThreadNameInfo {
    DWORD type;        // 0x1000
    LPCSTR name;
    DWORD threadId;    // -1: the calling thread
    DWORD flags;
};
#pragma pack(pop)

LONG CALLBACK ContinuePastThreadName(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == kSetThreadNameException ? EXCEPTION_CONTINUE_EXECUTION
                                                                           : EXCEPTION_CONTINUE_SEARCH;
}

void NameThreadForDebugger(const char* name) {
    if (!IsDebuggerPresent()) return;
    ThreadNameInfo info{0x1000, name, static_cast<DWORD>(-1), 0};
    PVOID handler = AddVectoredExceptionHandler(0, ContinuePastThreadName);
    RaiseException(kSetThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
    if (handler) RemoveVectoredExceptionHandler(handler);
}

}  // namespace

EventObject* CreateEventObject(bool manualReset, bool initiallySet) {
    return reinterpret_cast<EventObject*>(CreateEventW(nullptr, manualReset, initiallySet, nullptr));
}

void CloseEventObject(EventObject* event) {
    if (event) CloseHandle(AsHandle(event));
}

bool SetEventObject(EventObject* event) { return event && SetEvent(AsHandle(event)); }

bool ResetEventObject(EventObject* event) { return event && ResetEvent(AsHandle(event)); }

WaitResult WaitEventObject(EventObject* event, uint32_t milliseconds) {
    if (!event) return WaitResult::Failed;
    return FromWait(WaitForSingleObject(AsHandle(event), milliseconds));
}

struct ThreadObject {
    HANDLE handle;
};

ThreadObject* CreateThreadObject(ThreadEntry entry, void* argument, uint64_t* threadId) {
    if (!entry) return nullptr;
    auto* start = new (std::nothrow) ThreadStart{entry, argument};
    auto* object = new (std::nothrow) ThreadObject{nullptr};
    if (!start || !object) {
        delete start;
        delete object;
        return nullptr;
    }
    // _beginthreadex rather than CreateThread: the C run-time sets up its per-thread state.
    unsigned id = 0;
    uintptr_t handle = _beginthreadex(nullptr, 0, ThreadTrampoline, start, 0, &id);
    if (handle == 0) {
        delete start;
        delete object;
        return nullptr;
    }
    object->handle = reinterpret_cast<HANDLE>(handle);
    if (threadId) *threadId = id;
    return object;
}

WaitResult WaitThreadObject(ThreadObject* thread, uint32_t milliseconds) {
    if (!thread) return WaitResult::Failed;
    return FromWait(WaitForSingleObject(thread->handle, milliseconds));
}

// TerminateThread can leave a lock the thread held (the heap's among them) taken for good and
// hang the host, so no thread is ended by force here either.
bool TerminateThreadObject(ThreadObject*, uint32_t) { return false; }

void CloseThreadObject(ThreadObject* thread) {
    if (!thread) return;
    CloseHandle(thread->handle);
    delete thread;
}

uint64_t CurrentThreadId() { return GetCurrentThreadId(); }

void SetCurrentThreadName(const char* name) {
    if (!name) return;
    static const auto setDescription = KernelFunction<SetDescriptionFn>("SetThreadDescription");
    if (setDescription) {
        int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
        if (length > 0) {
            auto* wide = new (std::nothrow) wchar_t[static_cast<size_t>(length)];
            if (wide && MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, length) == length) {
                setDescription(GetCurrentThread(), wide);
            }
            delete[] wide;
        }
    }
    NameThreadForDebugger(name);
}

const char* GetCurrentThreadNameCopy(char* buffer, unsigned size) {
    if (!buffer || size == 0) return "";
    buffer[0] = 0;
    static const auto getDescription = KernelFunction<GetDescriptionFn>("GetThreadDescription");
    PWSTR wide = nullptr;
    if (!getDescription || FAILED(getDescription(GetCurrentThread(), &wide)) || !wide) return buffer;
    int needed = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed > 0) {
        std::string name(static_cast<size_t>(needed), '\0');
        if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, name.data(), needed, nullptr, nullptr) == needed) {
            // Truncated to the buffer, as pthread_getname_np does on the POSIX side.
            size_t length = std::min(std::strlen(name.c_str()), static_cast<size_t>(size) - 1);
            std::memcpy(buffer, name.data(), length);
            buffer[length] = 0;
        }
    }
    LocalFree(wide);
    return buffer;
}

unsigned ProcessorCount() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors == 0 ? 1 : info.dwNumberOfProcessors;
}

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace velmora::platform

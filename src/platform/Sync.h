// Events and threads as opaque handles, shaped after the Windows objects they stand in for,
// so that a Win32 backend maps one call to one call.
#pragma once
#include <cstdint>

namespace velmora::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult { Signalled, Abandoned, TimedOut, Failed };

struct EventObject;
// Null when the event cannot be created.
EventObject* CreateEventObject(bool manualReset, bool initiallySet);
void CloseEventObject(EventObject* event);
bool SetEventObject(EventObject* event);
bool ResetEventObject(EventObject* event);
// An auto-reset event is consumed by the wait that sees it set.
WaitResult WaitEventObject(EventObject* event, uint32_t milliseconds);

struct ThreadObject;
using ThreadEntry = uint32_t (*)(void* argument);
// Starts the thread at once; null on failure. The handle must be closed with CloseThreadObject.
ThreadObject* CreateThreadObject(ThreadEntry entry, void* argument, uint64_t* threadId);
// Waits for the thread to end; Signalled once it has returned.
WaitResult WaitThreadObject(ThreadObject* thread, uint32_t milliseconds);
// No thread is ended by force on either system (POSIX has no safe way; Windows' TerminateThread
// can leave the heap lock held and hang the host): returns false and the caller must wait instead.
bool TerminateThreadObject(ThreadObject* thread, uint32_t exitCode);
// Closing a running thread's handle detaches it.
void CloseThreadObject(ThreadObject* thread);
uint64_t CurrentThreadId();
// Names the calling thread for debuggers (truncated where the OS limits it: 15 characters on
// Linux; Windows keeps the whole name).
void SetCurrentThreadName(const char* name);
// Name of the calling thread as the OS knows it; empty when unavailable.
const char* GetCurrentThreadNameCopy(char* buffer, unsigned size);
unsigned ProcessorCount();
void SleepMilliseconds(uint32_t milliseconds);

}  // namespace velmora::platform

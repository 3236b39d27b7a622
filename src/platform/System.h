// Clock, executable path, module version and socket library: the few system facts the driver reads.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

// UTC system time in 100-ns units since 1601-01-01; false when it cannot be read.
bool SystemTime100ns(uint64_t* value);

// Monotonic milliseconds for measuring durations.
uint64_t MonotonicMilliseconds();

// Separator between the folders of a path, as the system writes it.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Full path of the running executable; empty when unknown.
std::string ExecutablePath();

// Directory part of the running executable's path, ending in the path separator.
std::string ExecutableDirectory();

// Product version of a PE module found by its bare file name: beside the executable, then in
// the current directory. False when absent or without a readable version resource.
bool ReadModuleProductVersion(const char* fileName, uint16_t version[4]);

// Product version read from a PE image in memory; exposed for tests.
bool ParseProductVersion(const uint8_t* image, size_t size, uint16_t version[4]);

// Socket library start-up and clean-up (nothing to do on POSIX).
bool SocketLibraryStartup();
void SocketLibraryCleanup();

// Component library (COM) initialisation for the calling thread (nothing to do on POSIX).
bool ComponentLibraryInitialize();
void ComponentLibraryUninitialize();

// A readable, non-empty regular file.
bool FileIsReadableAndNonEmpty(const std::string& path);

// Number of threads the calling process has now; 0 when it cannot be read. For tests that check
// that nothing is left running.
uint32_t ThreadCount();

// Memory of the whole process, for the soak run that checks nothing grows: resident set now and its
// peak so far, in bytes; 0 when it cannot be read.
uint64_t ResidentMemoryBytes();
uint64_t PeakResidentMemoryBytes();
// Bytes the heap has handed out and not taken back: what a leak grows, unlike the resident set,
// which also grows as the allocator spreads over more threads' arenas. 0 when unknown.
uint64_t HeapBytesInUse();
// True in a build under AddressSanitizer or ThreadSanitizer, whose allocators keep freed memory
// resident (quarantine, shadow) for a while.
bool UnderSanitizer();

// CPU time every thread of this process has used so far (ended threads included), in nanoseconds,
// split into user and system time; false when it cannot be read.
bool ProcessCpuTimeNs(uint64_t* userNs, uint64_t* systemNs);

// Per-thread CPU clocks, for the benchmarks that charge CPU time to the threads that spent it.
// CPU time the calling thread has used, in nanoseconds; false when the clock cannot be read.
bool CurrentThreadCpuTimeNs(uint64_t* ns);
// The system's number of the calling thread, as ThreadCpuTimes reports it.
uint64_t CurrentSystemThreadId();
// The system's number of this process (what a profiler attaches to).
uint64_t CurrentProcessId();
struct ThreadCpuTime {
    uint64_t systemId = 0;  // the system's thread number
    uint64_t cpuNs = 0;     // CPU time used so far
};
// Every thread of this process with the CPU time it has used, each read from its own CPU clock.
// False when the thread list cannot be read.
bool ThreadCpuTimes(std::vector<ThreadCpuTime>* threads);

}  // namespace velmora::platform

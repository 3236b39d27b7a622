// POSIX system facts: clock, executable path, PE product version, no-op socket and COM start-up.
#include "platform/System.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace velmora::platform {

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDifferenceSeconds = 11644473600ULL;
// A version resource is small; refuse to read huge files whole.
constexpr size_t kMaxModuleFileSize = 256u * 1024u * 1024u;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    std::streamoff size = in.tellg();
    if (size <= 0 || static_cast<uint64_t>(size) > kMaxModuleFileSize) return false;
    data->resize(static_cast<size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(data->data()), size));
}
}  // namespace

bool SystemTime100ns(uint64_t* value) {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0 || ts.tv_sec < 0) {
        *value = 0;
        return false;
    }
    *value = (static_cast<uint64_t>(ts.tv_sec) + kEpochDifferenceSeconds) * 10000000ULL +
             static_cast<uint64_t>(ts.tv_nsec) / 100;
    return true;
}

uint64_t MonotonicMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string ExecutableDirectory() {
    std::string path = ExecutablePath();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

bool ReadModuleProductVersion(const char* fileName, uint16_t version[4]) {
    if (!fileName || !*fileName) return false;
    std::vector<uint8_t> data;
    std::string besideExecutable = ExecutableDirectory() + fileName;
    if (!ReadWholeFile(besideExecutable, &data) && !ReadWholeFile(fileName, &data)) return false;
    return ParseProductVersion(data.data(), data.size(), version);
}

bool SocketLibraryStartup() { return true; }
void SocketLibraryCleanup() {}
bool ComponentLibraryInitialize() { return true; }
void ComponentLibraryUninitialize() {}

bool FileIsReadableAndNonEmpty(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
    return access(path.c_str(), R_OK) == 0;
}

uint32_t ThreadCount() {
    // One entry per thread under /proc/self/task (Linux).
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return 0;
    uint32_t count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count;
}

namespace {
// A "Name:   <n> kB" line of /proc/self/status, in bytes; 0 when absent.
uint64_t StatusKilobytes(const char* name) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(name);
    while (std::getline(in, line)) {
        if (line.compare(0, length, name) != 0 || line.size() <= length || line[length] != ':') continue;
        return std::strtoull(line.c_str() + length + 1, nullptr, 10) * 1024u;
    }
    return 0;
}

uint64_t TimevalNs(const timeval& tv) { return uint64_t(tv.tv_sec) * 1000000000ull + uint64_t(tv.tv_usec) * 1000ull; }
}  // namespace

uint64_t ResidentMemoryBytes() { return StatusKilobytes("VmRSS"); }

uint64_t PeakResidentMemoryBytes() { return StatusKilobytes("VmHWM"); }

// gcc names the sanitizers with macros, clang with __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLON_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUILLON_SANITIZER_HEAP 1
#endif
#endif

#ifdef QUILLON_SANITIZER_HEAP
bool UnderSanitizer() { return true; }
#else
bool UnderSanitizer() { return false; }
#endif

#ifdef QUILLON_SANITIZER_HEAP
// The sanitizers replace malloc; their runtime counts what is allocated.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
uint64_t HeapBytesInUse() { return __sanitizer_get_current_allocated_bytes(); }
#else
uint64_t HeapBytesInUse() {
    const struct mallinfo2 info = mallinfo2();
    return uint64_t(info.uordblks) + uint64_t(info.hblkhd);  // arena chunks in use + mmapped chunks
}
#endif

bool ProcessCpuTimeNs(uint64_t* userNs, uint64_t* systemNs) {
    rusage usage{};
    if (!userNs || !systemNs || getrusage(RUSAGE_SELF, &usage) != 0) return false;
    *userNs = TimevalNs(usage.ru_utime);
    *systemNs = TimevalNs(usage.ru_stime);
    return true;
}

bool CurrentThreadCpuTimeNs(uint64_t* ns) {
    timespec ts{};
    if (!ns || clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return false;
    *ns = uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
    return true;
}

uint64_t CurrentSystemThreadId() { return static_cast<uint64_t>(syscall(SYS_gettid)); }
uint64_t CurrentProcessId() { return static_cast<uint64_t>(::getpid()); }

bool ThreadCpuTimes(std::vector<ThreadCpuTime>* threads) {
    if (!threads) return false;
    threads->clear();
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return false;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const long tid = std::strtol(entry->d_name, nullptr, 10);
        if (tid <= 0) continue;
        // The thread's CPU clock as Linux numbers it (what pthread_getcpuclockid gives): per-thread,
        // scheduler time, nanoseconds. A thread that ended meanwhile is left out.
        const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned long>(tid) << 3) | 6u);
        timespec ts{};
        if (clock_gettime(clock, &ts) != 0) continue;
        threads->push_back({uint64_t(tid), uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec)});
    }
    closedir(dir);
    return true;
}

}  // namespace velmora::platform

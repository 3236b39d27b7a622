// Win32 system facts: the system clock, the executable's path, module version resources, Windows
// Sockets start-up, and the process figures the tests and the soak run read.
#include "platform/System.h"

#include <windows.h>
#include <winsock2.h>
#include <malloc.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace velmora::platform {

namespace {
// Longest path GetModuleFileNameW can give (the extended-length limit).
constexpr DWORD kMaxPathChars = 32768;

std::string Utf8(const wchar_t* wide, int length) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), n, nullptr, nullptr);
    return text;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

uint64_t FromFileTime(const FILETIME& time) {
    return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}
}  // namespace

bool SystemTime100ns(uint64_t* value) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    *value = FromFileTime(now);
    return *value != 0;
}

uint64_t MonotonicMilliseconds() { return GetTickCount64(); }

std::string ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        // A full buffer means the path was cut short: grow, up to the longest path there is.
        if (n < buffer.size()) return Utf8(buffer.data(), static_cast<int>(n));
        if (buffer.size() >= kMaxPathChars) return {};
        buffer.resize(std::min<size_t>(buffer.size() * 2, kMaxPathChars));
    }
}

std::string ExecutableDirectory() {
    std::string path = ExecutablePath();
    size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

// The bare file name goes to the version API as it is: Windows then finds the module as
// LoadLibrary would (the executable's folder first).
bool ReadModuleProductVersion(const char* fileName, uint16_t version[4]) {
    if (!fileName || !*fileName) return false;
    std::wstring name = Wide(fileName);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(name.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<uint8_t> data(size);
    if (!GetFileVersionInfoW(name.c_str(), 0, size, data.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != VS_FFI_SIGNATURE) {
        return false;
    }
    version[0] = HIWORD(info->dwProductVersionMS);
    version[1] = LOWORD(info->dwProductVersionMS);
    version[2] = HIWORD(info->dwProductVersionLS);
    version[3] = LOWORD(info->dwProductVersionLS);
    return true;
}

bool SocketLibraryStartup() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void SocketLibraryCleanup() { WSACleanup(); }

// The XML engine is pugixml on both systems, which needs no COM; the host's apartment of the
// calling thread stays as the host set it.
bool ComponentLibraryInitialize() { return true; }
void ComponentLibraryUninitialize() {}

bool FileIsReadableAndNonEmpty(const std::string& path) {
    std::wstring wide = Wide(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    if (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0) return false;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

namespace {
// Calls visit(threadId) for every thread of this process; false when the list cannot be read.
template <typename Visit>
bool ForEachOwnThread(Visit visit) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) visit(entry.th32ThreadID);
        entry.dwSize = sizeof(entry);
    }
    CloseHandle(snapshot);
    return true;
}
}  // namespace

uint32_t ThreadCount() {
    uint32_t count = 0;
    return ForEachOwnThread([&count](DWORD) { ++count; }) ? count : 0;
}

uint64_t ResidentMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)) ? counters.WorkingSetSize : 0;
}

uint64_t PeakResidentMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)) ? counters.PeakWorkingSetSize : 0;
}

uint64_t HeapBytesInUse() {
    // The C run-time heap, block by block; the walk is bounded by the heap's own end marker.
    _HEAPINFO info{};
    uint64_t used = 0;
    int status;
    while ((status = _heapwalk(&info)) == _HEAPOK) {
        if (info._useflag == _USEDENTRY) used += info._size;
    }
    return status == _HEAPEND ? used : 0;
}

bool UnderSanitizer() { return false; }

bool ProcessCpuTimeNs(uint64_t* userNs, uint64_t* systemNs) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!userNs || !systemNs || !GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return false;
    *userNs = FromFileTime(user) * 100;
    *systemNs = FromFileTime(kernel) * 100;
    return true;
}

bool CurrentThreadCpuTimeNs(uint64_t* ns) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!ns || !GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return false;
    *ns = (FromFileTime(user) + FromFileTime(kernel)) * 100;
    return true;
}

uint64_t CurrentSystemThreadId() { return GetCurrentThreadId(); }
uint64_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ThreadCpuTimes(std::vector<ThreadCpuTime>* threads) {
    if (!threads) return false;
    threads->clear();
    return ForEachOwnThread([threads](DWORD id) {
        // A thread that ended meanwhile is left out.
        HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (!thread) return;
        FILETIME created{}, exited{}, kernel{}, user{};
        if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
            threads->push_back({id, (FromFileTime(user) + FromFileTime(kernel)) * 100});
        }
        CloseHandle(thread);
    });
}

}  // namespace velmora::platform

// Files on Windows: CreateFileW probe, write-flush-MoveFileEx replacement, move aside without
// replacing. UTF-8 paths are converted to wide paths for the W functions.
#include "platform/File.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace velmora::platform {

namespace {

std::atomic<unsigned> gTempCounter{0};

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                             nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::wstring TemporaryName(const std::wstring& path) {
    return path + L".tmp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++gTempCounter);
}

bool WriteAll(HANDLE file, const unsigned char* data, size_t size) {
    constexpr size_t kMaxChunk = 1u << 30;  // WriteFile takes a 32-bit count
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

FileState ProbeFile(const std::string& path) {
    const std::wstring wide = Wide(path);
    if (wide.empty()) return FileState::Missing;
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // Anything else (access denied, sharing or lock violation, a directory) is there but unreadable.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileState::Missing : FileState::Unreadable;
    }
    FileState state = FileState::Unreadable;
    LARGE_INTEGER size{};
    if (::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size))
        state = size.QuadPart == 0 ? FileState::Empty : FileState::Readable;
    ::CloseHandle(file);
    return state;
}

bool ReplaceFileContents(const std::string& path, const void* data, size_t size) {
    const std::wstring target = Wide(path);
    if (target.empty()) return false;
    const std::wstring temporary = TemporaryName(target);
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(file, static_cast<const unsigned char*>(data), size) && ::FlushFileBuffers(file);
    ok = ::CloseHandle(file) && ok;
    ok = ok && ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) ::DeleteFileW(temporary.c_str());
    return ok;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    const std::wstring source = Wide(from), target = Wide(to);
    if (source.empty() || target.empty()) return false;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the new name is taken.
    return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace velmora::platform

// Unreadable file on Windows: a handle that holds the file open without sharing, as another
// program locking it would.
#include "support/FileAccess.h"

#include <windows.h>

namespace quillon::test {

bool RunWhileFileUnreadable(const std::string& path, const std::function<void()>& body) {
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (length <= 0) return false;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
    HANDLE lock = ::CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock == INVALID_HANDLE_VALUE) return false;
    body();
    ::CloseHandle(lock);
    return true;
}

}  // namespace quillon::test

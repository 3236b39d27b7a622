// LoadLibrary-based module loading.
#include "platform/Library.h"

#include <windows.h>

#include <string>

namespace velmora::platform {

struct LibraryObject {
    HMODULE handle;
};

namespace {
std::string LastErrorText(DWORD code) {
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n && text ? std::string(text, n) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}
}  // namespace

LibraryObject* LoadLibraryFile(const std::string& path, std::string* error) {
    std::wstring wide;
    int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (n > 0) {
        wide.resize(static_cast<size_t>(n));
        MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
    }
    HMODULE handle = n > 0 ? LoadLibraryW(wide.c_str()) : nullptr;
    if (!handle) {
        if (error) *error = "cannot load " + path + ": " + LastErrorText(GetLastError());
        return nullptr;
    }
    return new LibraryObject{handle};
}

void* FindLibrarySymbol(LibraryObject* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(library->handle, name));
}

void FreeLibraryObject(LibraryObject* library) {
    if (!library) return;
    FreeLibrary(library->handle);
    delete library;
}

}  // namespace velmora::platform

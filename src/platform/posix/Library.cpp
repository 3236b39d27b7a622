// dlopen-based module loading.
#include "platform/Library.h"

#include <dlfcn.h>

namespace velmora::platform {

struct LibraryObject {
    void* handle;
};

LibraryObject* LoadLibraryFile(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) {
            const char* message = dlerror();
            *error = message ? message : "unknown loader error";
        }
        return nullptr;
    }
    return new LibraryObject{handle};
}

void* FindLibrarySymbol(LibraryObject* library, const char* name) {
    return library ? dlsym(library->handle, name) : nullptr;
}

void FreeLibraryObject(LibraryObject* library) {
    if (!library) return;
    dlclose(library->handle);
    delete library;
}

}  // namespace velmora::platform

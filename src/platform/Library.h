// Loading a shared module and resolving its exports (dlopen / LoadLibrary).
#pragma once
#include <string>

namespace velmora::platform {

struct LibraryObject;
// Null on failure; error receives the loader's message.
LibraryObject* LoadLibraryFile(const std::string& path, std::string* error);
void* FindLibrarySymbol(LibraryObject* library, const char* name);
void FreeLibraryObject(LibraryObject* library);

}  // namespace velmora::platform

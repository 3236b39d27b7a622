// Module loading through the platform's library loader.
#include "host/Module.h"

#include "platform/Library.h"
#include "platform/System.h"

namespace quillon::host {

DriverModule::~DriverModule() { velmora::platform::FreeLibraryObject(library_); }

std::string DriverModule::DefaultPath() {
    // An installed host (lib/quillon/, or a user's copy beside a link to the module) loads the module
    // beside it; a host in the build tree the module built with it.
    std::string installed = velmora::platform::ExecutableDirectory() + QUILLON_MODULE_INSTALLED;
    if (velmora::platform::FileIsReadableAndNonEmpty(installed)) return installed;
    return QUILLON_MODULE_PATH;
}

bool DriverModule::Load(const std::string& path, std::string* error) {
    library_ = velmora::platform::LoadLibraryFile(path, error);
    if (!library_) return false;
    auto find = [&](const char* name) { return velmora::platform::FindLibrarySymbol(library_, name); };
    Create = reinterpret_cast<CreateIPCaptureFn>(find("CreateIPCapture"));
    Delete = reinterpret_cast<DeleteIPCaptureFn>(find("DeleteIPCapture"));
    InitQuery = reinterpret_cast<InitCapabilityQueryFn>(find("InitCapabilityQuery"));
    StartQuery = reinterpret_cast<StartCapabilityQueryFn>(find("StartCapabilityQuery"));
    TerminateQuery = reinterpret_cast<TerminateCapabilityQueryFn>(find("TerminateCapabilityQuery"));
    UninitQuery = reinterpret_cast<UninitCapabilityQueryFn>(find("UninitCapabilityQuery"));
    if (!Create || !Delete) {
        if (error) *error = "module " + path + " lacks CreateIPCapture/DeleteIPCapture";
        return false;
    }
    return true;
}

}  // namespace quillon::host

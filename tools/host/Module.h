// Loads the capture driver module exactly as a host does and resolves its exports.
#pragma once
#include <string>

#include "quillon/IPCapture.h"

namespace velmora::platform {
struct LibraryObject;
}

namespace quillon::host {

class DriverModule {
public:
    DriverModule() = default;
    ~DriverModule();
    DriverModule(const DriverModule&) = delete;
    DriverModule& operator=(const DriverModule&) = delete;

    // The module beside an installed host, else the one built with this host.
    static std::string DefaultPath();
    bool Load(const std::string& path, std::string* error);

    CreateIPCaptureFn Create = nullptr;
    DeleteIPCaptureFn Delete = nullptr;
    InitCapabilityQueryFn InitQuery = nullptr;
    StartCapabilityQueryFn StartQuery = nullptr;
    TerminateCapabilityQueryFn TerminateQuery = nullptr;
    UninitCapabilityQueryFn UninitQuery = nullptr;

private:
    velmora::platform::LibraryObject* library_ = nullptr;
};

}  // namespace quillon::host

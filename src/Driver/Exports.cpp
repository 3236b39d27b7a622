// The module's exported functions. The four names of each family are one function.
#include "Driver/IPCaptureDriver.h"
#include "Properties/CapabilityQuery.h"

using velmora::ipcapture::IIPCaptureDriver;

QUILLON_EXPORT IIPCaptureDriver* CreateIPCapture() {
    try {
        return static_cast<velmora::ipcapture::IIPCaptureDriverEx3*>(new velmora::CMobotixIPCaptureDriver);
    } catch (...) {
        return nullptr;
    }
}

// Every driver this module hands out is the newest generation, whose destructor is public on
// every system (the first generation's is reachable only through its destructor slot on Windows).
QUILLON_EXPORT void DeleteIPCapture(IIPCaptureDriver* driver) noexcept {
    delete static_cast<velmora::ipcapture::IIPCaptureDriverEx3*>(driver);
}

QUILLON_EXPORT IIPCaptureDriver* CreateIPCaptureEx() __attribute__((alias("CreateIPCapture")));
QUILLON_EXPORT IIPCaptureDriver* CreateIPCaptureEx2() __attribute__((alias("CreateIPCapture")));
QUILLON_EXPORT IIPCaptureDriver* CreateIPCaptureEx3() __attribute__((alias("CreateIPCapture")));
QUILLON_EXPORT void DeleteIPCaptureEx(IIPCaptureDriver*) noexcept __attribute__((alias("DeleteIPCapture")));
QUILLON_EXPORT void DeleteIPCaptureEx2(IIPCaptureDriver*) noexcept __attribute__((alias("DeleteIPCapture")));
QUILLON_EXPORT void DeleteIPCaptureEx3(IIPCaptureDriver*) noexcept __attribute__((alias("DeleteIPCapture")));

// Capability query: nothing may throw across the host boundary, so a failure reads as 0.

using velmora::ipcapture::ICapabilityQueryCallback;
using velmora::ipcapture::ICapabilityQueryResult;

QUILLON_EXPORT int32_t InitCapabilityQuery(ICapabilityQueryCallback* callback, uint8_t videoStandard) {
    try {
        return velmora::capability::InitQuery(callback, videoStandard);
    } catch (...) {
        return 0;
    }
}

QUILLON_EXPORT int32_t StartCapabilityQuery(const char* address, int32_t port, const char* user,
                                            const char* password, ICapabilityQueryResult* result) {
    try {
        return velmora::capability::StartQuery(address, port, user, password, result);
    } catch (...) {
        return 0;
    }
}

QUILLON_EXPORT int32_t TerminateCapabilityQuery() {
    try {
        return velmora::capability::TerminateQuery();
    } catch (...) {
        return 0;
    }
}

QUILLON_EXPORT int32_t UninitCapabilityQuery() {
    try {
        return velmora::capability::UninitQuery();
    } catch (...) {
        return 0;
    }
}

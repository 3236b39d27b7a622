// The module's exported functions. The four names of each family are one function.
#include "Driver/IPCaptureDriver.h"

using velmora::ipcapture::IIPCaptureDriver;

QUILLON_EXPORT IIPCaptureDriver* CreateIPCapture() {
    try {
        return static_cast<velmora::ipcapture::IIPCaptureDriverEx3*>(new velmora::CMobotixIPCaptureDriver);
    } catch (...) {
        return nullptr;
    }
}

QUILLON_EXPORT void DeleteIPCapture(IIPCaptureDriver* driver) { delete driver; }

QUILLON_EXPORT IIPCaptureDriver* CreateIPCaptureEx() __attribute__((alias("CreateIPCapture")));
QUILLON_EXPORT IIPCaptureDriver* CreateIPCaptureEx2() __attribute__((alias("CreateIPCapture")));
QUILLON_EXPORT IIPCaptureDriver* CreateIPCaptureEx3() __attribute__((alias("CreateIPCapture")));
QUILLON_EXPORT void DeleteIPCaptureEx(IIPCaptureDriver*) __attribute__((alias("DeleteIPCapture")));
QUILLON_EXPORT void DeleteIPCaptureEx2(IIPCaptureDriver*) __attribute__((alias("DeleteIPCapture")));
QUILLON_EXPORT void DeleteIPCaptureEx3(IIPCaptureDriver*) __attribute__((alias("DeleteIPCapture")));

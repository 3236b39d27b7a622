// The driver object as the host sees it, its video capture object and its I/O object,
// plus the module's exported functions. One driver object implements every generation.
#pragma once
#include "quillon/Abi.h"
#include <cstdint>

#include "quillon/CapabilityQuery.h"
#include "quillon/Debug.h"
#include "quillon/DriverConfig.h"
#include "quillon/Media.h"
#include "quillon/PTZ.h"

namespace velmora::ipcapture {

// Host sink for input states and output failures.
class IIOEventSink {
public:
    QUILLON_DESTRUCTOR(IIOEventSink)                                     // 1
    virtual void OnStateChanged(uint32_t index, int32_t state) = 0;      // 2: inputs only
    virtual void OnFailure() = 0;                                        // 3
    QUILLON_DESTRUCTOR_TAIL(IIOEventSink)
};

class ICaptureIOApi {
public:
    QUILLON_DESTRUCTOR(ICaptureIOApi)
    virtual bool SetSink(IIOEventSink* sink) = 0;
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual uint32_t GetInputCount() = 0;
    virtual uint32_t GetOutputCount() = 0;
    // State 1 switches an output low, state 2 high; the switch happens later on a worker.
    virtual bool SetOutput(uint32_t index, int32_t state) = 0;
    QUILLON_DESTRUCTOR_TAIL(ICaptureIOApi)
};

class IIPVideoCapture {
public:
    QUILLON_BASE_DESTRUCTOR(IIPVideoCapture)                                            // 1
    virtual uint32_t GetChannelCount() = 0;                                             // 2
    virtual bool StartChannel(uint32_t index, IVideoSink* sink, IChannelSettings* settings) = 0;  // 3
    virtual bool StopChannel(uint32_t index) = 0;                                       // 4
    virtual bool ChangeChannel(uint32_t index, IResolution* resolution, uint32_t frameInterval) = 0;  // 5
    virtual int32_t Reserved3() = 0;                                                    // 6
    // State 0: connected, 2: no picture.
    virtual bool GetChannelState(uint32_t index, int32_t* state, int32_t* code, char* text,
                                 uint32_t textSize) = 0;                                // 7
    virtual bool Reserved4(void* a, void* b, void* c) = 0;                              // 8
    virtual bool Reserved5(void* a, void* b, void* c) = 0;                              // 9
};

class IIPVideoCaptureEx : public IIPVideoCapture {
public:
    QUILLON_EXTENSION_DESTRUCTOR(IIPVideoCaptureEx)
    virtual bool Reserved6(void* a) = 0;                                                // 10
    virtual bool Reserved7(void* a) = 0;                                                // 11
    QUILLON_DESTRUCTOR_TAIL(IIPVideoCaptureEx)
};

class IIPCaptureDriver {
public:
    QUILLON_BASE_DESTRUCTOR(IIPCaptureDriver)                                           // 1
    virtual bool Open(IDebugInfoReceiver* receiver, ISampleAllocator* allocator,
                      IDriverConfig* config) = 0;                                       // 2
    virtual void Close() = 0;                                                           // 3
    virtual IIPVideoCapture* GetVideoCapture() = 0;                                     // 4
    virtual ICaptureIOApi* GetIOApi() = 0;                                              // 5
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
public:
    virtual void* Reserved1() = 0;                                                      // 6
    virtual IIPPTZDriver* GetPTZDriver() = 0;                                           // 7
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
public:
    virtual void* Reserved2() = 0;                                                      // 8
    virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;                                 // 9
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
public:
    QUILLON_EXTENSION_DESTRUCTOR(IIPCaptureDriverEx3)
    virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;                                       // 10
    QUILLON_DESTRUCTOR_TAIL(IIPCaptureDriverEx3)
};

}  // namespace velmora::ipcapture

#if defined(_WIN32)
#define QUILLON_EXPORT extern "C" __declspec(dllexport)
#else
#define QUILLON_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Function types a host resolves with dlsym / GetProcAddress.
using CreateIPCaptureFn = velmora::ipcapture::IIPCaptureDriver* (*)();
using DeleteIPCaptureFn = void (*)(velmora::ipcapture::IIPCaptureDriver*);
using InitCapabilityQueryFn = int32_t (*)(velmora::ipcapture::ICapabilityQueryCallback*, uint8_t);
using StartCapabilityQueryFn = int32_t (*)(const char* address, int32_t port, const char* user,
                                           const char* password,
                                           velmora::ipcapture::ICapabilityQueryResult* result);
using TerminateCapabilityQueryFn = int32_t (*)();
using UninitCapabilityQueryFn = int32_t (*)();

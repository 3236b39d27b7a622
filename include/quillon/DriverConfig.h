// Host configuration objects read by the driver's Open. Entries are in slot order;
// placeholders stand for entries the driver never calls, so that the slot order holds.
#pragma once
#include "quillon/Abi.h"
#include <cstdint>

namespace velmora::ipcapture {

class ICameraInfo {
public:
    QUILLON_DESTRUCTOR(ICameraInfo)                            // 1
    virtual void Unused2() {}                                  // 2
    virtual const char* GetModel() = 0;                        // 3
    virtual int32_t GetChannelCount() = 0;                     // 4
    virtual void Unused5() {}                                  // 5
    virtual int32_t GetInputCount() = 0;                       // 6
    virtual int32_t GetOutputCount() = 0;                      // 7
    QUILLON_DESTRUCTOR_TAIL(ICameraInfo)
};

class IConnectionInfo {
public:
    QUILLON_DESTRUCTOR(IConnectionInfo)                        // 1
    virtual const char* GetAddress() = 0;                      // 2
    virtual uint16_t GetPort() = 0;                            // 3
    virtual void Unused4() {}                                  // 4
    virtual int32_t GetStreamType() = 0;                       // 5: 1 Motion-JPEG, 2 MxPEG
    virtual const char* GetUserName() = 0;                     // 6
    virtual const char* GetPassword() = 0;                     // 7
    QUILLON_DESTRUCTOR_TAIL(IConnectionInfo)
};

class IDriverConfig {
public:
    QUILLON_DESTRUCTOR(IDriverConfig)                          // 1
    virtual ICameraInfo* GetCameraInfo() = 0;                  // 2
    virtual IConnectionInfo* GetConnectionInfo() = 0;          // 3
    virtual void Unused4() {}                                  // 4
    // Host parameter text for index 1, 2, ...; null ends the list.
    virtual const char* GetParameter(int32_t index) = 0;       // 5
    QUILLON_DESTRUCTOR_TAIL(IDriverConfig)
};

}  // namespace velmora::ipcapture

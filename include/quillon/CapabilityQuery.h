// Host objects of the capability query: the result object with its sub-objects and the callback.
// All are called from the module's query thread. Entries are in slot order.
#pragma once
#include "quillon/Abi.h"
#include <cstdint>

namespace velmora::ipcapture {

class ICapabilityTextSink {
public:
    QUILLON_DESTRUCTOR(ICapabilityTextSink)                    // 1
    virtual void SetText(const char* text) = 0;                // 2
    QUILLON_DESTRUCTOR_TAIL(ICapabilityTextSink)
};

class ICapabilityParameterEntry {
public:
    QUILLON_DESTRUCTOR(ICapabilityParameterEntry)              // 1
    virtual void SetEntryValue(const char* text) = 0;          // 2
    virtual void Unused3() {}                                  // 3
    virtual void Unused4() {}                                  // 4
    virtual void SetOption(int32_t option) = 0;                // 5
    virtual void SetName(const char* name) = 0;                // 6
    virtual void SetKind(int32_t kind) = 0;                    // 7
    QUILLON_DESTRUCTOR_TAIL(ICapabilityParameterEntry)
};

class ICapabilityResolutionList {
public:
    QUILLON_DESTRUCTOR(ICapabilityResolutionList)              // 1
    virtual void AddResolution(const char* name, uint32_t width, uint32_t height,
                               uint32_t interval) = 0;         // 2
    QUILLON_DESTRUCTOR_TAIL(ICapabilityResolutionList)
};

class ICapabilityIntervalList {
public:
    QUILLON_DESTRUCTOR(ICapabilityIntervalList)                // 1
    virtual void Unused2() {}                                  // 2
    virtual void AddInterval(uint32_t milliseconds) = 0;       // 3
    QUILLON_DESTRUCTOR_TAIL(ICapabilityIntervalList)
};

class ICapabilityQueryResult {
public:
    QUILLON_DESTRUCTOR(ICapabilityQueryResult)                                    // 1
    virtual void SetCapability(int32_t id, int32_t value) = 0;                    // 2
    virtual void SetModelName(const char* model) = 0;                             // 3
    virtual ICapabilityTextSink* GetConnectionField(int32_t index) = 0;           // 4
    virtual void Unused5() {}                                                     // 5
    virtual ICapabilityParameterEntry* GetParameterEntry(int32_t index) = 0;      // 6
    virtual ICapabilityResolutionList* GetResolutionList() = 0;                   // 7
    virtual void Unused8() {}                                                     // 8
    virtual ICapabilityIntervalList* GetFrameIntervalList(int32_t formatCode) = 0;  // 9
    QUILLON_DESTRUCTOR_TAIL(ICapabilityQueryResult)
};

class ICapabilityQueryCallback {
public:
    QUILLON_DESTRUCTOR(ICapabilityQueryCallback)               // 1
    virtual void Unused2() {}                                  // 2
    virtual void OnQuerySucceeded() = 0;                       // 3
    virtual void OnQueryFailed(int32_t code, const char* message) = 0;  // 4
    QUILLON_DESTRUCTOR_TAIL(ICapabilityQueryCallback)
};

}  // namespace velmora::ipcapture

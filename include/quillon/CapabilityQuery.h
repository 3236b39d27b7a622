// Host objects of the capability query: the result object with its sub-objects and the callback.
// All are called from the module's query thread. Entries are in slot order.
#pragma once
#include <cstdint>

namespace velmora::ipcapture {

class ICapabilityTextSink {
public:
    virtual ~ICapabilityTextSink() = default;                  // 1
    virtual void SetText(const char* text) = 0;                // 2
};

class ICapabilityParameterEntry {
public:
    virtual ~ICapabilityParameterEntry() = default;            // 1
    virtual void SetEntryValue(const char* text) = 0;          // 2
    virtual void Unused3() {}                                  // 3
    virtual void Unused4() {}                                  // 4
    virtual void SetOption(int32_t option) = 0;                // 5
    virtual void SetName(const char* name) = 0;                // 6
    virtual void SetKind(int32_t kind) = 0;                    // 7
};

class ICapabilityResolutionList {
public:
    virtual ~ICapabilityResolutionList() = default;            // 1
    virtual void AddResolution(const char* name, uint32_t width, uint32_t height,
                               uint32_t interval) = 0;         // 2
};

class ICapabilityIntervalList {
public:
    virtual ~ICapabilityIntervalList() = default;              // 1
    virtual void Unused2() {}                                  // 2
    virtual void AddInterval(uint32_t milliseconds) = 0;       // 3
};

class ICapabilityQueryResult {
public:
    virtual ~ICapabilityQueryResult() = default;                                  // 1
    virtual void SetCapability(int32_t id, int32_t value) = 0;                    // 2
    virtual void SetModelName(const char* model) = 0;                             // 3
    virtual ICapabilityTextSink* GetConnectionField(int32_t index) = 0;           // 4
    virtual void Unused5() {}                                                     // 5
    virtual ICapabilityParameterEntry* GetParameterEntry(int32_t index) = 0;      // 6
    virtual ICapabilityResolutionList* GetResolutionList() = 0;                   // 7
    virtual void Unused8() {}                                                     // 8
    virtual ICapabilityIntervalList* GetFrameIntervalList(int32_t formatCode) = 0;  // 9
};

class ICapabilityQueryCallback {
public:
    virtual ~ICapabilityQueryCallback() = default;             // 1
    virtual void Unused2() {}                                  // 2
    virtual void OnQuerySucceeded() = 0;                       // 3
    virtual void OnQueryFailed(int32_t code, const char* message) = 0;  // 4
};

}  // namespace velmora::ipcapture

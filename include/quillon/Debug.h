// Diagnostic records and the host's debug receiver.
// The record lives only for the duration of PostDebugInfo; a receiver copies what it keeps.
#pragma once
#include "quillon/Abi.h"
#include <cstdint>

class CDebugInfoIf {
public:
    QUILLON_DESTRUCTOR(CDebugInfoIf)
    virtual uint8_t GetLevel() const = 0;
    // Zero-terminated narrow text, or null when the message is empty.
    virtual const char* GetText() const = 0;
    QUILLON_DESTRUCTOR_TAIL(CDebugInfoIf)
};

// Inner message sink: the driver implements it and hands it to its sub-objects.
class IDebugMessage {
public:
    virtual ~IDebugMessage() = default;
    virtual void DebugMessage(int level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        = 0;
};

namespace velmora::ipcapture {

// Host object. Called from any driver thread, possibly concurrently.
class IDebugInfoReceiver {
public:
    QUILLON_DESTRUCTOR(IDebugInfoReceiver)                    // entry 1
    virtual void PostDebugInfo(CDebugInfoIf* info) = 0;       // entry 2
    QUILLON_DESTRUCTOR_TAIL(IDebugInfoReceiver)
};

}  // namespace velmora::ipcapture

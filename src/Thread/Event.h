// Event wrappers over the platform's events. Users set, reset and wait through the object.
#pragma once
#include <cstdint>

#include "platform/Sync.h"

namespace velmora {

class CEvent {
public:
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    // True when signalled (or abandoned) within the time; false on time-out, failure or no handle.
    bool Wait(uint32_t milliseconds);
    bool Set();
    bool Reset();
    platform::EventObject* Handle() const { return handle_; }

protected:
    CEvent() = default;
    platform::EventObject* handle_ = nullptr;
};

// Unnamed manual-reset event, not signalled at creation.
class CManualEvent : public CEvent {
public:
    CManualEvent();
};

// Unnamed auto-reset event, not signalled at creation.
class CAutoEvent : public CEvent {
public:
    CAutoEvent();
};

}  // namespace velmora

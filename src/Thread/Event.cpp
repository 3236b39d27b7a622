// Event wrappers.
#include "Thread/Event.h"

namespace velmora {

CEvent::~CEvent() {
    if (handle_) platform::CloseEventObject(handle_);
}

bool CEvent::Wait(uint32_t milliseconds) {
    if (!handle_) return false;
    platform::WaitResult r = platform::WaitEventObject(handle_, milliseconds);
    return r == platform::WaitResult::Signalled || r == platform::WaitResult::Abandoned;
}

bool CEvent::Set() { return platform::SetEventObject(handle_); }
bool CEvent::Reset() { return platform::ResetEventObject(handle_); }

CManualEvent::CManualEvent() { handle_ = platform::CreateEventObject(true, false); }
CAutoEvent::CAutoEvent() { handle_ = platform::CreateEventObject(false, false); }

}  // namespace velmora

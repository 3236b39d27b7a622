// The camera side of preset handling as the preset list sees it: store, recall and erase a camera
// slot. Implemented by the PTZ channel's command object, which is also the list's message sink.
#pragma once
#include <cstdint>
#include <string>

#include "quillon/Debug.h"

namespace velmora {

// Called on the thread of the host's preset call (never on the PTZ command thread), with the
// preset list's lock held. slot is the driver's zero-based camera slot; name is only informative.
class IPrepositionComm : public virtual IDebugMessage {
public:
    virtual bool StorePreposition(uint32_t slot, const std::string& name) = 0;
    virtual bool RecallPreposition(uint32_t slot, const std::string& name, int32_t speed) = 0;
    virtual bool ErasePreposition(uint32_t slot, const std::string& name) = 0;
};

}  // namespace velmora

// What the video capture object sees of a channel: one live stream of one camera input.
#pragma once
#include <cstdint>

#include "Driver/IDriver.h"

namespace velmora {

enum ChannelState : int32_t { kConnected = 0, kSignalLost = 2, kStopped = 3 };

class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;
    virtual bool Start(const StreamParameters& parameters) = 0;
    virtual void Stop() = 0;
    // Restarts with new interval and size; the quality stays.
    virtual bool Update(const StreamParameters& parameters) = 0;
    virtual int32_t GetState() = 0;
    virtual StreamParameters GetParameters() = 0;
    // True when called on the channel's own capture thread (a host that stops the channel from a
    // callback made by that thread): the caller must not destroy the channel before the thread ends.
    virtual bool IsCallerCaptureThread() const { return false; }
};

}  // namespace velmora

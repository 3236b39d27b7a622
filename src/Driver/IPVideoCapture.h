// The video capture object: one slot per channel, owning the channels it starts.
// The lock guards only the slot table; channels are stopped outside it.
#pragma once
#include <cstdint>
#include <vector>

#include "Channels/CameraChannel.h"
#include "Channels/MediaReceiver.h"
#include "Thread/FastMutex.h"
#include "quillon/IPCapture.h"

namespace velmora {

class ICustomCreator;

class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx {
public:
    CIPVideoCapture(ICustomCreator* creator, uint32_t channelCount);
    ~CIPVideoCapture() override;

    uint32_t GetChannelCount() override;
    bool StartChannel(uint32_t index, ipcapture::IVideoSink* sink, ipcapture::IChannelSettings* settings) override;
    bool StopChannel(uint32_t index) override;
    bool ChangeChannel(uint32_t index, ipcapture::IResolution* resolution, uint32_t frameInterval) override;
    int32_t Reserved3() override { return 0; }
    bool GetChannelState(uint32_t index, int32_t* state, int32_t* code, char* text, uint32_t textSize) override;
    bool Reserved4(void*, void*, void*) override { return false; }
    bool Reserved5(void*, void*, void*) override { return false; }
    bool Reserved6(void*) override { return false; }
    bool Reserved7(void*) override { return false; }

    // The channel in a slot (null if none); with remove, the caller takes ownership.
    ICameraChannel* TakeChannel(uint32_t index, bool remove);
    // The current parameters of the channel in a slot, read under the table lock so that a host
    // stopping that slot meanwhile cannot delete the channel under the reader; zeros if none.
    StreamParameters ChannelParameters(uint32_t index);

private:
    // Stops and destroys a channel taken out of its slot. A channel stopped from its own capture
    // thread (the host stopping it from a callback) cannot be destroyed under that thread: it is
    // kept until a later call from another thread, or the destructor, has waited for its thread.
    void Dispose(ICameraChannel* channel);
    void DisposeRetired();

    ICustomCreator* creator_;
    CFastMutex lock_;
    std::vector<ICameraChannel*> slots_;
    std::vector<ICameraChannel*> retired_;  // guarded by lock_
};

}  // namespace velmora

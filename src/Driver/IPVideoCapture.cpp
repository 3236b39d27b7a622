// Video capture object.
#include "Driver/IPVideoCapture.h"

#include "Driver/IPCaptureDriver.h"

namespace velmora {

CIPVideoCapture::CIPVideoCapture(ICustomCreator* creator, uint32_t channelCount)
    : creator_(creator), slots_(channelCount, nullptr) {}

CIPVideoCapture::~CIPVideoCapture() {
    for (uint32_t i = 0; i < slots_.size(); ++i) {
        if (ICameraChannel* channel = TakeChannel(i, true)) Dispose(channel);
    }
    DisposeRetired();
}

void CIPVideoCapture::Dispose(ICameraChannel* channel) {
    channel->Stop();
    if (channel->IsCallerCaptureThread()) {
        CFastMutexGuard guard(lock_);
        retired_.push_back(channel);
        return;
    }
    delete channel;
}

void CIPVideoCapture::DisposeRetired() {
    std::vector<ICameraChannel*> keep, dispose;
    {
        CFastMutexGuard guard(lock_);
        for (ICameraChannel* channel : retired_) (channel->IsCallerCaptureThread() ? keep : dispose).push_back(channel);
        retired_ = std::move(keep);
    }
    // Stop waits for the thread, which was told to end when the channel was retired.
    for (ICameraChannel* channel : dispose) Dispose(channel);
}

uint32_t CIPVideoCapture::GetChannelCount() { return static_cast<uint32_t>(slots_.size()); }

ICameraChannel* CIPVideoCapture::TakeChannel(uint32_t index, bool remove) {
    CFastMutexGuard guard(lock_);
    if (index >= slots_.size()) return nullptr;
    ICameraChannel* channel = slots_[index];
    if (remove) slots_[index] = nullptr;
    return channel;
}

StreamParameters CIPVideoCapture::ChannelParameters(uint32_t index) {
    CFastMutexGuard guard(lock_);
    if (index >= slots_.size() || !slots_[index]) return {};
    return slots_[index]->GetParameters();
}

bool CIPVideoCapture::StartChannel(uint32_t index, ipcapture::IVideoSink* sink,
                                   ipcapture::IChannelSettings* settings) {
    if (index >= GetChannelCount()) return false;
    StopChannel(index);  // also destroys channels retired earlier
    ICameraChannel* channel = creator_ ? creator_->CreateChannel(index, sink) : nullptr;
    if (!channel) return false;
    StreamParameters parameters;
    if (settings) {
        if (ipcapture::IRateControl* rate = settings->GetRateControl()) {
            parameters.FrameInterval = rate->GetFrameInterval();
            parameters.Quality = rate->GetQuality();
        }
        if (ipcapture::IVideoFormat* format = settings->GetVideoFormat()) {
            if (ipcapture::IResolution* resolution = format->GetResolution()) {
                parameters.Width = resolution->GetWidth();
                parameters.Height = resolution->GetHeight();
            }
        }
    }
    bool started = channel->Start(parameters);
    ICameraChannel* displaced = nullptr;
    {
        CFastMutexGuard guard(lock_);
        // Kept even when the start failed, so its state can be read and StopChannel cleans up.
        displaced = slots_[index];
        slots_[index] = channel;
    }
    if (displaced) Dispose(displaced);  // only if the host raced two starts on one index
    return started;
}

bool CIPVideoCapture::StopChannel(uint32_t index) {
    DisposeRetired();
    ICameraChannel* channel = TakeChannel(index, true);
    if (!channel) return false;
    Dispose(channel);
    return true;
}

bool CIPVideoCapture::ChangeChannel(uint32_t index, ipcapture::IResolution* resolution, uint32_t frameInterval) {
    ICameraChannel* channel = TakeChannel(index, false);
    if (!channel) return false;
    StreamParameters parameters;
    parameters.FrameInterval = frameInterval;
    if (resolution) {
        parameters.Width = resolution->GetWidth();
        parameters.Height = resolution->GetHeight();
    }
    return channel->Update(parameters);
}

bool CIPVideoCapture::GetChannelState(uint32_t index, int32_t* state, int32_t* code, char* text,
                                      uint32_t textSize) {
    if (code) *code = 0;
    if (text && textSize > 0) text[0] = 0;
    ICameraChannel* channel = TakeChannel(index, false);
    if (!channel) return false;
    int32_t value = channel->GetState();
    if (state) *state = value == kStopped ? kSignalLost : value;
    return true;
}

}  // namespace velmora

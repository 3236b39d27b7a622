// MxPEG channel: switches the camera to the MxPEG-capable mode and pulls the MxPEG stream
// through a fresh parser per connection; the converter's pictures reach the host like MJPEG ones.
// Everything runs on the channel's capture thread.
#pragma once

#include "Channels/HttpChannelBase.h"
#include "Channels/MediaReceiver.h"
#include "mxm/ISegmentedStreamReceiver.h"

namespace velmora {

class CMxpegHttpChannel : public CHttpChannelBase, public mxm::ISegmentedStreamReceiver {
public:
    CMxpegHttpChannel(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink, IAlarmReceiver* sensors);
    ~CMxpegHttpChannel() override;

    bool SetParameters() override;
    bool StreamVideo() override;

    void BeginPicture(uint32_t totalBytes, int32_t width, int32_t height) override;
    void FrameComplete(int32_t width, int32_t height) override;
    void AppendSegment(const uint8_t* data, uint32_t length) override;

private:
    // The converter announces each picture's size first: its segments go straight into the host's
    // sample, which FrameComplete delivers.
    PictureSample sample_;
    uint32_t samplingFailures_ = 0;  // throttle of the message on frames in a sampling not converted
};

}  // namespace velmora

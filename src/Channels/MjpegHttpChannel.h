// Motion-JPEG channel: configures the camera for JPEG pictures and pulls the multipart stream
// through the JPEG parser. Everything runs on the channel's capture thread.
#pragma once
#include "Channels/HttpChannelBase.h"
#include "Channels/HttpMediaParser.h"

namespace velmora {

class CMjpegHttpChannel : public CHttpChannelBase {
public:
    CMjpegHttpChannel(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink, IAlarmReceiver* sensors);
    ~CMjpegHttpChannel() override;

    bool SetParameters() override;
    bool StreamVideo() override;

private:
    CJpegMediaParser parser_;
};

}  // namespace velmora

// Motion-JPEG channel (being built).
#pragma once
#include "Channels/CameraChannel.h"
#include "IO/AlarmReceiver.h"
#include "quillon/Media.h"

namespace velmora {

class CMjpegHttpChannel : public ICameraChannel {
public:
    CMjpegHttpChannel(uint32_t, IDriver*, ipcapture::IVideoSink*, IAlarmReceiver*) {}
    bool Start(const StreamParameters& p) override { parameters_ = p; return false; }
    void Stop() override {}
    bool Update(const StreamParameters&) override { return false; }
    int32_t GetState() override { return kStopped; }
    StreamParameters GetParameters() override { return parameters_; }

private:
    StreamParameters parameters_;
};

}  // namespace velmora

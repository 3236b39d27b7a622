// Camera-specific driver: its I/O object, PTZ handler and channel types.
#include "Channels/MjpegHttpChannel.h"
#include "Channels/MxpegHttpChannel.h"
#include "Driver/IPCaptureDriver.h"
#include "IO/MobotixDigitalIO.h"
#include "PTZ/MobotixPTZHandler.h"

namespace velmora {

namespace {
constexpr int32_t kParameterVideoStandard = 1;
constexpr int32_t kParameterFirmware = 4;
}  // namespace

bool CMobotixIPCaptureDriver::Open(ipcapture::IDebugInfoReceiver* receiver, ipcapture::ISampleAllocator* allocator,
                                   ipcapture::IDriverConfig* config) {
    if (!CIPCaptureDriver::Open(receiver, allocator, config)) return false;
    videoStandard_ = GetParameterInt(kParameterVideoStandard) == 1 ? 1 : 0;
    LogDriverOpened(config, kDriverName, GetParameter(kParameterFirmware));
    return true;
}

bool CMobotixIPCaptureDriver::CreateIOObject() {
    if (ioObject_) return false;
    ioObject_ = new CMobotixDigitalIO(this);
    return true;
}

bool CMobotixIPCaptureDriver::CreatePTZObject() {
    if (ptzHandler_) return false;
    ptzHandler_ = new CMobotixPTZHandler(this, channelCount_ > 0 ? static_cast<uint32_t>(channelCount_) : 0);
    return true;
}

ICameraChannel* CMobotixIPCaptureDriver::CreateChannel(uint32_t channel, ipcapture::IVideoSink* sink) {
    IAlarmReceiver* sensors = dynamic_cast<IAlarmReceiver*>(ioObject_);
    switch (streamType_) {
        case kStreamMjpeg:
            return new CMjpegHttpChannel(channel, this, sink, sensors);
        case kStreamMxpeg:
            return new CMxpegHttpChannel(channel, this, sink, sensors);
        default:
            return nullptr;
    }
}

}  // namespace velmora

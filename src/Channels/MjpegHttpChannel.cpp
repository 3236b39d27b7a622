// Motion-JPEG channel.
#include "Channels/MjpegHttpChannel.h"

#include <vector>

#include "Web/HttpClient.h"
#include "Web/TextUtils.h"

namespace velmora {

CMjpegHttpChannel::CMjpegHttpChannel(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink,
                                     IAlarmReceiver* sensors)
    : CHttpChannelBase(channel, driver, sink, sensors), parser_(driver, kDriverName) {
    parser_.SetReceiver(this);
}

CMjpegHttpChannel::~CMjpegHttpChannel() { Stop(); }

bool CMjpegHttpChannel::SetParameters() {
    Web::CHttpClient client(driver_->GetDeviceInfo(), kHttpAgent);
    ActiveClient active(*this, client);
    const std::string path = Utils::FormatString(
        "/control/control?set&section=imagecontrol&motionjpeg=disable&size=%ux%u&quality=%u&framerate100=0",
        parameters_.Width, parameters_.Height, CameraQuality(parameters_.Quality));
    return PushImageControl(client, path, "velmora::CMjpegHttpChannel::SetParameters", false);
}

bool CMjpegHttpChannel::StreamVideo() {
    const std::string path =
        Utils::FormatString("/control/faststream.jpg?stream=full&fps=%d&noaudio", static_cast<int>(Utils::IntervalToFps(parameters_.FrameInterval)));
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    Web::CHttpClient client(device, kHttpAgent);
    ActiveClient active(*this, client);
    std::vector<uint8_t> buffer(kInitialReadSize, 0);
    // A failed request shows at the first read.
    client.SendRequest("GET", path);
    PictureWatch watch(*this);
    for (;;) {
        if (IsStopSignalled()) return !streamError_;
        if (streamError_ || watch.Overdue()) return false;
        uint32_t got = ReadStreamChunk(client, buffer);
        if (got == 0) return false;
        buffer.resize(got);
        parser_.Parse(buffer.data(), got);
    }
}

}  // namespace velmora

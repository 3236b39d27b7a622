// Motion-JPEG channel.
#include "Channels/MjpegHttpChannel.h"


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
    // A failed request shows at the first read.
    client.SendRequest("GET", path);
    PictureWatch watch(*this);
    // Reads land in the parser's own buffer, where the pictures are cut out: no copy in between.
    for (;;) {
        if (IsStopSignalled()) return !streamError_;
        if (streamError_ || watch.Overdue()) return false;
        uint8_t* target = parser_.Reserve(kStreamReadBytes);
        if (!target) return false;
        const uint32_t got = client.ReadSome(target, kStreamReadBytes);
        if (got == 0) return false;
        parser_.Commit(got);
    }
}

}  // namespace velmora

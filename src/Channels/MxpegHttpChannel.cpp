// MxPEG channel.
#include "Channels/MxpegHttpChannel.h"

#include <memory>

#include "Web/ShouldReport.h"
#include "Web/TextUtils.h"
#include "Web/HttpClient.h"
#include "mxm/MxPEGParser.h"

namespace velmora {

namespace {
constexpr uint32_t kStatusOk = 200;
}  // namespace

CMxpegHttpChannel::CMxpegHttpChannel(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink,
                                     IAlarmReceiver* sensors)
    : CHttpChannelBase(channel, driver, sink, sensors) {}

CMxpegHttpChannel::~CMxpegHttpChannel() { Stop(); }

bool CMxpegHttpChannel::SetParameters() {
    Web::CHttpClient client(driver_->GetDeviceInfo(), kHttpAgent);
    ActiveClient active(*this, client);
    const std::string path = Utils::FormatString(
        "/control/control?set&section=imagecontrol&motionjpeg=enable&size=%dx%d&quality=%d&framerate100=0",
        static_cast<int>(parameters_.Width), static_cast<int>(parameters_.Height),
        static_cast<int>(CameraQuality(parameters_.Quality)));
    // Checked as the MJPEG channel's push: a refused request (a wrong password, say) is a failed
    // pass that is logged and backed off, never a connection.
    return PushImageControl(client, path, "velmora::CMxpegHttpChannel::SetParameters", true);
}

bool CMxpegHttpChannel::StreamVideo() {
    Web::CHttpClient client(driver_->GetDeviceInfo(), kHttpAgent);
    ActiveClient active(*this, client);
    const std::string path = Utils::FormatString("/control/faststream.jpg?stream=MxPEG&fps=%d&iframerefresh=10&noaudio",
                                    static_cast<int>(Utils::IntervalToFps(parameters_.FrameInterval)));
    if (!client.SendRequest("GET", path) || client.GetStatusCode() != kStatusOk) return false;
    std::unique_ptr<mxm::MxPEGParser> parser;
    try {
        parser = std::make_unique<mxm::MxPEGParser>(this);
    } catch (...) {
        return false;
    }
    picture_.clear();
    std::vector<uint8_t> buffer(kInitialReadSize, 0);
    PictureWatch watch(*this);
    uint32_t refusedSeen = 0;
    for (;;) {
        if (IsStopSignalled()) return !streamError_;
        if (streamError_ || watch.Overdue()) return false;
        uint32_t got = ReadStreamChunk(client, buffer);
        if (!buffer.empty()) ProcessSensorText(reinterpret_cast<const char*>(buffer.data()), buffer.size());
        if (got == 0) return false;
        buffer.resize(got);
        // A stream the parser gave up on, or bytes it had no room for, would leave the channel
        // connected and silent: end the stream so the reconnect loop starts a fresh parser.
        if (!parser->Feed(buffer.data(), got) || parser->IsDiscarding()) return false;
        // Frames in a chroma sampling the converter cannot rebuild give no picture: say so, throttled.
        for (const uint32_t refused = parser->Converter().UnsupportedSamplingFrames(); refusedSeen < refused; ++refusedSeen) {
            if (!ShouldReport(samplingFailures_)) continue;
            const DEVICE_INFO device = driver_->GetDeviceInfo();
            driver_->DebugMessage(kLevelError,
                                  "%s(): MxPEG frame of device %s:%u not converted: chroma sampling other than 4:2:0 or 4:2:2",
                                  "velmora::CMxpegHttpChannel::StreamVideo", device.Address.c_str(),
                                  static_cast<unsigned>(device.Port));
        }
    }
}

void CMxpegHttpChannel::AppendSegment(const uint8_t* data, uint32_t length) {
    if (length == 0 || !data) return;
    picture_.insert(picture_.end(), data, data + length);
}

void CMxpegHttpChannel::FrameComplete(int32_t width, int32_t height) {
    if (picture_.empty()) return;
    DeliverPicture(driver_, this, picture_.data(), static_cast<uint32_t>(picture_.size()),
                   static_cast<uint32_t>(width), static_cast<uint32_t>(height), kDriverName);
    picture_.clear();
}

}  // namespace velmora

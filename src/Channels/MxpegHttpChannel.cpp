// MxPEG channel.
#include "Channels/MxpegHttpChannel.h"

#include <algorithm>
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
    : CHttpChannelBase(channel, driver, sink, sensors) {
    picturesCarrySensorText_ = false;
}

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
    sample_.Abandon();
    PictureWatch watch(*this);
    uint32_t refusedSeen = 0;
    // Reads land in the parser's frame buffer, behind its fill level: no copy in between.
    for (;;) {
        if (IsStopSignalled()) return !streamError_;
        if (streamError_ || watch.Overdue()) return false;
        // A frame the parser has no room left for would leave the channel connected and silent:
        // end the stream so the reconnect loop starts a fresh parser.
        const uint32_t room = parser->FreeSpace();
        if (room == 0) return false;
        const uint32_t fill = parser->BufferFill();
        uint8_t* target = parser->FrameBuffer() + fill;
        const uint32_t got = client.ReadSome(target, std::min(kStreamReadBytes, room));
        if (got == 0) return false;
        // Sensor text rides in the stream's own segments: every read is searched as it arrives.
        ProcessSensorText(reinterpret_cast<const char*>(target), got);
        parser->AdvanceFill(got);
        parser->ProcessBytes(fill, got);
        // A stream the parser gave up on cannot yield pictures again.
        if (parser->IsDiscarding()) return false;
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

void CMxpegHttpChannel::BeginPicture(uint32_t totalBytes, int32_t width, int32_t height) {
    // A host that gives no sample gets none of this picture: its segments are then dropped.
    sample_.Begin(driver_, totalBytes, static_cast<uint32_t>(width), static_cast<uint32_t>(height), kDriverName);
}

void CMxpegHttpChannel::AppendSegment(const uint8_t* data, uint32_t length) {
    if (length == 0 || !data) return;
    sample_.Append(data, length);
}

void CMxpegHttpChannel::FrameComplete(int32_t, int32_t) {
    if (sample_.Filled() != 0) sample_.Deliver(this);
    sample_.Abandon();
}

}  // namespace velmora

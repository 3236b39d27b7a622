// Motion-JPEG channel.
#include "Channels/MjpegHttpChannel.h"

#include <cstring>
#include <vector>

#include "Web/TextUtils.h"
#include "Web/CameraRequest.h"
#include "Web/HttpClient.h"
#include "Web/ShouldReport.h"

namespace velmora {

namespace {
constexpr const char* kStoreConfigPath = "/admin/rcontrol?action=storeconfig";
}

CMjpegHttpChannel::CMjpegHttpChannel(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink,
                                     IAlarmReceiver* sensors)
    : CHttpChannelBase(channel, driver, sink, sensors), parser_(driver, kDriverName) {
    parser_.SetReceiver(this);
}

CMjpegHttpChannel::~CMjpegHttpChannel() { Stop(); }

bool CMjpegHttpChannel::SetParameters() {
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    Web::CHttpClient client(device, kHttpAgent);
    ActiveClient active(*this, client);
    const std::string path = Utils::FormatString(
        "/control/control?set&section=imagecontrol&motionjpeg=disable&size=%ux%u&quality=%u&framerate100=0",
        parameters_.Width, parameters_.Height, CameraQuality(parameters_.Quality));
    std::vector<uint8_t> reply;
    CResultDef result = Utils::SendRequestWrapper(path, reply, client);
    if (result.code == 0) {
        std::string text(reply.begin(), reply.end());
        text = text.c_str();  // the reply carries a terminating zero
        size_t err = text.find("ERR:");
        if (err == std::string::npos) {
            client.SendRequest("GET", kStoreConfigPath);
            return true;
        }
        size_t eol = text.find_first_of("\r\n", err);
        std::string errorText = text.substr(err, eol == std::string::npos ? std::string::npos : eol - err);
        result.level = kLevelError;
        result.code = CResultDef::kCameraRejectedParameters;
        result.message = Utils::FormatString("%s(): Set stream parameters for device %s:%u failed, error message: %s",
                                "velmora::CMjpegHttpChannel::SetParameters", device.Address.c_str(),
                                static_cast<unsigned>(device.Port), errorText.c_str());
    }
    if (ShouldReport(failureCount_) && !result.message.empty() && result.level != kLevelSilent)
        driver_->DebugMessage(result.level, "%s", result.message.c_str());
    return false;
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

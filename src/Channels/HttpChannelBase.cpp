// Reconnect loop and picture hand-over shared by the MJPEG and MxPEG channels.
#include "Channels/HttpChannelBase.h"

#include <algorithm>
#include <string_view>

#include "Channels/ByteScan.h"
#include "Web/CameraRequest.h"
#include "Web/HttpClient.h"
#include "platform/System.h"
#include "Web/ShouldReport.h"

namespace velmora {

namespace {
constexpr std::string_view kSensorStart = "SECTION SENSORS";
constexpr std::string_view kSensorEnd = "ENDSECTION SENSORS";
// The end tag carries the start tag this many bytes in.
constexpr size_t kEndTagLead = kSensorEnd.size() - kSensorStart.size();
constexpr const char* kStoreConfigPath = "/admin/rcontrol?action=storeconfig";
}  // namespace

CHttpChannelBase::CHttpChannelBase(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink,
                                   IAlarmReceiver* sensors)
    : CBaseCameraChannel(channel, driver, sink), sensorSink_(sensors) {}

void CHttpChannelBase::OnStopThread() {
    std::lock_guard<std::mutex> lock(activeLock_);
    if (activeClient_) activeClient_->Abort();
}

CHttpChannelBase::ActiveClient::ActiveClient(CHttpChannelBase& channel, Web::CHttpClient& client) : channel_(channel) {
    std::lock_guard<std::mutex> lock(channel_.activeLock_);
    channel_.activeClient_ = &client;
    // The stop event is set before OnStopThread takes the lock: either it finds this client, or
    // this check finds the stop.
    if (channel_.IsStopSignalled()) client.Abort();
}

CHttpChannelBase::ActiveClient::~ActiveClient() {
    std::lock_guard<std::mutex> lock(channel_.activeLock_);
    channel_.activeClient_ = nullptr;
}

CHttpChannelBase::PictureWatch::PictureWatch(CHttpChannelBase& channel)
    : channel_(channel),
      pictures_(channel.picturesDelivered_.load()),
      sinceMs_(platform::MonotonicMilliseconds()),
      timeoutMs_(static_cast<uint64_t>(std::max<int32_t>(channel.driver_->GetDeviceInfo().StreamTimeout, 0))) {}

bool CHttpChannelBase::PictureWatch::Overdue() {
    const uint64_t now = platform::MonotonicMilliseconds();
    const uint64_t pictures = channel_.picturesDelivered_.load();
    if (pictures != pictures_) {
        pictures_ = pictures;
        sinceMs_ = now;
        return false;
    }
    return now - sinceMs_ > timeoutMs_;
}

uint32_t CHttpChannelBase::CameraQuality(uint32_t percent) {
    uint32_t q = (percent * 9 / 100) * 10;
    return q == 0 ? 10 : q;
}

bool CHttpChannelBase::PushImageControl(Web::CHttpClient& client, const std::string& path, const char* where,
                                        bool storeMustSucceed) {
    std::vector<uint8_t> reply;
    CResultDef result = Utils::SendRequestWrapper(path, reply, client);
    if (result.code == CResultDef::kSuccess) {
        const std::string text(reinterpret_cast<const char*>(reply.data()));  // the reply ends in a zero
        const size_t err = text.find("ERR:");
        if (err == std::string::npos) {
            if (!storeMustSucceed) {
                client.SendRequest("GET", kStoreConfigPath);
                return true;
            }
            result = Utils::SendRequestWrapper(kStoreConfigPath, reply, client);
            if (result.code == CResultDef::kSuccess || result.code == CResultDef::kEmptyReply) return true;
        } else {
            const size_t eol = text.find_first_of("\r\n", err);
            const std::string errorText = text.substr(err, eol == std::string::npos ? std::string::npos : eol - err);
            const DEVICE_INFO device = driver_->GetDeviceInfo();
            result.level = kLevelError;
            result.code = CResultDef::kCameraRejectedParameters;
            result.message = Utils::FormatString("%s(): Set stream parameters for device %s:%u failed, error message: %s",
                                                 where, device.Address.c_str(), static_cast<unsigned>(device.Port),
                                                 errorText.c_str());
        }
    }
    if (ShouldReport(failureCount_) && !result.message.empty() && result.level != kLevelSilent)
        driver_->DebugMessage(result.level, "%s", result.message.c_str());
    return false;
}

int32_t CHttpChannelBase::Run() {
    uint32_t attempt = 0;
    for (;;) {
        uint32_t wait = attempt < kShortRetries ? kShortRetryMs : kLongRetryMs;
        ++attempt;
        if (stopEvent_.Wait(wait)) break;
        if (SetParameters()) {
            attempt = 0;
            streamError_ = false;
            SetState(kConnected);
            if (StreamVideo()) continue;
        }
        if (IsStopSignalled()) break;  // a pass cut short by the stop is no loss of signal
        SetState(kSignalLost);
        const DEVICE_INFO device = driver_->GetDeviceInfo();
        if (GetMillisecondsSinceLastFrame() > static_cast<uint32_t>(device.StreamTimeout / 2)) {
            SetCameraState(false);
            if (sink_) {
                try {
                    sink_->OnSignalLost();
                } catch (...) {
                }
            }
        }
    }
    SetState(kStopped);
    SetCameraState(false);
    return 0;
}

std::string_view CHttpChannelBase::FindSensorSection(std::string_view text) {
    // Every picture is searched whole: one pass when it holds no block, where two plain searches
    // would read it twice.
    const size_t start = FindText(text, kSensorStart, 0);
    if (start == std::string_view::npos) return {};
    // Every end tag holds a start tag, so none can lie before start - kEndTagLead: searching from
    // there finds the first end tag of the whole text.
    const size_t end = FindText(text, kSensorEnd, start >= kEndTagLead ? start - kEndTagLead : 0);
    if (end == std::string_view::npos || start >= end) return {};
    return text.substr(start, end - start);
}

void CHttpChannelBase::ProcessSensorText(const char* text, size_t size) {
    if (!text || size == 0 || !sensorSink_) return;
    try {
        const std::string_view section = FindSensorSection(std::string_view(text, size));
        if (!section.empty()) sensorSink_->ProcessSensorSection(std::string(section));
    } catch (...) {
        // Sensor text is a side channel; it never ends the stream.
    }
}

bool CHttpChannelBase::OnMediaSample(ipcapture::IMediaSample* sample) {
    if (!sample) return false;
    if (IsStopSignalled()) return false;
    if (picturesCarrySensorText_) ProcessSensorText(reinterpret_cast<const char*>(sample->GetData()), sample->GetSize());
    if (DeliverSample(sample)) {
        ++picturesDelivered_;
        MarkFrameReceived();
        SetCameraState(true);
        return true;
    }
    streamError_ = true;
    return false;
}

}  // namespace velmora

// Channel base: capture thread lifetime, state and the camera's online reports.
#include "Channels/BaseCameraChannel.h"

#include <cctype>

#include "Web/TextUtils.h"
#include "platform/System.h"

namespace velmora {

CBaseCameraChannel::CBaseCameraChannel(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink)
    : sink_(sink), clock_(&platform::MonotonicMilliseconds), channel_(channel), driver_(driver) {}

CBaseCameraChannel::~CBaseCameraChannel() { CBaseCameraChannel::Stop(); }

uint32_t CBaseCameraChannel::ThreadEntry(void* self) {
    auto* channel = static_cast<CBaseCameraChannel*>(self);
    channel->threadId_ = platform::CurrentThreadId();
    return static_cast<uint32_t>(channel->Run());
}

bool CBaseCameraChannel::IsCaptureThread() const {
    return thread_ && threadId_.load() == platform::CurrentThreadId();
}

bool CBaseCameraChannel::CreateCaptureThread() {
    stopEvent_.Reset();
    uint64_t id = 0;
    thread_ = platform::CreateThreadObject(&CBaseCameraChannel::ThreadEntry, this, &id);
    return thread_ != nullptr;
}

bool CBaseCameraChannel::Start(const StreamParameters& parameters) {
    Stop();
    parameters_ = parameters;
    if (!socketsStarted_) socketsStarted_ = platform::SocketLibraryStartup();
    auto releaseSockets = [this] {
        if (socketsStarted_) platform::SocketLibraryCleanup();
        socketsStarted_ = false;
    };
    if (thread_) {  // only when Start runs on the capture thread itself
        releaseSockets();
        return false;
    }
    if (!CreateCaptureThread()) {
        releaseSockets();
        return false;
    }
    return true;
}

void CBaseCameraChannel::Stop() {
    // Signalled first: from here on no delivered picture reports the camera online again.
    stopEvent_.Set();
    SetState(kStopped);
    SetCameraState(false);
    StopThread();
    if (socketsStarted_) platform::SocketLibraryCleanup();
    socketsStarted_ = false;
}

bool CBaseCameraChannel::Update(const StreamParameters& parameters) {
    parameters_.FrameInterval = parameters.FrameInterval;
    parameters_.Width = parameters.Width;
    parameters_.Height = parameters.Height;
    restarting_ = true;
    SetState(kStopped);
    StopThread();
    restarting_ = false;
    if (thread_) return false;  // called from the capture thread, which now ends as stopped
    return CreateCaptureThread();
}

int32_t CBaseCameraChannel::GetState() {
    CFastMutexGuard guard(stateLock_);
    return state_;
}

void CBaseCameraChannel::SetState(int32_t state) {
    CFastMutexGuard guard(stateLock_);
    state_ = state;
}

void CBaseCameraChannel::StopThread() {
    stopEvent_.Set();
    if (!thread_) return;
    OnStopThread();
    if (IsCaptureThread()) return;
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    const uint32_t limit = static_cast<uint32_t>(device.RequestTimeout > 0 ? device.RequestTimeout : 0) * 2;
    if (platform::WaitThreadObject(thread_, limit) != platform::WaitResult::Signalled) {
        std::string name = DeviceName();
        if (!name.empty()) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        driver_->DebugMessage(kLevelWarning, "%s: Video capture thread for %s cannot be stopped and will be terminated now",
                              "velmora::CBaseCameraChannel::StopThread", name.c_str());
        // No safe forced termination here: every network wait of the thread is bounded by the
        // request time-out, so it ends; wait for it rather than kill it.
        if (!platform::TerminateThreadObject(thread_, 0)) platform::WaitThreadObject(thread_, platform::kInfinite);
    }
    platform::CloseThreadObject(thread_);
    thread_ = nullptr;
    threadId_ = 0;
}

std::string CBaseCameraChannel::DeviceName() {
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    if (driver_->GetChannelCount() > 1)
        return "Video-server " + device.Address + " (channel " + std::to_string(channel_) + ")";
    return "Camera " + device.Address;
}

void CBaseCameraChannel::SetCameraState(bool online) {
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        if (online && IsStopSignalled()) return;
        // A restart is no loss: the flag keeps its value, so the next picture logs nothing either.
        if (!online && restarting_) return;
        if (reportedOnline_.exchange(online) == online) return;
        pendingReports_.push_back(DescribeCameraState(online));
        // The thread posting now (possibly this one, from inside the host's callback) sends the
        // line after those decided before it.
        if (postingReports_) return;
        postingReports_ = true;
    }
    PostPendingReports();
}

void CBaseCameraChannel::PostPendingReports() {
    // Ends: every queued line stands for one change of the online flag, and the flag changes only
    // with a delivered picture or a failed pass.
    for (;;) {
        Report report;
        {
            std::lock_guard<std::mutex> lock(reportLock_);
            if (pendingReports_.empty()) {
                postingReports_ = false;
                return;
            }
            report = std::move(pendingReports_.front());
            pendingReports_.pop_front();
        }
        driver_->DebugMessage(report.level, "%s", report.text.c_str());
    }
}

CBaseCameraChannel::Report CBaseCameraChannel::DescribeCameraState(bool online) {
    std::string name = DeviceName();
    const char* where = "velmora::CBaseCameraChannel::SetCameraState";
    if (online) return {kLevelInfo, Utils::FormatString("%s: %s is online", where, name.c_str())};
    switch (GetState()) {
        case kSignalLost:
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            return {kLevelError, Utils::FormatString("%s: Signal was lost for %s", where, name.c_str())};
        case kStopped:
            return {kLevelInfo, Utils::FormatString("%s: %s is offline. Channel was stopped", where, name.c_str())};
        default:
            return {kLevelError, Utils::FormatString("%s: %s is offline or failed", where, name.c_str())};
    }
}

void CBaseCameraChannel::MarkFrameReceived() {
    const uint64_t now = clock_();
    CFastMutexGuard guard(timeLock_);
    lastFrameMs_ = now;
    pictureReceived_ = true;
}

uint32_t CBaseCameraChannel::GetMillisecondsSinceLastFrame() {
    uint64_t last;
    {
        CFastMutexGuard guard(timeLock_);
        if (!pictureReceived_) return kNoPictureYet;
        last = lastFrameMs_;
    }
    const uint64_t now = clock_();
    // A clock read before the picture was stored (another thread marked it meanwhile) is no age.
    if (now <= last) return 0;
    const uint64_t elapsed = now - last;
    return elapsed >= kNoPictureYet ? kNoPictureYet : static_cast<uint32_t>(elapsed);
}

bool CBaseCameraChannel::DeliverSample(ipcapture::IMediaSample* sample) {
    if (!sink_) return false;
    try {
        return sink_->DeliverSample(sample);
    } catch (...) {
        return false;
    }
}

}  // namespace velmora

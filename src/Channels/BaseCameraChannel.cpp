// Channel base: capture thread lifetime, state and the camera's online reports.
#include "Channels/BaseCameraChannel.h"

#include <cctype>

#include "platform/System.h"

namespace velmora {

CBaseCameraChannel::CBaseCameraChannel(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink)
    : sink_(sink), channel_(channel), driver_(driver) {}

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
    SetState(kStopped);
    StopThread();
    if (thread_) return false;  // called from the capture thread
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
    std::lock_guard<std::mutex> lock(reportLock_);
    if (online && IsStopSignalled()) return;
    if (reportedOnline_.exchange(online) == online) return;
    std::string name = DeviceName();
    const char* where = "velmora::CBaseCameraChannel::SetCameraState";
    if (online) {
        driver_->DebugMessage(kLevelInfo, "%s: %s is online", where, name.c_str());
        return;
    }
    switch (GetState()) {
        case kSignalLost:
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            driver_->DebugMessage(kLevelError, "%s: Signal was lost for %s", where, name.c_str());
            break;
        case kStopped:
            driver_->DebugMessage(kLevelInfo, "%s: %s is offline. Channel was stopped", where, name.c_str());
            break;
        default:
            driver_->DebugMessage(kLevelError, "%s: %s is offline or failed", where, name.c_str());
            break;
    }
}

void CBaseCameraChannel::MarkFrameReceived() {
    uint64_t now = 0;
    if (!platform::SystemTime100ns(&now)) now = 0;
    CFastMutexGuard guard(timeLock_);
    lastFrameTime_ = now;
}

uint32_t CBaseCameraChannel::GetMillisecondsSinceLastFrame() {
    uint64_t last;
    {
        CFastMutexGuard guard(timeLock_);
        last = lastFrameTime_;
    }
    uint64_t now = 0;
    if (!platform::SystemTime100ns(&now)) now = 0;
    return static_cast<uint32_t>((now - last) / 10000);
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

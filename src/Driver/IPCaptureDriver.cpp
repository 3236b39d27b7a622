// Driver object: configuration, host parameters, sub-object lifetime and the log path.
#include "Driver/IPCaptureDriver.h"

#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <climits>

#include "Driver/DebugInfo.h"
#include "Driver/IPVideoCapture.h"
#include "platform/System.h"

namespace velmora {

namespace {
constexpr const char* kHostCoreModule = "ombrel.dll";
constexpr uint16_t kDefaultHostVersion[4] = {5, 12, 0, 0};
constexpr const char* kNoneText = "(none)";
// The host ends its parameter list with a null; a host that never does must not make Open
// read (and store) without end. The driver itself reads keys 1 to 4.
constexpr int32_t kMaxHostParameters = 1024;

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }
}  // namespace

void ReadHostCoreVersion(uint16_t version[4]) {
    if (!platform::ReadModuleProductVersion(kHostCoreModule, version)) {
        for (int i = 0; i < 4; ++i) version[i] = kDefaultHostVersion[i];
    }
}

CIPCaptureDriver::CIPCaptureDriver() = default;

CIPCaptureDriver::~CIPCaptureDriver() {
    // Sub-objects belong to the derived driver's lifetime; it has closed them already.
    CIPCaptureDriver::Close();
    parameters_.clear();
}

bool CIPCaptureDriver::Open(ipcapture::IDebugInfoReceiver* receiver, ipcapture::ISampleAllocator* allocator,
                            ipcapture::IDriverConfig* config) {
    // A host that passes no configuration gets a refusal, never a crash.
    if (!config) return false;
    ipcapture::ICameraInfo* camera = config->GetCameraInfo();
    ipcapture::IConnectionInfo* connection = config->GetConnectionInfo();
    if (!camera || !connection) return false;

    streamType_ = connection->GetStreamType();
    receiver_ = receiver;
    allocator_ = allocator;
    inputCount_ = camera->GetInputCount();
    outputCount_ = camera->GetOutputCount();
    channelCount_ = camera->GetChannelCount();

    device_.Address = Text(connection->GetAddress());
    device_.Port = connection->GetPort();
    device_.UserName = Text(connection->GetUserName());
    device_.Password = Text(connection->GetPassword());
    device_.Model = Text(camera->GetModel());

    for (int32_t index = 1; index <= kMaxHostParameters; ++index) {
        const char* value = config->GetParameter(index);
        if (!value) break;
        parameters_[index] = value;
    }

    ReadHostCoreVersion(hostVersion_);

    if (!CreateIOObject() || !CreatePTZObject()) return false;
    videoCapture_ = new CIPVideoCapture(this, channelCount_ > 0 ? static_cast<uint32_t>(channelCount_) : 0);
    return true;
}

void CIPCaptureDriver::Close() {
    delete videoCapture_;
    videoCapture_ = nullptr;
    delete ioObject_;
    ioObject_ = nullptr;
    delete ptzHandler_;
    ptzHandler_ = nullptr;
}

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() { return videoCapture_; }
ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCaptureEx() { return videoCapture_; }

void CIPCaptureDriver::LogDriverOpened(ipcapture::IDriverConfig* config, const std::string& driverName,
                                       const std::string& firmware) {
    if (driverName.empty() || !config) return;
    ipcapture::ICameraInfo* camera = config->GetCameraInfo();
    ipcapture::IConnectionInfo* connection = config->GetConnectionInfo();
    if (!camera || !connection) return;
    std::string text = "DRIVER IS OPENED (name: " + driverName + ", device model: " + Text(camera->GetModel());
    if (!firmware.empty()) text += ", FW: " + firmware;
    text += ", address: " + Text(connection->GetAddress()) + ":" + std::to_string(connection->GetPort()) + ")";
    PostText(kLevelNotice, text);
}

void CIPCaptureDriver::DebugMessage(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    PostText(level, text);
}

void CIPCaptureDriver::PostText(int level, const std::string& text) {
    if (level == kLevelSilent) return;
    int mapped = MapMessageLevel(level, hostVersion_[0], hostVersion_[1]);
    ipcapture::IDebugInfoReceiver* receiver = receiver_;
    if (!receiver) return;
    CDebugInfo info(static_cast<uint8_t>(mapped & 0xFF), text.c_str());
    try {
        receiver->PostDebugInfo(&info);
    } catch (...) {
        // A throwing receiver must not end the thread that reported.
    }
}

StreamParameters CIPCaptureDriver::GetChannelParameters(uint32_t channel) {
    return videoCapture_ ? videoCapture_->ChannelParameters(channel) : StreamParameters{};
}

std::string CIPCaptureDriver::GetParameter(int32_t key) {
    auto it = parameters_.find(key);
    if (it == parameters_.end() || it->second == kNoneText) return {};
    return it->second;
}

int32_t CIPCaptureDriver::GetParameterInt(int32_t key) {
    auto it = parameters_.find(key);
    if (it == parameters_.end()) return INT_MIN;
    const std::string& text = it->second;
    size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (i == text.size()) return INT_MIN;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return INT_MIN;
    // A value outside 32 bits is a failed conversion, not a wrapped number.
    errno = 0;
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return INT_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace velmora

// Mobotix PTZ protocol: rotor packets, click requests, area-zoom geometry and timing, display mode.
#include "PTZ/MobotixPTZComm.h"

#include <algorithm>
#include <cmath>

#include "Web/TextUtils.h"

namespace velmora {

namespace {

constexpr uint8_t kRotorMagic[4] = {0x4D, 0x78, 0x52, 0x00};  // "MxR\0"
constexpr uint32_t kRotorVersion = 1;
constexpr const char* kClickPathFormat = "/control/click.cgi?x=%d&y=%d&mode=%d";
constexpr const char* kZoomRectPath = "/control/click.cgi?zoomrect";
constexpr const char* kUnzoomPath = "/control/click.cgi?zoom=1000";
constexpr const char* kDisplayModeKey = "display_mode";
constexpr const char* kDomeDisplayMode = "lenscorr_l11";

void PutLe32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

CResultDef Failure(int32_t level, int32_t code, std::string message) { return CResultDef(level, code, std::move(message)); }

CResultDef InvalidCommandType(const char* operation, int32_t id) {
    return Failure(1, CResultDef::kInvalidCommand, Utils::FormatString("%s: Invalid command type (ID=%d)", operation, id));
}

// Moves by direction code: rotor code, then the signs of the two values.
struct Motion {
    uint32_t code;
    int first;
    int second;
};
constexpr Motion kMotions[] = {
    {1, -1, 0},   // 0 left
    {1, 1, 0},    // 1 right
    {1, 0, 1},    // 2 up
    {1, 0, -1},   // 3 down
    {1, -1, 1},   // 4 left up
    {1, 1, 1},    // 5 right up
    {1, -1, -1},  // 6 left down
    {1, 1, -1},   // 7 right down
    {3, 1, 0},    // 8 zoom in
    {3, -1, 0},   // 9 zoom out
};

int64_t Clamp(int64_t value, int64_t high) { return std::clamp<int64_t>(value, 0, high); }

}  // namespace

CMobotixPTZComm::CMobotixPTZComm(const CPtzCapabilities& capabilities, IDriver* driver, uint16_t channel)
    : CBasePTZComm(capabilities, driver, channel),
      client_(driver->GetDeviceInfo(), kHttpAgent),
      speedConverter_(1, 16, kMinRotorSpeed, kMaxRotorSpeed) {}

CMobotixPTZComm::~CMobotixPTZComm() {
    // The worker uses client_: it has to end before this part goes.
    Close();
}

bool CMobotixPTZComm::Open() {
    closing_.Reset();
    return CBasePTZComm::Open();
}

bool CMobotixPTZComm::Close() {
    closing_.Set();
    return CBasePTZComm::Close();
}

bool CMobotixPTZComm::Pause(uint32_t milliseconds) { return !closing_.Wait(milliseconds); }

std::array<uint8_t, CMobotixPTZComm::kRotorPacketSize> CMobotixPTZComm::BuildRotorPacket(uint32_t code, int32_t first,
                                                                                         int32_t second) {
    std::array<uint8_t, kRotorPacketSize> packet{};
    std::copy(std::begin(kRotorMagic), std::end(kRotorMagic), packet.begin());
    PutLe32(&packet[4], kRotorVersion);
    PutLe32(&packet[8], code);
    PutLe32(&packet[12], static_cast<uint32_t>(first));
    PutLe32(&packet[16], static_cast<uint32_t>(second));
    PutLe32(&packet[20], 0);
    return packet;
}

std::string CMobotixPTZComm::CameraText() {
    return Utils::FormatString("camera %s:%u", client_.Host().c_str(), static_cast<unsigned>(client_.Port()));
}

void CMobotixPTZComm::HandleWorkItem(IWorkItem* item) {
    auto* command = dynamic_cast<CWorkItem*>(item);
    if (!command) return;
    CResultDef result;
    switch (command->commandId) {
        case MoveCommand:
            result = ProcessMoveCommand(*command);
            break;
        case StopCommand:
            result = ProcessStopCommand(*command);
            break;
        case AreaZoomCommand:
            result = ProcessAreaZoomCommand(*command);
            break;
        case CenterCommand:
            result = ProcessCenterCommand(*command);
            break;
        case UnzoomCommand:
            result = ProcessUnzoomCommand(*command);
            break;
        default:  // focus and iris included: the rotor interface has no such motion
            result = Failure(1, CResultDef::kInvalidCommand,
                             Utils::FormatString("%s: unexpected command ID=%u", "velmora::CMobotixPTZComm::HandleWorkItem",
                                                 static_cast<unsigned>(command->commandId)));
            break;
    }
    ReportFailure(result);
}

CResultDef CMobotixPTZComm::ProcessMobotixPtzCommand(uint32_t code, int32_t first, int32_t second) {
    const auto packet = BuildRotorPacket(code, first, second);
    const std::vector<uint8_t> bytes(packet.begin(), packet.end());
    CFastMutexGuard guard(clientLock_);
    if (client_.IsBodyOpen() && client_.WriteData(bytes)) return CResultDef();
    // No open body, or the write failed and closed it: this packet opens a new POST.
    if (client_.SendRequestEx("POST", kRotorPath, {kRotorAcceptHeader}, bytes, kRotorDeclaredLength,
                              kRotorRequestOptions)) {
        return CResultDef();
    }
    return Failure(4, CResultDef::kRequestRejected,
                   Utils::FormatString("%s: can not send request \"%s\" to %s. Probably camera is offline.",
                                       "velmora::CMobotixPTZComm::ProcessMobotixPtzCommand", kRotorPath,
                                       CameraText().c_str()));
}

CResultDef CMobotixPTZComm::ProcessMoveCommand(const CWorkItem& item) {
    if (item.commandId != MoveCommand) return InvalidCommandType("velmora::CMobotixPTZComm::ProcessMoveCommand", item.commandId);
    const int32_t s = static_cast<int32_t>(RotorSpeed(item.speed));
    if (item.directionOrX < 0 || item.directionOrX >= static_cast<int32_t>(std::size(kMotions))) {
        return ProcessMobotixPtzCommand(kRotorPanTilt, 0, 0);  // unknown direction: stop pan and tilt
    }
    const Motion& motion = kMotions[item.directionOrX];
    return ProcessMobotixPtzCommand(motion.code, motion.first * s, motion.second * s);
}

CResultDef CMobotixPTZComm::ProcessStopCommand(const CWorkItem& item) {
    if (item.commandId != StopCommand) return InvalidCommandType("velmora::CMobotixPTZComm::ProcessStopCommand", item.commandId);
    switch (item.subCommand) {
        case kStopMoving:
            return ProcessMobotixPtzCommand(kRotorPanTilt, 0, 0);
        case kStopZooming:
            return ProcessMobotixPtzCommand(kRotorZoom, 0, 0);
        default:
            return ProcessMobotixPtzCommand(kRotorStop, 0, 0);
    }
}

CResultDef CMobotixPTZComm::ProcessAreaZoomCommand(const CWorkItem& item) {
    constexpr const char* kName = "velmora::CMobotixPTZComm::ProcessAreaZoomCommand";
    if (item.commandId != AreaZoomCommand) return InvalidCommandType(kName, item.commandId);
    const StreamParameters settings = driver_->GetChannelParameters(Channel());
    if (settings.FrameInterval == 0 || settings.Width == 0 || settings.Height == 0) {
        return Failure(1, CResultDef::kInputUnavailable,
                       Utils::FormatString("%s: Cannot receive current settings of channel %u for PTZ camera %s:%u.", kName,
                                           static_cast<unsigned>(Channel()), client_.Host().c_str(),
                                           static_cast<unsigned>(client_.Port())));
    }
    // The half sizes divide by the factor: a factor of 0 (or below) is no valid command.
    if (item.zoomFactor <= 0) {
        return Failure(1, CResultDef::kInvalidCommand,
                       Utils::FormatString("%s: Invalid zoom factor (%d) for area zoom", kName, item.zoomFactor));
    }
    const int64_t width = settings.Width;
    const int64_t height = settings.Height;
    const int64_t halfWidth = static_cast<int64_t>(std::trunc(100.0 * width / item.zoomFactor + 1)) / 2;
    const int64_t halfHeight = static_cast<int64_t>(std::trunc(100.0 * height / item.zoomFactor + 1)) / 2;
    const int64_t x = item.directionOrX;
    const int64_t y = item.y;
    const auto x1 = static_cast<int32_t>(Clamp(x - halfWidth, width - 1));
    const auto x2 = static_cast<int32_t>(Clamp(x + halfWidth, width - 1));
    const auto y1 = static_cast<int32_t>(Clamp(y - halfHeight, height - 1));
    const auto y2 = static_cast<int32_t>(Clamp(y + halfHeight, height - 1));

    CResultDef result = SendClickRequest(x1, y1, 1);
    if (!result.Succeeded()) return result;
    result = SendClickRequest(x2, y2, 0);
    if (!result.Succeeded()) return result;

    // The camera needs about a frame to take the rectangle; large pictures need longer.
    auto wait = static_cast<uint32_t>(std::trunc(settings.FrameInterval * 1.1));
    if (settings.Width / 1000 == 1) wait = std::max(wait, kAreaZoomWaitWidth1000Ms);
    if (settings.Width / 1000 == 2) wait = std::max(wait, kAreaZoomWaitWidth2000Ms);
    if (!Pause(wait)) return Failure(4, CResultDef::kRequestRejected, "");
    result = SendSetHttpRequest(kZoomRectPath);
    if (result.code == CResultDef::kEmptyReply) {
        if (!Pause(wait)) return Failure(4, CResultDef::kRequestRejected, "");
        result = SendSetHttpRequest(kZoomRectPath);
    }
    return result;
}

CResultDef CMobotixPTZComm::ProcessCenterCommand(const CWorkItem& item) {
    if (item.commandId != CenterCommand) return InvalidCommandType("velmora::CMobotixPTZComm::ProcessCenterCommand", item.commandId);
    return SendClickRequest(item.directionOrX, item.y, 0);
}

CResultDef CMobotixPTZComm::ProcessUnzoomCommand(const CWorkItem& item) {
    if (item.commandId != UnzoomCommand) return InvalidCommandType("velmora::CMobotixPTZComm::ProcessUnzoomCommand", item.commandId);
    return SendSetHttpRequest(kUnzoomPath);
}

CResultDef CMobotixPTZComm::SendClickRequest(int32_t x, int32_t y, int32_t mode) {
    return SendSetHttpRequest(Utils::FormatString(kClickPathFormat, x, y, mode));
}

CResultDef CMobotixPTZComm::SendSetHttpRequest(const std::string& path) {
    std::string reply;
    CResultDef result;
    {
        CFastMutexGuard guard(clientLock_);
        result = SendHttpRequest(client_, path, reply);
    }
    if (result.Succeeded() && reply.find("OK") == std::string::npos) {
        return Failure(1, CResultDef::kEmptyReply,
                       Utils::FormatString("%s: Camera %s:%u returns unexpected response for request \"%s\". The "
                                           "response content: %s",
                                           "velmora::CMobotixPTZComm::SendSetHttpRequest", client_.Host().c_str(),
                                           static_cast<unsigned>(client_.Port()), path.c_str(), reply.c_str()));
    }
    return result;
}

CResultDef CMobotixPTZComm::SendHttpRequest(Web::CHttpClient& client, const std::string& path, std::string& reply) {
    constexpr const char* kName = "velmora::CMobotixPTZComm::SendHttpRequest";
    reply.clear();
    const std::string camera =
        Utils::FormatString("camera %s:%u", client.Host().c_str(), static_cast<unsigned>(client.Port()));
    if (!client.SendRequest("GET", path)) {
        return Failure(1, CResultDef::kRequestRejected,
                       Utils::FormatString("%s: can not send request \"%s\" to %s", kName, path.c_str(), camera.c_str()));
    }
    const uint32_t status = client.GetStatusCode();
    if (status != 200) {
        return Failure(1, CResultDef::kRequestRejected,
                       Utils::FormatString("%s: %s does not process request \"%s\", status code = %d", kName,
                                           camera.c_str(), path.c_str(), static_cast<int>(status)));
    }
    std::vector<uint8_t> body;
    client.ReadAll(body);
    reply.assign(body.begin(), body.end());
    return CResultDef();
}

bool CMobotixPTZComm::StorePreposition(uint32_t slot, const std::string&) {
    const CResultDef result = ProcessMobotixPtzCommand(kRotorStorePreset, static_cast<int32_t>(slot + 1), 0);
    ReportFailure(result);
    return result.Succeeded();
}

bool CMobotixPTZComm::RecallPreposition(uint32_t slot, const std::string&, int32_t) {
    const CResultDef result = ProcessMobotixPtzCommand(kRotorRecallPreset, static_cast<int32_t>(slot + 1), 0);
    ReportFailure(result);
    return result.Succeeded();
}

// Only cameras whose picture is the plain lens view (display mode lenscorr_l11) can be steered.
// An unreachable camera counts as able (status 0); any other failure as not able.
bool CMobotixPTZComm::IsDome() {
    if (!CBasePTZComm::IsDome()) return false;
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    Web::CHttpClient client(device, kHttpAgent);
    std::string reply;
    const CResultDef result = SendHttpRequest(client, kDisplayModePath, reply);
    if (!result.Succeeded()) return client.GetStatusCode() == 0;
    const std::string mode = Utils::FindKeyValue(kDisplayModeKey, "=", Utils::ToLower(reply), "\r\n");
    if (mode.find(kDomeDisplayMode) != std::string::npos) return true;
    DebugMessage(3,
                 "%s: Camera works in mode which doesn't allow Dome control. Please set \"Normal\" display mode using "
                 "following Web-page: http://%s:%u/control/general",
                 "velmora::CMobotixPTZComm::IsDome", client.Host().c_str(), static_cast<unsigned>(client.Port()));
    return false;
}

}  // namespace velmora

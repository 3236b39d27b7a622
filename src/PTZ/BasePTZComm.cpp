// Camera-independent PTZ command engine: capability gates, posting with a bound, failure throttle.
#include "PTZ/BasePTZComm.h"

#include <cstdarg>

#include "Web/ShouldReport.h"
#include "Web/TextUtils.h"

namespace velmora {

CBasePTZComm::CBasePTZComm(const CPtzCapabilities& capabilities, IDriver* driver, uint16_t channel)
    : driver_(driver), channel_(channel), capabilities_(capabilities) {}

CBasePTZComm::~CBasePTZComm() { CBasePTZComm::Close(); }

bool CBasePTZComm::Open() {
    if (open_) return true;
    open_ = Start(Utils::FormatString(kThreadNameFormat, static_cast<unsigned>(channel_) + 1));
    if (!open_) {
        driver_->DebugMessage(1, "%s: unable to start thread for PTZ channel %u", "velmora::CBasePTZComm::Open",
                              static_cast<unsigned>(channel_) + 1);
    }
    return open_;
}

bool CBasePTZComm::Close() {
    if (!open_) return false;
    const bool stopped = Stop();
    open_ = false;
    return stopped;
}

bool CBasePTZComm::IsDome() {
    return capabilities_.pan || capabilities_.tilt || capabilities_.zoom || capabilities_.focus || capabilities_.iris;
}

int32_t CBasePTZComm::GetCapabilities(PTZ_CAPABILITIES* record) {
    {
        CFastMutexGuard guard(failureLock_);
        failureCounter_ = 0;
    }
    if (!record) return 1;
    record->pan = capabilities_.pan ? 1 : 0;
    record->tilt = capabilities_.tilt ? 1 : 0;
    record->zoom = capabilities_.zoom ? 1 : 0;
    record->focus = capabilities_.focus ? 1 : 0;
    record->iris = capabilities_.iris ? 1 : 0;
    record->reserved7 = 0;
    record->presetCapacity = 0;
    record->presetCount = 0;
    record->reserved10 = 0;
    record->reserved11 = 0;
    record->presetCapacity = static_cast<int32_t>(capabilities_.presetCount);
    record->areaZoom = capabilities_.areaZoom ? 1 : 0;
    record->center = capabilities_.center ? 1 : 0;
    record->unzoom = capabilities_.unzoom ? 1 : 0;
    return 1;
}

int32_t CBasePTZComm::PostCommand(const char* operation, CWorkItem* item) {
    const int32_t commandId = item->commandId;
    // Post owns the item from here on, also when it refuses it.
    if (Post(item, kMaxPendingCommands)) return kQueued;
    driver_->DebugMessage(1, "%s: cannot send message (%d) to thread", operation, commandId);
    return kPostFailed;
}

int32_t CBasePTZComm::StartMove(IIPParams* parameters, int32_t direction, int32_t speed) {
    if (!capabilities_.pan && !capabilities_.tilt) return kNotCapable;
    return PostCommand("velmora::CBasePTZComm::StartMove",
                       new CWorkItem(MoveCommand, 0, parameters, speed, direction));
}

int32_t CBasePTZComm::StartFocus(IIPParams* parameters, bool forward, int32_t speed) {
    if (!capabilities_.focus) return kNotCapable;
    return PostCommand("velmora::CBasePTZComm::StartFocus",
                       new CWorkItem(FocusCommand, forward ? kFocusForward : kFocusBackward, parameters, speed));
}

int32_t CBasePTZComm::StartIris(IIPParams* parameters, bool open, int32_t speed) {
    if (!capabilities_.iris) return kNotCapable;
    return PostCommand("velmora::CBasePTZComm::StartIris",
                       new CWorkItem(IrisCommand, open ? kIrisOpen : kIrisClose, parameters, speed));
}

int32_t CBasePTZComm::AreaZoom(IIPParams* parameters, int32_t x, int32_t y, int32_t zoomFactor, int32_t speed) {
    if (!capabilities_.areaZoom) return kNotCapable;
    return PostCommand("velmora::CBasePTZComm::AreaZoom",
                       new CWorkItem(AreaZoomCommand, 0, parameters, speed, x, y, zoomFactor));
}

int32_t CBasePTZComm::Center(IIPParams* parameters, int32_t x, int32_t y, int32_t speed) {
    if (!capabilities_.center) return kNotCapable;
    return PostCommand("velmora::CBasePTZComm::Center", new CWorkItem(CenterCommand, 0, parameters, speed, x, y));
}

int32_t CBasePTZComm::Unzoom(IIPParams* parameters, int32_t speed) {
    if (!capabilities_.unzoom) return kNotCapable;
    return PostCommand("velmora::CBasePTZComm::Unzoom", new CWorkItem(UnzoomCommand, 0, parameters, speed));
}

bool CBasePTZComm::StopMoving(IIPParams* parameters) {
    return PostCommand("velmora::CBasePTZComm::StopMoving", new CWorkItem(StopCommand, kStopMoving, parameters, 0)) ==
           kQueued;
}

bool CBasePTZComm::StopZooming(IIPParams* parameters) {
    return PostCommand("velmora::CBasePTZComm::StopZooming",
                       new CWorkItem(StopCommand, kStopZooming, parameters, 0)) == kQueued;
}

bool CBasePTZComm::StopFocusing(IIPParams* parameters) {
    return PostCommand("velmora::CBasePTZComm::StopFocusing",
                       new CWorkItem(StopCommand, kStopFocusing, parameters, 0)) == kQueued;
}

bool CBasePTZComm::StopIrisChanging(IIPParams* parameters) {
    return PostCommand("velmora::CBasePTZComm::StopIrisChanging",
                       new CWorkItem(StopCommand, kStopIrisChanging, parameters, 0)) == kQueued;
}

bool CBasePTZComm::ErasePreposition(uint32_t, const std::string&) { return true; }

void CBasePTZComm::DebugMessage(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = Utils::FormatStringV(format, args);
    va_end(args);
    driver_->DebugMessage(level, "%s", text.c_str());
}

uint32_t CBasePTZComm::FailureCounter() {
    CFastMutexGuard guard(failureLock_);
    return failureCounter_;
}

void CBasePTZComm::ReportFailure(const CResultDef& result) {
    if (result.code == CResultDef::kSuccess) return;
    bool report;
    {
        CFastMutexGuard guard(failureLock_);
        report = ShouldReport(failureCounter_);
    }
    // The message may hold a camera's reply: never a template.
    if (report && !result.message.empty() && result.level != 4) {
        driver_->DebugMessage(result.level, "%s", result.message.c_str());
    }
}

}  // namespace velmora

// The camera-specific property probe and the writer of its host parameters.
#include "Properties/MobotixCameraProperties.h"

#include "Properties/ProbeReplies.h"
#include "Web/CameraRequest.h"
#include "platform/System.h"

namespace velmora {

namespace {

constexpr const char* kHostCoreModule = "ombrel.dll";
constexpr const char* kEmptyParameterValue = "(none)";
constexpr int32_t kParameterKind = 0;
constexpr uint32_t kPresetCountOfPtzCamera = 256;

}  // namespace

CMobotixCameraProperties::CMobotixCameraProperties(const DEVICE_INFO& device, int32_t videoStandard)
    : CCameraPropertiesEx(device, videoStandard), httpClient_(device_, kHttpAgent) {}

CMobotixCameraProperties::~CMobotixCameraProperties() = default;

bool CMobotixCameraProperties::Query(const char* path, std::string& text) {
    std::vector<uint8_t> body;
    const CResultDef outcome = Utils::SendRequestWrapper(path, body, httpClient_);
    // The wrapper's message is dropped: a probe reports only through its error code.
    if (outcome.code != 0) return false;
    text = probe::ReplyText(body);
    return true;
}

bool CMobotixCameraProperties::ProbeBasicInfo() {
    std::string reply;
    if (!Query(probe::kBasicInfoPath, reply) || reply.empty()) return false;
    const probe::BasicInfo info = probe::ReadBasicInfo(reply);
    if (info.typeName.empty()) return false;
    manufacturer = probe::kManufacturer;
    modelName = std::string(probe::kManufacturer) + " " + info.typeName;
    hasAudio = info.hasAudio;
    if (info.hasInputCount) signalInputCount = info.inputCount;
    if (info.hasOutputCount) signalOutputCount = info.outputCount;
    firmwareVersion_ = info.firmware;
    return true;
}

bool CMobotixCameraProperties::ProbeImageControl() {
    std::string reply;
    if (!Query(probe::kImageControlPath, reply) || reply.empty()) return false;
    return probe::ReadImageControl(reply, frameRates_, resolutions);
}

bool CMobotixCameraProperties::ProbeVersionPage() {
    presetFileName_.clear();
    std::string page;
    if (Query(probe::kVersionPath, page) && !page.empty()) presetFileName_ = probe::PresetFileNameFromVersionPage(page);
    return CameraAnswered();
}

bool CMobotixCameraProperties::ProbeRotorHelp() {
    ptzCapabilities_.Clear();
    std::string help;
    if (Query(probe::kRotorHelpPath, help) && probe::RotorHelpOffersPtz(help)) {
        ptzCapabilities_.pan = ptzCapabilities_.tilt = ptzCapabilities_.zoom = true;
        ptzCapabilities_.areaZoom = ptzCapabilities_.center = ptzCapabilities_.unzoom = true;
        ptzCapabilities_.presetCount = kPresetCountOfPtzCamera;
    }
    const CPtzCapabilities& caps = ptzCapabilities_;
    const bool anyMotion = caps.pan || caps.tilt || caps.zoom || caps.focus || caps.iris;
    // Without a preset file name the host could not keep presets for this camera.
    if (anyMotion && !presetFileName_.empty()) hasPtz = true;
    return CameraAnswered();
}

int32_t CMobotixCameraProperties::FailureCode() {
    uint16_t version[4] = {0, 0, 0, 0};
    const bool known = platform::ReadModuleProductVersion(kHostCoreModule, version);
    return probe::ProbeFailureCode(httpClient_.GetStatusCode(), known, version);
}

void CMobotixCameraProperties::Abort() {
    Cancel();
    httpClient_.Abort();
}

bool CMobotixCameraProperties::GetProperties(int32_t* errorCode) {
    // A cancelled probe skips its remaining steps; a skipped step counts as passed.
    bool passed = ProbeBasicInfo();
    if (passed && !IsCancelled()) passed = ProbeImageControl();
    if (passed && !IsCancelled()) passed = ProbeVersionPage();
    if (passed && !IsCancelled()) passed = ProbeRotorHelp();
    if (!passed) {
        if (errorCode) *errorCode = FailureCode();
        return false;
    }
    probeComplete = 1;
    streamFormats.push_back(kFormatMjpeg);
    return !IsCancelled();
}

bool CMobotixCameraProperties::WriteParameter(ipcapture::ICapabilityQueryResult* result, int32_t index,
                                              const char* name, int32_t option, const std::string& value) {
    ipcapture::ICapabilityParameterEntry* entry = result->GetParameterEntry(index);
    if (!entry) return false;
    entry->SetName(name);
    entry->SetKind(kParameterKind);
    entry->SetOption(option);
    entry->SetEntryValue(value.empty() ? kEmptyParameterValue : value.c_str());
    return true;
}

bool CMobotixCameraProperties::SaveResults(ipcapture::ICapabilityQueryResult* result) {
    if (!result) return false;
    ipcapture::ICapabilityIntervalList* intervals = result->GetFrameIntervalList(kFormatMjpeg);
    if (!intervals) return false;
    for (int32_t rate : frameRates_) {
        if (rate > 0) intervals->AddInterval(probe::RateToInterval(rate));
    }
    if (!CCameraPropertiesEx::SaveResults(result)) return false;
    return WriteParameter(result, 1, "Video standard", 0, videoStandard_ != 0 ? "1" : "0") &&
           WriteParameter(result, 2, "Name of XML Preposition Storage", 1, presetFileName_) &&
           WriteParameter(result, 3, "PTZ Capabilities", 1, ptzCapabilities_.ToText()) &&
           WriteParameter(result, 4, "Firmware version", 1, firmwareVersion_);
}

}  // namespace velmora

// Writing a probed properties record to the host's result object.
#include "Properties/CameraPropertiesEx.h"

#include <string>

namespace velmora {

namespace {

// Capability ids as the host's result object knows them.
enum CapabilityId : int32_t {
    kCapProbeComplete = 0,
    kCapPtz = 1,
    kCapInputs = 2,
    kCapOutputs = 3,
    kCapAudio = 4,
    kCapFlag5 = 5,
    kCapFormat4 = 6,
    kCapMjpegOrMxpeg = 7,
    kCapFormat16 = 8,
    kCapFlag11 = 11,
    kCapFlag12 = 12,
};

constexpr int32_t kFirstConnectionField = 1;  // address, port, user name, password

}  // namespace

CCameraPropertiesEx::CCameraPropertiesEx(const DEVICE_INFO& device, int32_t videoStandard)
    : device_(device), videoStandard_(videoStandard) {}

bool CCameraPropertiesEx::SaveResults(ipcapture::ICapabilityQueryResult* result) {
    if (!result) return false;
    result->SetModelName(modelName.c_str());
    result->SetCapability(kCapProbeComplete, probeComplete);
    if (signalInputCount != 0) result->SetCapability(kCapInputs, static_cast<int32_t>(signalInputCount));
    if (signalOutputCount != 0) result->SetCapability(kCapOutputs, static_cast<int32_t>(signalOutputCount));
    if (hasAudio) result->SetCapability(kCapAudio, 1);
    if (hasPtz) result->SetCapability(kCapPtz, 1);
    if (capFlag5) result->SetCapability(kCapFlag5, 1);
    result->SetCapability(kCapFlag11, capFlag11 ? 1 : 0);
    result->SetCapability(kCapFlag12, capFlag12 ? 1 : 0);

    for (formatCursor = 0; formatCursor < streamFormats.size(); ++formatCursor) {
        const int32_t code = streamFormats[formatCursor];
        if (code == kFormatEnd) break;
        if (code == kFormatMjpeg || code == kFormatMxpeg) result->SetCapability(kCapMjpegOrMxpeg, 1);
        else if (code == kFormatCode4) result->SetCapability(kCapFormat4, 1);
        else if (code == kFormatCode16) result->SetCapability(kCapFormat16, 1);
    }

    ipcapture::ICapabilityResolutionList* list = result->GetResolutionList();
    if (!list) return false;
    for (resolutionCursor = 0; resolutionCursor < resolutions.size(); ++resolutionCursor) {
        const RESOLUTION_INFO& entry = resolutions[resolutionCursor];
        const std::string name = std::to_string(entry.width) + "x" + std::to_string(entry.height);
        const uint32_t interval = entry.frameIntervals.empty() ? 0 : entry.frameIntervals.front();
        list->AddResolution(name.c_str(), entry.width, entry.height, interval);
    }

    const std::string fields[] = {device_.Address, std::to_string(device_.Port), device_.UserName,
                                  device_.Password};
    for (int32_t i = 0; i < 4; ++i) {
        ipcapture::ICapabilityTextSink* sink = result->GetConnectionField(kFirstConnectionField + i);
        if (!sink) return false;
        sink->SetText(fields[i].c_str());
    }
    return true;
}

}  // namespace velmora

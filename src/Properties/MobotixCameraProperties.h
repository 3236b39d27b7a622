// The camera-specific probe: four HTTP queries (basic information, image control, version page,
// rotor help) that fill the properties record, and the writer of the four host parameters.
// Created, probed, written and destroyed by the capability query; GetProperties and SaveResults
// run on the query thread, Cancel and Abort on any thread.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Properties/CameraPropertiesEx.h"
#include "Properties/PtzCapabilities.h"
#include "Web/HttpClient.h"

namespace velmora {

class CMobotixCameraProperties : public CCameraPropertiesEx {
public:
    CMobotixCameraProperties(const DEVICE_INFO& device, int32_t videoStandard);
    ~CMobotixCameraProperties() override;

    // Failure codes: 1 when the last reply was 401 and the host core module is newer than 5.10,
    // otherwise 3. Later steps do not run after a failed one; what earlier steps found stays.
    bool GetProperties(int32_t* errorCode) override;
    void Abort() override;

    // Frame intervals of format 1, the record, then the four host parameters.
    bool SaveResults(ipcapture::ICapabilityQueryResult* result) override;

    const std::set<int32_t>& FrameRates() const { return frameRates_; }
    const std::string& PresetFileName() const { return presetFileName_; }
    const CPtzCapabilities& PtzCapabilities() const { return ptzCapabilities_; }
    const std::string& FirmwareVersion() const { return firmwareVersion_; }

private:
    // One checked GET: true when answered with status 2xx and a body; text is the body up to
    // its first zero byte.
    bool Query(const char* path, std::string& text);
    bool ProbeBasicInfo();
    bool ProbeImageControl();
    bool ProbeVersionPage();
    bool ProbeRotorHelp();
    bool CameraAnswered() { return httpClient_.GetStatusCode() != 0; }
    int32_t FailureCode();
    static bool WriteParameter(ipcapture::ICapabilityQueryResult* result, int32_t index, const char* name,
                               int32_t option, const std::string& value);

    Web::CHttpClient httpClient_;
    std::set<int32_t> frameRates_;  // whole frames per second, ascending
    std::string presetFileName_;
    CPtzCapabilities ptzCapabilities_;
    std::string firmwareVersion_;
};

}  // namespace velmora

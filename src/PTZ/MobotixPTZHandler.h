// CMobotixPTZHandler: the PTZ driver object of the Mobotix driver. The driver creates it with its
// inner interface and channel count and deletes it through the virtual destructor at close.
#pragma once
#include <cstdint>
#include <string>

#include "PTZ/BasePTZHandler.h"

namespace velmora {

class CMobotixPTZHandler : public CBasePTZHandler {
public:
    static constexpr const char* kVendorName = "Mobotix";
    static constexpr int32_t kPresetFileParameter = 2;

    CMobotixPTZHandler(IDriver* driver, uint32_t channelCount);
    ~CMobotixPTZHandler() override;
    // Host parameter 2; when empty, says so at level 1 and returns the empty name.
    std::string GetXMLStorageFileName() override;
    // A CMobotixPTZControl, not yet opened.
    CBasePTZControl* CreatePTZControl(uint32_t channel) override;
};

}  // namespace velmora

// Mobotix PTZ handler: vendor name, preset file name and control factory.
#include "PTZ/MobotixPTZHandler.h"

#include "PTZ/MobotixPTZControl.h"

namespace velmora {

CMobotixPTZHandler::CMobotixPTZHandler(IDriver* driver, uint32_t channelCount)
    : CBasePTZHandler(driver, channelCount, kVendorName) {}

CMobotixPTZHandler::~CMobotixPTZHandler() { DeleteControls(); }

std::string CMobotixPTZHandler::GetXMLStorageFileName() {
    std::string name = driver_->GetParameter(kPresetFileParameter);
    if (name.empty()) {
        driver_->DebugMessage(1, "%s: operation failed. Preposition file name was not specified!",
                              "velmora::CMobotixPTZHandler::GetXMLStorageFileName");
    }
    return name;
}

CBasePTZControl* CMobotixPTZHandler::CreatePTZControl(uint32_t channel) {
    return new CMobotixPTZControl(driver_, static_cast<int32_t>(channel));
}

}  // namespace velmora

// Mobotix PTZ control: the command-object factory.
#include "PTZ/MobotixPTZControl.h"

#include "PTZ/MobotixPTZComm.h"
#include "PTZ/PtzCapabilityText.h"

namespace velmora {

CMobotixPTZControl::~CMobotixPTZControl() { Close(); }

CBasePTZComm* CMobotixPTZControl::CreateComm() {
    const CPtzCapabilities capabilities = ParsePtzCapabilities(driver_->GetParameter(kCapabilityParameter));
    return new CMobotixPTZComm(capabilities, driver_, static_cast<uint16_t>(channel_));
}

}  // namespace velmora

// CMobotixPTZControl: the PTZ API object of a Mobotix channel; its command object is a
// CMobotixPTZComm built from the host's PTZ capability text (host parameter 3).
#pragma once
#include "PTZ/BasePTZControl.h"

namespace velmora {

class CMobotixPTZControl : public CBasePTZControl {
public:
    static constexpr int32_t kCapabilityParameter = 3;

    CMobotixPTZControl(IDriver* driver, int32_t channel) : CBasePTZControl(driver, channel) {}
    ~CMobotixPTZControl() override;
    CBasePTZComm* CreateComm() override;
};

}  // namespace velmora

// PTZ handler of the driver (being built: hands out no PTZ API yet).
#pragma once
#include <cstdint>

#include "Driver/IDriver.h"
#include "quillon/PTZ.h"

namespace velmora {

class CMobotixPTZHandler : public IIPPTZDriverEx {
public:
    CMobotixPTZHandler(IDriver* driver, uint32_t channelCount) : driver_(driver), channelCount_(channelCount) {}
    IIPPTZApiEx* GetPTZApiEx(uint32_t) override { return nullptr; }

private:
    IDriver* driver_;
    uint32_t channelCount_;
};

}  // namespace velmora

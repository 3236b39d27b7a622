// CScaleConverter: clamps a number into an input range and maps it linearly onto an output range.
#pragma once
#include <cstdint>

namespace velmora {

// Pure value type; safe from any thread once built.
class CScaleConverter {
public:
    CScaleConverter(uint32_t inputMin, uint32_t inputMax, uint32_t outputMin, uint32_t outputMax)
        : inputMin_(inputMin), inputMax_(inputMax), outputMin_(outputMin), outputMax_(outputMax) {}

    // outputMin + trunc((outputMax - outputMin) * (clamped - inputMin) / (inputMax - inputMin) + 0.5);
    // the midpoint of the output range when either range is empty.
    uint32_t Convert(uint32_t value) const;

private:
    uint32_t inputMin_;
    uint32_t inputMax_;
    uint32_t outputMin_;
    uint32_t outputMax_;
};

}  // namespace velmora

// Linear range mapping with clamping.
#include "PTZ/ScaleConverter.h"

#include <algorithm>

namespace velmora {

uint32_t CScaleConverter::Convert(uint32_t value) const {
    if (inputMax_ <= inputMin_ || outputMax_ <= outputMin_) {
        return static_cast<uint32_t>((static_cast<uint64_t>(outputMin_) + outputMax_) / 2);
    }
    const uint32_t clamped = std::clamp(value, inputMin_, inputMax_);
    const double scaled = static_cast<double>(outputMax_ - outputMin_) * (clamped - inputMin_) /
                              static_cast<double>(inputMax_ - inputMin_) +
                          0.5;
    return outputMin_ + static_cast<uint32_t>(scaled);
}

}  // namespace velmora

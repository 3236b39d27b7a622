// Reading the PTZ capability text ("Pan=1; Tilt=1; ...; Preset=256") back into a record.
#pragma once
#include <string>

#include "Properties/PtzCapabilities.h"

namespace velmora {

// Each flag is true exactly when its value is the single character 1; Preset is read as atoi reads
// it (0 when empty or not a number). Absent keys give false and 0. Items are split at ';', blank,
// tab, CR and LF, so "Pan = 1" is not a Pan item.
CPtzCapabilities ParsePtzCapabilities(const std::string& text);

}  // namespace velmora

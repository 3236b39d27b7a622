// PTZ capability text parser.
#include "PTZ/PtzCapabilityText.h"

#include <cstdint>

#include "Web/TextUtils.h"

namespace velmora {

namespace {

constexpr const char* kSeparator = "=";
constexpr const char* kDelimiters = "; \t\r\n";

bool Flag(const std::string& text, const char* key) {
    return Utils::FindKeyValue(key, kSeparator, text, kDelimiters) == "1";
}

// atoi's reading: blanks, an optional sign, decimal digits; 32-bit wrap-around instead of the
// undefined overflow.
uint32_t LeadingNumber(const std::string& value) {
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    uint32_t number = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) number = number * 10u + uint32_t(value[i] - '0');
    return negative ? 0u - number : number;
}

}  // namespace

CPtzCapabilities ParsePtzCapabilities(const std::string& text) {
    CPtzCapabilities capabilities;
    capabilities.pan = Flag(text, "Pan");
    capabilities.tilt = Flag(text, "Tilt");
    capabilities.zoom = Flag(text, "Zoom");
    capabilities.focus = Flag(text, "Focus");
    capabilities.iris = Flag(text, "Iris");
    capabilities.areaZoom = Flag(text, "AreaZoom");
    capabilities.center = Flag(text, "Center");
    capabilities.unzoom = Flag(text, "Unzoom");
    capabilities.presetCount = LeadingNumber(Utils::FindKeyValue("Preset", kSeparator, text, kDelimiters));
    return capabilities;
}

}  // namespace velmora

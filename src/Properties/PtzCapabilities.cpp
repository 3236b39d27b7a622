// Text form of the PTZ ability record.
#include "Properties/PtzCapabilities.h"

namespace velmora {

void CPtzCapabilities::Clear() {
    pan = tilt = zoom = focus = iris = areaZoom = center = unzoom = false;
    presetCount = 0;
}

std::string CPtzCapabilities::ToText() const {
    auto flag = [](bool value) { return value ? "1" : "0"; };
    std::string text;
    text.reserve(96);
    text += "Pan=";
    text += flag(pan);
    text += "; Tilt=";
    text += flag(tilt);
    text += "; Zoom=";
    text += flag(zoom);
    text += "; Focus=";
    text += flag(focus);
    text += "; Iris=";
    text += flag(iris);
    // The derived abilities are only offered with the motion they act on.
    text += "; Center=";
    text += flag(center && (pan || tilt));
    text += "; Unzoom=";
    text += flag(unzoom && zoom);
    text += "; AreaZoom=";
    text += flag(areaZoom && zoom);
    text += "; Preset=";
    text += std::to_string(presetCount);
    return text;
}

}  // namespace velmora

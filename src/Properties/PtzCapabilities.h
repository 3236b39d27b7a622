// The PTZ ability record of a camera and its one-line text form ("Pan=1; Tilt=1; ...; Preset=256"),
// which the property probe writes as a host parameter and the PTZ control reads back.
#pragma once
#include <cstdint>
#include <string>

namespace velmora {

class CPtzCapabilities {
public:
    virtual ~CPtzCapabilities() = default;

    // Back to all false / 0.
    void Clear();

    // The nine items Pan, Tilt, Zoom, Focus, Iris, Center, Unzoom, AreaZoom, Preset, separated by
    // "; ". Center needs pan or tilt, Unzoom and AreaZoom need zoom, else they are written as 0.
    std::string ToText() const;

    bool pan = false;
    bool tilt = false;
    bool zoom = false;
    bool focus = false;
    bool iris = false;
    bool areaZoom = false;
    bool center = false;
    bool unzoom = false;
    uint32_t presetCount = 0;
};

}  // namespace velmora

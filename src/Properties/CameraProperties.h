// What a camera probe found: the plain properties record and its picture-size entries.
// Filled by the probe on the capability-query thread and read back when the results are written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// One picture size and the frame intervals offered for it.
struct RESOLUTION_INFO {
    std::vector<uint32_t> frameIntervals;  // ms
    uint32_t intervalCursor = 0;
    uint16_t width = 0;
    uint16_t height = 0;
};

// Stream format codes kept in CCameraProperties::streamFormats.
enum StreamFormatCode : int32_t { kFormatEnd = 0, kFormatMjpeg = 1, kFormatMxpeg = 2, kFormatCode4 = 4, kFormatCode16 = 16 };

class CCameraProperties {
public:
    std::vector<int32_t> streamFormats;
    std::vector<RESOLUTION_INFO> resolutions;  // order found, no repeated width x height
    std::string manufacturer;
    std::string modelName;
    int32_t probeComplete = 0;  // 1 once every probe step passed
    uint32_t signalInputCount = 0;
    uint32_t signalOutputCount = 0;
    uint32_t formatCursor = 0;
    uint32_t resolutionCursor = 0;
    bool hasAudio = false;
    bool hasPtz = false;
    bool capFlag5 = false;
    bool capFlag11 = false;
    bool capFlag12 = false;
};

}  // namespace velmora

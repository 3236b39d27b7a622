// Fuzz target for the PTZ capability text: any text parses, and the record's own text form of the
// result reads back as that record (with the writer's combinations applied).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "PTZ/PtzCapabilityText.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const velmora::CPtzCapabilities parsed = velmora::ParsePtzCapabilities(text);
    // A flag is only ever set by a "1" somewhere in the text.
    if (text.find('1') == std::string::npos) {
        Check(!parsed.pan && !parsed.tilt && !parsed.zoom && !parsed.focus && !parsed.iris && !parsed.areaZoom &&
              !parsed.center && !parsed.unzoom);
    }
    const velmora::CPtzCapabilities back = velmora::ParsePtzCapabilities(parsed.ToText());
    Check(back.pan == parsed.pan && back.tilt == parsed.tilt && back.zoom == parsed.zoom &&
          back.focus == parsed.focus && back.iris == parsed.iris);
    Check(back.center == (parsed.center && (parsed.pan || parsed.tilt)));
    Check(back.unzoom == (parsed.unzoom && parsed.zoom));
    Check(back.areaZoom == (parsed.areaZoom && parsed.zoom));
    Check(back.presetCount == parsed.presetCount);
    return 0;
}

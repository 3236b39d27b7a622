// libFuzzer target for the sensor block of the camera I/O: any text as the block read from a
// picture. One state per input, each absent, low or high; an input is only found by its name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "IO/MobotixDigitalIO.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint32_t inputs = data[0] % 27;  // beyond 26 the letter names run out
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<int32_t> states = velmora::CMobotixDigitalIO::ParseSensorSection(text, inputs);
    Check(states.size() == inputs);
    const bool anyName = text.find("IN") != std::string::npos || text.find("SI") != std::string::npos;
    const bool anyEquals = text.find('=') != std::string::npos;
    for (int32_t state : states) {
        Check(state >= 0 && state <= 2);
        if (state != 0) Check(anyName && anyEquals);
    }
    // Low needs a "1" value somewhere.
    for (int32_t state : states)
        if (state == 1) Check(text.find("=1") != std::string::npos);
    return 0;
}

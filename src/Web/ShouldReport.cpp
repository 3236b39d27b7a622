// Failure throttle.
#include "Web/ShouldReport.h"

namespace velmora {

bool ShouldReport(uint32_t& failureCounter) {
    ++failureCounter;
    const uint32_t n = failureCounter;
    if (n >= 65535) {
        failureCounter = 4095;
        return false;
    }
    if (n < 15) return true;
    if (n < 255) return n % 16 == 0;
    if (n < 4095) return n % 256 == 0;
    return n % 4096 == 0;
}

}  // namespace velmora

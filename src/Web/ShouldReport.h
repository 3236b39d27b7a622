// Failure throttle: decides which of a run of repeated failures is written to the log.
#pragma once
#include <cstdint>

namespace velmora {

// Increments the counter; reports failures 1-14, then every 16th below 255, every 256th below
// 4095 and every 4096th below 65535, where the counter falls back to 4095 without a report.
bool ShouldReport(uint32_t& failureCounter);

}  // namespace velmora

// Pieces shared by the subcommands that stream (record, soak, load): option parsing and figures.
#pragma once
#include <cstdint>
#include <string>

#include "host/Commands.h"

namespace quillon::host {

// "640x480" into width and height; false when malformed or out of range.
bool ParseSize(const std::string& text, uint16_t* width, uint16_t* height);

// The run's length from --minutes (fractions allowed) or --seconds; fallback when neither is given.
// False with a message when malformed, not positive or longer than a day.
bool RunDurationMs(const Options& options, uint64_t fallbackMs, uint64_t* durationMs, std::string* error);

// A non-negative decimal option; false with a message when malformed.
bool NumberOption(const Options& options, const std::string& name, double fallback, double* value, std::string* error);

// Bytes as mebibytes with one decimal, e.g. "41.3 MiB".
std::string MiB(uint64_t bytes);

}  // namespace quillon::host

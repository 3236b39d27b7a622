// Option parsing and figures for soak and load.
#include "host/LongRun.h"

#include <cstdio>
#include <cstdlib>

namespace quillon::host {

namespace {
constexpr double kMaxRunSeconds = 24 * 3600;
}

bool ParseSize(const std::string& text, uint16_t* width, uint16_t* height) {
    unsigned w = 0, h = 0;
    char x = 0;
    if (std::sscanf(text.c_str(), "%u%c%u", &w, &x, &h) != 3 || (x != 'x' && x != 'X') || w == 0 || h == 0 ||
        w > 65535 || h > 65535)
        return false;
    *width = static_cast<uint16_t>(w);
    *height = static_cast<uint16_t>(h);
    return true;
}

bool NumberOption(const Options& options, const std::string& name, double fallback, double* value, std::string* error) {
    *value = fallback;
    if (!options.Has(name)) return true;
    const std::string text = options.Get(name);
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end != 0 || !(parsed >= 0)) {
        if (error) *error = "--" + name + " takes a number, not '" + text + "'";
        return false;
    }
    *value = parsed;
    return true;
}

bool RunDurationMs(const Options& options, uint64_t fallbackMs, uint64_t* durationMs, std::string* error) {
    double seconds = static_cast<double>(fallbackMs) / 1000.0;
    if (options.Has("minutes")) {
        double minutes = 0;
        if (!NumberOption(options, "minutes", 0, &minutes, error)) return false;
        seconds = minutes * 60;
    } else if (!NumberOption(options, "seconds", seconds, &seconds, error)) {
        return false;
    }
    if (!(seconds > 0) || seconds > kMaxRunSeconds) {
        if (error) *error = "the run must last more than 0 s and at most a day";
        return false;
    }
    *durationMs = static_cast<uint64_t>(seconds * 1000.0 + 0.5);
    return true;
}

std::string MiB(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace quillon::host

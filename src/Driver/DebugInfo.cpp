// Message records, level mapping and exact-length formatting.
#include "Driver/DebugInfo.h"

#include <cstring>

#include "Driver/IDriver.h"
#include "Web/TextUtils.h"

namespace velmora {

CDebugInfo::CDebugInfo(uint8_t level, const char* text) : level_(level), text_(nullptr) {
    if (text && *text) {
        size_t n = std::strlen(text);
        text_ = new char[n + 1];
        std::memcpy(text_, text, n + 1);
    }
}

CDebugInfo::~CDebugInfo() { delete[] text_; }

int MapMessageLevel(int level, uint16_t hostMajor, uint16_t hostMinor) {
    const uint32_t version = uint32_t(hostMajor) << 16 | hostMinor;
    const uint32_t v5_12 = 5u << 16 | 12u;
    const uint32_t v6_3 = 6u << 16 | 3u;
    switch (level) {
        case kLevelError:
        case kLevelWarning:
            return level;
        case kLevelInfo:
            return version < v5_12 ? kLevelWarning : kLevelInfo;
        case kLevelNotice:
            if (version < v5_12) return kLevelWarning;
            return version < v6_3 ? kLevelInfo : kLevelNotice;
        default:
            return level;
    }
}

std::string FormatV(const char* format, va_list args) { return Utils::FormatStringV(format, args); }

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return text;
}

}  // namespace velmora

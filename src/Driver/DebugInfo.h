// Message records posted to the host and the formatting/level rules of the driver's log path.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>

#include "quillon/Debug.h"

namespace velmora {

class CDebugInfo : public CDebugInfoIf {
public:
    // An empty text is kept as null.
    CDebugInfo(uint8_t level, const char* text);
    ~CDebugInfo() override;
    CDebugInfo(const CDebugInfo&) = delete;
    CDebugInfo& operator=(const CDebugInfo&) = delete;
    uint8_t GetLevel() const override { return level_; }
    const char* GetText() const override { return text_; }

private:
    uint8_t level_;
    char* text_;
};

// Level as the host of the given core version expects it (only major and minor count).
int MapMessageLevel(int level, uint16_t hostMajor, uint16_t hostMinor);

// printf-style formatting into a string of exactly the measured length.
std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace velmora

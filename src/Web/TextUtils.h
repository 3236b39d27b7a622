// Small text functions with which the driver builds request paths and picks values out of the
// camera's plain-text replies. Pure; safe from any thread.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>

namespace velmora::Utils {

// printf-style formatting into a string of exactly the measured length; empty on a format error.
std::string FormatString(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string FormatStringV(const char* format, va_list args);

// Without leading and trailing spaces and tabs.
std::string Trim(const std::string& text);
// Copy of source without any character that occurs in set; an empty set returns source.
std::string RemoveChars(const std::string& set, const std::string& source);
// Value of key in a list of name<separator>value items split by any of delimiters; empty when
// the key is absent or occurs only inside another name. The value is not trimmed.
std::string FindKeyValue(const std::string& key, const std::string& separator, const std::string& reply,
                         const std::string& delimiters);
std::string ToLower(const std::string& text);
std::string ToUpper(const std::string& text);
// Optional sign then decimal digits only; false and 0 otherwise. Values outside 32 bits give
// false as well (the digits alone do not make a number then).
bool ParseInt(const std::string& text, int32_t& value);
// Frames per second for a frame interval in ms: 1 for 0, else (1000.0 / interval + 0.5) truncated.
uint32_t IntervalToFps(uint32_t intervalMs);

}  // namespace velmora::Utils

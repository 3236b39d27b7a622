// Text functions for request paths and camera replies.
#include "Web/TextUtils.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace velmora::Utils {

std::string FormatStringV(const char* format, va_list args) {
    if (!format) return {};
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    // vsnprintf writes the terminating zero too; std::string keeps room for it past size().
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    return text;
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string RemoveChars(const std::string& set, const std::string& source) {
    if (set.empty()) return source;
    std::string out;
    out.reserve(source.size());
    for (char c : source)
        if (set.find(c) == std::string::npos) out.push_back(c);
    return out;
}

std::string FindKeyValue(const std::string& key, const std::string& separator, const std::string& reply,
                         const std::string& delimiters) {
    if (key.empty() || separator.empty() || delimiters.empty()) return {};
    size_t pos = reply.find(key);
    while (pos != std::string::npos) {
        size_t before = reply.find_last_of(delimiters, pos);
        size_t after = reply.find_first_of(delimiters, pos);
        size_t sep = reply.find(separator, pos);
        if (sep != std::string::npos && (after == std::string::npos || sep < after)) {
            size_t nameStart = before == std::string::npos ? 0 : before + 1;
            if (Trim(reply.substr(nameStart, sep - nameStart)) == key) {
                size_t valueStart = sep + separator.size();
                if (valueStart < reply.size()) {
                    size_t valueEnd = after == std::string::npos ? reply.size() : after;
                    return reply.substr(valueStart, valueEnd - valueStart);
                }
            }
        }
        if (after == std::string::npos) break;
        // A key that starts with a delimiter ends its own item where it begins: move on by one.
        pos = reply.find(key, after > pos ? after : pos + 1);
    }
    return {};
}

std::string ToLower(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string ToUpper(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool ParseInt(const std::string& text, int32_t& value) {
    value = 0;
    size_t digits = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (digits >= text.size()) return false;
    for (size_t i = digits; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    // Read with a range check: "%d" on an out-of-range number is undefined.
    errno = 0;
    char* end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return false;
    value = static_cast<int32_t>(n);
    return true;
}

uint32_t IntervalToFps(uint32_t intervalMs) {
    if (intervalMs == 0) return 1;
    return static_cast<uint32_t>(1000.0 / intervalMs + 0.5);
}

}  // namespace velmora::Utils

// Splitting and checking request header lines.
#include "platform/HttpHeaderLines.h"

#include <cstring>

#include "platform/HttpDigest.h"

namespace velmora::platform::http {

bool IsHttpToken(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
        if (!ok) return false;
    }
    return true;
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool SplitRequestHeaderLines(std::string_view lines, std::vector<HeaderLine>* fields) {
    fields->clear();
    while (!lines.empty()) {
        size_t lf = lines.find('\n');
        std::string_view line = lines.substr(0, lf);
        lines = lf == std::string_view::npos ? std::string_view() : lines.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) return false;
        HeaderLine field{line.substr(0, colon), TrimSpaces(line.substr(colon + 1))};
        if (!IsHttpToken(field.name)) return false;
        for (char c : field.value)
            if (c == '\r' || c == '\n' || c == '\0') return false;
        if (EqualsIgnoreCase(field.name, "Content-Length") || EqualsIgnoreCase(field.name, "Transfer-Encoding"))
            return false;
        fields->push_back(field);
    }
    return !fields->empty();
}

}  // namespace velmora::platform::http

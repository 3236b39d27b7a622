// libFuzzer target for the camera text functions: any bytes split into a key, a separator,
// delimiters and a reply. Checks each function's stated promise on the way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Web/TextUtils.h"

namespace Utils = velmora::Utils;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits off the text up to the next NUL byte.
std::string Take(const uint8_t*& data, size_t& size) {
    size_t n = 0;
    while (n < size && data[n] != 0) ++n;
    std::string part(reinterpret_cast<const char*>(data), n);
    const size_t used = n < size ? n + 1 : n;
    data += used;
    size -= used;
    return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string whole(reinterpret_cast<const char*>(data), size);
    const std::string key = Take(data, size);
    const std::string separator = Take(data, size);
    const std::string delimiters = Take(data, size);
    const std::string reply(reinterpret_cast<const char*>(data), size);

    const std::string trimmed = Utils::Trim(whole);
    Check(trimmed.size() <= whole.size());
    Check(trimmed.empty() || (!IsBlank(trimmed.front()) && !IsBlank(trimmed.back())));
    Check(whole.find(trimmed) != std::string::npos);
    Check(Utils::Trim(trimmed) == trimmed);

    const std::string removed = Utils::RemoveChars(delimiters, reply);
    if (delimiters.empty()) {
        Check(removed == reply);
    } else {
        Check(removed.find_first_of(delimiters) == std::string::npos);
        Check(removed.size() <= reply.size());
    }

    const std::string value = Utils::FindKeyValue(key, separator, reply, delimiters);
    Check(value.size() <= reply.size());
    if (!value.empty()) {
        Check(reply.find(value) != std::string::npos);
        Check(reply.find(key) != std::string::npos);
        if (separator.find_first_of(delimiters) == std::string::npos)
            Check(value.find_first_of(delimiters) == std::string::npos);
    }

    const std::string lower = Utils::ToLower(reply);
    const std::string upper = Utils::ToUpper(reply);
    Check(lower.size() == reply.size() && upper.size() == reply.size());
    Check(Utils::ToLower(upper) == lower && Utils::ToUpper(lower) == upper);

    int32_t number = 12345;
    if (Utils::ParseInt(key, number)) {
        Check(!key.empty());
        // A parsed number prints back as the same digits, less a plus sign and leading zeros.
        Check(Utils::ParseInt(std::to_string(number), number));
    } else {
        Check(number == 0);
    }

    uint32_t interval = 0;
    for (size_t i = 0; i < 4 && i < whole.size(); ++i) interval = interval << 8 | static_cast<uint8_t>(whole[i]);
    const uint32_t fps = Utils::IntervalToFps(interval);
    Check(interval == 0 ? fps == 1 : fps <= 1000);

    const std::string formatted = Utils::FormatString("%s=%d", key.c_str(), static_cast<int>(size));
    Check(formatted.compare(0, key.size(), key) == 0);
    return 0;
}

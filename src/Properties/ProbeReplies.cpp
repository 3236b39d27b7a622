// Readers of the property probe's camera replies.
#include "Properties/ProbeReplies.h"

#include <cctype>
#include <cstring>

#include "Web/TextUtils.h"

namespace velmora::probe {

namespace {

constexpr const char* kLineDelimiters = "\r\n";
constexpr const char* kTokenDelimiters = ",\r\n";
constexpr const char* kHardwareAddressLabel = "ethernet hardware address";
constexpr const char* kHardwareAddressChars = "0123456789abcdef:";
constexpr size_t kHardwareAddressLength = 17;  // six pairs and five colons
// Characters that may not stand in a file name, plus the address separators.
constexpr const char* kFileNameUnsafeChars = "\\/:*?\"<>!' -";
constexpr uint32_t kMaxPictureSide = 65535;  // the size entry keeps 16 bits a side
constexpr int32_t kRateScale = 100;          // the camera states rates in hundredths

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// One unsigned side of a size token, as a "%u" conversion reads it, but without a sign that
// wraps around and without values that do not fit the entry.
bool ReadSide(const std::string& text, size_t& pos, uint32_t& value) {
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    if (pos < text.size() && text[pos] == '+') ++pos;
    const size_t first = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
        if (value > kMaxPictureSide) return false;
        ++pos;
    }
    return pos > first;
}

}  // namespace

std::string ReplyText(const std::vector<uint8_t>& body) {
    if (body.empty()) return std::string();  // data() may be null then
    const void* zero = std::memchr(body.data(), 0, body.size());
    const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - body.data()) : body.size();
    return std::string(reinterpret_cast<const char*>(body.data()), length);
}

std::string LineValue(const std::string& reply, const std::string& key) {
    return Utils::FindKeyValue(key, "=", reply, kLineDelimiters);
}

bool AudioValueMeansAudio(const std::string& value) {
    int32_t number = 0;
    if (Utils::ParseInt(value, number)) return number != 0;
    const std::string lower = Utils::ToLower(Utils::Trim(value));
    return lower == "yes" || lower == "true";
}

BasicInfo ReadBasicInfo(const std::string& reply) {
    BasicInfo info;
    info.typeName = LineValue(reply, "features__type_info_full_name");
    if (info.typeName.empty()) return info;
    info.hasAudio = AudioValueMeansAudio(LineValue(reply, "features__audio"));
    int32_t number = 0;
    if (Utils::ParseInt(LineValue(reply, "features__signalinputs"), number)) {
        info.hasInputCount = true;
        info.inputCount = static_cast<uint32_t>(number);
    }
    if (Utils::ParseInt(LineValue(reply, "features__signaloutputs"), number)) {
        info.hasOutputCount = true;
        info.outputCount = static_cast<uint32_t>(number);
    }
    info.firmware = LineValue(reply, "filesystem__version");
    return info;
}

std::vector<std::string> ValueTokens(const std::string& value) {
    std::vector<std::string> tokens;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find_first_of(kTokenDelimiters, start);
        if (end == std::string::npos) end = value.size();
        std::string token = Utils::RemoveChars(" ", value.substr(start, end - start));
        const size_t hash = token.find('#');
        if (hash != std::string::npos) token.erase(0, hash + 1);
        if (!token.empty()) tokens.push_back(std::move(token));
        start = end + 1;
    }
    return tokens;
}

bool ParseSizeToken(const std::string& token, uint16_t* width, uint16_t* height) {
    size_t pos = 0;
    uint32_t w = 0;
    uint32_t h = 0;
    if (!ReadSide(token, pos, w)) return false;
    // Exactly one separator character, any but white space (as "%1s" takes it).
    while (pos < token.size() && IsSpace(token[pos])) ++pos;
    if (pos >= token.size()) return false;
    ++pos;
    if (!ReadSide(token, pos, h)) return false;
    if (w == 0 || h == 0) return false;
    *width = static_cast<uint16_t>(w);
    *height = static_cast<uint16_t>(h);
    return true;
}

uint32_t RateToInterval(int32_t rate) {
    if (rate < 1) return 0;
    const uint32_t r = static_cast<uint32_t>(rate);
    return (2000u + r) / (2u * r);  // floor(1000 / r + 0.5) without floating point
}

bool ReadImageControl(const std::string& reply, std::set<int32_t>& frameRates,
                      std::vector<RESOLUTION_INFO>& resolutions) {
    // Rates first, whatever the line order: a size entry takes its interval from the highest rate.
    for (const std::string& token : ValueTokens(LineValue(reply, "framerate100"))) {
        int32_t hundredths = 0;
        if (Utils::ParseInt(token, hundredths) && hundredths >= kRateScale) frameRates.insert(hundredths / kRateScale);
    }
    for (const std::string& token : ValueTokens(LineValue(reply, "size"))) {
        if (frameRates.empty()) break;
        RESOLUTION_INFO entry;
        if (!ParseSizeToken(token, &entry.width, &entry.height)) continue;
        const int32_t highest = *frameRates.rbegin();
        const uint32_t interval = RateToInterval(highest);
        // Only rates up to about 31 frames per second give the size an interval of its own.
        if (interval >= static_cast<uint32_t>(highest)) entry.frameIntervals.push_back(interval);
        bool known = false;
        for (const RESOLUTION_INFO& existing : resolutions) {
            if (existing.width == entry.width && existing.height == entry.height) known = true;
        }
        if (!known) resolutions.push_back(std::move(entry));
    }
    return !frameRates.empty();
}

std::string FindHardwareAddress(const std::string& page) {
    const std::string lower = Utils::ToLower(page);
    const size_t label = lower.find(kHardwareAddressLabel);
    if (label == std::string::npos) return std::string();
    size_t pos = label + std::strlen(kHardwareAddressLabel);
    while (pos < lower.size()) {
        const size_t start = lower.find_first_of(kHardwareAddressChars, pos);
        if (start == std::string::npos) break;
        size_t end = lower.find_first_not_of(kHardwareAddressChars, start);
        // A run that reaches the end of the page is not followed by anything and does not count.
        if (end == std::string::npos) break;
        if (end - start == kHardwareAddressLength) return lower.substr(start, kHardwareAddressLength);
        pos = end;
    }
    return std::string();
}

std::string PresetFileNameFromVersionPage(const std::string& page) {
    const std::string address = Utils::RemoveChars(kFileNameUnsafeChars, FindHardwareAddress(page));
    if (address.empty()) return std::string();
    return std::string(kManufacturer) + "_" + Utils::ToUpper(address) + ".preset";
}

bool RotorHelpOffersPtz(const std::string& help) {
    static const char kRotorCommand[] = "MxR\\0";  // the five characters M x R backslash 0
    const size_t ptz = help.find("PTZ");
    if (ptz == std::string::npos) return false;
    const size_t command = help.find(kRotorCommand, ptz);
    if (command == std::string::npos) return false;
    return help.find("int32_t para1", command) != std::string::npos;
}

int32_t ProbeFailureCode(uint32_t lastStatusCode, bool versionKnown, const uint16_t version[4]) {
    constexpr uint32_t kUnauthorized = 401;
    if (lastStatusCode != kUnauthorized || !versionKnown) return 3;
    const bool newerThan510 = version[0] > 5 || (version[0] == 5 && version[1] > 10);
    return newerThan510 ? 1 : 3;
}

}  // namespace velmora::probe

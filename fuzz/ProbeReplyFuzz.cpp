// Fuzz target for the property probe's reply readers: any bytes as basic information,
// image-control list, version page and rotor help. Checks the readers' promises on the way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "Properties/ProbeReplies.h"

namespace probe = velmora::probe;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckImageControl(const std::string& text) {
    std::set<int32_t> rates;
    std::vector<velmora::RESOLUTION_INFO> sizes;
    const bool passed = probe::ReadImageControl(text, rates, sizes);
    Check(passed == !rates.empty());
    for (int32_t rate : rates) Check(rate >= 1);
    for (size_t i = 0; i < sizes.size(); ++i) {
        Check(sizes[i].width != 0 && sizes[i].height != 0);
        Check(sizes[i].frameIntervals.size() <= 1);
        for (size_t j = 0; j < i; ++j) Check(sizes[i].width != sizes[j].width || sizes[i].height != sizes[j].height);
    }
    Check(rates.empty() ? sizes.empty() : true);
}

void CheckVersionPage(const std::string& text) {
    const std::string address = probe::FindHardwareAddress(text);
    Check(address.empty() || address.size() == 17);
    const std::string name = probe::PresetFileNameFromVersionPage(text);
    if (!name.empty()) {
        Check(name.rfind("Mobotix_", 0) == 0);
        Check(name.size() > 15 && name.compare(name.size() - 7, 7, ".preset") == 0);
        Check(name.find_first_of("\\/:*?\"<> ") == std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> body(data, data + size);
    const std::string text = probe::ReplyText(body);
    Check(text.size() <= size);

    const probe::BasicInfo info = probe::ReadBasicInfo(text);
    if (info.typeName.empty()) Check(!info.hasAudio && !info.hasInputCount && !info.hasOutputCount);

    for (const std::string& token : probe::ValueTokens(text)) {
        Check(!token.empty() && token.find(' ') == std::string::npos);
        uint16_t width = 0;
        uint16_t height = 0;
        if (probe::ParseSizeToken(token, &width, &height)) Check(width != 0 && height != 0);
    }
    CheckImageControl(text);
    CheckVersionPage(text);
    (void)probe::RotorHelpOffersPtz(text);
    return 0;
}

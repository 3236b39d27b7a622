// Product version read from a PE image in memory, for systems without a version-resource API.
#include <cstring>

#include "platform/System.h"

namespace velmora::platform {

namespace {
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedFileInfoSize = 52;
// High word of dwStrucVersion, the word after the signature.
constexpr uint32_t kFixedFileInfoStructMajor = 1;

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
}  // namespace

bool ParseProductVersion(const uint8_t* image, size_t size, uint16_t version[4]) {
    // A PE image: "MZ", then at e_lfanew the "PE\0\0" signature.
    if (!image || size < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
    uint32_t peOffset = ReadLe32(image + 0x3C);
    if (peOffset > size - 4 || std::memcmp(image + peOffset, "PE\0\0", 4) != 0) return false;
    // VS_FIXEDFILEINFO, found by its signature. The same 32-bit value can sit in code or data
    // (an operand comparing against it), so a match must also carry the structure version
    // 1.x that every fixed info has; the scan is byte-wise because nothing guarantees where
    // the resource data starts in the file.
    for (size_t i = 0; i + kFixedFileInfoSize <= size; ++i) {
        if (ReadLe32(image + i) != kFixedFileInfoSignature) continue;
        if (ReadLe32(image + i + 4) >> 16 != kFixedFileInfoStructMajor) continue;
        uint32_t productMs = ReadLe32(image + i + 16);
        uint32_t productLs = ReadLe32(image + i + 20);
        version[0] = static_cast<uint16_t>(productMs >> 16);
        version[1] = static_cast<uint16_t>(productMs & 0xFFFF);
        version[2] = static_cast<uint16_t>(productLs >> 16);
        version[3] = static_cast<uint16_t>(productLs & 0xFFFF);
        return true;
    }
    return false;
}

}  // namespace velmora::platform

// A crafted host core module "ombrel.dll" beside the test executable: a minimal PE image that
// carries only a VS_FIXEDFILEINFO with the chosen product version. Removed again on destruction.
#pragma once
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/System.h"

namespace quillon_test {

class HostCoreModuleFile {
public:
    HostCoreModuleFile(uint16_t major, uint16_t minor) : path_(Path()) {
        std::vector<uint8_t> image(0x100, 0);
        image[0] = 'M';
        image[1] = 'Z';
        Put32(image, 0x3C, kPeOffset);
        image[kPeOffset] = 'P';
        image[kPeOffset + 1] = 'E';
        // VS_FIXEDFILEINFO: signature, structure version, file version (differs on purpose, so
        // that reading the wrong field shows), product version.
        Put32(image, kInfoOffset, 0xFEEF04BDu);
        Put32(image, kInfoOffset + 4, 0x00010000u);
        Put32(image, kInfoOffset + 8, 0x00090009u);
        Put32(image, kInfoOffset + 12, 0);
        Put32(image, kInfoOffset + 16, static_cast<uint32_t>(major) << 16 | minor);
        Put32(image, kInfoOffset + 20, 0x00070008u);
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        written_ = static_cast<bool>(out);
    }
    ~HostCoreModuleFile() { std::remove(path_.c_str()); }
    HostCoreModuleFile(const HostCoreModuleFile&) = delete;
    HostCoreModuleFile& operator=(const HostCoreModuleFile&) = delete;

    bool Written() const { return written_; }
    static std::string Path() { return velmora::platform::ExecutableDirectory() + "ombrel.dll"; }

private:
    static constexpr size_t kPeOffset = 0x80;
    static constexpr size_t kInfoOffset = 0xA0;
    static void Put32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }

    std::string path_;
    bool written_ = false;
};

}  // namespace quillon_test

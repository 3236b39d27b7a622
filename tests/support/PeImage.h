// Builds small PE images in memory for tests of the module version reader: a DOS header with
// "MZ" and e_lfanew, the "PE\0\0" signature with a COFF header, and a VS_VERSIONINFO block
// whose VS_FIXEDFILEINFO carries the given file and product versions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::test {

struct PeImageOptions {
    uint16_t productVersion[4] = {1, 2, 3, 4};  // major, minor, build, revision
    uint16_t fileVersion[4] = {9, 8, 7, 6};     // differs on purpose: the product version must win
    bool dosSignature = true;                   // "MZ"
    bool peSignature = true;                    // "PE\0\0" at e_lfanew
    uint32_t eLfanew = 0x80;
    bool versionResource = true;                // false: no VS_FIXEDFILEINFO at all
    size_t versionOffset = 0x200;               // file offset of the VS_VERSIONINFO block
    uint32_t structVersion = 0x00010000;        // dwStrucVersion of the fixed info
    // A stray 0xFEEF04BD in the bytes before the version block, as an instruction operand in a
    // code section would leave it (not followed by a fixed-info structure).
    bool strayConstantBefore = false;
    size_t strayOffset = 0x100;
    // Cut the image this many bytes after the fixed info's signature (0: keep it whole).
    size_t truncateAfterSignature = 0;
    // Pad the image with zeros to at least this size (0: as small as the content allows).
    size_t padTo = 0;
};

std::vector<uint8_t> BuildPeImage(const PeImageOptions& options);

// A complete 64-bit PE image (optional header, one ".rsrc" section, resource directory with an
// RT_VERSION entry) that the system's own version-resource API reads as well; only the versions
// and the structure version of the options apply.
std::vector<uint8_t> BuildResourcePeImage(const PeImageOptions& options);

// Writes bytes to a file; false on any error.
bool WriteBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace quillon::test

// Minimal PE images with a version resource block, laid out as the PE/COFF format and the
// VS_VERSIONINFO / VS_FIXEDFILEINFO structures define them (all little-endian).
#include "PeImage.h"

#include <fstream>

namespace quillon::test {

namespace {
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedFileInfoSize = 52;  // thirteen 32-bit words

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

uint32_t High(const uint16_t v[4]) { return uint32_t(v[0]) << 16 | v[1]; }
uint32_t Low(const uint16_t v[4]) { return uint32_t(v[2]) << 16 | v[3]; }
}  // namespace

std::vector<uint8_t> BuildPeImage(const PeImageOptions& o) {
    std::vector<uint8_t> b(0x400, 0);
    if (o.dosSignature) {
        b[0] = 'M';
        b[1] = 'Z';
    }
    Put32(b, 0x3C, o.eLfanew);
    if (o.peSignature && size_t(o.eLfanew) + 24 <= b.size()) {
        const size_t pe = o.eLfanew;
        b[pe] = 'P';
        b[pe + 1] = 'E';
        Put16(b, pe + 4, 0x014C);  // machine: i386
        Put16(b, pe + 6, 0);       // no sections: the reader needs none
        Put16(b, pe + 20, 0);      // no optional header
        Put16(b, pe + 22, 0x2102); // characteristics: executable, 32-bit, DLL
    }
    if (o.strayConstantBefore) Put32(b, o.strayOffset, kFixedFileInfoSignature);
    if (b.size() < o.padTo) b.resize(o.padTo, 0);
    if (!o.versionResource) return b;

    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding, Value.
    const size_t v = o.versionOffset;
    const std::u16string key = u"VS_VERSION_INFO";
    size_t at = v + 6;
    for (char16_t c : key) {
        Put16(b, at, static_cast<uint16_t>(c));
        at += 2;
    }
    Put16(b, at, 0);
    at += 2;
    while ((at - v) % 4) at++;  // Padding1 aligns Value on a 32-bit boundary
    const size_t fixed = at;
    Put16(b, v, static_cast<uint16_t>(fixed - v + kFixedFileInfoSize));
    Put16(b, v + 2, static_cast<uint16_t>(kFixedFileInfoSize));
    Put16(b, v + 4, 0);  // binary data
    Put32(b, fixed + 0, kFixedFileInfoSignature);
    Put32(b, fixed + 4, o.structVersion);
    Put32(b, fixed + 8, High(o.fileVersion));
    Put32(b, fixed + 12, Low(o.fileVersion));
    Put32(b, fixed + 16, High(o.productVersion));
    Put32(b, fixed + 20, Low(o.productVersion));
    Put32(b, fixed + 24, 0x3F);         // dwFileFlagsMask
    Put32(b, fixed + 28, 0);            // dwFileFlags
    Put32(b, fixed + 32, 0x00040004);   // dwFileOS: NT, Windows32
    Put32(b, fixed + 36, 2);            // dwFileType: DLL
    Put32(b, fixed + 40, 0);            // dwFileSubtype
    Put32(b, fixed + 44, 0);            // dwFileDateMS
    Put32(b, fixed + 48, 0);            // dwFileDateLS
    if (b.size() < fixed + kFixedFileInfoSize + 64) b.resize(fixed + kFixedFileInfoSize + 64, 0);
    if (o.truncateAfterSignature) b.resize(fixed + o.truncateAfterSignature);
    return b;
}

bool WriteBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace quillon::test

// Minimal PE images with a version resource block, laid out as the PE/COFF format and the
// VS_VERSIONINFO / VS_FIXEDFILEINFO structures define them (all little-endian).
#include "PeImage.h"

#include <algorithm>
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

std::vector<uint8_t> BuildResourcePeImage(const PeImageOptions& o) {
    constexpr size_t kPe = 0x80;
    constexpr size_t kOptional = kPe + 24;
    constexpr size_t kOptionalSize = 240;  // PE32+ with sixteen data directories
    constexpr size_t kSection = kOptional + kOptionalSize;
    constexpr uint32_t kFileAlignment = 0x200, kSectionAlignment = 0x1000;
    constexpr uint32_t kRsrcRva = 0x1000, kRsrcFile = 0x200;

    // Resource section: root (type 16 = RT_VERSION) -> name 1 -> language 0x409 -> data entry.
    std::vector<uint8_t> r(0x58, 0);
    auto directory = [&r](size_t at, uint32_t id, uint32_t target) {
        Put16(r, at + 14, 1);  // one entry, by id
        Put32(r, at + 16, id);
        Put32(r, at + 20, target);
    };
    directory(0x00, 16, 0x80000000u | 0x18);
    directory(0x18, 1, 0x80000000u | 0x30);
    directory(0x30, 0x409, 0x48);
    // VS_VERSIONINFO with its fixed info, as BuildPeImage lays it out.
    PeImageOptions block = o;
    block.versionOffset = 0x58;
    block.strayConstantBefore = false;
    block.truncateAfterSignature = 0;
    block.padTo = 0;
    std::vector<uint8_t> withBlock = BuildPeImage(block);
    const uint16_t blockLength = uint16_t(withBlock[0x58] | withBlock[0x59] << 8);
    r.insert(r.end(), withBlock.begin() + 0x58, withBlock.begin() + 0x58 + blockLength);
    Put32(r, 0x48, kRsrcRva + 0x58);  // data RVA
    Put32(r, 0x4C, blockLength);

    const uint32_t rawSize = (uint32_t(r.size()) + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
    std::vector<uint8_t> b(kRsrcFile + rawSize, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kPe);
    b[kPe] = 'P';
    b[kPe + 1] = 'E';
    Put16(b, kPe + 4, 0x8664);            // machine: x86-64
    Put16(b, kPe + 6, 1);                 // one section
    Put16(b, kPe + 20, kOptionalSize);
    Put16(b, kPe + 22, 0x2022);           // executable image, large address aware, DLL
    Put16(b, kOptional + 0, 0x20B);       // PE32+
    Put32(b, kOptional + 24, 0x10000000); // image base (low half)
    Put32(b, kOptional + 32, kSectionAlignment);
    Put32(b, kOptional + 36, kFileAlignment);
    Put16(b, kOptional + 40, 6);          // operating system 6.0
    Put16(b, kOptional + 48, 6);          // subsystem 6.0
    Put32(b, kOptional + 56, kRsrcRva + kSectionAlignment);  // size of image
    Put32(b, kOptional + 60, kRsrcFile);  // size of headers
    Put16(b, kOptional + 68, 2);          // subsystem: Windows GUI
    Put32(b, kOptional + 72, 0x100000);   // stack reserve
    Put32(b, kOptional + 80, 0x1000);     // stack commit
    Put32(b, kOptional + 88, 0x100000);   // heap reserve
    Put32(b, kOptional + 96, 0x1000);     // heap commit
    Put32(b, kOptional + 108, 16);        // data directories
    Put32(b, kOptional + 112 + 2 * 8, kRsrcRva);  // resource directory
    Put32(b, kOptional + 112 + 2 * 8 + 4, uint32_t(r.size()));
    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    for (size_t i = 0; i < 8; ++i) b[kSection + i] = static_cast<uint8_t>(name[i]);
    Put32(b, kSection + 8, uint32_t(r.size()));  // virtual size
    Put32(b, kSection + 12, kRsrcRva);
    Put32(b, kSection + 16, rawSize);
    Put32(b, kSection + 20, kRsrcFile);
    Put32(b, kSection + 36, 0x40000040u);  // initialised data, readable
    std::copy(r.begin(), r.end(), b.begin() + kRsrcFile);
    return b;
}

bool WriteBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace quillon::test

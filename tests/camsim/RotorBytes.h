// Rotor command packets as a client sends them, for the simulator tests.
#pragma once

#include <cstdint>
#include <string>

namespace camsim::test {

// 24 bytes, little-endian: magic (3 letters and a zero byte), version, command, two values, zero.
inline std::string RotorPacketBytes(uint32_t code, int32_t v1, int32_t v2, const char* magic = "MxR",
                                    uint32_t version = 1) {
    std::string p(24, '\0');
    auto put = [&p](size_t at, uint32_t v) {
        for (size_t i = 0; i < 4; ++i) p[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    p.replace(0, 3, magic, 3);
    put(4, version);
    put(8, code);
    put(12, static_cast<uint32_t>(v1));
    put(16, static_cast<uint32_t>(v2));
    return p;
}

}  // namespace camsim::test

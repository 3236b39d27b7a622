// Byte scans over whole pictures on the capture thread: the multipart parser's search for JPEG markers
// and the sensor-text search. Most bytes they pass over are entropy-coded data, so both screen many
// positions per step with vector compares (32 at a time where the processor has AVX2, else 16) and
// look closer only at the few candidates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora {

// Offsets, in order from `from` on, of every 0xFF byte of [data, data + size) that may start a marker:
// those followed by a byte other than 0x00 (a stuffed 0x00 makes the 0xFF data), and a 0xFF in the
// last byte, whose follower is not known yet. Fills up to `max` (1 or more) offsets into `out` and
// returns their number; *next is where a further call goes on (size when the scan is complete).
size_t FindMarkerBytes(const uint8_t* data, size_t size, size_t from, uint32_t* out, size_t max, size_t* next);

// Calls visit(offset) for each offset FindMarkerBytes gives, in order, until it returns false.
template <class Visit>
void ForEachMarkerByte(const uint8_t* data, size_t size, Visit&& visit) {
    constexpr size_t kBatch = 64;
    uint32_t found[kBatch];
    for (size_t from = 0; from < size;) {
        const size_t count = FindMarkerBytes(data, size, from, found, kBatch, &from);
        for (size_t i = 0; i < count; ++i)
            if (!visit(static_cast<size_t>(found[i]))) return;
    }
}

// First occurrence of `needle` in `text` at or after `from`; npos when there is none.
size_t FindText(std::string_view text, std::string_view needle, size_t from = 0);

}  // namespace velmora

// Baseline JPEG encoding and decoding through libjpeg-turbo, with comment segments, for the
// simulator's MJPEG stream and for tests that check what it sent. libjpeg errors never abort the
// process: they come back as a false result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

constexpr size_t kMaxCommentSegmentBytes = 65533;  // a segment length counts itself in 16 bits

struct RgbPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // packed, 3 bytes per pixel, rows without padding
};

// 4:2:0 baseline JFIF at the given quality (1..100), or progressive JFIF on request. Each comment
// becomes COM segments right after the JFIF header (split when longer than one segment holds).
bool EncodeJpeg(const RgbPicture& picture, int quality, const std::vector<std::string>& comments,
                std::vector<uint8_t>* out, bool progressive = false);

struct DecodedJpeg {
    RgbPicture picture;
    std::vector<std::string> comments;  // payloads of the COM segments, in order
};

bool DecodeJpeg(const uint8_t* data, size_t size, DecodedJpeg* out);

}  // namespace camsim

// Decoding JPEG pictures with libjpeg-turbo to verify what the module delivered.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::host {

struct DecodedPicture {
    bool ok = false;
    int warnings = 0;      // libjpeg warnings, e.g. premature end of data
    std::string error;     // set when ok is false
    uint32_t width = 0, height = 0, components = 0;
    std::vector<uint8_t> pixels;  // interleaved, components per pixel
};

// Decodes to RGB (or grey) pixels; never throws.
DecodedPicture DecodeJpeg(const uint8_t* data, size_t size);
inline DecodedPicture DecodeJpeg(const std::vector<uint8_t>& jpeg) { return DecodeJpeg(jpeg.data(), jpeg.size()); }

// Texts of the comment segments before the first scan.
std::vector<std::string> JpegComments(const std::vector<uint8_t>& jpeg);

// Peak signal-to-noise ratio in dB between two pictures of equal shape; 99 for identical ones.
double Psnr(const DecodedPicture& a, const DecodedPicture& b);

}  // namespace quillon::host

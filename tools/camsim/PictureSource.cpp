// Synthetic pictures through the PTZ view, the on-screen line, and picture k as a JPEG.
#include "camsim/PictureSource.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace camsim {

namespace {

// 3x5 glyphs, one row per 3-bit group from the top, most significant bit on the left.
struct Glyph {
    char c;
    uint16_t bits;
};
constexpr Glyph kGlyphs[] = {{'0', 0x7B6F}, {'1', 0x2C97}, {'2', 0x73E7}, {'3', 0x73CF}, {'4', 0x5BC9},
                             {'5', 0x79CF}, {'6', 0x79EF}, {'7', 0x7249}, {'8', 0x7BEF}, {'9', 0x7BCF},
                             {'+', 0x05D0}, {'-', 0x01C0}, {'P', 0x7BE4}, {'T', 0x7492}, {'Z', 0x72A7},
                             {'#', 0x5F7D}};

uint16_t GlyphBits(char c) {
    for (const Glyph& g : kGlyphs)
        if (g.c == c) return g.bits;
    return 0;  // blank
}

void FillRect(RgbPicture& pic, int x0, int y0, int w, int h, uint8_t value) {
    const int width = static_cast<int>(pic.width), height = static_cast<int>(pic.height);
    for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y) {
        uint8_t* row = pic.rgb.data() + static_cast<size_t>(y) * pic.width * 3;
        for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = value;
    }
}

// White text on a black box at (x, y); each font pixel is scale x scale picture pixels.
void DrawText(RgbPicture& pic, const std::string& text, int x, int y, int scale) {
    const int advance = 4 * scale;
    FillRect(pic, x, y, static_cast<int>(text.size()) * advance + 2 * scale, 7 * scale, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        uint16_t bits = GlyphBits(text[i]);
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (bits & (1u << (14 - row * 3 - col)))
                    FillRect(pic, x + scale + static_cast<int>(i) * advance + col * scale, y + scale + row * scale,
                             scale, scale, 255);
    }
}

// Moves the scene by the PTZ position: a full turn of pan (36000 units) is one picture width,
// the tilt range (18000 units) one picture height; zoom magnifies around the centre.
std::vector<uint8_t> ApplyView(const std::vector<uint8_t>& scene, uint32_t width, uint32_t height, const PtzState& ptz) {
    const int64_t w = width, h = height, zoom = std::max<int32_t>(ptz.zoom, 1);
    const int64_t panShift = int64_t(ptz.pan) * w / 36000;
    const int64_t tiltShift = int64_t(ptz.tilt) * h / 18000;
    std::vector<int64_t> columns(width);
    for (int64_t x = 0; x < w; ++x) columns[x] = ((((x - w / 2) * 1000) / zoom + w / 2 + panShift) % w + w) % w;
    std::vector<uint8_t> out(scene.size());
    for (int64_t y = 0; y < h; ++y) {
        int64_t sy = std::clamp<int64_t>(((y - h / 2) * 1000) / zoom + h / 2 - tiltShift, 0, h - 1);
        const uint8_t* src = scene.data() + sy * w * 3;
        uint8_t* dst = out.data() + y * w * 3;
        for (int64_t x = 0; x < w; ++x) std::copy_n(src + columns[x] * 3, 3, dst + x * 3);
    }
    return out;
}

}  // namespace

std::string FrameComment(uint64_t k, const ImageSettings& image, const PtzState& ptz) {
    char text[160];
    std::snprintf(text, sizeof(text), "camsim-frame=%" PRIu64 " size=%ux%u quality=%d pan=%d tilt=%d zoom=%d", k,
                  image.width, image.height, image.quality, ptz.pan, ptz.tilt, ptz.zoom);
    return text;
}

bool ParseFrameComment(const std::string& text, uint64_t* k) {
    static const char kPrefix[] = "camsim-frame=";
    if (text.compare(0, sizeof(kPrefix) - 1, kPrefix) != 0) return false;
    size_t i = sizeof(kPrefix) - 1;
    uint64_t value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 20; ++i, ++digits)
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (digits == 0) return false;
    *k = value;
    return true;
}

PictureSource::PictureSource(uint32_t seed) : scene_(seed, mxpegenc::SceneOptions{3, false, 6}) {}

RgbPicture PictureSource::Render(uint64_t k, uint32_t width, uint32_t height, const PtzState& ptz) const {
    RgbPicture pic;
    pic.width = width;
    pic.height = height;
    pic.rgb = scene_.RenderRgb(static_cast<uint32_t>(k), static_cast<int>(width), static_cast<int>(height));
    if (ptz.pan != 0 || ptz.tilt != 0 || ptz.zoom != 1000) pic.rgb = ApplyView(pic.rgb, width, height, ptz);
    char osd[96];
    std::snprintf(osd, sizeof(osd), "#%" PRIu64 " P%+d T%+d Z%d", k, ptz.pan, ptz.tilt, ptz.zoom);
    DrawText(pic, osd, 4, 4, std::max<int>(1, static_cast<int>(width) / 320));
    return pic;
}

bool PictureSource::EncodeJpeg(uint64_t k, const ImageSettings& image, const PtzState& ptz,
                               const std::string& sensorBlock, std::vector<uint8_t>* out, bool progressive) const {
    RgbPicture pic = Render(k, image.width, image.height, ptz);
    return camsim::EncodeJpeg(pic, image.quality, {FrameComment(k, image, ptz), sensorBlock}, out, progressive);
}

}  // namespace camsim

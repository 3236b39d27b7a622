// Synthetic camera scene: static textured background and buildings, moving shapes, frame counter.
#include "mxpegenc/SyntheticScene.h"

#include <algorithm>

namespace mxpegenc {
namespace {

uint32_t Hash(uint32_t a, uint32_t b, uint32_t c) {
  uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

// 3x5 digits, one row per 3-bit group, most significant bit left.
constexpr uint16_t kDigits[10] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF};

struct Painter {
  std::vector<uint8_t>& rgb;
  int width;
  int height;

  void Pixel(int x, int y, const uint8_t* c) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    std::copy(c, c + 3, &rgb[(static_cast<size_t>(y) * width + x) * 3]);
  }
  void Rect(int x0, int y0, int w, int h, const uint8_t* c) {
    for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
      for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) Pixel(x, y, c);
  }
  void Disc(int cx, int cy, int r, const uint8_t* c) {
    for (int y = cy - r; y <= cy + r; ++y)
      for (int x = cx - r; x <= cx + r; ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) Pixel(x, y, c);
  }
};

// Position bouncing between 0 and span-1 with the given speed.
int Bounce(uint32_t t, int speed, int phase, int span) {
  if (span <= 1) return 0;
  const int64_t period = 2 * static_cast<int64_t>(span - 1);
  int64_t p = (static_cast<int64_t>(t) * speed + phase) % period;
  return static_cast<int>(p < span ? p : period - p);
}

}  // namespace

std::vector<uint8_t> SyntheticScene::RenderRgb(uint32_t frameIndex, int width, int height) const {
  std::vector<uint8_t> rgb(static_cast<size_t>(std::max(width, 0)) * std::max(height, 0) * 3);
  if (width <= 0 || height <= 0) return rgb;
  Painter paint{rgb, width, height};
  const int amp = options_.noiseAmplitude;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int sky = y < height / 2;
      int r = sky ? 90 + 80 * y / height : 70 + 40 * x / width;
      int g = sky ? 130 + 60 * y / height : 110;
      int b = sky ? 200 - 40 * y / height : 60 + 30 * y / height;
      if (amp > 0) {
        const int n = static_cast<int>(Hash(seed_, static_cast<uint32_t>(x), static_cast<uint32_t>(y)) %
                                       (2 * amp + 1)) - amp;
        r += n, g += n, b += n;
      }
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(std::clamp(r, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(b, 0, 255));
    }
  }
  // Buildings: fixed by the seed.
  for (int i = 0; i < 5; ++i) {
    const uint32_t h = Hash(seed_, 1000 + i, 7);
    const uint8_t c[3] = {static_cast<uint8_t>(60 + h % 120), static_cast<uint8_t>(50 + (h >> 8) % 100),
                          static_cast<uint8_t>(40 + (h >> 16) % 100)};
    const int w = width / 8 + static_cast<int>(h % (width / 8 + 1));
    const int bh = height / 4 + static_cast<int>((h >> 4) % (height / 4 + 1));
    paint.Rect(i * width / 5, height - bh, w, bh, c);
  }
  // Moving shapes: position depends on the frame index only.
  for (int i = 0; i < options_.movingShapes; ++i) {
    const uint32_t h = Hash(seed_, 2000 + i, 11);
    const uint8_t c[3] = {static_cast<uint8_t>(h % 256), static_cast<uint8_t>((h >> 8) % 256),
                          static_cast<uint8_t>((h >> 16) % 256)};
    const int size = std::max(4, std::min(width, height) / 12 + static_cast<int>(h % 16));
    const int x = Bounce(frameIndex, 3 + static_cast<int>(h % 7), static_cast<int>(h % 997), width - size);
    const int y = Bounce(frameIndex, 2 + static_cast<int>((h >> 3) % 5), static_cast<int>((h >> 7) % 991),
                         height - size);
    if (i % 2 == 0) paint.Disc(x + size / 2, y + size / 2, size / 2, c);
    else paint.Rect(x, y, size, size * 2 / 3, c);
  }
  if (options_.drawCounter) {
    const uint8_t white[3] = {255, 255, 255}, black[3] = {0, 0, 0};
    char text[16];
    int n = 0;
    uint32_t v = frameIndex;
    do { text[n++] = static_cast<char>('0' + v % 10); v /= 10; } while (v != 0 && n < 10);
    const int scale = 2;
    paint.Rect(4, 4, n * 4 * scale + 4, 5 * scale + 4, black);
    for (int d = 0; d < n; ++d) {
      const uint16_t glyph = kDigits[text[n - 1 - d] - '0'];
      for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 3; ++col)
          if (glyph & (1u << (14 - row * 3 - col)))
            paint.Rect(6 + (d * 4 + col) * scale, 6 + row * scale, scale, scale, white);
    }
  }
  return rgb;
}

YCbCrPicture SyntheticScene::Render(uint32_t frameIndex, int width, int height, ChromaSampling sampling) const {
  const std::vector<uint8_t> rgb = RenderRgb(frameIndex, width, height);
  return YCbCrPicture::FromRgb(rgb.data(), width, height, width * 3, sampling);
}

}  // namespace mxpegenc

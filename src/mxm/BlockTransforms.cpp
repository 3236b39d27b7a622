// Chen-Wang integer inverse DCT and floating-point forward DCT on 8x8 blocks.
#include "mxm/BlockTransforms.h"

#include <array>
#include <cmath>

namespace mxm {
namespace {

// 2048 * sqrt(2) * cos(k * pi / 16)
constexpr int64_t W1 = 2841;
constexpr int64_t W2 = 2676;
constexpr int64_t W3 = 2408;
constexpr int64_t W5 = 1609;
constexpr int64_t W6 = 1108;
constexpr int64_t W7 = 565;

// Products are formed in 64 bits: coefficients from a corrupted stream can overflow 32-bit sums,
// and for every input that fits 32 bits the results are those of the 32-bit reference.
void IdctRow(int16_t* b) {
  int64_t x1 = static_cast<int64_t>(b[4]) * 2048, x2 = b[6], x3 = b[2], x4 = b[1], x5 = b[7], x6 = b[5], x7 = b[3];
  if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
    const int16_t dc = static_cast<int16_t>(b[0] * 8);
    for (int i = 0; i < 8; ++i) b[i] = dc;
    return;
  }
  int64_t x0 = static_cast<int64_t>(b[0]) * 2048 + 128;
  int64_t x8 = W7 * (x4 + x5);
  x4 = x8 + (W1 - W7) * x4;
  x5 = x8 - (W1 + W7) * x5;
  x8 = W3 * (x6 + x7);
  x6 = x8 - (W3 - W5) * x6;
  x7 = x8 - (W3 + W5) * x7;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2);
  x2 = x1 - (W2 + W6) * x2;
  x3 = x1 + (W2 - W6) * x3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  b[0] = static_cast<int16_t>((x7 + x1) >> 8);
  b[1] = static_cast<int16_t>((x3 + x2) >> 8);
  b[2] = static_cast<int16_t>((x0 + x4) >> 8);
  b[3] = static_cast<int16_t>((x8 + x6) >> 8);
  b[4] = static_cast<int16_t>((x8 - x6) >> 8);
  b[5] = static_cast<int16_t>((x0 - x4) >> 8);
  b[6] = static_cast<int16_t>((x3 - x2) >> 8);
  b[7] = static_cast<int16_t>((x7 - x1) >> 8);
}

void IdctColumn(int16_t* b) {
  int64_t x1 = static_cast<int64_t>(b[8 * 4]) * 256, x2 = b[8 * 6], x3 = b[8 * 2], x4 = b[8 * 1], x5 = b[8 * 7],
          x6 = b[8 * 5], x7 = b[8 * 3];
  if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
    const int16_t v = static_cast<int16_t>(ClipIdct((b[0] + 32) >> 6));
    for (int i = 0; i < 8; ++i) b[8 * i] = v;
    return;
  }
  int64_t x0 = static_cast<int64_t>(b[0]) * 256 + 8192;
  int64_t x8 = W7 * (x4 + x5) + 4;
  x4 = (x8 + (W1 - W7) * x4) >> 3;
  x5 = (x8 - (W1 + W7) * x5) >> 3;
  x8 = W3 * (x6 + x7) + 4;
  x6 = (x8 - (W3 - W5) * x6) >> 3;
  x7 = (x8 - (W3 + W5) * x7) >> 3;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2) + 4;
  x2 = (x1 - (W2 + W6) * x2) >> 3;
  x3 = (x1 + (W2 - W6) * x3) >> 3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  b[8 * 0] = static_cast<int16_t>(ClipIdct((x7 + x1) >> 14));
  b[8 * 1] = static_cast<int16_t>(ClipIdct((x3 + x2) >> 14));
  b[8 * 2] = static_cast<int16_t>(ClipIdct((x0 + x4) >> 14));
  b[8 * 3] = static_cast<int16_t>(ClipIdct((x8 + x6) >> 14));
  b[8 * 4] = static_cast<int16_t>(ClipIdct((x8 - x6) >> 14));
  b[8 * 5] = static_cast<int16_t>(ClipIdct((x0 - x4) >> 14));
  b[8 * 6] = static_cast<int16_t>(ClipIdct((x3 - x2) >> 14));
  b[8 * 7] = static_cast<int16_t>(ClipIdct((x7 - x1) >> 14));
}

// kCos[u][x] = C(u)/2 * cos((2x+1) u pi / 16), C(0) = 1/sqrt(2), else 1.
const std::array<std::array<float, 8>, 8>& CosineTable() {
  static const auto table = [] {
    std::array<std::array<float, 8>, 8> t{};
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x)
        t[u][x] = static_cast<float>((u == 0 ? 1.0 / std::sqrt(2.0) : 1.0) / 2.0 *
                                     std::cos((2 * x + 1) * u * 3.14159265358979323846 / 16.0));
    return t;
  }();
  return table;
}

}  // namespace

void InverseDctChenWang(int16_t* block) {
  for (int row = 0; row < 8; ++row) IdctRow(block + 8 * row);
  for (int col = 0; col < 8; ++col) IdctColumn(block + col);
}

void ForwardDctFloat(int16_t* block) {
  const auto& c = CosineTable();
  float rows[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      float s = 0.0f;
      for (int x = 0; x < 8; ++x) s += c[u][x] * static_cast<float>(block[y * 8 + x]);
      rows[y * 8 + u] = s;
    }
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      float s = 0.0f;
      for (int y = 0; y < 8; ++y) s += c[v][y] * rows[y * 8 + u];
      block[v * 8 + u] = static_cast<int16_t>(static_cast<int32_t>(s));
    }
}

}  // namespace mxm

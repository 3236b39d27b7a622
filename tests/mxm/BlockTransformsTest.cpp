// Arithmetic of the 4:2:2 chroma transforms on known blocks and against double-precision references.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "mxm/BlockTransforms.h"

namespace {

double Basis(int k, int n) { return (k == 0 ? 1.0 / std::sqrt(2.0) : 1.0) * std::cos((2 * n + 1) * k * std::numbers::pi / 16.0); }

// f(x, y) = 1/4 sum_u sum_v C(u) C(v) F(v, u) cos(...) cos(...)
void ExactIdct(const int16_t* in, double* out) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) s += Basis(u, x) * Basis(v, y) * in[v * 8 + u];
      out[y * 8 + x] = s / 4.0;
    }
}

void ExactFdct(const int16_t* in, double* out) {
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) s += Basis(u, x) * Basis(v, y) * in[y * 8 + x];
      out[v * 8 + u] = s / 4.0;
    }
}

}  // namespace

TEST(BlockTransformsTest, InverseDctOfDcOnlyBlockIsRoundedDcOverEight) {
  for (int dc : {0, 8, 80, -80, 1019, -1024, 2040, 2047, 4095, -4096}) {
    int16_t block[64] = {};
    block[0] = static_cast<int16_t>(dc);
    mxm::InverseDctChenWang(block);
    const int expected = std::clamp((dc + 4) >> 3, -256, 255);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], expected) << "dc " << dc << " at " << i;
  }
}

TEST(BlockTransformsTest, InverseDctOfSingleCoefficientFollowsItsCosine) {
  // F(0, 1) = 160: f(x, y) = 1/4 * 1/sqrt(2) * 160 * cos((2x+1) pi / 16), the same in every row.
  int16_t block[64] = {};
  block[1] = 160;
  mxm::InverseDctChenWang(block);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const double want = 160.0 / (4.0 * std::sqrt(2.0)) * std::cos((2 * x + 1) * std::numbers::pi / 16.0);
      EXPECT_NEAR(block[y * 8 + x], want, 1.0) << x << "," << y;
      EXPECT_EQ(block[y * 8 + x], block[x]);
    }
}

TEST(BlockTransformsTest, InverseDctStaysWithinOneOfTheExactTransform) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> value(-300, 300);
  std::uniform_int_distribution<int> sparse(0, 3);
  int worst = 0;
  for (int n = 0; n < 2000; ++n) {
    int16_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(sparse(rng) == 0 ? value(rng) : 0);
    double exact[64];
    ExactIdct(block, exact);
    mxm::InverseDctChenWang(block);
    for (int i = 0; i < 64; ++i) {
      const double clipped = std::clamp(exact[i], -256.0, 255.0);
      worst = std::max(worst, static_cast<int>(std::ceil(std::abs(block[i] - clipped) - 1e-9)));
    }
  }
  EXPECT_LE(worst, 1);
}

TEST(BlockTransformsTest, InverseDctLimitsHugeInputs) {
  int16_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(i % 2 ? 32767 : -32768);
  mxm::InverseDctChenWang(block);
  for (int i = 0; i < 64; ++i) {
    EXPECT_GE(block[i], -256);
    EXPECT_LE(block[i], 255);
  }
  EXPECT_EQ(mxm::ClipIdct(-100000), -256);
  EXPECT_EQ(mxm::ClipIdct(100000), 255);
  EXPECT_EQ(mxm::ClipIdct(-7), -7);
}

TEST(BlockTransformsTest, ForwardDctOfConstantBlockIsEightTimesTheValue) {
  for (int v : {0, 1, 50, -128, 127, 255, -256}) {
    int16_t block[64];
    for (int16_t& s : block) s = static_cast<int16_t>(v);
    mxm::ForwardDctFloat(block);
    // Single precision may land a hair below 8v; truncation toward zero then takes one off.
    EXPECT_LE(std::abs(block[0] - 8 * v), 1) << v;
    EXPECT_LE(std::abs(block[0]), std::abs(8 * v)) << v;
    for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0) << v << " at " << i;
  }
}

TEST(BlockTransformsTest, ForwardDctTruncatesTowardZeroWithinOneOfTheExactTransform) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> sample(-256, 255);
  for (int n = 0; n < 500; ++n) {
    int16_t block[64];
    for (int16_t& s : block) s = static_cast<int16_t>(sample(rng));
    double exact[64];
    ExactFdct(block, exact);
    mxm::ForwardDctFloat(block);
    for (int i = 0; i < 64; ++i) {
      ASSERT_LT(std::abs(block[i] - exact[i]), 1.0 + 1e-3) << "block " << n << " at " << i;
      ASSERT_LE(std::abs(block[i]), std::abs(exact[i]) + 1e-3) << "block " << n << " at " << i;
    }
  }
}

TEST(BlockTransformsTest, ForwardThenInverseReturnsTheSamples) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> sample(-200, 200);
  int16_t samples[64], block[64];
  for (int i = 0; i < 64; ++i) block[i] = samples[i] = static_cast<int16_t>(sample(rng));
  mxm::ForwardDctFloat(block);
  mxm::InverseDctChenWang(block);
  for (int i = 0; i < 64; ++i) EXPECT_LE(std::abs(block[i] - samples[i]), 2) << i;
}

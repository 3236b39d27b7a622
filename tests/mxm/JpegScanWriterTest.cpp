// Bit-level output of the JPEG writer: padding, stuffing, limits and buffer growth.
#include <gtest/gtest.h>

#include "mxm/JpegScanWriter.h"

namespace {

std::vector<uint8_t> Written(const mxm::JpegScanWriter& w) { return {w.Data(), w.Data() + w.Size()}; }

mxm::EncodingSet Luminance() { return mxm::EncodingSet::Build(mxm::kStdDcLuminance.data(), mxm::kStdAcLuminance.data()); }
mxm::EncodingSet Chrominance() {
  return mxm::EncodingSet::Build(mxm::kStdDcChrominance.data(), mxm::kStdAcChrominance.data());
}

}  // namespace

TEST(JpegScanWriterTest, LastByteIsPaddedWithOneBits) {
  mxm::JpegScanWriter w;
  int pred = 0;
  const int16_t zero[64] = {};
  w.EncodeBlock(zero, pred, Luminance());  // DC size 0 "00", end of block "1010"
  w.Finish();
  EXPECT_EQ(Written(w), std::vector<uint8_t>({0x2B}));  // 001010 + 11
}

TEST(JpegScanWriterTest, TrailingZeroBytesAreWritten) {
  mxm::JpegScanWriter w;
  int pred = 0;
  const int16_t zero[64] = {};
  const mxm::EncodingSet chroma = Chrominance();
  // Chrominance DC size 0 is "00" and end of block "00": four blocks are 16 zero bits.
  for (int i = 0; i < 4; ++i) w.EncodeBlock(zero, pred, chroma);
  w.Finish();
  EXPECT_EQ(Written(w), std::vector<uint8_t>({0x00, 0x00}));
  // Two blocks: one zero byte, no padding needed.
  w.Reset();
  for (int i = 0; i < 2; ++i) w.EncodeBlock(zero, pred, chroma);
  w.Finish();
  EXPECT_EQ(Written(w), std::vector<uint8_t>({0x00}));
}

TEST(JpegScanWriterTest, FfBytesAreFollowedByZero) {
  mxm::JpegScanWriter w;
  int pred = 0;
  // DC difference -2047: size 11 code "111111110" then 11 value bits 00000000000. And a difference of
  // +1023 (size 10, "11111110", value 1111111111) gives an 0xFF byte.
  int16_t block[64] = {};
  block[0] = 1023;
  block[1] = 0;
  const mxm::EncodingSet lum = Luminance();
  w.EncodeBlock(block, pred, lum);
  w.Finish();
  const std::vector<uint8_t> out = Written(w);
  // 11111110 1111111111 1010 + pad: FE FF 00 EB? -> bits: 11111110 11111111 11101011
  EXPECT_EQ(out, std::vector<uint8_t>({0xFE, 0xFF, 0x00, 0xEB}));
  EXPECT_EQ(pred, 1023);
}

TEST(JpegScanWriterTest, DifferencesAndValuesBeyondBaselineAreLimited) {
  mxm::JpegScanWriter w;
  int pred = -1500;
  int16_t block[64] = {};
  block[0] = 1500;  // difference 3000
  block[1] = 5000;  // AC value beyond size 10
  w.EncodeBlock(block, pred, Luminance());
  EXPECT_EQ(pred, -1500 + 2047);  // the predictor follows what a decoder reconstructs
  w.Finish();
  // DC size 11 code (111111110) + 11 ones, AC (0,10) code 1111111110000011 + 10 ones, EOB 1010.
  const std::vector<uint8_t> out = Written(w);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 0x00);
}

TEST(JpegScanWriterTest, BufferGrowsInsteadOfDroppingData) {
  mxm::JpegScanWriter w;
  const size_t initial = w.Capacity();
  EXPECT_EQ(initial, size_t{1} << 20);
  // Blocks of alternating full-size values: about 180 bytes each.
  int16_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(i % 2 ? 1000 : -1000);
  int pred = 0;
  size_t blocks = 0;
  while (w.Size() < 3 * initial) {
    w.EncodeBlock(block, pred, Luminance());
    ++blocks;
  }
  w.Finish();
  EXPECT_GT(w.Capacity(), 3 * initial);
  // Every block has the same length after the first, so the size is an exact multiple.
  mxm::JpegScanWriter one;
  int p1 = 0;
  one.EncodeBlock(block, p1, Luminance());
  one.EncodeBlock(block, p1, Luminance());
  one.Finish();
  mxm::JpegScanWriter first;
  int p2 = 0;
  first.EncodeBlock(block, p2, Luminance());
  first.Finish();
  EXPECT_GT(w.Size(), (blocks - 1) * (one.Size() - first.Size()));
}

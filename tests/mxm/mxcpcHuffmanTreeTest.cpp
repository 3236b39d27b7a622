// Huffman tree building against the canonical codes, and the Annex K tables against libjpeg-turbo's.
#include <gtest/gtest.h>

#include <cstdio>

#include <jpeglib.h>

#include "mxm/JpegScanWriter.h"
#include "mxm/mxcpcHuffmanTree.h"
#include "mxpegenc/HuffmanBuilder.h"

namespace {

std::vector<uint8_t> ToVector(const uint8_t* data) {
  int count = 0;
  for (int i = 0; i < 16; ++i) count += data[i];
  return std::vector<uint8_t>(data, data + 16 + count);
}

// Every symbol decodes from its canonical code, by the tree walk and by the tables.
void ExpectCanonical(const std::vector<uint8_t>& spec) {
  const auto tree = mxm::mxcpcHuffmanTree::Build(spec.data());
  ASSERT_NE(tree, nullptr);
  uint16_t code[256];
  uint8_t length[256];
  mxpegenc::BuildCodeTable(spec, code, length);
  for (size_t i = 16; i < spec.size(); ++i) {
    const uint8_t s = spec[i];
    EXPECT_EQ(tree->DecodeBits(code[s], length[s]), s) << "symbol " << int(s);
    const mxm::mxcpcHuffmanTree::Code e = tree->Decode(static_cast<uint32_t>(code[s]) << (16 - length[s]));
    EXPECT_EQ(e.length, length[s]) << "symbol " << int(s);
    EXPECT_EQ(e.symbol, s);
  }
}

}  // namespace

TEST(mxcpcHuffmanTreeTest, AnnexKTablesMatchLibjpegDefaults) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  cinfo.in_color_space = JCS_YCbCr;
  cinfo.input_components = 3;
  jpeg_set_defaults(&cinfo);
  const JHUFF_TBL* theirs[4] = {cinfo.dc_huff_tbl_ptrs[0], cinfo.ac_huff_tbl_ptrs[0], cinfo.dc_huff_tbl_ptrs[1],
                                cinfo.ac_huff_tbl_ptrs[1]};
  const uint8_t* ours[4] = {mxm::kStdDcLuminance.data(), mxm::kStdAcLuminance.data(), mxm::kStdDcChrominance.data(),
                            mxm::kStdAcChrominance.data()};
  for (int t = 0; t < 4; ++t) {
    int count = 0;
    for (int l = 1; l <= 16; ++l) {
      EXPECT_EQ(ours[t][l - 1], theirs[t]->bits[l]) << "table " << t << " length " << l;
      count += ours[t][l - 1];
    }
    EXPECT_EQ(count, t % 2 == 0 ? 12 : 162);
    for (int i = 0; i < count; ++i) EXPECT_EQ(ours[t][16 + i], theirs[t]->huffval[i]) << "table " << t << " #" << i;
  }
  jpeg_destroy_compress(&cinfo);
}

TEST(mxcpcHuffmanTreeTest, TreesGiveCanonicalCodes) {
  ExpectCanonical(ToVector(mxm::kStdDcLuminance.data()));
  ExpectCanonical(ToVector(mxm::kStdAcLuminance.data()));
  ExpectCanonical(ToVector(mxm::kStdDcChrominance.data()));
  ExpectCanonical(ToVector(mxm::kStdAcChrominance.data()));
  // A skewed table with codes up to 16 bits.
  std::vector<uint8_t> skewed = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2};
  for (int s = 0; s < 17; ++s) skewed.push_back(static_cast<uint8_t>(0x10 + s));
  ExpectCanonical(skewed);
}

TEST(mxcpcHuffmanTreeTest, CodesThatDoNotFitFailAndUnusedPatternsLeadToTheSentinel) {
  // Three codes of length 1 cannot exist.
  const std::vector<uint8_t> overfull = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
  EXPECT_EQ(mxm::mxcpcHuffmanTree::Build(overfull.data()), nullptr);
  // Two codes of length 2 (00, 01): 1x is no code.
  const std::vector<uint8_t> partial = {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 9};
  const auto tree = mxm::mxcpcHuffmanTree::Build(partial.data());
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->DecodeBits(0b00, 2), 7);
  EXPECT_EQ(tree->DecodeBits(0b01, 2), 9);
  EXPECT_EQ(tree->DecodeBits(0b10, 2), -1);
  EXPECT_EQ(tree->DecodeBits(0b11, 2), -1);
  EXPECT_EQ(tree->Decode(0b1000000000000000).length, 0);
  EXPECT_EQ(tree->Decode(0b0100000000000000).length, 2);
  // The sentinel's children are itself.
  EXPECT_EQ(tree->NodeAt(mxm::mxcpcHuffmanTree::kSentinel).left, mxm::mxcpcHuffmanTree::kSentinel);
  EXPECT_EQ(tree->NodeAt(mxm::mxcpcHuffmanTree::kSentinel).right, mxm::mxcpcHuffmanTree::kSentinel);
}

// The tables must accept and refuse exactly what the bit-by-bit walk does, for every 16-bit pattern:
// the walk's symbol and the number of bits it took, or a refusal where it meets the sentinel.
TEST(mxcpcHuffmanTreeTest, TablesDecodeEveryBitPatternAsTheTreeWalk) {
  std::vector<std::vector<uint8_t>> specs = {ToVector(mxm::kStdDcLuminance.data()), ToVector(mxm::kStdAcLuminance.data()),
                                             ToVector(mxm::kStdAcChrominance.data())};
  // Incomplete tables leave holes at every depth; the skewed one has codes of all 16 lengths.
  specs.push_back({0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 9});
  std::vector<uint8_t> skewed = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  for (int s = 0; s < 16; ++s) skewed.push_back(static_cast<uint8_t>(0x20 + s));
  specs.push_back(skewed);
  std::vector<uint8_t> longOnly(16, 0);
  longOnly[11] = 3;  // three codes of 12 bits, nothing shorter
  longOnly[15] = 5;  // and five of 16 bits
  for (int s = 0; s < 8; ++s) longOnly.push_back(static_cast<uint8_t>(0x40 + s));
  specs.push_back(longOnly);
  for (size_t t = 0; t < specs.size(); ++t) {
    const auto tree = mxm::mxcpcHuffmanTree::Build(specs[t].data());
    ASSERT_NE(tree, nullptr) << "table " << t;
    int mismatches = 0, codes = 0;
    for (uint32_t bits = 0; bits < 0x10000; ++bits) {
      int walkSymbol = -1, walkLength = 0;
      for (int n = 1; n <= 16 && walkSymbol < 0; ++n) {
        // The walk's answer for the first n bits; a prefix that ends at the sentinel stays -1 for longer n too.
        const int s = tree->DecodeBits(bits >> (16 - n), n);
        if (s >= 0) walkSymbol = s, walkLength = n;
      }
      const mxm::mxcpcHuffmanTree::Code c = tree->Decode(bits);
      codes += c.length != 0;
      const bool same = walkSymbol < 0 ? c.length == 0 : (c.length == walkLength && c.symbol == walkSymbol);
      if (!same && ++mismatches <= 3)
        ADD_FAILURE() << "table " << t << " bits " << std::hex << bits << ": walk " << walkSymbol << "/" << walkLength
                      << ", tables " << int(c.symbol) << "/" << int(c.length);
    }
    EXPECT_EQ(mismatches, 0) << "table " << t;
    EXPECT_GT(codes, 0) << "table " << t;
  }
}

// The short-code table must give what Decode and EXTEND give for the same bits, or nothing.
TEST(mxcpcHuffmanTreeTest, ShortAcEntriesAgreeWithDecodeAndExtend) {
  constexpr int kBits = mxm::mxcpcHuffmanTree::kFastBits;
  for (const uint8_t* spec : {mxm::kStdAcLuminance.data(), mxm::kStdAcChrominance.data(), mxm::kStdDcLuminance.data()}) {
    const auto tree = mxm::mxcpcHuffmanTree::Build(spec);
    ASSERT_NE(tree, nullptr);
    int filled = 0;
    for (uint32_t bits = 0; bits < (1u << kBits); ++bits) {
      const int32_t e = tree->FastAc(bits);
      const mxm::mxcpcHuffmanTree::Code c = tree->Decode(bits << (16 - kBits));
      const int size = c.symbol & 15;
      const bool fits = c.length != 0 && c.length + size <= kBits;
      ASSERT_EQ(e != 0, fits) << std::hex << bits;
      if (!fits) continue;
      ++filled;
      EXPECT_EQ(e & 31, c.length + size);
      EXPECT_EQ((e & mxm::mxcpcHuffmanTree::kFastValue) != 0, size != 0);
      EXPECT_EQ((e >> 8) & 255, c.symbol);
      int want = 0;
      if (size != 0) {
        const int raw = static_cast<int>((bits >> (kBits - c.length - size)) & ((1u << size) - 1));
        want = raw >= (1 << (size - 1)) ? raw : raw - (1 << size) + 1;
      }
      EXPECT_EQ(e >> 16, want) << std::hex << bits;
    }
    EXPECT_GT(filled, 1 << (kBits - 1));  // most patterns start with a short code and value
  }
}

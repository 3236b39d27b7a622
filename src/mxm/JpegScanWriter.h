// Baseline JPEG output of the converter: the Annex K Huffman tables (T.81 Tables K.3 to K.6), their
// precomputed encoding entries, and the entropy buffer with its bit accumulator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace mxm {

// DHT data of the typical tables: 16 counts followed by the symbols.
extern const std::array<uint8_t, 28> kStdDcLuminance;
extern const std::array<uint8_t, 178> kStdAcLuminance;
extern const std::array<uint8_t, 28> kStdDcChrominance;
extern const std::array<uint8_t, 178> kStdAcChrominance;

// One encoding set (DC and AC of one component class). Entry layout: total bit count (code length
// plus value bits) in the top five bits, the code shifted left by the value size in the low 27 bits.
// AC symbol (run r, size s) sits at s * 16 + r; the DC entry of size s at s + 1, indexes that no AC
// symbol uses (run 1..12 with size 0).
struct EncodingSet {
  std::array<uint32_t, 176> entries{};
  static EncodingSet Build(const uint8_t* dcSpec, const uint8_t* acSpec);
};

// Bit k set when the coefficient at zig-zag position k (1..63) of the natural-order block is non-zero;
// bit 0 (the DC place) stays clear. Coding loops visit only these (most of a block is zero).
uint64_t AcNonZeroZigZag(const int16_t* block);

// Writes blocks as baseline Huffman data. The buffer starts at 1 MiB and grows when a block might not
// fit, so no picture is ever cut; it is kept and reused from picture to picture.
// Growth may throw std::bad_alloc; the caller then drops the picture and calls Reset().
class JpegScanWriter {
 public:
  static constexpr size_t kInitialCapacity = 1u << 20;
  // Worst case of one block: DC code (16) + 11 bits, 63 x (16-bit code + 10 bits), every byte
  // stuffed, plus the four bytes the accumulator may still hold: well under 512 bytes.
  static constexpr size_t kMaxBlockBytes = 512;
  static constexpr int kDcLimit = 2047;  // size 11
  static constexpr int kAcLimit = 1023;  // size 10

  explicit JpegScanWriter(size_t initialCapacity = kInitialCapacity);

  void Reset();
  // Codes one block (natural order). pred tracks what a decoder reconstructs: a DC difference beyond
  // +-2047 is limited to it, an AC value beyond +-1023 likewise, so every block is written and no size
  // exceeds the tables.
  void EncodeBlock(const int16_t* block, int& pred, const EncodingSet& set);
  // Pads the last byte with 1-bits and writes every pending byte.
  void Finish();

  const uint8_t* Data() const { return buffer_.get(); }
  size_t Size() const { return size_; }
  size_t Capacity() const { return capacity_; }

 private:
  void Put(uint32_t bits, int count);
  void EmitBytes(uint32_t word, int bytes);
  void EmitWord(uint32_t word);
  void EnsureRoom();

  std::unique_ptr<uint8_t[]> buffer_;  // not initialised: only written bytes are ever read
  size_t capacity_ = 0;
  size_t size_ = 0;
  uint64_t accumulator_ = 0;  // the low pending_ bits are not yet written
  int pending_ = 0;
};

}  // namespace mxm

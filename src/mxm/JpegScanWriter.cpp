// Annex K tables, encoding entries and the growing entropy buffer of the JPEG output.
#include "mxm/JpegScanWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "mxm/MxPEGScanDecoderCore.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUILLON_CODER_SSE2 1
#endif

namespace mxm {

const std::array<uint8_t, 28> kStdDcLuminance = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0,
                                                 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const std::array<uint8_t, 28> kStdDcChrominance = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0,
                                                   0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const std::array<uint8_t, 178> kStdAcLuminance = {
    0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
    0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa};
const std::array<uint8_t, 178> kStdAcChrominance = {
    0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
    0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0,
    0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26,
    0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
    0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
    0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa};

namespace {

// Canonical codes (T.81 Annex C) of a DHT table: calls emit(symbol, code, length) for each symbol.
template <typename Emit>
void ForEachCode(const uint8_t* spec, Emit emit) {
  uint32_t code = 0;
  const uint8_t* symbol = spec + 16;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < spec[length - 1]; ++i) emit(*symbol++, code++, length);
    code <<= 1;
  }
}

// Local copy of the zig-zag sequence, so that its inverse below is built at compile time.
constexpr uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr std::array<uint8_t, 64> kNaturalToZigZag = [] {
  std::array<uint8_t, 64> inverse{};
  for (int k = 0; k < 64; ++k) inverse[kZigZag[k]] = static_cast<uint8_t>(k);
  return inverse;
}();

// Bit i set when block[i] != 0.
inline uint64_t NonZeroMask(const int16_t* block) {
#ifdef QUILLON_CODER_SSE2
  // Sixteen at a time: packing to bytes saturates, so a non-zero value stays non-zero.
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int g = 0; g < 4; ++g) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * g));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * g + 8));
    const auto zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_packs_epi16(a, b), zero)));
    mask |= static_cast<uint64_t>(~zeros & 0xFFFFu) << (16 * g);
  }
  return mask;
#else
  // Four coefficients per 64-bit word: a lane's top bit is set when any of its bits is, and one
  // multiplication gathers the four top bits into a nibble.
  constexpr uint64_t kLow = 0x7FFF7FFF7FFF7FFFull;
  constexpr uint64_t kGather = (uint64_t{1} << 48) | (uint64_t{1} << 33) | (uint64_t{1} << 18) | (uint64_t{1} << 3);
  uint64_t mask = 0;
  for (int g = 0; g < 16; ++g) {
    const auto lane = [&](int i) { return static_cast<uint64_t>(static_cast<uint16_t>(block[4 * g + i])); };
    const uint64_t x = lane(0) | (lane(1) << 16) | (lane(2) << 32) | (lane(3) << 48);
    const uint64_t flags = ((((x & kLow) + kLow) | x) & ~kLow) >> 15;  // bits 0, 16, 32, 48
    mask |= (((flags * kGather) >> 48) & 0xF) << (4 * g);
  }
  return mask;
#endif
}

inline int MagnitudeSize(int v) {
  const unsigned a = static_cast<unsigned>(v < 0 ? -v : v);
  return static_cast<int>(std::bit_width(a));
}

}  // namespace

uint64_t AcNonZeroZigZag(const int16_t* block) {
  uint64_t natural = NonZeroMask(block) & ~uint64_t{1};
  uint64_t zigzag = 0;
  for (; natural != 0; natural &= natural - 1) zigzag |= uint64_t{1} << kNaturalToZigZag[std::countr_zero(natural)];
  return zigzag;
}

EncodingSet EncodingSet::Build(const uint8_t* dcSpec, const uint8_t* acSpec) {
  EncodingSet set;
  ForEachCode(acSpec, [&](uint8_t symbol, uint32_t code, int length) {
    const int run = symbol >> 4, size = symbol & 15;
    if (size > 10) return;  // not a baseline symbol
    set.entries[static_cast<size_t>(size * 16 + run)] =
        (static_cast<uint32_t>(length + size) << 27) | (code << size);
  });
  ForEachCode(dcSpec, [&](uint8_t symbol, uint32_t code, int length) {
    if (symbol > 11) return;
    set.entries[static_cast<size_t>(symbol + 1)] = (static_cast<uint32_t>(length + symbol) << 27) | (code << symbol);
  });
  return set;
}

JpegScanWriter::JpegScanWriter(size_t initialCapacity)
    : buffer_(new uint8_t[std::max(initialCapacity, kMaxBlockBytes)]), capacity_(std::max(initialCapacity, kMaxBlockBytes)) {}

// Doubles the buffer when the worst case of one more block might not fit; the written bytes move along.
void JpegScanWriter::EnsureRoom() {
  if (capacity_ - size_ >= kMaxBlockBytes) return;
  std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity_ * 2]);
  std::memcpy(bigger.get(), buffer_.get(), size_);
  buffer_ = std::move(bigger);
  capacity_ *= 2;
}

void JpegScanWriter::Reset() {
  size_ = 0;
  accumulator_ = 0;
  pending_ = 0;
}

// Writes `bytes` bytes from the top of word, each 0xFF followed by a stuffed 0x00 so that no
// marker appears inside the entropy-coded data.
inline void JpegScanWriter::EmitBytes(uint32_t word, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    const uint8_t b = static_cast<uint8_t>(word >> (8 * i));
    buffer_[size_++] = b;
    if (b == 0xFF) buffer_[size_++] = 0x00;
  }
}

// Four bytes at once unless one of them is 0xFF (then byte by byte with stuffing).
inline void JpegScanWriter::EmitWord(uint32_t word) {
  const uint32_t inverted = ~word;
  if (((inverted - 0x01010101u) & ~inverted & 0x80808080u) == 0) {
    uint8_t* p = buffer_.get() + size_;
    p[0] = static_cast<uint8_t>(word >> 24);
    p[1] = static_cast<uint8_t>(word >> 16);
    p[2] = static_cast<uint8_t>(word >> 8);
    p[3] = static_cast<uint8_t>(word);
    size_ += 4;
  } else {
    EmitBytes(word, 4);
  }
}

// count <= 27; pending_ < 32 before, so the accumulator never holds more than 58 bits.
inline void JpegScanWriter::Put(uint32_t bits, int count) {
  accumulator_ = (accumulator_ << count) | bits;
  pending_ += count;
  if (pending_ >= 32) {
    pending_ -= 32;
    EmitWord(static_cast<uint32_t>(accumulator_ >> pending_));
    accumulator_ &= (uint64_t{1} << pending_) - 1;
  }
}

void JpegScanWriter::EncodeBlock(const int16_t* block, int& pred, const EncodingSet& set) {
  EnsureRoom();
  const int diff = std::clamp(block[0] - pred, -kDcLimit, kDcLimit);
  pred += diff;
  const int dcSize = MagnitudeSize(diff);
  const uint32_t dcEntry = set.entries[static_cast<size_t>(dcSize + 1)];
  Put((dcEntry & 0x7FFFFFFu) | (static_cast<uint32_t>(diff < 0 ? diff - 1 : diff) & ((1u << dcSize) - 1)),
      static_cast<int>(dcEntry >> 27));
  uint64_t nonZero = AcNonZeroZigZag(block);
  int last = 0;
  while (nonZero != 0) {
    const int k = std::countr_zero(nonZero);
    nonZero &= nonZero - 1;
    int run = k - last - 1;
    last = k;
    for (; run > 15; run -= 16) Put(set.entries[15] & 0x7FFFFFFu, static_cast<int>(set.entries[15] >> 27));
    const int v = std::clamp<int>(block[kZigZag[k]], -kAcLimit, kAcLimit);
    const int size = MagnitudeSize(v);
    const uint32_t entry = set.entries[static_cast<size_t>(size * 16 + run)];
    Put((entry & 0x7FFFFFFu) | (static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << size) - 1)),
        static_cast<int>(entry >> 27));
  }
  if (last != 63) Put(set.entries[0] & 0x7FFFFFFu, static_cast<int>(set.entries[0] >> 27));
}

void JpegScanWriter::Finish() {
  EnsureRoom();
  const int pad = (8 - pending_ % 8) % 8;
  if (pad != 0) Put((1u << pad) - 1, pad);
  const int bytes = pending_ / 8;
  if (bytes > 0) EmitBytes(static_cast<uint32_t>(accumulator_), bytes);
  accumulator_ = 0;
  pending_ = 0;
}

}  // namespace mxm

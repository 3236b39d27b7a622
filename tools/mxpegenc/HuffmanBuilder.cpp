// Huffman code tables and block coding of the MxPEG encoder.
#include "mxpegenc/HuffmanBuilder.h"

#include <array>
#include <cstdlib>
#include <stdexcept>

namespace mxpegenc {

int MagnitudeSize(int v) {
  int a = std::abs(v), n = 0;
  while (a != 0) {
    ++n;
    a >>= 1;
  }
  return n;
}

void BuildCodeTable(const std::vector<uint8_t>& spec, uint16_t* code, uint8_t* length) {
  for (int s = 0; s < 256; ++s) code[s] = 0, length[s] = 0;
  if (spec.size() < 16) throw std::invalid_argument("Huffman table shorter than its counts");
  uint32_t next = 0;
  size_t symbol = 16;
  for (int l = 1; l <= 16; ++l) {
    for (int i = 0; i < spec[l - 1]; ++i) {
      if (symbol >= spec.size()) throw std::invalid_argument("Huffman table shorter than its counts say");
      code[spec[symbol]] = static_cast<uint16_t>(next++);
      length[spec[symbol++]] = static_cast<uint8_t>(l);
    }
    if (next > (1u << l)) throw std::invalid_argument("Huffman counts over-subscribe a code length");
    next <<= 1;
  }
}

std::vector<uint8_t> BuildOptimalTable(const uint32_t* frequencies) {
  std::array<uint64_t, 257> freq{};
  std::array<int, 257> codeSize{};
  std::array<int, 257> others{};
  for (int i = 0; i < 256; ++i) freq[i] = frequencies[i];
  freq[256] = 1;  // reserves the all-ones code point
  others.fill(-1);
  for (;;) {
    int c1 = -1, c2 = -1;
    for (int i = 0; i <= 256; ++i)
      if (freq[i] != 0 && (c1 < 0 || freq[i] <= freq[c1])) c1 = i;
    for (int i = 0; i <= 256; ++i)
      if (freq[i] != 0 && i != c1 && (c2 < 0 || freq[i] <= freq[c2])) c2 = i;
    if (c2 < 0) break;
    freq[c1] += freq[c2];
    freq[c2] = 0;
    for (++codeSize[c1]; others[c1] >= 0; ++codeSize[c1]) c1 = others[c1];
    others[c1] = c2;
    for (++codeSize[c2]; others[c2] >= 0; ++codeSize[c2]) c2 = others[c2];
  }
  std::array<int, 64> bits{};
  for (int i = 0; i <= 256; ++i)
    if (codeSize[i] > 0) ++bits[codeSize[i]];
  // Limit code lengths to 16 (T.81 Figure K.3).
  for (int i = 63; i > 16; --i) {
    while (bits[i] > 0) {
      int j = i - 2;
      while (bits[j] == 0) --j;
      bits[i] -= 2;
      bits[i - 1] += 1;
      bits[j + 1] += 2;
      bits[j] -= 1;
    }
  }
  int longest = 16;
  while (longest > 0 && bits[longest] == 0) --longest;
  if (longest > 0) --bits[longest];  // the reserved code point leaves the table
  std::vector<uint8_t> spec;
  for (int l = 1; l <= 16; ++l) spec.push_back(static_cast<uint8_t>(bits[l]));
  for (int l = 1; l < 64; ++l)
    for (int s = 0; s < 256; ++s)
      if (codeSize[s] == l) spec.push_back(static_cast<uint8_t>(s));
  return spec;
}

void CountBlockSymbols(const int16_t* block, int& pred, const uint8_t* zigzag, uint32_t* dcFreq, uint32_t* acFreq) {
  ++dcFreq[MagnitudeSize(block[0] - pred)];
  pred = block[0];
  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int v = block[zigzag[k]];
    if (v == 0) {
      ++run;
      continue;
    }
    for (; run > 15; run -= 16) ++acFreq[0xF0];
    ++acFreq[(run << 4) | MagnitudeSize(v)];
    run = 0;
  }
  if (run > 0) ++acFreq[0x00];
}

namespace {

void PutValue(BitSink& sink, int v, int size) {
  if (size > 0) sink.Put(static_cast<uint32_t>(v < 0 ? v - 1 : v), size);
}

}  // namespace

void EncodeBlock(BitSink& sink, const int16_t* block, int& pred, const uint8_t* zigzag, const uint16_t* dcCode,
                 const uint8_t* dcLength, const uint16_t* acCode, const uint8_t* acLength) {
  const int diff = block[0] - pred;
  pred = block[0];
  const int dcSize = MagnitudeSize(diff);
  sink.Put(dcCode[dcSize], dcLength[dcSize]);
  PutValue(sink, diff, dcSize);
  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int v = block[zigzag[k]];
    if (v == 0) {
      ++run;
      continue;
    }
    for (; run > 15; run -= 16) sink.Put(acCode[0xF0], acLength[0xF0]);
    const int size = MagnitudeSize(v);
    const int symbol = (run << 4) | size;
    sink.Put(acCode[symbol], acLength[symbol]);
    PutValue(sink, v, size);
    run = 0;
  }
  if (run > 0) sink.Put(acCode[0x00], acLength[0x00]);
}

}  // namespace mxpegenc

// MxPEG table slots and baseline Huffman block decoding (T.81 F.2.2).
#include "mxm/MxPEGScanDecoderCore.h"

#include "mxm/JpegScanWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace mxm {

const std::array<uint8_t, 64> kZigZagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

void MxPEGScanDecoderCore::SetQuantTable(int number, const uint8_t* zigzagValues) {
  number = std::clamp(number, 0, 3);
  quant_[number].reset();
  auto table = std::unique_ptr<std::array<uint16_t, 64>>(new (std::nothrow) std::array<uint16_t, 64>);
  if (!table) return;  // out of memory: the slot stays empty and frames that need it yield nothing
  for (int k = 0; k < 64; ++k) (*table)[kZigZagToNatural[k]] = zigzagValues[k];
  quant_[number] = std::move(table);
}

bool MxPEGScanDecoderCore::SetHuffmanTable(const mxmHuffmanTableId& id, const uint8_t* data) {
  const int slot = (id.tableClass != 0 ? 4 : 0) + std::clamp(id.tableNumber, 0, 3);
  trees_[slot].reset();
  standard_[slot] = StandardTable::kNone;
  try {
    trees_[slot] = mxcpcHuffmanTree::Build(data);
  } catch (const std::bad_alloc&) {
    trees_[slot].reset();
  }
  if (trees_[slot] == nullptr) return true;
  size_t symbols = 0;
  for (int i = 0; i < 16; ++i) symbols += data[i];
  auto same = [&](const uint8_t* table, size_t size) { return 16 + symbols == size && std::memcmp(data, table, size) == 0; };
  if (id.tableClass == 0) {
    if (same(kStdDcLuminance.data(), kStdDcLuminance.size())) standard_[slot] = StandardTable::kDcLuminance;
    else if (same(kStdDcChrominance.data(), kStdDcChrominance.size())) standard_[slot] = StandardTable::kDcChrominance;
  } else {
    if (same(kStdAcLuminance.data(), kStdAcLuminance.size())) standard_[slot] = StandardTable::kAcLuminance;
    else if (same(kStdAcChrominance.data(), kStdAcChrominance.size())) standard_[slot] = StandardTable::kAcChrominance;
  }
  return false;
}

MxPEGScanDecoderCore::StandardTable MxPEGScanDecoderCore::StandardKind(int tableClass, int number) const {
  if (number < 0 || number > 3) return StandardTable::kNone;
  return standard_[(tableClass != 0 ? 4 : 0) + number];
}

const mxcpcHuffmanTree* MxPEGScanDecoderCore::HuffmanTree(int tableClass, int number) const {
  if (number < 0 || number > 3) return nullptr;
  return trees_[(tableClass != 0 ? 4 : 0) + number].get();
}

const uint16_t* MxPEGScanDecoderCore::QuantTable(int number) const {
  if (number < 0 || number > 3 || !quant_[number]) return nullptr;
  return quant_[number]->data();
}

void MxPEGScanDecoderCore::BeginScan(const uint8_t* data, uint32_t length) {
  pos_ = data;
  end_ = data + length;
  bitBuffer_ = 0;
  bitCount_ = 0;
  atMarker_ = false;
  padBytes_ = 0;
  padded_ = 0;
}

bool MxPEGScanDecoderCore::Restart(uint32_t index) {
  bitCount_ -= bitCount_ % 8;  // the padding bits of the interval's last byte
  // Whole bytes still buffered must all be the zeros put in past the marker, none of them read.
  const uint32_t buffered = static_cast<uint32_t>(bitCount_ / 8);
  if (atMarker_ ? buffered != padded_ : buffered != 0) return false;
  const uint8_t* p = pos_;  // at the marker's first 0xFF, or the next unread byte
  while (end_ - p >= 2 && p[0] == 0xFF && p[1] == 0xFF) ++p;  // fill bytes
  if (end_ - p < 2 || p[0] != 0xFF || p[1] != 0xD0 + (index & 7)) return false;
  pos_ = p + 2;
  bitBuffer_ = 0;
  bitCount_ = 0;
  atMarker_ = false;
  padBytes_ = 0;
  padded_ = 0;
  return true;
}

bool MxPEGScanDecoderCore::ScanEndedCleanly() const {
  if (!atMarker_ || static_cast<uint32_t>(bitCount_ / 8) >= padded_) return true;  // no zero bit read
  const uint8_t* p = pos_;
  while (end_ - p >= 2 && p[0] == 0xFF && p[1] == 0xFF) ++p;
  return !(end_ - p >= 2 && p[1] >= 0xD0 && p[1] <= 0xD7);
}

// Tops the bit buffer up to at least 57 bits while input (or zero padding past a marker) lasts, byte
// by byte: the decoder's own refill takes eight plain bytes in one load and leaves the rest to this.
void MxPEGScanDecoderCore::FillBits() {
  while (bitCount_ <= 56) {
    uint8_t byte = 0;
    if (!atMarker_) {
      if (pos_ >= end_) return;
      byte = *pos_;
      if (byte == 0xFF) {
        if (end_ - pos_ >= 2 && pos_[1] == 0x00) {
          pos_ += 2;  // stuffed 0x00 after a data 0xFF
        } else {
          atMarker_ = true;  // end of the entropy-coded data
          padBytes_ = static_cast<uint32_t>(end_ - pos_);
          continue;
        }
      } else {
        ++pos_;
      }
    } else {
      if (padBytes_ == 0) return;
      --padBytes_;
      ++padded_;
    }
    bitBuffer_ = (bitBuffer_ << 8) | byte;
    bitCount_ += 8;
  }
}

MxPEGScanDecoderCore::Recorded MxPEGScanDecoderCore::DecodeBlocks(const BlockPlan* plan, int count,
                                                                  int16_t* predictors, int16_t* out,
                                                                  BitWordWriter* bits, uint32_t* pieces) {
  return bits != nullptr ? Decode<true>(plan, count, predictors, out, bits, pieces)
                         : Decode<false>(plan, count, predictors, out, nullptr, nullptr);
}

// The bit buffer lives in locals for the whole unit, so that the compiler keeps it in registers, and
// is held there with the next bit at the top (bit 63): a code is consumed by one shift, which keeps the
// chain from one table read to the next short. The members see it again (unread bits at the bottom)
// only around the byte-by-byte refill and at the end.
// Recording: `snap` is the buffer as it was `snapCount` bits ago, so its top snapCount - cnt bits are
// the bits consumed since and not yet recorded; they go out before each refill and before a DC code
// that is not recorded.
template <bool kRecord>
MxPEGScanDecoderCore::Recorded MxPEGScanDecoderCore::Decode(const BlockPlan* plan, int count, int16_t* predictors,
                                                            int16_t* out, BitWordWriter* bits, uint32_t* pieces) {
  int cnt = bitCount_;
  uint64_t acc = cnt != 0 ? bitBuffer_ << (64 - cnt) : 0;
  uint64_t snap = acc;
  int snapCount = cnt;
  bool exact = true;
  auto consume = [&](int n) {  // n in 0..63
    acc <<= n;
    cnt -= n;
  };
  auto take = [&](int n) {  // the next n bits (1..16), consumed
    const uint32_t v = static_cast<uint32_t>(acc >> (64 - n));
    consume(n);
    return v;
  };
  auto mark = [&]() {
    snap = acc;
    snapCount = cnt;
  };
  auto flush = [&]() {
    const int n = snapCount - cnt;  // 0..64: a byte-by-byte refill can fill all 64 bits
    if (n == 64) {
      bits->Put(snap >> 32, 32);
      bits->Put(snap & 0xFFFFFFFFu, 32);
    } else if (n > 0) {
      bits->Put(snap >> (64 - n), n);
    }
    mark();
  };
  // Tops the buffer up to 57..63 bits in one load when eight bytes without 0xFF are at hand (no
  // stuffing, no marker); else FillBits byte by byte. `record`: the consumed bits count.
  auto refill = [&](bool record) {
    if (kRecord && record) flush();
    if (!atMarker_ && end_ - pos_ >= 8) {
      const uint64_t word = LoadBigEndian64(pos_);
      const uint64_t inverted = ~word;  // a 0xFF byte of word is a zero byte here
      if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
        const int bytes = (63 - cnt) >> 3;  // >= 4: refills come below 32 bits
        // Whole bytes only: the bits of the next byte below them would be read again next time.
        acc |= (word >> (64 - 8 * bytes)) << (64 - cnt - 8 * bytes);
        cnt += 8 * bytes;
        pos_ += bytes;
        if (kRecord) mark();
        return;
      }
    }
    bitBuffer_ = cnt != 0 ? acc >> (64 - cnt) : 0;
    bitCount_ = cnt;
    FillBits();
    cnt = bitCount_;
    acc = cnt != 0 ? bitBuffer_ << (64 - cnt) : 0;
    if (kRecord) mark();
  };
  // Checked steps for the end of the data, where fewer bits than a code and value may be left: a code
  // longer than the bits left fails, as the tree walk runs out of bits there (the bits below cnt are
  // zeros).
  auto symbolChecked = [&](const mxcpcHuffmanTree& tree, bool record) {
    if (cnt < 16) refill(record);
    const mxcpcHuffmanTree::Code code = tree.Decode(static_cast<uint32_t>(acc >> 48));
    if (code.length == 0 || code.length > cnt) return -1;
    consume(code.length);
    return static_cast<int>(code.symbol);
  };
  auto receiveChecked = [&](int size, int& value, bool record) {  // EXTEND (T.81 F.2.2.1), size 1..16
    if (cnt < size) {
      refill(record);
      if (cnt < size) return false;
    }
    value = Extend(static_cast<int>(take(size)), size);
    return true;
  };
  auto finish = [&](Recorded result) {
    if (kRecord) flush();
    bitBuffer_ = cnt != 0 ? acc >> (64 - cnt) : 0;
    bitCount_ = cnt;
    return result;
  };
  constexpr int kFast = mxcpcHuffmanTree::kFastBits;
  // The length field of a FastAc entry; the flag above it stays clear of the 6 bits a shift uses.
  constexpr int kFastLength = 63;
  static_assert(mxcpcHuffmanTree::kFastValue > kFastLength, "the value flag must lie above the length");
  const uint8_t* const zigzag = kZigZagToNatural.data();
  std::memset(out, 0, static_cast<size_t>(count) * 64 * sizeof(int16_t));
  for (int b = 0; b < count; ++b, out += 64) {
    const BlockPlan& p = plan[b];
    const mxcpcHuffmanTree& dc = *p.dc;
    const mxcpcHuffmanTree& ac = *p.ac;
    if (cnt < kMaxDcBits) refill(true);
    if (kRecord && !p.recordDc) flush();  // the bits before the DC code go in, the DC's stay out
    int diff = 0;
    if (cnt >= kMaxDcBits) {
      const int32_t fast = dc.FastAc(static_cast<uint32_t>(acc >> (64 - kFast)));
      if (fast != 0) {
        consume(fast & kFastLength);
        diff = fast >> 16;
      } else {
        const mxcpcHuffmanTree::Code code = dc.Decode(static_cast<uint32_t>(acc >> 48));
        if (code.length == 0) return finish(Recorded::kFailed);
        consume(code.length);
        const int size = code.symbol & 15;
        if (size > kMaxDcSize) return finish(Recorded::kFailed);
        if (size != 0) diff = Extend(static_cast<int>(take(size)), size);
      }
    } else {
      const int symbol = symbolChecked(dc, p.recordDc);
      if (symbol < 0) return finish(Recorded::kFailed);
      const int size = symbol & 15;
      if (size > kMaxDcSize) return finish(Recorded::kFailed);
      if (size != 0 && !receiveChecked(size, diff, p.recordDc)) return finish(Recorded::kFailed);
    }
    if (kRecord && !p.recordDc) mark();
    int16_t& pred = predictors[p.component];
    if (kRecord && (pred + diff < INT16_MIN || pred + diff > INT16_MAX)) exact = false;
    pred = static_cast<int16_t>(pred + diff);  // the store keeps 16 bits
    out[0] = pred;
    bool zeroRunOpen = false;  // a ZRL that no value has closed yet
    for (int k = 1; k < 64;) {
      if (cnt < kMaxAcBits) refill(true);
      int symbol, value = 0;
      if (cnt >= kMaxAcBits) {
        const int32_t fast = ac.FastAc(static_cast<uint32_t>(acc >> (64 - kFast)));
        if ((fast & mxcpcHuffmanTree::kFastValue) != 0) {
          // Fastest path: a short code and its value from one table read.
          consume(fast & kFastLength);
          k += (fast >> 12) & 15;
          if (k > 63) return finish(Recorded::kFailed);
          out[zigzag[k++]] = static_cast<int16_t>(fast >> 16);
          if (kRecord) zeroRunOpen = false;
          continue;
        }
        if (fast != 0) {  // a short code without value: end of block or a zero run
          consume(fast & kFastLength);
          symbol = (fast >> 8) & 255;
        } else {
          // A code (<= 16 bits) and its value (<= 10 bits) are both in the buffer.
          const mxcpcHuffmanTree::Code code = ac.Decode(static_cast<uint32_t>(acc >> 48));
          if (code.length == 0) return finish(Recorded::kFailed);
          consume(code.length);
          symbol = code.symbol;
          const int size = symbol & 15;
          if (size > kMaxAcSize) return finish(Recorded::kFailed);
          if (size != 0) value = Extend(static_cast<int>(take(size)), size);
        }
      } else {
        symbol = symbolChecked(ac, true);
        if (symbol < 0) return finish(Recorded::kFailed);
        const int size = symbol & 15;
        if (size > kMaxAcSize) return finish(Recorded::kFailed);
        if (size != 0 && !receiveChecked(size, value, true)) return finish(Recorded::kFailed);
      }
      if (symbol == 0) break;  // end of block
      const int run = symbol >> 4;
      if (run + 1 > 64 - k) return finish(Recorded::kFailed);
      if (kRecord) {
        // The coder writes a ZRL only before a value and size 0 only as ZRL or end of block.
        if ((symbol & 15) == 0) {
          if (symbol != 0xF0) exact = false;
          zeroRunOpen = true;
        } else {
          zeroRunOpen = false;
        }
      }
      k += run;
      out[zigzag[k++]] = static_cast<int16_t>(value);
    }
    // An open zero run also covers a block that ended at position 63 without end-of-block code, as the
    // coder does only when that value is not zero.
    if (kRecord && zeroRunOpen) exact = false;
    if (kRecord && p.endsPiece) {
      flush();
      *pieces++ = bits->ClosePiece();
    }
  }
  return finish(exact ? Recorded::kExact : Recorded::kInexact);
}

}  // namespace mxm

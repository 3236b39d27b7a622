// MxPEG table slots and baseline Huffman block decoding (T.81 F.2.2).
#include "mxm/MxPEGScanDecoderCore.h"

#include "mxm/JpegScanWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

// For the slow paths of the block decoder: kept out of its loop, so that the loop's state fits in registers.
#if defined(__GNUC__) || defined(__clang__)
#define MXM_NOINLINE __attribute__((noinline))
#else
#define MXM_NOINLINE
#endif

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

bool MxPEGScanDecoderCore::BeginScan(const uint8_t* data, uint32_t length) {
  end_ = data + length;
  try {
    // An interval's bytes without stuffing are never more than the scan's, plus the zeros to load past them.
    if (plain_.size() < size_t{length} + kPlainSlack) plain_.resize(size_t{length} + kPlainSlack);
  } catch (const std::bad_alloc&) {
    plain_.clear();
    return false;
  }
  BeginInterval(data);
  return true;
}

// Copies the entropy-coded bytes from `from` up to the next marker (0xFF followed by anything but
// 0x00) or the end of the scan into plain_, dropping the 0x00 after each 0xFF; eight bytes at a time
// while none of them is 0xFF. The bytes from the marker to the end of the scan may be read as zeros.
void MxPEGScanDecoderCore::BeginInterval(const uint8_t* from) {
  const uint8_t* p = from;
  uint8_t* out = plain_.data();
  for (;;) {
    while (end_ - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      const uint64_t inverted = ~word;  // a 0xFF byte of word is a zero byte here
      if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0) break;
      std::memcpy(out, p, sizeof word);
      out += 8;
      p += 8;
    }
    const uint8_t* stop = end_ - p >= 8 ? p + 8 : end_;  // the eight bytes with a 0xFF, or the tail
    while (p < stop && *p != 0xFF) *out++ = *p++;
    if (p == end_) break;
    if (p == stop) continue;
    if (end_ - p < 2 || p[1] != 0x00) break;  // a marker ends the data
    *out++ = 0xFF;  // a data 0xFF and its stuffed 0x00
    p += 2;
  }
  marker_ = p;
  plainLength_ = static_cast<uint32_t>(out - plain_.data());
  padLength_ = static_cast<uint32_t>(end_ - p);
  std::memset(out, 0, kPlainSlack);
  next_ = 0;
  acc_ = 0;
  bitCount_ = 0;
}

bool MxPEGScanDecoderCore::Restart(uint32_t index) {
  bitCount_ -= bitCount_ % 8;  // the padding bits of the interval's last byte
  // All data must be read, and whole bytes still buffered must all be the zeros put in past the marker.
  if (next_ < plainLength_ || static_cast<uint32_t>(bitCount_ / 8) != next_ - plainLength_) return false;
  const uint8_t* p = marker_;
  while (end_ - p >= 2 && p[0] == 0xFF && p[1] == 0xFF) ++p;  // fill bytes
  if (end_ - p < 2 || p[0] != 0xFF || p[1] != 0xD0 + (index & 7)) return false;
  BeginInterval(p + 2);
  return true;
}

bool MxPEGScanDecoderCore::ScanEndedCleanly() const {
  const uint32_t padded = next_ > plainLength_ ? next_ - plainLength_ : 0;
  if (static_cast<uint32_t>(bitCount_ / 8) >= padded) return true;  // no zero bit read
  const uint8_t* p = marker_;
  while (end_ - p >= 2 && p[0] == 0xFF && p[1] == 0xFF) ++p;
  return !(end_ - p >= 2 && p[1] >= 0xD0 && p[1] <= 0xD7);
}

// Byte by byte near the end of the interval's data, then zeros while the padding lasts. The bits
// below the ones held must be zeros.
MXM_NOINLINE MxPEGScanDecoderCore::BitState MxPEGScanDecoderCore::FillBytes(BitState s) const {
  while (s.count <= 56) {
    uint8_t byte = 0;
    if (s.next < plainLength_) {
      byte = plain_[s.next];
    } else if (s.next - plainLength_ >= padLength_) {
      break;
    }
    ++s.next;
    s.acc |= uint64_t{byte} << (56 - s.count);
    s.count += 8;
  }
  return s;
}

// Tops the buffer up to 56..63 bits with one load while eight data bytes are at hand: the bits of a
// ninth byte that come along are the same as it brings in next time. Else FillBytes byte by byte.
inline MxPEGScanDecoderCore::BitState MxPEGScanDecoderCore::Refill(BitState s) const {
  if (s.next + 8 <= plainLength_) {
    s.acc |= LoadBigEndian64(plain_.data() + s.next) >> s.count;
    s.next += static_cast<uint32_t>(63 - s.count) >> 3;
    s.count |= 56;
    return s;
  }
  return FillBytes(BitState{s.count != 0 ? s.acc & ~(~uint64_t{0} >> s.count) : 0, s.count, s.next});
}

// A code the combined table does not hold, and its value (symbol read as run << 4 | size, size up to
// maxSize). With a code and value's worth of bits held, no further checks; near the end of the data,
// a code longer than the bits left fails, as the tree walk runs out of bits there. (Bits below the
// ones held do not matter: a code found within them is found whatever follows.) Symbol -1: failed.
MXM_NOINLINE MxPEGScanDecoderCore::LongCode MxPEGScanDecoderCore::DecodeLong(const mxcpcHuffmanTree& tree, BitState s,
                                                                              int maxSize) const {
  auto take = [&](int n) {  // the next n bits (1..16), consumed
    const uint32_t v = static_cast<uint32_t>(s.acc >> (64 - n));
    s.acc <<= n;
    s.count -= n;
    return v;
  };
  const int need = 16 + maxSize;
  if (s.count < need) s = Refill(s);
  if (s.count < 16) s = Refill(s);
  const mxcpcHuffmanTree::Code code = tree.Decode(static_cast<uint32_t>(s.acc >> 48));
  if (code.length == 0 || code.length > s.count) return LongCode{s, -1, 0};
  take(code.length);
  const int size = code.symbol & 15;
  if (size > maxSize) return LongCode{s, -1, 0};
  int value = 0;
  if (size != 0) {
    if (s.count < size) {
      s = Refill(s);
      if (s.count < size) return LongCode{s, -1, 0};
    }
    value = Extend(static_cast<int>(take(size)), size);
  }
  return LongCode{s, code.symbol, value};
}

// The 64 bits of the interval from bit `at` on; bits past its data are zeros.
uint64_t MxPEGScanDecoderCore::PlainBits(uint64_t at) const {
  const uint64_t byte = at / 8;
  auto at8 = [&](uint64_t i) -> uint64_t { return i < plainLength_ ? plain_[i] : 0; };
  uint64_t v = 0;
  for (uint64_t i = byte; i < byte + 8; ++i) v = (v << 8) | at8(i);
  const int shift = static_cast<int>(at % 8);
  return shift != 0 ? (v << shift) | (at8(byte + 8) >> (8 - shift)) : v;
}

// Appends bits [from, to) of the interval to `bits`: whole words with one load each while the data
// (and the zero slack after it) lasts.
void MxPEGScanDecoderCore::RecordPlain(BitWordWriter& bits, uint64_t from, uint64_t to) const {
  if (to <= from) return;
  const int shift = static_cast<int>(from % 8);
  const uint8_t* p = plain_.data() + from / 8;
  uint64_t n = to - from;
  if (to / 8 + 10 <= uint64_t{plainLength_} + kPlainSlack) {  // the last load ends before byte to / 8 + 10
    for (;; p += 8, n -= 64) {
      const uint64_t w = (LoadBigEndian64(p) << shift) | (uint64_t{p[8]} >> (8 - shift));  // >> 8 of a byte: 0
      if (n < 64) {
        bits.Put(w >> (64 - n), static_cast<int>(n));
        return;
      }
      bits.PutWord(w);
      if (n == 64) return;
    }
  }
  for (; n >= 64; from += 64, n -= 64) bits.PutWord(PlainBits(from));
  if (n != 0) bits.Put(PlainBits(from) >> (64 - n), static_cast<int>(n));
}

MxPEGScanDecoderCore::Recorded MxPEGScanDecoderCore::DecodeBlocks(const BlockPlan* plan, int count,
                                                                  int16_t* predictors, int16_t* out,
                                                                  BitWordWriter* bits, uint32_t* pieces) {
  return bits != nullptr ? Decode<true>(plan, count, predictors, out, bits, pieces)
                         : Decode<false>(plan, count, predictors, out, nullptr, nullptr);
}

// The bit buffer lives in locals for the whole unit, so that the compiler keeps it in registers, and
// is held with the next bit at the top (bit 63): a code is consumed by one shift, which keeps the
// chain from one table read to the next short. The members see it again only around the byte-by-byte
// refill and at the end.
// Recording copies the bits read from the interval's plain bytes by position, [from, the current bit),
// before a DC code that stays out, at the end of each piece and at the end.
template <bool kRecord>
MxPEGScanDecoderCore::Recorded MxPEGScanDecoderCore::Decode(const BlockPlan* plan, int count, int16_t* predictors,
                                                            int16_t* out, BitWordWriter* bits, uint32_t* pieces) {
  uint64_t acc = acc_;
  int cnt = bitCount_;
  uint32_t next = next_;
  const uint8_t* const plain = plain_.data();
  const uint32_t fastLimit = plainLength_ >= 8 ? plainLength_ - 7 : 0;  // below it, eight data bytes follow
  bool exact = true;
  auto position = [&]() { return uint64_t{next} * 8 - static_cast<uint64_t>(cnt); };
  uint64_t from = position();
  auto consume = [&](int n) {  // n in 0..63
    acc <<= n;
    cnt -= n;
  };
  // The fast case of Refill, in place.
  auto refill = [&]() {
    if (next < fastLimit) [[likely]] {
      acc |= LoadBigEndian64(plain + next) >> cnt;
      next += static_cast<uint32_t>(63 - cnt) >> 3;
      cnt |= 56;
      return;
    }
    // Passed and returned by value, so that the state stays in registers here.
    const BitState s = FillBytes(BitState{cnt != 0 ? acc & ~(~uint64_t{0} >> cnt) : 0, cnt, next});
    acc = s.acc;
    cnt = s.count;
    next = s.next;
  };
  auto decodeLong = [&](const mxcpcHuffmanTree& tree, int maxSize, int& value) {
    const LongCode c = DecodeLong(tree, BitState{acc, cnt, next}, maxSize);
    acc = c.state.acc;
    cnt = c.state.count;
    next = c.state.next;
    value = c.value;
    return c.symbol;
  };
  // One exit for success and one for failure: the bit state goes back to the members there only.
  auto finish = [&](Recorded result) {
    if (kRecord && position() != from) RecordPlain(*bits, from, position());
    acc_ = acc;
    bitCount_ = cnt;
    next_ = next;
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
    if (kRecord && !p.recordDc && position() != from) RecordPlain(*bits, from, position());  // the bits before it
    // A short code with its value needs no more than kFast bits; longer ones refill further.
    if (cnt < kFast) refill();
    int diff = 0;
    const int32_t dcFast = cnt >= kFast ? dc.FastAc(static_cast<uint32_t>(acc >> (64 - kFast))) : 0;
    if (dcFast != 0) [[likely]] {
      consume(dcFast & kFastLength);
      diff = dcFast >> 16;
    } else {
      if (decodeLong(dc, kMaxDcSize, diff) < 0) goto failed;
    }
    if (kRecord && !p.recordDc) from = position();  // the DC's bits stay out
    int16_t& pred = predictors[p.component];
    if (kRecord && (pred + diff < INT16_MIN || pred + diff > INT16_MAX)) exact = false;
    pred = static_cast<int16_t>(pred + diff);  // the store keeps 16 bits
    out[0] = pred;
    bool zeroRunOpen = false;  // a ZRL that no value has closed yet
    for (int k = 1; k < 64;) {
      if (cnt < kFast) refill();
      int symbol, value = 0;
      const int32_t fast = cnt >= kFast ? ac.FastAc(static_cast<uint32_t>(acc >> (64 - kFast))) : 0;
      if ((fast & mxcpcHuffmanTree::kFastValue) != 0) [[likely]] {
        // Fastest path: a short code and its value from one table read.
        consume(fast & kFastLength);
        k += (fast >> 12) & 15;
        if (k > 63) [[unlikely]] goto failed;
        out[zigzag[k++]] = static_cast<int16_t>(fast >> 16);
        if (kRecord) zeroRunOpen = false;
        continue;
      }
      if (fast != 0) {  // a short code without value: end of block or a zero run
        consume(fast & kFastLength);
        symbol = (fast >> 8) & 255;
      } else {
        symbol = decodeLong(ac, kMaxAcSize, value);
        if (symbol < 0) goto failed;
      }
      if (symbol == 0) break;  // end of block
      const int run = symbol >> 4;
      if (run + 1 > 64 - k) goto failed;
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
      const uint64_t at = position();
      RecordPlain(*bits, from, at);
      from = at;
      *pieces++ = bits->ClosePiece();
    }
  }
  return finish(exact ? Recorded::kExact : Recorded::kInexact);
failed:
  return finish(Recorded::kFailed);
}

}  // namespace mxm

// Tile-bit cache of the JPEG scan: the block coder into unstuffed words, the stuffing assembler, and
// the bookkeeping of the kept pieces (replacement, compaction).
#include "mxm/TileScanCache.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "mxm/MxPEGScanDecoderCore.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUILLON_STUFF_SSE2 1
#endif

namespace mxm {
namespace {

constexpr int kDcLimit = JpegScanWriter::kDcLimit;
constexpr int kAcLimit = JpegScanWriter::kAcLimit;
constexpr uint32_t kCodeMask = 0x7FFFFFFu;  // EncodingSet entry: code and value field

// Worst case of one block: DC code and value (16 + 11 bits) and 63 AC codes with values (16 + 10).
constexpr uint32_t kMaxBlockBits = 27 + 63 * 26;
// Six blocks in three word-aligned pieces.
constexpr size_t kMaxTileWords = (6 * kMaxBlockBits) / 64 + 4;
// Words of replaced pieces tolerated beyond the live ones before the kept pieces are moved together.
constexpr size_t kCompactSlackWords = 512;
static_assert(4 * kMaxBlockBits <= 0xFFFF, "the luma piece length must fit its 16-bit field");


// Most significant byte first in memory, as the scan's bytes go out; compilers make this one byte swap.
inline uint64_t BigEndian(uint64_t w) {
  if constexpr (std::endian::native == std::endian::little) {
    w = ((w & 0x00FF00FF00FF00FFull) << 8) | ((w >> 8) & 0x00FF00FF00FF00FFull);
    w = ((w & 0x0000FFFF0000FFFFull) << 16) | ((w >> 16) & 0x0000FFFF0000FFFFull);
    w = (w << 32) | (w >> 32);
  }
  return w;
}

// The 64 bits of p[0..7], p[0]'s first.
inline uint64_t LoadBits(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return BigEndian(v);
}

// True when one of the eight bytes of w is 0xFF (a zero byte of ~w).
inline bool HasFF(uint64_t w) {
  const uint64_t inverted = ~w;
  return ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
}

// Copies n bytes, each 0xFF followed by 0x00 so that no marker appears inside the entropy-coded data.
inline uint8_t* StuffBytes(const uint8_t* from, size_t n, uint8_t* p) {
  for (size_t i = 0; i < n; ++i) {
    *p++ = from[i];
    if (from[i] == 0xFF) *p++ = 0x00;
  }
  return p;
}

// Writes the eight bytes `bytes` holds in memory order, stuffed, at p; writes up to 8 bytes beyond
// the end. Works on the value itself: reading the bytes back from memory just stored in one wider
// piece would stall the store.
inline uint8_t* StuffEight(uint64_t bytes, uint8_t* p) {
  if (!HasFF(bytes)) {
    std::memcpy(p, &bytes, sizeof bytes);
    return p + 8;
  }
  const uint64_t x = ~bytes;  // a zero byte where `bytes` has 0xFF; the marks below are exact
  uint64_t marks = ~(((x & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | x) & 0x8080808080808080ull;
  if constexpr (std::endian::native != std::endian::little) {
    uint8_t b[8];
    std::memcpy(b, &bytes, sizeof b);
    return StuffBytes(b, 8, p);
  }
  int start = 0;  // the first byte not yet written; on little-endian hosts byte k sits at bits 8k..8k+7
  while (marks != 0) {
    const int k = std::countr_zero(marks) / 8;
    marks &= marks - 1;
    const uint64_t rest = bytes >> (8 * start);
    std::memcpy(p, &rest, sizeof rest);
    p += k + 1 - start;
    *p++ = 0x00;
    start = k + 1;
  }
  if (start < 8) {
    const uint64_t rest = bytes >> (8 * start);
    std::memcpy(p, &rest, sizeof rest);
    p += 8 - start;
  }
  return p;
}

// The first n bits (1..56) from bit `offset` of p; reads 8 bytes from the one holding that bit.
inline uint64_t TakeBits(const uint8_t* p, uint64_t offset, int n) {
  return (LoadBits(p + offset / 8) << (offset % 8)) >> (64 - n);
}

// The picture's scan, written twice as it goes: unstuffed (the bit string as bytes, first bit in the
// top of the first byte; the next picture copies runs of it from any bit offset) and stuffed into the
// output bytes. The DC codes and kept pieces of each tile, or runs of the previous picture's scan.
// Same pending-bit invariant as BitWordWriter. The caller sizes both buffers (Assemble's bound).
class ScanWriter {
 public:
  ScanWriter(uint8_t* plain, uint8_t* stuffed) : plain_(plain), start_(plain), stuffed_(stuffed) {}
  void Put(uint64_t value, int n) {  // n in 1..63, value < 2^n
    if (n < free_) {
      acc_ = (acc_ << n) | value;
      free_ -= n;
    } else {
      Emit((acc_ << free_) | (value >> (n - free_)));
      acc_ = value;
      free_ += 64 - n;
    }
  }
  // A whole word: the pending bit count stays the same.
  void PutWord(uint64_t w) {
    if (free_ == 64) {
      Emit(w);
    } else {
      Emit((acc_ << free_) | (w >> (64 - free_)));
      acc_ = w;
    }
  }
  // `bits` bits of word-aligned kept words.
  void Append(const uint64_t* words, uint32_t bits) {
    const uint32_t whole = bits / 64, rest = bits % 64;
    for (uint32_t i = 0; i < whole; ++i) PutWord(words[i]);
    if (rest != 0) Put(words[whole] >> (64 - rest), static_cast<int>(rest));
  }
  // `bits` bits from bit `offset` of the unstuffed bytes `from`, which hold 8 readable bytes beyond
  // the one with the last bit taken. Long runs go byte for byte once the output reaches a byte
  // boundary: shifted into place when the source sits at another bit of its byte, copied as they
  // are when not (a run whose tiles moved by whole bytes).
  void AppendFrom(const uint8_t* from, uint64_t offset, uint64_t bits) {
    if (bits >= kBulkBits) {
      const int lead = free_ % 8;  // bits still missing to a byte boundary of the output
      if (lead != 0) {
        Put(TakeBits(from, offset, lead), lead);
        offset += static_cast<uint64_t>(lead);
        bits -= static_cast<uint64_t>(lead);
      }
      FlushBytes();
      const size_t n = CopyBytes(from + offset / 8, static_cast<int>(offset % 8), static_cast<size_t>(bits / 8));
      offset += uint64_t{n} * 8;
      bits -= uint64_t{n} * 8;
    }
    for (; bits >= 56; bits -= 56, offset += 56) Put(TakeBits(from, offset, 56), 56);
    if (bits != 0) Put(TakeBits(from, offset, static_cast<int>(bits)), static_cast<int>(bits));
  }
  uint64_t BitPosition() const {
    return static_cast<uint64_t>(plain_ - start_) * 8 + static_cast<uint64_t>(64 - free_);
  }
  // Writes the pending bits as a last byte padded with zeros, and kSpareBytes zero bytes (room to
  // read beyond the last bit); the output bytes get them padded with 1-bits to a byte boundary.
  // Returns the end of the output bytes.
  uint8_t* Close() {
    const int pending = 64 - free_;
    const uint64_t last = pending != 0 ? acc_ << free_ : 0;
    const uint64_t bytes = BigEndian(last);
    std::memcpy(plain_, &bytes, sizeof bytes);
    std::memset(plain_ + (pending + 7) / 8, 0, kSpareBytes);
    if (pending != 0) {
      const uint64_t padded = last | (~uint64_t{0} >> pending);  // 1-bits after the last bit
      for (int b = 0; b < (pending + 7) / 8; ++b) {
        const uint8_t v = static_cast<uint8_t>(padded >> (56 - 8 * b));
        *stuffed_++ = v;
        if (v == 0xFF) *stuffed_++ = 0x00;
      }
    }
    return stuffed_;
  }

  static constexpr size_t kSpareBytes = 16;

 private:
  // Below this a run goes through the accumulator 56 bits at a time.
  static constexpr uint64_t kBulkBits = 160;

  void Emit(uint64_t w) {
    const uint64_t bytes = BigEndian(w);
    std::memcpy(plain_, &bytes, sizeof bytes);
    plain_ += 8;
    stuffed_ = StuffEight(bytes, stuffed_);
  }
  // Writes out the pending bits, a whole number of bytes.
  void FlushBytes() {
    const int pending = 64 - free_;
    if (pending == 0) return;
    const uint64_t w = acc_ << free_;
    const uint64_t bytes = BigEndian(w);
    const size_t n = static_cast<size_t>(pending / 8);
    std::memcpy(plain_, &bytes, sizeof bytes);  // the bytes beyond n are written over later
    if (!HasFF(w)) {
      std::memcpy(stuffed_, &bytes, sizeof bytes);
      stuffed_ += n;
    } else {
      stuffed_ = StuffBytes(plain_, n, stuffed_);
    }
    plain_ += n;
    acc_ = 0;
    free_ = 64;
  }
  // The n bytes from `from` but the last n % 8, each byte taken from bit `shift` (0..7) of its own on;
  // the output is at a byte boundary with nothing pending. Returns the bytes copied (the rest goes
  // through the accumulator). Reads the byte after the last one copied too.
  size_t CopyBytes(const uint8_t* from, int shift, size_t n) {
    uint8_t* plain = plain_;
    uint8_t* stuffed = stuffed_;
    size_t i = 0;
#ifdef QUILLON_STUFF_SSE2
    // Sixteen bytes at a time: a byte's upper part comes from its own byte shifted up, its lower part
    // from the next byte shifted down (16-bit shifts, the bits that cross into the other byte masked).
    const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i up = _mm_cvtsi32_si128(shift), down = _mm_cvtsi32_si128(8 - shift);
    const __m128i upper = _mm_set1_epi8(static_cast<char>(0xFF << shift));
    const __m128i lower = _mm_set1_epi8(static_cast<char>(0xFF >> (8 - shift)));
    for (; i + 16 <= n; i += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
      if (shift != 0) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 1));
        v = _mm_or_si128(_mm_and_si128(_mm_sll_epi16(v, up), upper), _mm_and_si128(_mm_srl_epi16(next, down), lower));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(plain + i), v);
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, ff)) == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(stuffed), v);
        stuffed += 16;
      } else {
        uint64_t half[2];  // loads within the store just made, which the processor forwards
        std::memcpy(half, plain + i, sizeof half);
        stuffed = StuffEight(half[1], StuffEight(half[0], stuffed));
      }
    }
#endif
    for (; i + 8 <= n; i += 8) {
      uint64_t w = LoadBits(from + i);
      if (shift != 0) w = (w << shift) | (from[i + 8] >> (8 - shift));
      const uint64_t bytes = BigEndian(w);
      std::memcpy(plain + i, &bytes, sizeof bytes);
      stuffed = StuffEight(bytes, stuffed);
    }
    plain_ = plain + i;
    stuffed_ = stuffed;
    return i;
  }

  uint8_t* plain_;
  uint8_t* start_;
  uint8_t* stuffed_;
  uint64_t acc_ = 0;
  int free_ = 64;
};

inline int MagnitudeSize(int v) { return static_cast<int>(std::bit_width(static_cast<unsigned>(v < 0 ? -v : v))); }

// Code and value bits of an entry (T.81 F.1.2.1: a negative value is written as value - 1).
template <class Sink>
inline void PutCoded(Sink& sink, uint32_t entry, int value, int size) {
  sink.Put((entry & kCodeMask) | (static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1)),
           static_cast<int>(entry >> 27));
}

template <class Sink>
inline void PutDcDifference(Sink& sink, int diff, const EncodingSet& set) {
  const int size = MagnitudeSize(diff);
  PutCoded(sink, set.entries[static_cast<size_t>(size + 1)], diff, size);
}

// The block's DC difference against pred, limited as a decoder would rebuild it; pred follows.
template <class Sink>
inline void PutDc(Sink& sink, const int16_t* block, int& pred, const EncodingSet& set) {
  const int diff = std::clamp(block[0] - pred, -kDcLimit, kDcLimit);
  pred += diff;
  PutDcDifference(sink, diff, set);
}

// The 63 AC coefficients: zero runs over 15 as ZRL codes, the end-of-block code unless position 63 is
// non-zero.
template <class Sink>
inline void PutAc(Sink& sink, const int16_t* block, const EncodingSet& set) {
  uint64_t nonZero = AcNonZeroZigZag(block);
  int last = 0;
  while (nonZero != 0) {
    const int k = std::countr_zero(nonZero);
    nonZero &= nonZero - 1;
    int run = k - last - 1;
    last = k;
    for (; run > 15; run -= 16) sink.Put(set.entries[15] & kCodeMask, static_cast<int>(set.entries[15] >> 27));
    const int v = std::clamp<int>(block[kZigZagToNatural[static_cast<size_t>(k)]], -kAcLimit, kAcLimit);
    const int size = MagnitudeSize(v);
    PutCoded(sink, set.entries[static_cast<size_t>(size * 16 + run)], v, size);
  }
  if (last != 63) sink.Put(set.entries[0] & kCodeMask, static_cast<int>(set.entries[0] >> 27));
}

}  // namespace

TileScanCache::TileScanCache() = default;

void TileScanCache::Resize(size_t tiles) {
  if (tiles != tiles_.size()) {
    tiles_.assign(tiles, Tile{});
    scanStart_.assign(tiles, 0);
    recoded_.assign(tiles, 0);
  } else {
    // Every full frame comes here: only what the next Write reads before writing it is reset (the
    // scan positions and flags are not read while previousValid_ is false).
    for (Tile& t : tiles_) {
      t.lumaBits = t.cbBits = t.crBits = 0;
      t.changed = true;
    }
  }
  changedCount_ = tiles;
  previousValid_ = false;
  used_ = liveWords_ = 0;
  liveBits_ = 0;
}

void TileScanCache::Invalidate() {
  for (Tile& t : tiles_) t.changed = true;
  changedCount_ = tiles_.size();
}

void TileScanCache::Write(const int16_t* store, const EncodingSet& luminance, const EncodingSet& chrominance) {
  if (changedCount_ == tiles_.size()) {
    Resize(tiles_.size());  // everything is coded again: start the words afresh
  } else if (used_ - liveWords_ > liveWords_ + kCompactSlackWords) {
    Compact();  // replaced pieces outweigh the kept ones: each compaction is paid by as many new words
  }
  const size_t worst = used_ + changedCount_ * kMaxTileWords;
  if (words_.size() < worst) words_.resize(std::max(worst, words_.size() * 2));
  if (changedCount_ != 0)
    for (size_t i = 0; i < tiles_.size(); ++i)
      if (tiles_[i].changed) CodeTile(i, store + i * kCoefficientsPerTile, luminance, chrominance);
  Assemble(store, luminance, chrominance);
}

// Codes one tile into new words at the end (room checked by Write). Block 0 goes without its DC
// code; blocks 1-3 chain their DC from block 0's coefficient, which is what a decoder rebuilds
// whenever block 0's own difference is within the limit (Assemble checks that).
void TileScanCache::CodeTile(size_t index, const int16_t* tile, const EncodingSet& luminance,
                             const EncodingSet& chrominance) {
  BitWordWriter sink(words_.data() + used_);
  int pred = tile[0];
  PutAc(sink, tile, luminance);
  for (int b = 1; b < 4; ++b) {
    PutDc(sink, tile + b * 64, pred, luminance);
    PutAc(sink, tile + b * 64, luminance);
  }
  const uint32_t lumaBits = sink.ClosePiece();
  PutAc(sink, tile + 4 * 64, chrominance);
  const uint32_t cbBits = sink.ClosePiece();
  PutAc(sink, tile + 5 * 64, chrominance);
  const uint32_t crBits = sink.ClosePiece();
  Keep(index, sink.Position(), lumaBits, cbBits, crBits, tile, pred);
}

uint64_t* TileScanCache::RecordingArea() {
  if (words_.size() < used_ + kMaxTileWords) words_.resize(std::max(used_ + kMaxTileWords, words_.size() * 2));
  return words_.data() + used_;
}

void TileScanCache::CommitRecorded(size_t index, const uint64_t* end, uint32_t lumaBits, uint32_t cbBits,
                                   uint32_t crBits, const int16_t* tile) {
  // Blocks 1-3 chained exactly from block 0's coefficient, so the predictor leaves at block 3's.
  Keep(index, end, lumaBits, cbBits, crBits, tile, tile[3 * 64]);
}

// The pieces at used_ .. end become the tile's kept bits; the old ones turn into space to reclaim.
void TileScanCache::Keep(size_t index, const uint64_t* end, uint32_t lumaBits, uint32_t cbBits, uint32_t crBits,
                         const int16_t* tile, int lumaExit) {
  Tile& t = tiles_[index];
  liveWords_ -= TileWords(t);
  liveBits_ -= uint64_t{t.lumaBits} + t.cbBits + t.crBits;
  t.lumaBits = static_cast<uint16_t>(lumaBits);
  t.cbBits = static_cast<uint16_t>(cbBits);
  t.crBits = static_cast<uint16_t>(crBits);
  t.offset = static_cast<uint32_t>(used_);
  used_ = static_cast<size_t>(end - words_.data());
  t.dcY = tile[0];
  t.dcCb = tile[4 * 64];
  t.dcCr = tile[5 * 64];
  t.lumaExit = static_cast<int16_t>(lumaExit);
  if (t.changed) {
    t.changed = false;
    --changedCount_;
  }
  recoded_[index] = 1;
  liveWords_ += TileWords(t);
  liveBits_ += uint64_t{t.lumaBits} + t.cbBits + t.crBits;
}

// Moves the kept pieces of unchanged tiles together, in tile order; changed tiles lose theirs.
void TileScanCache::Compact() {
  if (spare_.size() < words_.size()) spare_.resize(words_.size());
  size_t at = 0;
  for (Tile& t : tiles_) {
    if (t.changed) {
      liveWords_ -= TileWords(t);
      liveBits_ -= uint64_t{t.lumaBits} + t.cbBits + t.crBits;
      t.lumaBits = t.cbBits = t.crBits = 0;
      continue;
    }
    const uint32_t n = TileWords(t);
    std::memcpy(spare_.data() + at, words_.data() + t.offset, n * sizeof(uint64_t));
    t.offset = static_cast<uint32_t>(at);
    at += n;
  }
  words_.swap(spare_);
  used_ = at;
}

void TileScanCache::SetLeadingRoom(size_t bytes) {
  if (bytes == lead_) return;
  output_.reset();
  capacity_ = size_ = 0;
  lead_ = bytes;
}

// Grows by half again at least, so pictures that creep larger do not reallocate every time.
void TileScanCache::EnsureOutput(size_t bytes) {
  if (capacity_ >= bytes) return;
  const size_t grown = std::max(bytes, capacity_ + capacity_ / 2);
  output_.reset();
  capacity_ = 0;
  output_.reset(new uint8_t[lead_ + grown]);
  capacity_ = grown;
}

// The first tile from `from` on that was coded since the previous picture, or the tile count.
size_t TileScanCache::NextRecoded(size_t from) const {
  const size_t count = recoded_.size();
  size_t j = from;
  for (; j + 8 <= count; j += 8) {  // eight flags at a time: runs are mostly longer
    uint64_t flags;
    std::memcpy(&flags, &recoded_[j], sizeof flags);
    if (flags != 0)
      return j + static_cast<size_t>(std::endian::native == std::endian::little ? std::countr_zero(flags)
                                                                                : std::countl_zero(flags)) / 8;
  }
  while (j < count && !recoded_[j]) ++j;
  return j;
}

// Tile by tile: a tile that was not re-coded and meets the same three predictors as in the previous
// picture produces the same bits as then, and so does every unchanged tile after it; such runs are
// copied from the previous scan in one piece. Other tiles get their DC codes and kept pieces.
void TileScanCache::Assemble(const int16_t* store, const EncodingSet& luminance, const EncodingSet& chrominance) {
  // Kept bits plus at most three DC codes per tile, or four complete DC codes on the slow path.
  const uint64_t bound = liveBits_ + uint64_t{tiles_.size()} * 6 * 27;
  // The slack covers the writer's whole-group reads and writes beyond its position.
  const size_t plainBytes = static_cast<size_t>(bound / 8) + 32 + ScanWriter::kSpareBytes;
  if (next_.size() < plainBytes) next_.resize(std::max(plainBytes, next_.size() + next_.size() / 2));
  EnsureOutput(static_cast<size_t>(2 * (bound / 8) + 48 + kTrailingRoom));
  ScanWriter sink(next_.data(), MutableData());
  int predY = 0, predCb = 0, predCr = 0;
  const size_t count = tiles_.size();
  for (size_t i = 0; i < count;) {
    Tile& t = tiles_[i];
    if (!recoded_[i] && previousValid_ && t.inY == predY && t.inCb == predCb && t.inCr == predCr) {
      const size_t j = NextRecoded(i + 1);
      const uint64_t from = scanStart_[i];
      const uint64_t to = j < count ? scanStart_[j] : previousBits_;
      const uint64_t at = sink.BitPosition();
      for (size_t k = i; k < j; ++k) scanStart_[k] = scanStart_[k] - from + at;
      sink.AppendFrom(previous_.data(), from, to - from);
      if (j < count) {  // the run left the predictors as tile j met them last time
        predY = tiles_[j].inY;
        predCb = tiles_[j].inCb;
        predCr = tiles_[j].inCr;
      }
      i = j;
      continue;
    }
    scanStart_[i] = sink.BitPosition();
    t.inY = static_cast<int16_t>(predY);
    t.inCb = static_cast<int16_t>(predCb);
    t.inCr = static_cast<int16_t>(predCr);
    recoded_[i] = 0;
    const uint64_t* kept = words_.data() + t.offset;
    const int diff = t.dcY - predY;
    if (diff >= -kDcLimit && diff <= kDcLimit) {
      PutDcDifference(sink, diff, luminance);
      predY = t.lumaExit;
      sink.Append(kept, t.lumaBits);
    } else {
      // Block 0 is rebuilt off its coefficient, so the kept chain of blocks 1-3 does not hold here:
      // code the four luminance blocks from the store against the running predictor.
      const int16_t* tile = store + i * kCoefficientsPerTile;
      for (int b = 0; b < 4; ++b) {
        PutDc(sink, tile + b * 64, predY, luminance);
        PutAc(sink, tile + b * 64, luminance);
      }
    }
    kept += Words(t.lumaBits);
    const int cb = std::clamp(t.dcCb - predCb, -kDcLimit, kDcLimit);
    predCb += cb;
    PutDcDifference(sink, cb, chrominance);
    sink.Append(kept, t.cbBits);
    kept += Words(t.cbBits);
    const int cr = std::clamp(t.dcCr - predCr, -kDcLimit, kDcLimit);
    predCr += cr;
    PutDcDifference(sink, cr, chrominance);
    sink.Append(kept, t.crBits);
    ++i;
  }
  const uint64_t bits = sink.BitPosition();
  size_ = static_cast<size_t>(sink.Close() - Data());
  previous_.swap(next_);
  previousBits_ = bits;
  previousValid_ = true;
}

}  // namespace mxm

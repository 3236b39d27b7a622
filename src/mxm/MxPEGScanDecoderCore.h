// Tables of an MxPEG stream (quantisation and Huffman) and the baseline block decoder that reads a
// frame's entropy-coded scan.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mxm/BitWordWriter.h"
#include "mxm/mxcpcHuffmanTree.h"
#include "mxm/mxmHuffmanTableId.h"

namespace mxm {

// Natural (row-major) position of the k-th coefficient in zig-zag order (T.81 Figure A.6).
extern const std::array<uint8_t, 64> kZigZagToNatural;

// Tables persist from their DQT/DHT segment until replaced and serve every later frame.
// One instance serves one parser on one thread. No operation throws.
class MxPEGScanDecoderCore {
 public:
  static constexpr int kMaxDcSize = 11;  // largest DC difference category of 8-bit baseline JPEG
  static constexpr int kMaxAcSize = 10;  // largest AC value category

  MxPEGScanDecoderCore() = default;
  virtual ~MxPEGScanDecoderCore() = default;
  MxPEGScanDecoderCore(const MxPEGScanDecoderCore&) = delete;
  MxPEGScanDecoderCore& operator=(const MxPEGScanDecoderCore&) = delete;

  // number is limited to 0..3; zigzagValues: 64 bytes in zig-zag order.
  virtual void SetQuantTable(int number, const uint8_t* zigzagValues);
  // data: 16 code counts followed by the symbols. Returns true when the tree could NOT be built
  // (the slot is then empty), false on success.
  virtual bool SetHuffmanTable(const mxmHuffmanTableId& id, const uint8_t* data);

  // Which typical table of T.81 Annex K a Huffman slot holds: the same counts and symbols.
  enum class StandardTable : uint8_t { kNone, kDcLuminance, kAcLuminance, kDcChrominance, kAcChrominance };
  StandardTable StandardKind(int tableClass, int number) const;

  // Null while the slot is empty. Quantisation tables are in natural order.
  const mxcpcHuffmanTree* HuffmanTree(int tableClass, int number) const;
  const uint16_t* QuantTable(int number) const;

 protected:
  // Scan reader over [data, data + length): bits most significant first, 0x00 after 0xFF skipped.
  // At a marker (0xFF followed by anything but 0x00) the data ends; the remaining bytes read as zero
  // bits, and reading past the length fails. False when out of memory.
  bool BeginScan(const uint8_t* data, uint32_t length);
  // The end of a restart interval (T.81 F.2.2.5 / B.2.5): the rest of the current byte is padding, the
  // marker RSTn with n = index modulo 8 must follow (fill bytes before it allowed), and reading goes on
  // after it. False when the interval's data did not end exactly there or another marker follows.
  bool Restart(uint32_t index);
  // After the last block: false when the scan's data ended at a restart marker and the decoder read
  // past it (restart markers without a restart interval), so the blocks after it are made up.
  bool ScanEndedCleanly() const;

  // One block of a coded unit, as DecodeBlocks reads it.
  struct BlockPlan {
    const mxcpcHuffmanTree* dc = nullptr;
    const mxcpcHuffmanTree* ac = nullptr;
    int component = 0;       // which DC predictor the block chains from
    bool recordDc = true;    // while recording: its DC code and value go into the bits too
    bool endsPiece = false;  // while recording: the piece of bits is closed after this block
  };
  enum class Recorded { kFailed, kExact, kInexact };
  // Decodes `count` blocks (1..6) in the plan's order into out (64 natural-order values each, block
  // after block); predictors are indexed by component and become each block's DC. kFailed on an
  // invalid code, a value size above the baseline limits, an AC run past a block's end or a scan that
  // ran out.
  // With `bits`, every bit read is recorded into it (except the DC code and value of a block without
  // recordDc) and a piece is closed after each block with endsPiece, its length going to *pieces++.
  // kExact: these are the bits a baseline coder with the same tables writes for the blocks'
  // coefficients (and the DC differences). kInexact: the blocks decoded, but their bits are not those
  // (a zero run not followed by a value, a block that ends on zeros without end-of-block code, a DC
  // value that wrapped in 16 bits); the recorded bits are then of no use. Without `bits`, kExact or
  // kFailed.
  Recorded DecodeBlocks(const BlockPlan* plan, int count, int16_t* predictors, int16_t* out, BitWordWriter* bits,
                        uint32_t* pieces);

 private:
  static int Extend(int bits, int size) { return bits >= (1 << (size - 1)) ? bits : bits + 1 - (1 << size); }
  static uint64_t LoadBigEndian64(const uint8_t* p) {
#if defined(__GNUC__) || defined(__clang__)
    uint64_t v;  // one load and a byte swap (the loop below is not always recognised as one)
    std::memcpy(&v, p, sizeof v);
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? __builtin_bswap64(v) : v;
#else
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
#endif
  }

  struct BitState {
    uint64_t acc;
    int count;
    uint32_t next;
  };
  struct LongCode {
    BitState state;
    int symbol;
    int value;
  };
  void BeginInterval(const uint8_t* from);
  BitState FillBytes(BitState s) const;
  BitState Refill(BitState s) const;
  LongCode DecodeLong(const mxcpcHuffmanTree& tree, BitState s, int maxSize) const;
  uint64_t PlainBits(uint64_t at) const;
  void RecordPlain(BitWordWriter& bits, uint64_t from, uint64_t to) const;
  template <bool kRecord>
  Recorded Decode(const BlockPlan* plan, int count, int16_t* predictors, int16_t* out, BitWordWriter* bits,
                  uint32_t* pieces);

  std::array<std::unique_ptr<mxcpcHuffmanTree>, 8> trees_;  // class * 4 + number
  std::array<StandardTable, 8> standard_{};
  std::array<std::unique_ptr<std::array<uint16_t, 64>>, 4> quant_;

  // The restart interval being read, its stuffing removed, then kPlainSlack zero bytes. The bytes from
  // its marker to the end of the scan may be read past its data as zeros.
  static constexpr size_t kPlainSlack = 16;
  std::vector<uint8_t> plain_;
  uint32_t plainLength_ = 0;
  uint32_t padLength_ = 0;
  uint32_t next_ = 0;  // the next byte of plain_ (or of the padding past it) for the bit buffer
  const uint8_t* marker_ = nullptr;  // where the interval's data ends in the scan: a marker or the end
  const uint8_t* end_ = nullptr;
  uint64_t acc_ = 0;  // the top bitCount_ bits are unread; the bits below may be those of the next byte
  int bitCount_ = 0;
};

}  // namespace mxm

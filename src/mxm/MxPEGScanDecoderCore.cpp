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
  recorder_ = nullptr;
  recordMark_ = 0;
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
  recordMark_ = 0;
  return true;
}

bool MxPEGScanDecoderCore::ScanEndedCleanly() const {
  if (!atMarker_ || static_cast<uint32_t>(bitCount_ / 8) >= padded_) return true;  // no zero bit read
  const uint8_t* p = pos_;
  while (end_ - p >= 2 && p[0] == 0xFF && p[1] == 0xFF) ++p;
  return !(end_ - p >= 2 && p[1] >= 0xD0 && p[1] <= 0xD7);
}

// Tops the bit buffer up to at least 57 bits while input (or zero padding past a marker) lasts.
// Fast path: eight bytes at hand and none of them 0xFF (no stuffing, no marker) go in with one load.
void MxPEGScanDecoderCore::FillBits() {
  if (!atMarker_ && end_ - pos_ >= 8) {
    const uint64_t word = LoadBigEndian64(pos_);
    const uint64_t inverted = ~word;  // a 0xFF byte of word is a zero byte here
    if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
      const int bytes = (63 - bitCount_) >> 3;  // bitCount_ <= 56 after: 57..63 bits
      if (bytes > 0) {
        bitBuffer_ = (bitBuffer_ << (8 * bytes)) | (word >> (64 - 8 * bytes));
        bitCount_ += 8 * bytes;
        pos_ += bytes;
      }
      return;
    }
  }
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

// The next 16 bits, zeros past what the buffer holds (bitCount_ may be below 16 at the end of data).
inline uint32_t MxPEGScanDecoderCore::Peek16() const {
  return bitCount_ >= 16 ? static_cast<uint32_t>(bitBuffer_ >> (bitCount_ - 16)) & 0xFFFFu
                         : static_cast<uint32_t>(bitBuffer_ << (16 - bitCount_)) & 0xFFFFu;
}

// Checked path: a code longer than the bits left fails, as the tree walk runs out of bits there.
int MxPEGScanDecoderCore::DecodeSymbol(const mxcpcHuffmanTree& tree, int* length) {
  if (bitCount_ < 16) Fill();
  const mxcpcHuffmanTree::Code code = tree.Decode(Peek16());
  if (code.length == 0 || code.length > bitCount_) return -1;
  bitCount_ -= code.length;
  *length = code.length;
  return code.symbol;
}

// EXTEND (T.81 F.2.2.1) of the next `size` bits, size 1..16.
bool MxPEGScanDecoderCore::Receive(int size, int& value) {
  if (bitCount_ < size) {
    Fill();
    if (bitCount_ < size) return false;
  }
  bitCount_ -= size;
  value = Extend(static_cast<int>((bitBuffer_ >> bitCount_) & ((1u << size) - 1)), size);
  return true;
}

bool MxPEGScanDecoderCore::DecodeBlock(const mxcpcHuffmanTree& dc, const mxcpcHuffmanTree& ac, int16_t& pred,
                                       int16_t* block) {
  return Decode<false>(dc, ac, pred, block, false) != Recorded::kFailed;
}

MxPEGScanDecoderCore::Recorded MxPEGScanDecoderCore::DecodeBlockRecorded(const mxcpcHuffmanTree& dc,
                                                                         const mxcpcHuffmanTree& ac, int16_t& pred,
                                                                         int16_t* block, bool recordDc) {
  return Decode<true>(dc, ac, pred, block, recordDc);
}

// With kRecord the consumed bits reach the recorder through the buffer's mark (see Fill); a block
// whose DC is not recorded flushes before its DC and moves the mark past it.
template <bool kRecord>
MxPEGScanDecoderCore::Recorded MxPEGScanDecoderCore::Decode(const mxcpcHuffmanTree& dc, const mxcpcHuffmanTree& ac,
                                                            int16_t& pred, int16_t* block, bool recordDc) {
  constexpr Recorded kFailed = Recorded::kFailed;
  bool exact = true;
  for (int i = 0; i < 64; i += 4) {  // plain stores: cheaper than a library call for 128 bytes
    block[i] = 0;
    block[i + 1] = 0;
    block[i + 2] = 0;
    block[i + 3] = 0;
  }
  int length = 0;
  BitWordWriter* const recorder = recorder_;
  if (kRecord && !recordDc) {
    FlushRecording();
    recorder_ = nullptr;  // refills inside the DC record nothing
  }
  const int dcSymbol = DecodeSymbol(dc, &length);
  if (dcSymbol < 0) return kFailed;
  const int dcSize = dcSymbol & 15;
  if (dcSize > kMaxDcSize) return kFailed;
  int diff = 0;
  if (dcSize != 0) {
    if (!Receive(dcSize, diff)) return kFailed;
  }
  if (kRecord && !recordDc) {
    recorder_ = recorder;
    recordMark_ = bitCount_;  // the DC code and value stay out
  }
  if (kRecord && (pred + diff < INT16_MIN || pred + diff > INT16_MAX)) exact = false;
  pred = static_cast<int16_t>(pred + diff);  // the store keeps 16 bits
  block[0] = pred;
  bool zeroRunOpen = false;  // a ZRL that no value has closed yet
  for (int k = 1; k < 64;) {
    if (bitCount_ < kMaxCodeBits) Fill();
    int symbol, value = 0;
    constexpr int kShort = mxcpcHuffmanTree::kLookupBits;
    const int32_t fast =
        bitCount_ >= kMaxCodeBits ? ac.FastAc(static_cast<uint32_t>(bitBuffer_ >> (bitCount_ - kShort)) & ((1u << kShort) - 1)) : 0;
    if (fast != 0) {
      // Fastest path: a short code whose value bits fit the same lookup; one table read gives both.
      const int total = fast & 31;
      bitCount_ -= total;
      symbol = (fast >> 8) & 255;
      value = fast >> 16;
    } else if (bitCount_ >= kMaxCodeBits) {
      // Fast path: a code (<= 16 bits) and its value (<= 10 bits) are both in the buffer.
      const mxcpcHuffmanTree::Code code = ac.Decode(Peek16());
      if (code.length == 0) return kFailed;
      bitCount_ -= code.length;
      symbol = code.symbol;
      const int size = symbol & 15;
      if (size > kMaxAcSize) return kFailed;
      if (size != 0) {
        bitCount_ -= size;
        value = Extend(static_cast<int>((bitBuffer_ >> bitCount_) & ((1u << size) - 1)), size);
      }
    } else {
      // Checked path near the end of the scan data.
      symbol = DecodeSymbol(ac, &length);
      if (symbol < 0) return kFailed;
      const int size = symbol & 15;
      if (size > kMaxAcSize) return kFailed;
      if (size != 0) {
        if (!Receive(size, value)) return kFailed;
      }
    }
    if (symbol == 0) return exact && !zeroRunOpen ? Recorded::kExact : Recorded::kInexact;  // end of block
    const int run = symbol >> 4;
    if (run + 1 > 64 - k) return kFailed;
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
    block[kZigZagToNatural[k++]] = static_cast<int16_t>(value);
  }
  // Ended at position 63 without end-of-block code, as the coder does when that value is not zero.
  return exact && !zeroRunOpen ? Recorded::kExact : Recorded::kInexact;
}

}  // namespace mxm

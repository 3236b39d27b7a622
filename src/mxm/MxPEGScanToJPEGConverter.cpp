// Coefficient store, frame decoding (4:2:0 tiles and 4:2:2 units) and the JPEG picture writer.
#include "mxm/MxPEGScanToJPEGConverter.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <tuple>

#include "mxm/BlockTransforms.h"

namespace mxm {
namespace {

constexpr uint8_t kSoi[] = {0xFF, 0xD8};
constexpr uint8_t kEoi[] = {0xFF, 0xD9};
constexpr uint8_t kApp0[] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01,
                             0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
constexpr uint8_t kSos[] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
// The longest header: SOI, APP0, three DQT, SOF0, four DHT, SOS.
constexpr size_t kMaxHeaderBytes =
    sizeof kSoi + sizeof kApp0 + 3 * (5 + 64) + 19 + 4 * 5 + std::tuple_size_v<decltype(kStdDcLuminance)> +
    std::tuple_size_v<decltype(kStdAcLuminance)> + std::tuple_size_v<decltype(kStdDcChrominance)> +
    std::tuple_size_v<decltype(kStdAcChrominance)> + sizeof kSos;

// A hint that the lines of [p, p + bytes) are about to be written; nothing where the compiler has none.
inline void PrefetchForWrite(const void* p, size_t bytes) {
#if defined(__GNUC__) || defined(__clang__)
  for (size_t i = 0; i < bytes; i += 64) __builtin_prefetch(static_cast<const char*>(p) + i, 1, 3);
#else
  (void)p;
  (void)bytes;
#endif
}

bool PointerWithin(const uint8_t* p, const uint8_t* begin, const uint8_t* end) {
  const std::less<const uint8_t*> less;
  return !less(p, begin) && less(p, end);
}

}  // namespace

MxPEGScanToJPEGConverter::MxPEGScanToJPEGConverter(ISegmentedStreamReceiver* receiver)
    : receiver_(receiver),
      luminance_(EncodingSet::Build(kStdDcLuminance.data(), kStdAcLuminance.data())),
      chrominance_(EncodingSet::Build(kStdDcChrominance.data(), kStdAcChrominance.data())) {
  tileCache_.SetLeadingRoom(kMaxHeaderBytes);
}

MxPEGScanToJPEGConverter::~MxPEGScanToJPEGConverter() = default;

void MxPEGScanToJPEGConverter::SetQuantTable(int number, const uint8_t* zigzagValues) {
  MxPEGScanDecoderCore::SetQuantTable(number, zigzagValues);
}

bool MxPEGScanToJPEGConverter::SetHuffmanTable(const mxmHuffmanTableId& id, const uint8_t* data) {
  return MxPEGScanDecoderCore::SetHuffmanTable(id, data);
}

void MxPEGScanToJPEGConverter::SetMaxPictureSide(int32_t side) {
  maxPictureSide_ = std::clamp(side, 1, kMaxPictureSide);
}

void MxPEGScanToJPEGConverter::SetReferenceWriter(bool on) {
  if (on && !writer_) writer_ = std::make_unique<JpegScanWriter>(64 * 1024);  // grows with the pictures
  referenceWriter_ = on;
}

void MxPEGScanToJPEGConverter::ConvertFrame(const mxmUndecodedMxPEGFrameDescriptor& frame) {
  try {
    if (frame.componentCount != 3 || frame.scanData == nullptr || frame.scanLength == 0) return;
    const Layout layout = LayoutOf(frame);
    if (layout == Layout::kUnsupported) {
      ++unsupportedSampling_;  // decoded in another layout it would be a garbage picture
      return;
    }
    if (!SetUpSlots(frame, layout)) return;
    if (frame.width < 1 || frame.height < 1 || frame.width > maxPictureSide_ || frame.height > maxPictureSide_ ||
        frame.tileColumns != (frame.width + 15) / 16 || frame.tileRows != (frame.height + 15) / 16)
      return;
    if (!PrepareStore(frame.tileColumns, frame.tileRows)) return;
    ExpressStoreInFrameTables();
    if (!BeginScan(frame.scanData, frame.scanLength)) return;
    if (!DecodeUnits(frame, layout)) return;
    WritePicture(frame.width, frame.height);
  } catch (...) {
    // Out of memory while growing the entropy buffer, or a receiver that threw: no picture.
    if (writer_) writer_->Reset();
    tileCache_.Invalidate();
  }
}

MxPEGScanToJPEGConverter::Layout MxPEGScanToJPEGConverter::LayoutOf(const mxmUndecodedMxPEGFrameDescriptor& frame) {
  const mxmComponentRecord* c = frame.components;
  if (c[1].hSampling != 1 || c[1].vSampling != 1 || c[2].hSampling != 1 || c[2].vSampling != 1) return Layout::kUnsupported;
  if (c[0].hSampling == 2 && c[0].vSampling == 2) return Layout::k420;
  if (c[0].hSampling == 2 && c[0].vSampling == 1) return Layout::k422;
  return Layout::kUnsupported;
}

bool MxPEGScanToJPEGConverter::SetUpSlots(const mxmUndecodedMxPEGFrameDescriptor& frame, Layout layout) {
  static constexpr int kComponent420[6] = {0, 0, 0, 0, 1, 2};
  static constexpr int kComponent422[4] = {0, 0, 1, 2};
  const bool standard = layout == Layout::k420;
  slotCount_ = standard ? 6 : 4;
  for (int s = 0; s < slotCount_; ++s) {
    BlockSlot& slot = slots_[s];
    slot.component = standard ? kComponent420[s] : kComponent422[s];
    const mxmComponentRecord& c = frame.components[slot.component];
    slot.dc = HuffmanTree(0, c.dcTable);
    slot.ac = HuffmanTree(1, c.acTable);
    slot.quant = QuantTable(c.quantTable);
    if (slot.dc == nullptr || slot.ac == nullptr || slot.quant == nullptr) return false;
    // Blocks 0, 4 and 5 chain their DC across tiles, so their DC codes are written when the picture is
    // assembled; the luma piece ends after block 3, the Cb and Cr pieces after their blocks.
    plans_[s] = BlockPlan{slot.dc, slot.ac, slot.component, s >= 1 && s <= 3, s >= 3};
  }
  for (int c = 0; c < 3; ++c)
    std::memcpy(outputQuant_[c].data(), QuantTable(frame.components[c].quantTable), 64 * sizeof(uint16_t));
  return true;
}

// Kept coefficients follow a change of tables, so that tiles the frame does not send keep their look:
// each value is re-expressed as value x old step / new step, rounded to the nearest (halves away from
// zero). A zero step from a broken table counts as 1.
void MxPEGScanToJPEGConverter::ExpressStoreInFrameTables() {
  static constexpr int kFirstBlock[3] = {0, 4, 5}, kBlocks[3] = {4, 1, 1};
  bool changed = false;
  for (int c = 0; c < 3; ++c) {
    std::array<uint16_t, 64>& old = storeQuant_[static_cast<size_t>(c)];
    const std::array<uint16_t, 64>& now = outputQuant_[static_cast<size_t>(c)];
    if (storeQuantValid_ && old != now) {
      changed = true;
      int32_t factor[64][2];
      for (int i = 0; i < 64; ++i) factor[i][0] = std::max<int32_t>(old[i], 1), factor[i][1] = std::max<int32_t>(now[i], 1);
      for (size_t tile = 0; tile < store_.size(); tile += kCoefficientsPerTile)
        for (int b = kFirstBlock[c]; b < kFirstBlock[c] + kBlocks[c]; ++b) {
          int16_t* block = &store_[tile + static_cast<size_t>(b) * 64];
          for (int i = 0; i < 64; ++i) {
            const int32_t scaled = block[i] * factor[i][0];
            const int32_t magnitude = (std::abs(scaled) + factor[i][1] / 2) / factor[i][1];
            block[i] = static_cast<int16_t>(std::clamp<int32_t>(scaled < 0 ? -magnitude : magnitude, INT16_MIN, INT16_MAX));
          }
        }
    }
    old = now;
  }
  storeQuantValid_ = true;
  if (changed) tileCache_.Invalidate();
}

// A new store starts as zeros (a uniform mid-grey picture), so no stale memory reaches a picture.
bool MxPEGScanToJPEGConverter::PrepareStore(int32_t columns, int32_t rows) {
  if (columns == storeColumns_ && rows == storeRows_) return true;
  store_.clear();
  store_.shrink_to_fit();
  storeColumns_ = storeRows_ = 0;
  tileCache_.Resize(0);
  try {
    const size_t tiles = static_cast<size_t>(columns) * static_cast<size_t>(rows);
    store_.assign(tiles * kCoefficientsPerTile, 0);
    storeQuantValid_ = false;  // zeros are zeros in any tables
    tileCache_.Resize(tiles);
  } catch (const std::bad_alloc&) {
    store_.clear();
    tileCache_.Resize(0);
    return false;
  }
  storeColumns_ = columns;
  storeRows_ = rows;
  return true;
}

bool MxPEGScanToJPEGConverter::DecodeUnits(const mxmUndecodedMxPEGFrameDescriptor& frame, Layout layout) {
  int16_t predictors[3] = {0, 0, 0};
  // After each coded unit that another follows: at the end of a restart interval, the marker and
  // fresh predictors.
  uint32_t coded = 0, restarts = 0;
  auto endOfUnit = [&]() {
    ++coded;
    if (frame.restartInterval == 0 || coded % frame.restartInterval != 0) return true;
    if (!Restart(restarts++)) return false;
    predictors[0] = predictors[1] = predictors[2] = 0;
    return true;
  };
  if (layout == Layout::k422) {
    if (frame.tileMap != nullptr) return false;  // 4:2:2 frames are always complete pictures
    tileCache_.Invalidate();
    pendingChroma_.assign(static_cast<size_t>(storeColumns_) * 2, 0);
    // A 16x8 unit per tile half; a last tile row of 8 picture rows or fewer has only its upper one.
    const int32_t unitRows = (frame.height + 7) / 8;
    for (int32_t row = 0; row < unitRows; ++row)
      for (int32_t column = 0; column < storeColumns_; ++column) {
        if (!DecodeUnit422(row, column, predictors) ||
            ((row + 1 < unitRows || column + 1 < storeColumns_) && !endOfUnit())) {
          MergePendingChroma(row / 2);  // so that later frames find coefficients there, not samples
          return false;
        }
      }
    MergePendingChroma((unitRows - 1) / 2);  // the lone upper units of a last tile row
    return ScanEndedCleanly();
  }
  // Map bits beyond the frame's bytes read as 0: the tile was not sent.
  size_t mapBytes = 0;
  if (frame.tileMap != nullptr && frame.frameData != nullptr &&
      PointerWithin(frame.tileMap, frame.frameData, frame.frameData + frame.frameLength))
    mapBytes = static_cast<size_t>(frame.frameData + frame.frameLength - frame.tileMap);
  const size_t tiles = static_cast<size_t>(storeColumns_) * storeRows_;
  if (frame.tileMap == nullptr) tileCache_.Resize(tiles);  // every tile comes anew: drop all kept bits
  const bool record = TablesMatchOutput(frame);
  // The first tile sent at or after t, or `tiles`.
  auto nextSent = [&](size_t t) {
    if (frame.tileMap == nullptr) return t;
    while (t < tiles && t / 8 < mapBytes) {
      const unsigned bits = (frame.tileMap[t / 8] << (t % 8)) & 0xFFu;
      if (bits != 0) return std::min(tiles, t + static_cast<size_t>(std::countl_zero(static_cast<uint8_t>(bits))));
      t = (t / 8 + 1) * 8;
    }
    return tiles;
  };
  for (const int s : {0, 4, 5}) {  // the tables a tile reads: luminance, Cb, Cr (often Cr's are Cb's)
    if (s == 5 && plans_[5].dc == plans_[4].dc && plans_[5].ac == plans_[4].ac) break;
    plans_[s].dc->Prefetch();
    plans_[s].ac->Prefetch();
  }
  size_t t = nextSent(0);
  if (t < tiles) PrefetchForWrite(&store_[t * kCoefficientsPerTile], kCoefficientsPerTile * sizeof(int16_t));
  while (t < tiles) {
    const size_t next = nextSent(t + 1);
    // The store is far larger than the caches: ask for the next tile's lines while this one decodes.
    if (next < tiles) PrefetchForWrite(&store_[next * kCoefficientsPerTile], kCoefficientsPerTile * sizeof(int16_t));
    int16_t* tile = &store_[t * kCoefficientsPerTile];
    tileCache_.MarkChanged(t);  // before decoding: a failure may leave the tile half written
    if (record) {
      if (!DecodeTileRecorded(t, tile, predictors)) return false;
    } else if (DecodeBlocks(plans_.data(), 6, predictors, tile, nullptr, nullptr) == Recorded::kFailed) {
      return false;
    }
    if (next < tiles && !endOfUnit()) return false;
    t = next;
  }
  return ScanEndedCleanly();
}

// With the output's own Huffman tables in the stream, a tile's bits as read are the bits the coder
// would write for it, except the three DC differences that chain across tiles.
bool MxPEGScanToJPEGConverter::TablesMatchOutput(const mxmUndecodedMxPEGFrameDescriptor& frame) const {
  using Kind = StandardTable;
  for (int c = 0; c < 3; ++c) {
    const Kind dc = StandardKind(0, frame.components[c].dcTable), ac = StandardKind(1, frame.components[c].acTable);
    if (dc != (c == 0 ? Kind::kDcLuminance : Kind::kDcChrominance) || ac != (c == 0 ? Kind::kAcLuminance : Kind::kAcChrominance))
      return false;
  }
  return true;
}

// Decodes a tile and keeps its bits as read (block 0, Cb and Cr without their DC codes) for the scan,
// so the tile needs no coding. A tile whose bits differ from what the coder writes stays marked
// changed and is coded from its coefficients.
bool MxPEGScanToJPEGConverter::DecodeTileRecorded(size_t index, int16_t* tile, int16_t* predictors) {
  BitWordWriter bits(tileCache_.RecordingArea());
  uint32_t pieces[3] = {0, 0, 0};
  const Recorded r = DecodeBlocks(plans_.data(), 6, predictors, tile, &bits, pieces);
  if (r == Recorded::kFailed) return false;
  if (r == Recorded::kExact) tileCache_.CommitRecorded(index, bits.Position(), pieces[0], pieces[1], pieces[2], tile);
  return true;
}

// A 16x8 unit: two luminance blocks, then one Cb and one Cr block at full vertical chroma resolution.
bool MxPEGScanToJPEGConverter::DecodeUnit422(int32_t unitRow, int32_t unitColumn, int16_t* predictors) {
  const bool odd = (unitRow & 1) != 0;
  int16_t* tile = &store_[(static_cast<size_t>(unitRow / 2) * storeColumns_ + unitColumn) * kCoefficientsPerTile];
  for (int s = 0; s < 4; ++s) {
    const BlockSlot& slot = slots_[s];
    int16_t* target = s < 2 ? tile + ((odd ? 2 : 0) + s) * 64 : tile + (4 + (s - 2)) * 64;
    int16_t* block = (s >= 2 && odd) ? scratch_ : target;
    if (DecodeBlocks(&plans_[s], 1, predictors, block, nullptr, nullptr) == Recorded::kFailed) return false;
    if (s >= 2) {
      ConvertChroma(block, target, slot.quant, odd);
      pendingChroma_[static_cast<size_t>(unitColumn) * 2 + (s - 2)] = odd ? 0 : 1;
    }
  }
  return true;
}

// Chroma blocks of the tile row that still hold an upper unit's samples become coefficients, from
// those samples alone.
void MxPEGScanToJPEGConverter::MergePendingChroma(int32_t tileRow) {
  for (size_t i = 0; i < pendingChroma_.size(); ++i) {
    if (!pendingChroma_[i]) continue;
    const size_t tile = static_cast<size_t>(tileRow) * storeColumns_ + i / 2;
    MergeChroma(&store_[tile * kCoefficientsPerTile + (4 + i % 2) * 64], nullptr, slots_[2 + i % 2].quant);
    pendingChroma_[i] = 0;
  }
}

// 4:2:2 -> 4:2:0 chroma: the upper unit leaves its samples in the store block; the lower unit
// averages row pairs of both halves into one 8x8 block and turns it back into quantised coefficients.
void MxPEGScanToJPEGConverter::ConvertChroma(int16_t* block, int16_t* target, const uint16_t* quant, bool oddRow) {
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(block[i] * quant[i]);
  InverseDctChenWang(block);
  if (oddRow) MergeChroma(target, block, quant);
}

// target holds the upper unit's chroma samples, lower the lower unit's; without a lower unit (the
// picture ends inside the upper one) the upper unit's last merged row is repeated below, beyond the
// picture. The merged block goes back to quantised coefficients.
void MxPEGScanToJPEGConverter::MergeChroma(int16_t* target, const int16_t* lower, const uint16_t* quant) {
  for (int r = 0; r < 4; ++r)
    for (int x = 0; x < 8; ++x) {
      target[r * 8 + x] = static_cast<int16_t>((target[2 * r * 8 + x] >> 1) + (target[(2 * r + 1) * 8 + x] >> 1));
    }
  for (int r = 0; r < 4; ++r)
    for (int x = 0; x < 8; ++x)
      target[(4 + r) * 8 + x] = lower != nullptr
                                    ? static_cast<int16_t>((lower[2 * r * 8 + x] >> 1) + (lower[(2 * r + 1) * 8 + x] >> 1))
                                    : target[3 * 8 + x];
  ForwardDctFloat(target);
  for (int i = 0; i < 64; ++i) {
    const int q = quant[i] != 0 ? quant[i] : 1;  // a zero divisor from a broken DQT counts as 1
    target[i] = static_cast<int16_t>(target[i] / q);
  }
}

void MxPEGScanToJPEGConverter::Send(const uint8_t* data, uint32_t length) { receiver_->AppendSegment(data, length); }

// The scan is coded completely before the first byte goes out, so a failure leaves the receiver with
// nothing of this picture.
void MxPEGScanToJPEGConverter::CodeScan() {
  if (!referenceWriter_) {
    tileCache_.Write(store_.data(), luminance_, chrominance_);
    return;
  }
  JpegScanWriter& writer = *writer_;
  writer.Reset();
  int predictors[3] = {0, 0, 0};
  const size_t tiles = static_cast<size_t>(storeColumns_) * storeRows_;
  for (size_t t = 0; t < tiles; ++t) {
    const int16_t* tile = &store_[t * kCoefficientsPerTile];
    for (int b = 0; b < 4; ++b) writer.EncodeBlock(tile + b * 64, predictors[0], luminance_);
    writer.EncodeBlock(tile + 4 * 64, predictors[1], chrominance_);
    writer.EncodeBlock(tile + 5 * 64, predictors[2], chrominance_);
  }
  writer.Finish();
}

// The markers up to the scan; built again only when the size or the quantisation tables change.
const std::vector<uint8_t>& MxPEGScanToJPEGConverter::Header(int32_t width, int32_t height) {
  if (!header_.empty() && width == headerWidth_ && height == headerHeight_ && outputQuant_ == headerQuant_)
    return header_;
  header_.clear();
  header_.reserve(kMaxHeaderBytes);
  const auto put = [this](const uint8_t* data, size_t length) { header_.insert(header_.end(), data, data + length); };
  put(kSoi, sizeof kSoi);
  put(kApp0, sizeof kApp0);
  // Cr gets a table of its own only when it differs from Cb's, so common streams keep two.
  const bool crOwnTable = outputQuant_[2] != outputQuant_[1];
  for (int t = 0; t < (crOwnTable ? 3 : 2); ++t) {
    const uint8_t dqt[5] = {0xFF, 0xDB, 0x00, 0x43, static_cast<uint8_t>(t)};
    uint8_t values[64];
    for (int k = 0; k < 64; ++k) values[k] = static_cast<uint8_t>(outputQuant_[t][kZigZagToNatural[k]]);
    put(dqt, sizeof dqt);
    put(values, sizeof values);
  }
  const uint8_t sof[19] = {0xFF, 0xC0, 0x00, 0x11, 0x08, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                           static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), 0x03,
                           0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, static_cast<uint8_t>(crOwnTable ? 2 : 1)};
  put(sof, sizeof sof);
  const struct {
    uint8_t id;
    const uint8_t* data;
    uint32_t size;
  } tables[4] = {{0x00, kStdDcLuminance.data(), kStdDcLuminance.size()},
                 {0x10, kStdAcLuminance.data(), kStdAcLuminance.size()},
                 {0x01, kStdDcChrominance.data(), kStdDcChrominance.size()},
                 {0x11, kStdAcChrominance.data(), kStdAcChrominance.size()}};
  for (const auto& table : tables) {
    const uint8_t dht[5] = {0xFF, 0xC4, static_cast<uint8_t>((table.size + 3) >> 8), static_cast<uint8_t>(table.size + 3),
                            table.id};
    put(dht, sizeof dht);
    put(table.data, table.size);
  }
  put(kSos, sizeof kSos);
  headerWidth_ = width;
  headerHeight_ = height;
  headerQuant_ = outputQuant_;
  return header_;
}

void MxPEGScanToJPEGConverter::WritePicture(int32_t width, int32_t height) {
  CodeScan();
  const std::vector<uint8_t>& header = Header(width, height);
  const uint32_t headerBytes = static_cast<uint32_t>(header.size());
  if (referenceWriter_) {
    const uint32_t scanBytes = static_cast<uint32_t>(writer_->Size());
    receiver_->BeginPicture(headerBytes + scanBytes + sizeof kEoi, width, height);
    Send(header.data(), headerBytes);
    Send(writer_->Data(), scanBytes);
    Send(kEoi, sizeof kEoi);
  } else {
    // Header, scan and end marker put together in the room around the scan: the receiver, which
    // copies every segment, copies one.
    uint8_t* scan = tileCache_.MutableData();
    const uint32_t scanBytes = static_cast<uint32_t>(tileCache_.Size());
    std::memcpy(scan - headerBytes, header.data(), headerBytes);
    std::memcpy(scan + scanBytes, kEoi, sizeof kEoi);
    const uint32_t total = headerBytes + scanBytes + static_cast<uint32_t>(sizeof kEoi);
    receiver_->BeginPicture(total, width, height);
    Send(scan - headerBytes, total);
  }
  if (writer_) writer_->Reset();
  receiver_->FrameComplete(width, height);
}

}  // namespace mxm

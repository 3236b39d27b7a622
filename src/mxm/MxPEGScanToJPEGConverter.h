// Merges the tile scans of MxPEG frames into a persistent coefficient store and writes the whole
// store out as one baseline JPEG picture (4:2:0, Annex K Huffman tables) per frame.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "mxm/ISegmentedStreamReceiver.h"
#include "mxm/JpegScanWriter.h"
#include "mxm/MxPEGScanDecoderCore.h"
#include "mxm/TileScanCache.h"
#include "mxm/mxmUndecodedMxPEGFrameDescriptor.h"

namespace mxm {

// Owned by one MxPEGParser and used on its thread only. The receiver is not owned and must outlive
// the converter. No operation throws: a frame that cannot be converted (bad header, missing table,
// corrupt scan, picture too large, out of memory) simply produces no picture.
class MxPEGScanToJPEGConverter : public MxPEGScanDecoderCore {
 public:
  static constexpr int kBlocksPerTile = 6;
  static constexpr int kCoefficientsPerTile = kBlocksPerTile * 64;
  // Largest picture side accepted: above the largest sensor of any MxPEG camera (4K and 6 MP models
  // stay below 4096 pixels), it bounds the store at 512 x 512 tiles (201 MB) against hostile headers.
  static constexpr int32_t kMaxPictureSide = 8192;

  explicit MxPEGScanToJPEGConverter(ISegmentedStreamReceiver* receiver);
  ~MxPEGScanToJPEGConverter() override;

  void SetQuantTable(int number, const uint8_t* zigzagValues) override;
  bool SetHuffmanTable(const mxmHuffmanTableId& id, const uint8_t* data) override;

  // Decodes the frame into the store and, on success, sends one complete JPEG to the receiver,
  // ending with FrameComplete(width, height). tileMap bits are read only up to the end of the frame
  // (frameData + frameLength); bits beyond count as "not sent".
  // Sampling: 4:2:0 (Y 2x2) and 4:2:2 (Y 2x1), Cb and Cr 1x1; any other gives no picture and counts
  // in UnsupportedSamplingFrames. With a restart interval every RSTn must come where and as expected.
  // The store is kept in the quantisation tables of the latest frame: when a frame brings other
  // tables, the kept coefficients are re-expressed in them first.
  void ConvertFrame(const mxmUndecodedMxPEGFrameDescriptor& frame);

  // Frames refused for their chroma sampling since construction (for a throttled message).
  uint32_t UnsupportedSamplingFrames() const { return unsupportedSampling_; }

  // Lowers the largest accepted picture side below kMaxPictureSide (1..kMaxPictureSide), e.g. to keep
  // fuzzing fast or memory small on an embedded host. Frames above it yield no picture.
  void SetMaxPictureSide(int32_t side);

  // For tests: true writes every picture block by block with JpegScanWriter instead of re-coding only
  // the changed tiles. Both give the same bytes; the straightforward one is the reference.
  // The block writer and its buffer exist only from the first call with true on.
  void SetReferenceWriter(bool on);

  // For tests and tools: the store (tiles in raster order, 6 blocks of 64 natural-order values each).
  const std::vector<int16_t>& CoefficientStore() const { return store_; }
  int32_t StoreTileColumns() const { return storeColumns_; }
  int32_t StoreTileRows() const { return storeRows_; }
  size_t EntropyBufferCapacity() const { return referenceWriter_ ? writer_->Capacity() : tileCache_.OutputCapacity(); }

 private:
  struct BlockSlot {
    const mxcpcHuffmanTree* dc = nullptr;
    const mxcpcHuffmanTree* ac = nullptr;
    const uint16_t* quant = nullptr;
    int component = 0;
  };

  enum class Layout { k420, k422, kUnsupported };
  static Layout LayoutOf(const mxmUndecodedMxPEGFrameDescriptor& frame);
  bool SetUpSlots(const mxmUndecodedMxPEGFrameDescriptor& frame, Layout layout);
  bool PrepareStore(int32_t columns, int32_t rows);
  void ExpressStoreInFrameTables();
  bool DecodeUnits(const mxmUndecodedMxPEGFrameDescriptor& frame, Layout layout);
  bool TablesMatchOutput(const mxmUndecodedMxPEGFrameDescriptor& frame) const;
  bool DecodeTileRecorded(size_t index, int16_t* tile, int16_t* predictors);
  bool DecodeUnit422(int32_t unitRow, int32_t unitColumn, int16_t* predictors);
  void ConvertChroma(int16_t* block, int16_t* target, const uint16_t* quant, bool oddRow);
  void MergeChroma(int16_t* target, const int16_t* lower, const uint16_t* quant);
  void MergePendingChroma(int32_t tileRow);
  const std::vector<uint8_t>& Header(int32_t width, int32_t height);
  void WritePicture(int32_t width, int32_t height);
  void CodeScan();
  void Send(const uint8_t* data, uint32_t length);

  ISegmentedStreamReceiver* receiver_;
  int32_t maxPictureSide_ = kMaxPictureSide;
  std::vector<int16_t> store_;
  int32_t storeColumns_ = 0;
  int32_t storeRows_ = 0;
  int slotCount_ = 0;
  std::array<BlockSlot, 6> slots_{};
  // The slots as the decoder reads them; a 4:2:0 tile is recorded in the cache's three pieces.
  std::array<BlockPlan, 6> plans_{};
  std::array<std::array<uint16_t, 64>, 3> outputQuant_{};  // per component: the frame's tables
  std::array<std::array<uint16_t, 64>, 3> storeQuant_{};   // per component: the store's tables
  bool storeQuantValid_ = false;  // false: the store holds nothing yet (new allocation)
  uint32_t unsupportedSampling_ = 0;
  std::unique_ptr<JpegScanWriter> writer_;  // the reference writer, made by SetReferenceWriter
  TileScanCache tileCache_;  // one entry per store tile
  bool referenceWriter_ = false;
  EncodingSet luminance_;
  EncodingSet chrominance_;
  int16_t scratch_[64] = {};
  std::vector<uint8_t> header_;  // of the latest picture, with the size and tables it was built for
  int32_t headerWidth_ = 0;
  int32_t headerHeight_ = 0;
  std::array<std::array<uint16_t, 64>, 3> headerQuant_{};
  std::vector<uint8_t> pendingChroma_;  // 4:2:2: per tile column, Cb and Cr hold upper-unit samples
};

}  // namespace mxm

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
  void ConvertFrame(const mxmUndecodedMxPEGFrameDescriptor& frame);

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

  bool SetUpSlots(const mxmUndecodedMxPEGFrameDescriptor& frame);
  bool PrepareStore(int32_t columns, int32_t rows);
  bool DecodeUnits(const mxmUndecodedMxPEGFrameDescriptor& frame);
  bool TablesMatchOutput(const mxmUndecodedMxPEGFrameDescriptor& frame) const;
  bool DecodeTileRecorded(size_t index, int16_t* tile, int16_t* predictors);
  bool DecodeUnit422(int32_t unitRow, int32_t unitColumn, int16_t* predictors);
  void ConvertChroma(int16_t* block, int16_t* target, const uint16_t* quant, bool oddRow);
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
  std::array<uint16_t, 64> outputQuant_[2]{};
  std::unique_ptr<JpegScanWriter> writer_;  // the reference writer, made by SetReferenceWriter
  TileScanCache tileCache_;  // one entry per store tile
  bool referenceWriter_ = false;
  EncodingSet luminance_;
  EncodingSet chrominance_;
  int16_t scratch_[64] = {};
};

}  // namespace mxm

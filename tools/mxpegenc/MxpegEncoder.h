// MxPEG encoder of the camera simulator and of the converter tests: turns a sequence of pictures into
// MxPEG frames (full frames and frames carrying only the changed 16x16 tiles with their "MXM" map).
//
// Contract: an encoder is used by one thread at a time; it keeps the previous picture and the current
// quantised coefficients of every tile, so frame k depends only on the pictures 0..k and the options.
// Nothing here throws except std::bad_alloc and std::invalid_argument for a picture whose planes do not
// match its declared size.
//
// Typical use (one encoder per stream connection, so every stream starts with a full frame and tables):
//   mxpegenc::MxpegEncoder encoder({.quality = 75, .refreshInterval = 10});
//   mxpegenc::SyntheticScene scene(seed);
//   for (uint32_t k = 0;; ++k) send(encoder.EncodeFrame(scene.Render(k, w, h), sensorBlock, k * 100000));
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mxpegenc/YCbCrPicture.h"

namespace mxpegenc {

enum class HuffmanMode {
  kStandard,  // the typical tables of ITU-T T.81 Annex K, as every camera sends them
  kCustom     // tables built from the statistics of each full frame (T.81 Annex K.2); every symbol gets a code
};

struct EncoderOptions {
  int quality = 75;                  // 1..100, libjpeg's scaling of the Annex K quantisation tables
  int refreshInterval = 10;          // every n-th frame is a full frame (1: every frame full)
  HuffmanMode huffman = HuffmanMode::kStandard;
  bool fullFrames422 = false;        // full frames as 4:2:2 (component 0 sampled 2x1), partial frames stay 4:2:0
  bool writeM1ImgComment = true;     // the "#:M1IMG" comment at the start of every frame
  int changeThreshold = 0;           // a tile is sent when any sample differs by more than this
  // Streams as some cameras send them; the defaults write none of this.
  int restartInterval = 0;           // coded units (tiles, or 16x8 units of 4:2:2 frames) per restart
                                     // interval: a DRI segment in every frame and RSTn markers in the scan
  int fillBytes = 0;                 // 0xFF fill bytes before every marker, inside the scan too
  bool tablesEveryFullFrame = false; // DQT and DHT on every full frame, not only when they change
  bool unitRowsByHeight = false;     // 4:2:2 scans hold ceil(height / 8) unit rows, as JPEG decoders read
                                     // them; otherwise two for every tile row, one too many when the
                                     // last tile row holds no more than 8 picture rows
  bool fullFrames444 = false;        // full frames as 4:4:4 (every component 1x1, 8x8 units), chroma
                                     // taken from the 4:2:0 picture; wins over fullFrames422
};

// One entry per 16x16 tile, tiles in raster order, blocks in this order: Y top-left, Y top-right,
// Y bottom-left, Y bottom-right, Cb, Cr; each block 64 quantised coefficients in natural (row-major) order.
// This is the layout of the converter's store, so tests compare the two directly.
inline constexpr int kBlocksPerTile = 6;
inline constexpr int kCoefficientsPerTile = kBlocksPerTile * 64;

struct FrameInfo {
  bool full = false;        // no tile map: every tile sent
  bool sampling422 = false; // this frame was coded 4:2:2
  bool sampling444 = false; // this frame was coded 4:4:4
  bool tablesSent = false;  // DQT and DHT segments were written before this frame's header
  int tilesSent = 0;
  uint32_t frameNumber = 0;
};

class MxpegEncoder {
 public:
  explicit MxpegEncoder(const EncoderOptions& options = {});

  // Encodes the next frame of the stream: the bytes from SOI to EOI of one MxPEG frame.
  // The picture may change size at any time; a new size always gives a full frame.
  // sensorText, when not empty, is written as a comment segment (split into several when longer
  // than one segment can hold). timestampUs goes into the "MXF" comment.
  std::vector<uint8_t> EncodeFrame(const YCbCrPicture& picture, const std::string& sensorText,
                                   uint64_t timestampUs);

  // The next frame is a full frame whatever the refresh interval says.
  void ForceFullFrame() { forceFull_ = true; }
  // Takes effect with the next frame, which then carries the new DQT segment and is a full frame.
  void SetQuality(int quality);

  // The coefficients a decoder holds after the last frame (layout above). After a 4:2:2 frame the
  // chroma entries are this encoder's own 4:2:0 coefficients of the same picture.
  const std::vector<int16_t>& CurrentCoefficients() const { return coefficients_; }
  int TileColumns() const { return tileColumns_; }
  int TileRows() const { return tileRows_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // Quantisation table 0 (luminance) or 1 (chrominance), natural order.
  const std::array<uint16_t, 64>& QuantTable(int index) const { return quant_[index & 1]; }
  // The Huffman tables in use as DHT data: 16 counts followed by the symbols.
  // index: 0 DC luminance, 1 AC luminance, 2 DC chrominance, 3 AC chrominance.
  const std::vector<uint8_t>& HuffmanTable(int index) const { return huffmanSpec_[index & 3]; }
  const FrameInfo& LastFrame() const { return last_; }

 private:
  struct CodeTable {
    std::array<uint16_t, 256> code{};
    std::array<uint8_t, 256> length{};
  };

  bool PrepareGeometry(const YCbCrPicture& picture);
  void BuildQuantTables();
  void UseStandardHuffman();
  void BuildCustomHuffman(const std::vector<uint8_t>& sentTiles);
  void ComputeTile(int tile, const YCbCrPicture& picture, std::array<int16_t, kCoefficientsPerTile>& out) const;
  std::vector<uint8_t> ChangedTiles(const YCbCrPicture& picture) const;
  void WriteScan420(std::vector<uint8_t>& out, const std::vector<uint8_t>& sentTiles) const;
  void WriteScan422(std::vector<uint8_t>& out, const YCbCrPicture& picture) const;
  void WriteScan444(std::vector<uint8_t>& out, const YCbCrPicture& picture) const;

  EncoderOptions options_;
  int width_ = 0;
  int height_ = 0;
  int tileColumns_ = 0;
  int tileRows_ = 0;
  uint32_t frameNumber_ = 0;
  uint32_t framesSinceFull_ = 0;
  bool forceFull_ = true;
  bool quantChanged_ = true;
  bool huffmanChanged_ = true;
  std::vector<int16_t> coefficients_;
  YCbCrPicture previous_;
  std::array<std::array<uint16_t, 64>, 2> quant_{};
  std::array<std::vector<uint8_t>, 4> huffmanSpec_;
  std::array<CodeTable, 4> codes_;
  FrameInfo last_;
};

}  // namespace mxpegenc

// Helpers of the MxPEG tests: a collecting picture receiver, libjpeg-turbo decoding with warning
// count, the reference JPEG written from an encoder's coefficients, and chunked feeding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mxm/ISegmentedStreamReceiver.h"
#include "mxm/MxPEGParser.h"
#include "mxpegenc/MxpegEncoder.h"

namespace mxmtest {

struct Picture {
  std::vector<uint8_t> jpeg;
  int32_t width = 0;
  int32_t height = 0;
};

// Checks on every picture that BeginPicture came before its first segment with the exact byte count
// and the dimensions FrameComplete gives.
class CollectingReceiver : public mxm::ISegmentedStreamReceiver {
 public:
  void BeginPicture(uint32_t totalBytes, int32_t width, int32_t height) override;
  void FrameComplete(int32_t width, int32_t height) override;
  void AppendSegment(const uint8_t* data, uint32_t length) override;

  std::vector<Picture> pictures;
  std::vector<uint8_t> pending;
  int appendCalls = 0;

 private:
  int64_t announcedBytes_ = -1;  // -1: no announcement before the first segment
  int32_t announcedWidth_ = 0;
  int32_t announcedHeight_ = 0;
};

struct Decoded {
  bool ok = false;
  std::string error;
  int width = 0;
  int height = 0;
  int components = 0;
  long warnings = 0;
  std::vector<uint8_t> pixels;  // RGB, 3 bytes per pixel
  // Sampling factors of the three components as the file declares them.
  int hSampling[3] = {0, 0, 0};
  int vSampling[3] = {0, 0, 0};
};

Decoded DecodeJpeg(const std::vector<uint8_t>& jpeg);

// Baseline 4:2:0 JPEG of the encoder's current coefficients, standard Huffman tables, written by
// libjpeg-turbo's jpeg_write_coefficients.
std::vector<uint8_t> ReferenceJpeg(const mxpegenc::MxpegEncoder& encoder);
// The same from an explicit coefficient store (layout of the converter's store).
std::vector<uint8_t> ReferenceJpegFromStore(const std::vector<int16_t>& store, int width, int height,
                                            const std::array<uint16_t, 64>& lumaQuant,
                                            const std::array<uint16_t, 64>& chromaQuant);

// Feeds bytes to the parser in chunks of the given sizes (cycled); returns false if a chunk was dropped.
bool FeedChunks(mxm::MxPEGParser& parser, const std::vector<uint8_t>& bytes, const std::vector<size_t>& sizes);

// A lone SOI, which makes the parser convert the frame before it.
std::vector<uint8_t> Soi();

// Peak signal-to-noise ratio of two RGB buffers of equal size, in dB.
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace mxmtest

// Converter tests: pictures rebuilt from MxPEG streams against reference JPEGs written from the
// encoder's own coefficients, the store's behaviour across frames, and the writer's limits.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include "MxpegTestSupport.h"
#include "mxm/MxPEGParser.h"
#include "mxpegenc/SyntheticScene.h"

using mxmtest::CollectingReceiver;
using mxmtest::DecodeJpeg;
using mxmtest::Decoded;

namespace {

struct StreamCase {
  int width;
  int height;
  mxpegenc::HuffmanMode huffman;
  int frames;
};

// Every picture the converter emits decodes cleanly to exactly the pixels of the reference JPEG.
void ExpectPixelExactStream(const StreamCase& c) {
  mxpegenc::EncoderOptions options;
  options.huffman = c.huffman;
  options.refreshInterval = 4;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(7);
  CollectingReceiver receiver;
  mxm::MxPEGParser parser(&receiver);
  std::vector<std::vector<uint8_t>> references;
  int partialFrames = 0;
  for (int i = 0; i < c.frames; ++i) {
    const auto frame = encoder.EncodeFrame(scene.Render(i, c.width, c.height), "SECTION SENSORS\nIN1=0\nENDSECTION SENSORS\n",
                                           1000000ull * i);
    partialFrames += encoder.LastFrame().full ? 0 : 1;
    references.push_back(mxmtest::ReferenceJpeg(encoder));
    ASSERT_TRUE(mxmtest::FeedChunks(parser, frame, {8192, 1500, 333}));
  }
  ASSERT_TRUE(parser.Feed(mxmtest::Soi().data(), 2));
  ASSERT_GT(partialFrames, 0);
  ASSERT_EQ(receiver.pictures.size(), references.size());
  for (size_t i = 0; i < references.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const Decoded got = DecodeJpeg(receiver.pictures[i].jpeg);
    const Decoded want = DecodeJpeg(references[i]);
    ASSERT_TRUE(got.ok) << got.error;
    ASSERT_TRUE(want.ok) << want.error;
    EXPECT_EQ(got.warnings, 0);
    EXPECT_EQ(receiver.pictures[i].width, c.width);
    EXPECT_EQ(receiver.pictures[i].height, c.height);
    EXPECT_EQ(got.width, c.width);
    EXPECT_EQ(got.height, c.height);
    EXPECT_TRUE(got.pixels == want.pixels);
  }
}

}  // namespace

TEST(MxPEGScanToJPEGConverterTest, PicturesMatchReferenceAt640x480StandardTables) {
  ExpectPixelExactStream({640, 480, mxpegenc::HuffmanMode::kStandard, 10});
}

TEST(MxPEGScanToJPEGConverterTest, PicturesMatchReferenceAt640x480CustomTables) {
  ExpectPixelExactStream({640, 480, mxpegenc::HuffmanMode::kCustom, 10});
}

TEST(MxPEGScanToJPEGConverterTest, PicturesMatchReferenceAt1280x960BothTables) {
  ExpectPixelExactStream({1280, 960, mxpegenc::HuffmanMode::kStandard, 6});
  ExpectPixelExactStream({1280, 960, mxpegenc::HuffmanMode::kCustom, 6});
}

TEST(MxPEGScanToJPEGConverterTest, PicturesMatchReferenceAt2048x1536BothTables) {
  ExpectPixelExactStream({2048, 1536, mxpegenc::HuffmanMode::kStandard, 5});
  ExpectPixelExactStream({2048, 1536, mxpegenc::HuffmanMode::kCustom, 5});
}

TEST(MxPEGScanToJPEGConverterTest, PicturesMatchReferenceWhenSizeIsNotTileAligned) {
  ExpectPixelExactStream({700, 486, mxpegenc::HuffmanMode::kStandard, 5});
}

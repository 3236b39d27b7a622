// Converter tests: pictures rebuilt from MxPEG streams against reference JPEGs written from the
// encoder's own coefficients, the store's behaviour across frames, and the writer's limits.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include "MxpegTestSupport.h"
#include "mxm/MxPEGParser.h"
#include "mxpegenc/BitSink.h"
#include "mxpegenc/SyntheticScene.h"
#include "MxpegFrameBuilder.h"

#include <algorithm>

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

namespace {

using Block = std::array<int16_t, 64>;

// Parser + receiver pair that converts whole frames: each Feed of a frame is followed by a lone SOI.
struct Harness {
  CollectingReceiver receiver;
  mxm::MxPEGParser parser{&receiver};

  // Feeds the frame and an SOI; returns the number of pictures that resulted (0 or 1).
  size_t Convert(const std::vector<uint8_t>& frame) {
    const size_t before = receiver.pictures.size();
    EXPECT_TRUE(parser.Feed(frame.data(), static_cast<uint32_t>(frame.size())));
    EXPECT_TRUE(parser.Feed(mxmtest::Soi().data(), 2));
    EXPECT_FALSE(parser.IsDiscarding());
    return receiver.pictures.size() - before;
  }
  const std::vector<uint8_t>& Last() const { return receiver.pictures.back().jpeg; }
};

Block DcBlock(int dc) {
  Block b{};
  b[0] = static_cast<int16_t>(dc);
  return b;
}

}  // namespace

TEST(MxPEGScanToJPEGConverterTest, OneChangedTileChangesOnlyThatTile) {
  mxpegenc::MxpegEncoder encoder;
  mxpegenc::SyntheticScene scene(3, {0, false, 6});
  mxpegenc::YCbCrPicture picture = scene.Render(0, 320, 240);
  Harness h;
  ASSERT_EQ(h.Convert(encoder.EncodeFrame(picture, "", 0)), 1u);
  // Tile (5, 7): paint a bright square into its luminance.
  for (int y = 7 * 16 + 2; y < 7 * 16 + 14; ++y)
    for (int x = 5 * 16 + 2; x < 5 * 16 + 14; ++x) picture.y[static_cast<size_t>(y) * 320 + x] = 250;
  ASSERT_EQ(h.Convert(encoder.EncodeFrame(picture, "", 1)), 1u);
  ASSERT_FALSE(encoder.LastFrame().full);
  ASSERT_EQ(encoder.LastFrame().tilesSent, 1);
  const Decoded first = DecodeJpeg(h.receiver.pictures[0].jpeg);
  const Decoded second = DecodeJpeg(h.receiver.pictures[1].jpeg);
  ASSERT_TRUE(first.ok && second.ok);
  int changedInside = 0, changedOutside = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      const size_t i = (static_cast<size_t>(y) * 320 + x) * 3;
      const bool differs = first.pixels[i] != second.pixels[i] || first.pixels[i + 1] != second.pixels[i + 1] ||
                           first.pixels[i + 2] != second.pixels[i + 2];
      // Chroma upsampling reaches one pixel across the tile border.
      const bool inside = x >= 5 * 16 - 1 && x < 6 * 16 + 1 && y >= 7 * 16 - 1 && y < 8 * 16 + 1;
      (inside ? changedInside : changedOutside) += differs ? 1 : 0;
    }
  EXPECT_GT(changedInside, 100);
  EXPECT_EQ(changedOutside, 0);
}

TEST(MxPEGScanToJPEGConverterTest, FrameWithoutTilesRepeatsTheStoredPictureAndIdenticalFramesMatchBytewise) {
  mxpegenc::MxpegEncoder encoder;
  mxpegenc::SyntheticScene scene(5);
  const mxpegenc::YCbCrPicture picture = scene.Render(4, 256, 192);
  Harness h;
  ASSERT_EQ(h.Convert(encoder.EncodeFrame(picture, "", 0)), 1u);
  ASSERT_EQ(h.Convert(encoder.EncodeFrame(picture, "", 1)), 1u);  // nothing changed: empty tile map
  ASSERT_FALSE(encoder.LastFrame().full);
  ASSERT_EQ(encoder.LastFrame().tilesSent, 0);
  encoder.ForceFullFrame();
  ASSERT_EQ(h.Convert(encoder.EncodeFrame(picture, "", 2)), 1u);  // the same picture as a full frame
  ASSERT_TRUE(encoder.LastFrame().full);
  EXPECT_EQ(h.receiver.pictures[0].jpeg, h.receiver.pictures[1].jpeg);
  EXPECT_EQ(h.receiver.pictures[0].jpeg, h.receiver.pictures[2].jpeg);
  EXPECT_EQ(DecodeJpeg(h.receiver.pictures[1].jpeg).warnings, 0);
}

TEST(MxPEGScanToJPEGConverterTest, SizeChangeWithinTheTileGridKeepsTheStoreAndNewGridStartsMidGrey) {
  mxpegenc::MxpegEncoder big;
  mxpegenc::SyntheticScene scene(9);
  const mxpegenc::YCbCrPicture picture = scene.Render(2, 704, 576);
  Harness h;
  ASSERT_EQ(h.Convert(big.EncodeFrame(picture, "", 0)), 1u);
  const int16_t* storeBefore = h.parser.Converter().CoefficientStore().data();
  // The next frame of the same encoder sends no tile; its header now says 700 wide (same 44 columns).
  std::vector<uint8_t> frame = big.EncodeFrame(picture, "", 1);
  ASSERT_EQ(big.LastFrame().tilesSent, 0);
  bool patched = false;
  for (size_t i = 0; i + 9 < frame.size() && !patched; ++i)
    if (frame[i] == 0xFF && frame[i + 1] == 0xC0) {
      frame[i + 7] = 700 >> 8, frame[i + 8] = 700 & 0xFF, patched = true;
    }
  ASSERT_TRUE(patched);
  ASSERT_EQ(h.Convert(frame), 1u);
  EXPECT_EQ(h.parser.Converter().CoefficientStore().data(), storeBefore);
  EXPECT_EQ(h.parser.Converter().StoreTileColumns(), 44);
  const Decoded cropped = DecodeJpeg(h.Last());
  const Decoded want = DecodeJpeg(mxmtest::ReferenceJpegFromStore(big.CurrentCoefficients(), 700, 576,
                                                                  big.QuantTable(0), big.QuantTable(1)));
  ASSERT_TRUE(cropped.ok && want.ok);
  EXPECT_EQ(cropped.width, 700);
  EXPECT_TRUE(cropped.pixels == want.pixels);

  // A 320x240 stream's empty frame on the old tables: new grid, new store, nothing sent -> mid-grey.
  mxpegenc::MxpegEncoder small;
  const mxpegenc::YCbCrPicture smallPicture = scene.Render(1, 320, 240);
  small.EncodeFrame(smallPicture, "", 0);
  ASSERT_EQ(h.Convert(small.EncodeFrame(smallPicture, "", 1)), 1u);
  ASSERT_EQ(small.LastFrame().tilesSent, 0);
  EXPECT_EQ(h.parser.Converter().StoreTileColumns(), 20);
  const Decoded grey = DecodeJpeg(h.Last());
  ASSERT_TRUE(grey.ok);
  ASSERT_EQ(grey.pixels.size(), 320u * 240u * 3u);
  EXPECT_TRUE(std::all_of(grey.pixels.begin(), grey.pixels.end(), [](uint8_t v) { return v == 128; }));
}

TEST(MxPEGScanToJPEGConverterTest, FourTwoTwoFrameBecomesFourTwoZeroPictureOfSameSize) {
  mxpegenc::EncoderOptions options;
  options.fullFrames422 = true;
  options.quality = 90;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(11, {3, true, 0});
  const std::vector<uint8_t> rgb = scene.RenderRgb(3, 320, 240);
  const auto source = mxpegenc::YCbCrPicture::FromRgb(rgb.data(), 320, 240, 320 * 3, mxpegenc::ChromaSampling::k422);
  Harness h;
  const std::vector<uint8_t> frame = encoder.EncodeFrame(source, "", 0);
  ASSERT_TRUE(encoder.LastFrame().sampling422);
  ASSERT_EQ(h.Convert(frame), 1u);
  const Decoded got = DecodeJpeg(h.Last());
  ASSERT_TRUE(got.ok) << got.error;
  EXPECT_EQ(got.warnings, 0);
  EXPECT_EQ(got.width, 320);
  EXPECT_EQ(got.height, 240);
  EXPECT_EQ(got.hSampling[0], 2);
  EXPECT_EQ(got.vSampling[0], 2);
  EXPECT_EQ(got.hSampling[1], 1);
  EXPECT_EQ(got.vSampling[1], 1);
  EXPECT_GE(mxmtest::Psnr(got.pixels, rgb), 30.0);
  // Its luminance is exactly the encoder's: only chroma went through the conversion.
  const Decoded reference = DecodeJpeg(mxmtest::ReferenceJpeg(encoder));
  ASSERT_TRUE(reference.ok);
  EXPECT_GE(mxmtest::Psnr(got.pixels, reference.pixels), 35.0);

  // The same frame with a tile map yields nothing.
  std::vector<uint8_t> mapped = frame;
  std::vector<uint8_t> mxm = {0xFF, 0xFE, 0x00, 0x10, 'M', 'X', 'M', 0, 20, 0, 15, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  mapped.insert(mapped.begin() + 2, mxm.begin(), mxm.end());
  EXPECT_EQ(h.Convert(mapped), 0u);
  // And the stream goes on: the next good frame converts.
  EXPECT_EQ(h.Convert(frame), 1u);
}

TEST(MxPEGScanToJPEGConverterTest, OversizedDcDifferenceIsLimitedInsteadOfDroppingTheBlock) {
  // Frame 1: two tiles, all luminance DC -1000. Frame 2 sends only tile 1 with DC +1100, so the output
  // scan needs a difference of 2100 between tile 0's last and tile 1's first luminance block.
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  spec.width = 32;
  std::vector<Block> blocks;
  for (int t = 0; t < 2; ++t)
    for (int b = 0; b < 6; ++b) blocks.push_back(DcBlock(b < 4 ? -1000 : 0));
  spec.scan = mxmtest::EncodeScan(blocks, false);
  Harness h;
  ASSERT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
  blocks.clear();
  for (int b = 0; b < 6; ++b) blocks.push_back(DcBlock(b < 4 ? 1100 : 0));
  spec.scan = mxmtest::EncodeScan(blocks, false);
  spec.tileMap = std::vector<uint8_t>{0x40};
  ASSERT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
  std::vector<int16_t> expected = h.parser.Converter().CoefficientStore();
  ASSERT_EQ(expected[384], 1100);
  expected[384] = -1000 + 2047;  // the one block whose difference had to be limited
  const Decoded got = DecodeJpeg(h.Last());
  std::array<uint16_t, 64> ones;
  ones.fill(1);
  const Decoded want = DecodeJpeg(mxmtest::ReferenceJpegFromStore(expected, 32, 16, ones, ones));
  ASSERT_TRUE(got.ok) << got.error;
  ASSERT_TRUE(want.ok) << want.error;
  EXPECT_EQ(got.warnings, 0);
  EXPECT_TRUE(got.pixels == want.pixels);
}

TEST(MxPEGScanToJPEGConverterTest, OversizedAcValueFromFourTwoTwoConversionIsLimited) {
  // Tile 0's upper chroma half is bright (+250 after the inverse DCT), its lower half dark (-250): the
  // merged 4:2:0 block is a vertical step whose first vertical coefficient is about 1800 at quantiser 1.
  // Tile 1 keeps the chroma predictor's steps within baseline sizes.
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  spec.sampling422 = true;
  spec.width = 32;
  std::vector<Block> blocks;
  for (int unitRow = 0; unitRow < 2; ++unitRow)
    for (int tile = 0; tile < 2; ++tile) {
      blocks.push_back(DcBlock(0));
      blocks.push_back(DcBlock(0));
      blocks.push_back(DcBlock(tile == 0 ? (unitRow == 0 ? 2000 : -2000) : 0));
      blocks.push_back(DcBlock(0));
    }
  spec.scan = mxmtest::EncodeScan(blocks, true);
  Harness h;
  ASSERT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
  std::vector<int16_t> expected = h.parser.Converter().CoefficientStore();
  int oversized = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (i % 64 == 0) continue;
    if (expected[i] > 1023 || expected[i] < -1023) ++oversized;
    expected[i] = static_cast<int16_t>(std::clamp<int>(expected[i], -1023, 1023));
  }
  ASSERT_GT(oversized, 0);
  const Decoded got = DecodeJpeg(h.Last());
  std::array<uint16_t, 64> ones;
  ones.fill(1);
  const Decoded want = DecodeJpeg(mxmtest::ReferenceJpegFromStore(expected, 32, 16, ones, ones));
  ASSERT_TRUE(got.ok) << got.error;
  ASSERT_TRUE(want.ok) << want.error;
  EXPECT_EQ(got.warnings, 0);
  EXPECT_TRUE(got.pixels == want.pixels);
}

TEST(MxPEGScanToJPEGConverterTest, PictureLargerThanTheInitialEntropyBufferIsComplete) {
  mxpegenc::EncoderOptions options;
  options.quality = 100;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(13, {3, true, 60});
  const mxpegenc::YCbCrPicture picture = scene.Render(0, 2048, 1536);
  Harness h;
  ASSERT_EQ(h.Convert(encoder.EncodeFrame(picture, "", 0)), 1u);
  const size_t capacity = h.parser.Converter().EntropyBufferCapacity();
  EXPECT_GT(h.Last().size(), size_t{1} << 20);
  EXPECT_GT(capacity, size_t{1} << 20);
  const Decoded got = DecodeJpeg(h.Last());
  const Decoded want = DecodeJpeg(mxmtest::ReferenceJpeg(encoder));
  ASSERT_TRUE(got.ok) << got.error;
  EXPECT_EQ(got.warnings, 0);
  EXPECT_TRUE(got.pixels == want.pixels);
  // The grown buffer is kept for the next picture.
  encoder.ForceFullFrame();
  ASSERT_EQ(h.Convert(encoder.EncodeFrame(picture, "", 1)), 1u);
  EXPECT_EQ(h.parser.Converter().EntropyBufferCapacity(), capacity);
}

TEST(MxPEGScanToJPEGConverterTest, ValueSizesBeyondBaselineAreDecodingFailures) {
  // DC table with symbols 0..12 (lengths 4), AC table with 0x00 and 0x0B (size 11).
  std::vector<uint8_t> dht = {0x00, 0, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (uint8_t s = 0; s <= 12; ++s) dht.push_back(s);
  const std::vector<uint8_t> ac = {0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x0B};
  dht.insert(dht.end(), ac.begin(), ac.end());
  for (uint8_t id : {0x01, 0x11}) {  // chrominance: copies
    std::vector<uint8_t> copy(dht.begin(), dht.begin() + 30);
    if (id == 0x11) copy.assign(ac.begin(), ac.end());
    copy[0] = id;
    dht.insert(dht.end(), copy.begin(), copy.end());
  }
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  spec.huffmanSegment = dht;
  // DC symbol 12 is code 1100 (4 bits), then 12 value bits: too large for a baseline difference.
  spec.scan = {0xC0, 0x00, 0x0F, 0xFF, 0x00};
  Harness h;
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 0u);
  // DC size 0 (code 0000), then AC symbol 0x0B (code 01) with 11 value bits.
  spec.scan = {0x05, 0xFF, 0x00, 0xFF, 0x00};
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 0u);
  // The same tables with valid sizes work: six blocks of DC size 0 and end of block (0000 00).
  spec.scan = {0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
}

TEST(MxPEGScanToJPEGConverterTest, PictureTooLargeForAnyCameraYieldsNothingAndStreamGoesOn) {
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  spec.scan = mxmtest::EncodeScan(std::vector<Block>(6, DcBlock(10)), false);
  Harness h;
  for (auto [w, h2] : {std::pair{65535, 65535}, std::pair{8200, 16}, std::pair{16, 8193}}) {
    spec.width = w;
    spec.height = h2;
    EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 0u) << w << "x" << h2;
  }
  spec.width = spec.height = 16;
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
  EXPECT_EQ(h.parser.Converter().StoreTileColumns(), 1);
}

TEST(MxPEGScanToJPEGConverterTest, BrokenFramesYieldNothing) {
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  const auto good = mxmtest::EncodeScan(std::vector<Block>(6, DcBlock(-5)), false);
  Harness h;
  // No DHT yet: nothing.
  spec.writeHuffman = false;
  spec.scan = good;
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 0u);
  spec.writeHuffman = true;
  // Scan data that runs out in the middle of a block.
  spec.scan.assign(good.begin(), good.begin() + 1);
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 0u);
  // An AC run past the end of the block: 63 zeros coded as four ZRL (0xF0 = 11111111001) codes.
  spec.scan = {0x00};
  {
    std::vector<uint8_t> scan;
    mxpegenc::BitSink sink(scan);
    sink.Put(0, 2);  // DC size 0
    for (int i = 0; i < 4; ++i) sink.Put(0x7F9, 11);
    sink.Flush();
    spec.scan = scan;
  }
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 0u);
  // The same tables and a good scan convert.
  spec.scan = good;
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
}

TEST(MxPEGScanToJPEGConverterTest, LoweredSizeLimitRejectsLargerPictures) {
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  spec.width = 32;
  spec.scan = mxmtest::EncodeScan(std::vector<Block>(12, DcBlock(3)), false);
  Harness h;
  h.parser.Converter().SetMaxPictureSide(16);
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 0u);
  h.parser.Converter().SetMaxPictureSide(32);
  EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
}

namespace {

// Fails the first picture part it is given, as a receiver out of memory would.
class ThrowingReceiver : public mxm::ISegmentedStreamReceiver {
 public:
  void FrameComplete(int32_t, int32_t) override { ++completed; }
  void AppendSegment(const uint8_t*, uint32_t) override {
    if (throwNext) {
      throwNext = false;
      throw std::bad_alloc();
    }
  }
  bool throwNext = true;
  int completed = 0;
};

}  // namespace

TEST(MxPEGScanToJPEGConverterTest, ExceptionFromTheReceiverDoesNotLeaveTheParser) {
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  spec.scan = mxmtest::EncodeScan(std::vector<Block>(6, DcBlock(3)), false);
  const std::vector<uint8_t> frame = mxmtest::BuildFrame(spec);
  ThrowingReceiver receiver;
  mxm::MxPEGParser parser(&receiver);
  std::vector<uint8_t> stream = frame;
  stream.insert(stream.end(), frame.begin(), frame.end());
  stream.insert(stream.end(), frame.begin(), frame.end());
  EXPECT_NO_THROW(parser.Feed(stream.data(), static_cast<uint32_t>(stream.size())));
  EXPECT_EQ(receiver.completed, 1);  // the first picture failed, the second went through
  EXPECT_FALSE(parser.IsDiscarding());
}

namespace {

std::vector<std::vector<uint8_t>> EncodeStream(const mxpegenc::EncoderOptions& options, int width, int height,
                                               int frames) {
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(17);
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < frames; ++i) out.push_back(encoder.EncodeFrame(scene.Render(i, width, height), "", 1000ull * i));
  return out;
}

// The pictures of a stream fed in chunks of the given sizes (empty: in one piece), the last frame too.
std::vector<std::vector<uint8_t>> PicturesOf(const std::vector<std::vector<uint8_t>>& frames,
                                             const std::vector<size_t>& chunks) {
  std::vector<uint8_t> bytes;
  for (const auto& f : frames) bytes.insert(bytes.end(), f.begin(), f.end());
  bytes.insert(bytes.end(), {0xFF, 0xD8});
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  EXPECT_TRUE(mxmtest::FeedChunks(parser, bytes, chunks));
  EXPECT_FALSE(parser.IsDiscarding());
  std::vector<std::vector<uint8_t>> out;
  for (const auto& p : r.pictures) out.push_back(p.jpeg);
  return out;
}

// Restart intervals and fill bytes change only how a stream is written: its pictures must be byte for
// byte those of the plain stream, in any chunk split (so they carry no restart marker either).
void ExpectPicturesOfThePlainStream(const mxpegenc::EncoderOptions& plain, const mxpegenc::EncoderOptions& written) {
  const auto want = PicturesOf(EncodeStream(plain, 160, 120, 6), {});
  ASSERT_EQ(want.size(), 6u);
  const auto frames = EncodeStream(written, 160, 120, 6);
  for (const std::vector<size_t>& chunks : {std::vector<size_t>{}, {1}, {3, 7, 1}}) {
    EXPECT_TRUE(PicturesOf(frames, chunks) == want) << "first chunk size " << (chunks.empty() ? 0 : chunks[0]);
  }
}

mxpegenc::EncoderOptions PlainOptions(bool fourTwoTwo) {
  mxpegenc::EncoderOptions o;
  o.refreshInterval = 4;  // full frames 0 and 4, partial ones between
  o.fullFrames422 = fourTwoTwo;
  o.unitRowsByHeight = true;
  return o;
}

}  // namespace

TEST(MxPEGScanToJPEGConverterTest, FillBytesBeforeMarkersChangeNoPicture) {
  for (int fill : {1, 5}) {
    for (bool fourTwoTwo : {false, true}) {
      SCOPED_TRACE(std::to_string(fill) + " fill bytes, " + (fourTwoTwo ? "4:2:2" : "4:2:0") + " full frames");
      mxpegenc::EncoderOptions written = PlainOptions(fourTwoTwo);
      written.fillBytes = fill;  // before SOI, every segment, and RSTn and EOI in the scan
      written.restartInterval = fill == 5 ? 4 : 0;  // fill before RSTn too
      ExpectPicturesOfThePlainStream(PlainOptions(fourTwoTwo), written);
    }
  }
}

TEST(MxPEGScanToJPEGConverterTest, RestartIntervalsDecodeToThePicturesOfThePlainStream) {
  for (int interval : {1, 3, 7, 200}) {
    for (bool fourTwoTwo : {false, true}) {
      SCOPED_TRACE("interval " + std::to_string(interval) + (fourTwoTwo ? ", 4:2:2" : ", 4:2:0") + " full frames");
      mxpegenc::EncoderOptions written = PlainOptions(fourTwoTwo);
      written.restartInterval = interval;
      ExpectPicturesOfThePlainStream(PlainOptions(fourTwoTwo), written);
    }
  }
}

namespace {

// Offsets of the restart markers in a frame's scan, and of its DRI segment.
struct FrameMarkers {
  size_t dri = 0;
  std::vector<size_t> restarts;
};

FrameMarkers FindMarkers(const std::vector<uint8_t>& frame) {
  FrameMarkers m;
  size_t at = 2;
  while (at + 4 <= frame.size() && frame[at] == 0xFF) {
    if (frame[at + 1] == 0xDD) m.dri = at;
    const size_t length = (frame[at + 2] << 8) | frame[at + 3];
    const bool scan = frame[at + 1] == 0xDA;
    at += 2 + length;
    if (scan) break;
  }
  for (; at + 1 < frame.size(); ++at)
    if (frame[at] == 0xFF && frame[at + 1] >= 0xD0 && frame[at + 1] <= 0xD7) m.restarts.push_back(at);
  return m;
}

}  // namespace

TEST(MxPEGScanToJPEGConverterTest, BrokenRestartSequenceYieldsNoPictureAndTheStreamGoesOn) {
  mxpegenc::EncoderOptions options;
  options.restartInterval = 3;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(4);
  const std::vector<uint8_t> good = encoder.EncodeFrame(scene.Render(0, 160, 120), "", 0);  // 80 tiles
  const FrameMarkers m = FindMarkers(good);
  ASSERT_NE(m.dri, 0u);
  ASSERT_EQ(m.restarts.size(), 26u);
  struct Case {
    const char* name;
    std::vector<uint8_t> frame;
  };
  std::vector<Case> cases;
  auto edit = [&](const char* name, auto&& change) {
    std::vector<uint8_t> f = good;
    change(f);
    cases.push_back({name, f});
  };
  edit("missing RSTn", [&](auto& f) { f.erase(f.begin() + m.restarts[5], f.begin() + m.restarts[5] + 2); });
  edit("last RSTn missing", [&](auto& f) { f.erase(f.begin() + m.restarts.back(), f.begin() + m.restarts.back() + 2); });
  edit("RSTn out of sequence", [&](auto& f) { f[m.restarts[9] + 1] = 0xD0 + (9 + 1) % 8; });
  edit("RSTn repeated", [&](auto& f) { f[m.restarts[1] + 1] = 0xD0; });
  edit("restart markers without DRI", [&](auto& f) { f.erase(f.begin() + m.dri, f.begin() + m.dri + 6); });
  edit("interval longer than written", [&](auto& f) { f[m.dri + 5] = 4; });
  edit("interval shorter than written", [&](auto& f) { f[m.dri + 5] = 2; });
  Harness h;
  for (const Case& c : cases) {
    EXPECT_EQ(h.Convert(c.frame), 0u) << c.name;
  }
  ASSERT_EQ(h.Convert(good), 1u);
  EXPECT_EQ(h.parser.Converter().CoefficientStore(), encoder.CurrentCoefficients());
}

// 4:2:2 scans hold ceil(height / 8) rows of 16x8 units; when the last tile row holds 8 picture rows or
// fewer it has only its upper unit, whose chroma alone makes the tile's 4:2:0 chroma.
TEST(MxPEGScanToJPEGConverterTest, FourTwoTwoFramesOfAnyHeightConvert) {
  for (auto [width, height] : {std::pair{1920, 1080}, std::pair{800, 600}, std::pair{640, 360}, std::pair{48, 40},
                               std::pair{64, 56}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    mxpegenc::EncoderOptions options;
    options.fullFrames422 = true;
    options.unitRowsByHeight = true;
    options.quality = 90;
    mxpegenc::MxpegEncoder encoder(options);
    mxpegenc::SyntheticScene scene(11, {3, true, 0});
    const std::vector<uint8_t> rgb = scene.RenderRgb(3, width, height);
    const auto source = mxpegenc::YCbCrPicture::FromRgb(rgb.data(), width, height, width * 3, mxpegenc::ChromaSampling::k422);
    Harness h;
    ASSERT_EQ(h.Convert(encoder.EncodeFrame(source, "", 0)), 1u);
    const Decoded got = DecodeJpeg(h.Last());
    ASSERT_TRUE(got.ok) << got.error;
    EXPECT_EQ(got.warnings, 0);
    ASSERT_EQ(got.width, width);
    ASSERT_EQ(got.height, height);
    EXPECT_GE(mxmtest::Psnr(got.pixels, rgb), 27.0);  // small pictures are mostly the sharp frame counter
    // The last 8 rows, where the lone upper units are.
    const size_t tail = static_cast<size_t>(width) * 3 * 8;
    const std::vector<uint8_t> gotTail(got.pixels.end() - static_cast<std::ptrdiff_t>(tail), got.pixels.end());
    const std::vector<uint8_t> rgbTail(rgb.end() - static_cast<std::ptrdiff_t>(tail), rgb.end());
    EXPECT_GE(mxmtest::Psnr(gotTail, rgbTail), 27.0);
  }
}

TEST(MxPEGScanToJPEGConverterTest, OnlyFourTwoZeroAndFourTwoTwoSamplingsConvert) {
  struct Case {
    const char* name;
    std::array<uint8_t, 3> sampling;
    bool converts;
  };
  const Case cases[] = {
      {"4:2:0", {0x22, 0x11, 0x11}, true},        {"4:2:2", {0x21, 0x11, 0x11}, true},
      {"4:4:0", {0x12, 0x11, 0x11}, false},       {"4:4:4", {0x11, 0x11, 0x11}, false},
      {"4:1:1", {0x41, 0x11, 0x11}, false},       {"Cb 2x1", {0x22, 0x21, 0x11}, false},
      {"Cr 1x2", {0x21, 0x11, 0x12}, false},      {"all 2x2", {0x22, 0x22, 0x22}, false},
  };
  Harness h;
  uint32_t refused = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
    spec.sampling = c.sampling;
    // Blocks as a 4:2:2 frame of 16x16 pixels holds them, which every layout but 4:2:0 was once read as.
    const bool asFourTwoZero = c.sampling[0] == 0x22 && c.converts;
    spec.scan = mxmtest::EncodeScan(std::vector<Block>(asFourTwoZero ? 6 : 8, DcBlock(40)), !asFourTwoZero);
    EXPECT_EQ(h.Convert(mxmtest::BuildFrame(spec)), c.converts ? 1u : 0u);
    refused += c.converts ? 0 : 1;
    EXPECT_EQ(h.parser.Converter().UnsupportedSamplingFrames(), refused);
  }
}

// Cr's coefficients under a table of its own: the picture must be the one whose Cr values were
// quantised with Cb's table.
TEST(MxPEGScanToJPEGConverterTest, CrWithItsOwnQuantTableKeepsItsColour) {
  std::array<uint16_t, 64> four;
  four.fill(4);
  mxmtest::FrameSpec own = mxmtest::DefaultSpec();  // Y and Cb quantiser 1
  own.crQuant = four;
  std::vector<Block> blocks(6, DcBlock(0));
  blocks[5] = DcBlock(25);
  blocks[5][1] = 3;
  own.scan = mxmtest::EncodeScan(blocks, false);
  mxmtest::FrameSpec shared = mxmtest::DefaultSpec();
  blocks[5] = DcBlock(100);
  blocks[5][1] = 12;
  shared.scan = mxmtest::EncodeScan(blocks, false);
  Harness a, b;
  ASSERT_EQ(a.Convert(mxmtest::BuildFrame(own)), 1u);
  ASSERT_EQ(b.Convert(mxmtest::BuildFrame(shared)), 1u);
  const Decoded got = DecodeJpeg(a.Last()), want = DecodeJpeg(b.Last());
  ASSERT_TRUE(got.ok && want.ok);
  EXPECT_EQ(got.warnings, 0);
  EXPECT_TRUE(got.pixels == want.pixels);
  EXPECT_NE(want.pixels[0], 128);  // the Cr value shows
  // A third table only where Cr needs one: SOF gives Cr table 2, or table 1 as before.
  auto crTable = [](const std::vector<uint8_t>& jpeg) {
    for (size_t i = 0; i + 19 <= jpeg.size(); ++i)
      if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) return static_cast<int>(jpeg[i + 18]);
    return -1;
  };
  EXPECT_EQ(crTable(a.Last()), 2);
  EXPECT_EQ(crTable(b.Last()), 1);
}

// New tables mid-stream: tiles the frame does not send keep their coefficients' meaning, re-expressed
// in the new tables with rounding to the nearest (halves away from zero).
TEST(MxPEGScanToJPEGConverterTest, NewQuantTablesReexpressTheKeptTiles) {
  struct Case {
    int oldStep, newStep, value, expected;
  };
  const Case cases[] = {{2, 4, 6, 3}, {2, 4, 5, 3},   {2, 4, -5, -3}, {5, 3, 7, 12},  {5, 3, -7, -12},
                        {1, 2, 3, 2}, {1, 2, -3, -2}, {3, 3, 9, 9},   {4, 1, 250, 1000}, {1, 8, 3, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " from step " + std::to_string(c.oldStep) + " to " + std::to_string(c.newStep));
    mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
    spec.width = 32;  // two tiles
    spec.quant.fill(static_cast<uint16_t>(c.oldStep));
    std::vector<Block> blocks(12, DcBlock(c.value));
    for (Block& b : blocks) b[9] = static_cast<int16_t>(c.value);
    spec.scan = mxmtest::EncodeScan(blocks, false);
    Harness h;
    ASSERT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
    const Decoded before = DecodeJpeg(h.Last());
    // Frame 2: new tables, only tile 1 sent (with the same picture content re-quantised).
    spec.quant.fill(static_cast<uint16_t>(c.newStep));
    spec.tileMap = std::vector<uint8_t>{0x40};
    Block sent = DcBlock(c.expected);
    sent[9] = static_cast<int16_t>(c.expected);
    spec.scan = mxmtest::EncodeScan(std::vector<Block>(6, sent), false);
    ASSERT_EQ(h.Convert(mxmtest::BuildFrame(spec)), 1u);
    const std::vector<int16_t>& store = h.parser.Converter().CoefficientStore();
    for (int b = 0; b < 6; ++b) {
      EXPECT_EQ(store[b * 64], c.expected) << "block " << b;
      EXPECT_EQ(store[b * 64 + 9], c.expected) << "block " << b;
    }
    const Decoded after = DecodeJpeg(h.Last());
    ASSERT_TRUE(before.ok && after.ok);
    EXPECT_EQ(after.warnings, 0);
    // Tile 0 looks as before, up to the rounding of one step of the new table.
    int worst = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        for (int k = 0; k < 3; ++k) {
          const size_t i = (static_cast<size_t>(y) * 32 + x) * 3 + k;
          worst = std::max(worst, std::abs(before.pixels[i] - after.pixels[i]));
        }
    EXPECT_LE(worst, 2 * c.newStep) << "largest change of a sample in the tile not sent";
  }
}

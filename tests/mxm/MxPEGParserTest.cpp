// Parser tests: marker and segment handling across chunk boundaries, comments, tables, Discard and
// the feeding interface.
#include <gtest/gtest.h>

#include <cstring>

#include "MxpegFrameBuilder.h"
#include "MxpegTestSupport.h"
#include "mxm/MxPEGParser.h"
#include "mxpegenc/SyntheticScene.h"

using mxmtest::CollectingReceiver;

namespace {

// A short stream of encoder frames (full, then partial) and the pictures it yields in one piece.
struct Stream {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> bytes;
};

Stream MakeStream(int count, int width = 160, int height = 128) {
  mxpegenc::EncoderOptions options;
  options.refreshInterval = 3;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(21);
  Stream s;
  for (int i = 0; i < count; ++i) {
    s.frames.push_back(encoder.EncodeFrame(scene.Render(i, width, height), "SECTION SENSORS\nENDSECTION SENSORS\n",
                                           123456789ull + i));
    s.bytes.insert(s.bytes.end(), s.frames.back().begin(), s.frames.back().end());
  }
  return s;
}

std::vector<std::vector<uint8_t>> JpegsOf(const CollectingReceiver& r) {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& p : r.pictures) out.push_back(p.jpeg);
  return out;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint8_t> Segment(uint8_t marker, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  mxmtest::PutSegment(out, marker, payload);
  return out;
}

}  // namespace

TEST(MxPEGParserTest, AnyChunkSplitGivesTheSamePictures) {
  const Stream s = MakeStream(5);
  const std::vector<uint8_t> bytes = Concat({s.bytes, mxmtest::Soi()});
  CollectingReceiver whole;
  mxm::MxPEGParser wholeParser(&whole);
  ASSERT_TRUE(mxmtest::FeedChunks(wholeParser, bytes, {}));
  ASSERT_EQ(whole.pictures.size(), 5u);
  // Single bytes split every marker, every length and every payload; the odd sizes split them
  // at varying places.
  for (const std::vector<size_t>& sizes : {std::vector<size_t>{1}, {2}, {3, 7, 1}, {4096, 1}, {333}}) {
    CollectingReceiver r;
    mxm::MxPEGParser parser(&r);
    ASSERT_TRUE(mxmtest::FeedChunks(parser, bytes, sizes));
    EXPECT_EQ(JpegsOf(r), JpegsOf(whole)) << "first chunk size " << sizes[0];
  }
}

TEST(MxPEGParserTest, SoiSplitAcrossChunksIsRecognised) {
  const Stream s = MakeStream(2);
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  // The first SOI: 0xFF alone, then the rest of the first frame.
  ASSERT_TRUE(parser.Feed(s.frames[0].data(), 1));
  ASSERT_TRUE(parser.Feed(s.frames[0].data() + 1, static_cast<uint32_t>(s.frames[0].size() - 1)));
  // The second SOI split the same way converts the first frame.
  ASSERT_TRUE(parser.Feed(s.frames[1].data(), 1));
  EXPECT_EQ(r.pictures.size(), 0u);
  ASSERT_TRUE(parser.Feed(s.frames[1].data() + 1, 1));
  EXPECT_EQ(r.pictures.size(), 1u);
  EXPECT_FALSE(parser.IsDiscarding());
}

TEST(MxPEGParserTest, TablesTakeEffectOnlyWhenTheirSegmentIsComplete) {
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  std::vector<uint8_t> dqt = {0};
  for (int i = 0; i < 64; ++i) dqt.push_back(static_cast<uint8_t>(i + 1));
  const std::vector<uint8_t> bytes = Concat({mxmtest::Soi(), Segment(0xDB, dqt), Segment(0xC4, mxmtest::StandardHuffmanPayload())});
  // SOI, marker and the first length byte; then the second length byte; then the payload in pieces.
  ASSERT_TRUE(parser.Feed(bytes.data(), 5));
  ASSERT_TRUE(parser.Feed(bytes.data() + 5, 1));
  ASSERT_TRUE(parser.Feed(bytes.data() + 6, 40));
  EXPECT_EQ(parser.Converter().QuantTable(0), nullptr);
  ASSERT_TRUE(parser.Feed(bytes.data() + 46, 25));  // DQT done (2 + 4 + 65 bytes)
  ASSERT_NE(parser.Converter().QuantTable(0), nullptr);
  EXPECT_EQ(parser.Converter().QuantTable(0)[0], 1);
  EXPECT_EQ(parser.Converter().QuantTable(0)[1], 2);   // zig-zag 1 -> natural 1
  EXPECT_EQ(parser.Converter().QuantTable(0)[8], 3);   // zig-zag 2 -> natural 8
  EXPECT_EQ(parser.Converter().QuantTable(0)[63], 64);
  const size_t dhtStart = 71;
  ASSERT_TRUE(parser.Feed(bytes.data() + dhtStart, 200));
  // A segment acts only when all of it is there, even though its first tables already are.
  EXPECT_EQ(parser.Converter().HuffmanTree(0, 0), nullptr);
  EXPECT_EQ(parser.Converter().HuffmanTree(1, 1), nullptr);
  ASSERT_TRUE(parser.Feed(bytes.data() + dhtStart + 200, static_cast<uint32_t>(bytes.size() - dhtStart - 200)));
  for (int c = 0; c < 2; ++c)
    for (int n = 0; n < 2; ++n) EXPECT_NE(parser.Converter().HuffmanTree(c, n), nullptr);
}

TEST(MxPEGParserTest, TwoFramesInOneChunkConvertTheFirstInThatCall) {
  const Stream s = MakeStream(3);
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  const std::vector<uint8_t> two = Concat({s.frames[0], s.frames[1]});
  ASSERT_TRUE(parser.Feed(two.data(), static_cast<uint32_t>(two.size())));
  EXPECT_EQ(r.pictures.size(), 1u);
  // Three SOIs in one chunk: two pictures from that call.
  CollectingReceiver r2;
  mxm::MxPEGParser parser2(&r2);
  const std::vector<uint8_t> three = Concat({s.frames[0], s.frames[1], s.frames[2]});
  ASSERT_TRUE(parser2.Feed(three.data(), static_cast<uint32_t>(three.size())));
  EXPECT_EQ(r2.pictures.size(), 2u);
  // The frame buffer now holds only the last frame, moved to its start.
  EXPECT_EQ(parser2.BufferFill(), s.frames[2].size());
  EXPECT_EQ(parser2.Descriptor().frameData, parser2.FrameBuffer());
  EXPECT_EQ(parser2.Descriptor().frameLength, s.frames[2].size());
}

TEST(MxPEGParserTest, CommentsSetTileMapAndMxfValues) {
  const Stream s = MakeStream(2);
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  // A full frame has no "MXM": every tile counts as sent.
  ASSERT_TRUE(parser.Feed(s.frames[0].data(), static_cast<uint32_t>(s.frames[0].size())));
  const mxm::mxmUndecodedMxPEGFrameDescriptor& d = parser.Descriptor();
  EXPECT_EQ(d.tileMap, nullptr);
  ASSERT_TRUE(d.mxfPairValid);
  ASSERT_TRUE(d.mxfValueCValid);
  EXPECT_EQ(d.mxfValueA, static_cast<uint32_t>(123456789ull));  // timestamp, low half
  EXPECT_EQ(d.mxfValueB, 0u);                                   // timestamp, high half
  EXPECT_EQ(d.mxfValueC, 0u);                                   // frame number
  EXPECT_EQ(d.width, 160);
  EXPECT_EQ(d.tileColumns, 10);
  EXPECT_EQ(d.tileRows, 8);
  EXPECT_EQ(d.componentCount, 3u);
  EXPECT_EQ(d.nonStandardSampling, 0);
  EXPECT_EQ(d.frameLength, s.frames[0].size());
  EXPECT_EQ(d.scanData + d.scanLength, d.frameData + d.frameLength);
  // The partial frame carries a map 12 bytes into its "MXM" payload.
  ASSERT_TRUE(parser.Feed(s.frames[1].data(), static_cast<uint32_t>(s.frames[1].size())));
  ASSERT_NE(d.tileMap, nullptr);
  EXPECT_EQ(std::memcmp(d.tileMap - 12, "MXM", 3), 0);
  EXPECT_EQ(d.mxfValueC, 1u);

  // "MX" alone is no comment of interest; "MXF" followed by anything is one, short payloads read 0.
  CollectingReceiver r2;
  mxm::MxPEGParser p2(&r2);
  const std::vector<uint8_t> bytes =
      Concat({mxmtest::Soi(), Segment(0xFE, {'M', 'X'}), Segment(0xFE, {'M', 'X', 'G', 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})});
  ASSERT_TRUE(p2.Feed(bytes.data(), static_cast<uint32_t>(bytes.size())));
  EXPECT_FALSE(p2.Descriptor().mxfPairValid);
  EXPECT_EQ(p2.Descriptor().tileMap, nullptr);
  const std::vector<uint8_t> mxf = Segment(0xFE, {'M', 'X', 'F', 'x', 'y', 'z', 0, 0, 0x78, 0x56, 0x34, 0x12, 7});
  ASSERT_TRUE(p2.Feed(mxf.data(), static_cast<uint32_t>(mxf.size())));
  EXPECT_TRUE(p2.Descriptor().mxfPairValid);
  EXPECT_EQ(p2.Descriptor().mxfValueA, 0x12345678u);
  EXPECT_EQ(p2.Descriptor().mxfValueB, 7u);
  EXPECT_EQ(p2.Descriptor().mxfValueC, 0u);
  EXPECT_FALSE(p2.IsDiscarding());
}

TEST(MxPEGParserTest, QuantSegmentsOf130BytesSetTwoTablesAnd64BytesNone) {
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  std::vector<uint8_t> sixtyFour(64, 9);
  std::vector<uint8_t> two;
  for (int t : {1, 0x12}) {  // table 1, then table 2 with precision bits set
    two.push_back(static_cast<uint8_t>(t));
    for (int i = 0; i < 64; ++i) two.push_back(static_cast<uint8_t>(t + i));
  }
  const std::vector<uint8_t> bytes = Concat({mxmtest::Soi(), Segment(0xDB, sixtyFour)});
  ASSERT_TRUE(parser.Feed(bytes.data(), static_cast<uint32_t>(bytes.size())));
  for (int t = 0; t < 4; ++t) EXPECT_EQ(parser.Converter().QuantTable(t), nullptr);
  const std::vector<uint8_t> dqt = Segment(0xDB, two);
  ASSERT_TRUE(parser.Feed(dqt.data(), static_cast<uint32_t>(dqt.size())));
  ASSERT_NE(parser.Converter().QuantTable(1), nullptr);
  ASSERT_NE(parser.Converter().QuantTable(2), nullptr);
  EXPECT_EQ(parser.Converter().QuantTable(0), nullptr);
  EXPECT_EQ(parser.Converter().QuantTable(1)[0], 1);
  EXPECT_EQ(parser.Converter().QuantTable(2)[0], 0x12);
}

TEST(MxPEGParserTest, UnknownMarkersStopTheParserForGood) {
  const Stream s = MakeStream(3);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"APP1 segment", Segment(0xE1, {'E', 'x', 'i', 'f'})},
      {"EOI outside scan data", {0xFF, 0xD9}},
      {"fill bytes before an unknown code", {0xFF, 0xFF, 0xFF, 0xC2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CollectingReceiver r;
    mxm::MxPEGParser parser(&r);
    ASSERT_TRUE(parser.Feed(s.frames[0].data(), static_cast<uint32_t>(s.frames[0].size())));
    ASSERT_TRUE(parser.Feed(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())));
    EXPECT_TRUE(parser.IsDiscarding());
    const std::vector<uint8_t> rest = Concat({s.frames[1], s.frames[2], mxmtest::Soi()});
    ASSERT_TRUE(parser.Feed(rest.data(), static_cast<uint32_t>(rest.size())));
    EXPECT_TRUE(parser.IsDiscarding());
    EXPECT_EQ(r.pictures.size(), 0u);
    EXPECT_EQ(parser.BufferFill(), 0u);  // dropped input does not fill the buffer
  }
}

TEST(MxPEGParserTest, ChunkWithoutRoomIsDroppedAndReported) {
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  // A frame that never ends: SOI, SOS and scan bytes without EOI.
  const std::vector<uint8_t> start = Concat({mxmtest::Soi(), Segment(0xDA, {3, 1, 0, 2, 0x11, 3, 0x11, 0, 63, 0})});
  ASSERT_TRUE(parser.Feed(start.data(), static_cast<uint32_t>(start.size())));
  const std::vector<uint8_t> chunk(1 << 20, 0x55);
  int fed = 0;
  while (parser.Feed(chunk.data(), static_cast<uint32_t>(chunk.size())) && fed < 10) ++fed;
  EXPECT_EQ(fed, 3);  // 4 MiB holds the start and three whole chunks, not a fourth
  EXPECT_LT(parser.FreeSpace(), chunk.size());
  EXPECT_TRUE(parser.Feed(chunk.data(), parser.FreeSpace()));  // what fits still goes in
  EXPECT_FALSE(parser.Feed(chunk.data(), 1));
  EXPECT_FALSE(parser.IsDiscarding());
}

TEST(MxPEGParserTest, ManualFeedingThroughTheBufferMatchesFeed) {
  const Stream s = MakeStream(3);
  const std::vector<uint8_t> bytes = Concat({s.bytes, mxmtest::Soi()});
  CollectingReceiver a, b;
  mxm::MxPEGParser viaFeed(&a), manual(&b);
  ASSERT_TRUE(mxmtest::FeedChunks(viaFeed, bytes, {1000}));
  for (size_t pos = 0; pos < bytes.size(); pos += 1000) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1000, bytes.size() - pos));
    ASSERT_GE(manual.FreeSpace(), n);
    const uint32_t at = manual.BufferFill();
    std::memcpy(manual.FrameBuffer() + at, bytes.data() + pos, n);
    ASSERT_TRUE(manual.AdvanceFill(n));
    manual.ProcessBytes(at, n);
  }
  manual.ProcessBytes(0, 0);   // nothing
  manual.ProcessBytes(0, -5);  // nothing
  EXPECT_EQ(b.pictures.size(), 3u);
  EXPECT_EQ(JpegsOf(a), JpegsOf(b));
  EXPECT_FALSE(manual.AdvanceFill(mxm::MxPEGParser::kFrameBufferSize));
}

TEST(MxPEGParserTest, SegmentLengthBelowTwoIsAnEmptyPayload) {
  const Stream s = MakeStream(2);
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  const std::vector<uint8_t> bytes = Concat({s.frames[0], s.frames[1], mxmtest::Soi()});
  std::vector<uint8_t> patched = bytes;
  // Insert two comments with lengths 0 and 1 right after the second frame's SOI.
  const std::vector<uint8_t> odd = {0xFF, 0xFE, 0x00, 0x00, 0xFF, 0xFE, 0x00, 0x01};
  patched.insert(patched.begin() + static_cast<long>(s.frames[0].size() + 2), odd.begin(), odd.end());
  ASSERT_TRUE(mxmtest::FeedChunks(parser, patched, {5}));
  EXPECT_FALSE(parser.IsDiscarding());
  EXPECT_EQ(r.pictures.size(), 2u);
}

TEST(MxPEGParserTest, TruncatedHuffmanSegmentKeepsTheTablesBeforeIt) {
  CollectingReceiver r;
  mxm::MxPEGParser parser(&r);
  std::vector<uint8_t> dht = mxmtest::StandardHuffmanPayload();
  dht.resize(29 + 50);  // DC luminance whole, AC luminance cut short
  const std::vector<uint8_t> bytes = Concat({mxmtest::Soi(), Segment(0xC4, dht)});
  ASSERT_TRUE(parser.Feed(bytes.data(), static_cast<uint32_t>(bytes.size())));
  EXPECT_NE(parser.Converter().HuffmanTree(0, 0), nullptr);
  EXPECT_EQ(parser.Converter().HuffmanTree(1, 0), nullptr);
  EXPECT_FALSE(parser.IsDiscarding());
}

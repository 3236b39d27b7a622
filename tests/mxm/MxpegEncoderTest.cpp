// The test encoder itself: frame layout, refresh and table rules, and coefficients that agree with
// what libjpeg-turbo reads from its full frames.
#include <gtest/gtest.h>

#include <bit>
#include <csetjmp>
#include <cstring>

#include <jpeglib.h>

#include "MxpegTestSupport.h"
#include "mxpegenc/HuffmanBuilder.h"
#include "mxpegenc/MxpegEncoder.h"
#include "mxpegenc/SyntheticScene.h"

namespace {

struct SegmentInfo {
  uint8_t marker;
  std::vector<uint8_t> payload;
};

// Segments from SOI up to and including SOS (the scan is not split).
std::vector<SegmentInfo> Segments(const std::vector<uint8_t>& frame) {
  std::vector<SegmentInfo> out;
  size_t i = 2;
  while (i + 4 <= frame.size() && frame[i] == 0xFF) {
    const uint8_t marker = frame[i + 1];
    const size_t length = (frame[i + 2] << 8) | frame[i + 3];
    out.push_back({marker, std::vector<uint8_t>(frame.begin() + i + 4, frame.begin() + i + 2 + length)});
    i += 2 + length;
    if (marker == 0xDA) break;
  }
  return out;
}

const SegmentInfo* Find(const std::vector<SegmentInfo>& s, uint8_t marker, const char* prefix = nullptr) {
  for (const auto& seg : s)
    if (seg.marker == marker &&
        (!prefix || (seg.payload.size() >= std::strlen(prefix) &&
                     std::memcmp(seg.payload.data(), prefix, std::strlen(prefix)) == 0)))
      return &seg;
  return nullptr;
}

// Reads the quantised coefficients of a 4:2:0 JPEG into the store layout.
std::vector<int16_t> ReadCoefficients(const std::vector<uint8_t>& jpeg, int columns, int rows) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
  std::vector<int16_t> store(static_cast<size_t>(columns) * rows * 384);
  for (int c = 0; c < 3; ++c) {
    const int f = c == 0 ? 2 : 1;
    const int heightInBlocks = static_cast<int>(cinfo.comp_info[c].height_in_blocks);
    const int widthInBlocks = static_cast<int>(cinfo.comp_info[c].width_in_blocks);
    for (int by = 0; by < std::min(rows * f, heightInBlocks); ++by) {
      JBLOCKARRAY row = (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo), arrays[c],
                                                         static_cast<JDIMENSION>(by), 1, FALSE);
      for (int bx = 0; bx < std::min(columns * f, widthInBlocks); ++bx) {
        const int tile = (by / f) * columns + bx / f;
        const int block = c == 0 ? (by % 2) * 2 + bx % 2 : 3 + c;
        for (int i = 0; i < 64; ++i) store[static_cast<size_t>(tile) * 384 + block * 64 + i] = row[0][bx][i];
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return store;
}

}  // namespace

// Every option the encoder offers still gives full frames that libjpeg-turbo reads without a warning
// (restart markers in sequence, fill bytes, as many 4:2:2 unit rows as the height calls for), with
// the tables on each full frame when asked for.
TEST(MxpegEncoderTest, FullFramesAreBaselineJpegsCarryingTheCurrentCoefficients) {
  struct Case {
    const char* name;
    int height;
    mxpegenc::EncoderOptions options;
  };
  auto with = [](auto&& set) {
    mxpegenc::EncoderOptions o;
    o.refreshInterval = 1;
    set(o);
    return o;
  };
  const Case cases[] = {
      {"annex K", 240, with([](auto&) {})},
      {"custom tables", 240, with([](auto& o) { o.huffman = mxpegenc::HuffmanMode::kCustom; })},
      {"restarts every 7 tiles", 240, with([](auto& o) { o.restartInterval = 7; })},
      {"restarts every tile, fill bytes", 240, with([](auto& o) { o.restartInterval = 1, o.fillBytes = 3; })},
      {"tables on every full frame", 240, with([](auto& o) { o.tablesEveryFullFrame = true; })},
      {"4:2:2, odd height", 232, with([](auto& o) { o.fullFrames422 = true, o.unitRowsByHeight = true; })},
      {"4:2:2, restarts, fill", 232,
       with([](auto& o) { o.fullFrames422 = o.unitRowsByHeight = true, o.restartInterval = 5, o.fillBytes = 1; })},
      {"4:4:4, restarts", 232, with([](auto& o) { o.fullFrames444 = true, o.restartInterval = 9; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mxpegenc::MxpegEncoder encoder(c.options);
    mxpegenc::SyntheticScene scene(2);
    for (uint32_t k = 0; k < 2; ++k) {
      const std::vector<uint8_t> rgb = scene.RenderRgb(k, 320, c.height);
      const auto frame = encoder.EncodeFrame(mxpegenc::YCbCrPicture::FromRgb(rgb.data(), 320, c.height, 960), "", 0);
      ASSERT_TRUE(encoder.LastFrame().full);
      if (k > 0 && !c.options.tablesEveryFullFrame) continue;  // without its tables: not a JPEG on its own
      // Fill bytes before SOI belong to the stream; a JPEG file starts at SOI.
      const auto soi = frame.begin() + c.options.fillBytes;
      ASSERT_TRUE(soi[0] == 0xFF && soi[1] == 0xD8);
      const mxmtest::Decoded d = mxmtest::DecodeJpeg(std::vector<uint8_t>(soi, frame.end()));
      ASSERT_TRUE(d.ok) << d.error;
      EXPECT_EQ(d.warnings, 0);
      EXPECT_EQ(d.height, c.height);
      EXPECT_GE(mxmtest::Psnr(d.pixels, rgb), 30.0);
      if (!c.options.fullFrames422 && !c.options.fullFrames444) {
        EXPECT_EQ(ReadCoefficients(std::vector<uint8_t>(soi, frame.end()), 20, 15), encoder.CurrentCoefficients());
      }
    }
  }
}

TEST(MxpegEncoderTest, CustomTablesAreCompleteAndDifferFromAnnexK) {
  mxpegenc::EncoderOptions options;
  options.huffman = mxpegenc::HuffmanMode::kCustom;
  mxpegenc::MxpegEncoder custom(options);
  mxpegenc::MxpegEncoder standard;
  mxpegenc::SyntheticScene scene(4);
  custom.EncodeFrame(scene.Render(0, 320, 240), "", 0);
  for (int t = 0; t < 4; ++t) {
    const std::vector<uint8_t>& spec = custom.HuffmanTable(t);
    EXPECT_NE(spec, standard.HuffmanTable(t)) << t;
    uint16_t code[256];
    uint8_t length[256];
    ASSERT_NO_THROW(mxpegenc::BuildCodeTable(spec, code, length));
    int symbols = 0;
    for (int l = 0; l < 16; ++l) symbols += spec[l];
    EXPECT_EQ(symbols, t % 2 == 0 ? 12 : 162) << t;  // every baseline symbol can be coded
    for (int s = 0; s < 256; ++s) {
      if (length[s] != 0) {
        EXPECT_NE(code[s], (1u << length[s]) - 1) << "all-ones code for " << s;
      }
    }
  }
}

TEST(MxpegEncoderTest, FrameLayoutFollowsTheStreamConventions) {
  mxpegenc::EncoderOptions options;
  options.refreshInterval = 10;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(8);
  const std::string sensors = "SECTION SENSORS\nIN1=1\nENDSECTION SENSORS\n";
  for (int i = 0; i < 21; ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const uint64_t timestamp = 0x0000000123456789ull + 40000ull * i;
    const auto frame = encoder.EncodeFrame(scene.Render(i, 160, 96), sensors, timestamp);
    const auto segments = Segments(frame);
    EXPECT_EQ(frame[0], 0xFF);
    EXPECT_EQ(frame[1], 0xD8);
    EXPECT_EQ(frame[frame.size() - 2], 0xFF);
    EXPECT_EQ(frame.back(), 0xD9);
    const bool full = i % 10 == 0;
    EXPECT_EQ(encoder.LastFrame().full, full);
    EXPECT_NE(Find(segments, 0xFE, "#:M1IMG"), nullptr);
    const SegmentInfo* mxf = Find(segments, 0xFE, "MXF");
    ASSERT_NE(mxf, nullptr);
    ASSERT_GE(mxf->payload.size(), 24u);
    uint64_t ts = 0;
    for (int b = 0; b < 8; ++b) ts |= static_cast<uint64_t>(mxf->payload[8 + b]) << (8 * b);
    EXPECT_EQ(ts, timestamp);
    EXPECT_EQ(mxf->payload[20] | (mxf->payload[21] << 8), i);
    // Tables only with the first frame.
    EXPECT_EQ(Find(segments, 0xDB) != nullptr, i == 0);
    EXPECT_EQ(Find(segments, 0xC4) != nullptr, i == 0);
    const SegmentInfo* text = Find(segments, 0xFE, "SECTION SENSORS");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text->payload.begin(), text->payload.end()), sensors);
    const SegmentInfo* mxm = Find(segments, 0xFE, "MXM");
    ASSERT_EQ(mxm != nullptr, !full);
    if (mxm) {
      EXPECT_EQ(mxm->payload[4] | (mxm->payload[5] << 8), 10);  // tile columns
      EXPECT_EQ(mxm->payload[6] | (mxm->payload[7] << 8), 6);   // tile rows
      ASSERT_EQ(mxm->payload.size(), 12u + 8u);                 // 60 tiles -> 8 bytes of map
      int bits = 0;
      for (size_t b = 12; b < mxm->payload.size(); ++b) bits += std::popcount(mxm->payload[b]);
      EXPECT_EQ(bits, encoder.LastFrame().tilesSent);
      EXPECT_GT(bits, 0);
      EXPECT_LT(bits, 60);
    }
  }
  // A new quality: new DQT (not DHT) and a full frame.
  encoder.SetQuality(40);
  const auto segments = Segments(encoder.EncodeFrame(scene.Render(21, 160, 96), "", 0));
  EXPECT_TRUE(encoder.LastFrame().full);
  EXPECT_NE(Find(segments, 0xDB), nullptr);
  EXPECT_EQ(Find(segments, 0xC4), nullptr);
}

TEST(MxpegEncoderTest, FourTwoTwoFullFramesDeclareComponentZeroTwoByOne) {
  mxpegenc::EncoderOptions options;
  options.fullFrames422 = true;
  options.refreshInterval = 2;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(1);
  for (int i = 0; i < 3; ++i) {
    const auto frame = encoder.EncodeFrame(scene.Render(i, 64, 48), "", 0);
    const auto segments = Segments(frame);
    const SegmentInfo* sof = Find(segments, 0xC0);
    ASSERT_NE(sof, nullptr);
    EXPECT_EQ(sof->payload[7], i % 2 == 0 ? 0x21 : 0x22) << i;
    EXPECT_EQ(encoder.LastFrame().sampling422, i % 2 == 0);
    if (i == 0) {  // the first frame carries the tables, so it is a valid JPEG on its own
      const mxmtest::Decoded d = mxmtest::DecodeJpeg(frame);
      ASSERT_TRUE(d.ok) << d.error;
      EXPECT_EQ(d.warnings, 0);
      EXPECT_EQ(d.hSampling[0], 2);
      EXPECT_EQ(d.vSampling[0], 1);
    }
  }
}

TEST(MxpegEncoderTest, SceneIsDeterministicInSeedIndexAndSize) {
  mxpegenc::SyntheticScene a(42), b(42), c(43);
  EXPECT_EQ(a.RenderRgb(17, 200, 100), b.RenderRgb(17, 200, 100));
  EXPECT_NE(a.RenderRgb(17, 200, 100), a.RenderRgb(18, 200, 100));
  EXPECT_NE(a.RenderRgb(17, 200, 100), c.RenderRgb(17, 200, 100));
  EXPECT_EQ(a.RenderRgb(0, 200, 100).size(), 200u * 100u * 3u);
  mxpegenc::YCbCrPicture bad = a.Render(0, 32, 32);
  bad.cb.pop_back();
  mxpegenc::MxpegEncoder encoder;
  EXPECT_THROW(encoder.EncodeFrame(bad, "", 0), std::invalid_argument);
}

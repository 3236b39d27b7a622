// The tile-bit cache against the straightforward block-by-block writer: byte-identical scans on long
// random sequences of whole and partial changes, camera streams and hostile frames alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "MxpegFrameBuilder.h"
#include "MxpegTestSupport.h"
#include "mxm/JpegScanWriter.h"
#include "mxm/MxPEGParser.h"
#include "mxm/TileScanCache.h"
#include "mxpegenc/BitSink.h"
#include "mxpegenc/HuffmanBuilder.h"
#include "mxpegenc/MxpegEncoder.h"
#include "mxpegenc/SyntheticScene.h"

namespace {

using Block = std::array<int16_t, 64>;

const mxm::EncodingSet& Luminance() {
  static const mxm::EncodingSet set = mxm::EncodingSet::Build(mxm::kStdDcLuminance.data(), mxm::kStdAcLuminance.data());
  return set;
}
const mxm::EncodingSet& Chrominance() {
  static const mxm::EncodingSet set =
      mxm::EncodingSet::Build(mxm::kStdDcChrominance.data(), mxm::kStdAcChrominance.data());
  return set;
}

// The scan JpegScanWriter writes for the whole store: the reference.
std::vector<uint8_t> ReferenceScan(const std::vector<int16_t>& store) {
  mxm::JpegScanWriter w;
  int pred[3] = {0, 0, 0};
  for (size_t t = 0; t < store.size() / 384; ++t) {
    const int16_t* tile = &store[t * 384];
    for (int b = 0; b < 4; ++b) w.EncodeBlock(tile + b * 64, pred[0], Luminance());
    w.EncodeBlock(tile + 256, pred[1], Chrominance());
    w.EncodeBlock(tile + 320, pred[2], Chrominance());
  }
  w.Finish();
  return {w.Data(), w.Data() + w.Size()};
}

// Camera-like tile (a DC near `level`, a few low AC values) or, when wild, values far beyond what the
// tables can carry: DC anywhere in 16 bits and AC up to +-5000, so both limits and the slow path run.
void FillTile(int16_t* tile, std::mt19937& rng, bool wild, int level) {
  std::uniform_int_distribution<int> coin(0, 99);
  for (int b = 0; b < 6; ++b) {
    int16_t* block = tile + b * 64;
    std::fill(block, block + 64, int16_t{0});
    if (wild) {
      block[0] = static_cast<int16_t>(std::uniform_int_distribution<int>(-32768, 32767)(rng));
      for (int i = 1; i < 64; ++i)
        if (coin(rng) < 30) block[i] = static_cast<int16_t>(std::uniform_int_distribution<int>(-5000, 5000)(rng));
    } else {
      block[0] = static_cast<int16_t>(level + std::uniform_int_distribution<int>(-40, 40)(rng));
      const int count = std::uniform_int_distribution<int>(0, 12)(rng);
      for (int i = 0; i < count; ++i) {
        const int pos = std::uniform_int_distribution<int>(1, coin(rng) < 10 ? 63 : 20)(rng);
        block[pos] = static_cast<int16_t>(std::uniform_int_distribution<int>(-60, 60)(rng));
      }
      if (coin(rng) < 5) block[63] = 1;  // no end-of-block code
    }
  }
}

struct Pair {
  mxmtest::CollectingReceiver cachedOut, referenceOut;
  mxm::MxPEGParser cached{&cachedOut}, reference{&referenceOut};
  size_t compared = 0;
  size_t partial = 0;

  Pair() { reference.Converter().SetReferenceWriter(true); }
  // Feeds both parsers and compares every picture that came out.
  void Feed(const std::vector<uint8_t>& frame, bool wasPartial) {
    ASSERT_TRUE(cached.Feed(frame.data(), static_cast<uint32_t>(frame.size())));
    ASSERT_TRUE(reference.Feed(frame.data(), static_cast<uint32_t>(frame.size())));
    ASSERT_TRUE(cached.Feed(mxmtest::Soi().data(), 2));
    ASSERT_TRUE(reference.Feed(mxmtest::Soi().data(), 2));
    ASSERT_EQ(cachedOut.pictures.size(), referenceOut.pictures.size());
    for (size_t i = compared; i < cachedOut.pictures.size(); ++i) {
      ASSERT_EQ(cachedOut.pictures[i].jpeg, referenceOut.pictures[i].jpeg) << "picture " << i;
      ++compared;
      partial += wasPartial;
    }
  }
};

}  // namespace

TEST(TileScanCacheTest, MatchesTheBlockWriterOnRandomStoresAndChanges) {
  constexpr size_t kTiles = 35;
  constexpr int kRounds = 4000;
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> percent(0, 99);
  std::vector<int16_t> store(kTiles * 384);
  mxm::TileScanCache cache;
  cache.Resize(kTiles);
  size_t compactions = 0, lastUsed = 0;
  int wildRounds = 0;
  for (int round = 0; round < kRounds; ++round) {
    const bool wild = percent(rng) < 15;
    wildRounds += wild;
    const int level = std::uniform_int_distribution<int>(-1000, 1000)(rng);
    const int kind = percent(rng);
    if (kind < 4) {
      for (size_t t = 0; t < kTiles; ++t) FillTile(&store[t * 384], rng, wild, level);
      cache.Invalidate();
    } else if (kind < 20) {
      // A tile marked as changed but holding the same values codes to the same bits.
      cache.MarkChanged(std::uniform_int_distribution<size_t>(0, kTiles - 1)(rng));
    } else if (kind < 25) {
      // Nothing changed: the picture is assembled from kept bits alone.
    } else {
      const int changes = std::uniform_int_distribution<int>(1, kind < 80 ? 3 : 20)(rng);
      for (int c = 0; c < changes; ++c) {
        const size_t t = std::uniform_int_distribution<size_t>(0, kTiles - 1)(rng);
        FillTile(&store[t * 384], rng, wild, level);
        cache.MarkChanged(t);
      }
    }
    cache.Write(store.data(), Luminance(), Chrominance());
    EXPECT_EQ(cache.ChangedCount(), 0u);
    const std::vector<uint8_t> got(cache.Data(), cache.Data() + cache.Size());
    ASSERT_EQ(got, ReferenceScan(store)) << "round " << round;
    if (cache.UsedWords() < lastUsed && kind >= 25) ++compactions;
    lastUsed = cache.UsedWords();
    EXPECT_GE(cache.UsedWords(), cache.LiveWords());
  }
  std::printf("[ bytes    ] %d scans compared, %d with values beyond the limits, %zu compactions\n", kRounds,
              wildRounds, compactions);
  EXPECT_GT(compactions, 0u);  // the compaction path ran and kept the output exact
}

TEST(TileScanCacheTest, ResizeCodesEveryTileAgain) {
  std::mt19937 rng(5);
  std::vector<int16_t> store(12 * 384);
  for (size_t t = 0; t < 12; ++t) FillTile(&store[t * 384], rng, false, 100);
  mxm::TileScanCache cache;
  cache.Resize(12);
  EXPECT_EQ(cache.ChangedCount(), 12u);
  cache.Write(store.data(), Luminance(), Chrominance());
  const std::vector<uint8_t> first(cache.Data(), cache.Data() + cache.Size());
  EXPECT_EQ(first, ReferenceScan(store));
  // A smaller grid: only the first six tiles, all coded afresh.
  store.resize(6 * 384);
  cache.Resize(6);
  EXPECT_EQ(cache.ChangedCount(), 6u);
  cache.Write(store.data(), Luminance(), Chrominance());
  EXPECT_EQ(std::vector<uint8_t>(cache.Data(), cache.Data() + cache.Size()), ReferenceScan(store));
  EXPECT_LT(cache.Size(), first.size());
}

// Camera streams: pictures whose tiles change at random (none, one, a few, a tenth, half, all), full
// refreshes, quality and size changes (also off the tile grid), custom Huffman tables, 4:2:2 full frames
// (also of heights whose last tile row has one unit row), restart intervals and fill bytes.
TEST(TileScanCacheTest, ConverterPicturesAreByteIdenticalToTheReferenceWriterOnLongStreams) {
  constexpr int kFrames = 900;
  const std::pair<int, int> sizes[] = {{160, 128}, {176, 144}, {200, 120}, {96, 64}, {640, 480}};
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> percent(0, 99);
  Pair pair;
  std::unique_ptr<mxpegenc::MxpegEncoder> encoder;
  mxpegenc::SyntheticScene scene(11);
  mxpegenc::YCbCrPicture picture;
  int fullFrames = 0;
  for (int f = 0; f < kFrames; ++f) {
    if (!encoder || percent(rng) < 3) {
      // A new connection: new encoder options, often a new size.
      mxpegenc::EncoderOptions options;
      options.quality = std::uniform_int_distribution<int>(30, 95)(rng);
      options.refreshInterval = std::uniform_int_distribution<int>(1, 40)(rng);
      options.huffman = percent(rng) < 30 ? mxpegenc::HuffmanMode::kCustom : mxpegenc::HuffmanMode::kStandard;
      options.fullFrames422 = percent(rng) < 20;
      options.unitRowsByHeight = percent(rng) < 50;
      options.restartInterval = percent(rng) < 25 ? std::uniform_int_distribution<int>(1, 8)(rng) : 0;
      options.fillBytes = percent(rng) < 15 ? 2 : 0;
      options.tablesEveryFullFrame = percent(rng) < 20;
      encoder = std::make_unique<mxpegenc::MxpegEncoder>(options);
      const auto [w, h] = sizes[percent(rng) < 8 ? 4 : std::uniform_int_distribution<int>(0, 3)(rng)];
      picture = scene.Render(static_cast<uint32_t>(f), w, h);
    }
    if (percent(rng) < 2) encoder->SetQuality(std::uniform_int_distribution<int>(30, 95)(rng));
    // Change a share of the tiles: each chosen tile gets a new texture in all three planes.
    const int columns = (picture.width + 15) / 16, rows = (picture.height + 15) / 16;
    const int share[] = {0, 1, 3, 10, 50, 100};
    const int pct = share[std::uniform_int_distribution<int>(0, 5)(rng)];
    for (int t = 0; t < columns * rows; ++t) {
      if (percent(rng) >= pct && !(pct == 1 && t == f % (columns * rows))) continue;
      const uint8_t shift = static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(rng));
      for (int y = (t / columns) * 16; y < std::min(picture.height, (t / columns) * 16 + 16); ++y)
        for (int x = (t % columns) * 16; x < std::min(picture.width, (t % columns) * 16 + 16); ++x) {
          uint8_t& s = picture.y[static_cast<size_t>(y) * picture.width + x];
          s = static_cast<uint8_t>(s + shift + ((x * 7 + y * 3) & 15));
          const size_t c = static_cast<size_t>(y / 2) * picture.ChromaWidth() + x / 2;
          picture.cb[c] = static_cast<uint8_t>(picture.cb[c] + shift / 3);
          picture.cr[c] = static_cast<uint8_t>(picture.cr[c] - shift / 5);
        }
    }
    const auto frame = encoder->EncodeFrame(picture, "", 40000ull * f);
    fullFrames += encoder->LastFrame().full;
    pair.Feed(frame, !encoder->LastFrame().full);
    if (HasFatalFailure()) return;
  }
  std::printf("[ bytes    ] %zu pictures compared byte for byte (%zu partial, %d full)\n", pair.compared, pair.partial,
              fullFrames);
  EXPECT_EQ(pair.compared, static_cast<size_t>(kFrames));
  EXPECT_GT(pair.partial, static_cast<size_t>(kFrames / 2));
}

// Hand-built frames: DC values that walk far beyond what one difference can carry (so the output chain
// needs the limit and the slow path), AC values beyond the tables, random tile maps, and scans cut
// short, which leave tiles half written in the store without a picture.
TEST(TileScanCacheTest, ConverterPicturesAreByteIdenticalToTheReferenceWriterOnHostileFrames) {
  constexpr int kFrames = 600;
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> percent(0, 99);
  Pair pair;
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  spec.width = 80;
  spec.height = 48;  // 5 x 3 tiles
  const int tiles = 15;
  int failed = 0;
  for (int f = 0; f < kFrames; ++f) {
    std::vector<uint8_t> map(2, 0);
    const bool full = f == 0 || percent(rng) < 15;
    std::vector<Block> blocks;
    int dc[3] = {0, 0, 0};  // the scan's own chain: each step must fit 11 bits
    for (int t = 0; t < tiles; ++t) {
      if (!full && percent(rng) < 60) continue;
      map[t / 8] |= static_cast<uint8_t>(0x80u >> (t % 8));
      for (int b = 0; b < 6; ++b) {
        const int c = b < 4 ? 0 : b - 3;
        dc[c] = std::clamp(dc[c] + std::uniform_int_distribution<int>(-2047, 2047)(rng), -6000, 6000);
        Block block{};
        block[0] = static_cast<int16_t>(dc[c]);
        const int count = std::uniform_int_distribution<int>(0, 8)(rng);
        for (int i = 0; i < count; ++i)
          block[std::uniform_int_distribution<int>(1, 63)(rng)] =
              static_cast<int16_t>(std::uniform_int_distribution<int>(-1023, 1023)(rng));
        blocks.push_back(block);
      }
    }
    spec.tileMap = full ? std::nullopt : std::optional<std::vector<uint8_t>>(map);
    spec.scan = mxmtest::EncodeScan(blocks, false);
    if (!blocks.empty() && percent(rng) < 15) {
      spec.scan.resize(spec.scan.size() / 2);  // runs out part way: no picture, some tiles rewritten
      ++failed;
    }
    if (spec.scan.empty()) spec.scan.push_back(0);
    pair.Feed(mxmtest::BuildFrame(spec), !full);
    if (HasFatalFailure()) return;
  }
  std::printf("[ bytes    ] %zu hostile pictures compared byte for byte, %d frames cut short\n", pair.compared, failed);
  EXPECT_GT(pair.compared, static_cast<size_t>(kFrames * 3 / 4));
  EXPECT_GT(failed, 0);
}

namespace {

// Writes scans symbol by symbol with the Annex K tables, so that valid codings which a coder never
// produces can be fed: zero runs that end the block, a block closed by a zero run instead of an
// end-of-block code.
class SymbolWriter {
 public:
  SymbolWriter() : sink_(out_) {
    const std::vector<uint8_t> specs[4] = {{mxm::kStdDcLuminance.begin(), mxm::kStdDcLuminance.end()},
                                           {mxm::kStdAcLuminance.begin(), mxm::kStdAcLuminance.end()},
                                           {mxm::kStdDcChrominance.begin(), mxm::kStdDcChrominance.end()},
                                           {mxm::kStdAcChrominance.begin(), mxm::kStdAcChrominance.end()}};
    for (int t = 0; t < 4; ++t) mxpegenc::BuildCodeTable(specs[t], code_[t], length_[t]);
  }
  // table: 0 DC luma, 1 AC luma, 2 DC chroma, 3 AC chroma; value written in `size` bits (T.81 F.1.2.1).
  void Symbol(int table, uint8_t symbol, int value = 0) {
    sink_.Put(code_[table][symbol], length_[table][symbol]);
    const int size = symbol & 15;
    if (size != 0) sink_.Put(static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1), size);
  }
  static int Size(int v) {
    int s = 0;
    for (int a = v < 0 ? -v : v; a != 0; a >>= 1) ++s;
    return s;
  }
  void Dc(int table, int diff) { Symbol(table, static_cast<uint8_t>(Size(diff)), diff); }
  std::vector<uint8_t> Finish() {
    sink_.Flush();
    return out_;
  }

 private:
  std::vector<uint8_t> out_;
  mxpegenc::BitSink sink_;
  uint16_t code_[4][256];
  uint8_t length_[4][256];
};

}  // namespace

// Blocks whose bits as read are not the bits the coder writes must not be kept as they came: the
// pictures stay byte-identical to the reference writer's, also for the frames after them that reuse
// kept bits of other tiles.
TEST(TileScanCacheTest, CodingsACoderNeverWritesAreCodedAfresh) {
  mxmtest::FrameSpec spec = mxmtest::DefaultSpec();
  spec.width = 96;  // 6 tiles
  Pair pair;
  for (int variant = 0; variant < 4; ++variant) {
    SymbolWriter w;
    for (int t = 0; t < 6; ++t)
      for (int b = 0; b < 6; ++b) {
        const bool luma = b < 4;
        const int dc = luma ? 0 : 2, ac = dc + 1;
        // Variant 3: luminance DC climbs by 2047 per block and wraps past 32767 inside tile 3.
        w.Dc(dc, variant == 3 && luma ? 2047 : (b == 0 ? t : 0));
        if (variant == 0 && t == 2 && b == 1) {
          w.Symbol(ac, 0x01, 1);  // a value, then a zero run that ends the block before end of block
          w.Symbol(ac, 0xF0);
          w.Symbol(ac, 0x00);
        } else if (variant == 1 && t == 4 && b == 4) {
          w.Symbol(ac, 0xE1, -1);  // position 15, then 3 zero runs of 16 reach position 63: no end of block
          for (int z = 0; z < 3; ++z) w.Symbol(ac, 0xF0);
        } else if (variant == 2 && t == 1 && b == 0) {
          for (int z = 0; z < 3; ++z) w.Symbol(ac, 0xF0);  // zeros up to 48, values at 49 and 63
          w.Symbol(ac, 0x01, 3);
          w.Symbol(ac, 0xD1, -1);
        } else {
          w.Symbol(ac, 0x02, 2 + t);
          w.Symbol(ac, 0x00);
        }
      }
    spec.tileMap.reset();
    spec.scan = w.Finish();
    pair.Feed(mxmtest::BuildFrame(spec), false);
    if (HasFatalFailure()) return;
    // One other tile changes; the rest comes from kept bits.
    SymbolWriter p;
    for (int b = 0; b < 6; ++b) {
      p.Dc(b < 4 ? 0 : 2, b == 0 ? 40 + variant : 0);
      p.Symbol(b < 4 ? 1 : 3, 0x00);
    }
    spec.tileMap = std::vector<uint8_t>{0x04};  // tile 5
    spec.scan = p.Finish();
    pair.Feed(mxmtest::BuildFrame(spec), true);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(pair.compared, 8u);
}

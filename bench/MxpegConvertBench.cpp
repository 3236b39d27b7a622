// ConvertFrame (coefficient-domain merge and re-entropy-coding of MxPEG frames) beside libjpeg-turbo
// working on the same picture: its entropy decode (jpeg_read_coefficients), its Annex K re-encode
// (jpeg_write_coefficients), both together (the coefficient transcode), and decode to pixels + encode.
// Full frames and frames with 1%, 10% and 50% of the tiles changed, at three picture sizes; camera-like
// 4:2:0 pictures at quality 85. Prints a table with both sides and their ratio at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>

#include "BenchTable.h"
#include "mxm/MxPEGParser.h"
#include "mxm/TileScanCache.h"
#include "mxpegenc/MxpegEncoder.h"
#include "mxpegenc/SyntheticScene.h"

namespace {

constexpr int kQuality = 85;
constexpr std::pair<int, int> kSizes[] = {{640, 480}, {1280, 960}, {2048, 1536}};
constexpr int kShares[] = {100, 1, 10, 50};  // percent of tiles in the converted frame; 100: full frame

class Sink : public mxm::ISegmentedStreamReceiver {
 public:
  void FrameComplete(int32_t, int32_t) override {
    last.swap(pending);
    pending.clear();
  }
  void AppendSegment(const uint8_t* data, uint32_t length) override { pending.insert(pending.end(), data, data + length); }
  std::vector<uint8_t> pending;
  std::vector<uint8_t> last;
};

// A parser whose descriptor holds the frame to convert: a full frame, or (after a full frame) a frame
// in which every (100 / share)-th tile changed. Converting the same partial frame again and again is
// the steady state of a stream: the same number of tiles decoded and re-coded per picture.
struct Fixture {
  Sink sink;
  std::unique_ptr<mxm::MxPEGParser> parser;
  std::vector<uint8_t> jpeg;  // the rebuilt picture: input of the libjpeg-turbo side
  int tilesSent = 0;
  int tiles = 0;
};

Fixture& GetFixture(int width, int height, int share) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<Fixture>> cache;
  auto& slot = cache[{width, height, share}];
  if (slot) return *slot;
  slot = std::make_unique<Fixture>();
  Fixture& f = *slot;
  f.parser = std::make_unique<mxm::MxPEGParser>(&f.sink);
  mxpegenc::EncoderOptions options;
  options.quality = kQuality;
  options.refreshInterval = 1000;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(1);
  mxpegenc::YCbCrPicture picture = scene.Render(0, width, height);
  std::vector<uint8_t> frame = encoder.EncodeFrame(picture, "", 0);
  f.tilesSent = encoder.LastFrame().tilesSent;
  if (share < 100) {
    f.parser->Feed(frame.data(), static_cast<uint32_t>(frame.size()));
    const int columns = (width + 15) / 16, rows = (height + 15) / 16;
    for (int t = 0; t < columns * rows; t += 100 / share)
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const size_t i = static_cast<size_t>((t / columns) * 16 + y) * width + (t % columns) * 16 + x;
          picture.y[i] = static_cast<uint8_t>(255 - picture.y[i]);
        }
    frame = encoder.EncodeFrame(picture, "", 1);
    f.tilesSent = encoder.LastFrame().tilesSent;
  }
  f.tiles = encoder.TileColumns() * encoder.TileRows();
  f.parser->Feed(frame.data(), static_cast<uint32_t>(frame.size()));
  f.parser->Converter().ConvertFrame(f.parser->Descriptor());
  f.jpeg = f.sink.last;
  return f;
}

// Writes over a buffer larger than the caches, so the next picture starts with cold caches as it does
// on a capture thread that wakes every 40 ms on a busy machine.
void EvictCaches() {
  static std::vector<uint64_t> junk(32u << 17);  // 32 MiB
  for (size_t i = 0; i < junk.size(); i += 8) junk[i] += i;
  benchmark::DoNotOptimize(junk.data());
}

void Convert(benchmark::State& state, bool reference, bool cold = false) {
  Fixture& f = GetFixture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2)));
  if (f.jpeg.empty()) {
    state.SkipWithError("the frame did not convert");
    return;
  }
  mxm::MxPEGScanToJPEGConverter& converter = f.parser->Converter();
  converter.SetReferenceWriter(reference);
  converter.ConvertFrame(f.parser->Descriptor());  // a switch of writer re-codes every tile once
  for (auto _ : state) {
    if (cold) {
      state.PauseTiming();
      EvictCaches();
      state.ResumeTiming();
    }
    converter.ConvertFrame(f.parser->Descriptor());
    benchmark::DoNotOptimize(f.sink.last.data());
  }
  converter.SetReferenceWriter(false);
  if (f.sink.last != f.jpeg) state.SkipWithError("the picture changed between runs");
  state.counters["tiles_sent"] = f.tilesSent;
  state.counters["tiles"] = f.tiles;
  state.counters["jpeg_bytes"] = static_cast<double>(f.jpeg.size());
}

void BM_ConvertFrame(benchmark::State& state) { Convert(state, false); }
// The same with caches evicted before each picture (the timing leaves the eviction out).
void BM_ConvertFrameCold(benchmark::State& state) { Convert(state, false, true); }
// The straightforward writer (every block coded again for every picture), for comparison.
void BM_ConvertFrameBlockWriter(benchmark::State& state) { Convert(state, true); }

struct Decoder {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  jvirt_barray_ptr* coefficients = nullptr;
  explicit Decoder(const std::vector<uint8_t>& jpeg) {
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    coefficients = jpeg_read_coefficients(&d);
  }
  ~Decoder() { jpeg_destroy_decompress(&d); }
};

// Writes the coefficients of `from` again with the Annex K tables, into `buffer` (grown by libjpeg
// when too small).
void WriteCoefficients(Decoder& from, std::vector<uint8_t>& buffer) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = buffer.data();
  unsigned long size = buffer.size();
  jpeg_mem_dest(&c, &out, &size);
  jpeg_copy_critical_parameters(&from.d, &c);
  c.optimize_coding = FALSE;
  jpeg_write_coefficients(&c, from.coefficients);
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  benchmark::DoNotOptimize(out);
  if (out != buffer.data()) std::free(out);
}

Fixture& FullPicture(benchmark::State& state) {
  return GetFixture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 100);
}

void BM_LibjpegEntropyDecode(benchmark::State& state) {
  Fixture& f = FullPicture(state);
  for (auto _ : state) {
    Decoder d(f.jpeg);
    benchmark::DoNotOptimize(d.coefficients);
  }
}

void BM_LibjpegEntropyEncode(benchmark::State& state) {
  Fixture& f = FullPicture(state);
  Decoder d(f.jpeg);
  std::vector<uint8_t> buffer(f.jpeg.size() * 2);
  for (auto _ : state) WriteCoefficients(d, buffer);
}

void BM_LibjpegTranscode(benchmark::State& state) {
  Fixture& f = FullPicture(state);
  std::vector<uint8_t> buffer(f.jpeg.size() * 2);
  for (auto _ : state) {
    Decoder d(f.jpeg);
    WriteCoefficients(d, buffer);
  }
}

// The scan writer alone on the store of the full picture: every (100 / share)-th tile coded again and
// the whole scan assembled (share 0: no tile changed, the scan is copied whole), beside copying the
// JPEG picture (the floor). vary 0: the coded tiles keep their
// bits, so every run of unchanged tiles starts where it did before (as with an unchanging frame);
// vary 1: their last luminance coefficient toggles, so the runs move by varying bit counts (as in a
// real stream).
void BM_ScanWrite(benchmark::State& state) {
  Fixture& f = FullPicture(state);
  const int share = static_cast<int>(state.range(2));
  const bool vary = state.range(3) != 0;
  std::vector<int16_t> store = f.parser->Converter().CoefficientStore();
  const size_t tiles = store.size() / mxm::TileScanCache::kCoefficientsPerTile;
  const size_t step = share > 0 ? static_cast<size_t>(100 / share) : tiles;  // 0: no tile changes
  const mxm::EncodingSet luminance = mxm::EncodingSet::Build(mxm::kStdDcLuminance.data(), mxm::kStdAcLuminance.data());
  const mxm::EncodingSet chrominance = mxm::EncodingSet::Build(mxm::kStdDcChrominance.data(), mxm::kStdAcChrominance.data());
  mxm::TileScanCache cache;
  cache.Resize(tiles);
  cache.Write(store.data(), luminance, chrominance);
  int16_t toggle = 0;
  for (auto _ : state) {
    toggle = static_cast<int16_t>(vary ? 1 - toggle : 0);
    for (size_t t = 0; share > 0 && t < tiles; t += step) {
      cache.MarkChanged(t);
      store[t * mxm::TileScanCache::kCoefficientsPerTile + 63] = toggle;
    }
    cache.Write(store.data(), luminance, chrominance);
    benchmark::DoNotOptimize(cache.Data());
  }
  state.counters["scan_bytes"] = static_cast<double>(cache.Size());
}

void BM_ScanCopy(benchmark::State& state) {
  Fixture& f = FullPicture(state);
  std::vector<uint8_t> copy(f.jpeg.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), f.jpeg.data(), f.jpeg.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
}

// Decode to YCbCr pixels (no colour conversion) and encode them again at the same quality.
void BM_LibjpegPixels(benchmark::State& state) {
  Fixture& f = FullPicture(state);
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> buffer(f.jpeg.size() * 2);
  for (auto _ : state) {
    jpeg_decompress_struct d;
    jpeg_error_mgr derr;
    d.err = jpeg_std_error(&derr);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, f.jpeg.data(), static_cast<unsigned long>(f.jpeg.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_YCbCr;
    jpeg_start_decompress(&d);
    const size_t stride = static_cast<size_t>(d.output_width) * 3;
    pixels.resize(stride * d.output_height);
    while (d.output_scanline < d.output_height) {
      JSAMPROW row = pixels.data() + d.output_scanline * stride;
      jpeg_read_scanlines(&d, &row, 1);
    }
    const JDIMENSION width = d.output_width, height = d.output_height;
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);

    jpeg_compress_struct c;
    jpeg_error_mgr cerr;
    c.err = jpeg_std_error(&cerr);
    jpeg_create_compress(&c);
    unsigned char* out = buffer.data();
    unsigned long outSize = buffer.size();
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = width;
    c.image_height = height;
    c.input_components = 3;
    c.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQuality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = pixels.data() + c.next_scanline * stride;
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    benchmark::DoNotOptimize(out);
    if (out != buffer.data()) std::free(out);
  }
}

void Shares(benchmark::internal::Benchmark* b) {
  for (auto [w, h] : kSizes)
    for (int share : kShares) b->Args({w, h, share});
  b->Unit(benchmark::kMillisecond)->MinTime(0.3);
}

// A fixed count: each eviction costs milliseconds, far more than the picture it follows.
void ColdShares(benchmark::internal::Benchmark* b) {
  for (auto [w, h] : kSizes)
    for (int share : kShares) b->Args({w, h, share});
  b->Unit(benchmark::kMillisecond)->Iterations(100);
}

void WriteShares(benchmark::internal::Benchmark* b) {
  for (auto [w, h] : kSizes) {
    b->Args({w, h, 100, 0});
    b->Args({w, h, 0, 0});
    for (int vary : {0, 1}) b->Args({w, h, 10, vary});
  }
  b->Unit(benchmark::kMillisecond)->MinTime(0.3);
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (auto [w, h] : kSizes) b->Args({w, h});
  b->Unit(benchmark::kMillisecond)->MinTime(0.3);
}

BENCHMARK(BM_ConvertFrame)->Apply(Shares);
BENCHMARK(BM_ConvertFrameBlockWriter)->Apply(Shares);
BENCHMARK(BM_ConvertFrameCold)->Apply(ColdShares);
BENCHMARK(BM_LibjpegEntropyDecode)->Apply(Sizes);
BENCHMARK(BM_LibjpegEntropyEncode)->Apply(Sizes);
BENCHMARK(BM_LibjpegTranscode)->Apply(Sizes);
BENCHMARK(BM_LibjpegPixels)->Apply(Sizes);
BENCHMARK(BM_ScanWrite)->Apply(WriteShares);
BENCHMARK(BM_ScanCopy)->Apply(Sizes);

// One row per size and frame kind: ConvertFrame against the libjpeg-turbo figure its target names
// (full frames: the coefficient transcode, limit 0.40; partial frames: the re-encode of the full
// picture, limit 0.06 at 10%), and the other anchors beside it.
std::string Key(const char* function, int w, int h, int share = -1) {
  char key[96];
  if (share < 0)
    std::snprintf(key, sizeof key, "%s/%d/%d", function, w, h);
  else
    std::snprintf(key, sizeof key, "%s/%d/%d/%d", function, w, h, share);
  return key;
}

void PrintTable(const benchtable::Reporter& r) {
  std::printf("\nMxPEG conversion per picture, CPU time in ms (median of the repetitions when repeated)\n");
  std::printf("%-10s %-6s %9s %11s %9s | %-13s %9s %7s %-12s | %9s %9s %9s\n", "size", "tiles", "convert", "blockwriter", "cold",
              "anchor", "anchor_ms", "ratio", "target", "lj_decode", "lj_encode", "lj_pixels");
  for (auto [w, h] : kSizes) {
    const auto* dec = r.Find(Key("BM_LibjpegEntropyDecode", w, h));
    const auto* enc = r.Find(Key("BM_LibjpegEntropyEncode", w, h));
    const auto* trans = r.Find(Key("BM_LibjpegTranscode", w, h));
    const auto* pix = r.Find(Key("BM_LibjpegPixels", w, h));
    for (int share : kShares) {
      const auto* conv = r.Find(Key("BM_ConvertFrame", w, h, share));
      const auto* block = r.Find(Key("BM_ConvertFrameBlockWriter", w, h, share));
      const auto* cold = r.Find(Key("BM_ConvertFrameCold", w, h, share));
      if (conv == nullptr) continue;
      const bool full = share == 100;
      const auto* anchor = full ? trans : enc;
      const double limit = full ? 0.40 : (share == 10 && w >= 1280 ? 0.06 : 0.0);
      const double ratio = anchor ? conv->cpu / anchor->cpu : 0;
      char size[16], tiles[8], target[24] = "-";
      std::snprintf(size, sizeof size, "%dx%d", w, h);
      std::snprintf(tiles, sizeof tiles, full ? "full" : "%d%%", share);
      if (limit > 0 && anchor)
        std::snprintf(target, sizeof target, "<=%.2f %s", limit, benchtable::Verdict(ratio, limit, true));
      std::printf("%-10s %-6s %9.3f %11.3f %9.3f | %-13s %9.3f %7.3f %-12s | %9.3f %9.3f %9.3f\n", size, tiles,
                  conv->cpu, block ? block->cpu : 0.0, cold ? cold->cpu : 0.0, full ? "lj_transcode" : "lj_encode", anchor ? anchor->cpu : 0.0, ratio,
                  target, dec ? dec->cpu : 0.0, enc ? enc->cpu : 0.0, pix ? pix->cpu : 0.0);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchtable::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(reporter);
  benchmark::Shutdown();
  return 0;
}

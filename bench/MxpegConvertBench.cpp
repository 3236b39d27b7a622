// ConvertFrame (coefficient-domain merge and re-entropy-coding) against the pixel route: decoding the
// same picture with libjpeg-turbo and encoding it again at equal quality. Full frames and frames with
// 10% of the tiles changed, at three picture sizes. Prints a table with both times and their ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "mxm/MxPEGParser.h"
#include "mxpegenc/MxpegEncoder.h"
#include "mxpegenc/SyntheticScene.h"

namespace {

constexpr int kQuality = 75;

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

// A parser whose descriptor holds the frame to convert: the full frame alone, or a full frame
// followed by a frame in which every tenth tile changed.
struct Fixture {
  Sink sink;
  std::unique_ptr<mxm::MxPEGParser> parser;
  std::vector<uint8_t> jpeg;  // the rebuilt picture, input of the pixel route
  int tilesSent = 0;
  int tiles = 0;
};

Fixture& GetFixture(int width, int height, bool partial) {
  static std::map<std::tuple<int, int, bool>, std::unique_ptr<Fixture>> cache;
  auto& slot = cache[{width, height, partial}];
  if (slot) return *slot;
  slot = std::make_unique<Fixture>();
  Fixture& f = *slot;
  f.parser = std::make_unique<mxm::MxPEGParser>(&f.sink);
  mxpegenc::EncoderOptions options;
  options.quality = kQuality;
  options.refreshInterval = 100;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::SyntheticScene scene(1);
  mxpegenc::YCbCrPicture picture = scene.Render(0, width, height);
  std::vector<uint8_t> frame = encoder.EncodeFrame(picture, "", 0);
  f.tilesSent = encoder.LastFrame().tilesSent;
  if (partial) {
    f.parser->Feed(frame.data(), static_cast<uint32_t>(frame.size()));
    const int columns = (width + 15) / 16, rows = (height + 15) / 16;
    for (int t = 0; t < columns * rows; t += 10)
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

void BM_ConvertFrame(benchmark::State& state) {
  Fixture& f = GetFixture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), state.range(2) != 0);
  if (f.jpeg.empty()) {
    state.SkipWithError("the frame did not convert");
    return;
  }
  for (auto _ : state) {
    f.parser->Converter().ConvertFrame(f.parser->Descriptor());
    benchmark::DoNotOptimize(f.sink.last.data());
  }
  state.counters["tiles_sent"] = f.tilesSent;
  state.counters["tiles"] = f.tiles;
}

// Decode to YCbCr pixels (no colour conversion) and encode them again at the same quality.
void BM_LibjpegDecodeEncode(benchmark::State& state) {
  Fixture& f = GetFixture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), state.range(2) != 0);
  std::vector<uint8_t> pixels;
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
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
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
    std::free(out);
  }
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (auto [w, h] : {std::pair{640, 480}, std::pair{1280, 960}, std::pair{2048, 1536}})
    for (int partial : {0, 1}) b->Args({w, h, partial});
  b->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

BENCHMARK(BM_ConvertFrame)->Apply(Sizes);
BENCHMARK(BM_LibjpegDecodeEncode)->Apply(Sizes);

// Console output as usual, plus the comparison table at the end.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (!r.error_occurred && r.iterations > 0)
        times_[r.benchmark_name()] = r.GetAdjustedCPUTime();  // CPU time: the machine is shared
  }
  void PrintTable() const {
    std::printf("\nCPU time per picture\n%-10s %-12s %16s %22s %8s\n", "size", "frame", "ConvertFrame ms", "libjpeg dec+enc ms", "ratio");
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1280, 960}, std::pair{2048, 1536}})
      for (int partial : {0, 1}) {
        const std::string args = "/" + std::to_string(w) + "/" + std::to_string(h) + "/" + std::to_string(partial) +
                                 "/min_time:0.500";
        const auto a = times_.find("BM_ConvertFrame" + args), b = times_.find("BM_LibjpegDecodeEncode" + args);
        if (a == times_.end() || b == times_.end()) continue;
        std::printf("%-10s %-12s %16.3f %22.3f %7.1fx\n", (std::to_string(w) + "x" + std::to_string(h)).c_str(),
                    partial ? "10% tiles" : "full", a->second, b->second, b->second / a->second);
      }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintTable();
  benchmark::Shutdown();
  return 0;
}

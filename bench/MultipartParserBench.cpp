// Throughput of the multipart JPEG parser (CJpegMediaParser) on a 1280x960 MJPEG stream, fed in the
// read sizes of the channel (its 8096-byte first buffer, a TCP segment, a 64 KiB socket read), beside
// memcpy of the same bytes in the same chunks. Pictures are real baseline JPEGs (quality 85), so the
// parser meets 0xFF bytes as often as it does on a camera stream. Each picture goes all the way into a
// host sample, as in the channel.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchTable.h"
#include "Channels/HttpMediaParser.h"
#include "camsim/JpegCodec.h"
#include "mxpegenc/SyntheticScene.h"

namespace {

constexpr int kWidth = 1280, kHeight = 960, kPictures = 25, kQuality = 85;
constexpr int64_t kChunks[] = {1460, 8096, 65536};

// A host that keeps one sample and reuses its memory, so the figures are the driver's work: the
// parser and its copy into the sample, not the reference host's allocation.
class ReusedSample : public velmora::ipcapture::IMediaSample {
 public:
  uint8_t* GetData() override { return data_.get(); }
  uint32_t GetSize() override { return size_; }
  void SetSize(uint32_t size) override { size_ = size <= capacity_ ? size : capacity_; }
  void Commit() override {}
  void SetFormat(uint32_t) override {}
  void SetHeight(uint32_t) override {}
  void SetWidth(uint32_t) override {}
  void SetSizeClass(uint32_t) override {}
  void Reserve(uint32_t size) {
    if (size > capacity_) {
      data_.reset(new uint8_t[size]);
      capacity_ = size;
    }
    size_ = size;
  }

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint32_t capacity_ = 0;
  uint32_t size_ = 0;
};

class ReusingAllocator : public velmora::ipcapture::ISampleAllocator {
 public:
  velmora::ipcapture::IMediaSample* AllocateSample(uint32_t, uint32_t size, const char*) override {
    sample_.Reserve(size);
    return &sample_;
  }
  void ReleaseSample(velmora::ipcapture::IMediaSample*) override {}

 private:
  ReusedSample sample_;
};

class QuietDriver : public velmora::IDriver {
 public:
  void DebugMessage(int, const char*, ...) override { ++messages; }
  velmora::DEVICE_INFO GetDeviceInfo() override { return {}; }
  std::pair<int32_t, int32_t> GetIOCount() override { return {0, 0}; }
  velmora::ipcapture::ISampleAllocator* GetSampleAllocator() override { return &allocator; }
  int32_t GetVideoStandard() override { return 0; }
  int32_t GetStreamType() override { return 0; }
  int32_t GetChannelCount() override { return 1; }
  velmora::StreamParameters GetChannelParameters(uint32_t) override { return {}; }
  std::string GetParameter(int32_t) override { return {}; }
  int32_t GetParameterInt(int32_t) override { return 0; }
  ReusingAllocator allocator;
  int messages = 0;
};

class CountingReceiver : public velmora::IMediaReceiver {
 public:
  bool OnMediaSample(velmora::ipcapture::IMediaSample* sample) override {
    ++pictures;
    bytes += sample->GetSize();
    return true;
  }
  uint64_t pictures = 0;
  uint64_t bytes = 0;
};

// One second of a 25 pictures/s camera stream: multipart parts with the camera's part headers.
const std::vector<uint8_t>& Stream() {
  static const std::vector<uint8_t> stream = [] {
    std::vector<uint8_t> out;
    mxpegenc::SyntheticScene scene(3);
    for (int i = 0; i < kPictures; ++i) {
      camsim::RgbPicture picture;
      picture.width = kWidth;
      picture.height = kHeight;
      picture.rgb = scene.RenderRgb(static_cast<uint32_t>(i), kWidth, kHeight);
      std::vector<uint8_t> jpeg;
      if (!camsim::EncodeJpeg(picture, kQuality, {}, &jpeg)) return std::vector<uint8_t>{};
      const std::string head = "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                               std::to_string(jpeg.size()) + "\r\n\r\n";
      out.insert(out.end(), head.begin(), head.end());
      out.insert(out.end(), jpeg.begin(), jpeg.end());
      out.push_back('\r');
      out.push_back('\n');
    }
    return out;
  }();
  return stream;
}

void BM_MultipartParser(benchmark::State& state) {
  const std::vector<uint8_t>& stream = Stream();
  const size_t chunk = static_cast<size_t>(state.range(0));
  QuietDriver driver;
  CountingReceiver receiver;
  velmora::CJpegMediaParser parser(&driver, "bench");
  parser.SetReceiver(&receiver);
  for (auto _ : state)
    for (size_t at = 0; at < stream.size(); at += chunk) parser.Parse(stream.data() + at, std::min(chunk, stream.size() - at));
  if (receiver.pictures != static_cast<uint64_t>(state.iterations()) * kPictures || driver.messages != 0)
    state.SkipWithError("pictures lost");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.counters["pictures"] = static_cast<double>(receiver.pictures);
}

// The same bytes in the same chunks copied into a picture-sized buffer, as a parser that did nothing
// but keep the bytes would.
void BM_Memcpy(benchmark::State& state) {
  const std::vector<uint8_t>& stream = Stream();
  const size_t chunk = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> frame(1 << 20);
  for (auto _ : state) {
    size_t fill = 0;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      const size_t n = std::min(chunk, stream.size() - at);
      if (fill + n > frame.size()) fill = 0;
      std::memcpy(frame.data() + fill, stream.data() + at, n);
      fill += n;
    }
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}

void Chunks(benchmark::internal::Benchmark* b) {
  for (int64_t c : kChunks) b->Arg(c);
  b->Unit(benchmark::kMillisecond)->MinTime(0.3);
}

BENCHMARK(BM_MultipartParser)->Apply(Chunks);
BENCHMARK(BM_Memcpy)->Apply(Chunks);

void PrintTable(const benchtable::Reporter& r) {
  std::printf("\nMultipart parser on a %dx%d MJPEG stream (%d pictures, %zu bytes), throughput in MB/s (CPU time)\n",
              kWidth, kHeight, kPictures, Stream().size());
  std::printf("%-8s %12s %12s %8s %-12s\n", "chunk", "parser", "memcpy", "ratio", "target");
  for (int64_t c : kChunks) {
    char key[64];
    std::snprintf(key, sizeof key, "BM_MultipartParser/%lld", static_cast<long long>(c));
    const auto* parser = r.Find(key);
    std::snprintf(key, sizeof key, "BM_Memcpy/%lld", static_cast<long long>(c));
    const auto* copy = r.Find(key);
    if (parser == nullptr || copy == nullptr) continue;
    const double p = parser->counters.at("bytes_per_second") / 1e6, m = copy->counters.at("bytes_per_second") / 1e6;
    char target[24];
    std::snprintf(target, sizeof target, ">=0.25 %s", benchtable::Verdict(p / m, 0.25, false));
    std::printf("%-8lld %12.0f %12.0f %8.3f %-12s\n", static_cast<long long>(c), p, m, p / m, target);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (Stream().empty()) {
    std::fprintf(stderr, "could not encode the test pictures\n");
    return 1;
  }
  benchtable::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(reporter);
  benchmark::Shutdown();
  return 0;
}

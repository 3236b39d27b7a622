// End to end: CPU time the module's capture threads spend per second of stream, for N cameras of
// 1280x960 at 25 pictures/s, MJPEG and MxPEG (10% of the tiles changing per frame), loaded through the
// reference host like a recording server loads it. The camera is a replay server in a child process
// (this program with --serve) that sends pictures encoded once at start-up, so it costs little and
// none of its time is charged to the module. Each thread's CPU time comes from its own CPU clock;
// every thread of this process except the main thread belongs to the module.
//
//   bench_capturecpubench                           run the benchmark
//   bench_capturecpubench --serve REPORTFILE SECS   the replay server alone (what the benchmark starts)
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchTable.h"
#include "camsim/JpegCodec.h"
#include "host/Session.h"
#include "mxpegenc/MxpegEncoder.h"
#include "mxpegenc/SyntheticScene.h"
#include "platform/Process.h"
#include "platform/Socket.h"
#include "platform/System.h"

namespace {

constexpr int kWidth = 1280, kHeight = 960, kFps = 25, kQuality = 85;
constexpr int kMjpegPictures = 25;      // one second of distinct pictures, replayed
constexpr int kMxpegFrames = 250;       // a full frame every 10 s, as iframerefresh=10 asks
constexpr int kMotionPercent = 10;      // tiles changed per MxPEG frame
constexpr uint32_t kIoTimeoutMs = 5000;
constexpr uint32_t kPollMs = 50;
constexpr double kWarmUpSeconds = 2.0;
constexpr double kWindowSeconds = 8.0;

using velmora::platform::MonotonicMilliseconds;

// ---- replay server (child process) ----

struct Recording {
  std::vector<std::vector<uint8_t>> mjpegParts;  // multipart parts, ready to send
  std::vector<std::vector<uint8_t>> mxpegFrames; // frame 0 full with tables, then partial frames
};

Recording Record() {
  Recording r;
  mxpegenc::SyntheticScene scene(5);
  for (int i = 0; i < kMjpegPictures; ++i) {
    camsim::RgbPicture picture{kWidth, kHeight, scene.RenderRgb(static_cast<uint32_t>(i), kWidth, kHeight)};
    std::vector<uint8_t> jpeg;
    if (!camsim::EncodeJpeg(picture, kQuality, {}, &jpeg)) return {};
    const std::string head = "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size()) +
                             "\r\n\r\n";
    std::vector<uint8_t> part(head.begin(), head.end());
    part.insert(part.end(), jpeg.begin(), jpeg.end());
    part.push_back('\r');
    part.push_back('\n');
    r.mjpegParts.push_back(std::move(part));
  }
  mxpegenc::EncoderOptions options;
  options.quality = kQuality;
  options.refreshInterval = kMxpegFrames + 1;
  mxpegenc::MxpegEncoder encoder(options);
  mxpegenc::YCbCrPicture picture = scene.Render(0, kWidth, kHeight);
  const int columns = kWidth / 16, rows = kHeight / 16;
  for (int f = 0; f < kMxpegFrames; ++f) {
    if (f > 0) {
      // A different tenth of the tiles each frame turns to its negative: the same texture, new values,
      // as when something moves over a textured background.
      for (int t = 0; t < columns * rows; ++t) {
        if ((t * 7 + f) % (100 / kMotionPercent) != 0) continue;
        const int x0 = (t % columns) * 16, y0 = (t / columns) * 16;
        for (int y = y0; y < y0 + 16; ++y)
          for (int x = x0; x < x0 + 16; ++x) {
            uint8_t& s = picture.y[static_cast<size_t>(y) * kWidth + x];
            s = static_cast<uint8_t>(255 - s);
          }
        for (int y = y0 / 2; y < y0 / 2 + 8; ++y)
          for (int x = x0 / 2; x < x0 / 2 + 8; ++x) {
            uint8_t& s = picture.cb[static_cast<size_t>(y) * (kWidth / 2) + x];
            s = static_cast<uint8_t>(255 - s);
          }
      }
    }
    r.mxpegFrames.push_back(encoder.EncodeFrame(picture, "", static_cast<uint64_t>(f) * 40000));
  }
  return r;
}

void SleepUntil(uint64_t ms) {
  const uint64_t now = MonotonicMilliseconds();
  if (ms > now) std::this_thread::sleep_for(std::chrono::milliseconds(ms - now));
}

// One connection: small CGI requests get "OK" (kept alive); a stream request gets the recording at
// 25 pictures/s until the client goes or the deadline passes.
void ServeConnection(velmora::platform::TcpSocket s, const Recording& r, uint64_t deadline) {
  std::string pending;
  char buffer[4096];
  while (MonotonicMilliseconds() < deadline) {
    const size_t end = pending.find("\r\n\r\n");
    if (end == std::string::npos) {
      const long n = s.Receive(buffer, sizeof buffer, kPollMs);
      if (n == -2) continue;
      if (n <= 0 || pending.size() > 65536) return;
      pending.append(buffer, static_cast<size_t>(n));
      continue;
    }
    const std::string head = pending.substr(0, end);
    pending.erase(0, end + 4);
    if (head.find("faststream.jpg") == std::string::npos) {
      const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nOK\n";
      if (!s.SendAll(reply.data(), reply.size(), kIoTimeoutMs)) return;
      continue;
    }
    const bool mxpeg = head.find("stream=MxPEG") != std::string::npos;
    const std::string type = mxpeg ? "video/mxpeg" : "multipart/x-mixed-replace; boundary=myboundary";
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nConnection: close\r\n\r\n";
    if (!s.SendAll(reply.data(), reply.size(), kIoTimeoutMs)) return;
    const uint64_t start = MonotonicMilliseconds();
    for (uint64_t i = 0; MonotonicMilliseconds() < deadline; ++i) {
      SleepUntil(start + i * 1000 / kFps);
      const std::vector<uint8_t>& bytes =
          mxpeg ? r.mxpegFrames[i == 0 ? 0 : 1 + (i - 1) % (r.mxpegFrames.size() - 1)] : r.mjpegParts[i % r.mjpegParts.size()];
      if (!s.SendAll(bytes.data(), bytes.size(), kIoTimeoutMs)) return;
    }
    return;
  }
}

int Serve(const std::string& reportFile, uint32_t seconds) {
  const Recording recording = Record();
  if (recording.mjpegParts.empty()) return 1;
  velmora::platform::TcpSocket listener;
  if (!listener.Listen("127.0.0.1", 0)) return 1;
  {
    size_t partial = 0;
    for (size_t f = 1; f < recording.mxpegFrames.size(); ++f) partial += recording.mxpegFrames[f].size();
    std::ofstream report(reportFile);
    report << listener.LocalPort() << "\n"
           << "mjpeg picture bytes " << recording.mjpegParts[0].size() << ", mxpeg full frame bytes "
           << recording.mxpegFrames[0].size() << ", mxpeg partial frame bytes (mean) "
           << partial / (recording.mxpegFrames.size() - 1) << "\n";
  }
  const uint64_t deadline = MonotonicMilliseconds() + uint64_t{seconds} * 1000;
  std::vector<std::thread> connections;
  while (MonotonicMilliseconds() < deadline) {
    velmora::platform::TcpSocket client;
    if (!listener.Accept(&client, kPollMs)) continue;
    connections.emplace_back(ServeConnection, std::move(client), std::cref(recording), deadline);
  }
  for (auto& t : connections) t.join();
  return 0;
}

// ---- benchmark (this process: host and module) ----

// Counts pictures; keeps nothing, so the host side costs the module's threads almost nothing.
class CountingSink : public velmora::ipcapture::IVideoSink {
 public:
  bool DeliverSample(velmora::ipcapture::IMediaSample* sample) override {
    if (sample == nullptr || sample->GetSize() < 4) return false;
    const uint8_t* data = sample->GetData();
    if (data[0] == 0xFF && data[1] == 0xD8) ++pictures;
    return true;
  }
  void OnSignalLost() override { ++losses; }
  std::atomic<uint64_t> pictures{0};
  std::atomic<uint64_t> losses{0};
};

class ReplayServer {
 public:
  bool Start() {
    report_ = "/tmp/quillon-bench-replay-" + std::to_string(MonotonicMilliseconds()) + ".txt";
    std::remove(report_.c_str());
    if (!child_.Start({velmora::platform::ExecutablePath(), "--serve", report_, "3600"})) return false;
    const uint64_t deadline = MonotonicMilliseconds() + 120000;  // encoding the recording takes a while
    while (MonotonicMilliseconds() < deadline && child_.Running()) {
      std::ifstream in(report_);
      unsigned port = 0;
      if (in >> port && port != 0) {
        port_ = static_cast<uint16_t>(port);
        std::getline(in, sizes_);  // rest of the port line
        std::getline(in, sizes_);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  ~ReplayServer() {
    child_.Stop(2000);
    std::remove(report_.c_str());
  }
  uint16_t Port() const { return port_; }
  const std::string& Sizes() const { return sizes_; }

 private:
  std::string sizes_;
  velmora::platform::ChildProcess child_;
  std::string report_;
  uint16_t port_ = 0;
};

ReplayServer* Server() {
  static std::unique_ptr<ReplayServer> server = [] {
    auto s = std::make_unique<ReplayServer>();
    return s->Start() ? std::move(s) : nullptr;
  }();
  return server.get();
}

uint64_t ModuleCpuNs(const std::vector<velmora::platform::ThreadCpuTime>& before,
                     const std::vector<velmora::platform::ThreadCpuTime>& after, uint64_t mainThread) {
  uint64_t total = 0;
  for (const auto& a : after) {
    if (a.systemId == mainThread) continue;
    for (const auto& b : before)
      if (b.systemId == a.systemId) total += a.cpuNs - b.cpuNs;
  }
  return total;
}

// Arguments: stream type (1 MJPEG, 2 MxPEG), number of cameras.
void BM_CaptureCpu(benchmark::State& state) {
  ReplayServer* server = Server();
  if (server == nullptr) {
    state.SkipWithError("the replay server did not start");
    return;
  }
  const int streamType = static_cast<int>(state.range(0));
  const int cameras = static_cast<int>(state.range(1));
  double cpuPerStreamSecond = 0, fps = 0, streamSeconds = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<CountingSink>> sinks;
    std::vector<std::unique_ptr<quillon::host::DriverSession>> sessions;
    quillon::host::ChannelSettings settings(kWidth, kHeight, 1000 / kFps, kQuality);
    for (int c = 0; c < cameras; ++c) {
      quillon::host::CameraConfig config;
      config.address = "127.0.0.1";
      config.port = server->Port();
      config.streamType = streamType;
      sessions.push_back(std::make_unique<quillon::host::DriverSession>(config));
      sinks.push_back(std::make_unique<CountingSink>());
      std::string error;
      if (!sessions.back()->Open(&error) || !sessions.back()->Video()->StartChannel(0, sinks.back().get(), &settings)) {
        state.SkipWithError(("open or start failed: " + error).c_str());
        return;
      }
    }
    // Wait until every stream runs, then past the first (full) pictures.
    const uint64_t deadline = MonotonicMilliseconds() + 30000;
    auto allRunning = [&] {
      for (auto& s : sinks)
        if (s->pictures < 5) return false;
      return true;
    };
    while (!allRunning() && MonotonicMilliseconds() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    if (!allRunning()) {
      state.SkipWithError("pictures did not arrive");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kWarmUpSeconds * 1000)));

    std::vector<velmora::platform::ThreadCpuTime> before, after;
    uint64_t pictures0 = 0, pictures1 = 0;
    for (auto& s : sinks) pictures0 += s->pictures;
    const uint64_t wall0 = MonotonicMilliseconds();
    velmora::platform::ThreadCpuTimes(&before);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kWindowSeconds * 1000)));
    velmora::platform::ThreadCpuTimes(&after);
    const uint64_t wall1 = MonotonicMilliseconds();
    for (auto& s : sinks) pictures1 += s->pictures;
    const double seconds = static_cast<double>(wall1 - wall0) / 1000.0;
    const uint64_t cpu = ModuleCpuNs(before, after, velmora::platform::CurrentSystemThreadId());
    streamSeconds = static_cast<double>(pictures1 - pictures0) / kFps;  // seconds of stream delivered
    cpuPerStreamSecond = streamSeconds > 0 ? static_cast<double>(cpu) / 1e6 / streamSeconds : 0;
    fps = static_cast<double>(pictures1 - pictures0) / seconds / cameras;
    state.SetIterationTime(seconds);
    for (auto& s : sessions) s->Close();
  }
  state.counters["cpu_ms_per_stream_s"] = cpuPerStreamSecond;
  state.counters["core_pct_per_stream"] = cpuPerStreamSecond / 10.0;  // ms per s -> percent of a core
  state.counters["fps_per_stream"] = fps;
  state.counters["stream_s"] = streamSeconds;
}

void Configurations(benchmark::internal::Benchmark* b) {
  for (int type : {1, 2})
    for (int cameras : {1, 4}) b->Args({type, cameras});
  b->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
}

BENCHMARK(BM_CaptureCpu)->Apply(Configurations);

void PrintTable(const benchtable::Reporter& r) {
  if (ReplayServer* server = Server()) std::printf("\nreplayed stream: %s\n", server->Sizes().c_str());
  std::printf("\nCapture threads' CPU per stream (%dx%d, %d pictures/s; MxPEG with %d%% of tiles changing)\n", kWidth,
              kHeight, kFps, kMotionPercent);
  std::printf("%-7s %-8s %14s %14s %11s %-14s\n", "stream", "cameras", "cpu_ms/stream_s", "core%/stream", "fps/stream",
              "target");
  for (int type : {1, 2})
    for (int cameras : {1, 4}) {
      char key[64];
      std::snprintf(key, sizeof key, "BM_CaptureCpu/%d/%d", type, cameras);
      const auto* res = r.Find(key);
      if (res == nullptr) continue;
      const double pct = res->counters.at("core_pct_per_stream");
      const double limit = type == 1 ? 0.3 : 1.0;
      char target[32];
      std::snprintf(target, sizeof target, "<=%.1f%% %s", limit, benchtable::Verdict(pct, limit, true));
      std::printf("%-7s %-8d %14.3f %14.3f %11.1f %-14s\n", type == 1 ? "MJPEG" : "MxPEG", cameras,
                  res->counters.at("cpu_ms_per_stream_s"), pct, res->counters.at("fps_per_stream"), target);
    }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--serve") == 0) return Serve(argv[2], static_cast<uint32_t>(std::atoi(argv[3])));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchtable::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(reporter);
  benchmark::Shutdown();
  return 0;
}

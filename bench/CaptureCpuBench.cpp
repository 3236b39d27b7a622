// End to end: CPU time the module's capture threads spend per second of stream, for N cameras of
// 1280x960 at 25 pictures/s, MJPEG and MxPEG (10% of the tiles changing per frame), loaded through the
// reference host like a recording server loads it. The camera is a replay server in a child process
// (this program with --serve) that sends pictures encoded once at start-up, so it costs little and
// none of its time is charged to the module. Each thread's CPU time comes from its own CPU clock;
// every thread of this process except the main thread belongs to the module.
//
//   bench_capturecpubench                           run the benchmark
//   bench_capturecpubench --serve REPORTFILE SECS   the replay server alone (what the benchmark starts)
//   bench_capturecpubench --breakdown mjpeg|mxpeg OUTDIR [CAMERAS] [SECS]
//                                                   perf outputs for scripts/bench-breakdown.sh
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

// What a real host's minimal sink does: take the picture and give it back at once. (It used to look
// at the first bytes for a start-of-image marker as well; the module checks that already.)
class CountingSink : public velmora::ipcapture::IVideoSink {
 public:
  bool DeliverSample(velmora::ipcapture::IMediaSample* sample) override {
    if (sample == nullptr) return false;
    ++pictures;
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

// N cameras of one stream type on the replay server, each through its own driver as a host opens them.
class Cameras {
 public:
  bool Open(uint16_t port, int streamType, int count, std::string* error) {
    quillon::host::ChannelSettings settings(kWidth, kHeight, 1000 / kFps, kQuality);
    for (int c = 0; c < count; ++c) {
      quillon::host::CameraConfig config;
      config.address = "127.0.0.1";
      config.port = port;
      config.streamType = streamType;
      sessions_.push_back(std::make_unique<quillon::host::DriverSession>(config));
      sinks_.push_back(std::make_unique<CountingSink>());
      if (!sessions_.back()->Open(error) || !sessions_.back()->Video()->StartChannel(0, sinks_.back().get(), &settings))
        return false;
    }
    // Every stream running, then past the first (full) pictures.
    const uint64_t deadline = MonotonicMilliseconds() + 30000;
    auto allRunning = [&] {
      for (auto& s : sinks_)
        if (s->pictures < 5) return false;
      return true;
    };
    while (!allRunning() && MonotonicMilliseconds() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    if (!allRunning()) {
      *error = "pictures did not arrive";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kWarmUpSeconds * 1000)));
    return true;
  }
  uint64_t Pictures() const {
    uint64_t n = 0;
    for (auto& s : sinks_) n += s->pictures;
    return n;
  }
  ~Cameras() {
    for (auto& s : sessions_) s->Close();
  }

 private:
  std::vector<std::unique_ptr<CountingSink>> sinks_;
  std::vector<std::unique_ptr<quillon::host::DriverSession>> sessions_;
};

// The module's CPU time and the pictures delivered while `during` runs.
struct Window {
  uint64_t pictures = 0;
  uint64_t cpuNs = 0;
  double seconds = 0;
};
template <class During>
Window Measure(const Cameras& cameras, During&& during) {
  std::vector<velmora::platform::ThreadCpuTime> before, after;
  const uint64_t pictures0 = cameras.Pictures();
  const uint64_t wall0 = MonotonicMilliseconds();
  velmora::platform::ThreadCpuTimes(&before);
  during();
  velmora::platform::ThreadCpuTimes(&after);
  Window w;
  w.seconds = static_cast<double>(MonotonicMilliseconds() - wall0) / 1000.0;
  w.pictures = cameras.Pictures() - pictures0;
  w.cpuNs = ModuleCpuNs(before, after, velmora::platform::CurrentSystemThreadId());
  return w;
}

// Arguments: stream type (1 MJPEG, 2 MxPEG), number of cameras.
void BM_CaptureCpu(benchmark::State& state) {
  ReplayServer* server = Server();
  if (server == nullptr) {
    state.SkipWithError("the replay server did not start");
    return;
  }
  const int streamType = static_cast<int>(state.range(0));
  const int count = static_cast<int>(state.range(1));
  double cpuPerStreamSecond = 0, fps = 0, streamSeconds = 0;
  for (auto _ : state) {
    Cameras cameras;
    std::string error;
    if (!cameras.Open(server->Port(), streamType, count, &error)) {
      state.SkipWithError(("open or start failed: " + error).c_str());
      return;
    }
    const Window w = Measure(cameras, [] { std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kWindowSeconds * 1000))); });
    streamSeconds = static_cast<double>(w.pictures) / kFps;  // seconds of stream delivered
    cpuPerStreamSecond = streamSeconds > 0 ? static_cast<double>(w.cpuNs) / 1e6 / streamSeconds : 0;
    fps = static_cast<double>(w.pictures) / w.seconds / count;
    state.SetIterationTime(w.seconds);
  }
  state.counters["cpu_ms_per_stream_s"] = cpuPerStreamSecond;
  state.counters["core_pct_per_stream"] = cpuPerStreamSecond / 10.0;  // ms per s -> percent of a core
  state.counters["fps_per_stream"] = fps;
  state.counters["stream_s"] = streamSeconds;
}

// The anchor: curl reading the same replayed MJPEG stream to /dev/null, its process's CPU time per
// second of stream (the server paces the stream at 25 pictures/s).
void BM_CurlCpu(benchmark::State& state) {
  ReplayServer* server = Server();
  if (server == nullptr) {
    state.SkipWithError("the replay server did not start");
    return;
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(server->Port()) + "/control/faststream.jpg?stream=full&fps=25";
  double cpuPerStreamSecond = 0;
  for (auto _ : state) {
    velmora::platform::ChildProcess curl;
    if (!curl.Start({"/usr/bin/curl", "-s", "-o", "/dev/null", "--max-time", "120", url})) {
      state.SkipWithError("curl did not start (is /usr/bin/curl installed?)");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kWarmUpSeconds * 1000)));
    uint64_t cpu0 = 0, cpu1 = 0;
    const uint64_t wall0 = MonotonicMilliseconds();
    const bool read0 = curl.CpuTimeNs(&cpu0);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kWindowSeconds * 1000)));
    const bool read1 = curl.CpuTimeNs(&cpu1);
    const double seconds = static_cast<double>(MonotonicMilliseconds() - wall0) / 1000.0;
    curl.Stop(2000);
    if (!read0 || !read1) {
      state.SkipWithError("curl ended early or its CPU time could not be read");
      return;
    }
    cpuPerStreamSecond = static_cast<double>(cpu1 - cpu0) / 1e6 / seconds;
    state.SetIterationTime(seconds);
  }
  state.counters["cpu_ms_per_stream_s"] = cpuPerStreamSecond;
  state.counters["core_pct_per_stream"] = cpuPerStreamSecond / 10.0;
}

constexpr int kCameraCounts[] = {1, 4, 16};

void Configurations(benchmark::internal::Benchmark* b) {
  for (int type : {1, 2})
    for (int cameras : kCameraCounts) b->Args({type, cameras});
  b->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
}

BENCHMARK(BM_CaptureCpu)->Apply(Configurations);
BENCHMARK(BM_CurlCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void PrintTable(const benchtable::Reporter& r) {
  if (ReplayServer* server = Server()) std::printf("\nreplayed stream: %s\n", server->Sizes().c_str());
  std::printf("\nCPU per stream (%dx%d, %d pictures/s; MxPEG with %d%% of tiles changing): median of the repetitions, [min-max]\n",
              kWidth, kHeight, kFps, kMotionPercent);
  std::printf("%-7s %-8s %15s %13s %17s %11s %9s  %s\n", "stream", "cameras", "cpu_ms/stream_s", "core%/stream",
              "[min-max] core%", "fps/stream", "x curl", "target");
  const auto* curl = r.Find("BM_CurlCpu");
  const double curlPct = curl ? curl->counters.at("core_pct_per_stream") : 0;
  if (curl) {
    const auto [low, high] = benchtable::Spread(*curl, "core_pct_per_stream");
    std::printf("%-7s %-8d %15.3f %13.3f %8.3f-%-8.3f %11s %9s  %s\n", "curl", 1, curl->counters.at("cpu_ms_per_stream_s"),
                curlPct, low, high, "-", "1.00", "anchor (MJPEG stream to /dev/null)");
  }
  for (int type : {1, 2})
    for (int cameras : kCameraCounts) {
      char key[64];
      std::snprintf(key, sizeof key, "BM_CaptureCpu/%d/%d", type, cameras);
      const auto* res = r.Find(key);
      if (res == nullptr) continue;
      const double pct = res->counters.at("core_pct_per_stream");
      const auto [low, high] = benchtable::Spread(*res, "core_pct_per_stream");
      char ratio[16] = "-", target[64];
      if (curlPct > 0) std::snprintf(ratio, sizeof ratio, "%.2f", pct / curlPct);
      if (type == 1) {
        const bool met = pct <= 0.15 && curlPct > 0 && pct <= 0.5 * curlPct;
        std::snprintf(target, sizeof target, "<=0.15%% and <=0.5 x curl %s", met ? "met" : "MISSED");
      } else {
        std::snprintf(target, sizeof target, "<=0.40%% %s", benchtable::Verdict(pct, 0.40, true));
      }
      std::printf("%-7s %-8d %15.3f %13.3f %8.3f-%-8.3f %11.1f %9s  %s\n", type == 1 ? "MJPEG" : "MxPEG", cameras,
                  res->counters.at("cpu_ms_per_stream_s"), pct, low, high, res->counters.at("fps_per_stream"), ratio, target);
    }
}

// ---- cost breakdown (scripts/bench-breakdown.sh) ----

// Runs N cameras of one type and, while they stream, points perf at this process twice: `perf stat`
// counting system calls per thread, then `perf record` sampling call stacks, after a window without
// perf for the module's CPU time per picture. Writes into outDir the perf outputs and window.txt with
// the pictures of each window, and the main thread's number (not the module's; the script leaves it out).
int Breakdown(const std::string& type, const std::string& outDir, int count, int seconds) {
  const int streamType = type == "mjpeg" ? 1 : type == "mxpeg" ? 2 : 0;
  ReplayServer* server = streamType != 0 ? Server() : nullptr;
  if (server == nullptr) {
    std::fprintf(stderr, "breakdown: unknown stream type or the replay server did not start\n");
    return 1;
  }
  Cameras cameras;
  std::string error;
  if (!cameras.Open(server->Port(), streamType, count, &error)) {
    std::fprintf(stderr, "breakdown: %s\n", error.c_str());
    return 1;
  }
  const std::string pid = std::to_string(velmora::platform::CurrentProcessId()), span = std::to_string(seconds);
  auto perf = [&](std::vector<std::string> args, const std::string& log) {
    args.insert(args.begin(), "/usr/bin/perf");
    args.insert(args.end(), {"-p", pid, "--", "sleep", span});
    return Measure(cameras, [&] {
      velmora::platform::ChildProcess p;
      if (!p.Start(args, outDir + "/" + log) || !p.Wait(static_cast<uint32_t>(seconds + 60) * 1000)) p.Stop(2000);
    });
  };
  // The profilers add to the time of the threads they watch: the cost per picture comes from a
  // window without them, the shares from the profile.
  const Window clean = Measure(cameras, [&] { std::this_thread::sleep_for(std::chrono::seconds(seconds)); });
  const Window calls = perf({"stat", "--per-thread", "-x", ",", "-o", outDir + "/syscalls.csv", "-e",
                             "raw_syscalls:sys_enter,syscalls:sys_enter_recvfrom,syscalls:sys_enter_poll,syscalls:sys_enter_futex"},
                            "perf-stat.log");
  const Window profile = perf({"record", "-q", "-F", "10000", "--call-graph", "dwarf,16384", "-o", outDir + "/perf.data"},
                              "perf-record.log");
  std::ofstream out(outDir + "/window.txt");
  out << "main_thread " << velmora::platform::CurrentSystemThreadId() << "\n"
      << "syscall_window_pictures " << calls.pictures << "\n"
      << "profile_window_pictures " << profile.pictures << "\n"
      << "clean_window_pictures " << clean.pictures << "\n"
      << "clean_window_cpu_ns " << clean.cpuNs << "\n";
  return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--serve") == 0) return Serve(argv[2], static_cast<uint32_t>(std::atoi(argv[3])));
  if (argc >= 4 && std::strcmp(argv[1], "--breakdown") == 0)
    return Breakdown(argv[2], argv[3], argc >= 5 ? std::atoi(argv[4]) : 4, argc >= 6 ? std::atoi(argv[5]) : 10);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchtable::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(reporter);
  benchmark::Shutdown();
  return 0;
}

// load: many channels of one video server in one host process against a replay camera in a child
// process; reports delivered pictures against requested, the host's CPU time per stream-second and
// its peak memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "host/CheckingSink.h"
#include "host/Commands.h"
#include "host/LongRun.h"
#include "host/ReplayCamera.h"
#include "host/Session.h"
#include "platform/Process.h"
#include "platform/System.h"

namespace quillon::host {

namespace {

using velmora::platform::MonotonicMilliseconds;

constexpr uint32_t kCameraReadyMs = 120000;  // encoding the pictures to replay comes first
constexpr uint32_t kFirstPicturesMs = 30000;
constexpr uint32_t kWarmUpMs = 2000;
constexpr uint32_t kPollMs = 50;
constexpr uint32_t kProgressEveryMs = 10000;
constexpr uint32_t kCameraSlackSeconds = 300;  // the camera outlives the run by this much at most
constexpr uint32_t kChildStopMs = 2000;
constexpr long kDefaultCheckEvery = 25;

struct LoadSettings {
    size_t channels = 32;
    uint64_t runMs = 60000;
    ReplaySettings replay;
    std::string streams = "mixed";
    uint32_t checkEvery = kDefaultCheckEvery;
};

bool ParseLoad(const Options& options, LoadSettings* s, std::string* error) {
    const long channels = options.GetInt("channels", 32);
    if (channels < 1 || channels > 64) {
        *error = "--channels must be between 1 and 64";
        return false;
    }
    s->channels = static_cast<size_t>(channels);
    if (!RunDurationMs(options, 60000, &s->runMs, error)) return false;
    if (options.Has("size") && !ParseSize(options.Get("size"), &s->replay.width, &s->replay.height)) {
        *error = "--size must look like 640x480";
        return false;
    }
    const long fps = options.GetInt("fps", s->replay.fps), quality = options.GetInt("quality", s->replay.quality);
    const long checkEvery = options.GetInt("check-every", kDefaultCheckEvery);
    if (fps < 1 || fps > 100 || quality < 1 || quality > 100 || checkEvery < 0) {
        *error = "--fps and --quality take 1..100, --check-every 0 (none) or more";
        return false;
    }
    s->replay.fps = static_cast<uint16_t>(fps);
    s->replay.quality = static_cast<uint16_t>(quality);
    s->checkEvery = static_cast<uint32_t>(checkEvery);
    s->streams = options.Get("streams", "mixed");
    if (s->streams != "mixed" && s->streams != "mjpeg" && s->streams != "mxpeg") {
        *error = "--streams takes mixed, mjpeg or mxpeg";
        return false;
    }
    return true;
}

// The replay camera as a child process; its port comes back through a file.
class CameraProcess {
public:
    bool Start(const LoadSettings& s, std::string* error) {
        portFile_ = (std::filesystem::temp_directory_path() /
                     ("quillon-load-" + std::to_string(MonotonicMilliseconds()) + ".port"))
                        .string();
        std::remove(portFile_.c_str());
        const std::string size = std::to_string(s.replay.width) + "x" + std::to_string(s.replay.height);
        const uint64_t seconds = s.runMs / 1000 + kCameraSlackSeconds;
        if (!child_.Start({velmora::platform::ExecutablePath(), "replay-camera", "--port-file", portFile_, "--size", size,
                           "--fps", std::to_string(s.replay.fps), "--quality", std::to_string(s.replay.quality),
                           "--seconds", std::to_string(seconds)})) {
            *error = "the replay camera could not be started";
            return false;
        }
        const uint64_t deadline = MonotonicMilliseconds() + kCameraReadyMs;
        while (MonotonicMilliseconds() < deadline && child_.Running()) {
            std::ifstream in(portFile_);
            unsigned port = 0;
            if (in >> port && port != 0 && port <= 65535) {
                port_ = static_cast<uint16_t>(port);
                std::getline(in, description_);  // rest of the port line
                std::getline(in, description_);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
        *error = "the replay camera did not report its port";
        return false;
    }
    ~CameraProcess() {
        child_.Stop(kChildStopMs);
        if (!portFile_.empty()) std::remove(portFile_.c_str());
    }
    bool Running() { return child_.Running(); }
    uint16_t Port() const { return port_; }
    const std::string& Description() const { return description_; }

private:
    velmora::platform::ChildProcess child_;
    std::string portFile_, description_;
    uint16_t port_ = 0;
};

// One video server driver of one stream type with its channels' sinks.
struct Server {
    int streamType = 1;
    std::vector<std::unique_ptr<CheckingSink>> sinks;
    std::unique_ptr<DriverSession> session;
};

uint64_t Pictures(const Server& server) {
    uint64_t n = 0;
    for (const auto& sink : server.sinks) n += sink->Pictures();
    return n;
}

void SleepUntil(uint64_t monotonicMs) {
    const uint64_t now = MonotonicMilliseconds();
    if (monotonicMs > now) std::this_thread::sleep_for(std::chrono::milliseconds(monotonicMs - now));
}

double Rate(uint64_t pictures, double seconds) { return seconds > 0 ? static_cast<double>(pictures) / seconds : 0; }

}  // namespace

int RunLoad(const Options& options, std::ostream& out) {
    LoadSettings s;
    std::string error;
    if (!ParseLoad(options, &s, &error)) {
        out << "load: " << error << "\n";
        return 2;
    }
    CameraProcess camera;
    if (!camera.Start(s, &error)) {
        out << "load: " << error << "\n";
        return 1;
    }
    // A driver has one stream type, so a mixed run holds two video servers, half the channels each.
    std::vector<Server> servers;
    const size_t mjpeg = s.streams == "mixed" ? (s.channels + 1) / 2 : s.streams == "mjpeg" ? s.channels : 0;
    for (int type : {1, 2}) {
        const size_t count = type == 1 ? mjpeg : s.channels - mjpeg;
        if (count == 0) continue;
        Server server;
        server.streamType = type;
        CameraConfig config;
        config.port = camera.Port();
        config.streamType = type;
        config.channels = static_cast<int32_t>(count);
        server.session = std::make_unique<DriverSession>(config);
        for (size_t i = 0; i < count; ++i)
            server.sinks.push_back(std::make_unique<CheckingSink>(s.checkEvery, s.replay.width, s.replay.height));
        servers.push_back(std::move(server));
    }
    out << "load: " << s.channels << " channel(s) in " << servers.size() << " video server driver(s): " << mjpeg
        << " MJPEG, " << s.channels - mjpeg << " MxPEG; " << s.replay.width << "x" << s.replay.height << " at "
        << s.replay.fps << " pictures/s requested, quality " << s.replay.quality << ", " << s.runMs / 1000.0
        << " s measured; replayed " << camera.Description() << "\n";

    ChannelSettings settings(s.replay.width, s.replay.height, static_cast<uint16_t>(1000 / s.replay.fps), s.replay.quality);
    for (Server& server : servers) {
        if (!server.session->Open(&error, options.Get("module", DriverModule::DefaultPath()))) {
            out << "load: " << error << "\n";
            return 1;
        }
        for (size_t i = 0; i < server.sinks.size(); ++i)
            if (!server.session->Video()->StartChannel(static_cast<uint32_t>(i), server.sinks[i].get(), &settings)) {
                out << "load: StartChannel(" << i << ") was refused\n";
                return 1;
            }
    }
    // Every channel streams, then a short settling time before the measured window.
    const uint64_t firstDeadline = MonotonicMilliseconds() + kFirstPicturesMs;
    auto allStreaming = [&] {
        for (const Server& server : servers)
            for (const auto& sink : server.sinks)
                if (sink->Pictures() == 0) return false;
        return true;
    };
    while (!allStreaming() && MonotonicMilliseconds() < firstDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    if (!allStreaming()) out << "load: not every channel delivered a picture within " << kFirstPicturesMs / 1000 << " s\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(kWarmUpMs));

    std::vector<std::vector<uint64_t>> before;
    uint64_t checkCpu0 = 0, user0 = 0, sys0 = 0;
    for (const Server& server : servers) {
        before.emplace_back();
        for (const auto& sink : server.sinks) {
            before.back().push_back(sink->Pictures());
            checkCpu0 += sink->CheckCpuNs();
        }
    }
    velmora::platform::ProcessCpuTimeNs(&user0, &sys0);
    const uint64_t start = MonotonicMilliseconds();
    for (uint64_t next = kProgressEveryMs; next < s.runMs; next += kProgressEveryMs) {
        SleepUntil(start + next);
        uint64_t pictures = 0;
        for (const Server& server : servers) pictures += Pictures(server);
        out << "load: [" << next / 1000 << "s] " << pictures << " pictures so far\n" << std::flush;
    }
    SleepUntil(start + s.runMs);
    uint64_t user1 = 0, sys1 = 0, checkCpu1 = 0;
    velmora::platform::ProcessCpuTimeNs(&user1, &sys1);
    const double seconds = static_cast<double>(MonotonicMilliseconds() - start) / 1000.0;

    // Figures of the window.
    uint64_t total = 0, byType[3] = {}, silent = 0, checked = 0, failures = 0;
    double slowest = 1e9, fastest = 0;
    std::string firstFailure;
    for (size_t v = 0; v < servers.size(); ++v)
        for (size_t i = 0; i < servers[v].sinks.size(); ++i) {
            const CheckingSink& sink = *servers[v].sinks[i];
            const uint64_t n = sink.Pictures() - before[v][i];
            total += n;
            byType[servers[v].streamType] += n;
            silent += n == 0;
            slowest = std::min(slowest, Rate(n, seconds));
            fastest = std::max(fastest, Rate(n, seconds));
            checkCpu1 += sink.CheckCpuNs();
            checked += sink.Checked();
            failures += sink.DecodeFailures();
            if (firstFailure.empty()) firstFailure = servers[v].sinks[i]->FirstFailure();
        }
    const double cpuSeconds = static_cast<double>(user1 - user0 + sys1 - sys0) / 1e9;
    const double checkSeconds = static_cast<double>(checkCpu1 - checkCpu0) / 1e9;
    const double streamSeconds = static_cast<double>(s.channels) * seconds;
    const double requested = static_cast<double>(s.channels) * s.replay.fps;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    uint64_t outstanding = 0;
    for (Server& server : servers) {
        server.session->Close();
        outstanding += static_cast<uint64_t>(server.session->Allocator().Outstanding());
    }
    char line[300];
    std::snprintf(line, sizeof line, "load: delivered %.1f pictures/s of %.0f requested (%.1f%%); per channel %.1f..%.1f\n",
                  Rate(total, seconds), requested, 100.0 * Rate(total, seconds) / requested, slowest, fastest);
    out << line;
    for (int type : {1, 2}) {
        const size_t count = type == 1 ? mjpeg : s.channels - mjpeg;
        if (count == 0) continue;
        std::snprintf(line, sizeof line, "load:   %s: %.1f pictures/s of %.0f requested over %zu channel(s)\n",
                      type == 1 ? "MJPEG" : "MxPEG", Rate(byType[type], seconds),
                      static_cast<double>(count) * s.replay.fps, count);
        out << line;
    }
    std::snprintf(line, sizeof line,
                  "load: host process CPU %.2f s (user %.2f, system %.2f) in %.1f s = %.0f%% of one core (%u cores); "
                  "decode checks %.2f s of it\n",
                  cpuSeconds, static_cast<double>(user1 - user0) / 1e9, static_cast<double>(sys1 - sys0) / 1e9, seconds,
                  100.0 * cpuSeconds / seconds, cores, checkSeconds);
    out << line;
    std::snprintf(line, sizeof line,
                  "load: CPU per stream-second %.2f ms without the decode checks (%.2f ms with them), %.1f stream-seconds\n",
                  1000.0 * (cpuSeconds - checkSeconds) / streamSeconds, 1000.0 * cpuSeconds / streamSeconds, streamSeconds);
    out << line;
    out << "load: decode-checked " << checked << " picture(s) (1 in " << s.checkEvery << "), " << failures << " failed\n";
    out << "load: peak resident memory " << MiB(velmora::platform::PeakResidentMemoryBytes()) << "\n";

    std::vector<std::string> problems;
    if (silent) problems.push_back(std::to_string(silent) + " channel(s) delivered no picture in the measured window");
    if (failures) problems.push_back(std::to_string(failures) + " picture(s) failed the decode check; first: " + firstFailure);
    if (outstanding) problems.push_back(std::to_string(outstanding) + " sample(s) not released after Close");
    if (!camera.Running()) problems.push_back("the replay camera ended early");
    for (const std::string& p : problems) out << "load: FAILED: " << p << "\n";
    return problems.empty() ? 0 : 1;
}

}  // namespace quillon::host

// Replay camera for load runs.
#include "host/ReplayCamera.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "camsim/JpegCodec.h"
#include "host/LongRun.h"
#include "mxpegenc/MxpegEncoder.h"
#include "mxpegenc/SyntheticScene.h"
#include "platform/System.h"

namespace quillon::host {

namespace {

using velmora::platform::MonotonicMilliseconds;

constexpr const char* kBoundary = "myboundary";
constexpr uint32_t kIoTimeoutMs = 5000;
constexpr uint32_t kPollMs = 50;
constexpr size_t kMaxRequestHead = 65536;
// MxPEG: ten seconds of frames, a full frame at the start of each loop, as iframerefresh=10 asks.
constexpr uint32_t kMxpegLoopSeconds = 10;
constexpr uint32_t kSceneSeed = 5;
constexpr uint32_t kMaxServeSeconds = 24 * 3600;

void SleepUntil(uint64_t ms) {
    const uint64_t now = MonotonicMilliseconds();
    if (ms > now) std::this_thread::sleep_for(std::chrono::milliseconds(ms - now));
}

}  // namespace

bool ReplayCamera::Record() {
    mxpegenc::SyntheticScene scene(kSceneSeed);
    const int w = settings_.width, h = settings_.height;
    // One second of distinct Motion-JPEG pictures, replayed.
    for (uint32_t i = 0; i < settings_.fps; ++i) {
        camsim::RgbPicture picture{settings_.width, settings_.height, scene.RenderRgb(i, w, h)};
        std::vector<uint8_t> jpeg;
        if (!camsim::EncodeJpeg(picture, settings_.quality, {}, &jpeg)) return false;
        const std::string head = std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                 std::to_string(jpeg.size()) + "\r\n\r\n";
        std::vector<uint8_t> part(head.begin(), head.end());
        part.insert(part.end(), jpeg.begin(), jpeg.end());
        part.push_back('\r');
        part.push_back('\n');
        mjpegParts_.push_back(std::move(part));
    }
    const uint32_t frames = settings_.fps * kMxpegLoopSeconds;
    mxpegenc::EncoderOptions options;
    options.quality = settings_.quality;
    options.refreshInterval = static_cast<int>(frames);
    mxpegenc::MxpegEncoder encoder(options);
    for (uint32_t f = 0; f < frames; ++f)
        mxpegFrames_.push_back(encoder.EncodeFrame(scene.Render(f, w, h), "", uint64_t{f} * 1000000 / settings_.fps));
    return !mjpegParts_.empty() && !mxpegFrames_.empty();
}

bool ReplayCamera::Listen() { return listener_.Listen("127.0.0.1", 0); }

std::string ReplayCamera::Describe() const {
    if (mjpegParts_.empty() || mxpegFrames_.empty()) return "nothing recorded";
    size_t mjpeg = 0, partial = 0;
    for (const auto& p : mjpegParts_) mjpeg += p.size();
    for (size_t f = 1; f < mxpegFrames_.size(); ++f) partial += mxpegFrames_[f].size();
    const size_t partials = mxpegFrames_.size() > 1 ? mxpegFrames_.size() - 1 : 1;
    return "MJPEG picture " + std::to_string(mjpeg / mjpegParts_.size() / 1024) + " kB, MxPEG full frame " +
           std::to_string(mxpegFrames_[0].size() / 1024) + " kB, partial frame " + std::to_string(partial / partials / 1024) +
           " kB (mean)";
}

void ReplayCamera::Serve(uint64_t deadlineMs) {
    std::vector<std::thread> connections;
    while (MonotonicMilliseconds() < deadlineMs) {
        velmora::platform::TcpSocket client;
        if (!listener_.Accept(&client, kPollMs)) continue;
        connections.emplace_back([this, deadlineMs](velmora::platform::TcpSocket s) { ServeConnection(std::move(s), deadlineMs); },
                                 std::move(client));
    }
    for (std::thread& t : connections) t.join();
}

// Small requests are answered on a kept-alive connection; a stream request takes the connection over.
void ReplayCamera::ServeConnection(velmora::platform::TcpSocket s, uint64_t deadlineMs) const {
    std::string pending;
    char buffer[4096];
    while (MonotonicMilliseconds() < deadlineMs) {
        const size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) {
            const long n = s.Receive(buffer, sizeof buffer, kPollMs);
            if (n == -2) continue;
            if (n <= 0 || pending.size() > kMaxRequestHead) return;
            pending.append(buffer, static_cast<size_t>(n));
            continue;
        }
        const std::string head = pending.substr(0, end);
        pending.erase(0, end + 4);
        if (head.find("faststream.jpg") != std::string::npos) {
            Stream(s, head.find("stream=MxPEG") != std::string::npos, deadlineMs);
            return;
        }
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nOK\n";
        if (!s.SendAll(reply.data(), reply.size(), kIoTimeoutMs)) return;
    }
}

void ReplayCamera::Stream(velmora::platform::TcpSocket& s, bool mxpeg, uint64_t deadlineMs) const {
    const std::string type = mxpeg ? std::string("video/mxpeg")
                                   : std::string("multipart/x-mixed-replace; boundary=") + kBoundary;
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nConnection: close\r\n\r\n";
    if (!s.SendAll(reply.data(), reply.size(), kIoTimeoutMs)) return;
    const uint64_t start = MonotonicMilliseconds();
    for (uint64_t i = 0; MonotonicMilliseconds() < deadlineMs; ++i) {
        // Paced from the stream's start, so a late picture is followed by an early one.
        SleepUntil(start + i * 1000 / settings_.fps);
        const std::vector<uint8_t>& bytes = mxpeg ? mxpegFrames_[i % mxpegFrames_.size()] : mjpegParts_[i % mjpegParts_.size()];
        if (!s.SendAll(bytes.data(), bytes.size(), kIoTimeoutMs)) return;
    }
}

// quillon-host replay-camera --port-file PATH [--size WxH] [--fps N] [--quality Q] [--seconds S]:
// writes the port and the sizes into the file once it listens, then serves until the time is up.
int RunReplayCamera(const Options& options, std::ostream& out) {
    ReplaySettings settings;
    if (options.Has("size") && !ParseSize(options.Get("size"), &settings.width, &settings.height)) {
        out << "replay-camera: --size must look like 640x480\n";
        return 2;
    }
    const long fps = options.GetInt("fps", settings.fps), quality = options.GetInt("quality", settings.quality);
    const long seconds = options.GetInt("seconds", 600);
    const std::string portFile = options.Get("port-file");
    if (fps < 1 || fps > 100 || quality < 1 || quality > 100 || seconds < 1 || seconds > kMaxServeSeconds || portFile.empty()) {
        out << "replay-camera: needs --port-file PATH; --fps 1..100, --quality 1..100, --seconds 1..86400\n";
        return 2;
    }
    settings.fps = static_cast<uint16_t>(fps);
    settings.quality = static_cast<uint16_t>(quality);
    ReplayCamera camera(settings);
    if (!camera.Record() || !camera.Listen()) {
        out << "replay-camera: could not encode the pictures or listen on 127.0.0.1\n";
        return 1;
    }
    {
        // Written whole to a temporary name first, so the parent never reads half a file.
        const std::string partial = portFile + ".partial";
        std::ofstream report(partial, std::ios::trunc);
        report << camera.Port() << "\n" << camera.Describe() << "\n";
        report.close();
        if (!report || std::rename(partial.c_str(), portFile.c_str()) != 0) {
            out << "replay-camera: cannot write " << portFile << "\n";
            return 1;
        }
    }
    camera.Serve(MonotonicMilliseconds() + static_cast<uint64_t>(seconds) * 1000);
    return 0;
}

}  // namespace quillon::host

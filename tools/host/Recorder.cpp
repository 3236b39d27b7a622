// Live video runs for record and demo.
#include "host/Recorder.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "host/JpegCheck.h"

namespace quillon::host {

struct Recorder::Channel {
    VideoSink sink;
    ChannelSettings settings;
    std::atomic<uint64_t> decodeErrors{0};
    std::atomic<uint32_t> written{0};
    uint64_t lastPictures = 0, lastBytes = 0;
    Channel(const RecordSettings& s) : settings(s.width, s.height, s.interval, s.quality) {}
};

Recorder::Recorder(DriverSession& session, RecordSettings settings) : session_(session), settings_(std::move(settings)) {}

Recorder::~Recorder() { Stop(); }

bool Recorder::Start(uint32_t count, std::string* error) {
    IIPVideoCapture* video = session_.Video();
    if (!video) {
        if (error) *error = "the driver has no video capture object";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        auto channel = std::make_unique<Channel>(settings_);
        Channel* raw = channel.get();
        const std::string prefix = settings_.outDir.empty()
                                       ? std::string()
                                       : settings_.outDir + "/" + settings_.label + "ch" + std::to_string(i) + "_";
        const uint32_t keep = settings_.keep;
        // Every picture is decoded as a host would display it; a few are written out.
        raw->sink.SetObserver([raw, prefix, keep](const Picture& picture) {
            DecodedPicture decoded = DecodeJpeg(picture.jpeg);
            if (!decoded.ok || decoded.warnings > 0) ++raw->decodeErrors;
            if (prefix.empty()) return;
            uint32_t n = raw->written.load();
            if (n >= keep) return;
            raw->written = n + 1;
            std::ofstream file(prefix + std::to_string(n) + ".jpg", std::ios::binary);
            file.write(reinterpret_cast<const char*>(picture.jpeg.data()), static_cast<std::streamsize>(picture.jpeg.size()));
        });
        channels_.push_back(std::move(channel));
        if (!video->StartChannel(i, &raw->sink, &raw->settings)) {
            if (error) *error = "StartChannel(" + std::to_string(i) + ") was refused";
            return false;
        }
    }
    return true;
}

std::string Recorder::Progress(double elapsedSeconds) {
    std::ostringstream line;
    char head[32];
    std::snprintf(head, sizeof(head), "[%5.1fs]", elapsedSeconds);
    line << settings_.label << head;
    IIPVideoCapture* video = session_.Video();
    for (size_t i = 0; i < channels_.size(); ++i) {
        Channel& c = *channels_[i];
        uint64_t pictures = c.sink.Pictures(), bytes = c.sink.Bytes();
        int32_t state = 2, code = 0;
        if (video) video->GetChannelState(static_cast<uint32_t>(i), &state, &code, nullptr, 0);
        char text[96];
        std::snprintf(text, sizeof(text), " ch%zu %4llu pic/s %7.1f kB/s %s", i,
                      static_cast<unsigned long long>(pictures - c.lastPictures), double(bytes - c.lastBytes) / 1024.0,
                      state == 0 ? "connected" : "no-picture");
        line << text;
        c.lastPictures = pictures;
        c.lastBytes = bytes;
    }
    return line.str();
}

void Recorder::Stop() {
    IIPVideoCapture* video = session_.Video();
    if (!video) return;
    for (size_t i = 0; i < channels_.size(); ++i) video->StopChannel(static_cast<uint32_t>(i));
}

std::vector<ChannelTotals> Recorder::Totals() {
    std::vector<ChannelTotals> totals;
    for (auto& c : channels_) {
        ChannelTotals t;
        t.pictures = c->sink.Pictures();
        t.bytes = c->sink.Bytes();
        t.decodeErrors = c->decodeErrors.load();
        t.signalLosses = c->sink.SignalLosses();
        totals.push_back(t);
    }
    return totals;
}

std::string Recorder::Summary(double seconds) {
    uint64_t pictures = 0, bytes = 0, errors = 0;
    for (const ChannelTotals& t : Totals()) {
        pictures += t.pictures;
        bytes += t.bytes;
        errors += t.decodeErrors;
    }
    char text[256];
    std::snprintf(text, sizeof(text),
                  "%ssummary: %zu channel(s), %llu pictures, %.1f kB, %.1f pictures/s, %llu decode errors", settings_.label.c_str(),
                  channels_.size(), static_cast<unsigned long long>(pictures), double(bytes) / 1024.0,
                  seconds > 0 ? double(pictures) / seconds : 0.0, static_cast<unsigned long long>(errors));
    return text;
}

}  // namespace quillon::host

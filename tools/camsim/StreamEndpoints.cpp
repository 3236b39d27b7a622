// MJPEG and MxPEG live streams with pacing.
#include "camsim/StreamEndpoints.h"

#include <algorithm>

#include "camsim/CameraEndpoints.h"
#include "platform/System.h"

namespace camsim {

namespace vp = velmora::platform;

namespace {

int IntParameter(const RequestHead& head, const char* key, int fallback, int lo, int hi) {
    std::optional<std::string> text = QueryValue(head.query, key);
    if (!text) return fallback;
    // A rate of 0 (or nonsense) is served at the slowest rate rather than flat out.
    return std::clamp(ParseWholeNumber(*text).value_or(lo), lo, hi);
}

}  // namespace

void StreamEndpoints::SetMxpegOptions(const mxpegenc::EncoderOptions& options) {
    std::lock_guard<std::mutex> lock(mxpegMutex_);
    mxpegOptions_ = options;
}

void StreamEndpoints::Register(HttpServer& server) {
    server.Route("/control/faststream.jpg",
                 [this](const RequestHead& head, RequestBody&, ResponseWriter& writer) { Handle(head, writer); });
}

void StreamEndpoints::Handle(const RequestHead& head, ResponseWriter& writer) {
    std::optional<std::string> stream = QueryValue(head.query, "stream");
    int fps = IntParameter(head, "fps", kDefaultStreamFps, 1, kMaxStreamFps);
    if (stream == "full") {
        StreamJpeg(fps, writer);
    } else if (stream == "MxPEG") {
        StreamMxpeg(fps, IntParameter(head, "iframerefresh", kDefaultRefreshInterval, 1, kMaxRefreshInterval), writer);
    } else {
        writer.Respond(400, "text/plain", "ERR: unknown stream type\r\n");
    }
}

bool StreamEndpoints::Pace(uint64_t k, int fps, uint64_t startMs, ResponseWriter& writer) const {
    uint64_t limit = picturesPerConnection_;
    if (limit && k >= limit) return false;
    if (!paced_) return writer.Alive();
    uint64_t due = startMs + k * 1000 / static_cast<uint64_t>(fps);
    uint64_t now = vp::MonotonicMilliseconds();
    return due > now ? writer.Pause(static_cast<uint32_t>(due - now)) : writer.Alive();
}

bool StreamEndpoints::Damage(const ResponseWriter& writer, uint64_t k, bool mxpeg, std::vector<uint8_t>* picture,
                             std::vector<uint8_t>* gap, DamageRecord* record) {
    const FaultRule* fault = writer.Fault();
    if (!fault || !fault->damage.Any() || !fault->damage.Applies(k)) return false;
    const StreamDamage& damage = fault->damage;
    record->mxpeg = mxpeg;
    record->picture = k;
    // Padding first, so a scan offset counts in the picture as sent.
    PadPicture(picture, damage.padBytes);
    const uint32_t seed = static_cast<uint32_t>(k) * 2654435761u + 1;
    record->scanOffset = DamageScan(picture, damage, seed);
    if (damage.scan != StreamDamage::Scan::None) record->sent = *picture;
    *gap = GapBytes(damage, seed ^ 0x5bd1e995u);
    return true;
}

void StreamEndpoints::StreamJpeg(int fps, ResponseWriter& writer) {
    std::string type = std::string("multipart/x-mixed-replace; boundary=") + kMultipartBoundary;
    if (!writer.BeginStream(200, type, {}, chunked_)) return;
    const uint64_t start = vp::MonotonicMilliseconds();
    std::vector<uint8_t> jpeg;
    for (uint64_t k = 0; Pace(k, fps, start, writer); ++k) {
        const FaultRule* fault = writer.Fault();
        const bool progressive = fault && fault->damage.progressive && fault->damage.Applies(k);
        if (!pictures_.EncodeJpeg(k, camera_.Image(), camera_.Ptz(), camera_.SensorBlock(), &jpeg, progressive)) return;
        std::vector<uint8_t> gap;
        DamageRecord record;
        const bool damaged = Damage(writer, k, false, &jpeg, &gap, &record);
        std::string part = std::string("--") + kMultipartBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                           std::to_string(jpeg.size()) + "\r\n\r\n";
        part.append(jpeg.begin(), jpeg.end());
        part += "\r\n";
        // Bytes between this part's end and the next boundary.
        part.append(gap.begin(), gap.end());
        // Logged before it goes out: a reader may give up on it half way.
        if (damaged) {
            record.sentAtMs = vp::MonotonicMilliseconds();
            damaged_.Add(std::move(record));
        }
        if (!writer.Write(part)) return;
        ++picturesSent_;
    }
}

void StreamEndpoints::StreamMxpeg(int fps, int refreshInterval, ResponseWriter& writer) {
    ImageSettings image = camera_.Image();
    mxpegenc::EncoderOptions options;
    {
        std::lock_guard<std::mutex> lock(mxpegMutex_);
        options = mxpegOptions_;
    }
    options.quality = image.quality;
    options.refreshInterval = refreshInterval;
    mxpegenc::MxpegEncoder encoder(options);
    if (!writer.BeginStream(200, "video/mxpeg", {}, chunked_)) return;
    const uint64_t start = vp::MonotonicMilliseconds();
    for (uint64_t k = 0; Pace(k, fps, start, writer); ++k) {
        ImageSettings now = camera_.Image();
        if (now.quality != image.quality) encoder.SetQuality(now.quality);
        image = now;
        PtzState ptz = camera_.Ptz();
        RgbPicture rgb = pictures_.Render(k, image.width, image.height, ptz);
        mxpegenc::YCbCrPicture picture = mxpegenc::YCbCrPicture::FromRgb(
            rgb.rgb.data(), static_cast<int>(rgb.width), static_cast<int>(rgb.height), static_cast<int>(rgb.width) * 3);
        // The frame comment rides in the same comment as the sensor block, ahead of it.
        std::string text = FrameComment(k, image, ptz) + "\r\n" + camera_.SensorBlock();
        std::vector<uint8_t> frame = encoder.EncodeFrame(picture, text, k * 1000000 / static_cast<uint64_t>(fps));
        std::vector<uint8_t> gap;
        DamageRecord record;
        const bool damaged = Damage(writer, k, true, &frame, &gap, &record);
        // Bytes between this frame's EOI and the next frame's SOI.
        frame.insert(frame.end(), gap.begin(), gap.end());
        if (damaged) {
            record.sentAtMs = vp::MonotonicMilliseconds();
            damaged_.Add(std::move(record));
        }
        if (!writer.Write(frame.data(), frame.size())) return;
        ++picturesSent_;
    }
}

}  // namespace camsim

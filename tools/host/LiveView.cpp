// The live view's channels, inputs, outputs, PTZ and HTTP paths.
#include "host/LiveView.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "host/Commands.h"
#include "platform/System.h"

namespace quillon::host {

const char* ViewPageHtml();

namespace {

constexpr uint32_t kStreamWaitMs = 200;  // a stream notices a stop or a gone client within this
constexpr uint32_t kMaxPresetName = 64;

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Query values as the page sends them (encodeURIComponent).
std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int hi = -1, lo = -1;
        if (text[i] == '%' && i + 2 < text.size() && (hi = HexDigit(text[i + 1])) >= 0 &&
            (lo = HexDigit(text[i + 2])) >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::string Query(const camsim::RequestHead& head, const char* key) {
    auto value = camsim::QueryValue(head.query, key);
    return value ? PercentDecoded(*value) : std::string();
}

bool QueryInt(const camsim::RequestHead& head, const char* key, long* value) {
    std::string text = Query(head, key);
    char* end = nullptr;
    *value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == 0;
}

void RespondJson(camsim::ResponseWriter& w, int status, const std::string& json) {
    w.Respond(status, "application/json", json, {{"Cache-Control", "no-store"}});
}

}  // namespace

struct LiveView::Channel {
    explicit Channel(uint32_t i, const RecordSettings& s) : index(i), settings(s.width, s.height, s.interval, s.quality) {}
    const uint32_t index;
    VideoSink sink;
    ChannelSettings settings;
    std::mutex mutex;  // guards the fields below
    std::condition_variable arrived;
    std::shared_ptr<const std::vector<uint8_t>> latest;
    uint64_t sequence = 0;
    uint32_t width = 0, height = 0;
    // Updated by Tick on the main thread.
    int32_t state = 2;
    double picturesPerSecond = 0, kilobytesPerSecond = 0;
    uint64_t lastPictures = 0, lastBytes = 0;
};

LiveView::LiveView(DriverSession& session, uint32_t channels, const RecordSettings& settings, std::string cameraName,
                   std::string streamName)
    : session_(session),
      channelCount_(channels),
      settings_(settings),
      cameraName_(std::move(cameraName)),
      streamName_(std::move(streamName)) {}

LiveView::~LiveView() { Stop(); }

std::string LiveView::Url() const { return "http://" + address_ + ":" + std::to_string(Port()) + "/"; }

bool LiveView::Start(const std::string& address, uint16_t port, std::string* error) {
    IIPVideoCapture* video = session_.Video();
    if (!video) {
        *error = "the driver has no video capture object";
        return false;
    }
    for (uint32_t i = 0; i < channelCount_; ++i) {
        channels_.push_back(std::make_unique<Channel>(i, settings_));
        Channel* channel = channels_.back().get();
        channel->sink.SetObserver([this, channel](const Picture& picture) { OnPicture(*channel, picture); });
        if (!video->StartChannel(i, &channel->sink, &channel->settings)) {
            *error = "StartChannel(" + std::to_string(i) + ") was refused";
            return false;
        }
    }
    if (ICaptureIOApi* io = session_.IO()) {
        std::lock_guard<std::mutex> lock(ioMutex_);
        inputs_.assign(io->GetInputCount(), 0);
        outputs_.assign(io->GetOutputCount(), 0);
    }
    if (ICaptureIOApi* io = session_.IO(); io && io->SetSink(this)) {
        ioStarted_ = io->Start();  // switches every output low
        std::lock_guard<std::mutex> lock(ioMutex_);
        for (int32_t& o : outputs_) o = ioStarted_ ? 1 : 0;
    }
    if (velmora::IIPPTZDriverEx* driver = session_.Driver()->GetPTZDriverEx())
        for (uint32_t i = 0; i < channelCount_; ++i)
            if (velmora::IIPPTZApiEx* api = driver->GetPTZApiEx(i)) {
                PtzChannel p{i, api, {}};
                if (api->GetCapabilities(&p.caps) == velmora::kPtzDone) ptz_.push_back(p);
            }

    camsim::ServerOptions options;
    options.address = address;
    options.port = port;
    address_ = address;
    server_ = std::make_unique<camsim::HttpServer>(options);
    server_->Route("/", [this](const camsim::RequestHead& h, camsim::RequestBody&, camsim::ResponseWriter& w) {
        if (h.path == "/" || h.path == "/index.html")
            ServePage(h, w);
        else
            w.Respond(404, "text/plain", "not found\n");
    });
    server_->Route("/status", [this](const camsim::RequestHead&, camsim::RequestBody&, camsim::ResponseWriter& w) {
        ServeStatus(w);
    });
    server_->Route("/channel/", [this](const camsim::RequestHead& h, camsim::RequestBody&, camsim::ResponseWriter& w) {
        ServeChannel(h, w);
    });
    server_->Route("/output", [this](const camsim::RequestHead& h, camsim::RequestBody&, camsim::ResponseWriter& w) {
        ServeOutput(h, w);
    });
    server_->Route("/ptz", [this](const camsim::RequestHead& h, camsim::RequestBody&, camsim::ResponseWriter& w) {
        ServePtz(h, w);
    });
    if (!server_->Start()) {
        *error = "cannot listen on " + address + ":" + std::to_string(port);
        return false;
    }
    lastTick_ = velmora::platform::MonotonicMilliseconds();
    return true;
}

void LiveView::OnPicture(Channel& channel, const Picture& picture) {
    auto jpeg = std::make_shared<const std::vector<uint8_t>>(picture.jpeg);
    {
        std::lock_guard<std::mutex> lock(channel.mutex);
        channel.latest = std::move(jpeg);
        channel.width = picture.width;
        channel.height = picture.height;
        ++channel.sequence;
    }
    channel.arrived.notify_all();
}

void LiveView::Tick() {
    uint64_t now = velmora::platform::MonotonicMilliseconds();
    double seconds = now > lastTick_ ? double(now - lastTick_) / 1000.0 : 1.0;
    lastTick_ = now;
    IIPVideoCapture* video = session_.Video();
    for (auto& c : channels_) {
        int32_t state = 2, code = 0;
        if (video) video->GetChannelState(c->index, &state, &code, nullptr, 0);
        uint64_t pictures = c->sink.Pictures(), bytes = c->sink.Bytes();
        std::lock_guard<std::mutex> lock(c->mutex);
        c->state = state;
        c->picturesPerSecond = double(pictures - c->lastPictures) / seconds;
        c->kilobytesPerSecond = double(bytes - c->lastBytes) / 1024.0 / seconds;
        c->lastPictures = pictures;
        c->lastBytes = bytes;
    }
}

std::string LiveView::Progress() {
    std::string line;
    for (auto& c : channels_) {
        std::lock_guard<std::mutex> lock(c->mutex);
        char text[96];
        std::snprintf(text, sizeof(text), " ch%u %4.1f pic/s %7.1f kB/s %s", c->index, c->picturesPerSecond,
                      c->kilobytesPerSecond, c->state == 0 ? "connected" : "no-picture");
        line += text;
    }
    return line;
}

void LiveView::Stop() {
    if (server_) server_->Stop();  // ends every stream before the channels go
    IIPVideoCapture* video = session_.Video();
    if (video)
        for (auto& c : channels_) video->StopChannel(c->index);
    if (ioStarted_ && session_.IO()) session_.IO()->Stop();
    ioStarted_ = false;
    channels_.clear();
    ptz_.clear();
}

void LiveView::OnStateChanged(uint32_t index, int32_t state) {
    std::lock_guard<std::mutex> lock(ioMutex_);
    if (index < inputs_.size()) inputs_[index] = state;
}

void LiveView::OnFailure() {
    std::lock_guard<std::mutex> lock(ioMutex_);
    ++ioFailures_;
    for (int32_t& o : outputs_) o = 0;  // the driver reset every state
}

void LiveView::ServePage(const camsim::RequestHead&, camsim::ResponseWriter& w) {
    w.Respond(200, "text/html; charset=utf-8", ViewPageHtml(), {{"Cache-Control", "no-store"}});
}

std::string LiveView::PtzJson() {
    std::ostringstream json;
    json << "[";
    std::lock_guard<std::mutex> lock(controlMutex_);
    for (size_t i = 0; i < ptz_.size(); ++i) {
        const PtzChannel& p = ptz_[i];
        json << (i ? "," : "") << "{\"channel\":" << p.channel << ",\"pan\":" << p.caps.pan << ",\"tilt\":" << p.caps.tilt
             << ",\"zoom\":" << p.caps.zoom << ",\"focus\":" << p.caps.focus << ",\"iris\":" << p.caps.iris
             << ",\"areaZoom\":" << p.caps.areaZoom << ",\"center\":" << p.caps.center << ",\"unzoom\":" << p.caps.unzoom
             << ",\"presets\":[";
        int32_t count = p.api->GetPrepositionCount();
        char name[256];
        for (int32_t k = 0, listed = 0; k < count && k < 1024; ++k)
            if (p.api->GetPrepositionName(k, name, sizeof(name)) == velmora::kPtzDone)
                json << (listed++ ? "," : "") << JsonString(name);
        json << "]}";
    }
    json << "]";
    return json.str();
}

void LiveView::ServeStatus(camsim::ResponseWriter& w) {
    std::ostringstream json;
    json << "{\"camera\":" << JsonString(cameraName_) << ",\"stream\":" << JsonString(streamName_) << ",\"channels\":[";
    for (size_t i = 0; i < channels_.size(); ++i) {
        Channel& c = *channels_[i];
        std::lock_guard<std::mutex> lock(c.mutex);
        char rates[96];
        std::snprintf(rates, sizeof(rates), "\"fps\":%.1f,\"kBps\":%.1f", c.picturesPerSecond, c.kilobytesPerSecond);
        json << (i ? "," : "") << "{\"index\":" << c.index << ",\"state\":\""
             << (c.state == 0 ? "connected" : "no picture") << "\",\"pictures\":" << c.sequence << "," << rates
             << ",\"width\":" << c.width << ",\"height\":" << c.height << "}";
    }
    json << "],";
    {
        std::lock_guard<std::mutex> lock(ioMutex_);
        json << "\"inputs\":[";
        for (size_t i = 0; i < inputs_.size(); ++i) json << (i ? "," : "") << inputs_[i];
        json << "],\"outputs\":[";
        for (size_t i = 0; i < outputs_.size(); ++i) json << (i ? "," : "") << outputs_[i];
        json << "],\"ioFailures\":" << ioFailures_ << ",";
    }
    json << "\"ptz\":" << PtzJson() << "}";
    RespondJson(w, 200, json.str());
}

void LiveView::ServeChannel(const camsim::RequestHead& head, camsim::ResponseWriter& w) {
    // "/channel/N.mjpg" or "/channel/N.jpg"
    std::string rest = head.path.substr(std::string("/channel/").size());
    size_t dot = rest.find('.');
    char* end = nullptr;
    unsigned long index = std::strtoul(rest.substr(0, dot).c_str(), &end, 10);
    std::string kind = dot == std::string::npos ? "" : rest.substr(dot);
    if (dot == 0 || dot == std::string::npos || *end != 0 || index >= channels_.size() || (kind != ".mjpg" && kind != ".jpg")) {
        w.Respond(404, "text/plain", "no such channel stream; use /channel/N.mjpg or /channel/N.jpg\n");
        return;
    }
    Channel& channel = *channels_[index];
    if (kind == ".mjpg") {
        ServeStream(channel, w);
        return;
    }
    std::shared_ptr<const std::vector<uint8_t>> latest;
    {
        std::lock_guard<std::mutex> lock(channel.mutex);
        latest = channel.latest;
    }
    if (!latest) {
        w.Respond(503, "text/plain", "no picture yet\n", {{"Retry-After", "1"}});
        return;
    }
    w.Respond(200, "image/jpeg", std::string_view(reinterpret_cast<const char*>(latest->data()), latest->size()),
              {{"Cache-Control", "no-store"}});
}

void LiveView::ServeStream(Channel& channel, camsim::ResponseWriter& w) {
    if (!w.BeginStream(200, std::string("multipart/x-mixed-replace; boundary=") + kStreamBoundary,
                       {{"Cache-Control", "no-store"}, {"Pragma", "no-cache"}}))
        return;
    uint64_t sent = 0;
    // Ends when the client leaves or the server stops; every wait is bounded.
    while (w.Alive()) {
        std::shared_ptr<const std::vector<uint8_t>> picture;
        {
            std::unique_lock<std::mutex> lock(channel.mutex);
            channel.arrived.wait_for(lock, std::chrono::milliseconds(kStreamWaitMs),
                                     [&] { return channel.sequence != sent; });
            if (channel.sequence == sent || !channel.latest) continue;
            sent = channel.sequence;
            picture = channel.latest;
        }
        std::string head = std::string("--") + kStreamBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                           std::to_string(picture->size()) + "\r\n\r\n";
        if (!w.Write(head) || !w.Write(picture->data(), picture->size()) || !w.Write("\r\n")) break;
    }
}

void LiveView::ServeOutput(const camsim::RequestHead& head, camsim::ResponseWriter& w) {
    long index = 0, state = 0;
    if (head.method != "POST" || !QueryInt(head, "index", &index) || !QueryInt(head, "state", &state) ||
        (state != 1 && state != 2)) {
        RespondJson(w, 400, "{\"error\":\"POST /output?index=I&state=1|2 (1 low, 2 high)\"}");
        return;
    }
    ICaptureIOApi* io = session_.IO();
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        queued = io && index >= 0 && io->SetOutput(static_cast<uint32_t>(index), static_cast<int32_t>(state));
    }
    if (queued) {
        std::lock_guard<std::mutex> lock(ioMutex_);
        if (static_cast<size_t>(index) < outputs_.size()) outputs_[static_cast<size_t>(index)] = static_cast<int32_t>(state);
    }
    RespondJson(w, queued ? 200 : 409, std::string("{\"queued\":") + (queued ? "true" : "false") + "}");
}

void LiveView::ServePtz(const camsim::RequestHead& head, camsim::ResponseWriter& w) {
    long channel = 0;
    if (head.method != "POST" || !QueryInt(head, "channel", &channel)) {
        RespondJson(w, 400, "{\"error\":\"POST /ptz?channel=C&action=...\"}");
        return;
    }
    std::lock_guard<std::mutex> lock(controlMutex_);
    velmora::IIPPTZApiEx* api = nullptr;
    for (const PtzChannel& p : ptz_)
        if (static_cast<long>(p.channel) == channel) api = p.api;
    if (!api) {
        RespondJson(w, 404, "{\"error\":\"no PTZ on this channel\"}");
        return;
    }
    const std::string action = Query(head, "action");
    long a = 0, b = 0, c = 0;
    std::vector<std::string> words;
    if (action == "move" && QueryInt(head, "dir", &a)) {
        words = {"move", std::to_string(a), std::to_string(QueryInt(head, "speed", &b) ? b : 8)};
    } else if (action == "stop" || action == "unzoom") {
        words = {action};
    } else if (action == "zoomin" || action == "zoomout") {
        words = {"zoom", action == "zoomin" ? "in" : "out", std::to_string(QueryInt(head, "speed", &b) ? b : 8)};
    } else if (action == "center" && QueryInt(head, "x", &a) && QueryInt(head, "y", &b)) {
        words = {"center", std::to_string(a), std::to_string(b)};
    } else if (action == "areazoom" && QueryInt(head, "x", &a) && QueryInt(head, "y", &b) && QueryInt(head, "zoom", &c) &&
               c > 0) {
        words = {"areazoom", std::to_string(a), std::to_string(b), std::to_string(c)};
    } else if (action.rfind("preset-", 0) == 0 && !Query(head, "name").empty() &&
               Query(head, "name").size() <= kMaxPresetName) {
        words = {"preset", action.substr(7), Query(head, "name")};
    }
    if (words.empty() || (words[0] == "preset" && words[1] != "goto" && words[1] != "add" && words[1] != "remove")) {
        RespondJson(w, 400, "{\"error\":\"unknown or incomplete PTZ action\"}");
        return;
    }
    std::ostringstream ignored;
    int32_t code = ExecutePtzAction(api, words, ignored);
    RespondJson(w, 200, std::string("{\"ok\":") + (code == velmora::kPtzDone ? "true" : "false") + ",\"code\":" +
                            std::to_string(code) + ",\"result\":" + JsonString(PtzResultText(code)) + "}");
}

}  // namespace quillon::host

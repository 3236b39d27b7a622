// Handlers of the camera's CGI paths. Replies are plain "key=value" or "OK" lines, as the camera
// sends them; refusals are "ERR:" lines.
#include "camsim/CameraEndpoints.h"

#include <charconv>
#include <string>

namespace camsim {

namespace {

constexpr const char* kText = "text/plain";

const char kRotorHelp[] =
    "rotorcgi: PTZ control of the camera head\r\n"
    "\r\n"
    "POST /control/rotorcgi sends a stream of 24-byte commands (little-endian):\r\n"
    "  char     magic[4];   /* \"MxR\\0\" */\r\n"
    "  uint32_t version;    /* 1 */\r\n"
    "  uint32_t command;    /* 1 pan/tilt, 3 zoom, 5 store preset, 6 recall preset, 9 stop */\r\n"
    "  int32_t para1;\r\n"
    "  int32_t para2;\r\n"
    "  uint32_t reserved;\r\n";

const char kNoRotorHelp[] = "rotorcgi: no rotor connected to this camera\r\n";

std::string Line(std::string_view key, std::string_view value) {
    return std::string(key) + "=" + std::string(value) + "\r\n";
}

std::string EndLine(std::string text) {
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) text += "\r\n";
    return text;
}

void SetImageControl(CameraModel& camera, const RequestHead& head, ResponseWriter& w) {
    std::string error = camera.ImageControlError();
    if (!error.empty()) {
        w.Respond(200, kText, EndLine(error));
        return;
    }
    ImageSettings s = camera.Image();
    if (auto size = QueryValue(head.query, "size")) {
        if (!ParsePictureSize(*size, &s.width, &s.height)) {
            w.Respond(200, kText, "ERR: invalid size " + *size + "\r\n");
            return;
        }
    }
    if (auto quality = QueryValue(head.query, "quality")) {
        std::optional<int> q = ParseWholeNumber(*quality);
        if (!q || *q < 1 || *q > 100) {
            w.Respond(200, kText, "ERR: invalid quality " + *quality + "\r\n");
            return;
        }
        s.quality = *q;
    }
    if (auto mode = QueryValue(head.query, "motionjpeg")) {
        if (*mode != "enable" && *mode != "disable") {
            w.Respond(200, kText, "ERR: invalid motionjpeg " + *mode + "\r\n");
            return;
        }
        s.motionjpeg = *mode;
    }
    if (auto rate = QueryValue(head.query, "framerate100")) s.framerate100 = *rate;
    camera.SetImage(s);
    w.Respond(200, kText, "OK\r\n");
}

void ReadImageControl(CameraModel& camera, const RequestHead& head, ResponseWriter& w) {
    ImageSettings s = camera.Image();
    std::string reply;
    std::string_view rest = head.query;
    while (!rest.empty()) {
        size_t amp = rest.find('&');
        std::string_view item = rest.substr(0, amp);
        std::string_view key = item.substr(0, item.find('='));
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        if (key == "read" || key == "section" || key.empty()) continue;
        if (key == "display_mode") reply += Line(key, camera.DisplayMode());
        else if (key == "size") reply += Line(key, std::to_string(s.width) + "x" + std::to_string(s.height));
        else if (key == "quality") reply += Line(key, std::to_string(s.quality));
        else if (key == "motionjpeg") reply += Line(key, s.motionjpeg);
        else if (key == "framerate100") reply += Line(key, s.framerate100);
        else reply += "ERR: unknown parameter " + std::string(key) + "\r\n";
    }
    w.Respond(200, kText, reply.empty() ? "ERR: nothing to read\r\n" : reply);
}

void HandleControl(CameraModel& camera, const RequestHead& head, RequestBody&, ResponseWriter& w) {
    std::optional<std::string> section = QueryValue(head.query, "section");
    if (section != "imagecontrol") {
        w.Respond(400, kText, "ERR: unknown section\r\n");
    } else if (QueryHasKey(head.query, "set")) {
        SetImageControl(camera, head, w);
    } else if (QueryHasKey(head.query, "list")) {
        w.Respond(200, kText, camera.ImageControlList());
    } else if (QueryHasKey(head.query, "read")) {
        ReadImageControl(camera, head, w);
    } else {
        w.Respond(400, kText, "ERR: unknown request\r\n");
    }
}

void HandleAdminRcontrol(CameraModel& camera, const RequestHead& head, RequestBody&, ResponseWriter& w) {
    if (QueryValue(head.query, "action") == "storeconfig") {
        camera.CountStoreConfig();
        w.Respond(200, kText, "OK\r\n");
    } else {
        w.Respond(400, kText, "ERR: unknown action\r\n");
    }
}

void HandleRcontrol(CameraModel& camera, const RequestHead& head, RequestBody&, ResponseWriter& w) {
    std::optional<std::string> action = QueryValue(head.query, "action");
    if (action != "sigouthigh" && action != "sigoutlow") {
        w.Respond(400, kText, "ERR: unknown action\r\n");
    } else if (!camera.SwitchSignalOutput(*action == "sigouthigh")) {
        w.Respond(200, kText, "ERR: no signal output\r\n");
    } else {
        w.Respond(200, kText, "OK\r\n");
    }
}

void HandleRinfo(CameraModel& camera, const RequestHead& head, RequestBody&, ResponseWriter& w) {
    if (QueryValue(head.query, "querydata") != "basic") {
        w.Respond(400, kText, "ERR: unknown query\r\n");
        return;
    }
    CameraIdentity id = camera.Identity();
    std::string reply;
    if (!id.typeName.empty()) reply += Line("features__type_info_full_name", id.typeName);
    if (!id.audio.empty()) reply += Line("features__audio", id.audio);
    reply += Line("features__signalinputs", std::to_string(camera.InputCount()));
    reply += Line("features__signaloutputs", std::to_string(camera.OutputCount()));
    if (!id.firmware.empty()) reply += Line("filesystem__version", id.firmware);
    w.Respond(200, kText, reply);
}

void HandleVersion(CameraModel& camera, const RequestHead&, RequestBody&, ResponseWriter& w) {
    CameraIdentity id = camera.Identity();
    std::string page =
        "<html>\r\n<head><title>Version Information</title></head>\r\n<body>\r\n<table>\r\n"
        "<tr><td>Camera Type</td><td>" + id.typeName + "</td></tr>\r\n"
        "<tr><td>Software Version</td><td>" + id.firmware + "</td></tr>\r\n";
    if (!id.mac.empty()) page += "<tr><td>Ethernet Hardware Address</td><td>" + id.mac + "</td></tr>\r\n";
    page += "</table>\r\n</body>\r\n</html>\r\n";
    w.Respond(200, "text/html", page);
}

// The long-lived upload: packets are applied as they arrive; the client may close at any time.
void ReceiveRotorUpload(CameraModel& camera, RequestBody& body, ResponseWriter& w) {
    RotorPacketSplitter splitter;
    char buffer[4096];
    uint32_t silentMs = 0;
    for (;;) {
        long n = body.Read(buffer, sizeof(buffer), 200);
        if (n > 0) {
            silentMs = 0;
            for (const RotorPacket& p : splitter.Feed(buffer, static_cast<size_t>(n))) camera.ApplyRotorPacket(p);
        } else if (n == 0) {
            w.Respond(200, kText, splitter.Pending() ? "ERR: incomplete command\r\n" : "OK\r\n");
            return;
        } else if (n == -1 || !w.Alive()) {
            return;  // client gone: what arrived has been applied
        } else if ((silentMs += 200) >= kRotorIdleLimitMs) {
            w.Respond(408, kText, "ERR: rotor upload idle\r\n");
            return;
        }
    }
}

void HandleRotor(CameraModel& camera, const RequestHead& head, RequestBody& body, ResponseWriter& w) {
    if (head.method == "POST") {
        ReceiveRotorUpload(camera, body, w);
    } else if (QueryHasKey(head.query, "help")) {
        w.Respond(200, kText, camera.Identity().ptzHelp ? kRotorHelp : kNoRotorHelp);
    } else {
        w.Respond(400, kText, "ERR: unknown request\r\n");
    }
}

void HandleClick(CameraModel& camera, const RequestHead& head, RequestBody&, ResponseWriter& w) {
    ClickCommand c;
    c.query = head.query;
    std::optional<int> x = ParseWholeNumber(QueryValue(head.query, "x").value_or(""));
    std::optional<int> y = ParseWholeNumber(QueryValue(head.query, "y").value_or(""));
    std::optional<int> zoom = ParseWholeNumber(QueryValue(head.query, "zoom").value_or(""));
    if (QueryHasKey(head.query, "zoomrect")) {
        c.kind = ClickCommand::Kind::ZoomRect;
    } else if (zoom) {
        c.kind = ClickCommand::Kind::Zoom;
        c.zoom = *zoom;
    } else if (x && y) {
        c.kind = ClickCommand::Kind::Point;
        c.x = *x;
        c.y = *y;
        c.mode = ParseWholeNumber(QueryValue(head.query, "mode").value_or("0")).value_or(0);
    }
    camera.RecordClick(c);
    if (c.kind == ClickCommand::Kind::Other) w.Respond(400, kText, "ERR: unknown click request\r\n");
    else w.Respond(200, kText, camera.ClickReply());
}

}  // namespace

std::optional<int> ParseWholeNumber(std::string_view text) {
    int value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (begin == end || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

bool ParsePictureSize(std::string_view text, uint32_t* width, uint32_t* height) {
    size_t x = text.find('x');
    if (x == std::string_view::npos) return false;
    std::optional<int> w = ParseWholeNumber(text.substr(0, x));
    std::optional<int> h = ParseWholeNumber(text.substr(x + 1));
    auto inRange = [](std::optional<int> v) {
        return v && *v >= static_cast<int>(kMinPictureSide) && *v <= static_cast<int>(kMaxPictureSide);
    };
    if (!inRange(w) || !inRange(h)) return false;
    *width = static_cast<uint32_t>(*w);
    *height = static_cast<uint32_t>(*h);
    return true;
}

void RegisterCameraEndpoints(HttpServer& server, CameraModel& camera) {
    auto bind = [&camera](void (*f)(CameraModel&, const RequestHead&, RequestBody&, ResponseWriter&)) {
        return [&camera, f](const RequestHead& h, RequestBody& b, ResponseWriter& w) { f(camera, h, b, w); };
    };
    server.Route("/control/control", bind(HandleControl));
    server.Route("/admin/rcontrol", bind(HandleAdminRcontrol));
    server.Route("/control/rcontrol", bind(HandleRcontrol));
    server.Route("/cgi-bin/rinfo", bind(HandleRinfo));
    server.Route("/admin/version", bind(HandleVersion));
    server.Route("/control/rotorcgi", bind(HandleRotor));
    server.Route("/control/click.cgi", bind(HandleClick));
}

}  // namespace camsim

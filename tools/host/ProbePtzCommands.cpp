// probe and ptz subcommands.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "host/CameraCheck.h"
#include "host/CapabilityResult.h"
#include "host/Commands.h"
#include "host/Module.h"
#include "host/Session.h"

namespace quillon::host {

namespace {
constexpr uint32_t kQueryWaitMs = 60000;

std::string Capability(const CapabilityResult& r, int32_t id) {
    auto it = r.capabilities.find(id);
    return it == r.capabilities.end() ? "-" : std::to_string(it->second);
}
}  // namespace

bool ProbeCamera(DriverModule& module, const CameraConfig& camera, uint8_t videoStandard, CapabilityResult* result,
                 std::string* error) {
    if (!module.InitQuery || !module.StartQuery || !module.UninitQuery) {
        *error = "the module has no capability-query exports";
        return false;
    }
    CapabilityCallback callback;
    if (module.InitQuery(&callback, videoStandard) != 1) {
        *error = "InitCapabilityQuery refused (a query is already registered)";
        return false;
    }
    bool ok = false;
    if (module.StartQuery(camera.address.c_str(), camera.port, camera.user.c_str(), camera.password.c_str(), result) != 1) {
        *error = "StartCapabilityQuery could not start the query thread";
    } else if (!callback.Wait(kQueryWaitMs)) {
        *error = "no answer from the capability query within 60 s";
    } else if (!callback.succeeded) {
        *error = "capability query failed with code " + std::to_string(callback.code) + ": " + callback.message;
    } else {
        ok = true;
    }
    module.UninitQuery();
    return ok;
}

void PrintProbe(const CameraConfig& camera, const CapabilityResult& r, std::ostream& out) {
    char line[512];
    auto row = [&](const char* name, const std::string& value) {
        std::snprintf(line, sizeof(line), "  %-18s %s\n", name, value.c_str());
        out << line;
    };
    out << "camera " << camera.address << ":" << camera.port << "\n";
    auto parameter = [&](int32_t index) {
        auto it = r.parameters.find(index);
        return it == r.parameters.end() ? std::string("-") : it->second.value;
    };
    row("model", r.model);
    row("firmware", parameter(4));
    row("probe complete", Capability(r, 0) == "1" ? "yes" : "no");
    row("inputs / outputs", Capability(r, 2) + " / " + Capability(r, 3));
    row("audio", Capability(r, 4) == "1" ? "yes" : "no");
    row("PTZ usable", Capability(r, 1) == "1" ? "yes" : "no");
    row("PTZ abilities", parameter(3));
    row("preset file", parameter(2));
    row("MJPEG/MxPEG", Capability(r, 7) == "1" ? "yes" : "no");
    std::string sizes;
    for (const ProbedResolution& res : r.resolutions)
        sizes += (sizes.empty() ? "" : ", ") + res.name + " (" + std::to_string(res.interval) + " ms)";
    row("picture sizes", sizes.empty() ? "(none)" : sizes);
    std::string intervals;
    auto it = r.intervals.find(1);
    if (it != r.intervals.end())
        for (uint32_t ms : it->second) {
            char rate[48];
            std::snprintf(rate, sizeof(rate), "%s%u ms (%.1f/s)", intervals.empty() ? "" : ", ", ms, ms ? 1000.0 / ms : 0.0);
            intervals += rate;
        }
    row("frame intervals", intervals.empty() ? "(none)" : intervals);
    out << "  parameters:\n";
    for (const auto& [index, p] : r.parameters) {
        std::snprintf(line, sizeof(line), "    %d %-32s = %s  (kind %d, option %d)\n", index, p.name.c_str(), p.value.c_str(),
                      p.kind, p.option);
        out << line;
    }
}

int RunProbe(const Options& options, std::ostream& out) {
    if (options.positional.empty()) {
        out << "probe: give the camera URL\n";
        return 2;
    }
    CameraConfig camera;
    std::string error;
    if (!ParseCameraUrl(options.positional[0], &camera, &error)) {
        out << "probe: " << error << "\n";
        return 2;
    }
    if (!CameraReachable("probe", camera, CheckTimeoutMs(options), out)) return 1;
    DriverModule module;
    if (!module.Load(options.Get("module", DriverModule::DefaultPath()), &error)) {
        out << "probe: " << error << "\n";
        return 1;
    }
    CapabilityResult result;
    if (!ProbeCamera(module, camera, static_cast<uint8_t>(options.GetInt("video-standard", 0) != 0), &result, &error)) {
        out << "probe: " << error << "\n";
        return 1;
    }
    PrintProbe(camera, result, out);
    ParameterStore store(options.Get("params-file", ParameterStore::DefaultPath()));
    if (!store.Save(camera.address, camera.port, result.ParameterValues())) {
        out << "probe: could not store the parameters\n";
        return 1;
    }
    out << "probe: parameters stored for " << camera.address << ":" << camera.port << "; record, io and ptz use them\n";
    return 0;
}

const char* PtzResultText(int32_t code) {
    switch (code) {
        case 1: return "done";
        case 0: return "no";
        case -3: return "invalid argument";
        case -18: return "not possible now";
        case -19: return "the camera lacks this ability";
        case -23: return "preset operation failed or preset not found";
        case -26: return "no free preset slot";
        default: return "unknown result";
    }
}

int32_t ExecutePtzAction(velmora::IIPPTZApiEx* api, const std::vector<std::string>& words, std::ostream& out) {
    auto arg = [&](size_t i, long fallback) {
        return i < words.size() ? std::strtol(words[i].c_str(), nullptr, 10) : fallback;
    };
    auto text = [&](size_t i) { return i < words.size() ? words[i] : std::string(); };
    const std::string action = text(0);
    int32_t result = -3;
    if (action == "move") {
        static const char* names[] = {"left", "right", "up", "down", "upleft", "upright", "downleft", "downright"};
        int32_t direction = -1;
        for (int32_t d = 0; d < 8; ++d)
            if (text(1) == names[d]) direction = d;
        if (direction < 0) direction = static_cast<int32_t>(arg(1, 10));
        result = api->Move(direction, static_cast<int32_t>(arg(2, 8)));
    } else if (action == "stop") {
        result = api->Stop();
    } else if (action == "zoom") {
        result = text(1) == "out" ? api->ZoomMinus(static_cast<int32_t>(arg(2, 8))) : api->ZoomPlus(static_cast<int32_t>(arg(2, 8)));
    } else if (action == "focus") {
        result = text(1) == "near" ? api->FocusMinus(8) : api->FocusPlus(8);
    } else if (action == "iris") {
        result = text(1) == "close" ? api->IrisMinus(8) : api->IrisPlus(8);
    } else if (action == "center") {
        result = api->Center(static_cast<int32_t>(arg(1, 0)), static_cast<int32_t>(arg(2, 0)), 8);
    } else if (action == "areazoom") {
        result = api->AreaZoom(static_cast<int32_t>(arg(1, 0)), static_cast<int32_t>(arg(2, 0)),
                               static_cast<int32_t>(arg(3, 200)), 8);
    } else if (action == "unzoom") {
        result = api->Unzoom(8);
    } else if (action == "preset" && text(1) == "add") {
        result = api->AddPreposition(text(2).c_str());
    } else if (action == "preset" && text(1) == "goto") {
        result = api->GotoPreposition(8, text(2).c_str());
    } else if (action == "preset" && text(1) == "remove") {
        result = api->RemovePreposition(text(2).c_str());
    } else if (action == "preset" && text(1) == "list") {
        int32_t count = api->GetPrepositionCount();
        out << "ptz: " << count << " preset(s)\n";
        char name[256];
        for (int32_t i = 0; i < count; ++i)
            if (api->GetPrepositionName(i, name, sizeof(name)) == 1) out << "  " << i << ": " << name << "\n";
        result = 1;
    } else {
        return kUnknownPtzAction;
    }
    return result;
}

int RunPtzAction(velmora::IIPPTZApiEx* api, const std::vector<std::string>& words, std::ostream& out) {
    int32_t result = ExecutePtzAction(api, words, out);
    if (result == kUnknownPtzAction) {
        out << "ptz: unknown action '" << (words.empty() ? std::string() : words[0]) << "'\n";
        return 2;
    }
    std::string joined;
    for (const std::string& w : words) joined += (joined.empty() ? "" : " ") + w;
    out << "ptz: " << joined << " -> " << result << " (" << PtzResultText(result) << ")\n";
    return result == 1 ? 0 : 1;
}

int RunPtz(const Options& options, std::ostream& out) {
    if (options.positional.size() < 2) {
        out << "ptz: give the camera URL and an action (move, stop, zoom, focus, iris, center, areazoom, unzoom, preset)\n";
        return 2;
    }
    CameraConfig camera;
    std::string error;
    if (!BuildCameraConfig(options.positional[0], options, &camera, &error)) {
        out << "ptz: " << error << "\n";
        return 2;
    }
    if (!CameraReachable("ptz", camera, CheckTimeoutMs(options), out)) return 1;
    if (camera.parameters.size() < 3) {
        out << "ptz: no PTZ parameters stored for this camera; run 'quillon-host probe " << options.positional[0]
            << "' first or give --param2 and --param3\n";
        return 2;
    }
    DriverSession session(camera);
    session.Log().SetPrinter([&out](const LogLine& line) { out << "[driver level " << line.level << "] " << line.text << "\n"; });
    if (!session.Open(&error, options.Get("module", DriverModule::DefaultPath()))) {
        out << "ptz: " << error << "\n";
        return 1;
    }
    velmora::IIPPTZDriverEx* driver = session.Driver()->GetPTZDriverEx();
    velmora::IIPPTZApiEx* api = driver ? driver->GetPTZApiEx(static_cast<uint32_t>(options.GetInt("channel", 0))) : nullptr;
    if (!api) {
        out << "ptz: the driver gives no PTZ control for this channel\n";
        return 1;
    }
    // Area zoom works in the pixels of the running picture: run channel 0 meanwhile.
    std::vector<std::string> words(options.positional.begin() + 1, options.positional.end());
    VideoSink sink;
    ChannelSettings settings(640, 480, 100, 80);
    if (words[0] == "areazoom") {
        session.Video()->StartChannel(0, &sink, &settings);
        sink.WaitForPictures(1, 10000);
    }
    int rc = RunPtzAction(api, words, out);
    // Motions run on the PTZ thread after the call returns; give them time before the close.
    std::this_thread::sleep_for(std::chrono::milliseconds(options.GetInt("settle-ms", 1000)));
    session.Close();
    return rc;
}

}  // namespace quillon::host

// probe and ptz subcommands.
#include <cstdio>

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

int RunPtz(const Options&, std::ostream& out) {
    out << "ptz: PTZ control is not available in this build yet\n";
    return 1;
}

}  // namespace quillon::host

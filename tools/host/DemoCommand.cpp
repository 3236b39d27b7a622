// demo: the built-in simulator on loopback, probed, streamed, switched and steered.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "camsim/CameraSimulator.h"
#include "host/CapabilityResult.h"
#include "host/Commands.h"
#include "host/Recorder.h"
#include "host/Session.h"

namespace quillon::host {

namespace {

void Section(std::ostream& out, const std::string& title) { out << "\n== " << title << "\n"; }

// Runs one MJPEG and one MxPEG driver side by side with a progress line per second.
bool StreamBoth(const CameraConfig& base, const RecordSettings& settings, std::ostream& out, uint64_t* pictures,
                uint64_t* errors) {
    CameraConfig mjpeg = base, mxpeg = base;
    mjpeg.streamType = 1;
    mxpeg.streamType = 2;
    DriverSession a(mjpeg), b(mxpeg);
    std::string error;
    if (!a.Open(&error) || !b.Open(&error)) {
        out << "demo: " << error << "\n";
        return false;
    }
    RecordSettings sa = settings, sb = settings;
    sa.label = "mjpeg-";
    sb.label = "mxpeg-";
    Recorder ra(a, sa), rb(b, sb);
    if (!ra.Start(1, &error) || !rb.Start(1, &error)) {
        out << "demo: " << error << "\n";
        return false;
    }
    auto begin = std::chrono::steady_clock::now();
    for (uint32_t s = 1; s <= settings.seconds; ++s) {
        std::this_thread::sleep_until(begin + std::chrono::seconds(s));
        out << ra.Progress(double(s)) << "  |  " << rb.Progress(double(s)) << "\n" << std::flush;
    }
    ra.Stop();
    rb.Stop();
    out << ra.Summary(settings.seconds) << "\n" << rb.Summary(settings.seconds) << "\n";
    for (Recorder* r : {&ra, &rb})
        for (const ChannelTotals& t : r->Totals()) {
            *pictures += t.pictures;
            *errors += t.decodeErrors;
        }
    return true;
}

bool ShowIo(camsim::CameraSimulator& sim, const CameraConfig& base, std::ostream& out) {
    DriverSession session(base);
    std::string error;
    if (!session.Open(&error)) {
        out << "demo: " << error << "\n";
        return false;
    }
    IOSink sink;
    ICaptureIOApi* io = session.IO();
    io->SetSink(&sink);
    io->Start();
    RecordSettings settings;
    Recorder watcher(session, settings);  // inputs travel inside the video stream
    watcher.Start(1, &error);
    size_t before = sink.Changes().size();
    out << "demo: switching output 0 high, then low\n";
    io->SetOutput(0, 2);
    io->SetOutput(0, 1);
    out << "demo: setting simulator input 1 active\n";
    sim.SetInput(1, true);
    bool seen = sink.WaitForChanges(before + 1, 10000);
    for (const auto& change : sink.Changes()) out << "demo: input " << change.first << " -> state " << change.second << "\n";
    out << "demo: camera output switched " << sim.Camera().OutputSwitchCount() << " time(s)\n";
    watcher.Stop();
    io->Stop();
    return seen;
}

std::string PtzText(const camsim::PtzState& ptz) {
    return "pan " + std::to_string(ptz.pan) + ", tilt " + std::to_string(ptz.tilt) + ", zoom " + std::to_string(ptz.zoom);
}

bool ShowPtz(camsim::CameraSimulator& sim, const CameraConfig& base, std::ostream& out) {
    DriverSession session(base);
    std::string error;
    if (!session.Open(&error)) {
        out << "demo: " << error << "\n";
        return false;
    }
    velmora::IIPPTZDriverEx* driver = session.Driver()->GetPTZDriverEx();
    velmora::IIPPTZApiEx* api = driver ? driver->GetPTZApiEx(0) : nullptr;
    if (!api) {
        out << "demo: no PTZ control for channel 0 (is the PTZ text among the probed parameters?)\n";
        return false;
    }
    // Area zoom works in the running picture's pixels.
    VideoSink sink;
    ChannelSettings settings(640, 480, 100, 80);
    session.Video()->StartChannel(0, &sink, &settings);
    sink.WaitForPictures(1, 10000);
    bool ok = true;
    size_t packets = sim.Camera().RotorPackets().size();
    auto step = [&](const std::vector<std::string>& words, size_t newPackets) {
        ok &= RunPtzAction(api, words, out) == 0;
        packets += newPackets;
        // Motions run on the PTZ thread: wait (bounded) until the camera has seen them.
        if (newPackets) ok &= sim.Camera().WaitForRotorPackets(packets, 5000);
    };
    out << "demo: camera at " << PtzText(sim.Camera().Ptz()) << "\n";
    step({"move", "right", "8"}, 1);
    step({"stop"}, 1);
    step({"zoom", "in", "8"}, 1);
    step({"stop"}, 1);
    out << "demo: camera at " << PtzText(sim.Camera().Ptz()) << "\n";
    step({"preset", "add", "Entrance"}, 1);
    step({"move", "left", "16"}, 1);
    step({"stop"}, 1);
    out << "demo: camera at " << PtzText(sim.Camera().Ptz()) << "\n";
    step({"preset", "goto", "Entrance"}, 1);
    out << "demo: camera at " << PtzText(sim.Camera().Ptz()) << " (back at the preset)\n";
    step({"preset", "list"}, 0);
    size_t clicks = sim.Camera().Clicks().size();
    step({"areazoom", "320", "240", "200"}, 0);
    ok &= sim.Camera().WaitForClicks(clicks + 3, 5000);
    step({"unzoom"}, 0);
    ok &= sim.Camera().WaitForClicks(clicks + 4, 5000);
    step({"preset", "remove", "Entrance"}, 0);
    out << "demo: the camera received " << sim.Camera().RotorPackets().size() << " rotor packets and "
        << sim.Camera().Clicks().size() << " click requests\n";
    session.Video()->StopChannel(0);
    return ok;
}

}  // namespace

int RunDemo(const Options& options, std::ostream& out) {
    camsim::SimulatorOptions simOptions;
    simOptions.inputs = 2;
    simOptions.outputs = 1;
    camsim::CameraSimulator sim(simOptions);
    if (!sim.Start()) {
        out << "demo: the camera simulator could not listen on 127.0.0.1\n";
        return 1;
    }
    out << "demo: camera simulator at " << sim.Url() << "\n";
    out << "demo: module " << DriverModule::DefaultPath() << "\n";
    CameraConfig base;
    base.address = sim.Host();
    base.port = sim.Port();
    base.inputs = 2;
    base.outputs = 1;

    RecordSettings settings;
    settings.seconds = static_cast<uint32_t>(options.GetInt("seconds", 5));
    settings.outDir = options.Get("out", "out/demo");
    settings.width = 640;
    settings.height = 480;
    settings.interval = 100;
    std::error_code ec;
    std::filesystem::create_directories(settings.outDir, ec);

    Section(out, "capability probe");
    bool probed = false;
    {
        DriverModule module;
        CapabilityResult result;
        std::string error;
        if (module.Load(DriverModule::DefaultPath(), &error) && ProbeCamera(module, base, 0, &result, &error)) {
            PrintProbe(base, result, out);
            // As a host does: the probed parameters feed every later Open of this camera.
            base.parameters = result.ParameterValues();
            probed = true;
        } else {
            out << "demo: probe failed: " << error << "\n";
        }
    }

    Section(out, "live video: Motion-JPEG and MxPEG");
    uint64_t pictures = 0, errors = 0;
    bool streamed = StreamBoth(base, settings, out, &pictures, &errors);

    Section(out, "digital inputs and outputs");
    bool ioOk = ShowIo(sim, base, out);

    Section(out, "PTZ");
    bool ptzOk = probed && ShowPtz(sim, base, out);

    Section(out, "summary");
    out << "demo: " << pictures << " pictures delivered, " << errors << " decode errors, pictures written to "
        << settings.outDir << "\n";
    out << "demo: capability probe " << (probed ? "ok" : "FAILED") << "\n";
    out << "demo: inputs and outputs " << (ioOk ? "ok" : "FAILED") << "\n";
    out << "demo: PTZ and presets " << (ptzOk ? "ok" : "FAILED") << "\n";
    const bool ok = probed && streamed && pictures > 0 && errors == 0 && ioOk && ptzOk;
    if (options.Has("view")) {
        // The same simulator stays up with the page open: MxPEG, rebuilt into full pictures.
        Section(out, "live view (Ctrl-C ends)");
        base.streamType = 2;
        int rc = ServeLiveView(base, options, DriverModule::DefaultPath(), options.GetInt("view-seconds", 0), out);
        if (rc != 0) return rc;
    }
    return ok ? 0 : 1;
}

}  // namespace quillon::host

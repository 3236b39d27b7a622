// soak: many channels against built-in simulators for a long while, with random faults, checking that
// every channel recovers, every picture decodes, memory stays flat and Close leaves nothing behind.
//
// Each channel is a camera of its own (its own simulator and driver), MJPEG and MxPEG alternating, so
// a fault hits exactly one channel and "did it recover" has a clear answer.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "camsim/CameraSimulator.h"
#include "host/CheckingSink.h"
#include "host/Commands.h"
#include "host/FaultPlan.h"
#include "host/LongRun.h"
#include "host/Session.h"
#include "platform/System.h"

namespace quillon::host {

namespace {

using velmora::platform::MonotonicMilliseconds;

constexpr const char* kStreamPath = "/control/faststream.jpg";
constexpr uint32_t kTickMs = 100;
constexpr uint32_t kProgressEveryMs = 10000;
constexpr uint32_t kHeapWindowMs = 2000;
// Longer than the module's request time-out (5 s), so the module must give the stream up.
constexpr uint32_t kStallMs = 8000;
constexpr uint32_t kTrickleIntervalMs = 10;
constexpr uint32_t kFirstPicturesMs = 30000;
constexpr uint32_t kThreadsBackMs = 10000;
constexpr uint32_t kSwitchOnAttempts = 50;
constexpr uint32_t kSwitchOnRetryMs = 100;
constexpr uint64_t kMiB = 1024 * 1024;
// Two memory rules, both from the end of the fault-free warm-up to the end of the run, each reading
// taken with every channel streaming (a channel between connections holds about 3 MiB less).
// Heap in use (bytes allocated and not freed) may grow by kHeapGrowthLimitMiB: the steady state of 8
// channels (about 25 MiB) holds its pictures and buffers after the warm-up, and the simulators' request logs and the
// hosts' log lines add well under 1 MiB a minute. A leak of one picture per picture delivered (about
// 10 kB at 40 pictures/s) adds 18 MiB in the 45 s after the warm-up, one of 100 kB per reconnect
// about 5 MiB; both fail.
constexpr double kHeapGrowthLimitMiB = 4;
// The resident set also grows while reconnects bring new threads and with them new allocator arenas
// (measured: 13 MiB in the 45 s after the warm-up with 8 channels, flat with one arena), up to the
// allocator's arena limit; the limit sits above that and catches growth outside the heap (stacks,
// mappings) that a minute makes plain.
constexpr double kResidentGrowthLimitMiB = 48;
// Under sanitizers freed memory sits in quarantine (ASan: 256 MiB) or is shadowed, so the resident
// set grows for reasons of their own; the heap rule still holds (the sanitizer counts allocations).
constexpr double kSanitizerResidentLimitMiB = 640;

struct SoakSettings {
    size_t channels = 8;
    uint64_t runMs = 60000;
    bool faults = true;
    uint32_t seed = 0;
    uint16_t width = 320, height = 240;
    uint16_t fps = 5;
    uint16_t quality = 60;
    double residentLimitMiB =
        velmora::platform::UnderSanitizer() ? kSanitizerResidentLimitMiB : kResidentGrowthLimitMiB;
    double heapLimitMiB = kHeapGrowthLimitMiB;
};

struct Camera {
    int streamType = 1;
    std::unique_ptr<camsim::CameraSimulator> sim;
    std::unique_ptr<CheckingSink> sink;
    std::unique_ptr<ChannelSettings> settings;
    std::unique_ptr<DriverSession> session;
    int faultRule = 0;  // id of the simulator rule of the current fault, 0: none
    bool switchFailed = false;
};

bool ParseSoak(const Options& options, SoakSettings* s, std::string* error) {
    const long channels = options.GetInt("channels", 8);
    if (channels < 1 || channels > 64) {
        *error = "--channels must be between 1 and 64";
        return false;
    }
    s->channels = static_cast<size_t>(channels);
    if (!RunDurationMs(options, 60000, &s->runMs, error)) return false;
    const std::string faults = options.Get("faults", "random");
    if (faults != "random" && faults != "none") {
        *error = "--faults takes random or none";
        return false;
    }
    s->faults = faults == "random";
    // Without a seed each run differs; the seed is printed so that a failing run can be repeated.
    s->seed = options.Has("seed") ? static_cast<uint32_t>(options.GetInt("seed", 1))
                                  : static_cast<uint32_t>(std::random_device{}());
    if (options.Has("size") && !ParseSize(options.Get("size"), &s->width, &s->height)) {
        *error = "--size must look like 320x240";
        return false;
    }
    const long fps = options.GetInt("fps", 5);
    if (fps < 1 || fps > 30) {
        *error = "--fps must be between 1 and 30";
        return false;
    }
    s->fps = static_cast<uint16_t>(fps);
    return NumberOption(options, "max-rss-growth-mib", s->residentLimitMiB, &s->residentLimitMiB, error) &&
           NumberOption(options, "max-heap-growth-mib", kHeapGrowthLimitMiB, &s->heapLimitMiB, error);
}

// Ends the camera's open connections at once; the port listens again right after.
bool SwitchOn(Camera& camera) {
    for (uint32_t attempt = 0; attempt < kSwitchOnAttempts; ++attempt) {
        if (camera.sim->SetCameraOff(false)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kSwitchOnRetryMs));
    }
    camera.switchFailed = true;
    return false;
}

bool DropConnections(Camera& camera) {
    camera.sim->SetCameraOff(true);
    return SwitchOn(camera);
}

void BeginFault(Camera& camera, const FaultRecord& r) {
    camsim::FaultRule rule;
    switch (r.kind) {
        case FaultKind::kCameraOff: camera.sim->SetCameraOff(true); return;
        case FaultKind::kStall: rule = camsim::FaultRule::Stall(kStreamPath, kStallMs, r.parameter); break;
        case FaultKind::kCloseMidBody: rule = camsim::FaultRule::CloseAfter(kStreamPath, r.parameter); break;
        case FaultKind::kUnauthorized: rule = camsim::FaultRule::Status(kStreamPath, 401); break;
        case FaultKind::kGarbage: rule = camsim::FaultRule::Garbage(kStreamPath, r.parameter); break;
        case FaultKind::kTrickle: rule = camsim::FaultRule::Trickle(kStreamPath, r.parameter, kTrickleIntervalMs); break;
    }
    camera.faultRule = camera.sim->Faults().Add(rule);
    // Rules meet new requests only: the running stream ends so that the next one is faulted.
    DropConnections(camera);
}

void EndFault(Camera& camera, const FaultRecord& r) {
    if (r.kind == FaultKind::kCameraOff) {
        SwitchOn(camera);
        return;
    }
    camera.sim->Faults().Remove(camera.faultRule);
    camera.faultRule = 0;
    // A stalled or trickled stream must not outlive its fault.
    DropConnections(camera);
}

std::vector<uint64_t> PictureCounts(const std::vector<Camera>& cameras) {
    std::vector<uint64_t> counts;
    for (const Camera& c : cameras) counts.push_back(c.sink->Pictures());
    return counts;
}

uint64_t Total(const std::vector<uint64_t>& counts) {
    uint64_t total = 0;
    for (uint64_t n : counts) total += n;
    return total;
}

// Waits (bounded) until every channel has delivered `more` pictures beyond `from`.
bool WaitForAll(const std::vector<Camera>& cameras, const std::vector<uint64_t>& from, uint64_t more, uint32_t timeoutMs,
                std::vector<bool>* delivered) {
    const uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
    delivered->assign(cameras.size(), false);
    for (;;) {
        bool all = true;
        for (size_t i = 0; i < cameras.size(); ++i) {
            (*delivered)[i] = cameras[i].sink->Pictures() >= from[i] + more;
            all = all && (*delivered)[i];
        }
        if (all) return true;
        if (MonotonicMilliseconds() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    }
}

std::string Progress(uint64_t elapsedMs, const std::vector<Camera>& cameras, const FaultPlan& plan) {
    char text[200];
    std::snprintf(text, sizeof text, "soak: [%4llus] %llu pictures, %zu fault(s) begun, %zu survived, rss %s",
                  static_cast<unsigned long long>(elapsedMs / 1000),
                  static_cast<unsigned long long>(Total(PictureCounts(cameras))), plan.Records().size(),
                  plan.Count(FaultOutcome::kSurvived), MiB(velmora::platform::ResidentMemoryBytes()).c_str());
    return text;
}

}  // namespace

int RunSoak(const Options& options, std::ostream& out) {
    SoakSettings s;
    std::string error;
    if (!ParseSoak(options, &s, &error)) {
        out << "soak: " << error << "\n";
        return 2;
    }
    const uint64_t warmUpMs = std::min<uint64_t>(15000, s.runMs / 4);
    FaultTiming timing;
    // The warm-up runs without faults, so that the memory readings after it and at the end are both
    // taken with every channel streaming (a channel between connections holds less).
    timing.firstBeginMs = warmUpMs + kTickMs;
    if (s.faults && s.runMs > timing.firstBeginMs + timing.maxDurationMs)
        timing.lastBeginMs = s.runMs - timing.maxDurationMs;  // every fault ends within the run
    out << "soak: " << s.channels << " channel(s), " << s.width << "x" << s.height << " at " << s.fps
        << " pictures/s, MJPEG and MxPEG alternating, " << static_cast<double>(s.runMs) / 1000.0 << " s, faults "
        << (s.faults ? "random" : "none") << ", seed " << s.seed << "\n";
    if (s.faults && timing.lastBeginMs == 0) out << "soak: the run is too short for any fault to begin and end\n";

    std::vector<Camera> cameras(s.channels);
    for (size_t i = 0; i < cameras.size(); ++i) {
        camsim::SimulatorOptions simOptions;
        simOptions.seed = s.seed + static_cast<uint32_t>(i);
        cameras[i].sim = std::make_unique<camsim::CameraSimulator>(simOptions);
        if (!cameras[i].sim->Start()) {
            out << "soak: a camera simulator could not listen on 127.0.0.1\n";
            return 1;
        }
        cameras[i].streamType = i % 2 == 0 ? 1 : 2;
        cameras[i].sink = std::make_unique<CheckingSink>(1, s.width, s.height);
        cameras[i].settings =
            std::make_unique<ChannelSettings>(s.width, s.height, static_cast<uint16_t>(1000 / s.fps), s.quality);
    }
    const uint32_t threadsBefore = velmora::platform::ThreadCount();
    for (Camera& c : cameras) {
        CameraConfig config;
        config.address = c.sim->Host();
        config.port = c.sim->Port();
        config.streamType = c.streamType;
        c.session = std::make_unique<DriverSession>(config);
        if (!c.session->Open(&error, options.Get("module", DriverModule::DefaultPath())) ||
            !c.session->Video()->StartChannel(0, c.sink.get(), c.settings.get())) {
            out << "soak: " << (error.empty() ? "StartChannel was refused" : error) << "\n";
            return 1;
        }
    }
    std::vector<bool> delivered;
    if (!WaitForAll(cameras, std::vector<uint64_t>(cameras.size(), 0), 1, kFirstPicturesMs, &delivered)) {
        out << "soak: a channel delivered no picture within " << kFirstPicturesMs / 1000 << " s\n";
        return 1;
    }

    // The run: faults begin and end as the plan says; progress every few seconds.
    FaultPlan plan(s.seed, cameras.size(), timing);
    const uint64_t start = MonotonicMilliseconds();
    uint64_t rssAfterWarmUp = 0, heapAfterWarmUp = 0, nextProgress = kProgressEveryMs;
    for (uint64_t now = 0;; now = MonotonicMilliseconds() - start) {
        for (const FaultAction& action : plan.Step(now, PictureCounts(cameras))) {
            const FaultRecord& r = plan.Records()[action.record];
            if (action.type == FaultAction::Type::kBegin)
                BeginFault(cameras[r.channel], r);
            else
                EndFault(cameras[r.channel], r);
        }
        // Heap readings vary with the pictures in flight: the largest of the warm-up's last seconds.
        if (now + kHeapWindowMs >= warmUpMs && now < warmUpMs)
            heapAfterWarmUp = std::max(heapAfterWarmUp, velmora::platform::HeapBytesInUse());
        if (rssAfterWarmUp == 0 && now >= warmUpMs) rssAfterWarmUp = velmora::platform::ResidentMemoryBytes();
        if (now >= nextProgress) {
            out << Progress(now, cameras, plan) << "\n" << std::flush;
            nextProgress += kProgressEveryMs;
        }
        // Past the run's end, only the verdicts of the last faults are awaited (the plan bounds them).
        if (now >= s.runMs && plan.Settled()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    }
    const uint64_t runSeconds = (MonotonicMilliseconds() - start) / 1000;
    // Every channel still delivers at the end, faulted or not.
    const std::vector<uint64_t> atEnd = PictureCounts(cameras);
    uint64_t heapEnd = velmora::platform::HeapBytesInUse();
    const bool allLive = WaitForAll(cameras, atEnd, timing.resumePictures, timing.recoveryMs, &delivered);
    heapEnd = std::max(heapEnd, velmora::platform::HeapBytesInUse());
    const uint64_t rssEnd = velmora::platform::ResidentMemoryBytes();

    // Close as a host does, then look for what was left behind.
    int outstanding = 0;
    std::vector<size_t> online(cameras.size());
    for (size_t i = 0; i < cameras.size(); ++i) {
        online[i] = cameras[i].session->Log().Count(" is online");
        cameras[i].session->Close();
        outstanding += cameras[i].session->Allocator().Outstanding();
    }
    const uint64_t threadsDeadline = MonotonicMilliseconds() + kThreadsBackMs;
    uint32_t threadsAfter = velmora::platform::ThreadCount();
    while (threadsAfter > threadsBefore && MonotonicMilliseconds() < threadsDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
        threadsAfter = velmora::platform::ThreadCount();
    }

    // Report.
    uint64_t pictures = 0, checked = 0, failures = 0, losses = 0, backOnlineTotal = 0, reconnects = 0;
    std::string firstFailure;
    out << "soak: per channel: pictures, decode failures, signal-lost reports, back-online reports, reconnects (stream\n"
           "      requests after the first, as the camera saw them), faults survived/injected\n";
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Camera& c = cameras[i];
        size_t injected = 0, survived = 0;
        for (const FaultRecord& r : plan.Records())
            if (r.channel == i) {
                ++injected;
                survived += r.outcome == FaultOutcome::kSurvived;
            }
        // The first online report is the start, not a recovery.
        const size_t backOnline = online[i] > 0 ? online[i] - 1 : 0;
        const size_t channelStreams = c.sim->Requests().Count(kStreamPath);
        const size_t channelReconnects = channelStreams > 0 ? channelStreams - 1 : 0;
        char line[200];
        std::snprintf(line, sizeof line, "  ch%-2zu %-5s %7llu pictures %3llu failed %3llu lost %3zu online %3zu reconnects %2zu/%zu faults%s\n",
                      i, c.streamType == 1 ? "MJPEG" : "MxPEG", static_cast<unsigned long long>(c.sink->Pictures()),
                      static_cast<unsigned long long>(c.sink->DecodeFailures()),
                      static_cast<unsigned long long>(c.sink->SignalLosses()), backOnline, channelReconnects, survived,
                      injected, delivered[i] ? "" : "  NOT DELIVERING AT THE END");
        out << line;
        pictures += c.sink->Pictures();
        checked += c.sink->Checked();
        failures += c.sink->DecodeFailures();
        losses += c.sink->SignalLosses();
        backOnlineTotal += backOnline;
        reconnects += channelReconnects;
        if (firstFailure.empty()) firstFailure = cameras[i].sink->FirstFailure();
    }
    size_t kinds[kFaultKindCount] = {};
    uint64_t slowestResumeMs = 0;
    for (const FaultRecord& r : plan.Records()) {
        ++kinds[static_cast<size_t>(r.kind)];
        if (r.outcome == FaultOutcome::kSurvived) slowestResumeMs = std::max(slowestResumeMs, r.resumedAfterMs);
    }
    const size_t neverRecovered = plan.Count(FaultOutcome::kNeverRecovered);
    out << "soak: ran " << runSeconds << " s; pictures delivered " << pictures << ", decode-checked " << checked
        << ", failed " << failures << "\n";
    out << "soak: faults injected " << plan.Records().size() << " (";
    for (size_t k = 0; k < kFaultKindCount; ++k)
        out << (k ? ", " : "") << FaultKindName(static_cast<FaultKind>(k)) << " " << kinds[k];
    out << "), survived " << plan.Count(FaultOutcome::kSurvived) << ", never recovered " << neverRecovered
        << ", slowest recovery " << slowestResumeMs << " ms\n";
    out << "soak: signal-lost reports " << losses << ", back-online reports " << backOnlineTotal << ", reconnects "
        << reconnects << "\n";
    const uint64_t peak = velmora::platform::PeakResidentMemoryBytes();
    out << "soak: resident memory after warm-up (" << warmUpMs / 1000 << " s) " << MiB(rssAfterWarmUp) << ", at the end "
        << MiB(rssEnd) << ", after close " << MiB(velmora::platform::ResidentMemoryBytes()) << ", peak " << MiB(peak)
        << " (growth limit " << s.residentLimitMiB << " MiB)\n";
    out << "soak: heap in use after warm-up " << MiB(heapAfterWarmUp) << ", at the end " << MiB(heapEnd)
        << ", after close " << MiB(velmora::platform::HeapBytesInUse()) << " (growth limit " << s.heapLimitMiB << " MiB)\n";
    out << "soak: threads before open " << threadsBefore << ", after close " << threadsAfter << "\n";
    out << "soak: samples outstanding after close " << outstanding << "\n";

    std::vector<std::string> problems;
    if (failures) problems.push_back(std::to_string(failures) + " picture(s) failed the decode check; first: " + firstFailure);
    if (neverRecovered) problems.push_back(std::to_string(neverRecovered) + " fault(s) after which the channel never delivered again");
    if (!allLive) problems.push_back("a channel no longer delivers at the end of the run");
    if (outstanding) problems.push_back(std::to_string(outstanding) + " sample(s) not released after Close");
    if (threadsAfter > threadsBefore) problems.push_back("threads left running after Close");
    if (!MemoryGrowthAcceptable(rssAfterWarmUp, rssEnd, static_cast<uint64_t>(s.residentLimitMiB * kMiB)))
        problems.push_back("resident memory grew from " + MiB(rssAfterWarmUp) + " to " + MiB(rssEnd));
    if (!MemoryGrowthAcceptable(heapAfterWarmUp, heapEnd, static_cast<uint64_t>(s.heapLimitMiB * kMiB)))
        problems.push_back("heap in use grew from " + MiB(heapAfterWarmUp) + " to " + MiB(heapEnd));
    for (const Camera& c : cameras)
        if (c.switchFailed) problems.push_back("a simulator could not listen again after switching it on (harness fault)");
    for (const std::string& p : problems) out << "soak: FAILED: " << p << "\n";
    if (problems.empty()) out << "soak: passed\n";
    return problems.empty() ? 0 : 1;
}

}  // namespace quillon::host

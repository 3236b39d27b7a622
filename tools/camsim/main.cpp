// quillon-camsim: the camera simulator on the command line. Prints its URL, serves until SIGINT or
// SIGTERM (or "quit"), and takes commands on standard input ("input 0 1", "off", "on", "status").
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "camsim/CameraSimulator.h"
#include "platform/Signals.h"

namespace {

constexpr size_t kMaxCommandLine = 1024;
constexpr uint32_t kWakeIntervalMs = 500;

const char kUsage[] =
    "usage: quillon-camsim [--port N] [--auth none|basic|digest|both] [--user U --password P]\n"
    "                      [--seed S] [--inputs N] [--outputs N] [--unpaced]\n";

const char kCommands[] =
    "commands: input <index> <0|1> | inputs <bits, e.g. 10> | off | on | status | quit\n";

bool ParseUnsigned(const char* text, unsigned long max, unsigned long* value) {
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 10);
    if (!*text || *end || errno || v > max || text[0] == '-') return false;
    *value = v;
    return true;
}

bool ParseArguments(int argc, char** argv, camsim::SimulatorOptions* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long v = 0;
        if (a == "--unpaced") {
            o->paced = false;
            continue;
        }
        if (!next) return false;
        ++i;
        if (a == "--port" && ParseUnsigned(next, 65535, &v)) o->port = static_cast<uint16_t>(v);
        else if (a == "--seed" && ParseUnsigned(next, 0xFFFFFFFFul, &v)) o->seed = static_cast<uint32_t>(v);
        else if (a == "--inputs" && ParseUnsigned(next, camsim::kMaxInputs, &v)) o->inputs = static_cast<unsigned>(v);
        else if (a == "--outputs" && ParseUnsigned(next, camsim::kMaxOutputs, &v)) o->outputs = static_cast<unsigned>(v);
        else if (a == "--user") o->auth.user = next;
        else if (a == "--password") o->auth.password = next;
        else if (a == "--auth" && !std::strcmp(next, "none")) o->auth.mode = camsim::AuthMode::None;
        else if (a == "--auth" && !std::strcmp(next, "basic")) o->auth.mode = camsim::AuthMode::Basic;
        else if (a == "--auth" && !std::strcmp(next, "digest")) o->auth.mode = camsim::AuthMode::Digest;
        else if (a == "--auth" && !std::strcmp(next, "both")) o->auth.mode = camsim::AuthMode::Both;
        else return false;
    }
    return true;
}

void PrintStatus(camsim::CameraSimulator& sim) {
    camsim::CameraModel& c = sim.Camera();
    camsim::ImageSettings image = c.Image();
    camsim::PtzState ptz = c.Ptz();
    auto bits = [](const std::vector<bool>& v) {
        std::string s;
        for (bool b : v) s += b ? '1' : '0';
        return s.empty() ? std::string("-") : s;
    };
    std::printf("size %ux%u quality %d motionjpeg %s | inputs %s outputs %s | pan %d tilt %d zoom %d | "
                "requests %zu pictures %llu\n",
                image.width, image.height, image.quality, image.motionjpeg.c_str(), bits(c.Inputs()).c_str(),
                bits(c.Outputs()).c_str(), ptz.pan, ptz.tilt, ptz.zoom, sim.Requests().Snapshot().size(),
                static_cast<unsigned long long>(sim.Streams().PicturesSent()));
}

// Runs one command line; false for "quit".
bool RunCommand(camsim::CameraSimulator& sim, const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb.empty()) return true;
    if (verb == "quit" || verb == "exit") return false;
    unsigned index = 0, state = 0;
    std::string text;
    if (verb == "input" && (in >> index >> state) && index < sim.Camera().InputCount() && state <= 1) {
        sim.SetInput(index, state == 1);
    } else if (verb == "inputs" && (in >> text) && text.find_first_not_of("01") == std::string::npos) {
        std::vector<bool> states;
        for (char ch : text) states.push_back(ch == '1');
        sim.SetInputs(states);
    } else if (verb == "off") {
        sim.SetCameraOff(true);
    } else if (verb == "on") {
        if (!sim.SetCameraOff(false)) std::fprintf(stderr, "quillon-camsim: cannot listen again on port %u\n", sim.Port());
    } else if (verb != "status") {
        std::fputs(kCommands, stderr);
        return true;
    }
    PrintStatus(sim);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    camsim::SimulatorOptions options;
    if (!ParseArguments(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!velmora::platform::InstallTerminationHandler()) {
        std::fputs("quillon-camsim: cannot install the termination handler\n", stderr);
        return 1;
    }
    camsim::CameraSimulator sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "quillon-camsim: cannot listen on %s port %u\n", options.address.c_str(), options.port);
        return 1;
    }
    std::printf("%s\n", sim.Url().c_str());
    std::fflush(stdout);
    std::fputs(kCommands, stderr);

    std::string pending;
    bool watchInput = true;
    for (;;) {
        auto event = velmora::platform::WaitForTerminationOrInput(kWakeIntervalMs, watchInput);
        if (event == velmora::platform::ConsoleEvent::Terminate) break;
        if (event == velmora::platform::ConsoleEvent::InputClosed) watchInput = false;
        if (event != velmora::platform::ConsoleEvent::InputReady) continue;
        char buffer[256];
        long n = velmora::platform::ReadStandardInput(buffer, sizeof(buffer));
        if (n <= 0) {
            watchInput = false;  // end of input: keep serving until a signal
            continue;
        }
        pending.append(buffer, static_cast<size_t>(n));
        bool quit = false;
        for (size_t nl; !quit && (nl = pending.find('\n')) != std::string::npos;) {
            quit = !RunCommand(sim, pending.substr(0, nl));
            pending.erase(0, nl + 1);
        }
        if (quit) break;
        if (pending.size() > kMaxCommandLine) pending.clear();  // an overlong line is dropped
        std::fflush(stdout);
    }
    sim.Stop();
    std::printf("quillon-camsim: stopped\n");
    return 0;
}

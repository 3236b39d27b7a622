// The reference host's subcommands. Each returns the process exit code and prints what it does;
// errors say what went wrong.
#pragma once
#include <climits>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "host/HostObjects.h"

namespace quillon::host {

struct Options {
    std::vector<std::string> positional;
    std::map<std::string, std::string> flags;  // "--name value" and bare "--name" (value "1")

    bool Has(const std::string& name) const { return flags.count(name) != 0; }
    std::string Get(const std::string& name, const std::string& fallback = "") const;
    long GetInt(const std::string& name, long fallback) const;
};

// Parses arguments after the subcommand; false with a message on a malformed option.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// Time-out of the host's own look at the camera before a command opens a driver (--check-timeout-ms).
uint32_t CheckTimeoutMs(const Options& options);

// Builds the camera configuration from the URL and options, with the stored parameters.
bool BuildCameraConfig(const std::string& url, const Options& options, CameraConfig* config, std::string* error);

int RunRecord(const Options& options, std::ostream& out);
int RunIo(const Options& options, std::ostream& out);
int RunProbe(const Options& options, std::ostream& out);
int RunPtz(const Options& options, std::ostream& out);
int RunDemo(const Options& options, std::ostream& out);
int RunSoak(const Options& options, std::ostream& out);
int RunLoad(const Options& options, std::ostream& out);
int RunView(const Options& options, std::ostream& out);
// Opens a driver for the camera and serves its live view (--listen, picture options as record)
// for that many seconds, or until interrupted when seconds is 0. Used by view and demo --view.
int ServeLiveView(const CameraConfig& config, const Options& options, const std::string& modulePath, long seconds,
                  std::ostream& out);
struct RecordSettings;
// Picture size, rate, quality, duration and output folder of record (and view) from the options.
bool RecordSettingsFrom(const Options& options, RecordSettings* settings, std::string* error);
// The replay camera that load starts as its child process.
int RunReplayCamera(const Options& options, std::ostream& out);

void PrintUsage(std::ostream& out);

class DriverModule;
class CapabilityResult;
// Runs a capability query against the camera and waits for its outcome (bounded).
bool ProbeCamera(DriverModule& module, const CameraConfig& camera, uint8_t videoStandard, CapabilityResult* result,
                 std::string* error);
// One PTZ action ("move right 8", "preset add Door", ...): the PTZ API's result code, or
// kUnknownPtzAction. Only "preset list" prints (the list).
constexpr int32_t kUnknownPtzAction = INT32_MIN;
int32_t ExecutePtzAction(velmora::IIPPTZApiEx* api, const std::vector<std::string>& words, std::ostream& out);
// The same, printing the result code in words; 0 when done, 1 otherwise, 2 for an unknown action.
int RunPtzAction(velmora::IIPPTZApiEx* api, const std::vector<std::string>& words, std::ostream& out);
const char* PtzResultText(int32_t code);
// The probe's findings as a readable table.
void PrintProbe(const CameraConfig& camera, const CapabilityResult& result, std::ostream& out);

}  // namespace quillon::host

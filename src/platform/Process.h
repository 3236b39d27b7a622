// Child processes for tests and tools that drive an outside program (a reference web server,
// the module's host): start with an argument vector, wait with a bound, stop politely then hard.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // stops a still running child (Stop with a short grace time)
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program path (not searched in PATH). Standard output and error go to
    // outputPath when given (appended), else they are discarded. False when it cannot start.
    bool Start(const std::vector<std::string>& argv, const std::string& outputPath = {});
    bool Running();
    // Waits for the child to end within the time-out; true once it has ended.
    bool Wait(uint32_t timeoutMs);
    // Asks the child to end, waits up to graceMs, then forces it; true once it has ended.
    bool Stop(uint32_t graceMs);
    int ExitCode() const { return exitCode_; }
    // CPU time the running child has used so far, all its threads, in nanoseconds; false when it
    // has ended or the clock cannot be read. For benchmarks that set a program beside the module.
    bool CpuTimeNs(uint64_t* ns) const;

private:
    long pid_ = -1;
    int exitCode_ = -1;
};

}  // namespace velmora::platform

// POSIX child processes: posix_spawn, polled non-blocking waits, SIGTERM then SIGKILL.
#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform/Sync.h"
#include "platform/System.h"

extern char** environ;

namespace velmora::platform {

namespace {
// Poll step while waiting for a child; waitpid has no time-out of its own.
constexpr uint32_t kWaitStepMs = 10;
constexpr uint32_t kDestructorGraceMs = 2000;
}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0) Stop(kDestructorGraceMs);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& outputPath) {
    if (pid_ > 0 || argv.empty()) return false;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const char* out = outputPath.empty() ? "/dev/null" : outputPath.c_str();
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    pid_ = pid;
    exitCode_ = -1;
    return true;
}

bool ChildProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t rc = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (rc == 0) return true;
    if (rc == pid_) exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return false;
}

bool ChildProcess::Wait(uint32_t timeoutMs) {
    uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
    while (Running()) {
        if (MonotonicMilliseconds() >= deadline) return false;
        SleepMilliseconds(kWaitStepMs);
    }
    return true;
}

bool ChildProcess::Stop(uint32_t graceMs) {
    if (!Running()) return true;
    kill(static_cast<pid_t>(pid_), SIGTERM);
    if (Wait(graceMs)) return true;
    kill(static_cast<pid_t>(pid_), SIGKILL);
    return Wait(graceMs);
}

bool ChildProcess::CpuTimeNs(uint64_t* ns) const {
    clockid_t clock;
    timespec t{};
    if (pid_ <= 0 || clock_getcpuclockid(static_cast<pid_t>(pid_), &clock) != 0 || clock_gettime(clock, &t) != 0)
        return false;
    *ns = static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
    return true;
}

}  // namespace velmora::platform

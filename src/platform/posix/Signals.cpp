// POSIX termination requests through a self-pipe written by the signal handler, and poll-bounded
// waits on it and on standard input.
#include "platform/Signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/System.h"

namespace velmora::platform {

namespace {

volatile sig_atomic_t g_terminate = 0;
int g_pipe[2] = {-1, -1};

void OnTerminate(int) {
    int saved = errno;
    g_terminate = 1;
    if (g_pipe[1] >= 0) {
        char byte = 1;
        // Only async-signal-safe calls here; a full pipe already signals the request.
        ssize_t ignored = write(g_pipe[1], &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

}  // namespace

bool InstallTerminationHandler() {
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

bool TerminationRequested() { return g_terminate != 0; }

ConsoleEvent WaitForTerminationOrInput(uint32_t timeoutMs, bool watchInput) {
    uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
    for (;;) {
        if (g_terminate) return ConsoleEvent::Terminate;
        pollfd fds[2] = {{g_pipe[0], POLLIN, 0}, {watchInput ? STDIN_FILENO : -1, POLLIN, 0}};
        uint64_t now = MonotonicMilliseconds();
        int wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
        int rc = poll(fds, 2, wait);
        if (rc < 0 && errno == EINTR) continue;
        if (g_terminate) return ConsoleEvent::Terminate;
        if (rc <= 0) return rc == 0 ? ConsoleEvent::TimedOut : ConsoleEvent::InputClosed;
        if (fds[1].revents & POLLIN) return ConsoleEvent::InputReady;
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return ConsoleEvent::InputClosed;
        if (MonotonicMilliseconds() >= deadline) return ConsoleEvent::TimedOut;
    }
}

long ReadStandardInput(char* buffer, size_t size) {
    for (;;) {
        ssize_t n = read(STDIN_FILENO, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) return -1;
    }
}

}  // namespace velmora::platform

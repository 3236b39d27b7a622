// Shell command runner over popen.
#include "Process.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

namespace quillon::test {

int RunCommand(const std::string& command, std::string* output, size_t maxBytes) {
    if (output) output->clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        if (output && output->size() < maxBytes) output->append(buffer, std::min(n, maxBytes - output->size()));
    }
    int status = ::pclose(pipe);
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ProgramAvailable(const std::string& program) {
    return RunCommand("command -v " + ShellQuote(program) + " >/dev/null 2>&1", nullptr) == 0;
}

std::string ShellQuote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

}  // namespace quillon::test

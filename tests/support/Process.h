// Runs a shell command for tests that inspect build products with system tools (nm).
#pragma once
#include <string>

namespace quillon::test {

// Runs the command through the shell and collects its standard output (at most maxBytes).
// Returns the exit status, or -1 when the command could not be run at all.
int RunCommand(const std::string& command, std::string* output, size_t maxBytes = 16u << 20);

// True when the shell finds the program on the PATH.
bool ProgramAvailable(const std::string& program);

// Quotes a word for the shell.
std::string ShellQuote(const std::string& word);

}  // namespace quillon::test

// Termination requests (SIGINT, SIGTERM; later console control events) and line input for the
// command-line tools, which serve until interrupted and read commands from standard input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora::platform {

// Routes interrupt and termination requests to a flag instead of ending the process. Call once,
// early in main; false when the handlers cannot be installed.
bool InstallTerminationHandler();
// True once a termination request arrived after InstallTerminationHandler.
bool TerminationRequested();

enum class ConsoleEvent { Terminate, InputReady, InputClosed, TimedOut };

// Waits up to timeoutMs for a termination request or, when watchInput, for standard input to
// become readable (InputClosed once it reached its end or failed).
ConsoleEvent WaitForTerminationOrInput(uint32_t timeoutMs, bool watchInput);

// Reads what standard input has ready: >0 bytes, 0 end of input, -1 error.
long ReadStandardInput(char* buffer, size_t size);

}  // namespace velmora::platform

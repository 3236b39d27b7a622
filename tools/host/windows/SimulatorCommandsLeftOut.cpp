// The Windows host's answer to the commands that need the in-process camera simulator (demo,
// soak), a replay camera in a child process (load, replay-camera) or the HTTP server library of the
// live view (view): they are not built here.
#include <ostream>

#include "host/Commands.h"

namespace quillon::host {

namespace {
int LeftOut(const char* command, std::ostream& out) {
    out << command << ": not part of the Windows build; use the Linux "
                      "build, or run probe, record, io or ptz against a camera\n";
    return 2;
}
}  // namespace

int RunDemo(const Options&, std::ostream& out) { return LeftOut("demo", out); }
int RunSoak(const Options&, std::ostream& out) { return LeftOut("soak", out); }
int RunLoad(const Options&, std::ostream& out) { return LeftOut("load", out); }
int RunReplayCamera(const Options&, std::ostream& out) { return LeftOut("replay-camera", out); }
int RunView(const Options&, std::ostream& out) { return LeftOut("view", out); }

}  // namespace quillon::host

// quillon-host: loads the capture driver module as a host does and drives it from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "host/Commands.h"

int main(int argc, char** argv) {
    using namespace quillon::host;
    if (argc < 2) {
        PrintUsage(std::cerr);
        return 2;
    }
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    Options options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) {
        std::cerr << command << ": " << error << "\n";
        return 2;
    }
    if (command == "record") return RunRecord(options, std::cout);
    if (command == "io") return RunIo(options, std::cout);
    if (command == "view") return RunView(options, std::cout);
    if (command == "probe") return RunProbe(options, std::cout);
    if (command == "ptz") return RunPtz(options, std::cout);
    if (command == "demo") return RunDemo(options, std::cout);
    if (command == "soak") return RunSoak(options, std::cout);
    if (command == "load") return RunLoad(options, std::cout);
    if (command == "replay-camera") return RunReplayCamera(options, std::cout);
    if (command == "help" || command == "--help") {
        PrintUsage(std::cout);
        return 0;
    }
    std::cerr << "unknown command '" << command << "'\n";
    PrintUsage(std::cerr);
    return 2;
}

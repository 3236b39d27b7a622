// Compiles host objects against the installed headers and checks that the module the package names
// is where it says.
#include <cstdio>
#include <filesystem>

#include "quillon/IPCapture.h"

namespace ipc = velmora::ipcapture;

// A host's video sink: the smallest object a host must write to receive pictures.
class CountingSink : public ipc::IVideoSink {
public:
    bool DeliverSample(ipc::IMediaSample* sample) override { return sample && ++pictures > 0; }
    void OnSignalLost() override {}
    unsigned pictures = 0;
};

int main() {
    CountingSink sink;
    ipc::IVideoSink* asHostObject = &sink;  // the module sees the host's object only through this
    std::error_code ec;
    if (!std::filesystem::is_regular_file(QUILLON_MODULE_FILE, ec)) {
        std::fprintf(stderr, "consumer: no module at %s\n", QUILLON_MODULE_FILE);
        return 1;
    }
    std::printf("consumer: headers compile, module at %s, JPEG format code 0x%08X\n", QUILLON_MODULE_FILE,
                static_cast<unsigned>(ipc::kFormatJpeg));
    asHostObject->OnSignalLost();
    return 0;
}

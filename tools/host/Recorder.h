// Runs live video channels of an opened driver for a while, with a progress line and a summary.
#pragma once
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/HostObjects.h"
#include "host/Session.h"

namespace quillon::host {

struct RecordSettings {
    uint16_t width = 640, height = 480;
    uint16_t interval = 100;  // ms between pictures
    uint16_t quality = 80;
    uint32_t seconds = 5;
    std::string outDir;       // empty: write no files
    uint32_t keep = 3;        // pictures written per channel
    std::string label;        // prefix of progress lines and file names
};

struct ChannelTotals {
    uint64_t pictures = 0, bytes = 0, decodeErrors = 0, signalLosses = 0;
    int32_t state = 2;
};

class Recorder {
public:
    Recorder(DriverSession& session, RecordSettings settings);
    ~Recorder();
    // Starts channels 0..count-1; false with a message if a start is refused.
    bool Start(uint32_t count, std::string* error);
    // One progress line: pictures/s, kB/s and state per channel since the last call.
    std::string Progress(double elapsedSeconds);
    void Stop();
    std::vector<ChannelTotals> Totals();
    std::string Summary(double seconds);

private:
    struct Channel;
    DriverSession& session_;
    RecordSettings settings_;
    std::vector<std::unique_ptr<Channel>> channels_;
};

}  // namespace quillon::host

// A camera for load runs that costs little: pictures are encoded once at start-up and replayed to
// every stream at the requested rate, so a load figure measures the module, not the camera. Runs in
// a child process (quillon-host replay-camera), so none of its CPU time is charged to the host.
//
// Answers every request that is not a live stream with "OK" (the image-control settings), a Motion-JPEG
// stream request with multipart JPEG parts, an MxPEG one with MxPEG frames (a full frame, then frames
// with the changed tiles; the sequence loops on a full frame). One thread per connection.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/Commands.h"
#include "platform/Socket.h"

namespace quillon::host {

struct ReplaySettings {
    uint16_t width = 640, height = 480;
    uint16_t fps = 10;
    uint16_t quality = 75;
};

class ReplayCamera {
public:
    explicit ReplayCamera(ReplaySettings settings) : settings_(settings) {}
    // Encodes the pictures to replay; false when encoding fails.
    bool Record();
    // Listens on 127.0.0.1, ephemeral port.
    bool Listen();
    uint16_t Port() const { return listener_.LocalPort(); }
    // Serves connections until the monotonic deadline; every connection ends by then.
    void Serve(uint64_t deadlineMs);
    // Sizes of what is replayed, for the load report.
    std::string Describe() const;

private:
    void ServeConnection(velmora::platform::TcpSocket socket, uint64_t deadlineMs) const;
    void Stream(velmora::platform::TcpSocket& socket, bool mxpeg, uint64_t deadlineMs) const;

    ReplaySettings settings_;
    std::vector<std::vector<uint8_t>> mjpegParts_;   // multipart parts, ready to send
    std::vector<std::vector<uint8_t>> mxpegFrames_;  // frame 0 full with tables, the rest partial
    velmora::platform::TcpSocket listener_;
};

}  // namespace quillon::host

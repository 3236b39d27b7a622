// The live view of `quillon-host view`: an opened driver's channels, inputs, outputs and PTZ served
// to a browser by the host itself on one page, and each channel's pictures as a stable multipart
// JPEG stream (/channel/N.mjpg) for other software.
//
// Paths: "/" the page; "/status" the state as JSON; "/channel/N.mjpg" the live stream;
// "/channel/N.jpg" the latest picture; POST "/output?index=I&state=1|2"; POST
// "/ptz?channel=C&action=..." (move dir speed, stop, zoomin, zoomout, unzoom, center x y, areazoom
// x y zoom, preset-goto/-add/-remove name).
//
// Threading: Start, Tick and Stop on the host's main thread; pictures arrive on the module's
// capture threads; requests are served on the HTTP server's connection threads. PTZ and output
// calls are serialised by one lock, as a host's UI thread would serialise them.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/HostObjects.h"
#include "host/Recorder.h"
#include "host/Session.h"
#include "httpserver/HttpServer.h"

namespace quillon::host {

constexpr const char* kStreamBoundary = "quillonframe";

class LiveView : public IIOEventSink {
public:
    LiveView(DriverSession& session, uint32_t channels, const RecordSettings& settings, std::string cameraName,
             std::string streamName);
    ~LiveView() override;
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    // Starts the channels, the I/O object and PTZ, then serves on address:port (0: any free port).
    bool Start(const std::string& address, uint16_t port, std::string* error);
    // Once a second: picture rates and channel states for the page.
    void Tick();
    // One line of pictures/s, kB/s and state per channel, as record prints it.
    std::string Progress();
    void Stop();
    uint16_t Port() const { return server_ ? server_->Port() : 0; }
    std::string Url() const;

    // IIOEventSink, on the capture threads and the output thread.
    void OnStateChanged(uint32_t index, int32_t state) override;
    void OnFailure() override;

private:
    struct Channel;
    struct PtzChannel {
        uint32_t channel;
        velmora::IIPPTZApiEx* api;
        velmora::PTZ_CAPABILITIES caps;
    };

    void OnPicture(Channel& channel, const Picture& picture);
    void ServePage(const camsim::RequestHead&, camsim::ResponseWriter& w);
    void ServeStatus(camsim::ResponseWriter& w);
    void ServeChannel(const camsim::RequestHead& head, camsim::ResponseWriter& w);
    void ServeStream(Channel& channel, camsim::ResponseWriter& w);
    void ServeOutput(const camsim::RequestHead& head, camsim::ResponseWriter& w);
    void ServePtz(const camsim::RequestHead& head, camsim::ResponseWriter& w);
    std::string PtzJson();

    DriverSession& session_;
    const uint32_t channelCount_;
    RecordSettings settings_;
    const std::string cameraName_, streamName_;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::unique_ptr<camsim::HttpServer> server_;

    std::mutex ioMutex_;  // inputs_, outputs_, ioFailures_
    std::vector<int32_t> inputs_, outputs_;
    uint32_t ioFailures_ = 0;
    bool ioStarted_ = false;

    std::mutex controlMutex_;  // every call of the PTZ API and SetOutput
    std::vector<PtzChannel> ptz_;
    uint64_t lastTick_ = 0;
    std::string address_;
};

}  // namespace quillon::host

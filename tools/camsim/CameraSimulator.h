// The camera simulator as tests, the reference host and the CLI use it: a loopback HTTP server that
// speaks the camera's interface, with live synthetic video, inputs, outputs, PTZ, authentication,
// faults on demand and a log of every request.
//
//   camsim::CameraSimulator sim;             // 127.0.0.1, ephemeral port, no authentication
//   ASSERT_TRUE(sim.Start());
//   std::string url = sim.Url();             // "http://127.0.0.1:<port>"
//   sim.SetInputs({true, false});            // next pictures carry INA=1,INB=0
//   sim.Faults().Add(camsim::FaultRule::Status("/admin/version", 500).Times(1));
//   auto entry = sim.Requests().WaitFor(
//       [](const camsim::LoggedRequest& r) { return r.path == "/control/rotorcgi"; }, 2000);
//   camsim::RgbPicture expected = sim.SourcePicture(k);   // what picture k of a stream shows
//
// Thread-safety: every member may be called from any thread while the simulator runs, except
// Start and Stop, which belong to the owner. Stop (also run by the destructor) is bounded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "httpserver/Authenticator.h"
#include "camsim/CameraModel.h"
#include "camsim/Faults.h"
#include "httpserver/HttpServer.h"
#include "camsim/PictureSource.h"
#include "httpserver/RequestLog.h"
#include "camsim/StreamEndpoints.h"

namespace camsim {

struct SimulatorOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 0;  // 0: ephemeral
    uint32_t seed = 1;
    unsigned inputs = 2;
    unsigned outputs = 1;
    AuthSettings auth;  // no authentication unless a mode is set
    bool paced = true;  // false: streams send pictures as fast as they are read
    size_t maxConnections = 128;
};

class CameraSimulator {
public:
    explicit CameraSimulator(SimulatorOptions options = {});
    ~CameraSimulator();
    CameraSimulator(const CameraSimulator&) = delete;
    CameraSimulator& operator=(const CameraSimulator&) = delete;

    // False when the port cannot be bound.
    bool Start();
    void Stop();
    uint16_t Port() const { return server_.Port(); }
    const std::string& Host() const { return options_.address; }
    std::string Url() const;

    // Authentication asked of every request from now on.
    void SetAuth(AuthMode mode, std::string user = "admin", std::string password = "meinsm");
    void SetInput(unsigned index, bool on) { camera_.SetInput(index, on); }
    void SetInputs(const std::vector<bool>& states) { camera_.SetInputs(states); }
    // Camera switched off: the port refuses connections and open ones are dropped; switching it
    // on again listens on the same port (false when that fails).
    bool SetCameraOff(bool off) { return server_.SetOffline(off); }
    void SetPaced(bool paced) { streams_.SetPaced(paced); }
    // Ends every open connection (live streams included); new requests are served as usual.
    void DropConnections() { server_.DropConnections(); }
    // Pictures that stream faults damaged, as sent.
    DamageLog& Damaged() { return streams_.Damaged(); }

    // Picture k of a stream started now: the current image size and PTZ position.
    RgbPicture SourcePicture(uint64_t k) const;
    // Picture k exactly as the MJPEG stream sends it now (current inputs in its sensor block).
    std::vector<uint8_t> EncodedPicture(uint64_t k) const;

    CameraModel& Camera() { return camera_; }
    StreamEndpoints& Streams() { return streams_; }
    FaultSet& Faults() { return server_.Faults(); }
    RequestLog& Requests() { return server_.Log(); }
    Authenticator& Auth() { return server_.Auth(); }
    HttpServer& Server() { return server_; }

private:
    SimulatorOptions options_;
    CameraModel camera_;
    PictureSource pictures_;
    StreamEndpoints streams_;
    HttpServer server_;  // last: stopped and destroyed before what its handlers use
};

}  // namespace camsim

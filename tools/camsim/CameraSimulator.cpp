// Assembly of the simulator: server, camera state, CGI handlers and streams.
#include "camsim/CameraSimulator.h"

#include "camsim/CameraEndpoints.h"

namespace camsim {

namespace {

ServerOptions ServerOptionsOf(const SimulatorOptions& o) {
    ServerOptions s;
    s.address = o.address;
    s.port = o.port;
    s.maxConnections = o.maxConnections;
    return s;
}

}  // namespace

CameraSimulator::CameraSimulator(SimulatorOptions options)
    : options_(std::move(options)),
      camera_(options_.inputs, options_.outputs),
      pictures_(options_.seed),
      streams_(camera_, pictures_),
      server_(ServerOptionsOf(options_)) {
    server_.Auth().Configure(options_.auth);
    streams_.SetPaced(options_.paced);
    RegisterCameraEndpoints(server_, camera_);
    streams_.Register(server_);
}

CameraSimulator::~CameraSimulator() { Stop(); }

bool CameraSimulator::Start() { return server_.Start(); }

void CameraSimulator::Stop() { server_.Stop(); }

std::string CameraSimulator::Url() const { return "http://" + options_.address + ":" + std::to_string(Port()); }

void CameraSimulator::SetAuth(AuthMode mode, std::string user, std::string password) {
    AuthSettings s = server_.Auth().Settings();
    s.mode = mode;
    s.user = std::move(user);
    s.password = std::move(password);
    server_.Auth().Configure(s);
}

RgbPicture CameraSimulator::SourcePicture(uint64_t k) const {
    ImageSettings image = camera_.Image();
    return pictures_.Render(k, image.width, image.height, camera_.Ptz());
}

std::vector<uint8_t> CameraSimulator::EncodedPicture(uint64_t k) const {
    std::vector<uint8_t> jpeg;
    pictures_.EncodeJpeg(k, camera_.Image(), camera_.Ptz(), camera_.SensorBlock(), &jpeg);
    return jpeg;
}

}  // namespace camsim

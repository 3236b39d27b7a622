// Listener, accept thread and connection threads of the simulator's HTTP server.
#include "httpserver/HttpServer.h"

#include "platform/Sync.h"

namespace camsim {

namespace vp = velmora::platform;

HttpServer::HttpServer(ServerOptions options) : context_(std::make_unique<ServerContext>(std::move(options))) {}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Route(std::string pathPrefix, Handler handler) {
    if (Running()) return;
    context_->routes.emplace_back(std::move(pathPrefix), std::move(handler));
}

bool HttpServer::Start() {
    if (Running()) return true;
    {
        std::lock_guard<std::mutex> lock(listenerMutex_);
        uint16_t port = port_ ? port_ : context_->options.port;
        if (!listener_.Listen(context_->options.address, port)) return false;
        port_ = listener_.LocalPort();
    }
    context_->stopping = false;
    context_->offline = false;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void HttpServer::Stop() {
    if (!Running()) return;
    context_->stopping = true;
    context_->WakeAll();
    acceptThread_.join();
    {
        std::lock_guard<std::mutex> lock(listenerMutex_);
        listener_.Close();
    }
    // Every connection wait is sliced and watches the stop flag, so these joins are bounded.
    for (auto& w : workers_) w->thread.join();
    workers_.clear();
}

bool HttpServer::SetOffline(bool offline) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    if (offline) {
        listener_.Close();
        context_->offline = true;
        ++context_->epoch;
        context_->WakeAll();
        return true;
    }
    if (!listener_.IsOpen() && Running() && !listener_.Listen(context_->options.address, port_)) return false;
    context_->offline = false;
    context_->WakeAll();
    return true;
}

void HttpServer::DropConnections() {
    // Connections accepted from here on carry the new epoch and live on.
    ++context_->epoch;
    context_->WakeAll();
}

void HttpServer::AcceptLoop() {
    vp::SetCurrentThreadName("camsim-accept");
    while (!context_->stopping) {
        ReapWorkers();
        vp::TcpSocket client;
        bool accepted = false, listening = false;
        {
            std::lock_guard<std::mutex> lock(listenerMutex_);
            listening = listener_.IsOpen();
            if (listening) accepted = listener_.Accept(&client, kPollSliceMs);
        }
        if (!listening) {
            // Camera off: nothing to accept until it is switched on again or the server stops.
            context_->WaitWhileOffline(kPollSliceMs);
            continue;
        }
        if (accepted) StartWorker(std::move(client));
    }
}

void HttpServer::StartWorker(vp::TcpSocket client) {
    if (connections_ >= context_->options.maxConnections) {
        static const char kBusy[] =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        client.SendAll(kBusy, sizeof(kBusy) - 1, 200);
        // Take in what the client sent so that closing does not reset the answer away.
        client.ShutdownWrite();
        char sink[4096];
        client.Receive(sink, sizeof(sink), kPollSliceMs);
        return;
    }
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    uint64_t epoch = context_->epoch;
    ++connections_;
    w->thread = std::thread([this, w, epoch, socket = std::move(client)]() mutable {
        {
            HttpConnection connection(*context_, std::move(socket), epoch);
            connection.Run();
        }
        --connections_;
        w->done = true;
    });
    workers_.push_back(std::move(worker));
}

void HttpServer::ReapWorkers() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace camsim

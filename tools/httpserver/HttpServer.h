// Loopback HTTP/1.1 server of the camera simulator and the host's live view: one thread per
// connection (bounded), keep-alive, routing by path prefix, authentication, faults on demand and a
// request log.
//
// Lifetime: Route before Start; Start listens and starts the accept thread; Stop (also run by the
// destructor) ends the accept thread and every connection thread within about the send time-out.
// Auth(), Faults() and Log() may be used from any thread while the server runs. SetOffline plays a
// camera that is switched off: the port refuses connections and open connections are dropped, and
// switching it on listens again on the same port.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "httpserver/HttpConnection.h"
#include "platform/Socket.h"

namespace camsim {

class HttpServer {
public:
    explicit HttpServer(ServerOptions options = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Requests whose path starts with the prefix go to the handler; the longest prefix wins;
    // unrouted paths get 404. Only before Start.
    void Route(std::string pathPrefix, Handler handler);

    // Listens on the configured address and port; false when the port cannot be bound.
    bool Start();
    void Stop();
    bool Running() const { return acceptThread_.joinable(); }
    // The bound port (stays the same while the camera is off); 0 before Start.
    uint16_t Port() const { return port_; }

    // true: close the listener and drop every connection; false: listen again on the same port
    // (false when that fails).
    bool SetOffline(bool offline);
    // Drops every open connection (streams end) while the camera stays reachable.
    void DropConnections();

    Authenticator& Auth() { return context_->auth; }
    FaultSet& Faults() { return context_->faults; }
    RequestLog& Log() { return context_->log; }
    size_t ConnectionCount() const { return connections_; }

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void AcceptLoop();
    void StartWorker(velmora::platform::TcpSocket client);
    void ReapWorkers();

    std::unique_ptr<ServerContext> context_;
    std::mutex listenerMutex_;
    velmora::platform::TcpSocket listener_;
    std::thread acceptThread_;
    std::list<std::unique_ptr<Worker>> workers_;  // accept thread only, and Stop after it ended
    std::atomic<size_t> connections_{0};
    uint16_t port_ = 0;
};

}  // namespace camsim

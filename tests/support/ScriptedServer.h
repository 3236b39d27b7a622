// A scripted HTTP peer on 127.0.0.1 for protocol tests: it answers each arriving request with
// the next step of its script (raw bytes, so malformed replies are easy), and records every
// request it received (head, headers, body bytes as they arrive) for the test to assert on.
// Every wait inside is bounded; the destructor stops all its threads.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cctype>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Socket.h"

namespace quillon::test {

// Bound of the server's waits for events that should happen almost at once.
inline constexpr uint32_t kScriptWaitMs = 10000;

struct ScriptStep {
    std::string reply;           // raw bytes sent once the request (and its body) has been read
    uint64_t streamBytes = 0;    // then this many bytes of ScriptedServer::PatternByte
    bool closeAfter = false;     // close the connection after replying
    bool noReply = false;        // send nothing; hold the connection until the client closes it
    bool holdAfter = false;      // after replying, send nothing more and hold the connection open
    // Body bytes to read before replying; the default is the request's Content-Length.
    size_t readBody = std::numeric_limits<size_t>::max();
};

struct ReceivedRequest {
    int connection = 0;  // serial number of the connection it came on, from 1
    std::string method;
    std::string target;
    std::string head;    // request line and header lines as received
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;    // grows while the body arrives
    // Value of the first header with the name (case-insensitive); empty when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// Convenience builders for common replies.
std::string HttpReply(int status, const std::string& body, const std::string& extraHeaders = {});
std::string HttpChunkedReply(int status, const std::vector<std::string>& chunks);

class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    bool Listening() const { return port_ != 0; }
    uint16_t Port() const { return port_; }

    // Steps are played in the order requests arrive, across connections. A request that finds
    // no step left has its connection closed without a reply.
    void Add(ScriptStep step);
    void Add(const std::string& reply, bool closeAfter = false);

    std::vector<ReceivedRequest> Requests();
    size_t RequestCount();
    int ConnectionCount();
    bool WaitForRequests(size_t count, uint32_t timeoutMs = kScriptWaitMs);
    // Waits until request number index (from 0) has at least bytes body bytes.
    bool WaitForBodyBytes(size_t index, size_t bytes, uint32_t timeoutMs = kScriptWaitMs);
    // Waits until every connection the server accepted has been closed.
    bool WaitForConnectionsClosed(uint32_t timeoutMs = kScriptWaitMs) { return WaitForOpenConnections(0, timeoutMs); }
    // Waits until at most atMost accepted connections are still open.
    bool WaitForOpenConnections(int atMost, uint32_t timeoutMs = kScriptWaitMs);

    void Stop();

    // Body bytes of streamBytes: a table with a prime period, so that a lost or repeated block of
    // any usual buffer size shows as a mismatch.
    static constexpr size_t kPatternPeriod = 65521;
    static uint8_t PatternByte(uint64_t index);

private:
    void AcceptLoop();
    void Serve(velmora::platform::TcpSocket socket, int connection);
    // One request and its reply; false when the connection is to be closed.
    bool ServeOne(velmora::platform::TcpSocket& socket, std::string& pending, int connection);
    bool NextStep(ScriptStep* step);
    // Receives into pending; false once the peer closed, failed or the server stops.
    bool ReceiveSome(velmora::platform::TcpSocket& socket, std::string& pending);
    bool SendStep(velmora::platform::TcpSocket& socket, const ScriptStep& step);

    velmora::platform::TcpSocket listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ScriptStep> script_;
    std::vector<ReceivedRequest> requests_;
    std::vector<std::thread> workers_;
    int connections_ = 0;
    int openConnections_ = 0;
};

}  // namespace quillon::test

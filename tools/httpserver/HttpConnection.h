// One accepted connection of the simulator's HTTP server, and the two objects a request handler
// works with: RequestBody (body bytes as they arrive) and ResponseWriter (a whole response, or a
// streamed one that runs until the client leaves or the server stops).
//
// Threading: a connection, its RequestBody and its ResponseWriter belong to the connection's own
// thread; handlers run on that thread. Everything shared with other threads lives in ServerContext.
// Every wait is sliced (kPollSliceMs) and ends early when the server stops or the camera goes off.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/Authenticator.h"
#include "camsim/Faults.h"
#include "httpserver/HttpMessage.h"
#include "httpserver/RequestLog.h"
#include "platform/Socket.h"

namespace camsim {

constexpr uint32_t kPollSliceMs = 50;          // granularity at which blocked waits notice a stop
constexpr size_t kReceiveChunkBytes = 16 * 1024;
constexpr size_t kSendPieceBytes = 16 * 1024;
constexpr size_t kMaxDrainBytes = 1024 * 1024;  // unread body a kept-alive connection may skip
constexpr uint32_t kDrainTimeoutMs = 2000;

struct ServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 0;                // 0: an ephemeral port
    size_t maxConnections = 128;      // further connections get 503 and are closed
    uint32_t idleTimeoutMs = 60000;   // kept-alive connection without a new request
    uint32_t headTimeoutMs = 10000;   // a request head that has started must complete within this
    uint32_t sendTimeoutMs = 1500;    // a send blocked longer than this counts as a client gone
};

class RequestBody;
class ResponseWriter;
// A handler answers one request on its connection's thread. It may return without reading the body;
// the connection then skips what is left (bounded) or closes.
using Handler = std::function<void(const RequestHead&, RequestBody&, ResponseWriter&)>;

// State shared by the server and its connection threads.
struct ServerContext {
    explicit ServerContext(ServerOptions o) : options(std::move(o)) {}

    ServerOptions options;
    Authenticator auth;
    FaultSet faults;
    RequestLog log;
    std::vector<std::pair<std::string, Handler>> routes;  // fixed once the server runs
    std::atomic<bool> stopping{false};
    std::atomic<bool> offline{false};
    std::atomic<uint64_t> epoch{0};  // raised when the camera goes off: older connections end

    bool MustEnd(uint64_t connectionEpoch) const { return stopping || offline || epoch != connectionEpoch; }
    // Waits up to ms; true when the connection must end (then at once).
    bool WaitEnd(uint64_t connectionEpoch, uint32_t ms);
    // Waits up to ms while the camera is off; returns at once when it comes back or the server stops.
    void WaitWhileOffline(uint32_t ms);
    void WakeAll();
    // Longest matching path prefix; null when none.
    const Handler* FindRoute(std::string_view path) const;

private:
    std::mutex wakeMutex_;
    std::condition_variable wake_;
};

class HttpConnection;

class RequestBody {
public:
    // Up to size body bytes: >0 bytes read, 0 end of body, -1 client gone / malformed body /
    // connection ending, -2 nothing arrived within the time-out. Bytes are logged as they are read.
    long Read(char* buffer, size_t size, uint32_t timeoutMs);
    // The whole body if it is at most limit bytes and arrives within the time-out.
    bool ReadAll(std::string* out, size_t limit, uint32_t timeoutMs);
    bool Finished() const { return finished_; }
    bool Failed() const { return failed_; }
    bool HasBody() const { return framing_.kind != BodyFraming::Kind::None; }

private:
    friend class HttpConnection;
    friend class ResponseWriter;
    RequestBody(HttpConnection& connection, BodyFraming framing, uint64_t logId);
    long TakeBuffered(char* buffer, size_t size);
    void MarkEnd(bool complete);
    // Reads and drops the rest of the body, within the drain limits; true when it ended.
    bool Drain();

    HttpConnection& connection_;
    BodyFraming framing_;
    uint64_t logId_;
    uint64_t remaining_ = 0;
    ChunkedDecoder chunked_;
    std::string decoded_;  // chunked: decoded bytes not handed out yet
    bool finished_ = false;
    bool failed_ = false;
};

class ResponseWriter {
public:
    // A complete response with Content-Length. False when a response was already begun or the
    // connection failed.
    bool Respond(int status, std::string_view contentType, std::string_view body,
                 const std::vector<Header>& extra = {});
    // Starts a response whose body follows through Write until the client leaves or the server
    // stops; the connection closes after it. chunked: the chunked coding instead of a body that
    // ends with the connection.
    bool BeginStream(int status, std::string_view contentType, const std::vector<Header>& extra = {},
                     bool chunked = false);
    bool Write(const void* data, size_t size);
    bool Write(std::string_view data) { return Write(data.data(), data.size()); }
    // False once the client left, a fault cut the connection, or the server stops.
    bool Alive() const;
    // Waits up to ms (for pacing a stream); returns Alive().
    bool Pause(uint32_t ms);
    bool Responded() const { return status_ != 0; }
    // The fault rule this request met, or null.
    const FaultRule* Fault() const { return fault_ ? &*fault_ : nullptr; }

private:
    friend class HttpConnection;
    ResponseWriter(HttpConnection& connection, uint64_t logId, std::optional<FaultRule> fault, RequestBody& body,
                   bool keepAliveWanted);
    // Sends response bytes through the fault rule (close after, stall, trickle).
    bool Send(const char* data, size_t size);
    // Whether the fault trickles the bytes at sent_; *limit caps the piece so a head sent whole
    // ends where the trickle of its body begins.
    bool Trickling(size_t* limit) const;
    bool Finish();  // ends a chunked stream
    bool KeepAlive() const;
    // Header lines a huge-head fault asks for; empty otherwise.
    std::string PaddingHeaders() const;

    HttpConnection& connection_;
    uint64_t logId_;
    std::optional<FaultRule> fault_;
    RequestBody& body_;
    bool keepAliveWanted_;
    bool keepAlive_ = false;
    bool streaming_ = false;
    bool chunked_ = false;
    bool stalled_ = false;
    bool drainBody_ = true;
    int status_ = 0;
    uint64_t sent_ = 0;
    uint64_t headEnd_ = 0;  // response bytes up to the end of the head, once it is being sent
};

class HttpConnection {
public:
    HttpConnection(ServerContext& context, velmora::platform::TcpSocket socket, uint64_t epoch);
    // Serves requests until the client closes, a request asks to close, or the connection must end.
    void Run();

private:
    friend class RequestBody;
    friend class ResponseWriter;
    enum class FillResult { Data, Closed, TimedOut, Ended };

    bool ServeOne();
    bool WaitForHead(RequestHead* head);
    void Dispatch(const RequestHead& head, RequestBody& body, ResponseWriter& writer);
    // Receives more bytes into inbuf_ within the time-out, in slices that notice a stop.
    FillResult Fill(uint32_t timeoutMs);
    bool SendRaw(const char* data, size_t size);
    void SendPlain(int status);  // for requests refused before they were logged
    void SendGarbage(size_t size);
    void Drop();
    bool MustEnd() const { return dropped_ || context_.MustEnd(epoch_); }

    ServerContext& context_;
    velmora::platform::TcpSocket socket_;
    uint64_t epoch_;
    std::string inbuf_;
    bool dropped_ = false;
};

}  // namespace camsim

// Synchronous HTTP/1.1 client service as opaque handles, shaped after WinHTTP so that a Win32
// backend maps one call to one call: session -> connection -> request.
//
// Contract:
// - Every handle is closed with HttpCloseHandle; children keep what they need of their parent
//   alive, so handles may be closed in any order. A closed or unknown handle makes every call fail.
// - Calls on one request are made by one thread at a time, except HttpCloseHandle, which may be
//   called from any thread to abort the request: every later call on it fails at once.
// - Aborting and the platforms differ in one point. POSIX: closing a request from another thread
//   also wakes a call blocked on it (connect, send, receive head, bytes available, read), which
//   then fails at once. Windows (WinHTTP, and above all under Wine): a synchronous call already
//   blocked is not woken; it ends when its own wait ends, so a stop is bounded by the send or
//   receive time-out. Callers that must stop promptly therefore (1) close the request from the
//   stopping thread, (2) check their stop between reads, and (3) keep each single wait (the
//   time-outs set here) short enough that they still end within their own limit; with the
//   driver's time-outs a stop ends within one request time-out plus the time to hand back.
// - Every wait is bounded by the session's connect, send or receive time-out. A reply head or
//   body that arrives a byte at a time is not bounded as a whole: only aborting ends it.
// - Failure is a false result; nothing throws for network or protocol faults. The layer writes no
//   messages, so credentials never leave it except in the Authorization header they are meant for.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora::platform {

struct HttpObject;
using HttpHandle = HttpObject*;

class HttpAuthMemory;  // platform/HttpAuthMemory.h

// Authentication schemes (bit values as the platform reports them). This layer performs Basic
// and Digest; the others are named so that callers can state their preference order.
constexpr uint32_t kHttpAuthBasic = 0x01;
constexpr uint32_t kHttpAuthNtlm = 0x02;
constexpr uint32_t kHttpAuthPassport = 0x04;
constexpr uint32_t kHttpAuthDigest = 0x08;
constexpr uint32_t kHttpAuthNegotiate = 0x10;

constexpr uint32_t kHttpAuthTargetServer = 0;
constexpr uint32_t kHttpAuthTargetProxy = 1;

// Request flag: ask caches on the way not to answer (adds no-cache request headers).
constexpr uint32_t kHttpFlagBypassProxyCache = 0x100;

// Modifiers of HttpAddRequestHeaders.
constexpr uint32_t kHttpAddHeaderAdd = 0x20000000;      // add when absent
constexpr uint32_t kHttpAddHeaderReplace = 0x80000000;  // replace when present; alone: fail when absent
constexpr uint32_t kHttpAddHeaderAddOrReplace = kHttpAddHeaderAdd | kHttpAddHeaderReplace;

// Limits of the layer.
constexpr uint32_t kHttpDefaultTimeoutMs = 30000;
constexpr uint32_t kHttpDefaultMaxConnectionsPerServer = 16;

// Session: agent text for the User-Agent header, direct access, synchronous. Null on failure.
HttpHandle HttpOpenSession(const std::string& agent);
// Connect, send and receive time-outs in ms (each receive wait, not a whole body).
bool HttpSetTimeouts(HttpHandle session, uint32_t connectMs, uint32_t sendMs, uint32_t receiveMs);
// Most simultaneous connections to one host:port; a further request waits for one to be
// released, at most the connect time-out. At least 1.
bool HttpSetMaxConnectionsPerServer(HttpHandle session, uint32_t count);
// Source of the Digest client nonce (cnonce); tests inject a fixed one. Empty function: the
// default random source.
bool HttpSetNonceSource(HttpHandle session, std::function<std::string()> source);
// The authentication memory the session's requests consult and teach (see HttpSetCredentials).
// Sessions of one device share one memory, so that what one learned serves the others; a session
// without one keeps a private memory created with it. Null is refused.
bool HttpSetAuthMemory(HttpHandle session, std::shared_ptr<HttpAuthMemory> memory);

// Names the server; no network traffic yet. Null on failure (empty host, port 0).
HttpHandle HttpConnect(HttpHandle session, const std::string& host, uint16_t port);

// A request on the connection; verb and path must be non-empty and free of spaces and line
// breaks. flags: kHttpFlagBypassProxyCache or 0.
HttpHandle HttpOpenRequest(HttpHandle connection, const std::string& verb, const std::string& path, uint32_t flags);

// Credentials for this request; schemes is the set the caller permits (kHttpAuthBasic and/or
// kHttpAuthDigest, nothing else). No credentials leave before the server asked for them: the
// first send carries an Authorization header only when the session's authentication memory knows
// what this server (host, port, target) asked for. A 401 (target server) or 407 (proxy) that
// the memory answers (HttpAuthMemory's rules: Digest when offered, SHA-256 before MD5; Basic only
// when it is the only scheme offered; a stale or replaced nonce) is answered inside
// HttpReceiveResponse by sending the request again, at most kHttpMaxAuthResends times, on the
// same connection when it stays open; only a request whose whole body was given to
// HttpSendRequest can be sent again. Any other challenge (a refusal of the credentials, or no
// scheme that may be answered) is the response the caller receives.
constexpr int kHttpMaxAuthResends = 2;
bool HttpSetCredentials(HttpHandle request, uint32_t target, uint32_t schemes, const std::string& user,
                        const std::string& password);

// One or more "Name: value" lines separated by CR LF. modifiers: see kHttpAddHeader*. A header
// set here overrides the layer's own header of the same name, except the message framing
// (Content-Length, Transfer-Encoding), which the layer owns. False on a malformed line.
bool HttpAddRequestHeaders(HttpHandle request, const std::string& lines, uint32_t modifiers);

// Sends the request head and bodySize bytes of body. totalLength (>= bodySize) is the declared
// body length; the rest follows through HttpWriteData before the response can be received.
bool HttpSendRequest(HttpHandle request, const void* body, uint32_t bodySize, uint32_t totalLength);
// Further body bytes; fails (writing nothing) when they would pass the declared length.
bool HttpWriteData(HttpHandle request, const void* data, uint32_t size, uint32_t* written);
// Waits for the status line and headers (interim 1xx responses are skipped).
bool HttpReceiveResponse(HttpHandle request);

// Numeric status code and Content-Length of the received response; false when absent or not a
// number that fits.
bool HttpQueryStatusCode(HttpHandle request, uint32_t* code);
bool HttpQueryContentLength(HttpHandle request, uint32_t* length);
// Value of a response header (the first one with the name, case-insensitive).
bool HttpQueryHeader(HttpHandle request, const std::string& name, std::string* value);
// For a 401 (server) or 407 (proxy) response: the schemes of this layer that the challenges
// offer, the first of them in the server's order, and the target. False when the response is
// not a challenge or offers no scheme this layer performs.
bool HttpQueryAuthSchemes(HttpHandle request, uint32_t* supported, uint32_t* first, uint32_t* target);

// Bytes that can be read without waiting; blocks until data arrives, the body ends (0) or the
// receive time-out passes (false).
bool HttpQueryDataAvailable(HttpHandle request, uint32_t* available);
// Reads up to size body bytes; 0 bytes read with true means the body has ended.
bool HttpReadData(HttpHandle request, void* buffer, uint32_t size, uint32_t* read);

// Closes any handle; from another thread it aborts the request (see the contract above). False
// for a handle that is not open.
bool HttpCloseHandle(HttpHandle handle);

// Where the backends differ beyond the stop path above, stated here so that callers and tests
// read it instead of discovering it. True: the backend promises the behaviour. The Windows
// backend promises none of them, because WinHTTP under Wine does not behave so (Windows'
// own WinHTTP may).
struct HttpBackendTraits {
    // Closing a request from another thread wakes a call blocked on it (else that call ends
    // with its own time-out).
    bool closeWakesBlockedCall;
    // Interim (1xx) responses before the final one are skipped (Wine fails the exchange).
    bool skipsInterimResponses;
    // A chunked body that is malformed or cut short by a close fails the read (Wine ends it as
    // if it were complete), and each chunk is handed out as soon as it has arrived (Wine keeps
    // the last one back until data of the next arrives).
    bool checksChunkedBodies;
    // A request closed after its whole body arrived, though unread, gives its connection back
    // for reuse (WinHTTP closes that connection).
    bool reusesConnectionOfUnreadBody;
};
const HttpBackendTraits& HttpBackend();

}  // namespace velmora::platform

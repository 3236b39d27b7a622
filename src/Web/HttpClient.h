// The driver's one HTTP client: one session and one connection to one camera, and exactly one
// current request whose response the caller reads. It never logs and never throws for network
// faults; every operation answers with a flag or a byte count.
//
// Threads: a client is used by the one thread that owns it (a channel's capture thread, the
// digital output thread or a PTZ command thread); only Abort may come from another thread. The
// lock only guards the request handles, and no network wait runs under it.
//
// Authentication: no credentials are sent before the camera asked for them; the platform layer
// answers challenges (Digest when offered, Basic only when it is the only scheme offered) and
// records what the camera asked for in the device's authentication memory (DEVICE_INFO), which
// every client made from copies of one device record shares.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "Driver/IDriver.h"
#include "Thread/FastMutex.h"
#include "platform/Http.h"

namespace Web {

// Request option bits.
constexpr uint32_t kRequestIgnoreCertErrors = 4;  // no effect on plain HTTP
constexpr uint32_t kRequestSendOnly = 8;          // send, do not await the response
constexpr uint32_t kSendRequestOptions = kRequestIgnoreCertErrors;

// Limits of the client.
constexpr uint32_t kMaxConnectionsPerServer = 16;
constexpr uint32_t kReadAllChunkBytes = 10240;
constexpr uint32_t kReadAllMaxBytes = 268435456;  // 256 MiB

class CHttpClient {
public:
    // Copies address, port, credentials and request time-out; opens the session at once. A
    // session that cannot be opened is not reported: every request then fails.
    CHttpClient(const velmora::DEVICE_INFO& device, const std::string& agent);
    virtual ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // GET-style exchange: no header lines, no body, options kSendRequestOptions.
    bool SendRequest(const std::string& verb, const std::string& path);
    // One complete exchange, challenges answered by the layer. True: sent and, unless send-only
    // or the body stays open, the status line and headers arrived (any status code).
    bool SendRequestEx(const std::string& verb, const std::string& path, const std::vector<std::string>& headers,
                       const std::vector<uint8_t>& body, uint32_t totalLength, uint32_t options);
    // Status code and Content-Length of the current response; 0 when none or absent.
    uint32_t GetStatusCode();
    uint32_t GetContentLength();
    // True while the current request was sent with a declared total length larger than the
    // bytes written so far.
    bool IsBodyOpen();
    // Further body bytes on the open request; a failure closes the body for good.
    bool WriteData(const std::vector<uint8_t>& data);
    // The whole remaining body, read in chunks of at most kReadAllChunkBytes, stopping once
    // kReadAllMaxBytes have been read. Returns the byte count; the buffer holds exactly them.
    uint32_t ReadAll(std::vector<uint8_t>& buffer);
    // Bytes readable now; blocks until data, end of body or time-out. 0 without a request.
    uint32_t QueryAvailable();
    // Reads up to size bytes of the body; 0 on end of body, failure or without a request.
    uint32_t ReadSome(uint8_t* buffer, uint32_t size);

    // Any thread: aborts the exchange in progress and every later one; a call blocked on the
    // network returns at once where the platform wakes it (see platform/Http.h), else when its
    // own wait ends. Reads then give 0 and requests fail.
    void Abort();
    bool IsAborted() const { return aborted_.load(); }

    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }

private:
    bool Attempt(const std::string& verb, const std::string& path, const std::vector<std::string>& headers,
                 const std::vector<uint8_t>& body, uint32_t totalLength, uint32_t options);
    bool FailAttempt();
    void CloseHandles();
    velmora::platform::HttpHandle CurrentRequest();

    uint32_t timeout_;
    velmora::CFastMutex lock_;
    velmora::platform::HttpHandle request_ = nullptr;
    velmora::platform::HttpHandle pending_ = nullptr;  // being sent, not yet current
    std::atomic<bool> aborted_{false};
    velmora::platform::HttpHandle session_ = nullptr;
    velmora::platform::HttpHandle connection_ = nullptr;
    uint32_t authSchemes_ = velmora::platform::kHttpAuthDigest | velmora::platform::kHttpAuthBasic;
    uint32_t authTarget_ = velmora::platform::kHttpAuthTargetServer;
    bool autoAuthenticate_ = true;
    bool bodyOpen_ = false;
    uint32_t bodyRemaining_ = 0;  // declared body bytes not yet written while bodyOpen_
    std::string agent_;
    std::string user_;
    std::string password_;
    std::string host_;
    uint16_t port_;
    uint32_t statusCode_ = 0;
    uint32_t contentLength_ = 0;
};

}  // namespace Web

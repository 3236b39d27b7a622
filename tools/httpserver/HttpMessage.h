// HTTP/1.1 request heads, chunked request bodies and query strings as the simulator reads them.
// Pure functions over bytes: no sockets, so tests and fuzzers can feed them any split of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace camsim {

// Limits of what a request may carry; beyond them the request is refused, never buffered.
constexpr size_t kMaxRequestHeadBytes = 64 * 1024;  // request line plus header block
constexpr size_t kMaxHeaderCount = 100;
constexpr size_t kMaxChunkLineBytes = 1024;         // chunk-size line with extensions
constexpr size_t kMaxTrailerBytes = 16 * 1024;
constexpr uint64_t kMaxChunkSize = uint64_t(1) << 40;

struct Header {
    std::string name;
    std::string value;
};

// Case-insensitive ASCII comparison, as header names and auth schemes compare.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

struct RequestHead {
    std::string method;
    std::string target;  // path with query, exactly as sent
    std::string path;    // target up to the first '?'
    std::string query;   // text behind the first '?', empty when there is none
    int versionMinor = 1;
    std::vector<Header> headers;  // in arrival order, names as sent

    // Value of the first header with this name (any case); nullopt when absent.
    std::optional<std::string> Find(std::string_view name) const;
    // HTTP/1.1 keeps the connection unless "close" is listed; HTTP/1.0 only with "keep-alive".
    bool WantsKeepAlive() const;
};

enum class ParseResult {
    NeedMore,   // no complete head yet, and within the limits
    Complete,
    Malformed,  // answer 400
    TooLarge    // answer 431
};

// Parses the request line and header block at the start of data. Leading empty lines are skipped
// (RFC 9112 allows it); lines may end in CRLF or a bare LF. On Complete, *consumed holds the
// bytes up to and including the empty line that ends the head.
ParseResult ParseRequestHead(std::string_view data, RequestHead* head, size_t* consumed);

// Request body framing decided from the head (RFC 9112 message body length rules).
struct BodyFraming {
    enum class Kind { None, Length, Chunked, Invalid } kind = Kind::None;
    uint64_t length = 0;  // for Length
};
BodyFraming DecideBodyFraming(const RequestHead& head);

// Decoder of the chunked transfer coding: feed it bytes in any split, it appends the data.
class ChunkedDecoder {
public:
    // Consumes bytes from data and appends decoded body bytes to *out; returns the bytes consumed.
    // Consumption stops at the end of the body (Done) or at the first framing error (Failed).
    size_t Feed(const char* data, size_t size, std::string* out);
    bool Done() const { return state_ == State::Done; }
    bool Failed() const { return state_ == State::Error; }

private:
    enum class State { Size, Data, DataEnd, Trailer, Done, Error };
    bool EndSizeLine();
    State state_ = State::Size;
    std::string line_;
    uint64_t remaining_ = 0;
    size_t trailerBytes_ = 0;
};

// Query strings of the camera's CGI interface: items separated by '&', each "key" or "key=value".
// Values are used as sent (the camera interface uses no percent-escapes in what is parsed here).
std::optional<std::string> QueryValue(std::string_view query, std::string_view key);
bool QueryHasKey(std::string_view query, std::string_view key);

const char* ReasonPhrase(int status);

}  // namespace camsim

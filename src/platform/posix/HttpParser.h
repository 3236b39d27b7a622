// Pure HTTP/1.1 response parsing for the POSIX HTTP layer: the response head, the body framing
// it implies, and a chunked-coding decoder. Bytes in, results out; no sockets, so they can be
// fuzzed and tested on their own. Every input is bounded by the limits below.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HttpDigest.h"  // EqualsIgnoreCase, HasToken

namespace velmora::platform::http {

// Status line plus header fields plus the blank line.
constexpr size_t kMaxHeaderBlockBytes = 64 * 1024;
// A chunk-size line with its extensions, and one trailer block.
constexpr size_t kMaxChunkLineBytes = 1024;
constexpr size_t kMaxTrailerBytes = kMaxHeaderBlockBytes;
// Hex digits of a chunk size after leading zeros: 15 keeps it below 2^60.
constexpr size_t kMaxChunkSizeDigits = 15;
// Content-Length digits after leading zeros: 18 keeps it below 10^18.
constexpr size_t kMaxContentLengthDigits = 18;

struct HeaderField {
    std::string name;
    std::string value;
};

struct ResponseHead {
    int versionMajor = 0;
    int versionMinor = 0;
    uint32_t status = 0;
    std::string reason;
    std::vector<HeaderField> fields;

    // First field with the name (case-insensitive), or null.
    const std::string* Find(std::string_view name) const;
    // Values of every field with the name, in order.
    std::vector<std::string_view> FindAll(std::string_view name) const;
};

enum class ParseStatus { NeedMore, Done, Error };

// Parses a response head at the start of data. *searched carries how far a previous call looked
// for the blank line (start with 0), so that a head arriving in small pieces is scanned once.
// Done: *consumed is the length of the head. NeedMore: no blank line yet within the limit.
// Error: a malformed status line or field line, or a head longer than kMaxHeaderBlockBytes.
ParseStatus ParseResponseHead(const uint8_t* data, size_t size, ResponseHead* head, size_t* consumed,
                              size_t* searched);

enum class BodyKind { None, Length, Chunked, UntilClose };

struct BodyFraming {
    BodyKind kind = BodyKind::None;
    uint64_t length = 0;     // for BodyKind::Length
    bool keepAlive = false;  // the connection may carry another request after this body
};

// Framing of the body that follows the head (RFC 9112 section on message body length).
// False for conflicting or malformed Content-Length values.
bool DetermineFraming(const ResponseHead& head, bool headRequest, BodyFraming* framing);

// Chunked transfer coding. The caller feeds framing bytes to Parse, which stops at chunk data
// (DataRemaining() > 0), at the end of the body, or on an error; the caller moves data bytes
// itself and reports them with ConsumeData.
class ChunkedDecoder {
public:
    // Returns how many bytes of data were consumed as framing.
    size_t Parse(const uint8_t* data, size_t size);
    uint64_t DataRemaining() const { return state_ == State::Data ? remaining_ : 0; }
    void ConsumeData(uint64_t count);
    bool Done() const { return state_ == State::Done; }
    bool Failed() const { return state_ == State::Error; }

private:
    enum class State { SizeLine, Data, DataEnd, Trailer, Done, Error };
    bool FinishSizeLine();

    State state_ = State::SizeLine;
    uint64_t remaining_ = 0;
    std::string line_;
    size_t trailerBytes_ = 0;
    bool trailerLineEmpty_ = true;
};

}  // namespace velmora::platform::http

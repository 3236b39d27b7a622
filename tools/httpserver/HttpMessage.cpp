// Request-head, chunked-body and query parsing for the simulator's HTTP server.
#include "httpserver/HttpMessage.h"

#include <algorithm>
#include <cctype>

namespace camsim {

namespace {

bool IsTokenChar(char c) {
    if (std::isalnum(static_cast<unsigned char>(c))) return true;
    switch (c) {
        case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
        case '-': case '.': case '^': case '_': case '`': case '|': case '~':
            return true;
        default:
            return false;
    }
}

bool IsToken(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!IsTokenChar(c)) return false;
    return true;
}

std::string_view TrimWhitespace(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Next line of data starting at pos, without its LF or CRLF; false when no LF follows yet.
bool NextLine(std::string_view data, size_t* pos, std::string_view* line) {
    size_t lf = data.find('\n', *pos);
    if (lf == std::string_view::npos) return false;
    size_t end = (lf > *pos && data[lf - 1] == '\r') ? lf - 1 : lf;
    *line = data.substr(*pos, end - *pos);
    *pos = lf + 1;
    return true;
}

bool ParseRequestLine(std::string_view line, RequestHead* head) {
    size_t sp1 = line.find(' ');
    if (sp1 == std::string_view::npos) return false;
    size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) return false;
    std::string_view method = line.substr(0, sp1);
    std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string_view version = line.substr(sp2 + 1);
    if (!IsToken(method) || target.empty()) return false;
    for (char c : target)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
    if (version == "HTTP/1.1") head->versionMinor = 1;
    else if (version == "HTTP/1.0") head->versionMinor = 0;
    else return false;
    head->method.assign(method);
    head->target.assign(target);
    size_t q = target.find('?');
    head->path.assign(target.substr(0, q));
    head->query.assign(q == std::string_view::npos ? std::string_view() : target.substr(q + 1));
    return true;
}

bool ParseHeaderLine(std::string_view line, RequestHead* head) {
    // Obsolete line folding (a line starting with white space) is refused, as RFC 9112 allows.
    if (line.front() == ' ' || line.front() == '\t') return false;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view name = line.substr(0, colon);
    if (!IsToken(name)) return false;
    std::string_view value = TrimWhitespace(line.substr(colon + 1));
    for (char c : value)
        if (c == '\0' || c == '\r' || c == '\n') return false;
    head->headers.push_back({std::string(name), std::string(value)});
    return true;
}

bool ParseDecimal(std::string_view s, uint64_t* value) {
    if (s.empty() || s.size() > 15) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = v;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<std::string> RequestHead::Find(std::string_view name) const {
    for (const Header& h : headers)
        if (EqualsIgnoreCase(h.name, name)) return h.value;
    return std::nullopt;
}

bool RequestHead::WantsKeepAlive() const {
    bool close = false, keepAlive = false;
    for (const Header& h : headers) {
        if (!EqualsIgnoreCase(h.name, "Connection")) continue;
        std::string_view rest = h.value;
        while (!rest.empty()) {
            size_t comma = rest.find(',');
            std::string_view option = TrimWhitespace(rest.substr(0, comma));
            if (EqualsIgnoreCase(option, "close")) close = true;
            if (EqualsIgnoreCase(option, "keep-alive")) keepAlive = true;
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    if (close) return false;
    return versionMinor >= 1 || keepAlive;
}

ParseResult ParseRequestHead(std::string_view data, RequestHead* head, size_t* consumed) {
    *head = RequestHead();
    size_t pos = 0;
    std::string_view line;
    // Skip empty lines before the request line; only the head's size limit bounds them.
    for (;;) {
        if (!NextLine(data, &pos, &line)) {
            return data.size() > kMaxRequestHeadBytes ? ParseResult::TooLarge : ParseResult::NeedMore;
        }
        if (pos > kMaxRequestHeadBytes) return ParseResult::TooLarge;
        if (!line.empty()) break;
    }
    if (!ParseRequestLine(line, head)) return ParseResult::Malformed;
    for (;;) {
        if (!NextLine(data, &pos, &line)) {
            return data.size() > kMaxRequestHeadBytes ? ParseResult::TooLarge : ParseResult::NeedMore;
        }
        if (pos > kMaxRequestHeadBytes) return ParseResult::TooLarge;
        if (line.empty()) break;
        if (head->headers.size() >= kMaxHeaderCount) return ParseResult::TooLarge;
        if (!ParseHeaderLine(line, head)) return ParseResult::Malformed;
    }
    *consumed = pos;
    return ParseResult::Complete;
}

BodyFraming DecideBodyFraming(const RequestHead& head) {
    BodyFraming framing;
    bool haveLength = false, haveEncoding = false;
    for (const Header& h : head.headers) {
        if (EqualsIgnoreCase(h.name, "Transfer-Encoding")) {
            haveEncoding = true;
            std::string_view codings = h.value;
            size_t comma = codings.rfind(',');
            std::string_view last = TrimWhitespace(comma == std::string_view::npos ? codings : codings.substr(comma + 1));
            framing.kind = EqualsIgnoreCase(last, "chunked") ? BodyFraming::Kind::Chunked : BodyFraming::Kind::Invalid;
            if (framing.kind == BodyFraming::Kind::Invalid) return framing;
        } else if (EqualsIgnoreCase(h.name, "Content-Length")) {
            uint64_t length = 0;
            if (!ParseDecimal(h.value, &length) || (haveLength && length != framing.length)) {
                framing.kind = BodyFraming::Kind::Invalid;
                return framing;
            }
            haveLength = true;
            framing.length = length;
        }
    }
    // Both framings at once is how request smuggling starts; refuse it.
    if (haveEncoding && haveLength) framing.kind = BodyFraming::Kind::Invalid;
    else if (haveLength) framing.kind = framing.length > 0 ? BodyFraming::Kind::Length : BodyFraming::Kind::None;
    return framing;
}

bool ChunkedDecoder::EndSizeLine() {
    std::string_view line = line_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t semicolon = line.find(';');
    std::string_view digits = TrimWhitespace(line.substr(0, semicolon));
    if (digits.empty()) return false;
    uint64_t size = 0;
    for (char c : digits) {
        int v = HexValue(c);
        if (v < 0) return false;
        size = size * 16 + static_cast<uint64_t>(v);
        if (size > kMaxChunkSize) return false;
    }
    remaining_ = size;
    state_ = size == 0 ? State::Trailer : State::Data;
    return true;
}

size_t ChunkedDecoder::Feed(const char* data, size_t size, std::string* out) {
    size_t i = 0;
    while (i < size && state_ != State::Done && state_ != State::Error) {
        switch (state_) {
            case State::Size: {
                char c = data[i++];
                if (c != '\n') {
                    line_.push_back(c);
                    if (line_.size() > kMaxChunkLineBytes) state_ = State::Error;
                    break;
                }
                if (!EndSizeLine()) state_ = State::Error;
                line_.clear();
                break;
            }
            case State::Data: {
                size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, size - i));
                out->append(data + i, take);
                i += take;
                remaining_ -= take;
                if (remaining_ == 0) state_ = State::DataEnd;
                break;
            }
            case State::DataEnd: {
                char c = data[i++];
                if (c == '\n') {
                    state_ = (line_.empty() || line_ == "\r") ? State::Size : State::Error;
                    line_.clear();
                } else {
                    line_.push_back(c);
                    if (line_.size() > 1) state_ = State::Error;
                }
                break;
            }
            case State::Trailer: {
                char c = data[i++];
                if (++trailerBytes_ > kMaxTrailerBytes) {
                    state_ = State::Error;
                    break;
                }
                if (c != '\n') {
                    line_.push_back(c);
                    break;
                }
                // Trailer fields are read and dropped; an empty line ends the message.
                if (line_.empty() || line_ == "\r") state_ = State::Done;
                line_.clear();
                break;
            }
            case State::Done:
            case State::Error:
                break;
        }
    }
    return i;
}

std::optional<std::string> QueryValue(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view item = query.substr(0, amp);
        size_t eq = item.find('=');
        if (item.substr(0, eq) == key) {
            return std::string(eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1));
        }
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return std::nullopt;
}

bool QueryHasKey(std::string_view query, std::string_view key) { return QueryValue(query, key).has_value(); }

const char* ReasonPhrase(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 204: return "No Content";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 413: return "Content Too Large";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

}  // namespace camsim

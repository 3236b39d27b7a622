// Response head, body framing and chunked decoding for the POSIX HTTP layer.
#include "platform/posix/HttpParser.h"

#include <algorithm>

namespace velmora::platform::http {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimOws(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Finds the end of the head: the byte after an empty line (LF LF or LF CR LF; a bare LF ends a
// line as RFC 9112 allows recipients to accept). Returns 0 when not found before limit.
size_t FindHeadEnd(const uint8_t* data, size_t limit, size_t from) {
    for (size_t i = from; i < limit; ++i) {
        if (data[i] != '\n') continue;
        if (i + 1 < limit && data[i + 1] == '\n') return i + 2;
        if (i + 2 < limit && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
    }
    return 0;
}

bool ParseStatusLine(std::string_view line, ResponseHead* head) {
    // HTTP/x.y SP 3DIGIT [SP reason]
    if (line.size() < 12 || line.substr(0, 5) != "HTTP/") return false;
    if (!IsDigit(line[5]) || line[6] != '.' || !IsDigit(line[7]) || line[8] != ' ') return false;
    head->versionMajor = line[5] - '0';
    head->versionMinor = line[7] - '0';
    if (head->versionMajor != 1) return false;
    if (!IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11])) return false;
    head->status = static_cast<uint32_t>((line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0'));
    if (head->status < 100) return false;
    if (line.size() > 12) {
        if (line[12] != ' ') return false;
        head->reason.assign(line.substr(13));
    }
    return true;
}

bool ParseFieldLine(std::string_view line, ResponseHead* head) {
    if (line.front() == ' ' || line.front() == '\t') {
        // Obsolete line folding: joined to the previous value with one space.
        if (head->fields.empty()) return false;
        std::string_view more = TrimOws(line);
        if (!more.empty()) {
            head->fields.back().value.push_back(' ');
            head->fields.back().value.append(more);
        }
        return true;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return false;
    head->fields.push_back({std::string(name), std::string(TrimOws(line.substr(colon + 1)))});
    return true;
}

// Parses one Content-Length value list ("12" or "12, 12"); all members must agree.
bool ParseContentLength(std::string_view value, bool* seen, uint64_t* length) {
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        std::string_view item = TrimOws(value.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                                           : comma - start));
        if (item.empty()) return false;
        while (item.size() > 1 && item.front() == '0') item.remove_prefix(1);
        if (item.size() > kMaxContentLengthDigits || !std::all_of(item.begin(), item.end(), IsDigit)) return false;
        uint64_t n = 0;
        for (char c : item) n = n * 10 + static_cast<uint64_t>(c - '0');
        if (*seen && n != *length) return false;
        *seen = true;
        *length = n;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return true;
}

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

const std::string* ResponseHead::Find(std::string_view name) const {
    for (const auto& f : fields)
        if (EqualsIgnoreCase(f.name, name)) return &f.value;
    return nullptr;
}

std::vector<std::string_view> ResponseHead::FindAll(std::string_view name) const {
    std::vector<std::string_view> out;
    for (const auto& f : fields)
        if (EqualsIgnoreCase(f.name, name)) out.emplace_back(f.value);
    return out;
}

ParseStatus ParseResponseHead(const uint8_t* data, size_t size, ResponseHead* head, size_t* consumed,
                              size_t* searched) {
    size_t limit = std::min(size, kMaxHeaderBlockBytes);
    // Resume a few bytes back: the empty line may straddle the previous end.
    size_t from = *searched > 2 ? *searched - 2 : 0;
    size_t end = FindHeadEnd(data, limit, from);
    if (end == 0) {
        *searched = limit;
        return size >= kMaxHeaderBlockBytes ? ParseStatus::Error : ParseStatus::NeedMore;
    }
    *head = ResponseHead{};
    std::string_view text(reinterpret_cast<const char*>(data), end);
    bool first = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        std::string_view line = text.substr(pos, lf - pos);
        pos = lf + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos)
            return ParseStatus::Error;
        if (line.empty()) break;  // the blank line that ends the head
        bool ok = first ? ParseStatusLine(line, head) : ParseFieldLine(line, head);
        if (!ok) return ParseStatus::Error;
        first = false;
    }
    if (first) return ParseStatus::Error;  // no status line at all
    *consumed = end;
    return ParseStatus::Done;
}

bool DetermineFraming(const ResponseHead& head, bool headRequest, BodyFraming* framing) {
    *framing = BodyFraming{};
    bool closeRequested = false;
    bool keepAliveRequested = false;
    for (auto value : head.FindAll("Connection")) {
        closeRequested |= HasToken(value, "close");
        keepAliveRequested |= HasToken(value, "keep-alive");
    }
    bool persistent = head.versionMinor >= 1 ? !closeRequested : keepAliveRequested && !closeRequested;

    if (headRequest || head.status < 200 || head.status == 204 || head.status == 304) {
        framing->kind = BodyKind::None;
        framing->keepAlive = persistent;
        return true;
    }
    auto codings = head.FindAll("Transfer-Encoding");
    if (!codings.empty()) {
        // Only a final "chunked" coding marks the end of the body; anything else runs to close.
        std::string_view last = codings.back();
        size_t comma = last.rfind(',');
        std::string_view final = TrimOws(comma == std::string_view::npos ? last : last.substr(comma + 1));
        if (EqualsIgnoreCase(final, "chunked")) {
            framing->kind = BodyKind::Chunked;
            framing->keepAlive = persistent;
        } else {
            framing->kind = BodyKind::UntilClose;
        }
        return true;
    }
    bool seen = false;
    uint64_t length = 0;
    for (auto value : head.FindAll("Content-Length"))
        if (!ParseContentLength(value, &seen, &length)) return false;
    if (seen) {
        framing->kind = BodyKind::Length;
        framing->length = length;
        framing->keepAlive = persistent;
        return true;
    }
    framing->kind = BodyKind::UntilClose;
    return true;
}

size_t ChunkedDecoder::Parse(const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i < size) {
        char c = static_cast<char>(data[i]);
        switch (state_) {
            case State::SizeLine:
                ++i;
                if (c == '\n') {
                    if (!FinishSizeLine()) return i;
                } else if (line_.size() >= kMaxChunkLineBytes) {
                    state_ = State::Error;
                    return i;
                } else {
                    line_.push_back(c);
                }
                break;
            case State::Data:
                return i;  // the caller moves the data
            case State::DataEnd:
                // CR LF (or a bare LF) after the chunk data.
                ++i;
                if (c == '\n') {
                    state_ = State::SizeLine;
                    line_.clear();
                } else if (c != '\r' || !line_.empty()) {
                    state_ = State::Error;
                    return i;
                } else {
                    line_.push_back(c);
                }
                break;
            case State::Trailer:
                ++i;
                if (++trailerBytes_ > kMaxTrailerBytes) {
                    state_ = State::Error;
                    return i;
                }
                if (c == '\n') {
                    if (trailerLineEmpty_) {
                        state_ = State::Done;
                        return i;
                    }
                    trailerLineEmpty_ = true;
                } else if (c != '\r') {
                    trailerLineEmpty_ = false;
                }
                break;
            case State::Done:
            case State::Error:
                return i;
        }
    }
    return i;
}

bool ChunkedDecoder::FinishSizeLine() {
    std::string_view line(line_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t digitsEnd = 0;
    while (digitsEnd < line.size() && HexValue(line[digitsEnd]) >= 0) ++digitsEnd;
    std::string_view rest = TrimOws(line.substr(digitsEnd));
    if (digitsEnd == 0 || (!rest.empty() && rest.front() != ';')) {
        state_ = State::Error;
        return false;
    }
    std::string_view digits = line.substr(0, digitsEnd);
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    if (digits.size() > kMaxChunkSizeDigits) {
        state_ = State::Error;
        return false;
    }
    uint64_t n = 0;
    for (char d : digits) n = (n << 4) | static_cast<uint64_t>(HexValue(d));
    line_.clear();
    if (n == 0) {
        state_ = State::Trailer;
        trailerBytes_ = 0;
        trailerLineEmpty_ = true;
    } else {
        state_ = State::Data;
        remaining_ = n;
    }
    return true;
}

void ChunkedDecoder::ConsumeData(uint64_t count) {
    if (state_ != State::Data) return;
    remaining_ -= std::min(count, remaining_);
    if (remaining_ == 0) {
        state_ = State::DataEnd;
        line_.clear();
    }
}

}  // namespace velmora::platform::http

// Sending a request and reading its response through one WinHTTP request handle.
#include "platform/win32/HttpRequest.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

#include "platform/HttpDigest.h"
#include "platform/HttpHeaderLines.h"

namespace velmora::platform::http {

namespace {

// Declared lengths above this are printed as negative numbers by Wine's WinHTTP, so the layer
// writes the Content-Length field itself for them.
constexpr uint64_t kLargestPrintedLength = 0x7FFFFFFF;

// A Content-Length value: digits only, at most 18 of them after leading zeros.
bool ParseLength(std::string_view text, uint64_t* length) {
    text = TrimSpaces(text);
    if (text.empty()) return false;
    uint64_t n = 0;
    size_t digits = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        if (n == 0 && c == '0') continue;
        if (++digits > 18) return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    *length = n;
    return true;
}

// "HTTP/x.y ddd ...": what RFC 9112 calls a status line.
bool IsStatusLine(std::string_view line) {
    return line.size() >= 12 && line.substr(0, 5) == "HTTP/" && line[5] >= '0' && line[5] <= '9' && line[6] == '.' &&
           line[7] >= '0' && line[7] <= '9' && line[8] == ' ' && line[9] >= '1' && line[9] <= '5' && line[10] >= '0' &&
           line[10] <= '9' && line[11] >= '0' && line[11] <= '9' && (line.size() == 12 || line[12] == ' ');
}

// Wine's ntdll exports its version; Windows' does not.
bool RunningOnWine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

const char* AuthorizationName(uint32_t target) {
    return target == kHttpAuthTargetProxy ? "Proxy-Authorization" : "Authorization";
}

}  // namespace

Request::Request(std::shared_ptr<Session> session, HINTERNET connection, std::string host, uint16_t port,
                 std::string verb, std::string path, uint32_t flags)
    : session_(std::move(session)),
      host_(std::move(host)),
      port_(port),
      server_(host_ + ":" + std::to_string(port_)),
      verb_(std::move(verb)),
      path_(std::move(path)) {
    std::wstring wideVerb = Widen(verb_);
    std::wstring widePath = Widen(path_);
    DWORD openFlags = (flags & kHttpFlagBypassProxyCache) ? WINHTTP_FLAG_BYPASS_PROXY_CACHE : 0;
    handle_ = WinHttpOpenRequest(connection, wideVerb.c_str(), widePath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, openFlags);
    if (!handle_) return;
    // The layer answers challenges itself and follows no redirect and keeps no cookie, as on
    // POSIX; and WinHTTP must never log on with the Windows user's own credentials.
    DWORD disable = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_AUTHENTICATION;
    DWORD autologon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    bool ok = session_->ApplyTimeouts(handle_) &&
              WinHttpSetOption(handle_, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable)) &&
              WinHttpSetOption(handle_, WINHTTP_OPTION_AUTOLOGON_POLICY, &autologon, sizeof(autologon));
    if (ok && (flags & kHttpFlagBypassProxyCache))
        ok = AddOwnHeader("Pragma: no-cache") && AddOwnHeader("Cache-Control: no-cache");
    if (!ok) {
        WinHttpCloseHandle(handle_);
        handle_ = nullptr;
    }
}

Request::~Request() {
    Close();
    ReleaseSlot();
}

HINTERNET Request::Enter() {
    std::lock_guard<std::mutex> lock(handleMutex_);
    if (closed_ || !handle_) return nullptr;
    ++calls_;
    return handle_;
}

void Request::Leave() {
    HINTERNET closing = nullptr;
    {
        std::lock_guard<std::mutex> lock(handleMutex_);
        if (--calls_ == 0 && closed_) std::swap(closing, handle_);
    }
    if (closing) WinHttpCloseHandle(closing);
}

void Request::Close() {
    HINTERNET closing = nullptr;
    {
        std::lock_guard<std::mutex> lock(handleMutex_);
        closed_ = true;
        if (calls_ == 0) std::swap(closing, handle_);
    }
    if (closing) WinHttpCloseHandle(closing);
    ReleaseSlot();
}

void Request::ReleaseSlot() {
    bool held;
    {
        std::lock_guard<std::mutex> lock(handleMutex_);
        held = std::exchange(holdsSlot_, false);
    }
    if (held) session_->Release(server_);
}

bool Request::Call(const std::function<BOOL(HINTERNET)>& call) {
    HINTERNET h = Enter();
    if (!h) {
        failure_ = Failure::Aborted;
        return false;
    }
    BOOL ok = call(h);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    Leave();
    if (!ok) failure_ = closed_ ? Failure::Aborted : FailureOf(error);
    return ok != FALSE;
}

bool Request::SetCredentials(uint32_t target, uint32_t schemes, const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || state_ != State::Created) return false;
    if (schemes == 0 || (schemes & ~(kHttpAuthBasic | kHttpAuthDigest)) != 0) return false;
    if (target != kHttpAuthTargetServer && target != kHttpAuthTargetProxy) return false;
    credentials_ = {schemes, user, password};
    authTarget_ = target;
    return true;
}

bool Request::AddHeaders(const std::string& lines, uint32_t modifiers) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || state_ != State::Created) return false;
    std::vector<HeaderLine> fields;
    if (!SplitRequestHeaderLines(lines, &fields)) return false;
    for (const HeaderLine& field : fields)
        if (!AddHeaderLine(field.name, field.value, modifiers)) return false;
    return true;
}

bool Request::AddHeaderLine(std::string_view name, std::string_view value, uint32_t modifiers) {
    // An empty value only removes a present field.
    if (value.empty() && !(modifiers & kHttpAddHeaderReplace)) return false;
    std::wstring wide = Widen(std::string(name) + ": " + std::string(value));
    DWORD flags = modifiers & (kHttpAddHeaderAdd | kHttpAddHeaderReplace);
    if (flags == 0) flags = kHttpAddHeaderAdd;
    if (!Call([&](HINTERNET h) {
            return WinHttpAddRequestHeaders(h, wide.c_str(), static_cast<DWORD>(wide.size()), flags);
        }))
        return false;
    // A caller's own Authorization header goes out as it is, in place of the layer's.
    for (uint32_t target : {kHttpAuthTargetServer, kHttpAuthTargetProxy})
        if (EqualsIgnoreCase(name, AuthorizationName(target))) callerAuthorization_[target] = !value.empty();
    return true;
}

bool Request::AddOwnHeader(const std::string& line) {
    std::wstring wide = Widen(line);
    return Call([&](HINTERNET h) {
        return WinHttpAddRequestHeaders(h, wide.c_str(), static_cast<DWORD>(wide.size()), kHttpAddHeaderAddOrReplace);
    });
}

HttpAuthRequest Request::AuthTarget() const { return {host_, port_, authTarget_, verb_, path_}; }

bool Request::Fail(Failure failure) {
    failure_ = failure;
    state_ = State::Failed;
    ReleaseSlot();
    return false;
}

bool Request::FailLast() { return Fail(failure_ == Failure::None ? Failure::Other : failure_); }

void Request::Finish(bool tellWinHttp) {
    // WinHTTP hands the connection back to its pool only once a read has met the end of the
    // body (Wine: a query for bytes available is not enough); when the framing says the body is
    // complete, one more read, answered at once with nothing, shows it.
    uint8_t none = 0;
    DWORD got = 0;
    if (tellWinHttp) Call([&](HINTERNET h) { return WinHttpReadData(h, &none, sizeof(none), &got); });
    state_ = State::Finished;
    ReleaseSlot();
}

bool Request::Transmit() {
    const void* data = body_.empty() ? WINHTTP_NO_REQUEST_DATA : body_.data();
    return Call([&](HINTERNET h) {
        return WinHttpSendRequest(h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<void*>(data),
                                  static_cast<DWORD>(body_.size()), static_cast<DWORD>(total_), 0);
    });
}

bool Request::Send(const void* body, uint32_t bodySize, uint32_t totalLength) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || state_ != State::Created) return false;
    if (bodySize > 0 && !body) return false;
    if (bodySize > 0) body_.assign(static_cast<const uint8_t*>(body), static_cast<const uint8_t*>(body) + bodySize);
    total_ = std::max(bodySize, totalLength);
    sent_ = bodySize;
    {
        std::lock_guard<std::mutex> lock(handleMutex_);
        if (holdsSlot_) return false;
    }
    if (!session_->Acquire(server_)) return Fail(Failure::TimedOut);
    {
        std::lock_guard<std::mutex> lock(handleMutex_);
        holdsSlot_ = true;
    }
    if (total_ > kLargestPrintedLength && !AddOwnHeader("Content-Length: " + std::to_string(total_))) return FailLast();
    if (!credentials_.user.empty() && !callerAuthorization_[authTarget_]) {
        std::string value =
            session_->AuthMemory()->Prepare(AuthTarget(), credentials_, session_->ClientNonceSource(), &authSent_);
        if (!value.empty() && !AddOwnHeader(std::string(AuthorizationName(authTarget_)) + ": " + value))
            return FailLast();
    }
    if (!Transmit()) return FailLast();
    state_ = sent_ < total_ ? State::SendingBody : State::Sent;
    return true;
}

bool Request::Write(const void* data, uint32_t size, uint32_t* written) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (written) *written = 0;
    if (closed_ || state_ != State::SendingBody || !data) return false;
    if (size > total_ - sent_) return false;  // past the declared length: nothing is written
    DWORD done = 0;
    if (!Call([&](HINTERNET h) { return WinHttpWriteData(h, data, size, &done); })) return FailLast();
    if (done != size) return Fail(Failure::ConnectionLost);
    sent_ += size;
    if (written) *written = size;
    if (sent_ == total_) state_ = State::Sent;
    return true;
}

const std::string* Request::Field(std::string_view name) const {
    for (const auto& f : fields_)
        if (EqualsIgnoreCase(f.name, name)) return &f.value;
    return nullptr;
}

std::vector<std::string_view> Request::Fields(std::string_view name) const {
    std::vector<std::string_view> values;
    for (const auto& f : fields_)
        if (EqualsIgnoreCase(f.name, name)) values.push_back(f.value);
    return values;
}

bool Request::ReadHead() {
    fields_.clear();
    status_ = 0;
    // WinHTTP has parsed the head already; the checks below are the ones it leaves out.
    DWORD bytes = 0;
    Call([&](HINTERNET h) {
        return WinHttpQueryHeaders(h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                                   WINHTTP_NO_OUTPUT_BUFFER, &bytes, WINHTTP_NO_HEADER_INDEX);
    });
    if (bytes == 0 || bytes / sizeof(wchar_t) > kMaxResponseHeadBytes) return false;
    std::wstring raw(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
    if (!Call([&](HINTERNET h) {
            return WinHttpQueryHeaders(h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                                       &bytes, WINHTTP_NO_HEADER_INDEX);
        }))
        return false;
    raw.resize(bytes / sizeof(wchar_t));
    std::string head = Narrow(raw);
    // Wine hands over a head cut short by a close as if it were whole: it then lacks the blank
    // line that ends every whole head it gives. (Windows refuses such a head itself, and its
    // documentation does not promise the blank line, so the check is Wine's alone.)
    bool whole = head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0;
    if (!whole && RunningOnWine()) return false;
    std::string_view rest(head);
    size_t end = rest.find("\r\n");
    if (!IsStatusLine(rest.substr(0, end))) return false;
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    while (!rest.empty()) {
        end = rest.find("\r\n");
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        if (line.empty()) break;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsHttpToken(line.substr(0, colon))) return false;
        fields_.push_back({std::string(line.substr(0, colon)), std::string(TrimSpaces(line.substr(colon + 1)))});
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!Call([&](HINTERNET h) {
            return WinHttpQueryHeaders(h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        }))
        return false;
    status_ = status;

    // The body's framing, with the checks of RFC 9112: one Content-Length value, chunked last.
    bool noBody = verb_ == "HEAD" || status_ < 200 || status_ == 204 || status_ == 304;
    std::vector<std::string_view> lengths = Fields("Content-Length");
    length_ = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        uint64_t n = 0;
        if (!ParseLength(lengths[i], &n) || (i > 0 && n != length_)) return false;
        length_ = n;
    }
    if (noBody) {
        framing_ = Framing::None;
    } else if (const std::string* coding = Field("Transfer-Encoding")) {
        framing_ = HasToken(*coding, "chunked") ? Framing::Chunked : Framing::UntilClose;
    } else {
        framing_ = lengths.empty() ? Framing::UntilClose : Framing::Length;
    }
    return true;
}

bool Request::AnswerChallenge() {
    uint32_t target = status_ == 407 ? kHttpAuthTargetProxy : kHttpAuthTargetServer;
    if ((status_ != 401 && status_ != 407) || credentials_.user.empty() || target != authTarget_) return false;
    if (callerAuthorization_[authTarget_]) return false;
    if (sent_ != total_ || total_ != body_.size()) return false;  // the body cannot be sent again
    std::string value;
    HttpAuthSent sent;
    auto challenges = Fields(target == kHttpAuthTargetProxy ? "Proxy-Authenticate" : "WWW-Authenticate");
    if (!session_->AuthMemory()->Answer(AuthTarget(), challenges, credentials_, session_->ClientNonceSource(),
                                        authSent_, &value, &sent))
        return false;
    authSent_ = sent;
    return AddOwnHeader(std::string(AuthorizationName(authTarget_)) + ": " + value);
}

bool Request::ReceiveResponse() {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || state_ != State::Sent) return false;
    for (int resend = 0;; ++resend) {
        if (!Call([&](HINTERNET h) { return WinHttpReceiveResponse(h, nullptr); })) return FailLast();
        if (!ReadHead()) {
            status_ = 0;
            fields_.clear();
            return Fail(Failure::BadResponse);
        }
        if (resend >= kHttpMaxAuthResends || !AnswerChallenge()) break;
        if (!Transmit()) return FailLast();
    }
    state_ = State::ReadingBody;
    received_ = 0;
    if (framing_ == Framing::None || (framing_ == Framing::Length && length_ == 0)) Finish(true);
    return true;
}

bool Request::StatusCode(uint32_t* code) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || status_ == 0) return false;
    *code = status_;
    return true;
}

bool Request::ContentLength(uint32_t* length) {
    std::lock_guard<std::mutex> op(opMutex_);
    const std::string* value = closed_ || status_ == 0 ? nullptr : Field("Content-Length");
    uint64_t n = 0;
    if (!value || !ParseLength(*value, &n) || n > std::numeric_limits<uint32_t>::max()) return false;
    *length = static_cast<uint32_t>(n);
    return true;
}

bool Request::Header(const std::string& name, std::string* value) {
    std::lock_guard<std::mutex> op(opMutex_);
    const std::string* found = closed_ || status_ == 0 ? nullptr : Field(name);
    if (!found) return false;
    *value = *found;
    return true;
}

bool Request::AuthSchemes(uint32_t* supported, uint32_t* first, uint32_t* target) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || (status_ != 401 && status_ != 407)) return false;
    bool proxy = status_ == 407;
    // Parsed here rather than asked of WinHttpQueryAuthSchemes, which (under Wine) reports Digest
    // challenges that cannot be answered.
    if (!OfferedHttpAuthSchemes(Fields(proxy ? "Proxy-Authenticate" : "WWW-Authenticate"), supported, first))
        return false;
    *target = proxy ? kHttpAuthTargetProxy : kHttpAuthTargetServer;
    return true;
}

bool Request::DataAvailable(uint32_t* available) {
    std::lock_guard<std::mutex> op(opMutex_);
    *available = 0;
    if (closed_) return false;
    if (state_ == State::Finished) return true;
    if (state_ != State::ReadingBody) return false;
    DWORD n = 0;
    if (!Call([&](HINTERNET h) { return WinHttpQueryDataAvailable(h, &n); })) return FailLast();
    if (n == 0) {
        // WinHTTP reports a connection closed before the declared end as an ordinary end.
        if (framing_ == Framing::Length && received_ < length_) return Fail(Failure::ConnectionLost);
        Finish(false);
        return true;
    }
    if (framing_ == Framing::Length) n = static_cast<DWORD>(std::min<uint64_t>(n, length_ - received_));
    *available = n;
    return true;
}

bool Request::Read(void* buffer, uint32_t size, uint32_t* read) {
    *read = 0;
    if (size == 0) return true;
    if (!buffer) return false;
    uint32_t available = 0;
    // Asking first keeps WinHTTP from waiting to fill the whole buffer.
    if (!DataAvailable(&available)) return false;
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_) return false;
    if (available == 0 || state_ != State::ReadingBody) return true;
    DWORD got = 0;
    if (!Call([&](HINTERNET h) { return WinHttpReadData(h, buffer, std::min(available, size), &got); }))
        return FailLast();
    received_ += got;
    *read = got;
    if (framing_ == Framing::Length && received_ >= length_) Finish(true);
    return true;
}

}  // namespace velmora::platform::http

// The WinHTTP session: options, time-outs and the connection slots of each server.
#include "platform/win32/HttpSession.h"

#include <algorithm>
#include <chrono>

namespace velmora::platform::http {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

namespace {

bool SetNumber(HINTERNET handle, DWORD option, DWORD value) {
    return WinHttpSetOption(handle, option, &value, sizeof(value)) != FALSE;
}

}  // namespace

Session::Session(const std::string& agent) : authMemory_(std::make_shared<HttpAuthMemory>()) {
    std::wstring wideAgent = Widen(agent);
    handle_ =
        WinHttpOpen(wideAgent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (handle_ && !(SetTimeouts(timeouts_) && SetMaxConnections(maxConnections_))) {
        WinHttpCloseHandle(handle_);
        handle_ = nullptr;
    }
}

Session::~Session() {
    if (handle_) WinHttpCloseHandle(handle_);
}

Timeouts Session::GetTimeouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeouts_;
}

bool Session::SetTimeouts(const Timeouts& timeouts) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts_ = timeouts;
    }
    return ApplyTimeouts(handle_);
}

bool Session::ApplyTimeouts(HINTERNET handle) const {
    Timeouts t = GetTimeouts();
    // To WinHTTP 0 means no limit at all; to this layer it means none to wait.
    for (uint32_t* ms : {&t.connectMs, &t.sendMs, &t.receiveMs}) *ms = std::max<uint32_t>(*ms, 1);
    // The receive time-out alone does not bound the wait for a reply head: without the
    // response time-out a stalled server holds WinHttpSendRequest (Wine) or
    // WinHttpReceiveResponse for as long as it likes.
    return SetNumber(handle, WINHTTP_OPTION_CONNECT_TIMEOUT, t.connectMs) &&
           SetNumber(handle, WINHTTP_OPTION_SEND_TIMEOUT, t.sendMs) &&
           SetNumber(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, t.receiveMs) &&
           SetNumber(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, t.receiveMs);
}

bool Session::SetMaxConnections(uint32_t count) {
    if (count == 0) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        maxConnections_ = count;
    }
    released_.notify_all();
    // WinHTTP's own limit is set too; the count kept here is what makes a further request wait.
    return SetNumber(handle_, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, count) &&
           SetNumber(handle_, WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, count);
}

void Session::SetNonceSource(std::function<std::string()> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    nonceSource_ = std::move(source);
}

HttpAuthMemory::NonceSource Session::ClientNonceSource() {
    std::lock_guard<std::mutex> lock(mutex_);
    return nonceSource_;
}

std::shared_ptr<HttpAuthMemory> Session::AuthMemory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return authMemory_;
}

void Session::SetAuthMemory(std::shared_ptr<HttpAuthMemory> memory) {
    std::lock_guard<std::mutex> lock(mutex_);
    authMemory_ = std::move(memory);
}

bool Session::Acquire(const std::string& server) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeouts_.connectMs);
    bool free = released_.wait_until(lock, deadline, [&] { return inUse_[server] < maxConnections_; });
    if (!free) return false;
    ++inUse_[server];
    return true;
}

void Session::Release(const std::string& server) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = inUse_.find(server);
        if (it == inUse_.end() || it->second == 0) return;
        if (--it->second == 0) inUse_.erase(it);
    }
    released_.notify_all();
}

}  // namespace velmora::platform::http

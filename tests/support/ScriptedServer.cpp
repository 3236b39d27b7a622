// Scripted loopback HTTP peer: accept thread plus one thread per connection, all polling with
// short bounded waits so that Stop ends them promptly.
#include "ScriptedServer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

namespace quillon::test {

namespace {

constexpr uint32_t kPollMs = 20;           // wait step of every loop, so Stop is seen quickly
constexpr uint32_t kSendTimeoutMs = 10000;  // a client that stops reading for this long is dropped
constexpr size_t kMaxRequestHead = 256 * 1024;
constexpr size_t kMaxConnections = 64;

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

ReceivedRequest ParseHead(const std::string& head, int connection) {
    ReceivedRequest r;
    r.connection = connection;
    r.head = head;
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t sp1 = line.find(' ');
    size_t sp2 = line.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
    if (sp1 != std::string::npos) {
        r.method = line.substr(0, sp1);
        r.target = line.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
    }
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string field = head.substr(pos, end - pos);
        pos = end + 2;
        size_t colon = field.find(':');
        if (colon == std::string::npos) continue;
        std::string value = field.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        r.headers.emplace_back(field.substr(0, colon), value);
    }
    return r;
}

const std::vector<uint8_t>& PatternTable() {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(ScriptedServer::kPatternPeriod);
        uint32_t x = 2463534242u;  // xorshift: cheap and without short repeats
        for (auto& b : t) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x >> 24);
        }
        return t;
    }();
    return table;
}

}  // namespace

uint8_t ScriptedServer::PatternByte(uint64_t index) { return PatternTable()[index % kPatternPeriod]; }

std::string ReceivedRequest::Header(const std::string& name) const {
    for (const auto& h : headers)
        if (EqualsNoCase(h.first, name)) return h.second;
    return {};
}

bool ReceivedRequest::HasHeader(const std::string& name) const {
    for (const auto& h : headers)
        if (EqualsNoCase(h.first, name)) return true;
    return false;
}

std::string HttpReply(int status, const std::string& body, const std::string& extraHeaders) {
    return "HTTP/1.1 " + std::to_string(status) + " Status\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n" + extraHeaders + "\r\n" + body;
}

std::string HttpChunkedReply(int status, const std::vector<std::string>& chunks) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "HTTP/1.1 " + std::to_string(status) + " Status\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const auto& c : chunks) {
        std::string size;
        for (size_t n = c.size(); n > 0; n >>= 4) size.insert(size.begin(), kHex[n & 15]);
        out += size + "\r\n" + c + "\r\n";
    }
    return out + "0\r\n\r\n";
}

ScriptedServer::ScriptedServer() {
    if (!listener_.Listen("127.0.0.1", 0)) return;
    port_ = listener_.LocalPort();
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

void ScriptedServer::Stop() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& w : workers) w.join();
    listener_.Close();
}

void ScriptedServer::Add(ScriptStep step) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(std::move(step));
}

void ScriptedServer::Add(const std::string& reply, bool closeAfter) {
    ScriptStep step;
    step.reply = reply;
    step.closeAfter = closeAfter;
    Add(std::move(step));
}

std::vector<ReceivedRequest> ScriptedServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t ScriptedServer::RequestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

int ScriptedServer::ConnectionCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

bool ScriptedServer::WaitForRequests(size_t count, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
}

bool ScriptedServer::WaitForBodyBytes(size_t index, size_t bytes, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() > index && requests_[index].body.size() >= bytes; });
}

bool ScriptedServer::WaitForOpenConnections(int atMost, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return openConnections_ <= atMost; });
}

void ScriptedServer::AcceptLoop() {
    while (!stop_) {
        velmora::platform::TcpSocket client;
        if (!listener_.Accept(&client, kPollMs)) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (workers_.size() >= kMaxConnections) continue;  // closes the client
        int serial = ++connections_;
        ++openConnections_;
        workers_.emplace_back([this, serial](velmora::platform::TcpSocket s) { Serve(std::move(s), serial); },
                              std::move(client));
    }
}

bool ScriptedServer::NextStep(ScriptStep* step) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (script_.empty()) return false;
    *step = std::move(script_.front());
    script_.pop_front();
    return true;
}

bool ScriptedServer::ReceiveSome(velmora::platform::TcpSocket& socket, std::string& pending) {
    char buffer[16384];
    while (!stop_) {
        long n = socket.Receive(buffer, sizeof(buffer), kPollMs);
        if (n == -2) continue;
        if (n <= 0) return false;
        pending.append(buffer, static_cast<size_t>(n));
        return true;
    }
    return false;
}

bool ScriptedServer::SendStep(velmora::platform::TcpSocket& socket, const ScriptStep& step) {
    if (!step.reply.empty() && !socket.SendAll(step.reply.data(), step.reply.size(), kSendTimeoutMs)) return false;
    const std::vector<uint8_t>& table = PatternTable();
    for (uint64_t sent = 0; sent < step.streamBytes && !stop_;) {
        size_t offset = static_cast<size_t>(sent % kPatternPeriod);
        size_t n = static_cast<size_t>(std::min<uint64_t>(table.size() - offset, step.streamBytes - sent));
        if (!socket.SendAll(table.data() + offset, n, kSendTimeoutMs)) return false;
        sent += n;
    }
    return true;
}

bool ScriptedServer::ServeOne(velmora::platform::TcpSocket& socket, std::string& pending, int connection) {
    size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
        if (pending.size() > kMaxRequestHead || !ReceiveSome(socket, pending)) return false;
    }
    ReceivedRequest request = ParseHead(pending.substr(0, headEnd), connection);
    pending.erase(0, headEnd + 4);
    size_t declared = std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10);
    size_t index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        index = requests_.size() - 1;
    }
    changed_.notify_all();
    ScriptStep step;
    bool haveStep = NextStep(&step);
    size_t wanted = std::min(declared, step.readBody);
    // Body bytes are recorded as they arrive, so tests can follow a body sent in parts.
    for (size_t got = 0;;) {
        size_t take = std::min(pending.size(), wanted - got);
        if (take > 0) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_[index].body.append(pending, 0, take);
            }
            changed_.notify_all();
            pending.erase(0, take);
            got += take;
        }
        if (got >= wanted) break;
        if (!ReceiveSome(socket, pending)) return false;
    }
    if (!haveStep) return false;
    if (step.noReply || step.holdAfter) {
        if (step.holdAfter && !SendStep(socket, step)) return false;
        while (ReceiveSome(socket, pending)) pending.clear();
        return false;
    }
    return SendStep(socket, step) && !step.closeAfter;
}

void ScriptedServer::Serve(velmora::platform::TcpSocket socket, int connection) {
    std::string pending;
    while (!stop_ && ServeOne(socket, pending, connection)) {
    }
    socket.Close();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --openConnections_;
    }
    changed_.notify_all();
}

}  // namespace quillon::test

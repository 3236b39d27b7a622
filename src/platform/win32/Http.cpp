// Handle table of the Windows HTTP layer: maps the opaque handles of platform/Http.h onto the
// WinHTTP session, connection and request objects. A handle is valid from its creation until
// HttpCloseHandle; every call looks it up, so a closed or foreign handle fails cleanly, and the
// object stays alive until the calls that found it have returned.
#include "platform/Http.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/win32/HttpRequest.h"
#include "platform/win32/HttpSession.h"

namespace velmora::platform {

namespace {

// A WinHTTP connection handle, closed with the last object that uses it.
struct Connection {
    HINTERNET handle = nullptr;
    std::string host;
    uint16_t port = 0;
    ~Connection() {
        if (handle) WinHttpCloseHandle(handle);
    }
};

}  // namespace

struct HttpObject {
    enum class Kind { Session, Connection, Request };
    Kind kind;
    std::shared_ptr<http::Session> session;
    std::shared_ptr<Connection> connection;
    std::shared_ptr<http::Request> request;
};

namespace {

using Kind = HttpObject::Kind;

// Handles are serial numbers, never addresses, so a handle closed long ago cannot name a newer
// object that happens to sit at the same address.
struct Registry {
    std::mutex mutex;
    uintptr_t next = 1;
    std::unordered_map<HttpHandle, std::shared_ptr<HttpObject>> objects;
};

// Never destroyed: handles may be closed by static destructors of other modules' objects.
Registry& Handles() {
    static Registry* registry = new Registry;
    return *registry;
}

HttpHandle Register(std::shared_ptr<HttpObject> object) {
    Registry& r = Handles();
    std::lock_guard<std::mutex> lock(r.mutex);
    HttpHandle key = reinterpret_cast<HttpHandle>(r.next++);
    r.objects.emplace(key, std::move(object));
    return key;
}

std::shared_ptr<HttpObject> Find(HttpHandle handle, Kind kind) {
    Registry& r = Handles();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.objects.find(handle);
    if (it == r.objects.end() || it->second->kind != kind) return nullptr;
    return it->second;
}

std::shared_ptr<http::Request> FindRequest(HttpHandle handle) {
    auto object = Find(handle, Kind::Request);
    return object ? object->request : nullptr;
}

}  // namespace

HttpHandle HttpOpenSession(const std::string& agent) {
    auto session = std::make_shared<http::Session>(agent);
    if (!session->Handle()) return nullptr;
    auto object = std::make_shared<HttpObject>();
    object->kind = Kind::Session;
    object->session = std::move(session);
    return Register(std::move(object));
}

bool HttpSetTimeouts(HttpHandle session, uint32_t connectMs, uint32_t sendMs, uint32_t receiveMs) {
    auto object = Find(session, Kind::Session);
    return object && object->session->SetTimeouts({connectMs, sendMs, receiveMs});
}

bool HttpSetMaxConnectionsPerServer(HttpHandle session, uint32_t count) {
    auto object = Find(session, Kind::Session);
    return object && object->session->SetMaxConnections(count);
}

bool HttpSetNonceSource(HttpHandle session, std::function<std::string()> source) {
    auto object = Find(session, Kind::Session);
    if (!object) return false;
    object->session->SetNonceSource(std::move(source));
    return true;
}

bool HttpSetAuthMemory(HttpHandle session, std::shared_ptr<HttpAuthMemory> memory) {
    auto object = Find(session, Kind::Session);
    if (!object || !memory) return false;
    object->session->SetAuthMemory(std::move(memory));
    return true;
}

HttpHandle HttpConnect(HttpHandle session, const std::string& host, uint16_t port) {
    auto parent = Find(session, Kind::Session);
    if (!parent || host.empty() || port == 0) return nullptr;
    auto connection = std::make_shared<Connection>();
    std::wstring wideHost = http::Widen(host);
    connection->handle = WinHttpConnect(parent->session->Handle(), wideHost.c_str(), port, 0);
    if (!connection->handle) return nullptr;
    connection->host = host;
    connection->port = port;
    auto object = std::make_shared<HttpObject>();
    object->kind = Kind::Connection;
    object->session = parent->session;
    object->connection = std::move(connection);
    return Register(std::move(object));
}

HttpHandle HttpOpenRequest(HttpHandle connection, const std::string& verb, const std::string& path, uint32_t flags) {
    auto parent = Find(connection, Kind::Connection);
    if (!parent || verb.empty() || path.empty()) return nullptr;
    for (char c : verb + path)
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0') return nullptr;
    auto request = std::make_shared<http::Request>(parent->session, parent->connection->handle,
                                                   parent->connection->host, parent->connection->port, verb, path,
                                                   flags);
    if (!request->IsOpen()) return nullptr;
    auto object = std::make_shared<HttpObject>();
    object->kind = Kind::Request;
    object->session = parent->session;
    object->connection = parent->connection;  // WinHTTP wants the connection open under its requests
    object->request = std::move(request);
    return Register(std::move(object));
}

bool HttpSetCredentials(HttpHandle request, uint32_t target, uint32_t schemes, const std::string& user,
                        const std::string& password) {
    auto r = FindRequest(request);
    return r && r->SetCredentials(target, schemes, user, password);
}

bool HttpAddRequestHeaders(HttpHandle request, const std::string& lines, uint32_t modifiers) {
    auto r = FindRequest(request);
    return r && r->AddHeaders(lines, modifiers);
}

bool HttpSendRequest(HttpHandle request, const void* body, uint32_t bodySize, uint32_t totalLength) {
    auto r = FindRequest(request);
    return r && r->Send(body, bodySize, totalLength);
}

bool HttpWriteData(HttpHandle request, const void* data, uint32_t size, uint32_t* written) {
    auto r = FindRequest(request);
    return r && r->Write(data, size, written);
}

bool HttpReceiveResponse(HttpHandle request) {
    auto r = FindRequest(request);
    return r && r->ReceiveResponse();
}

bool HttpQueryStatusCode(HttpHandle request, uint32_t* code) {
    auto r = FindRequest(request);
    return r && code && r->StatusCode(code);
}

bool HttpQueryContentLength(HttpHandle request, uint32_t* length) {
    auto r = FindRequest(request);
    return r && length && r->ContentLength(length);
}

bool HttpQueryHeader(HttpHandle request, const std::string& name, std::string* value) {
    auto r = FindRequest(request);
    return r && value && r->Header(name, value);
}

bool HttpQueryAuthSchemes(HttpHandle request, uint32_t* supported, uint32_t* first, uint32_t* target) {
    auto r = FindRequest(request);
    return r && supported && first && target && r->AuthSchemes(supported, first, target);
}

bool HttpQueryDataAvailable(HttpHandle request, uint32_t* available) {
    auto r = FindRequest(request);
    return r && available && r->DataAvailable(available);
}

bool HttpReadData(HttpHandle request, void* buffer, uint32_t size, uint32_t* read) {
    auto r = FindRequest(request);
    return r && read && r->Read(buffer, size, read);
}

const HttpBackendTraits& HttpBackend() {
    // None is promised by WinHTTP's documentation for synchronous use, and Wine keeps none.
    static const HttpBackendTraits traits{false, false, false, false};
    return traits;
}

bool HttpCloseHandle(HttpHandle handle) {
    std::shared_ptr<HttpObject> object;
    {
        Registry& r = Handles();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.objects.find(handle);
        if (it == r.objects.end()) return false;
        object = std::move(it->second);
        r.objects.erase(it);
    }
    if (object->request) object->request->Close();
    return true;  // the object goes when the last call that found it returns
}

}  // namespace velmora::platform

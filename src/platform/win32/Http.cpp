// The Windows HTTP layer's entry points: the WinHTTP session, connection and request objects
// behind the shared handle table.
#include "platform/Http.h"

#include <memory>

#include "platform/HttpHandleTable.h"
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

std::shared_ptr<HttpObject> Find(HttpHandle handle, Kind kind) {
    auto object = FindHttpObject(handle);
    return object && object->kind == kind ? object : nullptr;
}


}  // namespace

std::shared_ptr<http::RequestBase> FindHttpRequest(HttpHandle handle) {
    auto object = Find(handle, Kind::Request);
    return object ? object->request : nullptr;
}

HttpHandle HttpOpenSession(const std::string& agent) {
    auto session = std::make_shared<http::Session>(agent);
    if (!session->Handle()) return nullptr;
    auto object = std::make_shared<HttpObject>();
    object->kind = Kind::Session;
    object->session = std::move(session);
    return AddHttpObject(std::move(object));
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
    return AddHttpObject(std::move(object));
}

HttpHandle HttpOpenRequest(HttpHandle connection, const std::string& verb, const std::string& path, uint32_t flags) {
    auto parent = Find(connection, Kind::Connection);
    if (!parent || verb.empty() || path.empty()) return nullptr;
    for (char c : verb + path)
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0') return nullptr;
    auto request =
        std::make_shared<http::Request>(parent->session, parent->connection->handle, parent->connection->host,
                                        parent->connection->port, verb, path, flags);
    if (!request->IsOpen()) return nullptr;
    auto object = std::make_shared<HttpObject>();
    object->kind = Kind::Request;
    object->session = parent->session;
    object->connection = parent->connection;  // WinHTTP wants the connection open under its requests
    object->request = std::move(request);
    return AddHttpObject(std::move(object));
}

const HttpBackendTraits& HttpBackend() {
    // None is promised by WinHTTP's documentation for synchronous use, and Wine keeps none.
    static const HttpBackendTraits traits{false, false, false, false};
    return traits;
}

bool HttpCloseHandle(HttpHandle handle) {
    std::shared_ptr<HttpObject> object = TakeHttpObject(handle);
    if (!object) return false;
    if (object->request) object->request->Close();
    return true;  // the object goes when the last call that found it returns
}

}  // namespace velmora::platform

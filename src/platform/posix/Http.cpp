// The POSIX HTTP layer's entry points: sessions, server addresses and requests behind the
// shared handle table.
#include "platform/Http.h"

#include <memory>

#include "platform/HttpHandleTable.h"
#include "platform/posix/HttpRequest.h"
#include "platform/posix/HttpSession.h"

namespace velmora::platform {

struct HttpObject {
    enum class Kind { Session, Connection, Request };
    Kind kind;
    std::shared_ptr<http::Session> session;
    http::ServerAddress server;
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
    auto object = std::make_shared<HttpObject>();
    object->kind = Kind::Session;
    object->session = std::make_shared<http::Session>(agent);
    return AddHttpObject(std::move(object));
}

bool HttpSetTimeouts(HttpHandle session, uint32_t connectMs, uint32_t sendMs, uint32_t receiveMs) {
    auto object = Find(session, Kind::Session);
    if (!object) return false;
    object->session->SetTimeouts({connectMs, sendMs, receiveMs});
    return true;
}

bool HttpSetMaxConnectionsPerServer(HttpHandle session, uint32_t count) {
    auto object = Find(session, Kind::Session);
    if (!object || count == 0) return false;
    object->session->SetMaxConnections(count);
    return true;
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
    auto object = std::make_shared<HttpObject>();
    object->kind = Kind::Connection;
    object->session = parent->session;
    object->server = {host, port};
    return AddHttpObject(std::move(object));
}

HttpHandle HttpOpenRequest(HttpHandle connection, const std::string& verb, const std::string& path, uint32_t flags) {
    auto parent = Find(connection, Kind::Connection);
    if (!parent || verb.empty() || path.empty()) return nullptr;
    for (char c : verb + path)
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0') return nullptr;
    auto object = std::make_shared<HttpObject>();
    object->kind = Kind::Request;
    object->session = parent->session;
    object->server = parent->server;
    object->request = std::make_shared<http::Request>(parent->session, parent->server, verb, path, flags);
    return AddHttpObject(std::move(object));
}

const HttpBackendTraits& HttpBackend() {
    static const HttpBackendTraits traits{true, true, true, true};
    return traits;
}

bool HttpCloseHandle(HttpHandle handle) {
    std::shared_ptr<HttpObject> object = TakeHttpObject(handle);
    if (!object) return false;
    if (object->request) object->request->Close();
    return true;  // the object goes when the last call that found it returns
}

}  // namespace velmora::platform

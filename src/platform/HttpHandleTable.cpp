// The handle table both HTTP backends share.
#include "platform/HttpHandleTable.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace velmora::platform {

namespace {

// Handles are serial numbers, never addresses, so a handle closed long ago cannot name a newer
// object that happens to sit at the same address.
struct Registry {
    std::mutex mutex;
    uintptr_t next = 1;
    std::unordered_map<HttpHandle, std::shared_ptr<HttpObject>> objects;
};

Registry*& RegistryPointer() {
    static Registry* registry = nullptr;
    return registry;
}

// Frees the registry when the module is unloaded (or the process ends) with no handle left open,
// so that unloading the module leaks nothing. Open handles keep it alive: they may outlive statics.
struct RegistryReaper {
    ~RegistryReaper() {
        Registry*& registry = RegistryPointer();
        if (!registry) return;
        bool empty;
        {
            std::lock_guard<std::mutex> lock(registry->mutex);
            empty = registry->objects.empty();
        }
        if (empty) {
            delete registry;
            registry = nullptr;
        }
    }
};

Registry& Handles() {
    static RegistryReaper reaper;
    static const bool created = (RegistryPointer() = new Registry, true);
    (void)created;
    Registry*& registry = RegistryPointer();
    // Only during unload, after the reaper ran, by a late static destructor: single-threaded.
    if (!registry) registry = new Registry;
    return *registry;
}

}  // namespace

HttpHandle AddHttpObject(std::shared_ptr<HttpObject> object) {
    Registry& r = Handles();
    std::lock_guard<std::mutex> lock(r.mutex);
    HttpHandle key = reinterpret_cast<HttpHandle>(r.next++);
    r.objects.emplace(key, std::move(object));
    return key;
}

std::shared_ptr<HttpObject> FindHttpObject(HttpHandle handle) {
    Registry& r = Handles();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.objects.find(handle);
    return it == r.objects.end() ? nullptr : it->second;
}

std::shared_ptr<HttpObject> TakeHttpObject(HttpHandle handle) {
    Registry& r = Handles();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.objects.find(handle);
    if (it == r.objects.end()) return nullptr;
    std::shared_ptr<HttpObject> object = std::move(it->second);
    r.objects.erase(it);
    return object;
}

bool HttpSetCredentials(HttpHandle request, uint32_t target, uint32_t schemes, const std::string& user,
                        const std::string& password) {
    auto r = FindHttpRequest(request);
    return r && r->SetCredentials(target, schemes, user, password);
}

bool HttpAddRequestHeaders(HttpHandle request, const std::string& lines, uint32_t modifiers) {
    auto r = FindHttpRequest(request);
    return r && r->AddHeaders(lines, modifiers);
}

bool HttpSendRequest(HttpHandle request, const void* body, uint32_t bodySize, uint32_t totalLength) {
    auto r = FindHttpRequest(request);
    return r && r->Send(body, bodySize, totalLength);
}

bool HttpWriteData(HttpHandle request, const void* data, uint32_t size, uint32_t* written) {
    auto r = FindHttpRequest(request);
    return r && r->Write(data, size, written);
}

bool HttpReceiveResponse(HttpHandle request) {
    auto r = FindHttpRequest(request);
    return r && r->ReceiveResponse();
}

bool HttpQueryStatusCode(HttpHandle request, uint32_t* code) {
    auto r = FindHttpRequest(request);
    return r && code && r->StatusCode(code);
}

bool HttpQueryContentLength(HttpHandle request, uint32_t* length) {
    auto r = FindHttpRequest(request);
    return r && length && r->ContentLength(length);
}

bool HttpQueryHeader(HttpHandle request, const std::string& name, std::string* value) {
    auto r = FindHttpRequest(request);
    return r && value && r->Header(name, value);
}

bool HttpQueryAuthSchemes(HttpHandle request, uint32_t* supported, uint32_t* first, uint32_t* target) {
    auto r = FindHttpRequest(request);
    return r && supported && first && target && r->AuthSchemes(supported, first, target);
}

bool HttpQueryDataAvailable(HttpHandle request, uint32_t* available) {
    auto r = FindHttpRequest(request);
    return r && available && r->DataAvailable(available);
}

bool HttpReadData(HttpHandle request, void* buffer, uint32_t size, uint32_t* read) {
    auto r = FindHttpRequest(request);
    return r && read && r->Read(buffer, size, read);
}

}  // namespace velmora::platform

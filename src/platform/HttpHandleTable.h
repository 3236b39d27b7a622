// The handle table both HTTP backends share: maps the opaque handles of platform/Http.h onto the
// backend's own objects (each backend defines HttpObject). A handle is valid from its creation
// until it is taken out; every call looks it up, so a closed or foreign handle fails cleanly, and
// an object stays alive until the calls that found it have returned. Thread-safe.
//
// The entry points on a request are shared too (HttpHandleTable.cpp): they find the request and
// call the backend's operation of the same name through http::RequestBase.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Http.h"

namespace velmora::platform {

// A new handle for the object: a serial number, never an address.
HttpHandle AddHttpObject(std::shared_ptr<HttpObject> object);
// The object of an open handle; null for any other handle.
std::shared_ptr<HttpObject> FindHttpObject(HttpHandle handle);
// Closes the handle: its object, or null when the handle was not open.
std::shared_ptr<HttpObject> TakeHttpObject(HttpHandle handle);

namespace http {

// One request of a backend, as the entry points of platform/Http.h use it. Calls are made by one
// thread at a time, except Close, which may come from any thread.
class RequestBase {
public:
    virtual ~RequestBase() = default;
    virtual bool SetCredentials(uint32_t target, uint32_t schemes, const std::string& user,
                                const std::string& password) = 0;
    virtual bool AddHeaders(const std::string& lines, uint32_t modifiers) = 0;
    virtual bool Send(const void* body, uint32_t bodySize, uint32_t totalLength) = 0;
    virtual bool Write(const void* data, uint32_t size, uint32_t* written) = 0;
    virtual bool ReceiveResponse() = 0;
    virtual bool StatusCode(uint32_t* code) = 0;
    virtual bool ContentLength(uint32_t* length) = 0;
    virtual bool Header(const std::string& name, std::string* value) = 0;
    virtual bool AuthSchemes(uint32_t* supported, uint32_t* first, uint32_t* target) = 0;
    virtual bool DataAvailable(uint32_t* available) = 0;
    virtual bool Read(void* buffer, uint32_t size, uint32_t* read) = 0;
    virtual void Close() = 0;
};

}  // namespace http

// Per backend: the request of an open request handle; null for any other handle.
std::shared_ptr<http::RequestBase> FindHttpRequest(HttpHandle handle);

}  // namespace velmora::platform

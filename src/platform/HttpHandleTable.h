// The handle table both HTTP backends share: maps the opaque handles of platform/Http.h onto the
// backend's own objects (each backend defines HttpObject). A handle is valid from its creation
// until it is taken out; every call looks it up, so a closed or foreign handle fails cleanly, and
// an object stays alive until the calls that found it have returned. Thread-safe.
#pragma once
#include <memory>

#include "platform/Http.h"

namespace velmora::platform {

// A new handle for the object: a serial number, never an address.
HttpHandle AddHttpObject(std::shared_ptr<HttpObject> object);
// The object of an open handle; null for any other handle.
std::shared_ptr<HttpObject> FindHttpObject(HttpHandle handle);
// Closes the handle: its object, or null when the handle was not open.
std::shared_ptr<HttpObject> TakeHttpObject(HttpHandle handle);

}  // namespace velmora::platform

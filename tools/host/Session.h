// One opened driver as a host holds it: the loaded module, the host objects handed to Open,
// and the driver object. Used by every subcommand and by the end-to-end tests.
#pragma once
#include <memory>
#include <string>

#include "host/HostObjects.h"
#include "host/Module.h"

namespace quillon::host {

class DriverSession {
public:
    explicit DriverSession(CameraConfig config);
    ~DriverSession();
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    // Loads the module (default: the one built with this host) and opens a driver.
    bool Open(std::string* error, const std::string& modulePath = DriverModule::DefaultPath());
    // Closes and deletes the driver; safe to call twice.
    void Close();

    IIPCaptureDriverEx3* Driver() { return driver_; }
    IIPVideoCapture* Video() { return driver_ ? driver_->GetVideoCapture() : nullptr; }
    ICaptureIOApi* IO() { return driver_ ? driver_->GetIOApi() : nullptr; }
    DebugLog& Log() { return log_; }
    SampleAllocator& Allocator() { return allocator_; }
    HostConfig& Config() { return config_; }
    DriverModule& Module() { return module_; }

private:
    DriverModule module_;
    HostConfig config_;
    DebugLog log_;
    SampleAllocator allocator_;
    IIPCaptureDriverEx3* driver_ = nullptr;
};

// The four probed parameters per camera, kept in a small text file as a real host keeps them.
class ParameterStore {
public:
    // Default file: $QUILLON_HOST_STATE, else $HOME/.quillon-host-params.
    static std::string DefaultPath();
    explicit ParameterStore(std::string path = DefaultPath()) : path_(std::move(path)) {}
    // Parameters 1..4 stored for address:port; empty when none.
    std::vector<std::string> Load(const std::string& address, uint16_t port) const;
    bool Save(const std::string& address, uint16_t port, const std::vector<std::string>& parameters) const;

private:
    std::string path_;
};

}  // namespace quillon::host

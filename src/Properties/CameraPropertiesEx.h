// Abstract camera probe: owns the properties record, runs the probe (in a derived class) and
// writes the record to the host's capability-query result object.
#pragma once
#include <atomic>
#include <cstdint>

#include "Driver/IDriver.h"
#include "Properties/CameraProperties.h"
#include "quillon/CapabilityQuery.h"

namespace velmora {

class CCameraPropertiesEx : public CCameraProperties {
public:
    CCameraPropertiesEx(const DEVICE_INFO& device, int32_t videoStandard);
    virtual ~CCameraPropertiesEx() = default;
    CCameraPropertiesEx(const CCameraPropertiesEx&) = delete;
    CCameraPropertiesEx& operator=(const CCameraPropertiesEx&) = delete;

    // Runs the probe on the calling (query) thread. True when it completed and was not
    // cancelled; a failed step stores its error code; a cancellation leaves it untouched.
    virtual bool GetProperties(int32_t* errorCode) = 0;

    // Writes the record to the host's result object (its sub-objects stay the host's). False
    // without a result object or when the host hands out no sub-object to write to.
    virtual bool SaveResults(ipcapture::ICapabilityQueryResult* result);

    // Any thread, any time: the probe stops before its next request.
    virtual void Cancel() { cancelled_.store(true); }
    // Any thread: Cancel, and the request in flight fails too (at once where the platform wakes a
    // blocked call, else when its own wait ends).
    virtual void Abort() { Cancel(); }
    bool IsCancelled() const { return cancelled_.load(); }

    const DEVICE_INFO& Device() const { return device_; }
    int32_t VideoStandard() const { return videoStandard_; }

protected:
    // Set once from false to true by Cancel, read between probe steps.
    std::atomic<bool> cancelled_{false};
    DEVICE_INFO device_;
    int32_t videoStandard_;
};

}  // namespace velmora

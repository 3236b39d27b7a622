// Video sink for long runs (soak, load): counts pictures, bytes and signal losses, decodes every n-th
// picture and counts the ones that do not decode cleanly at the expected size. Keeps no picture.
//
// DeliverSample and OnSignalLost run on the module's capture thread; the readers may run on any thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "quillon/IPCapture.h"

namespace quillon::host {

class CheckingSink : public velmora::ipcapture::IVideoSink {
public:
    // checkEvery 1 decodes every picture, 0 none; width and height 0 accept any size.
    CheckingSink(uint32_t checkEvery, uint32_t width, uint32_t height)
        : checkEvery_(checkEvery), width_(width), height_(height) {}

    bool DeliverSample(velmora::ipcapture::IMediaSample* sample) override;
    void OnSignalLost() override { ++signalLosses_; }

    uint64_t Pictures() const { return pictures_.load(); }
    uint64_t Bytes() const { return bytes_.load(); }
    uint64_t SignalLosses() const { return signalLosses_.load(); }
    uint64_t Checked() const { return checked_.load(); }
    uint64_t DecodeFailures() const { return failures_.load(); }
    // CPU time the decode checks took on the capture threads, so that a load figure can leave it out.
    uint64_t CheckCpuNs() const { return checkCpuNs_.load(); }
    // What was wrong with the first picture that failed; empty when none did.
    std::string FirstFailure();

private:
    void Check(const uint8_t* data, size_t size);

    const uint32_t checkEvery_, width_, height_;
    std::atomic<uint64_t> pictures_{0}, bytes_{0}, signalLosses_{0}, checked_{0}, failures_{0}, checkCpuNs_{0};
    std::mutex mutex_;
    std::string firstFailure_;
};

}  // namespace quillon::host

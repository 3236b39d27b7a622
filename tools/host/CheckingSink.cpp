// Counting and decode-checking video sink.
#include "host/CheckingSink.h"

#include "host/JpegCheck.h"
#include "platform/System.h"

namespace quillon::host {

bool CheckingSink::DeliverSample(velmora::ipcapture::IMediaSample* sample) {
    if (!sample) return false;
    const uint64_t index = pictures_++;
    bytes_ += sample->GetSize();
    if (checkEvery_ != 0 && index % checkEvery_ == 0) Check(sample->GetData(), sample->GetSize());
    return true;
}

void CheckingSink::Check(const uint8_t* data, size_t size) {
    uint64_t cpu0 = 0, cpu1 = 0;
    velmora::platform::CurrentThreadCpuTimeNs(&cpu0);
    const DecodedPicture decoded = DecodeJpeg(data, size);
    std::string failure;
    if (!decoded.ok)
        failure = "does not decode: " + decoded.error;
    else if (decoded.warnings > 0)
        failure = "decodes with " + std::to_string(decoded.warnings) + " warning(s)";
    else if ((width_ && decoded.width != width_) || (height_ && decoded.height != height_))
        failure = "is " + std::to_string(decoded.width) + "x" + std::to_string(decoded.height) + ", not " +
                  std::to_string(width_) + "x" + std::to_string(height_);
    ++checked_;
    if (!failure.empty()) {
        ++failures_;
        std::lock_guard<std::mutex> lock(mutex_);
        if (firstFailure_.empty()) firstFailure_ = "picture of " + std::to_string(size) + " bytes " + failure;
    }
    if (velmora::platform::CurrentThreadCpuTimeNs(&cpu1) && cpu1 > cpu0) checkCpuNs_ += cpu1 - cpu0;
}

std::string CheckingSink::FirstFailure() {
    std::lock_guard<std::mutex> lock(mutex_);
    return firstFailure_;
}

}  // namespace quillon::host

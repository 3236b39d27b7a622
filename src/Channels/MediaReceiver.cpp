// The picture path to the host: allocate, fill, hand over, release.
#include "Channels/MediaReceiver.h"

#include <algorithm>
#include <cstring>

#include "Driver/IDriver.h"

namespace velmora {

uint32_t PictureSizeClass(uint32_t width, uint32_t height) {
    if (width < 1024 && width > 2 * height) return 3;
    if (width <= 400) return 2;
    return 4;
}

bool DeliverPicture(IDriver* driver, IMediaReceiver* receiver, const uint8_t* data, uint32_t size, uint32_t width,
                    uint32_t height, const char* sourceName) {
    if (!receiver) return false;
    PictureSample sample;
    if (!sample.Begin(driver, size, width, height, sourceName)) return false;
    sample.Append(data, size);
    return sample.Deliver(receiver);
}

bool PictureSample::Begin(IDriver* driver, uint32_t size, uint32_t width, uint32_t height, const char* sourceName) {
    Abandon();
    if (!driver) return false;
    ipcapture::ISampleAllocator* allocator = driver->GetSampleAllocator();
    if (!allocator) return false;
    ipcapture::IMediaSample* sample = nullptr;
    try {
        sample = allocator->AllocateSample(ipcapture::kFormatJpeg, size, sourceName);
    } catch (...) {
        return false;
    }
    if (!sample) return false;
    allocator_ = allocator;
    sample_ = sample;
    try {
        sample->SetWidth(width);
        sample->SetHeight(height);
        sample->SetSizeClass(PictureSizeClass(width, height));
        sample->SetSize(size);
        sample->SetFormat(ipcapture::kFormatJpeg);
        sample->Commit();
        data_ = sample->GetData();
        // A host buffer smaller than the picture takes what fits, as one copy bounded by its size would.
        room_ = data_ ? std::min(size, sample->GetSize()) : 0;
    } catch (...) {
        Abandon();
        return false;
    }
    filled_ = 0;
    return true;
}

bool PictureSample::Append(const uint8_t* data, uint32_t size) {
    if (!sample_ || !data) return false;
    const uint32_t n = std::min(size, room_ - filled_);
    if (n > 0) std::memcpy(data_ + filled_, data, n);
    filled_ += n;
    return n == size;
}

bool PictureSample::Deliver(IMediaReceiver* receiver) {
    if (!sample_) return false;
    bool accepted = false;
    if (receiver) {
        try {
            accepted = receiver->OnMediaSample(sample_);
        } catch (...) {
            accepted = false;
        }
    }
    Abandon();
    return accepted;
}

void PictureSample::Abandon() {
    if (!sample_) return;
    try {
        allocator_->ReleaseSample(sample_);
    } catch (...) {
    }
    sample_ = nullptr;
    allocator_ = nullptr;
    data_ = nullptr;
}

}  // namespace velmora

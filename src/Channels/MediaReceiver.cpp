// The picture path to the host: allocate, fill, hand over, release.
#include "Channels/MediaReceiver.h"

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
    if (!driver || !receiver) return false;
    ipcapture::ISampleAllocator* allocator = driver->GetSampleAllocator();
    if (!allocator) return false;
    ipcapture::IMediaSample* sample = nullptr;
    try {
        sample = allocator->AllocateSample(ipcapture::kFormatJpeg, size, sourceName);
    } catch (...) {
        return false;
    }
    if (!sample) return false;
    bool accepted = false;
    try {
        sample->SetWidth(width);
        sample->SetHeight(height);
        sample->SetSizeClass(PictureSizeClass(width, height));
        sample->SetSize(size);
        sample->SetFormat(ipcapture::kFormatJpeg);
        sample->Commit();
        if (uint8_t* target = sample->GetData()) {
            uint32_t room = sample->GetSize();
            std::memcpy(target, data, size < room ? size : room);
        }
        accepted = receiver->OnMediaSample(sample);
    } catch (...) {
        accepted = false;
    }
    try {
        allocator->ReleaseSample(sample);
    } catch (...) {
    }
    return accepted;
}

}  // namespace velmora

// Where a producer hands each finished picture, as a host media sample.
#pragma once
#include <cstdint>

#include "quillon/Media.h"

namespace velmora {

class IMediaReceiver {
public:
    virtual ~IMediaReceiver() = default;
    // True when the host accepted the picture.
    virtual bool OnMediaSample(ipcapture::IMediaSample* sample) = 0;
};

// Size class of a picture for the host's sample.
uint32_t PictureSizeClass(uint32_t width, uint32_t height);

// Copies one JPEG picture into a sample from the driver's allocator and hands it to the
// receiver; the sample is released whatever the outcome. False when nothing was delivered.
class IDriver;
bool DeliverPicture(IDriver* driver, IMediaReceiver* receiver, const uint8_t* data, uint32_t size, uint32_t width,
                    uint32_t height, const char* sourceName);

}  // namespace velmora

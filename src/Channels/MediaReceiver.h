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

// The same delivery in steps, for a picture whose bytes come in pieces that can go straight into the
// sample: Begin allocates and describes it, Append copies the next piece behind the previous ones
// (bounded by the sample's size, as the one copy is), Deliver hands it to the receiver; Deliver,
// Abandon or destruction release it.
class PictureSample {
public:
    PictureSample() = default;
    ~PictureSample() { Abandon(); }
    PictureSample(const PictureSample&) = delete;
    PictureSample& operator=(const PictureSample&) = delete;

    // False (and nothing held) when the host gives no sample.
    bool Begin(IDriver* driver, uint32_t size, uint32_t width, uint32_t height, const char* sourceName);
    bool Active() const { return sample_ != nullptr; }
    // False when the piece did not fit whole in the sample.
    bool Append(const uint8_t* data, uint32_t size);
    uint32_t Filled() const { return filled_; }
    // False when nothing was delivered: no sample, or the receiver refused it (or threw).
    bool Deliver(IMediaReceiver* receiver);
    void Abandon();

private:
    ipcapture::ISampleAllocator* allocator_ = nullptr;
    ipcapture::IMediaSample* sample_ = nullptr;
    uint8_t* data_ = nullptr;
    uint32_t room_ = 0;
    uint32_t filled_ = 0;
};

}  // namespace velmora

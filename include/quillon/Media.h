// Host objects on the picture path: allocator, media sample, video sink and channel settings.
// Entries are in slot order; placeholders are never called by the driver.
#pragma once
#include "quillon/Abi.h"
#include <cstdint>

namespace velmora::ipcapture {

// "JPEG" as a little-endian 32-bit number.
constexpr uint32_t kFormatJpeg = 0x4745504A;

class IMediaSample {
public:
    QUILLON_DESTRUCTOR(IMediaSample)                           // 1
    virtual void Unused2() {}                                  // 2
    virtual uint8_t* GetData() = 0;                            // 3
    virtual uint32_t GetSize() = 0;                            // 4
    virtual void SetSize(uint32_t size) = 0;                   // 5
    virtual void Commit() = 0;                                 // 6: called once after SetFormat
    virtual void Unused7() {}                                  // 7
    virtual void Unused8() {}                                  // 8
    virtual void Unused9() {}                                  // 9
    virtual void Unused10() {}                                 // 10
    virtual void SetFormat(uint32_t format) = 0;               // 11
    virtual void Unused12() {}                                 // 12
    virtual void SetHeight(uint32_t height) = 0;               // 13
    virtual void Unused14() {}                                 // 14
    virtual void SetWidth(uint32_t width) = 0;                 // 15
    virtual void Unused16() {}                                 // 16
    virtual void SetSizeClass(uint32_t sizeClass) = 0;         // 17
    QUILLON_DESTRUCTOR_TAIL(IMediaSample)
};

// The host uses a sample only during DeliverSample; the producer releases it afterwards.
class ISampleAllocator {
public:
    QUILLON_DESTRUCTOR(ISampleAllocator)                       // 1
    virtual void Unused2() {}                                  // 2
    virtual IMediaSample* AllocateSample(uint32_t format, uint32_t size,
                                         const char* sourceName) = 0;  // 3
    virtual void Unused4() {}                                  // 4
    virtual void Unused5() {}                                  // 5
    virtual void Unused6() {}                                  // 6
    virtual void ReleaseSample(IMediaSample* sample) = 0;      // 7
    QUILLON_DESTRUCTOR_TAIL(ISampleAllocator)
};

// One per started channel; both entries are called from the channel's capture thread.
class IVideoSink {
public:
    QUILLON_DESTRUCTOR(IVideoSink)                             // 1
    virtual bool DeliverSample(IMediaSample* sample) = 0;      // 2
    virtual void Unused3() {}                                  // 3
    virtual void OnSignalLost() = 0;                           // 4
    QUILLON_DESTRUCTOR_TAIL(IVideoSink)
};

class IResolution {
public:
    QUILLON_DESTRUCTOR(IResolution)                            // 1
    virtual uint16_t GetWidth() = 0;                           // 2
    virtual uint16_t GetHeight() = 0;                          // 3
    QUILLON_DESTRUCTOR_TAIL(IResolution)
};

class IVideoFormat {
public:
    QUILLON_DESTRUCTOR(IVideoFormat)                           // 1
    virtual void Unused2() {}                                  // 2
    virtual void Unused3() {}                                  // 3
    virtual IResolution* GetResolution() = 0;                  // 4
    QUILLON_DESTRUCTOR_TAIL(IVideoFormat)
};

class IRateControl {
public:
    QUILLON_DESTRUCTOR(IRateControl)                           // 1
    virtual uint16_t GetFrameInterval() = 0;                   // 2: ms between pictures
    virtual void Unused3() {}                                  // 3
    virtual uint16_t GetQuality() = 0;                         // 4: percent
    QUILLON_DESTRUCTOR_TAIL(IRateControl)
};

class IChannelSettings {
public:
    QUILLON_DESTRUCTOR(IChannelSettings)                       // 1
    virtual IVideoFormat* GetVideoFormat() = 0;                // 2
    virtual IRateControl* GetRateControl() = 0;                // 3
    QUILLON_DESTRUCTOR_TAIL(IChannelSettings)
};

}  // namespace velmora::ipcapture

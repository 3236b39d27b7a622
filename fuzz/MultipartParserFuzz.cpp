// libFuzzer target: arbitrary bytes as a multipart JPEG body, handed to the JPEG stream parser in
// arbitrary chunk splits (the first two input bytes seed them). Every delivered picture must start
// with SOI, end with EOI and fit the parser's frame limit; the parser never holds more than that.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Channels/HttpMediaParser.h"
#include "Channels/MediaReceiver.h"
#include "Driver/IDriver.h"

namespace {

using velmora::ipcapture::IMediaSample;
using velmora::ipcapture::ISampleAllocator;

void Check(bool condition) {
    if (!condition) std::abort();
}

class Sample : public IMediaSample {
public:
    explicit Sample(uint32_t size) : data_(size) {}
    uint8_t* GetData() override { return data_.data(); }
    uint32_t GetSize() override { return size_; }
    void SetSize(uint32_t size) override { size_ = size <= data_.size() ? size : static_cast<uint32_t>(data_.size()); }
    void Commit() override {}
    void SetFormat(uint32_t) override {}
    void SetHeight(uint32_t) override {}
    void SetWidth(uint32_t) override {}
    void SetSizeClass(uint32_t) override {}

private:
    std::vector<uint8_t> data_;
    uint32_t size_ = 0;
};

class Allocator : public ISampleAllocator {
public:
    IMediaSample* AllocateSample(uint32_t, uint32_t size, const char*) override {
        ++outstanding;
        return new Sample(size);
    }
    void ReleaseSample(IMediaSample* sample) override {
        --outstanding;
        delete sample;
    }
    int outstanding = 0;
};

class Driver : public velmora::IDriver {
public:
    explicit Driver(Allocator* allocator) : allocator_(allocator) {}
    void DebugMessage(int, const char* format, ...) override { Check(format != nullptr); }
    velmora::DEVICE_INFO GetDeviceInfo() override { return {}; }
    std::pair<int32_t, int32_t> GetIOCount() override { return {0, 0}; }
    ISampleAllocator* GetSampleAllocator() override { return allocator_; }
    int32_t GetVideoStandard() override { return 0; }
    int32_t GetStreamType() override { return velmora::kStreamMjpeg; }
    int32_t GetChannelCount() override { return 1; }
    velmora::StreamParameters GetChannelParameters(uint32_t) override { return {}; }
    std::string GetParameter(int32_t) override { return {}; }
    int32_t GetParameterInt(int32_t) override { return 0; }

private:
    Allocator* allocator_;
};

class Receiver : public velmora::IMediaReceiver {
public:
    bool OnMediaSample(IMediaSample* sample) override {
        const uint32_t size = sample->GetSize();
        const uint8_t* p = sample->GetData();
        Check(size >= 4 && size <= velmora::CHttpMediaParser::kMaxFrameBytes);
        Check(p[0] == 0xFF && p[1] == 0xD8 && p[size - 2] == 0xFF && p[size - 1] == 0xD9);
        ++pictures;
        return true;
    }
    size_t pictures = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint32_t state = (static_cast<uint32_t>(data[0]) << 8 | data[1]) * 2654435761u + 1;
    data += 2;
    size -= 2;
    Allocator allocator;
    Driver driver(&allocator);
    Receiver receiver;
    velmora::CJpegMediaParser parser(&driver, "fuzz");
    parser.SetReceiver(&receiver);
    size_t pos = 0;
    while (pos < size) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        // Mostly small chunks (splitting markers and boundary lines), sometimes large ones.
        const size_t chunk = (state & 7) == 0 ? 1 + state % 65536 : 1 + state % 64;
        const size_t n = chunk < size - pos ? chunk : size - pos;
        parser.Parse(data + pos, n);
        Check(parser.BufferedBytes() <= velmora::CHttpMediaParser::kMaxFrameBytes);
        pos += n;
    }
    // A picture can only come out of an SOI..EOI pair in the input.
    if (receiver.pictures > 0) Check(size >= 4);
    Check(allocator.outstanding == 0);
    return 0;
}

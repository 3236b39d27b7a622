// Multipart JPEG stream parser: cuts pictures at the start- and end-of-image markers of a body
// handed over in arbitrary read chunks, reads the size from the baseline start-of-frame marker,
// and guards its frame buffer. Pure: no sockets or threads; runs on the channel's capture thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Channels/MediaReceiver.h"
#include "Driver/IDriver.h"

namespace velmora {

class CHttpMediaParser {
public:
    CHttpMediaParser(IDriver* driver, std::string sourceName);
    virtual ~CHttpMediaParser() = default;
    virtual void Parse(const uint8_t* data, size_t size) = 0;

    void SetReceiver(IMediaReceiver* receiver) { receiver_ = receiver; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    size_t BufferedBytes() const { return frame_.size(); }

    // 10 MiB: a longer "picture" is a broken stream, not a camera picture.
    static constexpr size_t kMaxFrameBytes = 0xA00000;

protected:
    bool CheckBufferSize();
    void DeliverFrame();

    IMediaReceiver* receiver_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    std::vector<uint8_t> frame_;
    IDriver* driver_;
    std::string sourceName_;
};

class CJpegMediaParser : public CHttpMediaParser {
public:
    using CHttpMediaParser::CHttpMediaParser;
    void Parse(const uint8_t* data, size_t size) override;

private:
    void OnMarker(uint8_t code, const uint8_t* data, size_t size, long markerPos, size_t& start);
    void TryReadPendingSize();

    bool inPicture_ = false;
    // The previous chunk ended in 0xFF: the first byte of this chunk is a marker code.
    bool pendingFF_ = false;
    // Offset in frame_ of a start-of-frame marker whose size bytes have not all arrived.
    long pendingSof_ = -1;
};

}  // namespace velmora

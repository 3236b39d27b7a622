// Multipart JPEG stream parser: cuts pictures at the start- and end-of-image markers of a body
// handed over in arbitrary read chunks, reads the size from the baseline start-of-frame marker,
// and guards its frame buffer. Pure: no sockets or threads; runs on the channel's capture thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Channels/MediaReceiver.h"
#include "Driver/IDriver.h"

namespace velmora {

class CHttpMediaParser {
public:
    CHttpMediaParser(IDriver* driver, std::string sourceName);
    virtual ~CHttpMediaParser() = default;
    // Copies a chunk behind the bytes held and parses it: Reserve, copy, Commit.
    void Parse(const uint8_t* data, size_t size);
    // Room for `size` bytes behind the bytes held, so a read can land where the picture is kept and
    // its bytes are never copied into the parser. Valid until the next Reserve or Parse; null only
    // when the memory cannot be had.
    uint8_t* Reserve(size_t size);
    // Parses `size` bytes written at the last Reserve's address.
    virtual void Commit(size_t size) = 0;

    void SetReceiver(IMediaReceiver* receiver) { receiver_ = receiver; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    // Bytes the frame buffer holds: the picture being assembled, or what is collected between pictures.
    size_t BufferedBytes() const { return frameBytes_; }

    // 10 MiB: a longer "picture" is a broken stream, not a camera picture.
    static constexpr size_t kMaxFrameBytes = 0xA00000;

protected:
    bool CheckBufferSize();
    void DeliverFrame(const uint8_t* data, size_t size);
    // Forgets the bytes before `offset`; offsets taken before point `offset` lower after it.
    virtual void Discard(size_t offset) = 0;

    IMediaReceiver* receiver_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    // The bytes read: [0, fill_) of buffer_. Only the tail a picture or a pending marker needs is kept
    // between reads (Discard); frameBytes_ counts what the frame buffer holds logically.
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    size_t fill_ = 0;
    size_t frameBytes_ = 0;
    IDriver* driver_;
    std::string sourceName_;

private:
    // Offset of the first byte the parser still needs (fill_ when none).
    virtual size_t FirstNeededByte() const = 0;
};

class CJpegMediaParser : public CHttpMediaParser {
public:
    using CHttpMediaParser::CHttpMediaParser;
    void Commit(size_t size) override;

private:
    void OnMarker(uint8_t code, size_t pos, size_t chunkStart);
    // Reads the size of a pending start-of-frame marker once its bytes lie before `end`.
    void TryReadPendingSize(size_t end);
    void Discard(size_t offset) override;
    size_t FirstNeededByte() const override;

    bool inPicture_ = false;
    size_t frameStart_ = 0;  // offset of the picture's 0xFF 0xD8 while inPicture_
    // Offset of the next byte to scan: a 0xFF at the end of the bytes read waits there for its code.
    size_t scanFrom_ = 0;
    // Offset of a start-of-frame marker whose size bytes have not all arrived.
    long pendingSof_ = -1;
    // Between pictures the frame buffer collects (and later drops) what follows an end of image: its
    // length, as the overflow check sees it.
    size_t collected_ = 0;
    bool endInRead_ = false;  // an end of image was met in the read being parsed
};

}  // namespace velmora

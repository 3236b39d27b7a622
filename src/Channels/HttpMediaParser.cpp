// Multipart JPEG parser.
#include "Channels/HttpMediaParser.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Channels/ByteScan.h"

namespace velmora {

namespace {
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfFrame = 0xC0;
// Bytes from the 0xFF of a start-of-frame marker through the width.
constexpr size_t kSofSizeSpan = 9;
}  // namespace

CHttpMediaParser::CHttpMediaParser(IDriver* driver, std::string sourceName)
    : driver_(driver), sourceName_(std::move(sourceName)) {}

bool CHttpMediaParser::CheckBufferSize() {
    if (frameBytes_ <= kMaxFrameBytes) return true;
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    driver_->DebugMessage(kLevelError, "%s(): Frame buffer overflow detected, device %s:%u",
                          "velmora::CHttpMediaParser::CheckBufferSize", device.Address.c_str(),
                          static_cast<unsigned>(device.Port));
    return false;
}

void CHttpMediaParser::DeliverFrame(const uint8_t* data, size_t size) {
    if (!receiver_ || width_ == 0 || height_ == 0) return;
    DeliverPicture(driver_, receiver_, data, static_cast<uint32_t>(size), width_, height_, sourceName_.c_str());
}

void CHttpMediaParser::Parse(const uint8_t* data, size_t size) {
    if (!data || size == 0) return;
    uint8_t* target = Reserve(size);
    if (!target) return;
    std::memcpy(target, data, size);
    Commit(size);
}

uint8_t* CHttpMediaParser::Reserve(size_t size) {
    const size_t keep = FirstNeededByte();
    // Bytes nobody needs go at once; needed ones move to the front only when the room runs out, so
    // a picture is moved at most once, and then only the part that arrived before the move.
    if (keep == fill_ || capacity_ - fill_ < size) {
        if (keep > 0) {
            std::memmove(buffer_.get(), buffer_.get() + keep, fill_ - keep);
            fill_ -= keep;
            Discard(keep);
        }
    }
    if (capacity_ - fill_ < size) {
        constexpr size_t kFirstCapacity = 256 * 1024;
        const size_t wanted = std::max({fill_ + size, capacity_ * 2, kFirstCapacity});
        std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[wanted]);
        if (!grown) return nullptr;
        if (fill_ > 0) std::memcpy(grown.get(), buffer_.get(), fill_);
        buffer_ = std::move(grown);
        capacity_ = wanted;
    }
    return buffer_.get() + fill_;
}

size_t CJpegMediaParser::FirstNeededByte() const {
    size_t keep = inPicture_ ? frameStart_ : scanFrom_;
    return keep < fill_ ? keep : fill_;
}

void CJpegMediaParser::Discard(size_t offset) {
    frameStart_ = frameStart_ > offset ? frameStart_ - offset : 0;
    scanFrom_ = scanFrom_ > offset ? scanFrom_ - offset : 0;
    if (pendingSof_ >= 0) pendingSof_ = static_cast<size_t>(pendingSof_) >= offset ? pendingSof_ - static_cast<long>(offset) : -1;
}

void CJpegMediaParser::TryReadPendingSize(size_t end) {
    if (pendingSof_ < 0 || end < static_cast<size_t>(pendingSof_) + kSofSizeSpan) return;
    const uint8_t* p = buffer_.get() + pendingSof_;
    height_ = uint32_t(p[5]) << 8 | p[6];
    width_ = uint32_t(p[7]) << 8 | p[8];
    pendingSof_ = -1;
}

// pos is the offset of the marker's 0xFF; chunkStart that of the first byte of this read (pos may lie
// one before it, when the 0xFF ended the previous read).
void CJpegMediaParser::OnMarker(uint8_t code, size_t pos, size_t chunkStart) {
    switch (code) {
        case kStartOfImage:
            inPicture_ = true;
            frameStart_ = pos;
            pendingSof_ = -1;
            collected_ = 0;
            break;
        case kEndOfImage:
            TryReadPendingSize(pos + 2);
            if (inPicture_) DeliverFrame(buffer_.get() + frameStart_, pos + 2 - frameStart_);
            inPicture_ = false;
            pendingSof_ = -1;
            // The frame buffer goes on collecting this read from its first byte until the next start
            // of image drops it: nothing of it reaches a picture, but it counts against the limit.
            collected_ = fill_ - chunkStart;
            endInRead_ = true;
            break;
        case kStartOfFrame:
            if (!inPicture_) break;
            if (pos >= chunkStart && pos + kSofSizeSpan <= fill_) {
                const uint8_t* p = buffer_.get() + pos;
                height_ = uint32_t(p[5]) << 8 | p[6];
                width_ = uint32_t(p[7]) << 8 | p[8];
            } else {
                // The size bytes continue in a later read: take them once they are here.
                pendingSof_ = static_cast<long>(pos);
            }
            break;
        default:
            break;
    }
}

void CJpegMediaParser::Commit(size_t size) {
    if (size == 0 || size > capacity_ - fill_) return;
    const size_t chunkStart = fill_;
    endInRead_ = false;
    fill_ += size;
    const uint8_t* data = buffer_.get();
    // Every 0xFF is looked at, so 0xFF 0xFF 0xD8 is a start of image at the second 0xFF. A 0xFF that
    // ends the read is looked at again with the next one.
    const size_t from = scanFrom_ < chunkStart ? scanFrom_ : chunkStart;
    scanFrom_ = fill_;
    ForEachMarkerByte(data + from, fill_ - from, [&](size_t at) {
        const size_t pos = from + at;
        if (pos + 1 >= fill_) {
            scanFrom_ = pos;
            return false;
        }
        OnMarker(data[pos + 1], pos, chunkStart);
        return true;
    });
    if (inPicture_) {
        frameBytes_ = fill_ - frameStart_;
    } else {
        if (!endInRead_) collected_ += size;  // between pictures a read is collected whole
        frameBytes_ = collected_;
    }
    TryReadPendingSize(fill_);
    if (!CheckBufferSize()) {
        inPicture_ = false;
        pendingSof_ = -1;
        collected_ = 0;
        frameBytes_ = 0;
    }
}

}  // namespace velmora

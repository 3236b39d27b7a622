// Multipart JPEG parser.
#include "Channels/HttpMediaParser.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUILLON_SCAN_SSE2 1
#endif

namespace velmora {

namespace {
constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfFrame = 0xC0;
// Bytes from the 0xFF of a start-of-frame marker through the width.
constexpr size_t kSofSizeSpan = 9;

// Calls visit(pos) for every 0xFF byte of data, in order, until it returns false. Entropy-coded data
// holds a stuffed 0xFF every few hundred bytes, so a library search restarted after each one spends
// most of its time starting; 64-byte blocks with a bit mask of their 0xFF bytes do not restart.
template <class Visit>
inline void ForEachMarkerByte(const uint8_t* data, size_t size, Visit&& visit) {
    size_t i = 0;
#ifdef QUILLON_SCAN_SSE2
    const __m128i ff = _mm_set1_epi8(static_cast<char>(kMarker));
    for (; i + 64 <= size; i += 64) {
        const __m128i* block = reinterpret_cast<const __m128i*>(data + i);
        const uint64_t m0 = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(block), ff)));
        const uint64_t m1 = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(block + 1), ff)));
        const uint64_t m2 = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(block + 2), ff)));
        const uint64_t m3 = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(block + 3), ff)));
        for (uint64_t mask = m0 | m1 << 16 | m2 << 32 | m3 << 48; mask != 0; mask &= mask - 1)
            if (!visit(i + static_cast<size_t>(std::countr_zero(mask)))) return;
    }
#endif
    while (i < size) {
        const void* hit = std::memchr(data + i, kMarker, size - i);
        if (!hit) return;
        const size_t pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
        if (!visit(pos)) return;
        i = pos + 1;
    }
}
}  // namespace

CHttpMediaParser::CHttpMediaParser(IDriver* driver, std::string sourceName)
    : driver_(driver), sourceName_(std::move(sourceName)) {}

bool CHttpMediaParser::CheckBufferSize() {
    if (frame_.size() <= kMaxFrameBytes) return true;
    const DEVICE_INFO device = driver_->GetDeviceInfo();
    driver_->DebugMessage(kLevelError, "%s(): Frame buffer overflow detected, device %s:%u",
                          "velmora::CHttpMediaParser::CheckBufferSize", device.Address.c_str(),
                          static_cast<unsigned>(device.Port));
    return false;
}

void CHttpMediaParser::DeliverFrame() {
    if (!receiver_ || width_ == 0 || height_ == 0) return;
    DeliverPicture(driver_, receiver_, frame_.data(), static_cast<uint32_t>(frame_.size()), width_, height_,
                   sourceName_.c_str());
}

void CJpegMediaParser::TryReadPendingSize() {
    if (pendingSof_ < 0 || frame_.size() < static_cast<size_t>(pendingSof_) + kSofSizeSpan) return;
    const uint8_t* p = frame_.data() + pendingSof_;
    height_ = uint32_t(p[5]) << 8 | p[6];
    width_ = uint32_t(p[7]) << 8 | p[8];
    pendingSof_ = -1;
}

// markerPos is the offset of the 0xFF in this chunk, -1 when it ended the previous chunk.
void CJpegMediaParser::OnMarker(uint8_t code, const uint8_t* data, size_t size, long markerPos, size_t& start) {
    switch (code) {
        case kStartOfImage:
            frame_.clear();
            inPicture_ = true;
            pendingSof_ = -1;
            if (markerPos < 0) {
                frame_.push_back(kMarker);
                start = 0;
            } else {
                start = static_cast<size_t>(markerPos);
            }
            break;
        case kEndOfImage: {
            size_t end = static_cast<size_t>(markerPos + 2);  // through the 0xD9
            frame_.insert(frame_.end(), data + start, data + end);
            TryReadPendingSize();
            if (inPicture_) DeliverFrame();
            frame_.clear();
            inPicture_ = false;
            pendingSof_ = -1;
            start = 0;
            break;
        }
        case kStartOfFrame:
            if (!inPicture_) break;
            if (markerPos >= 0 && static_cast<size_t>(markerPos) + kSofSizeSpan <= size) {
                const uint8_t* p = data + markerPos;
                height_ = uint32_t(p[5]) << 8 | p[6];
                width_ = uint32_t(p[7]) << 8 | p[8];
            } else {
                // The size bytes continue in a later chunk: read them once they are in the frame.
                long inChunk = markerPos - static_cast<long>(start);
                pendingSof_ = static_cast<long>(frame_.size()) + inChunk;
            }
            break;
        default:
            break;
    }
}

void CJpegMediaParser::Parse(const uint8_t* data, size_t size) {
    if (!data || size == 0) return;
    size_t start = 0;
    if (pendingFF_) {
        pendingFF_ = false;
        OnMarker(data[0], data, size, -1, start);
    }
    // Every 0xFF is looked at, so 0xFF 0xFF 0xD8 is a start of image at the second 0xFF.
    ForEachMarkerByte(data, size, [&](size_t pos) {
        if (pos + 1 >= size) {
            pendingFF_ = true;
            return false;
        }
        OnMarker(data[pos + 1], data, size, static_cast<long>(pos), start);
        return true;
    });
    if (start < size) frame_.insert(frame_.end(), data + start, data + size);
    TryReadPendingSize();
    if (!CheckBufferSize()) {
        inPicture_ = false;
        pendingSof_ = -1;
        frame_.clear();
    }
}

}  // namespace velmora

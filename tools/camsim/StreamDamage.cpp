// Stream content damage: locating the scan, overwriting or marking it, gap bytes, padding.
#include "camsim/StreamDamage.h"

#include <algorithm>
#include <chrono>

namespace camsim {

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kComment = 0xFE;
constexpr size_t kMaxSegmentPayload = 65533;  // a segment length counts itself and fits 16 bits

// xorshift32: reproducible bytes without the standard library's distribution differences.
uint32_t Next(uint32_t& x) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

uint8_t NonMarkerByte(uint32_t& x) {
    const uint8_t b = static_cast<uint8_t>(Next(x) & 0xFF);
    return b == kMarker ? 0xFE : b;
}

}  // namespace

bool StreamDamage::Applies(uint64_t k) const {
    if (k < firstPicture) return false;
    const uint64_t step = every == 0 ? 1 : every;
    if ((k - firstPicture) % step != 0) return false;
    return count == 0 || (k - firstPicture) / step < count;
}

bool FindScan(const std::vector<uint8_t>& p, size_t* begin, size_t* end) {
    const size_t n = p.size();
    if (n < 4 || p[0] != kMarker || p[1] != 0xD8 || p[n - 2] != kMarker || p[n - 1] != kEndOfImage) return false;
    size_t i = 2;
    while (i + 4 <= n) {
        if (p[i] != kMarker) return false;
        const uint8_t code = p[i + 1];
        const size_t length = static_cast<size_t>(p[i + 2]) << 8 | p[i + 3];
        if (length < 2 || i + 2 + length > n) return false;
        i += 2 + length;
        if (code == kStartOfScan) {
            if (i >= n - 2) return false;
            *begin = i;
            *end = n - 2;
            return true;
        }
    }
    return false;
}

size_t DamageScan(std::vector<uint8_t>* picture, const StreamDamage& damage, uint32_t seed) {
    size_t begin = 0, end = 0;
    if (damage.scan == StreamDamage::Scan::None || !FindScan(*picture, &begin, &end)) return SIZE_MAX;
    std::vector<uint8_t>& p = *picture;
    const size_t span = damage.scan == StreamDamage::Scan::Marker ? 2 : std::max<size_t>(damage.overwriteBytes, 1);
    size_t at = begin + (end - begin) / 2;
    // Past a data 0xFF: the changed bytes must not pair with one left before them.
    while (at > begin && at < end && p[at - 1] == kMarker) ++at;
    if (at <= begin || at + span > end) return SIZE_MAX;
    uint32_t x = seed ? seed : 0x9E3779B9u;
    if (damage.scan == StreamDamage::Scan::Marker) {
        p[at] = kMarker;
        p[at + 1] = damage.scanMarker;
    } else {
        for (size_t i = 0; i < span; ++i) p[at + i] = NonMarkerByte(x);
    }
    return at;
}

std::vector<uint8_t> GapBytes(const StreamDamage& damage, uint32_t seed) {
    std::vector<uint8_t> gap(damage.gapBytes);
    uint32_t x = seed ? seed : 0x2545F491u;
    for (uint8_t& b : gap) b = NonMarkerByte(x);
    if (damage.gapMarker != 0 && gap.size() >= 2) {
        const size_t at = gap.size() / 2 - 1;
        gap[at] = kMarker;
        gap[at + 1] = damage.gapMarker;
    }
    return gap;
}

void PadPicture(std::vector<uint8_t>* picture, size_t bytes) {
    if (picture->size() < 2 || bytes == 0) return;
    std::vector<uint8_t> pad;
    pad.reserve(bytes + kMaxSegmentPayload + 4);
    while (pad.size() < bytes) {
        const size_t payload = kMaxSegmentPayload;
        const size_t length = payload + 2;
        pad.push_back(kMarker);
        pad.push_back(kComment);
        pad.push_back(static_cast<uint8_t>(length >> 8));
        pad.push_back(static_cast<uint8_t>(length & 0xFF));
        pad.insert(pad.end(), payload, static_cast<uint8_t>('P'));
    }
    picture->insert(picture->begin() + 2, pad.begin(), pad.end());
}

void DamageLog::Add(DamageRecord record) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(std::move(record));
    }
    added_.notify_all();
}

std::vector<DamageRecord> DamageLog::Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

size_t DamageLog::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

bool DamageLog::WaitForCount(size_t n, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return added_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return records_.size() >= n; });
}

void DamageLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
}

}  // namespace camsim

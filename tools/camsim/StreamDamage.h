// Damage the simulator can do to the pictures of a live stream: bytes between parts, a scan with
// bytes overwritten or a marker planted in it, a picture padded past a reader's buffer. The helpers
// are pure (bytes in, bytes out); DamageLog keeps what was sent so tests can compare with what the
// module delivered.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace camsim {

struct StreamDamage {
    enum class Scan { None, Overwrite, Marker };

    // Pictures (counted from 0 on each stream connection) that are damaged: firstPicture, then every
    // `every`-th after it, at most `count` of them (0: no limit).
    uint64_t firstPicture = 0;
    uint64_t every = 1;
    uint64_t count = 1;
    // Bytes sent after the damaged picture, before the next part (MJPEG) or frame (MxPEG). They hold
    // no 0xFF, except gapMarker (when not 0) which follows one 0xFF in their middle.
    size_t gapBytes = 0;
    uint8_t gapMarker = 0;
    // Scan damage, in the middle of the entropy-coded data: `overwriteBytes` bytes replaced by bytes
    // other than 0xFF, or two bytes replaced by 0xFF scanMarker (0xD9 cuts the picture short).
    Scan scan = Scan::None;
    uint8_t scanMarker = 0;
    size_t overwriteBytes = 16;
    // Comment segments of at least this many bytes in all, right after the SOI marker.
    size_t padBytes = 0;
    // Motion-JPEG pictures encoded progressively: valid JPEG, but with no baseline start-of-frame.
    bool progressive = false;

    bool Any() const { return gapBytes > 0 || scan != Scan::None || padBytes > 0 || progressive; }
    // Whether picture k is damaged.
    bool Applies(uint64_t k) const;
};

// Offsets of the entropy-coded data of a JPEG or MxPEG frame: begin just after the SOS segment, end
// at the final EOI marker. False when the bytes do not have that shape.
bool FindScan(const std::vector<uint8_t>& picture, size_t* begin, size_t* end);

// Applies the scan damage of `damage` to picture in place; returns the offset of the first changed
// byte, or SIZE_MAX when there is no scan to damage. Deterministic for a given seed. The byte before
// the changed ones is never 0xFF, so a planted marker is read as one.
size_t DamageScan(std::vector<uint8_t>* picture, const StreamDamage& damage, uint32_t seed);

// The bytes sent between parts for `damage` (see gapBytes).
std::vector<uint8_t> GapBytes(const StreamDamage& damage, uint32_t seed);

// Inserts comment segments of `bytes` in all (at least) after the SOI marker; their payload holds no 0xFF.
void PadPicture(std::vector<uint8_t>* picture, size_t bytes);

struct DamageRecord {
    bool mxpeg = false;
    uint64_t picture = 0;         // index on its stream connection
    size_t scanOffset = SIZE_MAX;  // first changed scan byte; SIZE_MAX when the scan is intact
    std::vector<uint8_t> sent;    // the damaged picture as sent (empty for padded pictures)
    uint64_t sentAtMs = 0;        // monotonic time (platform clock, ms) when sending it began
};

// Thread-safe record of the damaged pictures sent.
class DamageLog {
public:
    void Add(DamageRecord record);
    std::vector<DamageRecord> Records() const;
    size_t Count() const;
    // Waits up to timeoutMs until at least n records exist.
    bool WaitForCount(size_t n, uint32_t timeoutMs) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable added_;
    std::vector<DamageRecord> records_;
};

}  // namespace camsim

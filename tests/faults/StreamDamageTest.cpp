// Damaged stream content end to end: bytes between parts, scans overwritten, a marker planted in a
// scan, a scan cut short, a picture larger than the reader's buffer. The Motion-JPEG parser cuts
// pictures at their start and end markers and forwards what lies between unchanged; the MxPEG parser
// passes over scan bytes, gives up on an unknown marker, and the channel then starts a fresh stream.
#include <algorithm>
#include <map>

#include "FaultSession.h"
#include "camsim/PictureSource.h"
#include "camsim/StreamDamage.h"

namespace quillon::faulttest {
namespace {

namespace vp = velmora::platform;
using camsim::StreamDamage;

constexpr uint64_t kPicturesPerStream = 30;
// Full MxPEG frames come every 10 frames ("iframerefresh=10"); frame 20 refreshes every tile.
constexpr uint64_t kFullFrame = 20;

uint64_t FrameIndex(const Picture& picture) {
    for (const std::string& text : JpegComments(picture.jpeg)) {
        uint64_t k = 0;
        if (camsim::ParseFrameComment(text, &k)) return k;
    }
    return UINT64_MAX;
}

class StreamDamageFixture : public FaultSession {
protected:
    std::vector<Picture> firstStream;  // what the channel delivered from the damaged stream
    uint64_t leftAtMs = 0;             // when the second stream request was seen

    // The first stream carries `damage` and ends after `perStream` pictures (0: only when the module
    // leaves it). The second stream request is refused, so the first stream's pictures can be
    // counted before the third brings new ones.
    void RunDamagedStream(const StreamDamage& damage, uint64_t perStream) {
        sim.Streams().SetPicturesPerConnection(perStream);
        sim.Faults().Add(camsim::FaultRule::Damage(kStreamPath, damage).Times(1));
        sim.Faults().Add(camsim::FaultRule::Status(kStreamPath, 503).Times(1));
        Open();
        ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, 2, kWaitMs)) << "the damaged stream was never left";
        leftAtMs = vp::MonotonicMilliseconds();
        firstStream = sink.Kept();
        sim.Streams().SetPicturesPerConnection(0);
        ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, 3, kWaitMs));
        ExpectResume();
        EXPECT_EQ(Streams(), 3u) << "a stream was left that should have gone on";
        // Every pass fails within a second or two of the last picture.
        EXPECT_EQ(LogCount(kSignalLostLine), 0u);
    }

    std::map<uint64_t, camsim::DamageRecord> DamagedByPicture() {
        std::map<uint64_t, camsim::DamageRecord> byPicture;
        for (camsim::DamageRecord& r : sim.Damaged().Records()) byPicture[r.picture] = std::move(r);
        return byPicture;
    }

    // Motion-JPEG: the first stream delivered pictures 0..kPicturesPerStream-1 except `missing`, in
    // order, each byte for byte as sent: intact ones as the camera encodes them, damaged ones as
    // `forwarded` says the parser cuts them.
    void ExpectMjpegPictures(const std::map<uint64_t, std::vector<uint8_t>>& forwarded,
                             const std::vector<uint64_t>& missing = {}) {
        std::vector<uint64_t> expected;
        for (uint64_t k = 0; k < kPicturesPerStream; ++k)
            if (std::find(missing.begin(), missing.end(), k) == missing.end()) expected.push_back(k);
        ASSERT_EQ(firstStream.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const uint64_t k = expected[i];
            auto damaged = forwarded.find(k);
            if (damaged != forwarded.end()) {
                EXPECT_TRUE(firstStream[i].jpeg == damaged->second) << "damaged picture " << k << " not forwarded as sent";
            } else {
                EXPECT_EQ(FrameIndex(firstStream[i]), k);
                EXPECT_TRUE(firstStream[i].jpeg == sim.EncodedPicture(k)) << "picture " << k << " altered";
            }
        }
    }

    // MxPEG after scan damage to P-frames before kFullFrame: the pictures of frames before the first
    // damaged one and from kFullFrame on are clean (checked at Close); those between must still be
    // whole pictures of the right size, though tiles decoded from a damaged scan show whatever it held.
    void ExpectMxpegPicturesAroundDamage(uint64_t firstDamaged, uint64_t damagedFrames) {
        const size_t delivered = firstStream.size();
        EXPECT_LE(delivered, kPicturesPerStream - 1) << "the last frame of a stream is never converted";
        EXPECT_GE(delivered, kPicturesPerStream - 1 - damagedFrames) << "intact frames lost";
        const size_t cleanTail = kPicturesPerStream - 1 - kFullFrame;
        for (size_t i = firstDamaged; i + cleanTail < delivered; ++i) {
            const DecodedPicture decoded = DecodeJpeg(firstStream[i].jpeg);
            ASSERT_TRUE(decoded.ok) << "picture " << i << ": " << decoded.error;
            EXPECT_EQ(decoded.width, 320u);
            EXPECT_EQ(decoded.height, 240u);
        }
        CloseAndCheck([&](size_t i, const Picture&) { return i >= firstDamaged && i + cleanTail < delivered; });
    }

    // MxPEG after damage that stops the parser: the frames before the damaged one are delivered, the
    // damaged one is not, and the channel leaves the stream within the short reconnect wait.
    void ExpectMxpegStreamLeft(uint64_t damagedFrame) {
        EXPECT_EQ(firstStream.size(), damagedFrame) << "frames before the damaged one";
        std::vector<camsim::DamageRecord> records = sim.Damaged().Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_LE(leftAtMs - records[0].sentAtMs, kShortRetryMs + kResumeMarginMs)
            << "the stream was not left when the parser gave up";
    }
};

TEST_P(StreamDamageFixture, BytesBetweenPartsAreSkipped) {
    StreamDamage damage;
    damage.firstPicture = 0;
    damage.count = 0;  // after every picture
    damage.gapBytes = 3000;
    ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, kPicturesPerStream));
    EXPECT_EQ(sim.Damaged().Count(), kPicturesPerStream);
    if (IsMjpeg()) {
        ExpectMjpegPictures({});
    } else {
        EXPECT_EQ(firstStream.size(), kPicturesPerStream - 1) << "every frame but the last is converted";
    }
    CloseAndCheck();
}

// An APP1 marker between parts: outside a picture for the Motion-JPEG parser, an unknown marker for
// the MxPEG parser, which gives up; the channel then reconnects with a fresh parser.
TEST_P(StreamDamageFixture, UnknownMarkerBetweenParts) {
    StreamDamage damage;
    damage.firstPicture = 5;
    damage.gapBytes = 3000;
    damage.gapMarker = 0xE1;
    if (IsMjpeg()) {
        ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, kPicturesPerStream));
        ExpectMjpegPictures({});
    } else {
        ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, 0));
        // The gap follows frame 5, which is converted only when frame 6 begins: never.
        ExpectMxpegStreamLeft(5);
    }
    CloseAndCheck();
}

TEST_P(StreamDamageFixture, ScanBytesOverwritten) {
    StreamDamage damage;
    damage.firstPicture = 4;
    damage.every = 4;
    damage.count = 4;  // frames 4, 8, 12, 16: none a full MxPEG frame
    damage.scan = StreamDamage::Scan::Overwrite;
    damage.overwriteBytes = 16;
    ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, kPicturesPerStream));
    auto records = DamagedByPicture();
    ASSERT_EQ(records.size(), 4u);
    for (const auto& [k, r] : records) ASSERT_NE(r.scanOffset, SIZE_MAX) << "no scan found in picture " << k;
    if (IsMjpeg()) {
        std::map<uint64_t, std::vector<uint8_t>> forwarded;
        for (const auto& [k, r] : records) forwarded[k] = r.sent;
        ExpectMjpegPictures(forwarded);
        CloseAndCheck([&](size_t, const Picture& p) {
            return std::any_of(forwarded.begin(), forwarded.end(), [&](const auto& f) { return f.second == p.jpeg; });
        });
    } else {
        ExpectMxpegPicturesAroundDamage(4, 4);
    }
}

// 0xFF 0xC4 in the middle of a scan: not a picture boundary for the Motion-JPEG parser; passed over in
// scan data by the MxPEG parser, whose scan reader takes it as the end of the entropy-coded data.
TEST_P(StreamDamageFixture, MarkerPlantedInScan) {
    StreamDamage damage;
    damage.firstPicture = 4;
    damage.every = 4;
    damage.count = 4;
    damage.scan = StreamDamage::Scan::Marker;
    damage.scanMarker = 0xC4;
    ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, kPicturesPerStream));
    auto records = DamagedByPicture();
    ASSERT_EQ(records.size(), 4u);
    if (IsMjpeg()) {
        std::map<uint64_t, std::vector<uint8_t>> forwarded;
        for (const auto& [k, r] : records) forwarded[k] = r.sent;
        ExpectMjpegPictures(forwarded);
        CloseAndCheck([&](size_t, const Picture& p) {
            return std::any_of(forwarded.begin(), forwarded.end(), [&](const auto& f) { return f.second == p.jpeg; });
        });
    } else {
        ExpectMxpegPicturesAroundDamage(4, 4);
    }
}

// 0xFF 0xD9 in the middle of a scan: the Motion-JPEG parser delivers the picture up to it and drops
// the rest of the part; for the MxPEG parser the scan ends there and the bytes after it hold no
// known marker, so it gives up and the channel reconnects.
TEST_P(StreamDamageFixture, ScanCutShortByEndMarker) {
    StreamDamage damage;
    damage.firstPicture = 5;
    damage.scan = StreamDamage::Scan::Marker;
    damage.scanMarker = 0xD9;
    if (IsMjpeg()) {
        ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, kPicturesPerStream));
        auto records = DamagedByPicture();
        ASSERT_EQ(records.count(5), 1u);
        const camsim::DamageRecord& r = records[5];
        ASSERT_NE(r.scanOffset, SIZE_MAX);
        const std::vector<uint8_t> cut(r.sent.begin(), r.sent.begin() + static_cast<long>(r.scanOffset + 2));
        ExpectMjpegPictures({{5, cut}});
        CloseAndCheck([&](size_t, const Picture& p) { return p.jpeg == cut; });
    } else {
        ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, 0));
        ExpectMxpegStreamLeft(5);
        CloseAndCheck();
    }
}

// A picture past the Motion-JPEG parser's 10 MiB frame buffer is dropped with one overflow line and
// the stream goes on; an MxPEG frame past the parser's 4 MiB buffer cannot be completed, so the
// channel leaves the stream and a fresh parser starts on the next one.
TEST_P(StreamDamageFixture, PictureLargerThanFrameBuffer) {
    const std::string overflowLine = "velmora::CHttpMediaParser::CheckBufferSize(): Frame buffer overflow detected, device 127.0.0.1:" +
                                     std::to_string(sim.Port());
    StreamDamage damage;
    damage.firstPicture = 5;
    if (IsMjpeg()) {
        damage.padBytes = 11u << 20;  // past 10 MiB once, and the rest of it stays below
        ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, kPicturesPerStream));
        ExpectMjpegPictures({}, {5});
        EXPECT_EQ(LogCount(overflowLine.c_str()), 1u);
    } else {
        damage.padBytes = 5u << 20;
        ASSERT_NO_FATAL_FAILURE(RunDamagedStream(damage, 0));
        ExpectMxpegStreamLeft(5);
        EXPECT_EQ(LogCount("Frame buffer overflow"), 0u);
    }
    CloseAndCheck();
}

// A Motion-JPEG stream whose parts never become pictures (progressive JPEGs carry no baseline
// start-of-frame, so a channel that has seen no picture yet knows no size for them) keeps bytes
// flowing but delivers nothing: after the stream time-out the pass fails, the host hears of the
// loss, and a new stream brings pictures.
TEST_P(StreamDamageFixture, StreamWithoutPicturesIsAFailedPass) {
    if (!IsMjpeg()) GTEST_SKIP() << "progressive pictures are a Motion-JPEG case";
    StreamDamage damage;
    damage.progressive = true;
    damage.count = 0;  // every picture of the stream
    sim.Faults().Add(camsim::FaultRule::Damage(kStreamPath, damage).Times(1));
    Open(false);
    ASSERT_TRUE(sim.Damaged().WaitForCount(2, kWaitMs)) << "the progressive stream never ran";
    EXPECT_TRUE(sink.WaitForSignalLost(1, kWaitMs)) << "host not told of the loss";
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, 2, kWaitMs)) << "a stream without pictures was kept";
    EXPECT_EQ(sink.Pictures(), 0u);
    ExpectResume();
    EXPECT_TRUE(session->Log().WaitFor(kOnlineLine, kWaitMs, 1));
    EXPECT_EQ(LogCount(kSignalLostLine), 0u) << "never online, so no loss line";
    CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamDamageFixture, ::testing::Values(kMjpeg, kMxpeg), StreamName);

}  // namespace
}  // namespace quillon::faulttest

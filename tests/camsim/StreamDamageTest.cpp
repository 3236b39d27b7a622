// Stream damage of the simulator: which pictures a rule hits, where scan damage lands and what it
// writes, gap bytes, padding that keeps a picture a picture, the damage log, and the damage and the
// oversized head as they go over the wire.
#include "camsim/StreamDamage.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "RawHttp.h"
#include "camsim/CameraSimulator.h"
#include "camsim/JpegCodec.h"

namespace camsim {
namespace {

using test::RawHttp;
using test::Response;

const std::string kJpegStream = "/control/faststream.jpg?stream=full&fps=25&noaudio";

std::vector<uint8_t> SomeJpeg() {
    CameraSimulator sim;
    return sim.EncodedPicture(3);
}

TEST(CStreamDamageTest, AppliesToTheChosenPictures) {
    struct Row {
        uint64_t first, every, count;
        std::vector<uint64_t> hit;  // pictures 0..19 that are damaged
    } rows[] = {
        {0, 1, 1, {0}},             // one picture
        {5, 4, 3, {5, 9, 13}},      // every fourth, three times
        {2, 1, 0, {}},              // no limit: filled below
        {18, 0, 5, {18, 19}},       // every 0 counts as every picture
    };
    for (uint64_t k = 2; k < 20; ++k) rows[2].hit.push_back(k);
    for (const Row& row : rows) {
        StreamDamage d;
        d.firstPicture = row.first;
        d.every = row.every;
        d.count = row.count;
        std::vector<uint64_t> hit;
        for (uint64_t k = 0; k < 20; ++k)
            if (d.Applies(k)) hit.push_back(k);
        EXPECT_EQ(hit, row.hit) << "first " << row.first << " every " << row.every << " count " << row.count;
    }
}

TEST(CStreamDamageTest, FindsTheScanOfAJpegAndRejectsOtherBytes) {
    const std::vector<uint8_t> jpeg = SomeJpeg();
    size_t begin = 0, end = 0;
    ASSERT_TRUE(FindScan(jpeg, &begin, &end));
    EXPECT_EQ(end, jpeg.size() - 2);
    // The SOS segment ends just before begin.
    ASSERT_GE(begin, 14u);
    bool sosFound = false;
    for (size_t i = 2; i + 3 < begin; ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && i + 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]) == begin) sosFound = true;
    EXPECT_TRUE(sosFound);
    EXPECT_FALSE(FindScan(std::vector<uint8_t>{'n', 'o', 't', 'a', 'j', 'p', 'e', 'g'}, &begin, &end));
    std::vector<uint8_t> noEnd(jpeg.begin(), jpeg.end() - 1);
    EXPECT_FALSE(FindScan(noEnd, &begin, &end));
}

TEST(CStreamDamageTest, OverwritesTheMiddleOfTheScanWithoutMarkers) {
    const std::vector<uint8_t> jpeg = SomeJpeg();
    size_t begin = 0, end = 0;
    ASSERT_TRUE(FindScan(jpeg, &begin, &end));
    StreamDamage d;
    d.scan = StreamDamage::Scan::Overwrite;
    d.overwriteBytes = 24;
    std::vector<uint8_t> damaged = jpeg;
    const size_t at = DamageScan(&damaged, d, 7);
    ASSERT_NE(at, SIZE_MAX);
    EXPECT_GT(at, begin);
    EXPECT_LE(at + 24, end);
    EXPECT_NE(damaged[at - 1], 0xFF);
    ASSERT_EQ(damaged.size(), jpeg.size());
    EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.begin() + static_cast<long>(at), damaged.begin()));
    EXPECT_TRUE(std::equal(jpeg.begin() + static_cast<long>(at + 24), jpeg.end(), damaged.begin() + static_cast<long>(at + 24)));
    EXPECT_EQ(std::count(damaged.begin() + static_cast<long>(at), damaged.begin() + static_cast<long>(at + 24), 0xFF), 0);
    EXPECT_NE(damaged, jpeg);
    // Same seed, same damage.
    std::vector<uint8_t> again = jpeg;
    EXPECT_EQ(DamageScan(&again, d, 7), at);
    EXPECT_EQ(again, damaged);
}

TEST(CStreamDamageTest, PlantsAMarkerThatReadsAsOne) {
    const std::vector<uint8_t> jpeg = SomeJpeg();
    StreamDamage d;
    d.scan = StreamDamage::Scan::Marker;
    d.scanMarker = 0xD9;
    std::vector<uint8_t> damaged = jpeg;
    const size_t at = DamageScan(&damaged, d, 1);
    ASSERT_NE(at, SIZE_MAX);
    EXPECT_EQ(damaged[at], 0xFF);
    EXPECT_EQ(damaged[at + 1], 0xD9);
    EXPECT_NE(damaged[at - 1], 0xFF);
    // The planted end marker is the first one: a reader that cuts at it gets a shorter picture.
    const uint8_t eoi[] = {0xFF, 0xD9};
    auto firstEnd = std::search(damaged.begin(), damaged.end(), std::begin(eoi), std::end(eoi));
    EXPECT_EQ(static_cast<size_t>(firstEnd - damaged.begin()), at);
    // No scan, no damage.
    std::vector<uint8_t> text = {'x', 'y'};
    EXPECT_EQ(DamageScan(&text, d, 1), SIZE_MAX);
    d.scan = StreamDamage::Scan::None;
    std::vector<uint8_t> untouched = jpeg;
    EXPECT_EQ(DamageScan(&untouched, d, 1), SIZE_MAX);
    EXPECT_EQ(untouched, jpeg);
}

TEST(CStreamDamageTest, GapBytesHoldOnlyTheChosenMarker) {
    StreamDamage d;
    d.gapBytes = 5000;
    std::vector<uint8_t> gap = GapBytes(d, 3);
    ASSERT_EQ(gap.size(), 5000u);
    EXPECT_EQ(std::count(gap.begin(), gap.end(), 0xFF), 0);
    d.gapMarker = 0xE1;
    gap = GapBytes(d, 3);
    ASSERT_EQ(std::count(gap.begin(), gap.end(), 0xFF), 1);
    auto ff = std::find(gap.begin(), gap.end(), 0xFF);
    ASSERT_NE(ff + 1, gap.end());
    EXPECT_EQ(ff[1], 0xE1);
}

TEST(CStreamDamageTest, PaddedPictureStillDecodesAndIsLargeEnough) {
    const std::vector<uint8_t> jpeg = SomeJpeg();
    std::vector<uint8_t> padded = jpeg;
    PadPicture(&padded, 300000);
    EXPECT_GE(padded.size(), jpeg.size() + 300000);
    DecodedJpeg original, decoded;
    ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), &original));
    ASSERT_TRUE(DecodeJpeg(padded.data(), padded.size(), &decoded));
    EXPECT_EQ(decoded.picture.rgb, original.picture.rgb);
    size_t begin = 0, end = 0;
    EXPECT_TRUE(FindScan(padded, &begin, &end));
}

TEST(CStreamDamageTest, LogWaitsForRecordsWithinItsTimeOut) {
    DamageLog log;
    EXPECT_FALSE(log.WaitForCount(1, 20));
    DamageRecord r;
    r.picture = 4;
    log.Add(r);
    EXPECT_TRUE(log.WaitForCount(1, 20));
    ASSERT_EQ(log.Records().size(), 1u);
    EXPECT_EQ(log.Records()[0].picture, 4u);
    log.Clear();
    EXPECT_EQ(log.Count(), 0u);
}

TEST(CStreamDamageTest, StreamCarriesTheDamageAndLogsIt) {
    CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    sim.SetPaced(false);
    StreamDamage d;
    d.firstPicture = 1;
    d.gapBytes = 100;
    d.scan = StreamDamage::Scan::Marker;
    d.scanMarker = 0xC4;
    sim.Faults().Add(FaultRule::Damage("/control/faststream.jpg", d).Times(1));
    RawHttp http(sim.Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.SendGet(kJpegStream));
    Response head;
    ASSERT_TRUE(http.ReadHead(&head));
    EXPECT_EQ(head.status, 200);
    // Picture 0 intact, picture 1 damaged and followed by the gap bytes, picture 2 intact.
    ASSERT_TRUE(sim.Damaged().WaitForCount(1, 5000));
    const DamageRecord record = sim.Damaged().Records()[0];
    EXPECT_EQ(record.picture, 1u);
    ASSERT_NE(record.scanOffset, SIZE_MAX);
    const std::string boundary = std::string("--") + kMultipartBoundary + "\r\n";
    std::string before, intact, damagedPiece;
    ASSERT_TRUE(http.ReadUntil(boundary, &before));
    ASSERT_TRUE(http.ReadUntil(boundary, &intact));
    ASSERT_TRUE(http.ReadUntil(boundary, &damagedPiece));  // picture 1 and the gap
    const std::string sent(record.sent.begin(), record.sent.end());
    const size_t at = damagedPiece.find(sent);
    ASSERT_NE(at, std::string::npos) << "damaged picture not sent as logged";
    EXPECT_EQ(damagedPiece.size() - (at + sent.size()), 2u + 100u) << "CR LF and the gap bytes after the picture";
    http.Close();
}

TEST(CStreamDamageTest, HugeHeadFaultPadsTheResponseHead) {
    CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    sim.Faults().Add(FaultRule::HugeHead("/admin/version", 200000, 1000).Times(1));
    RawHttp http(sim.Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.SendGet("/admin/version"));
    std::string head;
    ASSERT_TRUE(http.ReadUntil("\r\n\r\n", &head));
    EXPECT_GE(head.size(), 200000u);
    EXPECT_LT(head.size(), 203000u);
    EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u);
    size_t lines = 0;
    for (size_t at = head.find("X-Camsim-Padding-"); at != std::string::npos; at = head.find("X-Camsim-Padding-", at + 1))
        ++lines;
    EXPECT_GE(lines, 200u);
    EXPECT_LE(lines, 201u);
    http.Close();
    // The rule was used once: the next answer has an ordinary head.
    Response plain = test::Get(sim.Port(), "/admin/version");
    EXPECT_EQ(plain.status, 200);
    EXPECT_FALSE(plain.Find("X-Camsim-Padding-0"));
}

}  // namespace
}  // namespace camsim

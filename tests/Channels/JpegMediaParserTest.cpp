// Multipart JPEG parser: pictures cut at their markers whatever the read chunks look like.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Channels/HttpMediaParser.h"
#include "Driver/DebugInfo.h"
#include "host/HostObjects.h"

namespace {

using velmora::CJpegMediaParser;

class RecordingDriver : public velmora::IDriver {
public:
    void DebugMessage(int level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        messages.push_back({level, velmora::FormatV(format, args)});
        va_end(args);
    }
    velmora::DEVICE_INFO GetDeviceInfo() override {
        velmora::DEVICE_INFO d;
        d.Address = "10.1.2.3";
        d.Port = 8080;
        return d;
    }
    std::pair<int32_t, int32_t> GetIOCount() override { return {0, 0}; }
    velmora::ipcapture::ISampleAllocator* GetSampleAllocator() override { return &allocator; }
    int32_t GetVideoStandard() override { return 0; }
    int32_t GetStreamType() override { return 1; }
    int32_t GetChannelCount() override { return 1; }
    velmora::StreamParameters GetChannelParameters(uint32_t) override { return {}; }
    std::string GetParameter(int32_t) override { return {}; }
    int32_t GetParameterInt(int32_t) override { return 0; }

    quillon::host::SampleAllocator allocator;
    std::vector<quillon::host::LogLine> messages;
};

struct Delivered {
    std::vector<uint8_t> bytes;
    uint32_t width, height, format, sizeClass;
    std::string source;
};

class RecordingReceiver : public velmora::IMediaReceiver {
public:
    bool OnMediaSample(velmora::ipcapture::IMediaSample* raw) override {
        auto* s = static_cast<quillon::host::MediaSample*>(raw);
        pictures.push_back({std::vector<uint8_t>(s->data.begin(), s->data.begin() + s->size), s->width, s->height,
                            s->format, s->sizeClass, s->source});
        return true;
    }
    std::vector<Delivered> pictures;
};

// A small baseline-looking picture: SOI, SOF0 with the size, some payload holding 0xFF 0x00, EOI.
std::vector<uint8_t> Picture(uint16_t width, uint16_t height, size_t payload = 40) {
    std::vector<uint8_t> p = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x11, 0x22,
                              0xFF, 0xC0, 0x00, 0x11, 0x08, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
                              uint8_t(width), 0x03};
    for (size_t i = 0; i < payload; ++i) p.push_back(i % 7 == 3 ? 0xFF : (i % 7 == 4 ? 0x00 : uint8_t(i)));
    p.push_back(0xFF);
    p.push_back(0xD9);
    return p;
}

std::vector<uint8_t> Part(const std::vector<uint8_t>& picture) {
    std::string head = "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(picture.size()) + "\r\n\r\n";
    std::vector<uint8_t> part(head.begin(), head.end());
    part.insert(part.end(), picture.begin(), picture.end());
    part.push_back('\r');
    part.push_back('\n');
    return part;
}

struct ParserFixture : ::testing::Test {
    RecordingDriver driver;
    RecordingReceiver receiver;
    CJpegMediaParser parser{&driver, "Quillon"};
    void SetUp() override { parser.SetReceiver(&receiver); }
    void Feed(const std::vector<uint8_t>& bytes, size_t from, size_t to) { parser.Parse(bytes.data() + from, to - from); }
};

TEST_F(ParserFixture, WholePartInOneChunkDeliversExactlyThePicture) {
    auto picture = Picture(704, 576);
    auto part = Part(picture);
    Feed(part, 0, part.size());
    ASSERT_EQ(receiver.pictures.size(), 1u);
    EXPECT_EQ(receiver.pictures[0].bytes, picture);
    EXPECT_EQ(receiver.pictures[0].width, 704u);
    EXPECT_EQ(receiver.pictures[0].height, 576u);
    EXPECT_EQ(receiver.pictures[0].format, 0x4745504Au);
    EXPECT_EQ(receiver.pictures[0].sizeClass, 4u);
    EXPECT_EQ(receiver.pictures[0].source, "Quillon");
    EXPECT_EQ(driver.allocator.Outstanding(), 0);
}

TEST_F(ParserFixture, PictureOverThreeChunksIsDeliveredOnceAtItsEnd) {
    auto picture = Picture(352, 288, 300);
    auto part = Part(picture);
    size_t a = part.size() / 3, b = 2 * part.size() / 3;
    Feed(part, 0, a);
    Feed(part, a, b);
    EXPECT_TRUE(receiver.pictures.empty());
    Feed(part, b, part.size());
    ASSERT_EQ(receiver.pictures.size(), 1u);
    EXPECT_EQ(receiver.pictures[0].bytes, picture);
    EXPECT_EQ(receiver.pictures[0].sizeClass, 2u);
}

TEST_F(ParserFixture, ChunkEndingExactlyAtEndMarkerDeliversAtOnce) {
    auto picture = Picture(640, 480);
    auto part = Part(picture);
    size_t end = part.size() - 2;  // just past 0xFF 0xD9
    Feed(part, 0, end);
    ASSERT_EQ(receiver.pictures.size(), 1u);
    EXPECT_EQ(receiver.pictures[0].bytes, picture);
}

TEST_F(ParserFixture, EndMarkerWithoutStartDeliversNothing) {
    std::vector<uint8_t> junk = {'x', 'y', 0xFF, 0xC0, 0, 0x11, 8, 1, 0, 1, 0, 3, 0xFF, 0xD9};
    Feed(junk, 0, junk.size());
    EXPECT_TRUE(receiver.pictures.empty());
}

TEST_F(ParserFixture, FirstPictureWithoutStartOfFrameIsDropped) {
    std::vector<uint8_t> noSize = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
    Feed(noSize, 0, noSize.size());
    EXPECT_TRUE(receiver.pictures.empty());
    // A later picture with a size is delivered, and one after it without a size reuses it.
    auto picture = Picture(320, 240);
    Feed(picture, 0, picture.size());
    Feed(noSize, 0, noSize.size());
    ASSERT_EQ(receiver.pictures.size(), 2u);
    EXPECT_EQ(receiver.pictures[1].bytes, noSize);
    EXPECT_EQ(receiver.pictures[1].width, 320u);
}

TEST_F(ParserFixture, EverySplitPositionDeliversTheSamePictureOnce) {
    auto picture = Picture(1280, 960, 64);
    auto stream = Part(picture);
    auto second = Part(Picture(800, 600, 30));
    stream.insert(stream.end(), second.begin(), second.end());
    for (size_t split = 1; split < stream.size(); ++split) {
        RecordingReceiver r;
        CJpegMediaParser p(&driver, "Quillon");
        p.SetReceiver(&r);
        p.Parse(stream.data(), split);
        p.Parse(stream.data() + split, stream.size() - split);
        ASSERT_EQ(r.pictures.size(), 2u) << "split at " << split;
        EXPECT_EQ(r.pictures[0].bytes, picture) << "split at " << split;
        EXPECT_EQ(r.pictures[0].width, 1280u) << "split at " << split;
        EXPECT_EQ(r.pictures[0].height, 960u) << "split at " << split;
        EXPECT_EQ(r.pictures[1].width, 800u) << "split at " << split;
    }
}

// Reads landing in the parser's own buffer, as the channel reads: pieces of any size (a read may fill
// less than it reserved), pictures from tiny to larger than the first buffer, so the open picture is
// moved and the buffer grows on the way. Every picture arrives once, byte for byte, with its size.
TEST_F(ParserFixture, ReadsIntoTheParserInRandomPiecesDeliverEveryPictureExactly) {
    std::mt19937 rng(20261209);
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<uint8_t> stream;
    for (int i = 0; i < 60; ++i) {
        const size_t payload = i % 10 == 9 ? 300000 + rng() % 200000 : rng() % 90000;
        pictures.push_back(Picture(uint16_t(100 + i), uint16_t(50 + i), payload));
        auto part = Part(pictures.back());
        stream.insert(stream.end(), part.begin(), part.end());
    }
    for (size_t at = 0; at < stream.size();) {
        const size_t reserved = 1 + rng() % 300000;
        uint8_t* target = parser.Reserve(reserved);
        ASSERT_NE(target, nullptr);
        const size_t got = std::min<size_t>({reserved, 1 + rng() % reserved, stream.size() - at});
        std::memcpy(target, stream.data() + at, got);
        parser.Commit(got);
        at += got;
    }
    ASSERT_EQ(receiver.pictures.size(), pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_TRUE(receiver.pictures[i].bytes == pictures[i]) << "picture " << i;
        EXPECT_EQ(receiver.pictures[i].width, 100u + i);
    }
    EXPECT_TRUE(driver.messages.empty());
}

TEST_F(ParserFixture, ByteByByteStreamDeliversEveryPicture) {
    std::vector<uint8_t> stream;
    for (int i = 0; i < 3; ++i) {
        auto part = Part(Picture(uint16_t(100 + i), 50, 20 + size_t(i)));
        stream.insert(stream.end(), part.begin(), part.end());
    }
    for (uint8_t byte : stream) parser.Parse(&byte, 1);
    ASSERT_EQ(receiver.pictures.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(receiver.pictures[size_t(i)].width, uint32_t(100 + i));
}

TEST_F(ParserFixture, RunawayPictureIsDroppedWithOneOverflowMessage) {
    std::vector<uint8_t> start = {0xFF, 0xD8, 0xFF, 0xC0, 0, 0x11, 8, 1, 0, 1, 0, 3};
    Feed(start, 0, start.size());
    std::vector<uint8_t> filler(1 << 20, 0x55);
    for (int i = 0; i < 11; ++i) Feed(filler, 0, filler.size());
    ASSERT_EQ(driver.messages.size(), 1u);
    EXPECT_EQ(driver.messages[0].level, 1);
    EXPECT_EQ(driver.messages[0].text,
              "velmora::CHttpMediaParser::CheckBufferSize(): Frame buffer overflow detected, device 10.1.2.3:8080");
    EXPECT_LT(parser.BufferedBytes(), filler.size() + 1);
    // Scanning goes on: the next whole picture arrives.
    auto picture = Picture(640, 480);
    Feed(picture, 0, picture.size());
    ASSERT_EQ(receiver.pictures.size(), 1u);
    EXPECT_EQ(receiver.pictures[0].bytes, picture);
}

TEST_F(ParserFixture, NoAllocatorOrRefusedAllocationDropsThePicture) {
    driver.allocator.FailAllocations(true);
    auto picture = Picture(640, 480);
    Feed(picture, 0, picture.size());
    EXPECT_TRUE(receiver.pictures.empty());
    driver.allocator.FailAllocations(false);
    Feed(picture, 0, picture.size());
    EXPECT_EQ(receiver.pictures.size(), 1u);
}

}  // namespace

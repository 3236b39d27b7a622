// The simulated camera's live streams: multipart JPEG parts that decode, carry the picture index and
// the sensor block, reproduce exactly, follow the camera state; the MxPEG stream; stream options.
#include "camsim/StreamEndpoints.h"

#include <gtest/gtest.h>

#include <cmath>

#include "RawHttp.h"
#include "RotorBytes.h"
#include "camsim/CameraSimulator.h"

namespace camsim {
namespace {

using test::RawHttp;
using test::Response;

constexpr uint32_t kWaitMs = 5000;
const std::string kJpegStream = "/control/faststream.jpg?stream=full&fps=25&noaudio";
const std::string kMxpegStream = "/control/faststream.jpg?stream=MxPEG&fps=25&iframerefresh=10&noaudio";

struct Part {
    std::string headers;
    std::string jpeg;
    DecodedJpeg decoded;
    uint64_t k = ~uint64_t(0);
};

// Reads the next multipart part: boundary line, part headers, Content-Length bytes, CR LF.
bool NextPart(RawHttp& http, Part* part) {
    std::string skipped;
    if (!http.ReadUntil(std::string("--") + kMultipartBoundary + "\r\n", &skipped)) return false;
    if (!http.ReadUntil("\r\n\r\n", &part->headers)) return false;
    size_t at = part->headers.find("Content-Length: ");
    if (at == std::string::npos) return false;
    size_t length = std::stoul(part->headers.substr(at + 16));
    if (!http.ReadExactly(length, &part->jpeg)) return false;
    if (!DecodeJpeg(reinterpret_cast<const uint8_t*>(part->jpeg.data()), part->jpeg.size(), &part->decoded)) return false;
    return !part->decoded.comments.empty() && ParseFrameComment(part->decoded.comments[0], &part->k);
}

// Peak signal-to-noise ratio of b against a, in dB.
double Psnr(const RgbPicture& a, const RgbPicture& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        double d = double(a.rgb[i]) - double(b.rgb[i]);
        sum += d * d;
    }
    double mse = sum / double(a.rgb.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

class CStreamEndpointsTest : public ::testing::Test {
protected:
    static SimulatorOptions Unpaced() {
        SimulatorOptions o;
        o.paced = false;
        return o;
    }
    CStreamEndpointsTest() : sim(Unpaced()) {}
    void SetUp() override {
        ImageSettings image;
        image.width = 320;
        image.height = 240;
        image.quality = 50;
        sim.Camera().SetImage(image);
        ASSERT_TRUE(sim.Start());
    }
    void Open(RawHttp* http, const std::string& target, Response* head) {
        ASSERT_TRUE(http->Connect());
        ASSERT_TRUE(http->SendGet(target));
        ASSERT_TRUE(http->ReadHead(head));
    }

    CameraSimulator sim;
};

TEST_F(CStreamEndpointsTest, SendsMultipartJpegPartsWithIndexAndSensorBlock) {
    RawHttp http(sim.Port());
    Response head;
    Open(&http, kJpegStream, &head);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Find("Content-Type").value_or(""), "multipart/x-mixed-replace; boundary=camsimframe");
    for (uint64_t k = 0; k < 3; ++k) {
        Part part;
        ASSERT_TRUE(NextPart(http, &part)) << k;
        EXPECT_NE(part.headers.find("Content-Type: image/jpeg"), std::string::npos);
        EXPECT_EQ(part.k, k);
        EXPECT_EQ(part.decoded.picture.width, 320u);
        EXPECT_EQ(part.decoded.picture.height, 240u);
        EXPECT_EQ(part.jpeg.compare(0, 2, "\xFF\xD8"), 0);
        EXPECT_EQ(part.jpeg.compare(part.jpeg.size() - 2, 2, "\xFF\xD9"), 0);
        ASSERT_EQ(part.decoded.comments.size(), 2u);
        EXPECT_EQ(part.decoded.comments[1], "SECTION SENSORS\r\nINA=0,INB=0\r\nENDSECTION SENSORS\r\n");
    }
}

TEST_F(CStreamEndpointsTest, SensorBlockFollowsTheInputs) {
    RawHttp http(sim.Port());
    Response head;
    Open(&http, kJpegStream, &head);
    Part part;
    ASSERT_TRUE(NextPart(http, &part));
    sim.SetInputs({true, false});
    const std::string expected = "SECTION SENSORS\r\nINA=1,INB=0\r\nENDSECTION SENSORS\r\n";
    int parts = 0;
    do {
        ASSERT_TRUE(NextPart(http, &part));
    } while (part.decoded.comments[1] != expected && ++parts < 500);
    EXPECT_EQ(part.decoded.comments[1], expected);
    ASSERT_TRUE(NextPart(http, &part));
    EXPECT_EQ(part.decoded.comments[1], expected);  // and it stays so

    sim.Camera().SetSensorKeys(SensorKeys::Numbered);
    EXPECT_EQ(sim.Camera().SensorBlock(), "SECTION SENSORS\r\nSIN=1,SI2=0\r\nENDSECTION SENSORS\r\n");
}

TEST_F(CStreamEndpointsTest, PictureKIsTheSameOnEveryConnectionAndCanBeRegenerated) {
    std::vector<std::string> first;
    for (int connection = 0; connection < 2; ++connection) {
        RawHttp http(sim.Port());
        Response head;
        Open(&http, kJpegStream, &head);
        for (uint64_t k = 0; k < 4; ++k) {
            Part part;
            ASSERT_TRUE(NextPart(http, &part));
            ASSERT_EQ(part.k, k);
            std::vector<uint8_t> again = sim.EncodedPicture(k);
            EXPECT_EQ(part.jpeg, std::string(again.begin(), again.end())) << k;
            if (connection == 0) first.push_back(part.jpeg);
            else EXPECT_EQ(part.jpeg, first[k]);
            // The decoded picture is the source picture up to JPEG loss, and not its neighbour.
            double own = Psnr(sim.SourcePicture(k), part.decoded.picture);
            EXPECT_GT(own, 28.0);
            EXPECT_GT(own, Psnr(sim.SourcePicture(k + 7), part.decoded.picture) + 3.0);
        }
    }
}

TEST_F(CStreamEndpointsTest, PicturesFollowSizeQualityAndPtzPosition) {
    std::vector<uint8_t> coarse = sim.EncodedPicture(5);
    ImageSettings image = sim.Camera().Image();
    image.quality = 95;
    sim.Camera().SetImage(image);
    EXPECT_GT(sim.EncodedPicture(5).size(), coarse.size() + coarse.size() / 4);

    RgbPicture home = sim.SourcePicture(5);
    RawHttp rotor(sim.Port());
    ASSERT_TRUE(rotor.Connect());
    std::string packet = test::RotorPacketBytes(rotor::kPanTilt, 0x3FFFFFFF, 0);  // full speed right
    ASSERT_TRUE(rotor.Send("POST /control/rotorcgi HTTP/1.1\r\nContent-Length: 210000\r\n\r\n" + packet));
    ASSERT_TRUE(sim.Camera().WaitForRotorPackets(1, kWaitMs));
    RgbPicture panned = sim.SourcePicture(5);
    EXPECT_LT(Psnr(home, panned), 25.0);  // the view moved

    image.width = 640;
    image.height = 480;
    sim.Camera().SetImage(image);
    RawHttp http(sim.Port());
    Response head;
    Open(&http, kJpegStream, &head);
    Part part;
    ASSERT_TRUE(NextPart(http, &part));
    EXPECT_EQ(part.decoded.picture.width, 640u);
    EXPECT_EQ(part.decoded.picture.height, 480u);
    EXPECT_NE(part.decoded.comments[0].find("pan=1023 tilt=0 zoom=1000"), std::string::npos);
    EXPECT_NE(part.decoded.comments[0].find("quality=95"), std::string::npos);
}

TEST_F(CStreamEndpointsTest, EndsAStreamAfterTheConfiguredNumberOfPictures) {
    sim.Streams().SetPicturesPerConnection(2);
    RawHttp http(sim.Port());
    Response head;
    Open(&http, kJpegStream, &head);
    std::string rest = http.ReadToClose();
    size_t boundaries = 0;
    for (size_t at = rest.find("--camsimframe"); at != std::string::npos; at = rest.find("--camsimframe", at + 1))
        ++boundaries;
    EXPECT_EQ(boundaries, 2u);
    EXPECT_EQ(sim.Streams().PicturesSent(), 2u);
}

TEST_F(CStreamEndpointsTest, CanSendTheStreamChunked) {
    sim.Streams().SetChunked(true);
    sim.Streams().SetPicturesPerConnection(2);
    RawHttp http(sim.Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.SendGet(kJpegStream));
    Response r;
    ASSERT_TRUE(http.ReadResponse(&r));  // chunked body ends with the last chunk
    EXPECT_EQ(r.Find("Transfer-Encoding").value_or(""), "chunked");
    EXPECT_EQ(r.body.rfind("--camsimframe\r\n", 0), 0u);
    EXPECT_NE(r.body.find("--camsimframe\r\n", 10), std::string::npos);
}

TEST_F(CStreamEndpointsTest, SendsMxpegFramesWithTileMapsAndSensorText) {
    RawHttp http(sim.Port());
    Response head;
    Open(&http, kMxpegStream, &head);
    EXPECT_EQ(head.status, 200);
    // Entropy-coded data stuffs every 0xFF, so 0xFF 0xD9 only ends a frame.
    std::vector<std::string> frames;
    std::string frame;
    while (frames.size() < 3 && http.ReadUntil("\xFF\xD9", &frame)) frames.push_back(frame);
    ASSERT_EQ(frames.size(), 3u);
    for (size_t k = 0; k < frames.size(); ++k) {
        EXPECT_EQ(frames[k].compare(0, 2, "\xFF\xD8"), 0) << k;
        EXPECT_NE(frames[k].find("camsim-frame=" + std::to_string(k) + " "), std::string::npos) << k;
        EXPECT_NE(frames[k].find("SECTION SENSORS\r\nINA=0,INB=0\r\nENDSECTION SENSORS"), std::string::npos) << k;
    }
    EXPECT_EQ(frames[0].find("MXM"), std::string::npos);  // the first frame is a full frame
    EXPECT_NE(frames[1].find("MXM"), std::string::npos);  // then only changed tiles with their map
    EXPECT_LT(frames[1].size(), frames[0].size());
}

// Sampling byte of the first component in the frame's SOF0 segment; 0 when there is none.
int FirstComponentSampling(const std::string& frame) {
    size_t sof = frame.find("\xFF\xC0");
    return sof == std::string::npos || sof + 12 > frame.size() ? 0 : static_cast<uint8_t>(frame[sof + 11]);
}

TEST_F(CStreamEndpointsTest, AppliesMxpegEncoderOptionsToNewStreams) {
    mxpegenc::EncoderOptions options;
    options.fullFrames422 = true;
    sim.Streams().SetMxpegOptions(options);
    RawHttp http(sim.Port());
    Response head;
    Open(&http, kMxpegStream, &head);
    std::string full, partial;
    ASSERT_TRUE(http.ReadUntil("\xFF\xD9", &full));
    ASSERT_TRUE(http.ReadUntil("\xFF\xD9", &partial));
    EXPECT_EQ(FirstComponentSampling(full), 0x21);     // 4:2:2 full frame
    EXPECT_EQ(FirstComponentSampling(partial), 0x22);  // tiles stay 4:2:0

    sim.Streams().SetMxpegOptions({});
    RawHttp plain(sim.Port());
    Open(&plain, kMxpegStream, &head);
    ASSERT_TRUE(plain.ReadUntil("\xFF\xD9", &full));
    EXPECT_EQ(FirstComponentSampling(full), 0x22);
}

TEST_F(CStreamEndpointsTest, RefusesUnknownStreamTypes) {
    EXPECT_EQ(test::Get(sim.Port(), "/control/faststream.jpg?stream=h264").status, 400);
    sim.Faults().Add(FaultRule::Status("/control/faststream.jpg?stream=MxPEG", 404));
    EXPECT_EQ(test::Get(sim.Port(), kMxpegStream).status, 404);
}

}  // namespace
}  // namespace camsim

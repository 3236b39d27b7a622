// Live Motion-JPEG end to end: the module loaded as a host loads it, against the simulator.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "camsim/CameraSimulator.h"
#include "host/JpegCheck.h"
#include "host/Session.h"

namespace {

using namespace quillon::host;

constexpr uint32_t kWaitMs = 15000;

uint64_t FrameIndex(const Picture& picture) {
    for (const std::string& comment : JpegComments(picture.jpeg)) {
        uint64_t k = 0;
        if (camsim::ParseFrameComment(comment, &k)) return k;
    }
    return UINT64_MAX;
}

DecodedPicture AsDecoded(const camsim::RgbPicture& rgb) {
    DecodedPicture d;
    d.ok = true;
    d.width = rgb.width;
    d.height = rgb.height;
    d.components = 3;
    d.pixels = rgb.rgb;
    return d;
}

struct MjpegFixture : ::testing::Test {
    camsim::CameraSimulator sim;
    // Sinks outlive the session: TearDown closes it, which stops every channel first.
    VideoSink sink, sink2;
    std::unique_ptr<DriverSession> session;

    void SetUp() override { ASSERT_TRUE(sim.Start()); }

    void Open(int channels = 1, int inputs = 2, int outputs = 1) {
        CameraConfig config;
        config.address = "127.0.0.1";
        config.port = sim.Port();
        config.channels = channels;
        config.inputs = inputs;
        config.outputs = outputs;
        config.streamType = 1;
        session = std::make_unique<DriverSession>(config);
        std::string error;
        ASSERT_TRUE(session->Open(&error)) << error;
    }
    void TearDown() override {
        if (session) session->Close();
    }
};

TEST_F(MjpegFixture, PicturesArriveAsTheCameraSentThem) {
    Open();
    sink.KeepAll(true);
    ChannelSettings settings(640, 480, 40, 100);
    ASSERT_TRUE(session->Video()->StartChannel(0, &sink, &settings));
    ASSERT_TRUE(sink.WaitForPictures(5, kWaitMs));
    session->Video()->StopChannel(0);

    // The image-control request carries the size and quality 100 sent as 90, then storeconfig.
    auto requests = sim.Requests().Snapshot();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0].target,
              "/control/control?set&section=imagecontrol&motionjpeg=disable&size=640x480&quality=90&framerate100=0");
    EXPECT_EQ(requests[1].target, "/admin/rcontrol?action=storeconfig");
    EXPECT_EQ(requests[2].target, "/control/faststream.jpg?stream=full&fps=25&noaudio");

    for (const Picture& picture : sink.Kept()) {
        EXPECT_EQ(picture.format, 0x4745504Au);
        EXPECT_EQ(picture.width, 640u);
        EXPECT_EQ(picture.height, 480u);
        EXPECT_EQ(picture.sizeClass, 4u);
        EXPECT_EQ(picture.source, "Quillon");
        EXPECT_EQ(picture.commits, 1);
        DecodedPicture decoded = DecodeJpeg(picture.jpeg);
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.warnings, 0);
        uint64_t k = FrameIndex(picture);
        ASSERT_NE(k, UINT64_MAX);
        EXPECT_EQ(picture.jpeg, sim.EncodedPicture(k)) << "picture " << k << " altered on its way";
        EXPECT_GE(Psnr(decoded, AsDecoded(sim.SourcePicture(k))), 35.0) << "picture " << k;
    }
    EXPECT_EQ(session->Allocator().Outstanding(), 0);
    EXPECT_EQ(session->Log().Count("is online"), 1u);
    EXPECT_TRUE(session->Log().WaitFor("Camera 127.0.0.1 is offline. Channel was stopped", kWaitMs));
}

TEST_F(MjpegFixture, QualityZeroIsSentAsTen) {
    Open();
    ChannelSettings settings(320, 240, 100, 0);
    ASSERT_TRUE(session->Video()->StartChannel(0, &sink, &settings));
    ASSERT_TRUE(sink.WaitForPictures(1, kWaitMs));
    EXPECT_EQ(sim.Requests().Snapshot().at(0).target,
              "/control/control?set&section=imagecontrol&motionjpeg=disable&size=320x240&quality=10&framerate100=0");
    // 320 pixels wide: size class 2.
    EXPECT_EQ(sink.Kept().at(0).sizeClass, 2u);
}

TEST_F(MjpegFixture, ErrReplyFailsThePushWithItsLine) {
    sim.Camera().SetImageControlError("ERR: size 641x480 not supported");
    Open();
    ChannelSettings settings(641, 480, 100, 50);
    ASSERT_TRUE(session->Video()->StartChannel(0, &sink, &settings));
    ASSERT_TRUE(session->Log().WaitFor("failed, error message: ERR: size 641x480 not supported", kWaitMs));
    auto lines = session->Log().Lines();
    const std::string expected = "velmora::CMjpegHttpChannel::SetParameters(): Set stream parameters for device 127.0.0.1:" +
                                 std::to_string(sim.Port()) + " failed, error message: ERR: size 641x480 not supported";
    bool found = false;
    for (const LogLine& line : lines) found |= line.text == expected && line.level == 1;
    EXPECT_TRUE(found);
    EXPECT_EQ(sim.Requests().Count("/admin/rcontrol?action=storeconfig"), 0u) << "the configuration is not stored";
    EXPECT_EQ(sink.Pictures(), 0u);
}

TEST_F(MjpegFixture, CameraOffThenBackReportsLossOnceAndResumes) {
    Open();
    ChannelSettings settings(320, 240, 40, 60);
    ASSERT_TRUE(session->Video()->StartChannel(0, &sink, &settings));
    ASSERT_TRUE(sink.WaitForPictures(3, kWaitMs));

    ASSERT_TRUE(sim.SetCameraOff(true));
    ASSERT_TRUE(sink.WaitForSignalLost(2, kWaitMs));
    int32_t state = -1, code = -1;
    ASSERT_TRUE(session->Video()->GetChannelState(0, &state, &code, nullptr, 0));
    EXPECT_EQ(state, 2);
    EXPECT_EQ(session->Log().Count("Signal was lost for camera 127.0.0.1"), 1u);

    const uint64_t before = sink.Pictures();
    const size_t streamsBefore = sim.Requests().Count("/control/faststream.jpg");
    auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(sim.SetCameraOff(false));
    ASSERT_TRUE(sink.WaitForPictures(before + 2, kWaitMs));
    // The next attempt comes within the 5 s retry wait; the margin covers a slow (sanitised) build.
    EXPECT_LT(std::chrono::steady_clock::now() - back, std::chrono::seconds(10));
    EXPECT_EQ(sim.Requests().Count("/control/faststream.jpg"), streamsBefore + 1) << "one new connection";
    EXPECT_TRUE(session->Log().WaitFor("Camera 127.0.0.1 is online", kWaitMs, 2));
    EXPECT_EQ(session->Log().Count("Signal was lost"), 1u);
}

TEST_F(MjpegFixture, ChannelTableRules) {
    Open(2);
    IIPVideoCapture* video = session->Video();
    VideoSink& a = sink;
    VideoSink& b = sink2;
    ChannelSettings settings(352, 288, 100, 70);
    EXPECT_EQ(video->GetChannelCount(), 2u);
    EXPECT_FALSE(video->StartChannel(2, &a, &settings)) << "index equal to the count";
    int32_t state = -1, code = -1;
    char text[8] = "x";
    EXPECT_FALSE(video->GetChannelState(1, &state, &code, text, sizeof(text)));
    EXPECT_EQ(text[0], 0);
    ASSERT_TRUE(video->StartChannel(1, &a, &settings));
    // Before its first connection (a second after the start) the channel is stopped, seen as 2.
    ASSERT_TRUE(video->GetChannelState(1, &state, &code, text, sizeof(text)));
    EXPECT_EQ(state, 2);
    ASSERT_TRUE(video->StartChannel(1, &b, &settings)) << "the first channel is replaced";
    ASSERT_TRUE(b.WaitForPictures(1, kWaitMs));
    const uint64_t aCount = a.Pictures();
    ASSERT_TRUE(b.WaitForPictures(3, kWaitMs));
    EXPECT_EQ(a.Pictures(), aCount) << "the replaced channel delivers nothing more";
    ASSERT_TRUE(video->GetChannelState(1, &state, &code, text, sizeof(text)));
    EXPECT_EQ(state, 0);
    // A change of size keeps the quality: 70 is sent as 60.
    ChannelSettings changed(704, 576, 100, 1);
    ASSERT_TRUE(video->ChangeChannel(1, changed.GetResolution(), 100));
    ASSERT_TRUE(sim.Requests().WaitFor(
        [](const camsim::LoggedRequest& r) { return r.target.find("size=704x576&quality=60") != std::string::npos; }, kWaitMs));
    ASSERT_TRUE(b.WaitForPictures(b.Pictures() + 2, kWaitMs));
    EXPECT_EQ(b.Kept().back().width, 704u);
    EXPECT_TRUE(video->StopChannel(1));
    EXPECT_FALSE(video->StopChannel(1));
    // "Video-server" naming with more than one channel.
    EXPECT_TRUE(session->Log().WaitFor("Video-server 127.0.0.1 (channel 1) is online", 100));
}

}  // namespace

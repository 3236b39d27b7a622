// Live MxPEG end to end: partial-tile frames rebuilt into whole JPEG pictures inside the module.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "camsim/CameraSimulator.h"
#include "host/JpegCheck.h"
#include "host/Session.h"

namespace {

using namespace quillon::host;

// Generous: the simulator encodes every frame, which is slow in sanitised builds.
constexpr uint32_t kWaitMs = 60000;

struct MxpegFixture : ::testing::Test {
    camsim::CameraSimulator sim;
    VideoSink sink;
    std::unique_ptr<DriverSession> session;

    void SetUp() override { ASSERT_TRUE(sim.Start()); }
    void TearDown() override {
        if (session) session->Close();
    }
    void Open() {
        CameraConfig config;
        config.port = sim.Port();
        config.streamType = 2;
        session = std::make_unique<DriverSession>(config);
        std::string error;
        ASSERT_TRUE(session->Open(&error)) << error;
    }
};

TEST_F(MxpegFixture, RebuiltPicturesDecodeCleanlyAndShowTheScene) {
    Open();
    sink.KeepAll(true);
    ChannelSettings settings(640, 480, 40, 90);
    ASSERT_TRUE(session->Video()->StartChannel(0, &sink, &settings));
    // More than one refresh interval (10 frames), so partial frames are among them.
    ASSERT_TRUE(sink.WaitForPictures(12, kWaitMs));
    session->Video()->StopChannel(0);
    EXPECT_EQ(sim.Requests().Snapshot().at(0).target,
              "/control/control?set&section=imagecontrol&motionjpeg=enable&size=640x480&quality=80&framerate100=0");
    EXPECT_TRUE(sim.Requests().WaitForCount("/control/faststream.jpg?stream=MxPEG&fps=25&iframerefresh=10&noaudio", 1, 100));
    std::vector<Picture> pictures = sink.Kept();
    ASSERT_GE(pictures.size(), 12u);
    for (size_t i = 0; i < pictures.size(); ++i) {
        const Picture& picture = pictures[i];
        EXPECT_EQ(picture.format, 0x4745504Au);
        EXPECT_EQ(picture.width, 640u);
        EXPECT_EQ(picture.height, 480u);
        EXPECT_EQ(picture.source, "Quillon");
        DecodedPicture decoded = DecodeJpeg(picture.jpeg);
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.warnings, 0) << "picture " << i;
        EXPECT_EQ(decoded.width, 640u);
        EXPECT_EQ(decoded.height, 480u);
    }
    // Consecutive pictures differ only where the scene moved: they are close to each other.
    DecodedPicture first = DecodeJpeg(pictures[5].jpeg), second = DecodeJpeg(pictures[6].jpeg);
    EXPECT_GT(Psnr(first, second), 20.0);
    EXPECT_EQ(session->Allocator().Outstanding(), 0);
}

}  // namespace

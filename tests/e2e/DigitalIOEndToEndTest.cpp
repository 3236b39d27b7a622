// Digital inputs and outputs end to end: inputs carried in the video stream, outputs switched
// by remote-control requests.
#include <gtest/gtest.h>

#include <memory>

#include "camsim/CameraSimulator.h"
#include "host/Session.h"

namespace {

using namespace quillon::host;

constexpr uint32_t kWaitMs = 15000;

camsim::SimulatorOptions ThreeInputs() {
    camsim::SimulatorOptions options;
    options.inputs = 3;
    return options;
}

struct IoFixture : ::testing::Test {
    camsim::CameraSimulator sim{ThreeInputs()};
    VideoSink sink;
    IOSink ioSink;
    std::unique_ptr<DriverSession> session;

    void SetUp() override { ASSERT_TRUE(sim.Start()); }
    void TearDown() override {
        if (session) session->Close();
    }
    void Open(int inputs, int outputs) {
        CameraConfig config;
        config.port = sim.Port();
        config.inputs = inputs;
        config.outputs = outputs;
        session = std::make_unique<DriverSession>(config);
        std::string error;
        ASSERT_TRUE(session->Open(&error)) << error;
        ASSERT_TRUE(session->IO()->SetSink(&ioSink));
    }
    void StartVideo() {
        static ChannelSettings settings(320, 240, 40, 50);
        ASSERT_TRUE(session->Video()->StartChannel(0, &sink, &settings));
        ASSERT_TRUE(sink.WaitForPictures(1, kWaitMs));
    }
};

TEST_F(IoFixture, InputChangesInTheCameraReachTheHostOncePerChange) {
    sim.SetInputs({true, true, true});  // "1": state 1
    Open(2, 1);
    ASSERT_TRUE(session->IO()->Start());
    StartVideo();
    ASSERT_TRUE(sink.WaitForPictures(5, kWaitMs));
    // Start brought both inputs from "no state" to 1, and the camera agrees: nothing more.
    std::vector<std::pair<uint32_t, int32_t>> expected = {{0, 1}, {1, 1}};
    EXPECT_EQ(ioSink.Changes(), expected);
    sim.SetInput(1, false);
    ASSERT_TRUE(ioSink.WaitForChanges(3, kWaitMs));
    ASSERT_TRUE(sink.WaitForPictures(sink.Pictures() + 5, kWaitMs));
    expected.push_back({1, 2});
    EXPECT_EQ(ioSink.Changes(), expected) << "reported once, not once per picture";
}

TEST_F(IoFixture, FallbackSensorKeysAreRead) {
    sim.Camera().SetSensorKeys(camsim::SensorKeys::Numbered);
    sim.SetInputs({false, false, true});
    Open(3, 0);
    ASSERT_TRUE(session->IO()->Start());
    StartVideo();
    ASSERT_TRUE(ioSink.WaitForChanges(5, kWaitMs));
    auto changes = ioSink.Changes();
    std::vector<std::pair<uint32_t, int32_t>> expected = {{0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}};
    EXPECT_EQ(changes, expected);
}

TEST_F(IoFixture, OutputsAreSwitchedOncePerChange) {
    Open(0, 1);
    ASSERT_TRUE(session->IO()->Start());
    ASSERT_TRUE(sim.Requests().WaitForCount("/control/rcontrol?action=sigoutlow", 1, kWaitMs)) << "Start switches low";
    ICaptureIOApi* io = session->IO();
    EXPECT_TRUE(io->SetOutput(0, 2));
    EXPECT_TRUE(io->SetOutput(0, 2));
    EXPECT_TRUE(io->SetOutput(0, 1));
    ASSERT_TRUE(sim.Requests().WaitForCount("/control/rcontrol?action=sigoutlow", 2, kWaitMs));
    io->Stop();
    EXPECT_EQ(sim.Requests().Count("/control/rcontrol?action=sigouthigh"), 1u);
    EXPECT_EQ(sim.Requests().Count("/control/rcontrol"), 3u);
    EXPECT_EQ(ioSink.Failures(), 0);
}

TEST_F(IoFixture, CameraWithoutOutputsStartsNoWorker) {
    Open(2, 0);
    EXPECT_TRUE(session->IO()->Start());
    EXPECT_FALSE(session->IO()->SetOutput(0, 2));
    EXPECT_EQ(sim.Requests().Count("/control/rcontrol"), 0u);
}

TEST_F(IoFixture, UnreachableCameraResetsStatesAndReportsFailure) {
    ASSERT_TRUE(sim.SetCameraOff(true));
    Open(1, 1);
    session->IO()->Start();
    EXPECT_EQ(ioSink.Failures(), 1);
    // The input went to 1 at the start and nothing more is reported for the reset.
    std::vector<std::pair<uint32_t, int32_t>> expected = {{0, 1}};
    EXPECT_EQ(ioSink.Changes(), expected);
}

}  // namespace

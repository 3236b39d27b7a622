// Fault injection end to end: the module loaded as a host loads it, against the simulator, with the
// simulator's faults on the stream request, for Motion-JPEG and MxPEG channels. Every case checks
// that pictures come back once the fault ends, that every delivered picture decodes cleanly, that
// Close returns in bounded time and that no sample and no thread is left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "camsim/CameraSimulator.h"
#include "camsim/Faults.h"
#include "host/JpegCheck.h"
#include "host/Session.h"
#include "platform/System.h"

namespace {

using namespace quillon::host;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kWaitMs = 20000;
// Twice the module's request time-out (5 s).
constexpr auto kCloseBound = std::chrono::seconds(10);
constexpr const char* kStreamPath = "/control/faststream.jpg";

struct FaultFixture : ::testing::TestWithParam<int> {
    camsim::CameraSimulator sim;
    // Sinks outlive the session: Close stops every channel first.
    VideoSink sink;
    std::unique_ptr<DriverSession> session;
    uint32_t threadsBefore = 0;

    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        threadsBefore = velmora::platform::ThreadCount();
        ASSERT_GT(threadsBefore, 0u);
        sink.KeepAll(true);
    }

    void Open() {
        CameraConfig config;
        config.address = "127.0.0.1";
        config.port = sim.Port();
        config.streamType = GetParam();
        session = std::make_unique<DriverSession>(config);
        std::string error;
        ASSERT_TRUE(session->Open(&error)) << error;
        ChannelSettings settings(320, 240, 40, 60);
        ASSERT_TRUE(session->Video()->StartChannel(0, &sink, &settings));
        ASSERT_TRUE(sink.WaitForPictures(3, kWaitMs)) << "no pictures before the fault";
    }

    // Pictures flow again: at least `more` new ones arrive.
    void ExpectResume(uint64_t more = 3) {
        const uint64_t before = sink.Pictures();
        EXPECT_TRUE(sink.WaitForPictures(before + more, kWaitMs)) << "pictures did not resume after the fault";
    }

    void CloseAndCheck() {
        ASSERT_TRUE(session);
        const auto start = Clock::now();
        session->Close();
        EXPECT_LT(Clock::now() - start, kCloseBound) << "Close took longer than twice the request time-out";
        EXPECT_EQ(session->Allocator().Outstanding(), 0) << "samples not given back";
        for (const Picture& picture : sink.Kept()) {
            const DecodedPicture decoded = DecodeJpeg(picture.jpeg);
            ASSERT_TRUE(decoded.ok) << decoded.error;
            EXPECT_EQ(decoded.warnings, 0) << "a delivered picture is damaged";
            EXPECT_EQ(decoded.width, 320u);
            EXPECT_EQ(decoded.height, 240u);
        }
        session.reset();
        // The simulator's own connection threads end once the module's sockets are closed;
        // allow them a bounded moment.
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        uint32_t now = velmora::platform::ThreadCount();
        while (now > threadsBefore && Clock::now() < deadline) {
            sim.Requests().WaitForCount("/never-requested", 1, 50);  // bounded 50 ms wait
            now = velmora::platform::ThreadCount();
        }
        EXPECT_LE(now, threadsBefore) << "threads left behind";
    }
};

TEST_P(FaultFixture, CameraOffAndOnRepeatedly) {
    Open();
    for (size_t cycle = 1; cycle <= 3; ++cycle) {
        ASSERT_TRUE(sim.SetCameraOff(true));
        ASSERT_TRUE(session->Log().WaitFor("Signal was lost for camera 127.0.0.1", kWaitMs, cycle)) << cycle;
        int32_t state = -1, code = -1;
        ASSERT_TRUE(session->Video()->GetChannelState(0, &state, &code, nullptr, 0));
        EXPECT_EQ(state, 2) << "signal lost state in cycle " << cycle;
        ASSERT_TRUE(sim.SetCameraOff(false));
        ExpectResume();
        EXPECT_TRUE(session->Log().WaitFor("Camera 127.0.0.1 is online", kWaitMs, cycle + 1)) << cycle;
        EXPECT_EQ(session->Log().Count("Signal was lost for camera 127.0.0.1"), cycle) << "one loss line per outage";
    }
    CloseAndCheck();
}

TEST_P(FaultFixture, StallMidPictureLongerThanRequestTimeout) {
    Open();
    const size_t streams = sim.Requests().Count(kStreamPath);
    sim.Faults().Add(camsim::FaultRule::Stall(kStreamPath, 8000, 20000).Times(1));
    // Only a new stream request meets the rule: drop the current one.
    ASSERT_TRUE(sim.SetCameraOff(true));
    ASSERT_TRUE(session->Log().WaitFor("Signal was lost for camera 127.0.0.1", kWaitMs));
    ASSERT_TRUE(sim.SetCameraOff(false));
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 1, kWaitMs));
    // The stalled stream is given up and a new one brings pictures.
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 2, kWaitMs)) << "stalled stream not replaced";
    ExpectResume();
    CloseAndCheck();
}

TEST_P(FaultFixture, ConnectionClosedMidBody) {
    Open();
    const size_t streams = sim.Requests().Count(kStreamPath);
    sim.Faults().Add(camsim::FaultRule::CloseAfter(kStreamPath, 30000).Times(3));
    ASSERT_TRUE(sim.SetCameraOff(true));
    ASSERT_TRUE(session->Log().WaitFor("Signal was lost for camera 127.0.0.1", kWaitMs));
    ASSERT_TRUE(sim.SetCameraOff(false));
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 4, 3 * kWaitMs)) << "cut streams not retried";
    ExpectResume();
    CloseAndCheck();
}

TEST_P(FaultFixture, UnauthorizedStorm) {
    Open();
    const size_t streams = sim.Requests().Count(kStreamPath);
    sim.Faults().Add(camsim::FaultRule::Status(kStreamPath, 401).Times(5));
    ASSERT_TRUE(sim.SetCameraOff(true));
    ASSERT_TRUE(session->Log().WaitFor("Signal was lost for camera 127.0.0.1", kWaitMs));
    ASSERT_TRUE(sim.SetCameraOff(false));
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 6, 3 * kWaitMs)) << "401 answers not retried";
    ExpectResume();
    CloseAndCheck();
}

TEST_P(FaultFixture, OneByteTrickle) {
    Open();
    const size_t streams = sim.Requests().Count(kStreamPath);
    sim.Faults().Add(camsim::FaultRule::Trickle(kStreamPath, 1, 0).Times(1));
    ASSERT_TRUE(sim.SetCameraOff(true));
    ASSERT_TRUE(session->Log().WaitFor("Signal was lost for camera 127.0.0.1", kWaitMs));
    ASSERT_TRUE(sim.SetCameraOff(false));
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 1, kWaitMs));
    ExpectResume();
    CloseAndCheck();
}

TEST_P(FaultFixture, GarbageInsteadOfResponse) {
    Open();
    const size_t streams = sim.Requests().Count(kStreamPath);
    sim.Faults().Add(camsim::FaultRule::Garbage(kStreamPath, 4096).Times(2));
    ASSERT_TRUE(sim.SetCameraOff(true));
    ASSERT_TRUE(session->Log().WaitFor("Signal was lost for camera 127.0.0.1", kWaitMs));
    ASSERT_TRUE(sim.SetCameraOff(false));
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 3, 3 * kWaitMs)) << "garbage answers not retried";
    ExpectResume();
    CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(Streams, FaultFixture, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("Mjpeg") : std::string("Mxpeg");
                         });

}  // namespace

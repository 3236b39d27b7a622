// Shared fixture of the fault-injection programs: the module loaded as a host loads it, one channel
// (Motion-JPEG = 1 or MxPEG = 2, the test parameter) against the simulator, the camera state lines the
// channel must write, and the checks every case ends with: Close bounded, samples given back, threads
// back, delivered pictures decode.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camsim/CameraSimulator.h"
#include "camsim/Faults.h"
#include "host/JpegCheck.h"
#include "host/Session.h"
#include "platform/System.h"

namespace quillon::faulttest {

using namespace quillon::host;
using Clock = std::chrono::steady_clock;

constexpr int kMjpeg = 1;
constexpr int kMxpeg = 2;

constexpr uint32_t kWaitMs = 20000;
// Twice the module's request time-out (5 s).
constexpr auto kCloseBound = std::chrono::seconds(10);
constexpr const char* kStreamPath = "/control/faststream.jpg";
// Reconnect waits of the capture loop: after a pass whose parameter push worked, and after three
// failed attempts in a row.
constexpr uint32_t kShortRetryMs = 1000;
constexpr uint32_t kLongRetryMs = 5000;
// Parameter push, stream set-up and the first picture on top of a reconnect wait; generous so that
// sanitised builds meet it. A correctness bound, not a speed claim.
constexpr uint32_t kResumeMarginMs = 5000;

// Camera state lines for the single-channel camera at 127.0.0.1.
constexpr const char* kSignalLostLine = "velmora::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1";
constexpr const char* kOnlineLine = "velmora::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online";
constexpr const char* kStoppedLine =
    "velmora::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is offline. Channel was stopped";
constexpr const char* kOfflineOrFailed = "is offline or failed";
constexpr const char* kCannotStop = "cannot be stopped";

inline std::string StreamName(const ::testing::TestParamInfo<int>& info) {
    return info.param == kMjpeg ? "Mjpeg" : "Mxpeg";
}

class FaultSession : public ::testing::TestWithParam<int> {
protected:
    camsim::CameraSimulator sim;
    // Sinks outlive the session: Close stops every channel first.
    VideoSink sink;
    std::unique_ptr<DriverSession> session;
    uint32_t threadsBefore = 0;
    // Credentials the driver is opened with (none by default).
    std::string user, password;

    bool IsMjpeg() const { return GetParam() == kMjpeg; }
    size_t Streams() { return sim.Requests().Count(kStreamPath); }
    size_t LogCount(const char* fragment) { return session->Log().Count(fragment); }

    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        threadsBefore = velmora::platform::ThreadCount();
        ASSERT_GT(threadsBefore, 0u);
        sink.KeepAll(true);
    }

    // Starts the channel and, unless told otherwise, waits for its first pictures.
    void Open(bool waitForPictures = true) {
        CameraConfig config;
        config.address = "127.0.0.1";
        config.port = sim.Port();
        config.streamType = GetParam();
        config.user = user;
        config.password = password;
        session = std::make_unique<DriverSession>(config);
        std::string error;
        ASSERT_TRUE(session->Open(&error)) << error;
        ChannelSettings settings(320, 240, 40, 60);
        const uint64_t before = sink.Pictures();  // a case may open several sessions in turn
        ASSERT_TRUE(session->Video()->StartChannel(0, &sink, &settings));
        if (waitForPictures) {
            ASSERT_TRUE(sink.WaitForPictures(before + 3, kWaitMs)) << "no pictures before the fault";
        }
    }

    // Pictures flow again: at least `more` new ones arrive.
    void ExpectResume(uint64_t more = 3) {
        const uint64_t before = sink.Pictures();
        EXPECT_TRUE(sink.WaitForPictures(before + more, kWaitMs)) << "pictures did not resume after the fault";
    }

    // The next picture arrives within the reconnect wait plus the margin, counted from now (the
    // moment the fault ended).
    void ExpectPictureWithin(uint32_t reconnectWaitMs) {
        const uint64_t before = sink.Pictures();
        EXPECT_TRUE(sink.WaitForPictures(before + 1, reconnectWaitMs + kResumeMarginMs))
            << "no picture within " << reconnectWaitMs << " ms reconnect wait + " << kResumeMarginMs << " ms";
    }

    int32_t ChannelState() {
        int32_t state = -1, code = -1;
        EXPECT_TRUE(session->Video()->GetChannelState(0, &state, &code, nullptr, 0));
        return state;
    }

    // Ends the session and checks what every case must leave behind. A delivered picture (by its
    // position among all delivered ones) for which exempt is true may be damaged by design: the
    // caller checks it precisely; every other one must decode without a warning.
    void CloseAndCheck(const std::function<bool(size_t, const Picture&)>& exempt = {}) {
        ASSERT_TRUE(session);
        const auto start = Clock::now();
        session->Close();
        EXPECT_LT(Clock::now() - start, kCloseBound) << "Close took longer than twice the request time-out";
        EXPECT_EQ(session->Allocator().Outstanding(), 0) << "samples not given back";
        // The online flag turns on with a picture and off with a signal loss or the stop, once each.
        EXPECT_EQ(LogCount(kOnlineLine), LogCount(kSignalLostLine) + 1) << "online and signal-lost lines out of step";
        EXPECT_EQ(LogCount(kStoppedLine), 1u);
        EXPECT_EQ(LogCount(kOfflineOrFailed), 0u);
        EXPECT_EQ(LogCount(kCannotStop), 0u);
        const std::vector<Picture> pictures = sink.Kept();
        for (size_t index = 0; index < pictures.size(); ++index) {
            const Picture& picture = pictures[index];
            if (exempt && exempt(index, picture)) continue;
            const DecodedPicture decoded = DecodeJpeg(picture.jpeg);
            ASSERT_TRUE(decoded.ok) << "picture " << index << ": " << decoded.error;
            EXPECT_EQ(decoded.warnings, 0) << "delivered picture " << index << " is damaged";
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

}  // namespace quillon::faulttest

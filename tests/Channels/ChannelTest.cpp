// Channels against the simulator with a device record of our own (short time-outs).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <functional>
#include <mutex>
#include <vector>

#include "Channels/MjpegHttpChannel.h"
#include "Channels/MxpegHttpChannel.h"
#include "Driver/IPCaptureDriver.h"
#include "Driver/IPVideoCapture.h"
#include "Web/ShouldReport.h"
#include "Web/TextUtils.h"
#include "camsim/CameraSimulator.h"
#include "mxpegenc/MxpegEncoder.h"
#include "host/HostObjects.h"

namespace {

using namespace std::chrono_literals;
using quillon::host::LogLine;

class SimDriver : public velmora::IDriver {
public:
    SimDriver(uint16_t port, int32_t timeoutMs) {
        device.Address = "127.0.0.1";
        device.Port = port;
        device.RequestTimeout = timeoutMs;
        device.StreamTimeout = timeoutMs;
    }
    void DebugMessage(int level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        std::string text = velmora::Utils::FormatStringV(format, args);
        va_end(args);
        {
            std::lock_guard<std::mutex> lock(mutex);
            messages.push_back({level, text});
        }
        arrived.notify_all();
        if (onMessage) onMessage(text);
    }
    // Waits until lines holding the fragment have arrived `times` times.
    bool WaitFor(const std::string& fragment, std::chrono::milliseconds timeout, size_t times = 1) {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, timeout, [&] {
            size_t n = 0;
            for (auto& m : messages) n += m.text.find(fragment) != std::string::npos;
            return n >= times;
        });
    }
    size_t Count(const std::string& fragment) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (auto& m : messages) n += m.text.find(fragment) != std::string::npos;
        return n;
    }
    velmora::DEVICE_INFO GetDeviceInfo() override { return device; }
    std::pair<int32_t, int32_t> GetIOCount() override { return {2, 0}; }
    velmora::ipcapture::ISampleAllocator* GetSampleAllocator() override { return &allocator; }
    int32_t GetVideoStandard() override { return 0; }
    int32_t GetStreamType() override { return 1; }
    int32_t GetChannelCount() override { return channels; }
    velmora::StreamParameters GetChannelParameters(uint32_t) override { return {}; }
    std::string GetParameter(int32_t) override { return {}; }
    int32_t GetParameterInt(int32_t) override { return 0; }

    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> texts;
        for (auto& m : messages) texts.push_back(m.text);
        return texts;
    }

    velmora::DEVICE_INFO device;
    int32_t channels = 1;
    quillon::host::SampleAllocator allocator;
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<LogLine> messages;
    // Called with each line on the posting thread, outside the driver's own lock: the host's debug
    // callback.
    std::function<void(const std::string&)> onMessage;
};

// Collects sensor blocks as the I/O object would receive them.
class SensorRecorder : public velmora::IAlarmReceiver {
public:
    void ProcessSensorSection(const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex);
        blocks.push_back(text);
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return blocks.size();
    }
    std::mutex mutex;
    std::vector<std::string> blocks;
};

velmora::StreamParameters Params(uint32_t w, uint32_t h, uint32_t interval, uint32_t quality) {
    velmora::StreamParameters p;
    p.Width = w;
    p.Height = h;
    p.FrameInterval = interval;
    p.Quality = quality;
    return p;
}

TEST(ShouldReportTest, ReportsFirstFourteenThenEverySixteenthThenSparser) {
    uint32_t counter = 0;
    std::vector<uint32_t> reported;
    for (uint32_t i = 1; i <= 70000; ++i)
        if (velmora::ShouldReport(counter)) reported.push_back(i);
    std::vector<uint32_t> expected;
    for (uint32_t i = 1; i <= 14; ++i) expected.push_back(i);
    for (uint32_t i = 16; i < 255; i += 16) expected.push_back(i);
    for (uint32_t i = 256; i < 4095; i += 256) expected.push_back(i);
    for (uint32_t i = 4096; i < 65535; i += 4096) expected.push_back(i);
    // At 65535 the counter falls back to 4095 without a report; call 65536 counts 4096 again.
    expected.push_back(65536);
    expected.push_back(65536 + 4096);
    EXPECT_EQ(reported, expected);
}

// A host sink that hangs in DeliverSample until released.
class StuckSink : public quillon::host::VideoSink {
public:
    bool DeliverSample(velmora::ipcapture::IMediaSample*) override {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        cv.notify_all();
        cv.wait_for(lock, 1500ms, [&] { return released; });
        return true;
    }
    bool WaitEntered() {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, 10s, [&] { return entered; });
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false, released = false;
};

TEST(CMjpegHttpChannelTest, StuckHostSinkIsWarnedAboutAndWaitedFor) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    SimDriver driver(sim.Port(), 300);
    StuckSink sink;  // blocks beyond twice the 300 ms request time-out
    auto channel = std::make_unique<velmora::CMjpegHttpChannel>(0, &driver, &sink, nullptr);
    ASSERT_TRUE(channel->Start(Params(320, 240, 40, 50)));
    ASSERT_TRUE(sink.WaitEntered());
    auto begin = std::chrono::steady_clock::now();
    channel->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_EQ(driver.Count("velmora::CBaseCameraChannel::StopThread: Video capture thread for camera 127.0.0.1 cannot "
                           "be stopped and will be terminated now"),
              1u);
    EXPECT_EQ(channel->GetState(), velmora::kStopped);
}

TEST(CMjpegHttpChannelTest, UnreachableCameraRetriesAndSignalsLossWithoutLogLine) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(sim.SetCameraOff(true));
    SimDriver driver(sim.Port(), 300);
    driver.channels = 2;
    quillon::host::VideoSink sink;
    velmora::CMjpegHttpChannel channel(1, &driver, &sink, nullptr);
    auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(channel.Start(Params(320, 240, 100, 50)));
    // Three attempts a second apart, each followed by the host's loss notification.
    ASSERT_TRUE(sink.WaitForSignalLost(3, 10000));
    auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(elapsed, 3s);
    EXPECT_EQ(channel.GetState(), velmora::kSignalLost);
    channel.Stop();
    EXPECT_EQ(driver.Count("Signal was lost"), 0u) << "never online, never reported lost";
    EXPECT_EQ(driver.Count("is offline"), 0u);
}

TEST(CMjpegHttpChannelTest, RepeatedPushFailuresAreThrottled) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    sim.Faults().Add(camsim::FaultRule::Status("/control/control", 404));
    SimDriver driver(sim.Port(), 300);
    velmora::CMjpegHttpChannel channel(0, &driver, nullptr, nullptr);
    ASSERT_TRUE(channel.Start(Params(320, 240, 100, 50)));
    // Waits for the lines, not the requests: a stop aborts a request still in flight, unlogged.
    ASSERT_TRUE(driver.WaitFor("status code = 404", 10s, 2));
    channel.Stop();
    const std::string expected = "velmora::Utils::SendRequestWrapper: host 127.0.0.1:" + std::to_string(sim.Port()) +
                                 " sent does not process request \"/control/control?set&section=imagecontrol&"
                                 "motionjpeg=disable&size=320x240&quality=40&framerate100=0\", status code = 404";
    std::lock_guard<std::mutex> lock(driver.mutex);
    ASSERT_GE(driver.messages.size(), 2u);
    EXPECT_EQ(driver.messages[0].text, expected);
    EXPECT_EQ(driver.messages[0].level, 1);
}

TEST(CMxpegHttpChannelTest, RefusedStreamRequestEndsAtOnce) {
    for (int status : {401, 404}) {
        camsim::CameraSimulator sim;
        ASSERT_TRUE(sim.Start());
        sim.Faults().Add(camsim::FaultRule::Status("/control/faststream.jpg", status));
        SimDriver driver(sim.Port(), 2000);
        quillon::host::VideoSink sink;
        velmora::CMxpegHttpChannel channel(0, &driver, &sink, nullptr);
        ASSERT_TRUE(channel.Start(Params(320, 240, 100, 100)));
        // A refused stream is one failed pass: the host hears of the loss right after the request.
        ASSERT_TRUE(sink.WaitForSignalLost(1, 10000)) << status;
        EXPECT_EQ(sim.Requests().Snapshot().at(0).target,
                  "/control/control?set&section=imagecontrol&motionjpeg=enable&size=320x240&quality=90&framerate100=0");
        channel.Stop();
        EXPECT_EQ(sink.Pictures(), 0u);
    }
}

TEST(CMxpegHttpChannelTest, FailedStoreFailsTheParameterPush) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    sim.SetCameraOff(false);
    SimDriver driver(sim.Port(), 300);
    velmora::CMxpegHttpChannel channel(0, &driver, nullptr, nullptr);
    // The store request dies without an answer: the exchange fails.
    sim.Faults().Add(camsim::FaultRule::CloseAfter("/admin/rcontrol", 0));
    ASSERT_TRUE(channel.Start(Params(320, 240, 100, 0)));
    ASSERT_TRUE(sim.Requests().WaitForCount("/admin/rcontrol", 2, 10000));
    EXPECT_EQ(sim.Requests().Count("/control/faststream.jpg"), 0u);
    EXPECT_NE(sim.Requests().Snapshot().at(0).target.find("quality=10"), std::string::npos);
    channel.Stop();
}

TEST(CMxpegHttpChannelTest, WrongPasswordIsALoggedFailedPushWithBackOff) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    sim.SetAuth(camsim::AuthMode::Basic, "admin", "right");
    SimDriver driver(sim.Port(), 2000);
    driver.device.UserName = "admin";
    driver.device.Password = "wrong";
    quillon::host::VideoSink sink;
    velmora::CMxpegHttpChannel channel(0, &driver, &sink, nullptr);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(channel.Start(Params(320, 240, 100, 50)));
    // Four failed passes: waits of 1, 1 and 1 s, then 5 s before the fourth.
    ASSERT_TRUE(sink.WaitForSignalLost(4, 15000));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 8s);
    EXPECT_EQ(channel.GetState(), velmora::kSignalLost);
    channel.Stop();
    EXPECT_EQ(sim.Requests().Count("/control/faststream.jpg"), 0u) << "a refused push never streams";
    EXPECT_EQ(sim.Requests().Count("/admin/rcontrol"), 0u) << "nothing is stored after a refused push";
    std::lock_guard<std::mutex> lock(driver.mutex);
    ASSERT_GE(driver.messages.size(), 4u);
    for (const LogLine& line : driver.messages) {
        EXPECT_EQ(line.level, 1);
        EXPECT_EQ(line.text, "velmora::Utils::SendRequestWrapper: host 127.0.0.1:" + std::to_string(sim.Port()) +
                                 " sent does not process request \"/control/control?set&section=imagecontrol&"
                                 "motionjpeg=enable&size=320x240&quality=40&framerate100=0\", status code = 401");
    }
}

// The converter refuses them (no garbage picture); the channel says so, throttled, and streams on.
TEST(CMxpegHttpChannelTest, FramesInAnotherSamplingAreReportedAsErrors) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    mxpegenc::EncoderOptions options;
    options.fullFrames444 = true;  // full frames 4:4:4, every tenth frame; the partial ones stay 4:2:0
    sim.Streams().SetMxpegOptions(options);
    SimDriver driver(sim.Port(), 2000);
    quillon::host::VideoSink sink;
    velmora::CMxpegHttpChannel channel(0, &driver, &sink, nullptr);
    ASSERT_TRUE(channel.Start(Params(160, 120, 40, 60)));
    const std::string expected = "velmora::CMxpegHttpChannel::StreamVideo(): MxPEG frame of device 127.0.0.1:" +
                                 std::to_string(sim.Port()) + " not converted: chroma sampling other than 4:2:0 or 4:2:2";
    ASSERT_TRUE(driver.WaitFor(expected, std::chrono::milliseconds(20000), 2));
    channel.Stop();
    std::lock_guard<std::mutex> lock(driver.mutex);
    for (const auto& m : driver.messages) {
        if (m.text != expected) continue;
        EXPECT_EQ(m.level, 1);
    }
}

TEST(CMxpegHttpChannelTest, SensorBlocksReachTheIOObjectPerReadAndPerPicture) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    SimDriver driver(sim.Port(), 2000);
    quillon::host::VideoSink sink;
    SensorRecorder sensors;
    velmora::CMxpegHttpChannel channel(0, &driver, &sink, &sensors);
    sim.SetInputs({true, false});
    ASSERT_TRUE(channel.Start(Params(320, 240, 40, 60)));
    ASSERT_TRUE(sink.WaitForPictures(3, 10000));
    channel.Stop();
    // Rebuilt pictures carry no comment segments: the blocks come from the reads that held them.
    EXPECT_GE(sensors.Count(), 1u);
    for (const auto& picture : sink.Kept())
        EXPECT_EQ(std::string(picture.jpeg.begin(), picture.jpeg.end()).find("SECTION SENSORS"), std::string::npos);
    std::lock_guard<std::mutex> lock(sensors.mutex);
    EXPECT_NE(sensors.blocks[0].find("SECTION SENSORS"), std::string::npos);
    EXPECT_EQ(sensors.blocks[0].find("ENDSECTION"), std::string::npos);
}

// Lines of the channel base for a one-channel driver on the simulator.
const std::string kOnline = "velmora::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online";
const std::string kStoppedLine =
    "velmora::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is offline. Channel was stopped";

// A channel base whose last-picture clock the test sets.
class ClockedChannel : public velmora::CBaseCameraChannel {
public:
    explicit ClockedChannel(velmora::IDriver* driver) : CBaseCameraChannel(0, driver, nullptr) { SetClock(&Now); }
    int32_t Run() override { return 0; }
    static uint64_t Now() { return now.load(); }
    static inline std::atomic<uint64_t> now{0};
};

TEST(CBaseCameraChannelTest, PictureAgeIsMonotonicSaturatedAndKnowsNoPictureYet) {
    constexpr uint32_t kNone = velmora::CBaseCameraChannel::kNoPictureYet;
    struct Row {
        const char* what;
        bool marked;
        uint64_t markedAt, now;
        uint32_t expected;
    } rows[] = {
        {"no picture yet, clock small", false, 0, 5, kNone},
        {"no picture yet, clock large", false, 0, (1ull << 32) + 2500, kNone},
        {"a picture at clock 0 is a picture", true, 0, 3000, 3000},
        {"plain age", true, 1000, 3600, 2600},
        {"clock not past the mark: no age, no wrap", true, 5000, 4000, 0},
        {"age beyond 32 bits saturates", true, 1000, 1000 + (1ull << 32) + 5, kNone},
        {"age just below the limit", true, 7, 7ull + kNone - 1, kNone - 1},
    };
    SimDriver driver(1, 100);
    for (const Row& row : rows) {
        ClockedChannel channel(&driver);
        ClockedChannel::now = row.markedAt;
        if (row.marked) channel.MarkFrameReceived();
        ClockedChannel::now = row.now;
        EXPECT_EQ(channel.GetMillisecondsSinceLastFrame(), row.expected) << row.what;
    }
}

TEST(CMjpegHttpChannelTest, UpdateRestartsWithoutOfflineOrOnlineLines) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    SimDriver driver(sim.Port(), 2000);
    quillon::host::VideoSink sink;
    velmora::CMjpegHttpChannel channel(0, &driver, &sink, nullptr);
    ASSERT_TRUE(channel.Start(Params(320, 240, 40, 50)));
    ASSERT_TRUE(sink.WaitForPictures(2, 10000));
    ASSERT_TRUE(channel.Update(Params(640, 480, 100, 90)));
    // The restarted thread pushes the new size with the old quality and streams again.
    ASSERT_TRUE(sim.Requests().WaitForCount(
        "/control/control?set&section=imagecontrol&motionjpeg=disable&size=640x480&quality=40", 1, 10000));
    const uint64_t before = sink.Pictures();
    ASSERT_TRUE(sink.WaitForPictures(before + 2, 10000));
    EXPECT_EQ(channel.GetState(), velmora::kConnected);
    channel.Stop();
    EXPECT_EQ(driver.Texts(), (std::vector<std::string>{kOnline, kStoppedLine}));
}

class MjpegCreator : public velmora::ICustomCreator {
public:
    explicit MjpegCreator(SimDriver* driver) : driver_(driver) {}
    velmora::ICameraChannel* CreateChannel(uint32_t index, velmora::ipcapture::IVideoSink* sink) override {
        return new velmora::CMjpegHttpChannel(index, driver_, sink, nullptr);
    }

private:
    SimDriver* driver_;
};

TEST(CIPVideoCaptureChannelTest, HostStoppingTheChannelFromItsDebugCallbackDoesNotDeadlock) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    SimDriver driver(sim.Port(), 2000);
    quillon::host::VideoSink sink;
    quillon::host::ChannelSettings settings(320, 240, 40, 50);
    MjpegCreator creator(&driver);
    velmora::CIPVideoCapture capture(&creator, 1);
    std::mutex mutex;
    std::condition_variable cv;
    int stopCalls = 0;
    bool stopResult = false;
    // On the first "online" line, posted by the capture thread, the host stops that very channel.
    driver.onMessage = [&](const std::string& text) {
        if (text != kOnline) return;
        std::unique_lock<std::mutex> lock(mutex);
        if (stopCalls++ > 0) return;
        lock.unlock();
        const bool result = capture.StopChannel(0);
        lock.lock();
        stopResult = result;
        cv.notify_all();
    };
    ASSERT_TRUE(capture.StartChannel(0, &sink, &settings));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return stopResult; })) << "StopChannel did not return";
    }
    ASSERT_TRUE(driver.WaitFor("Channel was stopped", 10s));
    EXPECT_EQ(driver.Texts(), (std::vector<std::string>{kOnline, kStoppedLine}));
    int32_t state = 0, code = 0;
    EXPECT_FALSE(capture.GetChannelState(0, &state, &code, nullptr, 0)) << "the slot is empty";
    // The slot starts again; the stopped channel is destroyed once its thread has ended.
    ASSERT_TRUE(capture.StartChannel(0, &sink, &settings));
    const uint64_t before = sink.Pictures();
    EXPECT_TRUE(sink.WaitForPictures(before + 2, 10000));
}

}  // namespace

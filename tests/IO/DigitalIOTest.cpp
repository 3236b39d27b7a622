// Digital I/O: input states from sensor blocks, output switching on the worker, failure reset.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "Driver/DebugInfo.h"
#include "IO/MobotixDigitalIO.h"
#include "host/HostObjects.h"

namespace {

using velmora::CIOBase;
using velmora::CMobotixDigitalIO;

class CountsDriver : public velmora::IDriver {
public:
    CountsDriver(int32_t inputs, int32_t outputs) : inputs_(inputs), outputs_(outputs) {}
    void DebugMessage(int, const char*, ...) override {}
    velmora::DEVICE_INFO GetDeviceInfo() override {
        velmora::DEVICE_INFO d;
        d.Address = "127.0.0.1";
        d.Port = 1;  // nothing listens there
        d.RequestTimeout = 500;
        return d;
    }
    std::pair<int32_t, int32_t> GetIOCount() override { return {inputs_, outputs_}; }
    velmora::ipcapture::ISampleAllocator* GetSampleAllocator() override { return nullptr; }
    int32_t GetVideoStandard() override { return 0; }
    int32_t GetStreamType() override { return 1; }
    int32_t GetChannelCount() override { return 1; }
    velmora::StreamParameters GetChannelParameters(uint32_t) override { return {}; }
    std::string GetParameter(int32_t) override { return {}; }
    int32_t GetParameterInt(int32_t) override { return 0; }

private:
    int32_t inputs_, outputs_;
};

// Records switches instead of sending them; can be told to fail.
class FakeIO : public CIOBase {
public:
    using CIOBase::CIOBase;
    ~FakeIO() override { CIOBase::Stop(); }
    bool SwitchOutput(uint32_t index, int32_t state) override {
        std::lock_guard<std::mutex> lock(mutex);
        switches.emplace_back(index, state);
        cv.notify_all();
        return !fail;
    }
    void ProcessSensorSection(const std::string& text) override {
        UpdateInputs(CMobotixDigitalIO::ParseSensorSection(text, GetInputCount()));
    }
    bool WaitForSwitches(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return switches.size() >= n; });
    }
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::pair<uint32_t, int32_t>> switches;
    std::atomic<bool> fail{false};
};

TEST(CMobotixDigitalIOTest, SensorKeysAndFallbacks) {
    struct Row {
        const char* text;
        uint32_t inputs;
        std::vector<int32_t> states;
    } rows[] = {
        {"SECTION SENSORS\r\nINA=1,INB=0\r\n", 2, {1, 2}},           // primary keys; "0" is active-high state 2
        {"SECTION SENSORS\r\nSIN=1\r\n", 1, {1}},                    // fallback key of the first input
        {"SECTION SENSORS\r\nSIN=0,SI2=1,SI3=1\r\n", 3, {2, 1, 1}},  // fallbacks of later inputs
        {"SECTION SENSORS\r\nXSIN=1\r\n", 1, {0}},                   // SIN inside another name is not SIN
        {"SECTION SENSORS\r\nINA=1\r\n", 2, {1, 0}},                 // missing input: no state
        {"", 0, {}},                                                 // no inputs, nothing read
    };
    for (const Row& row : rows)
        EXPECT_EQ(CMobotixDigitalIO::ParseSensorSection(row.text, row.inputs), row.states) << row.text;
}

TEST(CIOBaseTest, InputChangesAreReportedOncePerChange) {
    CountsDriver driver(2, 0);
    FakeIO io(&driver);
    quillon::host::IOSink sink;
    ASSERT_FALSE(io.SetSink(nullptr));
    ASSERT_TRUE(io.SetSink(&sink));
    EXPECT_TRUE(io.Start());  // no outputs: no worker, still a success
    io.ProcessSensorSection("SECTION SENSORS\r\nINA=1,INB=0\r\n");
    io.ProcessSensorSection("SECTION SENSORS\r\nINA=1,INB=0\r\n");
    io.ProcessSensorSection("SECTION SENSORS\r\nINA=0,INB=0\r\n");
    // Start brings both inputs from "no state" to 1; then only real changes follow.
    std::vector<std::pair<uint32_t, int32_t>> expected = {{0, 1}, {1, 1}, {1, 2}, {0, 2}};
    EXPECT_EQ(sink.Changes(), expected);
    EXPECT_FALSE(io.SetOutput(0, 2)) << "a camera without outputs has no worker";
}

TEST(CIOBaseTest, StartReportsInputsBackToLowAndSwitchesOutputsLow) {
    CountsDriver driver(1, 2);
    FakeIO io(&driver);
    quillon::host::IOSink sink;
    io.SetSink(&sink);
    io.ProcessSensorSection("SIN=0");  // state 2 before the start
    ASSERT_TRUE(io.Start());
    std::vector<std::pair<uint32_t, int32_t>> expectedChanges = {{0, 2}, {0, 1}};
    EXPECT_EQ(sink.Changes(), expectedChanges);
    std::vector<std::pair<uint32_t, int32_t>> expectedSwitches = {{0, 1}, {1, 1}};
    EXPECT_EQ(io.switches, expectedSwitches);
    EXPECT_FALSE(io.Start()) << "a second start while the worker runs";
    io.Stop();
}

TEST(CIOBaseTest, OutputsSwitchOncePerChangeOnTheWorker) {
    CountsDriver driver(0, 1);
    FakeIO io(&driver);
    quillon::host::IOSink sink;
    io.SetSink(&sink);
    ASSERT_TRUE(io.Start());
    ASSERT_TRUE(io.SetOutput(0, 2));
    ASSERT_TRUE(io.SetOutput(0, 2));  // same state: no second switch
    ASSERT_TRUE(io.SetOutput(0, 1));
    ASSERT_TRUE(io.SetOutput(0, 3));  // unknown state: stored, the camera is not asked
    ASSERT_TRUE(io.SetOutput(5, 2));  // no such output
    ASSERT_TRUE(io.WaitForSwitches(4));
    io.Stop();  // drains nothing more: items already executed
    std::vector<std::pair<uint32_t, int32_t>> expected = {{0, 1}, {0, 2}, {0, 1}, {0, 3}};
    EXPECT_EQ(io.switches, expected);
    EXPECT_FALSE(io.SetOutput(0, 2)) << "stopped";
    EXPECT_EQ(io.OutputStates().at(0), 0) << "stop resets states";
}

TEST(CIOBaseTest, FailedSwitchResetsStatesAndReportsFailure) {
    CountsDriver driver(1, 1);
    FakeIO io(&driver);
    quillon::host::IOSink sink;
    io.SetSink(&sink);
    ASSERT_TRUE(io.Start());
    io.ProcessSensorSection("INA=0");
    io.fail = true;
    ASSERT_TRUE(io.SetOutput(0, 2));
    ASSERT_TRUE(sink.WaitForFailures(1, 5000));
    EXPECT_EQ(io.OutputStates().at(0), 0);
    EXPECT_EQ(io.InputStates().at(0), 0);
    io.fail = false;
    ASSERT_TRUE(io.SetOutput(0, 2));  // state 0 now: switched again
    ASSERT_TRUE(io.WaitForSwitches(3));
    io.Stop();
}

TEST(CMobotixDigitalIOTest, UnreachableCameraAtStartResetsAndReportsFailure) {
    CountsDriver driver(1, 1);
    CMobotixDigitalIO io(&driver);
    quillon::host::IOSink sink;
    io.SetSink(&sink);
    io.Start();
    EXPECT_EQ(sink.Failures(), 1);
    EXPECT_EQ(io.OutputStates().at(0), 0);
    EXPECT_EQ(io.InputStates().at(0), 0);
    io.Stop();
}

}  // namespace

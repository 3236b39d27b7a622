// The driver object: Open and Close, the device record and host parameters, the
// "DRIVER IS OPENED" line, the log path with its level mapping by host core version, and
// robustness against missing configuration and throwing hosts.
#include "Driver/IPCaptureDriver.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "Channels/MjpegHttpChannel.h"
#include "Channels/MxpegHttpChannel.h"
#include "Driver/DriverTestSupport.h"
#include "host/HostObjects.h"
#include "support/PeImage.h"
#include "support/TempDir.h"

namespace {

using quillon::host::CameraConfig;
using quillon::host::DebugLog;
using quillon::host::HostConfig;
using quillon::host::SampleAllocator;
using namespace quillon::test;
using velmora::ipcapture::IIPCaptureDriver;

CameraConfig DefaultCamera() {
    CameraConfig camera;
    camera.address = "127.0.0.1";
    camera.port = 8080;
    camera.user = "admin";
    camera.password = "meinsm";
    camera.model = "M16";
    camera.channels = 2;
    camera.streamType = 2;
    camera.parameters = {"1", "presets.xml", "Pan=1 Tilt=1", "MX-V4.4.2"};
    return camera;
}

// Every test runs in a fresh current directory: the driver looks for the host core module
// there, and only the tests that put one there may find one.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.Ok());
        cwd_ = std::make_unique<ScopedCurrentDirectory>(dir_.Path());
    }
    void TearDown() override { cwd_.reset(); }

    void PutHostCore(uint16_t major, uint16_t minor, uint16_t build = 0, uint16_t revision = 0) {
        PeImageOptions options;
        options.productVersion[0] = major;
        options.productVersion[1] = minor;
        options.productVersion[2] = build;
        options.productVersion[3] = revision;
        ASSERT_TRUE(WriteBinaryFile(dir_.File("ombrel.dll"), BuildResourcePeImage(options)));
    }

    // Lines that contain the fragment.
    static std::vector<quillon::host::LogLine> Find(DebugLog& log, const std::string& fragment) {
        std::vector<quillon::host::LogLine> found;
        for (const auto& line : log.Lines())
            if (line.text.find(fragment) != std::string::npos) found.push_back(line);
        return found;
    }

    TempDir dir_;
    std::unique_ptr<ScopedCurrentDirectory> cwd_;
    SampleAllocator allocator_;
};

TEST_F(DriverTest, LevelsFollowTheHostCoreVersion) {
    struct Row {
        const char* why;
        uint16_t version[4];
        bool noModule;                 // no host core module at all
        int opened, error, warning, info, notice, other;  // posted level of "DRIVER IS OPENED", 1, 2, 3, 100, 7
    };
    const Row rows[] = {
        {"0.0", {0, 0, 0, 0}, false, 2, 1, 2, 2, 2, 7},
        {"5.11", {5, 11, 0, 0}, false, 2, 1, 2, 2, 2, 7},
        {"5.11 with high build and revision", {5, 11, 65535, 65535}, false, 2, 1, 2, 2, 2, 7},
        {"5.12", {5, 12, 0, 0}, false, 3, 1, 2, 3, 3, 7},
        {"6.2", {6, 2, 9999, 0}, false, 3, 1, 2, 3, 3, 7},
        {"6.3", {6, 3, 0, 0}, false, 100, 1, 2, 3, 100, 7},
        {"7.0", {7, 0, 0, 0}, false, 100, 1, 2, 3, 100, 7},
        {"no module: 5.12 by default", {0, 0, 0, 0}, true, 3, 1, 2, 3, 3, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        std::filesystem::remove(dir_.File("ombrel.dll"));
        if (!row.noModule) PutHostCore(row.version[0], row.version[1], row.version[2], row.version[3]);
        DebugLog log;
        HostConfig config(DefaultCamera());
        velmora::CMobotixIPCaptureDriver driver;
        ASSERT_TRUE(driver.Open(&log, &allocator_, &config));
        auto opened = Find(log, "DRIVER IS OPENED");
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].level, row.opened);

        log.Clear();
        const int levels[] = {1, 2, 3, 4, 100, 7};
        for (int level : levels) driver.DebugMessage(level, "%s: level %d", "velmora::Test::Levels", level);
        auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 5u) << "level 4 is never posted";
        const int expected[] = {row.error, row.warning, row.info, row.notice, row.other};
        const int asked[] = {1, 2, 3, 100, 7};
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(lines[i].text, "velmora::Test::Levels: level " + std::to_string(asked[i]));
            EXPECT_EQ(lines[i].level, expected[i]) << "asked level " << asked[i];
        }
    }
}

TEST_F(DriverTest, LevelFourIsNeverPosted) {
    const uint16_t versions[][2] = {{0, 0}, {5, 11}, {5, 12}, {6, 2}, {6, 3}, {7, 0}};
    RecordingReceiver receiver;
    TestDriver driver;
    driver.SetReceiver(&receiver);
    for (const auto& version : versions) {
        driver.SetHostVersion(version[0], version[1]);
        driver.DebugMessage(4, "%s", "silent");
        driver.DebugMessage(velmora::kLevelSilent, "silent %d", version[0]);
    }
    EXPECT_TRUE(receiver.Records().empty());
}

TEST_F(DriverTest, LongMessageArrivesWhole) {
    RecordingReceiver receiver;
    TestDriver driver;
    driver.SetReceiver(&receiver);
    driver.SetHostVersion(6, 3);
    std::string reply;
    for (int i = 0; reply.size() < 300000; ++i) reply += "line " + std::to_string(i) + " of a long camera reply\n";
    driver.DebugMessage(1, "%s: camera said: %s", "velmora::Utils::SendRequestWrapper", reply.c_str());
    auto records = receiver.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "velmora::Utils::SendRequestWrapper: camera said: " + reply);
}

TEST_F(DriverTest, EmptyMessageIsPostedWithNullText) {
    RecordingReceiver receiver;
    TestDriver driver;
    driver.SetReceiver(&receiver);
    driver.SetHostVersion(6, 3);
    driver.DebugMessage(1, "%s", "");
    auto records = receiver.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].textWasNull);
    EXPECT_EQ(records[0].level, 1);
}

TEST_F(DriverTest, WithoutReceiverMessagesAreDropped) {
    HostConfig config(DefaultCamera());
    TestDriver driver;
    EXPECT_NO_THROW(driver.DebugMessage(1, "%s", "nobody listens"));
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config)) << "the debug receiver may be null";
    EXPECT_NO_THROW(driver.DebugMessage(1, "%s", "nobody listens"));
}

TEST_F(DriverTest, OpenedLineCarriesTextsLiterally) {
    struct Row {
        const char* why;
        std::string model, firmware, address;
        uint16_t port;
        std::string expected;
    };
    const Row rows[] = {
        {"with firmware", "M16", "MX-V4.4.2", "127.0.0.1", 8080,
         "DRIVER IS OPENED (name: Quillon, device model: M16, FW: MX-V4.4.2, address: 127.0.0.1:8080)"},
        {"empty firmware leaves the FW part out", "M16", "", "127.0.0.1", 80,
         "DRIVER IS OPENED (name: Quillon, device model: M16, address: 127.0.0.1:80)"},
        {"firmware \"(none)\" reads as empty", "M16", "(none)", "127.0.0.1", 80,
         "DRIVER IS OPENED (name: Quillon, device model: M16, address: 127.0.0.1:80)"},
        {"percent signs are not conversions", "M%s%n%d", "FW%x%%", "127.0.0.1%s", 65535,
         "DRIVER IS OPENED (name: Quillon, device model: M%s%n%d, FW: FW%x%%, address: 127.0.0.1%s:65535)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        CameraConfig camera = DefaultCamera();
        camera.model = row.model;
        camera.address = row.address;
        camera.port = row.port;
        camera.parameters = {"0", "", "", row.firmware};
        HostConfig config(camera);
        DebugLog log;
        velmora::CMobotixIPCaptureDriver driver;
        ASSERT_TRUE(driver.Open(&log, &allocator_, &config));
        auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, row.expected);
    }
}

TEST_F(DriverTest, OpenCopiesTheConfiguration) {
    CameraConfig camera = DefaultCamera();
    camera.inputs = 3;
    camera.outputs = 1;
    HostConfig config(camera);
    DebugLog log;
    TestDriver driver;
    ASSERT_TRUE(driver.Open(&log, &allocator_, &config));
    velmora::DEVICE_INFO device = driver.GetDeviceInfo();
    EXPECT_EQ(device.Address, "127.0.0.1");
    EXPECT_EQ(device.Port, 8080);
    EXPECT_EQ(device.UserName, "admin");
    EXPECT_EQ(device.Password, "meinsm");
    EXPECT_EQ(device.Model, "M16");
    EXPECT_EQ(device.RequestTimeout, 5000);
    EXPECT_EQ(device.StreamTimeout, 5000);
    EXPECT_EQ(driver.GetIOCount(), std::make_pair(3, 1)) << "(inputs, outputs)";
    EXPECT_EQ(driver.GetChannelCount(), 2);
    EXPECT_EQ(driver.GetStreamType(), 2);
    EXPECT_EQ(driver.GetSampleAllocator(), &allocator_);
    EXPECT_EQ(driver.GetParameter(2), "presets.xml");
    EXPECT_EQ(driver.GetParameter(3), "Pan=1 Tilt=1");
    const uint16_t* version = driver.HostVersion();
    EXPECT_EQ(version[0], 5) << "no host core module here";
    EXPECT_EQ(version[1], 12);
    EXPECT_EQ(version[2], 0);
    EXPECT_EQ(version[3], 0);
    // Later changes at the host are not seen.
    config.Config().address = "127.0.0.2";
    EXPECT_EQ(driver.GetDeviceInfo().Address, "127.0.0.1");
}

TEST_F(DriverTest, GetParameterReadsNoneAsEmpty) {
    struct Row {
        int32_t key;
        std::string expected;
    };
    CameraConfig camera = DefaultCamera();
    camera.parameters = {"(none)", "plain", "", " (none)", "(NONE)", "(none) "};
    HostConfig config(camera);
    TestDriver driver;
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config));
    const Row rows[] = {
        {1, ""},         // exactly "(none)"
        {2, "plain"},    // any other text as stored
        {3, ""},         // stored empty
        {4, " (none)"},  // only the exact text counts
        {5, "(NONE)"},
        {6, "(none) "},
        {7, ""},         // absent
        {0, ""},         // never read: keys start at 1
        {-1, ""},
    };
    for (const Row& row : rows) EXPECT_EQ(driver.GetParameter(row.key), row.expected) << "key " << row.key;
}

TEST_F(DriverTest, GetParameterIntAcceptsOnlySignedDecimals) {
    struct Row {
        const char* text;  // null: key absent
        int32_t expected;
    };
    const Row rows[] = {
        {"-5", -5},
        {"+12", 12},
        {"007", 7},                       // leading zeros are digits
        {"0", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},          // the smallest value reads as itself
        {"+", INT_MIN},                    // sign alone
        {"-", INT_MIN},
        {"", INT_MIN},                     // empty
        {"12a", INT_MIN},                  // trailing garbage
        {" 12", INT_MIN},                  // blanks are not digits
        {"12 ", INT_MIN},
        {"+-1", INT_MIN},                  // one sign only
        {"0x10", INT_MIN},
        {"(none)", INT_MIN},               // taken as stored
        {"2147483648", INT_MIN},           // beyond 32 bits: a failed conversion
        {"-2147483649", INT_MIN},
        {"4294967297", INT_MIN},           // would wrap to 1
        {"99999999999999999999999", INT_MIN},  // beyond 64 bits too
        {nullptr, INT_MIN},                // absent
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text ? std::string("\"") + row.text + "\"" : std::string("absent"));
        CameraConfig camera = DefaultCamera();
        camera.parameters = row.text ? std::vector<std::string>{row.text} : std::vector<std::string>{};
        HostConfig config(camera);
        TestDriver driver;
        ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config));
        EXPECT_EQ(driver.GetParameterInt(1), row.expected);
    }
}

TEST_F(DriverTest, VideoStandardFlagComesFromParameterOne) {
    struct Row {
        const char* text;  // null: absent
        int32_t expected;
    };
    const Row rows[] = {{"1", 1}, {"+1", 1}, {"01", 1}, {"0", 0}, {"2", 0}, {"-1", 0}, {"1x", 0}, {"(none)", 0}, {nullptr, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text ? row.text : "absent");
        CameraConfig camera = DefaultCamera();
        camera.parameters = row.text ? std::vector<std::string>{row.text} : std::vector<std::string>{};
        HostConfig config(camera);
        TestDriver driver;
        ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config));
        EXPECT_EQ(driver.GetVideoStandard(), row.expected);
    }
}

TEST_F(DriverTest, ParameterListEndsAtFirstNullAndSurvivesReopen) {
    NullableConfig config;
    config.parameters = {"1", nullptr, "never read"};
    TestDriver driver;
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config));
    EXPECT_EQ(driver.GetParameter(1), "1");
    EXPECT_EQ(driver.GetParameter(3), "") << "entries after the first null are not read";
    driver.Close();

    // A later Open replaces the keys it reads and keeps the others.
    NullableConfig second;
    second.parameters = {"0"};
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &second));
    EXPECT_EQ(driver.GetParameter(1), "0");
    EXPECT_EQ(driver.GetVideoStandard(), 0);
    NullableConfig third;
    third.parameters = {"1", "a.xml", "caps", "FW1"};
    driver.Close();
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &third));
    driver.Close();
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &second));
    EXPECT_EQ(driver.GetParameter(1), "0");
    EXPECT_EQ(driver.GetParameter(4), "FW1");
}

TEST_F(DriverTest, EndlessParameterListIsCutOff) {
    // A host that never ends its list with a null must not keep Open reading for ever.
    class EndlessConfig : public NullableConfig {
    public:
        const char* GetParameter(int32_t index) override {
            ++calls;
            lastIndex = index;
            // Ends after all, so that a driver without a bound fails this test instead of hanging it.
            return calls < 100000 ? "7" : nullptr;
        }
        int64_t calls = 0;
        int32_t lastIndex = 0;
    } config;
    TestDriver driver;
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config));
    EXPECT_EQ(driver.GetParameterInt(4), 7);
    EXPECT_EQ(driver.GetParameterInt(1024), 7);
    EXPECT_EQ(config.calls, 1024) << "read up to a fixed bound";
    EXPECT_EQ(driver.GetParameterInt(1025), INT_MIN);
}

TEST_F(DriverTest, SubObjectsLiveFromOpenToClose) {
    HostConfig config(DefaultCamera());
    TestDriver driver;
    IIPCaptureDriver* host = static_cast<velmora::ipcapture::IIPCaptureDriverEx3*>(&driver);
    EXPECT_EQ(host->GetVideoCapture(), nullptr);
    EXPECT_EQ(host->GetIOApi(), nullptr);
    EXPECT_EQ(driver.GetPTZDriver(), nullptr);
    EXPECT_EQ(driver.GetVideoCaptureEx(), nullptr);
    EXPECT_EQ(driver.GetPTZDriverEx(), nullptr);
    ASSERT_TRUE(host->Open(nullptr, &allocator_, &config));
    ASSERT_NE(host->GetVideoCapture(), nullptr);
    ASSERT_NE(host->GetIOApi(), nullptr);
    ASSERT_NE(driver.GetPTZDriver(), nullptr);
    EXPECT_EQ(static_cast<velmora::ipcapture::IIPVideoCapture*>(driver.GetVideoCaptureEx()), host->GetVideoCapture());
    EXPECT_EQ(static_cast<velmora::IIPPTZDriver*>(driver.GetPTZDriverEx()), driver.GetPTZDriver());
    EXPECT_EQ(driver.Reserved1(), nullptr);
    EXPECT_EQ(driver.Reserved2(), nullptr);
    EXPECT_EQ(host->GetVideoCapture()->GetChannelCount(), 2u);
    host->Close();
    EXPECT_EQ(host->GetVideoCapture(), nullptr);
    EXPECT_EQ(host->GetIOApi(), nullptr);
    EXPECT_EQ(driver.GetPTZDriver(), nullptr);
    EXPECT_EQ(driver.GetDeviceInfo().Address, "127.0.0.1") << "Close keeps the configuration";
}

TEST_F(DriverTest, SecondOpenFailsAndKeepsSubObjects) {
    HostConfig first(DefaultCamera());
    CameraConfig other = DefaultCamera();
    other.address = "127.0.0.2";
    HostConfig second(other);
    TestDriver driver;
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &first));
    auto* capture = driver.GetVideoCapture();
    auto* io = driver.GetIOApi();
    auto* ptz = driver.GetPTZDriver();
    EXPECT_FALSE(driver.Open(nullptr, &allocator_, &second));
    EXPECT_EQ(driver.GetVideoCapture(), capture);
    EXPECT_EQ(driver.GetIOApi(), io);
    EXPECT_EQ(driver.GetPTZDriver(), ptz);
    EXPECT_EQ(driver.GetDeviceInfo().Address, "127.0.0.2") << "the configuration was read before the failure";
    driver.Close();
    EXPECT_TRUE(driver.Open(nullptr, &allocator_, &first)) << "after Close the driver opens again";
}

TEST_F(DriverTest, CloseIsIdempotentAndDeleteClosesFirst) {
    HostConfig config(DefaultCamera());
    FakeCreator creator;
    {
        TestDriver driver;
        driver.Close();  // before Open
        ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config));
        driver.Close();
        driver.Close();
    }
    // Deleted through the host's interface while open, with a channel running.
    auto* driver = new TestDriver;
    driver->fakeCreator = &creator;
    IIPCaptureDriver* host = static_cast<velmora::ipcapture::IIPCaptureDriverEx3*>(driver);
    ASSERT_TRUE(host->Open(nullptr, &allocator_, &config));
    quillon::host::VideoSink sink;
    quillon::host::ChannelSettings settings(352, 288, 200, 60);
    ASSERT_TRUE(host->GetVideoCapture()->StartChannel(1, &sink, &settings));
    velmora::ipcapture::DeleteThroughInterface(host);
    EXPECT_EQ(creator.journal->Entries(),
              (std::vector<std::string>{"create 1 for slot 1", "start 1", "stop 1", "destroy 1"}));
}

TEST_F(DriverTest, MissingConfigurationIsRefusedWithoutCrash) {
    TestDriver driver;
    DebugLog log;
    EXPECT_FALSE(driver.Open(&log, &allocator_, nullptr));
    NullableConfig noCamera;
    noCamera.hasCamera = false;
    EXPECT_FALSE(driver.Open(&log, &allocator_, &noCamera));
    NullableConfig noConnection;
    noConnection.hasConnection = false;
    EXPECT_FALSE(driver.Open(&log, &allocator_, &noConnection));
    EXPECT_EQ(driver.GetVideoCapture(), nullptr);
    EXPECT_TRUE(log.Lines().empty()) << "a failed Open logs nothing";
}

TEST_F(DriverTest, NullTextsFromConfigurationReadAsEmpty) {
    NullableConfig config;  // model, address, user and password all null
    DebugLog log;
    TestDriver driver;
    ASSERT_TRUE(driver.Open(&log, &allocator_, &config));
    velmora::DEVICE_INFO device = driver.GetDeviceInfo();
    EXPECT_EQ(device.Address, "");
    EXPECT_EQ(device.UserName, "");
    EXPECT_EQ(device.Password, "");
    EXPECT_EQ(device.Model, "");
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "DRIVER IS OPENED (name: Quillon, device model: , address: :80)");
}

TEST_F(DriverTest, ThrowingReceiverIsContained) {
    HostConfig config(DefaultCamera());
    ThrowingReceiver receiver;
    TestDriver driver;
    bool opened = false;
    EXPECT_NO_THROW(opened = driver.Open(&receiver, &allocator_, &config));
    EXPECT_TRUE(opened) << "the failed post of the opened line does not fail Open";
    EXPECT_NO_THROW(driver.DebugMessage(1, "%s: %s", "velmora::Test", "still reporting"));
    EXPECT_EQ(receiver.calls, 2);
}

TEST_F(DriverTest, ConcurrentMessagesAllArrive) {
    // Capture, output and PTZ threads report at once; the driver takes no lock.
    HostConfig config(DefaultCamera());
    DebugLog log;
    TestDriver driver;
    ASSERT_TRUE(driver.Open(&log, &allocator_, &config));
    constexpr int kThreads = 4, kMessages = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kMessages; ++i) driver.DebugMessage(3, "thread %d message %d", t, i);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(log.Count(" message "), size_t(kThreads * kMessages));
    EXPECT_EQ(log.Count("thread 3 message 249"), 1u);
}

TEST_F(DriverTest, ChannelParametersComeFromTheStartedChannel) {
    HostConfig config(DefaultCamera());
    FakeCreator creator;
    TestDriver driver;
    driver.fakeCreator = &creator;
    auto zero = [](const velmora::StreamParameters& p) {
        return p.FrameInterval == 0 && p.Quality == 0 && p.Width == 0 && p.Height == 0;
    };
    EXPECT_TRUE(zero(driver.GetChannelParameters(0))) << "before Open";
    ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config));
    EXPECT_TRUE(zero(driver.GetChannelParameters(0))) << "never started";
    quillon::host::VideoSink sink;
    quillon::host::ChannelSettings settings(704, 576, 40, 75);
    ASSERT_TRUE(driver.GetVideoCapture()->StartChannel(0, &sink, &settings));
    velmora::StreamParameters p = driver.GetChannelParameters(0);
    EXPECT_EQ(p.FrameInterval, 40u);
    EXPECT_EQ(p.Quality, 75u);
    EXPECT_EQ(p.Width, 704u);
    EXPECT_EQ(p.Height, 576u);
    EXPECT_TRUE(zero(driver.GetChannelParameters(1))) << "other slot empty";
    EXPECT_TRUE(zero(driver.GetChannelParameters(2))) << "beyond the table";
    EXPECT_NE(driver.GetVideoCapture()->GetChannelCount(), 0u);
    driver.Close();
    EXPECT_TRUE(zero(driver.GetChannelParameters(0))) << "after Close";
}

TEST_F(DriverTest, ChannelTypeFollowsStreamType) {
    struct Row {
        int32_t streamType;
        const char* kind;  // "mjpeg", "mxpeg" or null for no channel
    };
    const Row rows[] = {{1, "mjpeg"}, {2, "mxpeg"}, {0, nullptr}, {3, nullptr}, {-1, nullptr}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.streamType);
        CameraConfig camera = DefaultCamera();
        camera.streamType = row.streamType;
        HostConfig config(camera);
        velmora::CMobotixIPCaptureDriver driver;
        ASSERT_TRUE(driver.Open(nullptr, &allocator_, &config)) << "any stream type opens";
        std::unique_ptr<velmora::ICameraChannel> channel(driver.CreateChannel(0, nullptr));
        if (!row.kind) {
            EXPECT_EQ(channel, nullptr);
            quillon::host::VideoSink sink;
            quillon::host::ChannelSettings settings(352, 288, 200, 60);
            EXPECT_FALSE(driver.GetVideoCapture()->StartChannel(0, &sink, &settings));
            int32_t state = -7;
            EXPECT_FALSE(driver.GetVideoCapture()->GetChannelState(0, &state, nullptr, nullptr, 0)) << "slot stays empty";
        } else if (std::string(row.kind) == "mjpeg") {
            EXPECT_NE(dynamic_cast<velmora::CMjpegHttpChannel*>(channel.get()), nullptr);
        } else {
            EXPECT_NE(dynamic_cast<velmora::CMxpegHttpChannel*>(channel.get()), nullptr);
        }
    }
}

TEST_F(DriverTest, ReadHostCoreVersionFallsBackTo512) {
    struct Row {
        const char* why;
        std::vector<uint8_t> file;  // empty: no file
        uint16_t expected[4];
    };
    PeImageOptions options;
    options.productVersion[0] = 6, options.productVersion[1] = 4, options.productVersion[2] = 2, options.productVersion[3] = 1;
    const Row rows[] = {
        {"missing file", {}, {5, 12, 0, 0}},
        {"not a PE image", {'n', 'o', 't', ' ', 'P', 'E'}, {5, 12, 0, 0}},
        {"PE image without version", BuildPeImage([] { PeImageOptions o; o.versionResource = false; return o; }()), {5, 12, 0, 0}},
        {"PE image with version", BuildResourcePeImage(options), {6, 4, 2, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        std::filesystem::remove(dir_.File("ombrel.dll"));
        if (!row.file.empty()) {
            ASSERT_TRUE(WriteBinaryFile(dir_.File("ombrel.dll"), row.file));
        }
        uint16_t version[4] = {1, 1, 1, 1};
        velmora::ReadHostCoreVersion(version);
        EXPECT_EQ(std::vector<uint16_t>(version, version + 4), std::vector<uint16_t>(row.expected, row.expected + 4));
    }
}

}  // namespace

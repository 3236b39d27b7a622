// The camera probe against the simulator: the four queries, what they fill in, the failure codes
// and the host parameters written afterwards.
#include <gtest/gtest.h>

#include <memory>

#include "CapabilityRecorder.h"
#include "HostCoreModuleFile.h"
#include "Properties/MobotixCameraProperties.h"
#include "camsim/CameraSimulator.h"
#include "platform/System.h"

using quillon_test::HostCoreModuleFile;
using quillon_test::ResultRecorder;
using velmora::CMobotixCameraProperties;
using Calls = std::vector<std::string>;

namespace {

constexpr int32_t kUntouched = 77;
constexpr const char* kFullPtzText =
    "Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=1; AreaZoom=1; Preset=256";
constexpr const char* kNoPtzText = "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0";

class CMobotixCameraPropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A host core module left behind would change the failure codes.
        ASSERT_FALSE(velmora::platform::FileIsReadableAndNonEmpty(HostCoreModuleFile::Path()));
        camsim::CameraIdentity identity;
        identity.typeName = "M16 PTZ";
        identity.audio = "1";
        identity.firmware = "MX-V5.2.6.18";
        identity.mac = "00:03:C5:0A:1B:2C";
        identity.ptzHelp = true;
        sim_.Camera().SetIdentity(identity);
        sim_.Camera().SetImageControlList(
            "framerate100=100,200,400,800,1250,2500\r\nsize=QVGA#320x240,VGA#640x480,MEGA#1280x960\r\n");
        ASSERT_TRUE(sim_.Start());
    }

    velmora::DEVICE_INFO Device() const {
        velmora::DEVICE_INFO device;
        device.Address = "127.0.0.1";
        device.Port = sim_.Port();
        return device;
    }

    std::unique_ptr<CMobotixCameraProperties> Probe(int32_t videoStandard = 0) {
        return std::make_unique<CMobotixCameraProperties>(Device(), videoStandard);
    }

    void SetIdentity(void (*change)(camsim::CameraIdentity&)) {
        camsim::CameraIdentity identity = sim_.Camera().Identity();
        change(identity);
        sim_.Camera().SetIdentity(identity);
    }

    // The value written for parameter index, "" when it was not written.
    static std::string ParameterValue(const ResultRecorder& result, int index) {
        const std::string prefix = "Entry" + std::to_string(index) + ".SetEntryValue(";
        const Calls calls = result.CallsStartingWith(prefix);
        if (calls.size() != 1) return "";
        return calls[0].substr(prefix.size(), calls[0].size() - prefix.size() - 1);
    }

    static bool WroteCapability(const ResultRecorder& result, const std::string& call) {
        return !result.CallsStartingWith(call).empty();
    }

    camsim::CameraSimulator sim_;
};

}  // namespace

TEST_F(CMobotixCameraPropertiesTest, FullProbeOfPtzCameraWritesEveryResult) {
    auto probe = Probe();
    int32_t error = kUntouched;
    ASSERT_TRUE(probe->GetProperties(&error));
    EXPECT_EQ(error, kUntouched);

    // The four queries, in order, once each.
    const auto requests = sim_.Requests().Snapshot();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].target, "/cgi-bin/rinfo?querydata=basic");
    EXPECT_EQ(requests[1].target, "/control/control?list&section=imagecontrol");
    EXPECT_EQ(requests[2].target, "/admin/version");
    EXPECT_EQ(requests[3].target, "/control/rotorcgi?help");
    for (const auto& request : requests) EXPECT_EQ(request.method, "GET");

    EXPECT_EQ(probe->manufacturer, "Mobotix");
    EXPECT_EQ(probe->modelName, "Mobotix M16 PTZ");
    EXPECT_EQ(probe->probeComplete, 1);
    EXPECT_EQ(probe->streamFormats, (std::vector<int32_t>{1}));
    EXPECT_EQ(probe->FrameRates(), (std::set<int32_t>{1, 2, 4, 8, 12, 25}));
    EXPECT_EQ(probe->PresetFileName(), "Mobotix_0003C50A1B2C.preset");
    EXPECT_TRUE(probe->hasPtz);

    ResultRecorder result;
    ASSERT_TRUE(probe->SaveResults(&result));
    const std::string port = std::to_string(sim_.Port());
    const Calls expected = {
        "GetFrameIntervalList(1)",
        // 1000 / r rounded, ascending rates
        "AddInterval(1000)", "AddInterval(500)", "AddInterval(250)", "AddInterval(125)", "AddInterval(83)",
        "AddInterval(40)",
        "SetModelName(Mobotix M16 PTZ)",
        "SetCapability(0,1)",
        "SetCapability(2,2)",
        "SetCapability(3,1)",
        "SetCapability(4,1)",
        "SetCapability(1,1)",
        "SetCapability(11,0)",
        "SetCapability(12,0)",
        "SetCapability(7,1)",
        "GetResolutionList()",
        // names from width and height, the interval of the highest rate (25 -> 40 ms)
        "AddResolution(320x240,320,240,40)",
        "AddResolution(640x480,640,480,40)",
        "AddResolution(1280x960,1280,960,40)",
        "GetConnectionField(1)", "Field1.SetText(127.0.0.1)",
        "GetConnectionField(2)", "Field2.SetText(" + port + ")",
        "GetConnectionField(3)", "Field3.SetText()",
        "GetConnectionField(4)", "Field4.SetText()",
        "GetParameterEntry(1)", "Entry1.SetName(Video standard)", "Entry1.SetKind(0)", "Entry1.SetOption(0)",
        "Entry1.SetEntryValue(0)",
        "GetParameterEntry(2)", "Entry2.SetName(Name of XML Preposition Storage)", "Entry2.SetKind(0)",
        "Entry2.SetOption(1)", "Entry2.SetEntryValue(Mobotix_0003C50A1B2C.preset)",
        "GetParameterEntry(3)", "Entry3.SetName(PTZ Capabilities)", "Entry3.SetKind(0)", "Entry3.SetOption(1)",
        std::string("Entry3.SetEntryValue(") + kFullPtzText + ")",
        "GetParameterEntry(4)", "Entry4.SetName(Firmware version)", "Entry4.SetKind(0)", "Entry4.SetOption(1)",
        "Entry4.SetEntryValue(MX-V5.2.6.18)",
    };
    EXPECT_EQ(result.Calls(), expected);
}

TEST_F(CMobotixCameraPropertiesTest, SizeLineBeforeRateLineAndOddSizeTokens) {
    sim_.Camera().SetImageControlList(
        "size=640x480,640x480,0x480,a#800x600,800 x 600,1024x768\r\nframerate100=50,100,250\r\n");
    auto probe = Probe();
    int32_t error = kUntouched;
    ASSERT_TRUE(probe->GetProperties(&error));
    EXPECT_EQ(probe->FrameRates(), (std::set<int32_t>{1, 2}));
    ResultRecorder result;
    ASSERT_TRUE(probe->SaveResults(&result));
    EXPECT_EQ(result.CallsStartingWith("Add"),
              (Calls{"AddInterval(1000)", "AddInterval(500)", "AddResolution(640x480,640,480,500)",
                     "AddResolution(800x600,800,600,500)", "AddResolution(1024x768,1024,768,500)"}));
}

TEST_F(CMobotixCameraPropertiesTest, HighRatesGiveSizesWithoutInterval) {
    sim_.Camera().SetImageControlList("framerate100=100,3000,5000\r\nsize=640x480\r\n");
    auto probe = Probe();
    ASSERT_TRUE(probe->GetProperties(nullptr));
    ResultRecorder result;
    ASSERT_TRUE(probe->SaveResults(&result));
    EXPECT_EQ(result.CallsStartingWith("Add"), (Calls{"AddInterval(1000)", "AddInterval(33)", "AddInterval(20)",
                                                      "AddResolution(640x480,640,480,0)"}));
}

TEST_F(CMobotixCameraPropertiesTest, VersionPageWithoutAddressLeavesPtzUnusable) {
    SetIdentity([](camsim::CameraIdentity& id) { id.mac.clear(); });
    auto probe = Probe();
    int32_t error = kUntouched;
    ASSERT_TRUE(probe->GetProperties(&error));  // the version step still passes
    EXPECT_EQ(probe->PresetFileName(), "");
    EXPECT_TRUE(probe->PtzCapabilities().pan);
    EXPECT_FALSE(probe->hasPtz);
    ResultRecorder result;
    ASSERT_TRUE(probe->SaveResults(&result));
    EXPECT_FALSE(WroteCapability(result, "SetCapability(1,"));
    EXPECT_EQ(ParameterValue(result, 2), "(none)");
    EXPECT_EQ(ParameterValue(result, 3), kFullPtzText);
}

TEST_F(CMobotixCameraPropertiesTest, RotorHelpWithParameterBeforePtzIsNoPtz) {
    sim_.Faults().Add(camsim::FaultRule::Status("/control/rotorcgi?help", 200,
                                                "int32_t para1\r\nPTZ head\r\nmagic \"MxR\\0\"\r\n"));
    auto probe = Probe();
    ASSERT_TRUE(probe->GetProperties(nullptr));
    EXPECT_FALSE(probe->hasPtz);
    ResultRecorder result;
    ASSERT_TRUE(probe->SaveResults(&result));
    EXPECT_EQ(ParameterValue(result, 3), kNoPtzText);
    EXPECT_FALSE(WroteCapability(result, "SetCapability(1,"));
}

TEST_F(CMobotixCameraPropertiesTest, CameraWithoutRotorAndAudioAndFirmware) {
    SetIdentity([](camsim::CameraIdentity& id) {
        id.ptzHelp = false;
        id.audio = "0";
        id.firmware.clear();
    });
    auto probe = Probe(1);
    ASSERT_TRUE(probe->GetProperties(nullptr));
    ResultRecorder result;
    ASSERT_TRUE(probe->SaveResults(&result));
    EXPECT_FALSE(WroteCapability(result, "SetCapability(4,"));
    EXPECT_FALSE(WroteCapability(result, "SetCapability(1,"));
    EXPECT_EQ(ParameterValue(result, 1), "1");  // video standard flag given at construction
    EXPECT_EQ(ParameterValue(result, 3), kNoPtzText);
    EXPECT_EQ(ParameterValue(result, 4), "(none)");
}

TEST_F(CMobotixCameraPropertiesTest, RefusedVersionAndRotorPagesStillPass) {
    // Any HTTP answer lets these two steps pass; they only find nothing.
    sim_.Faults().Add(camsim::FaultRule::Status("/admin/version", 404));
    sim_.Faults().Add(camsim::FaultRule::Status("/control/rotorcgi", 500));
    auto probe = Probe();
    int32_t error = kUntouched;
    ASSERT_TRUE(probe->GetProperties(&error));
    EXPECT_EQ(probe->PresetFileName(), "");
    EXPECT_FALSE(probe->PtzCapabilities().pan);
    EXPECT_EQ(probe->probeComplete, 1);
}

TEST_F(CMobotixCameraPropertiesTest, StepFailuresStopTheProbeWithCode3) {
    struct Row {
        const char* what;
        camsim::FaultRule rule;
        size_t requests;  // queries made before the probe stopped
    };
    const Row rows[] = {
        {"basic info refused", camsim::FaultRule::Status("/cgi-bin/rinfo", 500), 1},
        {"basic info without type", camsim::FaultRule::Status("/cgi-bin/rinfo", 200, "features__audio=1\r\n"), 1},
        {"basic info not HTTP", camsim::FaultRule::Garbage("/cgi-bin/rinfo", 64), 1},
        {"image control refused", camsim::FaultRule::Status("/control/control", 404), 2},
        {"image control without rate", camsim::FaultRule::Status("/control/control", 200, "size=640x480\r\n"), 2},
        {"version page unanswered", camsim::FaultRule::CloseAfter("/admin/version", 0), 3},
        {"rotor help unanswered", camsim::FaultRule::CloseAfter("/control/rotorcgi", 0), 4},
    };
    for (const Row& row : rows) {
        sim_.Faults().Clear();
        sim_.Requests().Clear();
        sim_.Faults().Add(row.rule);
        auto probe = Probe();
        int32_t error = kUntouched;
        EXPECT_FALSE(probe->GetProperties(&error)) << row.what;
        EXPECT_EQ(error, 3) << row.what;
        EXPECT_EQ(probe->probeComplete, 0) << row.what;
        EXPECT_TRUE(probe->streamFormats.empty()) << row.what;
        // Later steps do not run (the client may retry a dropped connection on the same path).
        const auto requests = sim_.Requests().Snapshot();
        ASSERT_FALSE(requests.empty()) << row.what;
        std::set<std::string> paths;
        for (const auto& request : requests) paths.insert(request.path);
        EXPECT_EQ(paths.size(), row.requests) << row.what;
    }
}

TEST_F(CMobotixCameraPropertiesTest, EarlierFindingsStayAfterAFailedStep) {
    sim_.Faults().Add(camsim::FaultRule::Status("/control/control", 500));
    auto probe = Probe();
    int32_t error = kUntouched;
    ASSERT_FALSE(probe->GetProperties(&error));
    EXPECT_EQ(probe->modelName, "Mobotix M16 PTZ");
    EXPECT_EQ(probe->signalInputCount, 2u);
    EXPECT_EQ(probe->FirmwareVersion(), "MX-V5.2.6.18");
}

TEST_F(CMobotixCameraPropertiesTest, CancelledProbeSkipsTheLaterQueries) {
    auto probe = Probe();
    probe->Cancel();
    int32_t error = kUntouched;
    EXPECT_FALSE(probe->GetProperties(&error));
    EXPECT_EQ(error, kUntouched);  // a cancellation sets no code
    const auto requests = sim_.Requests().Snapshot();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/cgi-bin/rinfo");
}

TEST_F(CMobotixCameraPropertiesTest, Unauthorized401CodeDependsOnHostCoreVersion) {
    sim_.Faults().Add(camsim::FaultRule::Status("/cgi-bin/rinfo", 401));
    struct Row {
        bool withModule;
        uint16_t major;
        uint16_t minor;
        int32_t code;
    };
    const Row rows[] = {
        {false, 0, 0, 3},  // no host core module: version unknown
        {true, 5, 11, 1},
        {true, 6, 0, 1},
        {true, 5, 10, 3},  // 5.10 exactly is not newer
        {true, 4, 20, 3},
    };
    for (const Row& row : rows) {
        std::unique_ptr<HostCoreModuleFile> module;
        if (row.withModule) {
            module = std::make_unique<HostCoreModuleFile>(row.major, row.minor);
            ASSERT_TRUE(module->Written());
            uint16_t version[4] = {};
            ASSERT_TRUE(velmora::platform::ReadModuleProductVersion("ombrel.dll", version));
            ASSERT_EQ(version[0], row.major);
            ASSERT_EQ(version[1], row.minor);
        }
        auto probe = Probe();
        int32_t error = kUntouched;
        EXPECT_FALSE(probe->GetProperties(&error));
        EXPECT_EQ(error, row.code) << row.major << "." << row.minor;
    }
    EXPECT_FALSE(velmora::platform::FileIsReadableAndNonEmpty(HostCoreModuleFile::Path()));
}

TEST_F(CMobotixCameraPropertiesTest, CredentialsReachTheCamera) {
    sim_.SetAuth(camsim::AuthMode::Basic, "admin", "meinsm");
    velmora::DEVICE_INFO device = Device();
    device.UserName = "admin";
    device.Password = "meinsm";
    CMobotixCameraProperties good(device, 0);
    ASSERT_TRUE(good.GetProperties(nullptr));
    ResultRecorder result;
    ASSERT_TRUE(good.SaveResults(&result));
    EXPECT_EQ(result.CallsStartingWith("Field3"), Calls{"Field3.SetText(admin)"});
    EXPECT_EQ(result.CallsStartingWith("Field4"), Calls{"Field4.SetText(meinsm)"});

    device.Password = "wrong";
    HostCoreModuleFile module(5, 12);
    CMobotixCameraProperties bad(device, 0);
    int32_t error = kUntouched;
    EXPECT_FALSE(bad.GetProperties(&error));
    EXPECT_EQ(error, 1);
}

TEST_F(CMobotixCameraPropertiesTest, SaveFailsWithoutResultObjectOrParameterEntry) {
    auto probe = Probe();
    ASSERT_TRUE(probe->GetProperties(nullptr));
    EXPECT_FALSE(probe->SaveResults(nullptr));
    ResultRecorder noIntervals;
    noIntervals.withoutIntervalList = true;
    EXPECT_FALSE(probe->SaveResults(&noIntervals));
    EXPECT_EQ(noIntervals.Calls(), Calls{"GetFrameIntervalList(1)"});
    ResultRecorder noEntries;
    noEntries.withoutParameterEntries = true;
    EXPECT_FALSE(probe->SaveResults(&noEntries));
    EXPECT_EQ(noEntries.CallsStartingWith("GetParameterEntry"), Calls{"GetParameterEntry(1)"});
}

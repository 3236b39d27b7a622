// Writing a properties record to the host's result object.
#include <gtest/gtest.h>

#include "CapabilityRecorder.h"
#include "Properties/CameraPropertiesEx.h"

using quillon_test::ResultRecorder;
using velmora::CCameraPropertiesEx;
using velmora::DEVICE_INFO;
using velmora::RESOLUTION_INFO;
using Calls = std::vector<std::string>;

namespace {

// The writer needs no probe; the record is filled by hand.
class FilledProperties : public CCameraPropertiesEx {
public:
    using CCameraPropertiesEx::CCameraPropertiesEx;
    bool GetProperties(int32_t*) override { return false; }
};

DEVICE_INFO Device() {
    DEVICE_INFO device;
    device.Address = "127.0.0.1";
    device.Port = 8081;
    device.UserName = "admin";
    device.Password = "meinsm";
    return device;
}

RESOLUTION_INFO Resolution(uint16_t width, uint16_t height, std::vector<uint32_t> intervals) {
    RESOLUTION_INFO entry;
    entry.width = width;
    entry.height = height;
    entry.frameIntervals = std::move(intervals);
    return entry;
}

}  // namespace

TEST(CCameraPropertiesExTest, WritesFullRecordInOrder) {
    FilledProperties props(Device(), 0);
    props.modelName = "Mobotix M16";
    props.probeComplete = 1;
    props.signalInputCount = 2;
    props.signalOutputCount = 1;
    props.hasAudio = true;
    props.hasPtz = true;
    props.capFlag5 = true;
    props.capFlag11 = true;
    // 1 and 2 both give id 7, 4 gives 6, 16 gives 8, unknown codes nothing, 0 ends the list.
    props.streamFormats = {1, 2, 4, 99, 16, 0, 4};
    props.resolutions = {Resolution(640, 480, {40, 80}), Resolution(1280, 960, {})};

    ResultRecorder result;
    ASSERT_TRUE(props.SaveResults(&result));
    const Calls expected = {
        "SetModelName(Mobotix M16)",
        "SetCapability(0,1)",
        "SetCapability(2,2)",
        "SetCapability(3,1)",
        "SetCapability(4,1)",
        "SetCapability(1,1)",
        "SetCapability(5,1)",
        "SetCapability(11,1)",
        "SetCapability(12,0)",
        "SetCapability(7,1)",
        "SetCapability(7,1)",
        "SetCapability(6,1)",
        "SetCapability(8,1)",
        "GetResolutionList()",
        "AddResolution(640x480,640,480,40)",
        "AddResolution(1280x960,1280,960,0)",
        "GetConnectionField(1)",
        "Field1.SetText(127.0.0.1)",
        "GetConnectionField(2)",
        "Field2.SetText(8081)",
        "GetConnectionField(3)",
        "Field3.SetText(admin)",
        "GetConnectionField(4)",
        "Field4.SetText(meinsm)",
    };
    EXPECT_EQ(result.Calls(), expected);
    EXPECT_EQ(props.formatCursor, 5u);  // stopped at the 0
    EXPECT_EQ(props.resolutionCursor, 2u);
}

TEST(CCameraPropertiesExTest, EmptyRecordWritesOnlyTheAlwaysCapabilities) {
    FilledProperties props(DEVICE_INFO(), 0);
    ResultRecorder result;
    ASSERT_TRUE(props.SaveResults(&result));
    const Calls expected = {
        "SetModelName()",       "SetCapability(0,0)",   "SetCapability(11,0)",  "SetCapability(12,0)",
        "GetResolutionList()",  "GetConnectionField(1)", "Field1.SetText()",     "GetConnectionField(2)",
        "Field2.SetText(80)",   "GetConnectionField(3)", "Field3.SetText()",     "GetConnectionField(4)",
        "Field4.SetText()",
    };
    EXPECT_EQ(result.Calls(), expected);
}

TEST(CCameraPropertiesExTest, FailsWithoutResultObjectOrItsSubObjects) {
    FilledProperties props(Device(), 0);
    EXPECT_FALSE(props.SaveResults(nullptr));

    ResultRecorder noList;
    noList.withoutResolutionList = true;
    EXPECT_FALSE(props.SaveResults(&noList));
    EXPECT_TRUE(noList.CallsStartingWith("GetConnectionField").empty());

    ResultRecorder noFields;
    noFields.withoutConnectionFields = true;
    EXPECT_FALSE(props.SaveResults(&noFields));
    EXPECT_EQ(noFields.CallsStartingWith("GetConnectionField"), Calls{"GetConnectionField(1)"});
}

TEST(CCameraPropertiesExTest, CancelSetsTheFlagAndKeepsTheDevice) {
    FilledProperties props(Device(), 1);
    EXPECT_FALSE(props.IsCancelled());
    props.Cancel();
    EXPECT_TRUE(props.IsCancelled());
    EXPECT_EQ(props.VideoStandard(), 1);
    EXPECT_EQ(props.Device().Address, "127.0.0.1");
}

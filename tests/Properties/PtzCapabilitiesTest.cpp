// Text form of the PTZ ability record.
#include <gtest/gtest.h>

#include "Properties/PtzCapabilities.h"

using velmora::CPtzCapabilities;

TEST(CPtzCapabilitiesTest, EmptyRecordWritesAllZero) {
    CPtzCapabilities caps;
    EXPECT_EQ(caps.ToText(), "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0");
}

TEST(CPtzCapabilitiesTest, FullyAbleCameraText) {
    CPtzCapabilities caps;
    caps.pan = caps.tilt = caps.zoom = caps.areaZoom = caps.center = caps.unzoom = true;
    caps.presetCount = 256;
    EXPECT_EQ(caps.ToText(), "Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=1; AreaZoom=1; Preset=256");
}

TEST(CPtzCapabilitiesTest, DerivedAbilitiesNeedTheirMotion) {
    struct Row {
        bool pan, tilt, zoom, center, unzoom, areaZoom;
        const char* expected;
    };
    const Row rows[] = {
        // centring without pan or tilt is not offered
        {false, false, true, true, false, false,
         "Pan=0; Tilt=0; Zoom=1; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0"},
        // tilt alone is enough for centring
        {false, true, false, true, false, false,
         "Pan=0; Tilt=1; Zoom=0; Focus=0; Iris=0; Center=1; Unzoom=0; AreaZoom=0; Preset=0"},
        // unzoom and area zoom without zoom are not offered
        {true, false, false, false, true, true,
         "Pan=1; Tilt=0; Zoom=0; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0"},
        // with zoom they are
        {false, false, true, false, true, true,
         "Pan=0; Tilt=0; Zoom=1; Focus=0; Iris=0; Center=0; Unzoom=1; AreaZoom=1; Preset=0"},
    };
    for (const Row& row : rows) {
        CPtzCapabilities caps;
        caps.pan = row.pan;
        caps.tilt = row.tilt;
        caps.zoom = row.zoom;
        caps.center = row.center;
        caps.unzoom = row.unzoom;
        caps.areaZoom = row.areaZoom;
        EXPECT_EQ(caps.ToText(), row.expected);
    }
}

TEST(CPtzCapabilitiesTest, FocusIrisAndPresetCountWritten) {
    CPtzCapabilities caps;
    caps.focus = caps.iris = true;
    caps.presetCount = 4294967295u;
    EXPECT_EQ(caps.ToText(),
              "Pan=0; Tilt=0; Zoom=0; Focus=1; Iris=1; Center=0; Unzoom=0; AreaZoom=0; Preset=4294967295");
    caps.Clear();
    EXPECT_FALSE(caps.focus || caps.iris);
    EXPECT_EQ(caps.presetCount, 0u);
}

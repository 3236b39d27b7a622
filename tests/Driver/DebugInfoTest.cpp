// Message records, the level mapping by host core version and exact-length formatting.
#include "Driver/DebugInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using velmora::CDebugInfo;
using velmora::Format;
using velmora::MapMessageLevel;

TEST(CDebugInfoTest, MapsLevelsByHostCoreVersion) {
    struct Row {
        const char* why;
        uint16_t major, minor;
        int error, warning, info, notice, other;  // what levels 1, 2, 3, 100 and 7 become
    };
    const Row rows[] = {
        {"0.0, before Open", 0, 0, 1, 2, 2, 2, 7},
        {"5.11: information and notices become warnings", 5, 11, 1, 2, 2, 2, 7},
        {"5.12: notices become information", 5, 12, 1, 2, 3, 3, 7},
        {"6.2: still information", 6, 2, 1, 2, 3, 3, 7},
        {"6.3: notices kept", 6, 3, 1, 2, 3, 100, 7},
        {"7.0: notices kept", 7, 0, 1, 2, 3, 100, 7},
        {"4.99: the minor word does not outrank the major", 4, 99, 1, 2, 2, 2, 7},
        {"6.0: major above 5, minor below 12", 6, 0, 1, 2, 3, 3, 7},
        {"65535.65535", 65535, 65535, 1, 2, 3, 100, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        EXPECT_EQ(MapMessageLevel(1, row.major, row.minor), row.error);
        EXPECT_EQ(MapMessageLevel(2, row.major, row.minor), row.warning);
        EXPECT_EQ(MapMessageLevel(3, row.major, row.minor), row.info);
        EXPECT_EQ(MapMessageLevel(100, row.major, row.minor), row.notice);
        EXPECT_EQ(MapMessageLevel(7, row.major, row.minor), row.other);
    }
}

TEST(CDebugInfoTest, RecordOwnsACopyOfItsText) {
    char source[] = "camera is online";
    CDebugInfo info(3, source);
    source[0] = 'X';
    EXPECT_EQ(info.GetLevel(), 3);
    ASSERT_NE(info.GetText(), nullptr);
    EXPECT_STREQ(info.GetText(), "camera is online");
    EXPECT_NE(info.GetText(), source);
}

TEST(CDebugInfoTest, EmptyTextIsNull) {
    EXPECT_EQ(CDebugInfo(1, "").GetText(), nullptr);
    EXPECT_EQ(CDebugInfo(1, nullptr).GetText(), nullptr);
    EXPECT_EQ(CDebugInfo(100, nullptr).GetLevel(), 100);
}

TEST(CDebugInfoTest, FormatsToTheExactLength) {
    const std::string big(100000, 'x');
    struct Row {
        const char* why;
        std::string got, expected;
    };
    const Row rows[] = {
        {"plain", Format("%s: %s is online", "velmora::CBaseCameraChannel::SetCameraState", "Camera 127.0.0.1"),
         "velmora::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online"},
        {"numbers", Format("%s:%u (channel %d)", "127.0.0.1", 8080u, -1), "127.0.0.1:8080 (channel -1)"},
        {"longer than any fixed buffer", Format("<%s>", big.c_str()), "<" + big + ">"},
        {"escaped percent", Format("100%%"), "100%"},
        {"empty", Format("%s", ""), ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        EXPECT_EQ(row.got.size(), std::strlen(row.got.c_str())) << "no trailing zero or slack kept";
        EXPECT_EQ(row.got, row.expected);
    }
}

}  // namespace

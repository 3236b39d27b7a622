// Speed mapping: clamping, linear mapping with rounding, empty ranges.
#include "PTZ/ScaleConverter.h"

#include <gtest/gtest.h>

#include "PTZ/MobotixPTZComm.h"

using velmora::CScaleConverter;

namespace {

TEST(CScaleConverterTest, HostSpeedsMapOntoRotorSpeeds) {
    const CScaleConverter speed(1, 16, 26843545, 1073741823);
    struct Row {
        uint32_t in;
        uint32_t out;
    };
    const Row rows[] = {
        {1, 26843545},             // lowest
        {8, 515396075},            // 26843545 + trunc(1046898278 * 7 / 15 + 0.5)
        {16, 1073741823},          // highest
        {0, 26843545},             // below the range: clamped to 1
        {200, 1073741823},         // above: clamped to 16
        {0xFFFFFFFFu, 1073741823}, // a negative host speed read as unsigned
        {2, 96636764},             // 26843545 + trunc(69793218.53 + 0.5)
    };
    for (const Row& row : rows) EXPECT_EQ(row.out, speed.Convert(row.in)) << row.in;
}

TEST(CScaleConverterTest, RoundsHalfUpAndAnswersTheMidpointForEmptyRanges) {
    EXPECT_EQ(5u, CScaleConverter(0, 2, 0, 9).Convert(1));  // 4.5 + 0.5 -> 5
    EXPECT_EQ(3u, CScaleConverter(0, 3, 0, 10).Convert(1)); // 3.33 + 0.5 -> 3
    EXPECT_EQ(15u, CScaleConverter(4, 4, 10, 20).Convert(4));
    EXPECT_EQ(15u, CScaleConverter(5, 1, 10, 20).Convert(3));
    EXPECT_EQ(7u, CScaleConverter(0, 10, 7, 7).Convert(3));
    EXPECT_EQ(0xFFFFFFFEu, CScaleConverter(0, 0, 0xFFFFFFFDu, 0xFFFFFFFFu).Convert(0)) << "no overflow";
}

TEST(CScaleConverterTest, MobotixCommUsesTheRotorRange) {
    EXPECT_EQ(26843545u, velmora::CMobotixPTZComm::kMinRotorSpeed);
    EXPECT_EQ(0x3FFFFFFFu, velmora::CMobotixPTZComm::kMaxRotorSpeed);
}

}  // namespace

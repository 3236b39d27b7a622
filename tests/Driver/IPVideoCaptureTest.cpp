// The video capture object: its slot table driven through a fake channel factory, the
// channel settings it passes on, state reporting, and the picture size class.
#include "Driver/IPVideoCapture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Driver/DriverTestSupport.h"
#include "host/HostObjects.h"

namespace {

using quillon::host::ChannelSettings;
using quillon::host::VideoSink;
using quillon::test::FakeCreator;
using velmora::CIPVideoCapture;
using Entries = std::vector<std::string>;

class VideoCaptureTest : public ::testing::Test {
protected:
    FakeCreator creator_;
    VideoSink sink_;
    ChannelSettings settings_{352, 288, 100, 50};
    Entries Journal() { return creator_.journal->Entries(); }
};

TEST_F(VideoCaptureTest, StartOutsideTheTableCreatesNothing) {
    CIPVideoCapture capture(&creator_, 2);
    EXPECT_EQ(capture.GetChannelCount(), 2u);
    EXPECT_FALSE(capture.StartChannel(2, &sink_, &settings_)) << "index equal to the count";
    EXPECT_FALSE(capture.StartChannel(0xFFFFFFFFu, &sink_, &settings_));
    EXPECT_EQ(creator_.created, 0);
    CIPVideoCapture empty(&creator_, 0);
    EXPECT_FALSE(empty.StartChannel(0, &sink_, &settings_));
    EXPECT_EQ(creator_.created, 0);
}

TEST_F(VideoCaptureTest, StartPassesSinkAndSettingsToANewChannel) {
    CIPVideoCapture capture(&creator_, 2);
    ChannelSettings settings(65535, 65534, 65533, 100);  // full 16-bit values, widened unsigned
    ASSERT_TRUE(capture.StartChannel(1, &sink_, &settings));
    EXPECT_EQ(creator_.lastSink, &sink_);
    ASSERT_NE(creator_.last, nullptr);
    EXPECT_EQ(creator_.last->started.Width, 65535u);
    EXPECT_EQ(creator_.last->started.Height, 65534u);
    EXPECT_EQ(creator_.last->started.FrameInterval, 65533u);
    EXPECT_EQ(creator_.last->started.Quality, 100u);
    EXPECT_EQ(Journal(), (Entries{"create 1 for slot 1", "start 1"}));
}

TEST_F(VideoCaptureTest, StartTwiceStopsAndDestroysTheFirstChannelFirst) {
    CIPVideoCapture capture(&creator_, 1);
    ASSERT_TRUE(capture.StartChannel(0, &sink_, &settings_));
    ASSERT_TRUE(capture.StartChannel(0, &sink_, &settings_));
    EXPECT_EQ(Journal(), (Entries{"create 1 for slot 0", "start 1", "stop 1", "destroy 1", "create 2 for slot 0",
                                  "start 2"}));
}

TEST_F(VideoCaptureTest, FailedStartKeepsTheChannelInItsSlot) {
    CIPVideoCapture capture(&creator_, 1);
    creator_.next.startResult = false;
    creator_.next.state = velmora::kStopped;
    EXPECT_FALSE(capture.StartChannel(0, &sink_, &settings_));
    int32_t state = -1;
    EXPECT_TRUE(capture.GetChannelState(0, &state, nullptr, nullptr, 0));
    EXPECT_EQ(state, 2);
    EXPECT_TRUE(capture.StopChannel(0));
    EXPECT_EQ(Journal(), (Entries{"create 1 for slot 0", "start 1", "stop 1", "destroy 1"}));
}

TEST_F(VideoCaptureTest, NoChannelFromTheFactoryFailsTheStart) {
    CIPVideoCapture capture(&creator_, 1);
    creator_.returnNull = true;
    EXPECT_FALSE(capture.StartChannel(0, &sink_, &settings_));
    EXPECT_FALSE(capture.StopChannel(0)) << "nothing was stored";
}

TEST_F(VideoCaptureTest, StopChannelNeedsAChannel) {
    CIPVideoCapture capture(&creator_, 2);
    EXPECT_FALSE(capture.StopChannel(0)) << "empty slot";
    EXPECT_FALSE(capture.StopChannel(2)) << "outside the table";
    ASSERT_TRUE(capture.StartChannel(0, &sink_, &settings_));
    EXPECT_TRUE(capture.StopChannel(0));
    EXPECT_FALSE(capture.StopChannel(0)) << "already stopped";
    EXPECT_EQ(Journal(), (Entries{"create 1 for slot 0", "start 1", "stop 1", "destroy 1"}));
}

TEST_F(VideoCaptureTest, ChannelStateMapsStoppedToNoPicture) {
    struct Row {
        int32_t channelState;
        int32_t reported;
    };
    const Row rows[] = {
        {velmora::kConnected, 0},   // connected
        {velmora::kSignalLost, 2},  // signal lost
        {velmora::kStopped, 2},     // the host knows no "stopped"
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.channelState);
        CIPVideoCapture capture(&creator_, 1);
        creator_.next.state = row.channelState;
        ASSERT_TRUE(capture.StartChannel(0, &sink_, &settings_));
        int32_t state = -1, code = -1;
        char text[16] = "stale";
        EXPECT_TRUE(capture.GetChannelState(0, &state, &code, text, sizeof(text)));
        EXPECT_EQ(state, row.reported);
        EXPECT_EQ(code, 0);
        EXPECT_STREQ(text, "");
    }
}

TEST_F(VideoCaptureTest, ChannelStateOfEmptySlotAndTextBuffers) {
    CIPVideoCapture capture(&creator_, 1);
    int32_t state = 77, code = 77;
    char text[8];
    std::memcpy(text, "XXXXXXX", 8);
    EXPECT_FALSE(capture.GetChannelState(0, &state, &code, text, sizeof(text)));
    EXPECT_EQ(state, 77) << "state untouched for an empty slot";
    EXPECT_EQ(code, 0) << "code and text are cleared first";
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(text[1], 'X') << "only the first byte is written";

    ASSERT_TRUE(capture.StartChannel(0, &sink_, &settings_));
    std::memcpy(text, "XXXXXXX", 8);
    EXPECT_TRUE(capture.GetChannelState(0, &state, &code, text, 0));
    EXPECT_EQ(text[0], 'X') << "a zero-size buffer is not written";
    EXPECT_TRUE(capture.GetChannelState(0, &state, &code, nullptr, 16)) << "a null buffer with a size";
    EXPECT_EQ(state, 0);
    EXPECT_FALSE(capture.GetChannelState(1, &state, &code, nullptr, 0)) << "outside the table";
}

TEST_F(VideoCaptureTest, ChangeChannelPassesIntervalAndSizeWithQualityZero) {
    CIPVideoCapture capture(&creator_, 1);
    ChannelSettings resolution(1280, 960, 0, 0);
    EXPECT_FALSE(capture.ChangeChannel(0, &resolution, 500)) << "no channel";
    ASSERT_TRUE(capture.StartChannel(0, &sink_, &settings_));
    ASSERT_TRUE(capture.ChangeChannel(0, &resolution, 70000));  // beyond 16 bits: passed whole
    velmora::StreamParameters p = creator_.last->updated;
    EXPECT_EQ(p.FrameInterval, 70000u);
    EXPECT_EQ(p.Quality, 0u) << "the channel keeps its own quality";
    EXPECT_EQ(p.Width, 1280u);
    EXPECT_EQ(p.Height, 960u);
    EXPECT_EQ(Journal(), (Entries{"create 1 for slot 0", "start 1", "update 1"})) << "changed in place";

    CIPVideoCapture other(&creator_, 1);
    creator_.next.updateResult = false;
    ASSERT_TRUE(other.StartChannel(0, &sink_, &settings_));
    EXPECT_FALSE(other.ChangeChannel(0, &resolution, 40)) << "the channel's result is passed on";
}

TEST_F(VideoCaptureTest, TakeChannelWithAndWithoutRemoval) {
    CIPVideoCapture capture(&creator_, 1);
    ASSERT_TRUE(capture.StartChannel(0, &sink_, &settings_));
    velmora::ICameraChannel* channel = capture.TakeChannel(0, false);
    EXPECT_EQ(channel, creator_.last);
    EXPECT_EQ(capture.TakeChannel(0, true), channel);
    EXPECT_EQ(capture.TakeChannel(0, false), nullptr) << "removed: the caller owns it now";
    EXPECT_EQ(capture.TakeChannel(5, false), nullptr);
    delete channel;
}

TEST_F(VideoCaptureTest, DestructionStopsAndDestroysEveryChannel) {
    {
        CIPVideoCapture capture(&creator_, 3);
        ASSERT_TRUE(capture.StartChannel(0, &sink_, &settings_));
        ASSERT_TRUE(capture.StartChannel(2, &sink_, &settings_));
    }
    EXPECT_EQ(Journal(), (Entries{"create 1 for slot 0", "start 1", "create 2 for slot 2", "start 2", "stop 1",
                                  "destroy 1", "stop 2", "destroy 2"}));
}

TEST_F(VideoCaptureTest, ReservedEntriesReturnFixedValues) {
    CIPVideoCapture capture(&creator_, 1);
    EXPECT_EQ(capture.Reserved3(), 0);
    EXPECT_FALSE(capture.Reserved4(nullptr, nullptr, nullptr));
    EXPECT_FALSE(capture.Reserved5(nullptr, nullptr, nullptr));
    EXPECT_FALSE(capture.Reserved6(nullptr));
    EXPECT_FALSE(capture.Reserved7(nullptr));
}

TEST(PictureSizeClassTest, ClassifiesByWidthAndAspect) {
    struct Row {
        uint32_t width, height, expected;
    };
    const Row rows[] = {
        {352, 288, 2},    // CIF
        {704, 288, 3},    // 2CIF: wide and below 1024
        {704, 576, 4},    // 4CIF
        {1280, 480, 4},   // wide, but not below 1024
        {400, 300, 2},    // up to 400
        {401, 300, 4},
        {400, 199, 3},    // wider than twice the height wins over the width rule
        {400, 200, 2},    // exactly twice is not wider
        {1023, 100, 3},
        {1024, 100, 4},
        {0, 0, 2},
    };
    for (const Row& row : rows)
        EXPECT_EQ(velmora::PictureSizeClass(row.width, row.height), row.expected) << row.width << "x" << row.height;
}

}  // namespace

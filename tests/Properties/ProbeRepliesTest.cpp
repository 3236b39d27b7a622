// Readers of the probe's camera replies: basic information, image control, version page, rotor help.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Properties/ProbeReplies.h"

namespace probe = velmora::probe;
using velmora::RESOLUTION_INFO;

namespace {

struct Size {
    uint16_t width;
    uint16_t height;
    bool operator==(const Size&) const = default;
};

std::vector<Size> Sizes(const std::vector<RESOLUTION_INFO>& list) {
    std::vector<Size> sizes;
    for (const RESOLUTION_INFO& entry : list) sizes.push_back({entry.width, entry.height});
    return sizes;
}

}  // namespace

TEST(ProbeRepliesTest, ReplyTextEndsAtFirstZeroByte) {
    const std::vector<uint8_t> terminated = {'a', '=', '1', 0};
    EXPECT_EQ(probe::ReplyText(terminated), "a=1");
    const std::vector<uint8_t> inner = {'a', 0, 'b', 0};
    EXPECT_EQ(probe::ReplyText(inner), "a");
    const std::vector<uint8_t> unterminated = {'x', 'y'};
    EXPECT_EQ(probe::ReplyText(unterminated), "xy");
    EXPECT_EQ(probe::ReplyText({}), "");
}

TEST(ProbeRepliesTest, BasicInfoReadsTypeCountsAudioAndFirmware) {
    const std::string reply =
        "features__type_info_full_name=M16 PTZ\r\n"
        "features__audio=1\r\n"
        "features__signalinputs=2\r\n"
        "features__signaloutputs=+3\r\n"
        "filesystem__version=MX-V4.4.2.34\r\n";
    const probe::BasicInfo info = probe::ReadBasicInfo(reply);
    EXPECT_EQ(info.typeName, "M16 PTZ");
    EXPECT_TRUE(info.hasAudio);
    EXPECT_TRUE(info.hasInputCount);
    EXPECT_EQ(info.inputCount, 2u);
    EXPECT_TRUE(info.hasOutputCount);
    EXPECT_EQ(info.outputCount, 3u);
    EXPECT_EQ(info.firmware, "MX-V4.4.2.34");
}

TEST(ProbeRepliesTest, BasicInfoSkipsUnusableValues) {
    // Counts that are not plain numbers are not taken; names only contained in other names do
    // not match; a missing firmware line leaves it empty.
    const std::string reply =
        "xfeatures__audio=1\n"
        "features__type_info_full_name=D25\n"
        "features__signalinputs=two\n"
        "features__signaloutputs= 1\n";
    const probe::BasicInfo info = probe::ReadBasicInfo(reply);
    EXPECT_EQ(info.typeName, "D25");
    EXPECT_FALSE(info.hasAudio);
    EXPECT_FALSE(info.hasInputCount);
    EXPECT_FALSE(info.hasOutputCount);
    EXPECT_EQ(info.firmware, "");
}

TEST(ProbeRepliesTest, BasicInfoWithoutTypeNameIsUnusable) {
    EXPECT_TRUE(probe::ReadBasicInfo("features__audio=1\r\n").typeName.empty());
    EXPECT_TRUE(probe::ReadBasicInfo("features__type_info_full_name=\r\nfeatures__audio=1").typeName.empty());
    EXPECT_TRUE(probe::ReadBasicInfo("").typeName.empty());
    // Spaces around the name are allowed, the value is kept as sent.
    EXPECT_EQ(probe::ReadBasicInfo(" features__type_info_full_name =Q26 ").typeName, "Q26 ");
}

TEST(ProbeRepliesTest, AudioValues) {
    struct Row {
        const char* value;
        bool audio;
    };
    const Row rows[] = {
        {"1", true}, {"2", true}, {"yes", true}, {"TRUE", true},  // audio present
        {"0", false}, {"", false}, {"no", false}, {"-", false},    // absent or unknown
    };
    for (const Row& row : rows) EXPECT_EQ(probe::AudioValueMeansAudio(row.value), row.audio) << row.value;
}

TEST(ProbeRepliesTest, ValueTokensSplitStripAndDropPrefix) {
    // blanks go, text up to the first "#" goes, empty tokens are skipped
    EXPECT_EQ(probe::ValueTokens("a#800x600, 800 x 600,,#,640x480\r\n1#2#x"),
              (std::vector<std::string>{"800x600", "800x600", "640x480", "2#x"}));
    EXPECT_TRUE(probe::ValueTokens("").empty());
    EXPECT_TRUE(probe::ValueTokens(" , ,#").empty());
}

TEST(ProbeRepliesTest, SizeTokens) {
    struct Row {
        const char* token;
        bool accepted;
        uint16_t width;
        uint16_t height;
    };
    const Row rows[] = {
        {"640x480", true, 640, 480},
        {"1280*960", true, 1280, 960},   // any one character separates
        {"+320x240", true, 320, 240},    // as "%u" reads it
        {"640x480x2", true, 640, 480},   // trailing text ignored
        {"65535x1", true, 65535, 1},
        {"0x480", false, 0, 0},          // zero sides are skipped
        {"640x0", false, 0, 0},
        {"640480", false, 0, 0},         // no separator and height
        {"x480", false, 0, 0},
        {"640x", false, 0, 0},
        {"640xx480", false, 0, 0},       // only one separator character
        {"65536x480", false, 0, 0},      // does not fit the entry
        {"640x99999999999", false, 0, 0},
        {"-640x480", false, 0, 0},       // a sign that would wrap around
        {"640x-480", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const Row& row : rows) {
        uint16_t width = 7;
        uint16_t height = 7;
        EXPECT_EQ(probe::ParseSizeToken(row.token, &width, &height), row.accepted) << row.token;
        if (row.accepted) {
            EXPECT_EQ(width, row.width) << row.token;
            EXPECT_EQ(height, row.height) << row.token;
        }
    }
}

TEST(ProbeRepliesTest, RateToIntervalRoundsHalvesUp) {
    struct Row {
        int32_t rate;
        uint32_t interval;
    };
    const Row rows[] = {{1, 1000}, {2, 500}, {3, 333}, {6, 167}, {8, 125}, {16, 63},
                        {25, 40},  {30, 33}, {31, 32}, {32, 31}, {0, 0},   {-4, 0}};
    for (const Row& row : rows) EXPECT_EQ(probe::RateToInterval(row.rate), row.interval) << row.rate;
}

TEST(ProbeRepliesTest, ImageControlSizeLineBeforeRateLine) {
    std::set<int32_t> rates;
    std::vector<RESOLUTION_INFO> sizes;
    ASSERT_TRUE(probe::ReadImageControl("size=640x480,320x240\r\nframerate100=2500,1250\r\n", rates, sizes));
    EXPECT_EQ(rates, (std::set<int32_t>{12, 25}));
    EXPECT_EQ(Sizes(sizes), (std::vector<Size>{{640, 480}, {320, 240}}));
    // Each size takes its interval from the highest rate.
    for (const RESOLUTION_INFO& entry : sizes) EXPECT_EQ(entry.frameIntervals, (std::vector<uint32_t>{40}));
}

TEST(ProbeRepliesTest, ImageControlRatesInHundredths) {
    std::set<int32_t> rates;
    std::vector<RESOLUTION_INFO> sizes;
    EXPECT_TRUE(probe::ReadImageControl("framerate100=50,100,250\n", rates, sizes));
    EXPECT_EQ(rates, (std::set<int32_t>{1, 2}));
    EXPECT_TRUE(sizes.empty());
}

TEST(ProbeRepliesTest, ImageControlWithoutUsableRateHasNoSizes) {
    std::set<int32_t> rates;
    std::vector<RESOLUTION_INFO> sizes;
    EXPECT_FALSE(probe::ReadImageControl("framerate100=50,99,abc,-200\nsize=640x480\n", rates, sizes));
    EXPECT_TRUE(rates.empty());
    EXPECT_TRUE(sizes.empty());
    EXPECT_FALSE(probe::ReadImageControl("size=640x480\n", rates, sizes));
    EXPECT_TRUE(sizes.empty());
}

TEST(ProbeRepliesTest, ImageControlSkipsDuplicateZeroAndReadsPrefixedAndSpacedSizes) {
    std::set<int32_t> rates;
    std::vector<RESOLUTION_INFO> sizes;
    ASSERT_TRUE(probe::ReadImageControl(
        "framerate100=800\nsize=640x480,640x480,0x480,a#800x600,800 x 600,bad,1024x768\n", rates, sizes));
    EXPECT_EQ(Sizes(sizes), (std::vector<Size>{{640, 480}, {800, 600}, {1024, 768}}));
    EXPECT_EQ(sizes[0].frameIntervals, (std::vector<uint32_t>{125}));
}

TEST(ProbeRepliesTest, ImageControlHighRateGivesNoSizeInterval) {
    std::set<int32_t> rates;
    std::vector<RESOLUTION_INFO> sizes;
    ASSERT_TRUE(probe::ReadImageControl("framerate100=3200,100\nsize=640x480\n", rates, sizes));
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_TRUE(sizes[0].frameIntervals.empty());  // 1000/32 = 31 is below 32
    rates.clear();
    sizes.clear();
    ASSERT_TRUE(probe::ReadImageControl("framerate100=3100\nsize=640x480\n", rates, sizes));
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].frameIntervals, (std::vector<uint32_t>{32}));
}

TEST(ProbeRepliesTest, HardwareAddressOnVersionPage) {
    struct Row {
        const char* page;
        const char* presetFile;
    };
    const Row rows[] = {
        // plain text page
        {"Software: MX-V4.4\nEthernet Hardware Address: 00:03:C5:0A:0B:0C\nUptime: 3d\n",
         "Mobotix_0003C50A0B0C.preset"},
        // table page: short runs such as "d" in "<td>" are passed over
        {"<tr><td>Ethernet hardware address</td><td>00:03:c5:12:ab:ef</td></tr>", "Mobotix_0003C512ABEF.preset"},
        // an address before the label does not count
        {"00:03:c5:00:00:01 x\nethernet hardware address: 00:03:c5:00:00:02\n", "Mobotix_0003C5000002.preset"},
        // no label
        {"Hardware: 00:03:c5:0a:0b:0c\n", ""},
        // the address ends the page: nothing follows it
        {"ethernet hardware address: 00:03:c5:0a:0b:0c", ""},
        // a run of 18 characters (colon glued to the label) is not an address
        {"ethernet hardware address:00:03:c5:0a:0b:0c\n", ""},
        // too short
        {"ethernet hardware address: 00:03:c5:0a:0b\n", ""},
        {"", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(probe::PresetFileNameFromVersionPage(row.page), row.presetFile) << row.page;
    EXPECT_EQ(probe::FindHardwareAddress("Ethernet Hardware Address 00:03:C5:0A:0B:0C\n"), "00:03:c5:0a:0b:0c");
}

TEST(ProbeRepliesTest, RotorHelpNeedsItsThreeMarksInOrder) {
    struct Row {
        const char* help;
        bool ptz;
    };
    const Row rows[] = {
        {"Rotor commands\nPTZ control\nheader MxR\\0\nstruct { int32_t para1; int32_t para2; }\n", true},
        // parameter description before the PTZ section
        {"int32_t para1\nPTZ\nMxR\\0\n", false},
        // the rotor command mark before "PTZ"
        {"MxR\\0 int32_t para1 PTZ", false},
        // no rotor command mark (an actual zero byte is not the mark)
        {"PTZ MxR0 int32_t para1", false},
        {"PTZ MxR\\0 int32_t para2", false},
        {"", false},
    };
    for (const Row& row : rows) EXPECT_EQ(probe::RotorHelpOffersPtz(row.help), row.ptz) << row.help;
}

TEST(ProbeRepliesTest, FailureCodeNeeds401AndHostNewerThan510) {
    struct Row {
        uint32_t status;
        bool known;
        uint16_t major;
        uint16_t minor;
        int32_t code;
    };
    const Row rows[] = {
        {401, true, 5, 11, 1},  {401, true, 6, 0, 1},   {401, true, 5, 10, 3},  // 5.10 exactly is not newer
        {401, true, 4, 99, 3},  {401, false, 6, 0, 3},  // unreadable version
        {404, true, 6, 0, 3},   {0, true, 6, 0, 3},     {200, true, 5, 12, 3},
    };
    for (const Row& row : rows) {
        const uint16_t version[4] = {row.major, row.minor, 0, 0};
        EXPECT_EQ(probe::ProbeFailureCode(row.status, row.known, version), row.code)
            << row.status << " " << row.major << "." << row.minor;
    }
}

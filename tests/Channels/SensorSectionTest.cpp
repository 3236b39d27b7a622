// The sensor-section search against the plain rule it must keep: first start tag and first end tag,
// each searched from the beginning of the text, used only when the start tag comes first. And the
// vector marker scan the multipart parser uses against its plain rule.
#include <gtest/gtest.h>

#include <random>
#include <vector>
#include <string>
#include <string_view>

#include "Channels/ByteScan.h"
#include "Channels/HttpChannelBase.h"

namespace {

std::string_view PlainRule(std::string_view text) {
    const size_t start = text.find("SECTION SENSORS");
    const size_t end = text.find("ENDSECTION SENSORS");
    if (start == std::string_view::npos || end == std::string_view::npos || start >= end) return {};
    return text.substr(start, end - start);
}

TEST(SensorSectionTest, HandPickedPlacements) {
    using velmora::CHttpChannelBase;
    const std::string cases[] = {
        "",
        "SECTION SENSORS",
        "ENDSECTION SENSORS",
        "ENDSECTION SENSORS SECTION SENSORS\nINA=1\nENDSECTION SENSORS",  // end tag first: nothing
        "SECTION SENSORS\nINA=1\nENDSECTION SENSORS",
        "xxSECTION SENSORS\nENDSECTION SENSORS\nSECTION SENSORS\nINB=0\nENDSECTION SENSORS",
        "ENDSECTION SENSORSx",
        "xyzENDSECTION SENSORS",  // the end tag's own start tag sits three bytes in
        "SECTION SENSORSENDSECTION SENSORS",
        [] {
            static const char kBinary[] = "\xFF\xD8SECTION SENSORS\0\xFF\nINA=1\nENDSECTION SENSORS\xFF\xD9";
            return std::string(kBinary, sizeof kBinary - 1);  // the zero byte inside is part of the text
        }(),
    };
    for (const std::string& text : cases)
        EXPECT_EQ(CHttpChannelBase::FindSensorSection(text), PlainRule(text)) << "text: " << text;
    EXPECT_EQ(CHttpChannelBase::FindSensorSection("aSECTION SENSORS\nINA=1\nENDSECTION SENSORS"),
              "SECTION SENSORS\nINA=1\n");
}

TEST(SensorSectionTest, RandomTextsWithScatteredTagsMatchThePlainRule) {
    std::mt19937 rng(20261208);
    const std::string_view pieces[] = {"SECTION SENSORS", "ENDSECTION SENSORS", "SECTION SENSOR", "ENDSECTION",
                                       "SENSORS", "END", "\nINA=1\n"};
    size_t found = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text(rng() % 400, '\0');
        for (char& c : text) c = static_cast<char>(rng() % 4 == 0 ? "SECTIONRD "[rng() % 10] : rng() & 0xFF);
        const int inserts = static_cast<int>(rng() % 6);
        for (int k = 0; k < inserts; ++k) {
            const std::string_view piece = pieces[rng() % std::size(pieces)];
            text.insert(rng() % (text.size() + 1), piece);
        }
        const std::string_view expected = PlainRule(text);
        const std::string_view got = velmora::CHttpChannelBase::FindSensorSection(text);
        ASSERT_EQ(got, expected) << "round " << round;
        if (expected.empty()) continue;
        ASSERT_EQ(got.data(), expected.data()) << "same text at another place, round " << round;
        ++found;
    }
    // The generator must produce plenty of texts that hold a section, or the comparison says little.
    EXPECT_GT(found, 500u);
}

// Every 0xFF not followed by 0x00 (and one in the last byte), in order, whatever the buffer's length,
// the density of 0xFF and 0x00 bytes, the starting offset and how few offsets fit one call.
TEST(SensorSectionTest, MarkerScanGivesExactlyThePlainRulesOffsets) {
    std::mt19937 rng(20261209);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> data(rng() % 300);
        const unsigned density = 2 + rng() % 60;
        for (uint8_t& b : data) b = rng() % density == 0 ? 0xFF : rng() % density == 0 ? 0x00 : static_cast<uint8_t>(rng());
        const size_t from = data.empty() ? 0 : rng() % data.size();
        std::vector<uint32_t> expected;
        for (size_t i = from; i < data.size(); ++i)
            if (data[i] == 0xFF && !(i + 1 < data.size() && data[i + 1] == 0x00)) expected.push_back(static_cast<uint32_t>(i));
        const size_t batch = 1 + rng() % 70;
        std::vector<uint32_t> got, out(batch);
        for (size_t at = from, calls = 0; at < data.size() && calls < 100000; ++calls) {
            const size_t n = velmora::FindMarkerBytes(data.data(), data.size(), at, out.data(), batch, &at);
            got.insert(got.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
        }
        ASSERT_EQ(got, expected) << "round " << round << ", batch " << batch;
    }
}

}  // namespace

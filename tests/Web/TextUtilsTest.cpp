// Text functions for request paths and camera replies.
#include <gtest/gtest.h>

#include <climits>

#include "Web/TextUtils.h"

using namespace velmora::Utils;

TEST(CTextUtilsTest, FormatStringProducesExactLength) {
    EXPECT_EQ(FormatString("host %s:%u", "10.1.2.3", 8080u), "host 10.1.2.3:8080");
    EXPECT_EQ(FormatString("%s", ""), "");
    std::string longText(5000, 'x');
    std::string formatted = FormatString("[%s]", longText.c_str());
    EXPECT_EQ(formatted.size(), 5002u);
    EXPECT_EQ(formatted, "[" + longText + "]");
    EXPECT_EQ(FormatString("fps=%d&x", 25), "fps=25&x");
}

TEST(CTextUtilsTest, TrimRemovesOnlyOuterSpacesAndTabs) {
    const char* rows[][2] = {
        {"", ""}, {"   ", ""}, {"\t a b \t", "a b"}, {"x", "x"}, {" \r\n ", "\r\n"},  // line breaks are kept
    };
    for (auto& r : rows) EXPECT_EQ(Trim(r[0]), r[1]) << "[" << r[0] << "]";
}

TEST(CTextUtilsTest, RemoveCharsDropsEverySetMember) {
    EXPECT_EQ(RemoveChars(" ", "a b  c"), "abc");
    EXPECT_EQ(RemoveChars(":-", "00:03:c5-01"), "0003c501");
    EXPECT_EQ(RemoveChars("", "unchanged text"), "unchanged text");
    EXPECT_EQ(RemoveChars("abc", ""), "");
    EXPECT_EQ(RemoveChars("abc", "cab"), "");
}

TEST(CTextUtilsTest, FindKeyValueTable) {
    struct Row {
        const char* key;
        const char* separator;
        const char* reply;
        const char* delimiters;
        const char* value;
    } rows[] = {
        {"INB", "=", "INA=0,INB=1\r\n", ",\r\n", "1"},
        {"INA", "=", "INA=0,INB=1\r\n", ",\r\n", "0"},
        {"SIN", "=", "XSIN=1,SIN=0", ",\r\n", "0"},           // first occurrence is inside XSIN
        {"SIN", "=", "XSIN=1", ",\r\n", ""},                  // only inside another name
        {"SIN", "=", "XSIN=1,SINX=2", ",\r\n", ""},
        {"size", "=", "framerate100=2500\nsize=640x480\n", "\n", "640x480"},
        {"name", "=", " name = value with spaces ,x=1", ",", " value with spaces "},  // value untrimmed
        {"key", "=", "key=", ",", ""},                        // separator at the very end
        {"key", "=", "key", ",", ""},                         // no separator
        {"key", "=", "key,other=1", ",", ""},                 // separator belongs to the next item
        {"a", "::", "a::b;c::d", ";", "b"},                   // longer separator
        {"c", "::", "a::b;c::d", ";", "d"},
        {"", "=", "a=b", ",", ""},                            // empty key
        {"a", "", "a=b", ",", ""},                            // empty separator
        {"a", "=", "a=b", "", ""},                            // empty delimiters
        {"missing", "=", "a=1,b=2", ",", ""},
    };
    for (const auto& r : rows)
        EXPECT_EQ(FindKeyValue(r.key, r.separator, r.reply, r.delimiters), r.value) << r.key << " in " << r.reply;
}

// Found by the text fuzz target: a key whose first character is also a delimiter used to search
// again from the same place forever.
TEST(CTextUtilsTest, FindKeyValueEndsForKeyStartingWithDelimiter) {
    EXPECT_EQ(FindKeyValue("SI2", "=", "SI2=1,SI2=0", ",S"), "");
    EXPECT_EQ(FindKeyValue(",A", "=", "x=1,,A=2", ","), "");
    EXPECT_EQ(FindKeyValue("A", "=", "B=1,A=2", ","), "2");
}

TEST(CTextUtilsTest, CaseConversionCoversAsciiLetters) {
    EXPECT_EQ(ToLower("MxPEG-Ab12"), "mxpeg-ab12");
    EXPECT_EQ(ToUpper("00:03:c5:0a"), "00:03:C5:0A");
    EXPECT_EQ(ToLower(""), "");
}

TEST(CTextUtilsTest, ParseIntTable) {
    struct Row {
        const char* text;
        bool ok;
        int32_t value;
    } rows[] = {
        {"-12", true, -12}, {"+7", true, 7},   {"0", true, 0},       {"2147483647", true, INT_MAX},
        {"-2147483648", true, INT_MIN},        {"007", true, 7},
        {"", false, 0},     {"-", false, 0},   {"+", false, 0},      {"1.5", false, 0},
        {" 3", false, 0},   {"3 ", false, 0},  {"0x10", false, 0},   {"--1", false, 0},
        {"2147483648", false, 0},              {"-99999999999", false, 0},  // outside 32 bits
    };
    for (const auto& r : rows) {
        int32_t value = 12345;
        EXPECT_EQ(ParseInt(r.text, value), r.ok) << "[" << r.text << "]";
        EXPECT_EQ(value, r.value) << "[" << r.text << "]";
    }
}

TEST(CTextUtilsTest, IntervalToFpsTable) {
    struct Row {
        uint32_t interval;
        uint32_t fps;
    } rows[] = {
        {0, 1},      // no interval given
        {40, 25},    // 25.0
        {30, 33},    // 33.33
        {3000, 0},   // 0.33
        {1000, 1},
        {1, 1000},
        {2000, 1},   // 0.5 rounds up
        {67, 15},    // 14.93
        {UINT32_MAX, 0},
    };
    for (const auto& r : rows) EXPECT_EQ(IntervalToFps(r.interval), r.fps) << r.interval;
}

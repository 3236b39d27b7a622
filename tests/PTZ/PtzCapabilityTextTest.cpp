// Capability text: flags only for the single character 1, Preset read as atoi, items split at
// semicolons and blanks, and agreement with the record's own text form.
#include "PTZ/PtzCapabilityText.h"

#include <gtest/gtest.h>

using velmora::CPtzCapabilities;
using velmora::ParsePtzCapabilities;

namespace {

std::string Flags(const CPtzCapabilities& c) {
    std::string s;
    for (bool b : {c.pan, c.tilt, c.zoom, c.focus, c.iris, c.areaZoom, c.center, c.unzoom}) s += b ? '1' : '0';
    return s + "/" + std::to_string(c.presetCount);
}

TEST(ParsePtzCapabilitiesTest, ReadsFlagsAndPresetCount) {
    struct Row {
        const char* text;
        const char* flags;  // pan tilt zoom focus iris areaZoom center unzoom / presets
    };
    const Row rows[] = {
        {"Preset=16; Pan=1", "10000000/16"},
        {"Pan=true", "00000000/0"},            // only the character 1 counts
        {"Pan = 1", "00000000/0"},             // the blank splits the item
        {"AreaZoom=1; Zoom=0", "00000100/0"},  // AreaZoom is its own key, not inside Zoom
        {"", "00000000/0"},
        {"Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=1; AreaZoom=1; Preset=256", "11100111/256"},
        {"Pan=11; Tilt=1\r\nZoom=1\tFocus=1", "01110000/0"},
        {"Preset=12abc", "00000000/12"},       // leading number as atoi reads it
        {"Preset=abc", "00000000/0"},
        {"XPan=1;Preset=3", "00000000/3"},     // Pan only inside another name
        {"Iris=1;Iris=0", "00001000/0"},       // the first item wins
    };
    for (const Row& row : rows) EXPECT_EQ(row.flags, Flags(ParsePtzCapabilities(row.text))) << row.text;
}

TEST(ParsePtzCapabilitiesTest, ReadsBackWhatTheRecordWrites) {
    for (unsigned bits = 0; bits < 256; ++bits) {
        CPtzCapabilities c;
        c.pan = bits & 1;
        c.tilt = bits & 2;
        c.zoom = bits & 4;
        c.focus = bits & 8;
        c.iris = bits & 16;
        c.areaZoom = bits & 32;
        c.center = bits & 64;
        c.unzoom = bits & 128;
        c.presetCount = bits * 3;
        const CPtzCapabilities back = ParsePtzCapabilities(c.ToText());
        // The text applies its combinations; the parser takes the values as written.
        CPtzCapabilities expected = c;
        expected.center = c.center && (c.pan || c.tilt);
        expected.unzoom = c.unzoom && c.zoom;
        expected.areaZoom = c.areaZoom && c.zoom;
        EXPECT_EQ(Flags(expected), Flags(back)) << c.ToText();
    }
}

}  // namespace

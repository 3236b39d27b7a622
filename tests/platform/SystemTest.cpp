// System facts: the PE product-version reader on crafted images and files, the clock
// conversion, the executable path and the readable-file check.
#include "platform/System.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/PeImage.h"
#include "support/TempDir.h"

namespace {

using quillon::test::BuildPeImage;
using quillon::test::PeImageOptions;
using quillon::test::ScopedCurrentDirectory;
using quillon::test::TempDir;
using quillon::test::WriteBinaryFile;
using velmora::platform::ParseProductVersion;
using velmora::platform::ReadModuleProductVersion;

struct Version {
    uint16_t v[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};  // marker: untouched on failure
    bool operator==(const Version& o) const { return std::equal(v, v + 4, o.v); }
};

std::ostream& operator<<(std::ostream& out, const Version& version) {
    return out << version.v[0] << '.' << version.v[1] << '.' << version.v[2] << '.' << version.v[3];
}

Version Make(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
    Version version;
    version.v[0] = a;
    version.v[1] = b;
    version.v[2] = c;
    version.v[3] = d;
    return version;
}

TEST(PlatformSystemTest, ParsesProductVersionOfCraftedImages) {
    struct Row {
        const char* why;
        PeImageOptions options;
        bool ok;
        Version expected;  // when ok
    };
    auto with = [](auto change) {
        PeImageOptions o;
        change(o);
        return o;
    };
    const Row rows[] = {
        {"product version, not the file version", PeImageOptions{}, true, Make(1, 2, 3, 4)},
        {"host core 5.11", with([](auto& o) { o.productVersion[0] = 5, o.productVersion[1] = 11; }), true,
         Make(5, 11, 3, 4)},
        {"full 16-bit words", with([](auto& o) { o.productVersion[0] = 65535, o.productVersion[3] = 65535; }), true,
         Make(65535, 2, 3, 65535)},
        {"version block at an odd offset", with([](auto& o) { o.versionOffset = 0x203; }), true, Make(1, 2, 3, 4)},
        {"stray signature constant before the block is skipped",
         with([](auto& o) { o.strayConstantBefore = true; }), true, Make(1, 2, 3, 4)},
        {"no MZ", with([](auto& o) { o.dosSignature = false; }), false, {}},
        {"no PE signature", with([](auto& o) { o.peSignature = false; }), false, {}},
        {"e_lfanew beyond the image", with([](auto& o) { o.eLfanew = 0xFFFFFFF0u; }), false, {}},
        {"e_lfanew three bytes before the end", with([](auto& o) { o.eLfanew = 0x1000 - 3, o.padTo = 0x1000; }), false, {}},
        {"no version resource", with([](auto& o) { o.versionResource = false; }), false, {}},
        {"only a stray signature constant",
         with([](auto& o) { o.versionResource = false, o.strayConstantBefore = true; }), false, {}},
        {"fixed info cut after 20 bytes", with([](auto& o) { o.truncateAfterSignature = 20; }), false, {}},
        {"fixed info cut one byte short", with([](auto& o) { o.truncateAfterSignature = 51; }), false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        std::vector<uint8_t> image = BuildPeImage(row.options);
        Version got;
        EXPECT_EQ(ParseProductVersion(image.data(), image.size(), got.v), row.ok);
        EXPECT_EQ(got, row.ok ? row.expected : Version{});
    }
}

TEST(PlatformSystemTest, RejectsImagesTooSmallForHeaders) {
    const std::vector<uint8_t> image = BuildPeImage(PeImageOptions{});
    Version got;
    EXPECT_FALSE(ParseProductVersion(nullptr, 0, got.v));
    EXPECT_FALSE(ParseProductVersion(image.data(), 2, got.v)) << "\"MZ\" alone";
    EXPECT_FALSE(ParseProductVersion(image.data(), 0x3F, got.v)) << "no room for e_lfanew";
    EXPECT_EQ(got, Version{});
}

TEST(PlatformSystemTest, ReadsModuleFromCurrentDirectory) {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    PeImageOptions options;
    options.productVersion[0] = 6;
    options.productVersion[1] = 3;
    ASSERT_TRUE(WriteBinaryFile(dir.File("ombrel.dll"), BuildResourcePeImage(options)));
    ASSERT_TRUE(WriteBinaryFile(dir.File("notpe.dll"), {'h', 'e', 'l', 'l', 'o', '\n'}));
    ASSERT_TRUE(WriteBinaryFile(dir.File("empty.dll"), {}));
    ScopedCurrentDirectory cwd(dir.Path());

    struct Row {
        const char* name;
        bool ok;
    };
    const Row rows[] = {
        {"ombrel.dll", true},       // a PE image with a version
        {"notpe.dll", false},       // a text file
        {"empty.dll", false},       // an empty file
        {"missing.dll", false},     // no such file
        {"", false},                // no name
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Version got;
        EXPECT_EQ(ReadModuleProductVersion(row.name, got.v), row.ok);
        EXPECT_EQ(got, row.ok ? Make(6, 3, 3, 4) : Version{});
    }
    Version got;
    EXPECT_FALSE(ReadModuleProductVersion(nullptr, got.v));
}

TEST(PlatformSystemTest, ModuleBesideExecutableWinsOverCurrentDirectory) {
    const std::string name = "quillon-test-beside-" + std::to_string(std::random_device{}()) + ".dll";
    const std::string beside = velmora::platform::ExecutableDirectory() + name;
    PeImageOptions besideOptions;
    besideOptions.productVersion[0] = 7;
    ASSERT_TRUE(WriteBinaryFile(beside, BuildResourcePeImage(besideOptions)));
    struct Remove {
        std::string path;
        ~Remove() { std::filesystem::remove(path); }
    } removeBeside{beside};

    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    PeImageOptions cwdOptions;
    cwdOptions.productVersion[0] = 8;
    ASSERT_TRUE(WriteBinaryFile(dir.File(name), BuildResourcePeImage(cwdOptions)));
    ScopedCurrentDirectory cwd(dir.Path());
    Version got;
    ASSERT_TRUE(ReadModuleProductVersion(name.c_str(), got.v));
    EXPECT_EQ(got, Make(7, 2, 3, 4));
}

TEST(PlatformSystemTest, SystemTimeCountsHundredNanosecondsSince1601) {
    uint64_t value = 0;
    ASSERT_TRUE(velmora::platform::SystemTime100ns(&value));
    const int64_t unixSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const int64_t fromValue = static_cast<int64_t>(value / 10000000ULL) - 11644473600LL;
    EXPECT_LE(std::llabs(fromValue - unixSeconds), 60) << "epoch or unit conversion is off";
}

TEST(PlatformSystemTest, MonotonicClockNeverGoesBack) {
    uint64_t previous = velmora::platform::MonotonicMilliseconds();
    for (int i = 0; i < 1000; ++i) {
        uint64_t now = velmora::platform::MonotonicMilliseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(PlatformSystemTest, ExecutablePathNamesThisProgram) {
    const std::string path = velmora::platform::ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::filesystem::path(path).stem(), "test_platform");
    const std::string dir = velmora::platform::ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(static_cast<wchar_t>(dir.back()), static_cast<wchar_t>(std::filesystem::path::preferred_separator));
    EXPECT_EQ(path.substr(0, dir.size()), dir);
    EXPECT_EQ(path.find_first_of("/\\", dir.size()), std::string::npos);
}

TEST(PlatformSystemTest, ReadableNonEmptyFileCheck) {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    ASSERT_TRUE(WriteBinaryFile(dir.File("full"), {'x'}));
    ASSERT_TRUE(WriteBinaryFile(dir.File("empty"), {}));
    std::filesystem::create_directory(dir.Path() / "folder");
    struct Row {
        const char* name;
        bool expected;
    };
    const Row rows[] = {
        {"full", true},      // one byte is enough
        {"empty", false},    // empty
        {"folder", false},   // not a regular file
        {"missing", false},  // absent
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(velmora::platform::FileIsReadableAndNonEmpty(dir.File(row.name)), row.expected);
    }
}

}  // namespace

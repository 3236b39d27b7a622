// Helpers of the preset tests: unique preset files beside the test binary, removed afterwards.
#pragma once
#include "TestsDir.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include "platform/System.h"

namespace presettest {

// A file name in the executable's directory, unique per test run; the file is removed on scope exit.
class TempPresetFile {
public:
    TempPresetFile() {
        std::random_device random;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::ostringstream name;
        name << "quillon_preset_" << (info ? info->name() : "test") << "_" << random() << random() << ".xml";
        name_ = name.str();
        path_ = velmora::platform::ExecutableDirectory() + name_;
        std::remove(path_.c_str());
    }
    ~TempPresetFile() { std::remove(path_.c_str()); }
    TempPresetFile(const TempPresetFile&) = delete;
    TempPresetFile& operator=(const TempPresetFile&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& Path() const { return path_; }
    bool Exists() const { return std::ifstream(path_).good(); }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void Write(const std::string& bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

private:
    std::string name_;
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Golden files live beside this header.
inline std::string GoldenPath(const std::string& name) {
    return std::string(QUILLON_TESTS_DIR) + "/Presets/golden/" + name;
}

// xmllint's verdict on a file: true when it parses as well-formed XML.
inline bool XmllintAccepts(const std::string& path) {
    const std::string command = "xmllint --noout '" + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

}  // namespace presettest

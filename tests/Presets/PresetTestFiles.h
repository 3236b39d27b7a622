// Helpers of the preset tests: unique preset files beside the test binary, removed afterwards.
#pragma once
#include "TestsDir.h"
#include <gtest/gtest.h>
#include <pugixml.hpp>

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
// xmllint, an XML parser apart from the one the module uses. The Windows test programs cannot
// start it (they run under Wine), so there a pugixml parse plus the XML 1.0 character rule (no
// control characters but tab, CR and LF), which pugixml does not enforce, stand in for it.
inline bool XmllintAccepts(const std::string& path) {
#ifdef QUILLON_TESTS_WITHOUT_XMLLINT
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (unsigned char c : bytes) {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    }
    pugi::xml_document document;
    return static_cast<bool>(document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_declaration));
#else
    const std::string command = "xmllint --noout '" + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
#endif
}

}  // namespace presettest

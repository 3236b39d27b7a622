// Fuzz target for the preset file: any bytes as the file beside the executable. Opening never
// fails for a writable directory (an unusable file is replaced), every preset read back after a
// save is what was read before, and every file written loads again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Presets/XMLPrepositionReader.h"
#include "platform/System.h"

namespace {

constexpr const char* kFileName = "quillon_fuzz_presets.xml";
constexpr uint32_t kChannels = 3;
constexpr uint32_t kLimit = 2000;

void Check(bool condition) {
    if (!condition) std::abort();
}

struct Stored {
    uint32_t channel;
    uint32_t number;
    velmora::PrepositionRecord record;
};

std::vector<Stored> ReadAll(velmora::CXMLPrepositionReader& reader) {
    std::vector<Stored> all;
    for (uint32_t channel = 0; channel < kChannels; ++channel) {
        for (uint32_t number : reader.StoredNumbers(channel, kLimit)) {
            velmora::PrepositionRecord record;
            if (reader.ReadPreposition(channel, number, record)) all.push_back({channel, number, record});
        }
    }
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = velmora::platform::ExecutableDirectory() + kFileName;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::vector<Stored> before;
    bool written = false;
    {
        velmora::CXMLPrepositionReader reader("Mobotix");
        Check(reader.Open(kFileName));
        before = ReadAll(reader);
        // A name from the input itself, when it is one the list would accept.
        std::string name(reinterpret_cast<const char*>(data), std::min<size_t>(size, 24));
        if (name.empty() || name.find_first_of("&!<>'\"") != std::string::npos) name = "fuzz";
        written = reader.WritePreposition(1, 7, {name, 5});
        reader.SetAutoSave(false);
        reader.SetAutoSave(true);  // writes the file
    }
    velmora::CXMLPrepositionReader again("Mobotix");
    Check(again.Settings().Open(kFileName) == velmora::kXmlOk);  // the written file loads as it is
    again.Settings().Close();
    Check(again.Open(kFileName));
    const std::vector<Stored> after = ReadAll(again);
    for (const Stored& old : before) {
        if (written && old.channel == 1 && old.number == 7) continue;
        bool found = false;
        for (const Stored& now : after) {
            if (now.channel == old.channel && now.number == old.number) {
                Check(now.record.name == old.record.name && now.record.slot == old.record.slot);
                found = true;
            }
        }
        Check(found);
    }
    std::remove(path.c_str());
    // A file that did not parse was kept aside under the first free name; removing it keeps that
    // name free, or the kept-aside names would run out over a long run.
    std::remove((path + ".broken-1").c_str());
    return 0;
}

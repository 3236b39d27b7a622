// Preset records to and from paths and values of the settings file.
#include "Presets/XMLPrepositionReader.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "Presets/WideText.h"
#include "platform/File.h"

namespace velmora {

namespace {
constexpr const char* kChannelElement = "PtzChannel";
constexpr const char* kPrepositionElement = "Preposition";
constexpr const char* kNameElement = "Name";
constexpr const char* kSlotElement = "Slot";
constexpr int32_t kErrorLevel = 1;

std::string FormatNumber(const char* format, uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), format, value);
    return buffer;
}
}  // namespace

CXMLPrepositionReader::CXMLPrepositionReader(std::string rootName) : rootName_(std::move(rootName)) {}

CXMLPrepositionReader::~CXMLPrepositionReader() {
    CFastMutexGuard guard(lock_);
    while (settings_.Close() != 0) {
    }
}

std::string CXMLPrepositionReader::ChannelPath(uint32_t channel) const {
    // The file counts channels from 1; a 64-bit sum keeps channel 0xFFFFFFFF distinct.
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%.2llu", static_cast<unsigned long long>(channel) + 1);
    return rootName_ + "/" + kChannelElement + buffer;
}

std::string CXMLPrepositionReader::PrepositionPath(uint32_t channel, uint32_t number, const char* leaf) const {
    return ChannelPath(channel) + "/" + kPrepositionElement + FormatNumber("%.3u", number) + "/" + leaf;
}

bool CXMLPrepositionReader::Open(const std::string& fileName) {
    CFastMutexGuard guard(lock_);
    openResult_ = CResultDef();
    const int32_t status = settings_.Open(fileName);
    if (status != kXmlOk && !settings_.IsOpen()) {
        const std::string quoted = "preset file \"" + settings_.FullPath() + "\"";
        std::string problem;
        // Only a file known to hold nothing, or one kept aside first, is replaced: the presets of
        // every channel are in it.
        bool replace = status == kXmlFailed;
        if (status == kXmlNotParsable) {
            const std::string keptAs = KeepAside(settings_.FullPath());
            replace = !keptAs.empty();
            problem = replace ? quoted + " is not a valid XML file; it was kept as \"" + keptAs +
                                    "\" and a new preset file was started"
                              : quoted + " is not a valid XML file and could not be kept aside; it is left "
                                         "unchanged and the channels have no presets";
        } else if (!replace) {
            problem = quoted + " exists but cannot be read; it is left unchanged and the channels have no presets";
        }
        if (!problem.empty())
            openResult_ = CResultDef(kErrorLevel, CResultDef::kInputUnavailable,
                                     "velmora::CXMLPrepositionReader::Open: " + problem);
        if (replace && settings_.CreateNewFile(rootName_, fileName, true) == 1) settings_.Open(fileName);
    }
    autoSave_ = settings_.IsOpen();
    return autoSave_;
}

CResultDef CXMLPrepositionReader::OpenResult() {
    CFastMutexGuard guard(lock_);
    return openResult_;
}

std::string CXMLPrepositionReader::KeepAside(const std::string& path) {
    for (uint32_t n = 1; n <= kMaxKeptAsideNames; ++n) {
        const std::string candidate = path + ".broken-" + std::to_string(n);
        if (platform::ProbeFile(candidate) != platform::FileState::Missing) continue;
        if (platform::MoveFileNoReplace(path, candidate)) return candidate;
    }
    return {};
}

void CXMLPrepositionReader::SetAutoSave(bool on) {
    CFastMutexGuard guard(lock_);
    if (autoSave_ == on) return;
    autoSave_ = on;
    if (on) settings_.Save();
}

bool CXMLPrepositionReader::AutoSave() {
    CFastMutexGuard guard(lock_);
    return autoSave_;
}

bool CXMLPrepositionReader::ReadPreposition(uint32_t channel, uint32_t number, PrepositionRecord& record) {
    CFastMutexGuard guard(lock_);
    const std::wstring name =
        settings_.GetValue(L"%ls", xmltext::NarrowToWide(PrepositionPath(channel, number, kNameElement)).c_str());
    record.name = xmltext::WideToUtf8(name);
    if (name.empty()) return false;
    const std::wstring slot =
        settings_.GetValue(L"%ls", xmltext::NarrowToWide(PrepositionPath(channel, number, kSlotElement)).c_str());
    uint32_t value = 0;
    if (!ParseUnsignedLikeScanf(slot, &value)) return false;
    record.slot = value;
    return true;
}

bool CXMLPrepositionReader::WritePreposition(uint32_t channel, uint32_t number, const PrepositionRecord& record) {
    CFastMutexGuard guard(lock_);
    bool written = settings_.SetValue(xmltext::NarrowToWide(record.name), L"%ls",
                                      xmltext::NarrowToWide(PrepositionPath(channel, number, kNameElement)).c_str()) == 1;
    if (written) {
        written = settings_.SetValue(xmltext::NarrowToWide(FormatNumber("%u", record.slot)), L"%ls",
                                     xmltext::NarrowToWide(PrepositionPath(channel, number, kSlotElement)).c_str()) == 1;
    }
    if (autoSave_ && written) return settings_.Save();
    return written;
}

bool CXMLPrepositionReader::RemoveChannel(uint32_t channel) {
    CFastMutexGuard guard(lock_);
    const std::string path = ChannelPath(channel);
    bool removed = false;
    if (settings_.NodeExists("%s", path.c_str())) removed = settings_.RemoveNode("%s", path.c_str());
    if (autoSave_) settings_.Save();
    return removed;
}

std::vector<uint32_t> CXMLPrepositionReader::StoredNumbers(uint32_t channel, uint32_t limit) {
    CFastMutexGuard guard(lock_);
    const std::string prefix = kPrepositionElement;
    std::vector<uint32_t> numbers;
    for (const std::string& name : settings_.ChildElementNames("%s", ChannelPath(channel).c_str())) {
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const unsigned long long value = std::stoull(digits);
        // Only the spelling that ReadPreposition's path produces addresses a preset.
        if (value >= limit || FormatNumber("%.3u", static_cast<uint32_t>(value)) != digits) continue;
        numbers.push_back(static_cast<uint32_t>(value));
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

bool ParseUnsignedLikeScanf(const std::wstring& text, uint32_t* value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    uint32_t result = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i, ++digits) {
        result = result * 10u + static_cast<uint32_t>(text[i] - L'0');
    }
    if (digits == 0) return false;
    *value = negative ? 0u - result : result;
    return true;
}

}  // namespace velmora

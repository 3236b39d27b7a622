// CXMLPrepositionReader: the presets of every PTZ channel of one camera type in one XML file,
// laid out as Root/PtzChannelNN/PrepositionNNN/{Name,Slot} with the value in a "value" attribute.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "Presets/XMLSettingsAPI.h"
#include "Thread/FastMutex.h"
#include "Web/ResultDef.h"

namespace velmora {

struct PrepositionRecord {
    std::string name;
    uint32_t slot = 0;
};

// Every operation holds the reader's lock for its whole duration, so the PTZ thread and host
// threads may share one reader. Shared through TSmartPtr<CXMLPrepositionReader>.
class CXMLPrepositionReader {
public:
    explicit CXMLPrepositionReader(std::string rootName);
    virtual ~CXMLPrepositionReader();
    CXMLPrepositionReader(const CXMLPrepositionReader&) = delete;
    CXMLPrepositionReader& operator=(const CXMLPrepositionReader&) = delete;

    // Opens the file in the executable's directory. A missing or empty file is replaced by a fresh
    // one (declaration and empty root); a file that does not parse is first kept aside under a new
    // name beside it ("<name>.broken-<n>"), then replaced; a file that exists but cannot be read is
    // never touched and the reader stays closed. Auto-save is on exactly when the file ended up
    // open. OpenResult() then holds a message for the log when a file was kept aside or left alone.
    bool Open(const std::string& fileName);
    CResultDef OpenResult();
    // Most names tried when a broken file is kept aside.
    static constexpr uint32_t kMaxKeptAsideNames = 1000;
    // Switching auto-save on writes the file at once.
    void SetAutoSave(bool on);
    bool AutoSave();
    // False when the name is missing or empty (record.slot untouched) or the slot is not a number.
    bool ReadPreposition(uint32_t channel, uint32_t number, PrepositionRecord& record);
    // With auto-save on, the result is that of writing the file.
    bool WritePreposition(uint32_t channel, uint32_t number, const PrepositionRecord& record);
    // Preset numbers below limit that the channel's element holds, ascending, each once: exactly
    // the numbers for which ReadPreposition can succeed, found without trying every number.
    std::vector<uint32_t> StoredNumbers(uint32_t channel, uint32_t limit);
    // Removes the channel's element with all its presets; false when it did not exist.
    bool RemoveChannel(uint32_t channel);

    const std::string& RootName() const { return rootName_; }
    // The settings layer, for tests and for the file's path.
    CXMLSettingsAPI& Settings() { return settings_; }

    // Paths as the file holds them; the channel index and preset number are widened, never cut.
    std::string ChannelPath(uint32_t channel) const;
    std::string PrepositionPath(uint32_t channel, uint32_t number, const char* leaf) const;

private:
    // Moves the broken file at path to the first free "<path>.broken-<n>"; empty when none worked.
    static std::string KeepAside(const std::string& path);

    std::string rootName_;
    CFastMutex lock_;
    CXMLSettingsAPI settings_;
    bool autoSave_ = false;
    CResultDef openResult_;
};

// Reads an unsigned decimal number as "%u" does: leading blanks, an optional sign (a minus wraps
// the value), at least one digit, anything after the digits ignored. Values beyond 32 bits wrap.
bool ParseUnsignedLikeScanf(const std::wstring& text, uint32_t* value);

}  // namespace velmora

// Preset list: slot choice, capacity, names, current preset with recall and rename, removal and
// load rules, with a recording camera stand-in.
#include "Presets/PrepositionList.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "PresetTestFiles.h"

using velmora::CPrepositionList;
using velmora::CXMLPrepositionReader;
using velmora::PrepositionRecord;
using velmora::TSmartPtr;
using presettest::TempPresetFile;

namespace {

// Records the camera calls and messages; store and recall answers can be switched to failure.
class RecordingComm : public velmora::IPrepositionComm {
public:
    struct Call {
        char operation;  // 'S'tore, 'R'ecall, 'E'rase
        uint32_t slot;
        std::string name;
    };
    struct Message {
        int level;
        std::string text;
    };

    void DebugMessage(int level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        char buffer[1024];
        std::vsnprintf(buffer, sizeof(buffer), format, args);
        va_end(args);
        std::lock_guard<std::mutex> guard(mutex);
        messages.push_back({level, buffer});
    }
    bool StorePreposition(uint32_t slot, const std::string& name) override {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back({'S', slot, name});
        return storeSucceeds;
    }
    bool RecallPreposition(uint32_t slot, const std::string& name, int32_t) override {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back({'R', slot, name});
        return recallSucceeds;
    }
    bool ErasePreposition(uint32_t slot, const std::string& name) override {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back({'E', slot, name});
        return true;
    }

    std::mutex mutex;
    std::vector<Call> calls;
    std::vector<Message> messages;
    bool storeSucceeds = true;
    bool recallSucceeds = true;
};

// A list on channel 0 over a fresh preset file.
struct ListOnFile {
    explicit ListOnFile(uint32_t capacity, int32_t channel = 0) : list(channel) {
        EXPECT_TRUE(storage->Open(file.Name()));
        list.SetComm(&comm);
        list.SetCapacity(capacity);
        EXPECT_TRUE(list.SetStorage(storage));
    }
    // Adds a new preset (not a rename) and checks it succeeded.
    void AddNew(const std::string& name) {
        list.ClearCurrent();
        ASSERT_EQ(1, list.AddPreposition(name)) << name;
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        std::string name;
        for (int32_t i = 0; list.GetName(i, name); ++i) names.push_back(name);
        return names;
    }

    TempPresetFile file;
    TSmartPtr<CXMLPrepositionReader> storage{new CXMLPrepositionReader("Mobotix")};
    RecordingComm comm;
    CPrepositionList list;
};

TEST(CPrepositionListTest, NewPresetTakesSmallestFreeSlotAndFullListIsRefused) {
    TempPresetFile file;
    {
        // Presets in slots 0, 1 and 3 as a file holds them.
        CXMLPrepositionReader writer("Mobotix");
        ASSERT_TRUE(writer.Open(file.Name()));
        ASSERT_TRUE(writer.WritePreposition(0, 0, {"P0", 0}));
        ASSERT_TRUE(writer.WritePreposition(0, 1, {"P1", 1}));
        ASSERT_TRUE(writer.WritePreposition(0, 2, {"P3", 3}));
    }
    TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Mobotix"));
    ASSERT_TRUE(storage->Open(file.Name()));
    RecordingComm comm;
    CPrepositionList list(0);
    list.SetComm(&comm);
    list.SetCapacity(4);
    list.SetStorage(storage);
    ASSERT_EQ(3, list.GetCount());

    ASSERT_EQ(1, list.AddPreposition("New"));
    ASSERT_EQ(1u, comm.calls.size());
    EXPECT_EQ('S', comm.calls[0].operation);
    EXPECT_EQ(2u, comm.calls[0].slot);
    uint32_t slot = 0;
    ASSERT_TRUE(list.GetSlot(3, slot));
    EXPECT_EQ(2u, slot);

    list.ClearCurrent();
    EXPECT_EQ(-26, list.AddPreposition("Fifth"));
    EXPECT_EQ(1u, comm.calls.size()) << "the camera must not be asked when the list is full";
    ASSERT_EQ(1u, comm.messages.size());
    EXPECT_EQ(1, comm.messages[0].level);
    EXPECT_EQ("velmora::CPrepositionList::AddPreposition: A preposition \"Fifth\" cannot be added. Camera supports "
              "saving not more than 4 prepositions.",
              comm.messages[0].text);
}

TEST(CPrepositionListTest, InvalidNamesAreRefusedWithTheNameShownLiterally) {
    ListOnFile f(8);
    struct Row {
        std::string name;
        int32_t result;
    };
    const Row rows[] = {
        {"", -3},             // empty
        {"it's", -3},         // apostrophe
        {"a&b", -3},          // ampersand
        {"stop!", -3},        // exclamation mark
        {"<x", -3},           // less-than
        {"x>", -3},           // greater-than
        {"say \"hi\"", -3},   // double quote
        {"bell\x07", -3},     // a character no XML file can hold
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        f.list.ClearCurrent();
        EXPECT_EQ(rows[i].result, f.list.AddPreposition(rows[i].name)) << rows[i].name;
    }
    EXPECT_TRUE(f.comm.calls.empty());
    ASSERT_EQ(std::size(rows), f.comm.messages.size());
    EXPECT_EQ("velmora::CPrepositionList::AddPreposition: A preposition \"it's\" cannot be added - the name is "
              "invalid.",
              f.comm.messages[1].text);

    // Blanks and percent signs are fine; a percent sign in a refused name is shown as it is.
    f.comm.messages.clear();
    f.AddNew("50% off");
    f.AddNew("with blanks");
    f.list.ClearCurrent();
    EXPECT_EQ(-3, f.list.AddPreposition("100%s'"));
    ASSERT_EQ(1u, f.comm.messages.size());
    EXPECT_EQ("velmora::CPrepositionList::AddPreposition: A preposition \"100%s'\" cannot be added - the name is "
              "invalid.",
              f.comm.messages[0].text);
    EXPECT_EQ((std::vector<std::string>{"50% off", "with blanks"}), f.Names());
}

TEST(CPrepositionListTest, AddWithoutCameraIsNotPossible) {
    CPrepositionList list(0);
    EXPECT_EQ(-18, list.AddPreposition("A"));
    EXPECT_EQ(0, list.GetCount());
    std::string name = "stale";
    EXPECT_FALSE(list.GetName(0, name));
    EXPECT_EQ("", name);
    EXPECT_FALSE(list.GetCurrentPrepositionName(name));
    EXPECT_FALSE(list.GotoPreposition("A", 1));
    EXPECT_FALSE(list.RemovePreposition("A"));
}

TEST(CPrepositionListTest, RecallThenAddRenamesTheRecalledPreset) {
    ListOnFile f(8);
    f.AddNew("A");
    f.AddNew("Other");
    f.list.ClearCurrent();
    ASSERT_TRUE(f.list.GotoPreposition("A", 5));
    f.comm.calls.clear();
    f.comm.messages.clear();

    ASSERT_EQ(1, f.list.AddPreposition("B"));
    EXPECT_TRUE(f.comm.calls.empty()) << "a rename sends nothing to the camera";
    EXPECT_EQ((std::vector<std::string>{"B", "Other"}), f.Names());
    ASSERT_EQ(1u, f.comm.messages.size());
    EXPECT_EQ(3, f.comm.messages[0].level);
    EXPECT_EQ("velmora::CPrepositionList::RenameCurrentPreposition: A preposition with index 0 was renamed from "
              "\"A\" to \"B\".",
              f.comm.messages[0].text);
    std::string current;
    ASSERT_TRUE(f.list.GetCurrentPrepositionName(current));
    EXPECT_EQ("B", current) << "a rename keeps the current preset";
    // The file holds the new name in the same slot.
    CXMLPrepositionReader reader("Mobotix");
    ASSERT_TRUE(reader.Open(f.file.Name()));
    PrepositionRecord record;
    ASSERT_TRUE(reader.ReadPreposition(0, 0, record));
    EXPECT_EQ("B", record.name);
    EXPECT_EQ(0u, record.slot);
}

TEST(CPrepositionListTest, MovingBetweenRecallAndAddCreatesANewPreset) {
    ListOnFile f(8);
    f.AddNew("A");
    f.list.ClearCurrent();
    ASSERT_TRUE(f.list.GotoPreposition("A", 5));
    f.list.ClearCurrent();  // what the control object does after a posted motion
    ASSERT_EQ(1, f.list.AddPreposition("B"));
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), f.Names());
}

TEST(CPrepositionListTest, RecallingTheCurrentPresetTwiceSendsOneCommand) {
    ListOnFile f(8);
    f.AddNew("A");
    f.AddNew("B");
    f.list.ClearCurrent();
    f.comm.calls.clear();
    EXPECT_TRUE(f.list.GotoPreposition("A", 3));
    EXPECT_TRUE(f.list.GotoPreposition("A", 3));
    ASSERT_EQ(1u, f.comm.calls.size());
    EXPECT_EQ('R', f.comm.calls[0].operation);
    EXPECT_EQ(0u, f.comm.calls[0].slot);
    EXPECT_EQ(0, f.list.GetCurrentIndex());
    // A failed recall leaves the current preset as it was.
    f.comm.recallSucceeds = false;
    EXPECT_FALSE(f.list.GotoPreposition("B", 3));
    EXPECT_EQ(0, f.list.GetCurrentIndex());
    EXPECT_FALSE(f.list.GotoPreposition("missing", 3));
    EXPECT_FALSE(f.list.GotoPreposition("", 3));
    EXPECT_FALSE(f.list.GotoPreposition("a", 3)) << "names compare case-sensitively";
}

TEST(CPrepositionListTest, RemovalRenumbersTheFileAndForgetsTheCurrentPreset) {
    ListOnFile f(8);
    f.AddNew("First");
    f.AddNew("Second");
    f.AddNew("Third");
    ASSERT_TRUE(f.list.RemovePreposition("First"));
    EXPECT_EQ(-1, f.list.GetCurrentIndex());
    EXPECT_EQ((std::vector<std::string>{"Second", "Third"}), f.Names());
    ASSERT_FALSE(f.comm.calls.empty());
    EXPECT_EQ('E', f.comm.calls.back().operation);
    EXPECT_EQ(0u, f.comm.calls.back().slot);

    CXMLPrepositionReader reader("Mobotix");
    ASSERT_TRUE(reader.Open(f.file.Name()));
    PrepositionRecord record;
    ASSERT_TRUE(reader.ReadPreposition(0, 0, record));
    EXPECT_EQ("Second", record.name);
    EXPECT_EQ(1u, record.slot);
    ASSERT_TRUE(reader.ReadPreposition(0, 1, record));
    EXPECT_EQ("Third", record.name);
    EXPECT_EQ(2u, record.slot);
    EXPECT_FALSE(reader.ReadPreposition(0, 2, record));
    EXPECT_FALSE(f.list.RemovePreposition("First"));
    // The freed slot is the next one used.
    ASSERT_EQ(1, f.list.AddPreposition("Again"));
    EXPECT_EQ(0u, f.comm.calls.back().slot);
}

TEST(CPrepositionListTest, CameraRefusingToStoreLeavesListAndFileUnchanged) {
    ListOnFile f(8);
    f.AddNew("Kept");
    const std::string before = f.file.Read();
    f.comm.storeSucceeds = false;
    f.list.ClearCurrent();
    EXPECT_EQ(-18, f.list.AddPreposition("Refused"));
    EXPECT_EQ((std::vector<std::string>{"Kept"}), f.Names());
    EXPECT_EQ(before, f.file.Read());
    EXPECT_EQ(-1, f.list.GetCurrentIndex());
}

TEST(CPrepositionListTest, FileWriteFailureKeepsThePresetInMemory) {
    RecordingComm comm;
    CPrepositionList list(0);
    list.SetComm(&comm);
    list.SetCapacity(4);
    // A reader that could not open its file: every write fails.
    TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Mobotix"));
    EXPECT_FALSE(storage->Open("no_such_directory_for_presets/p.xml"));
    list.SetStorage(storage);
    EXPECT_EQ(-18, list.AddPreposition("OnCameraOnly"));
    EXPECT_EQ(1, list.GetCount());
    EXPECT_EQ(0, list.GetCurrentIndex());
}

TEST(CPrepositionListTest, LoadSkipsGapsDuplicateSlotsAndSlotsBeyondCapacity) {
    TempPresetFile file;
    {
        CXMLPrepositionReader writer("Mobotix");
        ASSERT_TRUE(writer.Open(file.Name()));
        ASSERT_TRUE(writer.WritePreposition(0, 0, {"Zero", 2}));
        ASSERT_TRUE(writer.WritePreposition(0, 2, {"Two", 0}));
        ASSERT_TRUE(writer.WritePreposition(0, 3, {"SameSlot", 2}));   // slot already taken
        ASSERT_TRUE(writer.WritePreposition(0, 4, {"TooHigh", 4}));    // camera has slots 0..3 only
        ASSERT_TRUE(writer.WritePreposition(0, 5, {"Negative", 0xFFFFFFFFu}));
        ASSERT_TRUE(writer.WritePreposition(1, 1, {"OtherChannel", 1}));
    }
    TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Mobotix"));
    ASSERT_TRUE(storage->Open(file.Name()));
    RecordingComm comm;
    CPrepositionList list(0);
    list.SetComm(&comm);
    list.SetCapacity(4);
    list.SetStorage(storage);
    ASSERT_EQ(2, list.GetCount());
    std::string name;
    uint32_t slot = 0;
    ASSERT_TRUE(list.GetName(0, name));
    EXPECT_EQ("Zero", name);
    ASSERT_TRUE(list.GetName(1, name));
    EXPECT_EQ("Two", name);
    // With the invariant kept, the two remaining slots are what new presets get.
    list.ClearCurrent();
    ASSERT_EQ(1, list.AddPreposition("N1"));
    ASSERT_TRUE(list.GetSlot(2, slot));
    EXPECT_EQ(1u, slot);
    list.ClearCurrent();
    ASSERT_EQ(1, list.AddPreposition("N2"));
    ASSERT_TRUE(list.GetSlot(3, slot));
    EXPECT_EQ(3u, slot);
    list.ClearCurrent();
    EXPECT_EQ(-26, list.AddPreposition("N3"));
}

TEST(CPrepositionListTest, HugeCapacityLoadsOnlyWhatTheFileHolds) {
    TempPresetFile file;
    {
        CXMLPrepositionReader writer("Mobotix");
        ASSERT_TRUE(writer.Open(file.Name()));
        ASSERT_TRUE(writer.WritePreposition(0, 0, {"Low", 7}));
        ASSERT_TRUE(writer.WritePreposition(0, 4000000, {"High", 4000000000u}));
    }
    TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Mobotix"));
    ASSERT_TRUE(storage->Open(file.Name()));
    RecordingComm comm;
    CPrepositionList list(0);
    list.SetComm(&comm);
    list.SetCapacity(0xFFFFFFFFu);  // as a malformed capability text can give
    list.SetStorage(storage);       // must not try four billion numbers
    ASSERT_EQ(2, list.GetCount());
    std::string name;
    ASSERT_TRUE(list.GetName(1, name));
    EXPECT_EQ("High", name);
    // A smaller capacity leaves out the numbers at or above it, as reading each number would.
    list.SetCapacity(4000000);
    list.Load();
    EXPECT_EQ(1, list.GetCount());
}

TEST(CPrepositionListTest, StorageHandleIsSharedAndReplacedOnlyWhenDifferent) {
    ListOnFile f(4);
    EXPECT_EQ(2, f.storage.HolderCount());
    EXPECT_TRUE(f.list.SetStorage(f.storage));
    EXPECT_EQ(2, f.storage.HolderCount()) << "the same handle must not be taken twice";
    EXPECT_FALSE(f.list.SetStorage(TSmartPtr<CXMLPrepositionReader>()));
    EXPECT_EQ(1, f.storage.HolderCount()) << "a different (empty) handle replaces the held one";
    EXPECT_FALSE(f.list.SavePreposition(0, 0, "x")) << "without storage nothing can be saved";
    EXPECT_FALSE(f.list.SaveAll());
}

TEST(CPrepositionListTest, RenameWithoutCurrentIsNotPossible) {
    ListOnFile f(4);
    EXPECT_EQ(-18, f.list.RenameCurrentPreposition("X"));
}

}  // namespace

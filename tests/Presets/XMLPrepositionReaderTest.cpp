// Preset file storage: the golden scenario of a first start, three presets, a removal, wide channel
// and preset numbers; every written file loads again and is well-formed; broken records are skipped.
#include "Presets/XMLPrepositionReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "Presets/PrepositionList.h"
#include "PresetTestFiles.h"
#include "support/FileAccess.h"

using velmora::CPrepositionList;
using velmora::CXMLPrepositionReader;
using velmora::PrepositionRecord;
using velmora::TSmartPtr;
using presettest::TempPresetFile;

namespace {

// Camera stand-in that accepts every preset operation.
class AcceptingComm : public velmora::IPrepositionComm {
public:
    void DebugMessage(int, const char*, ...) override {}
    bool StorePreposition(uint32_t, const std::string&) override { return true; }
    bool RecallPreposition(uint32_t, const std::string&, int32_t) override { return true; }
    bool ErasePreposition(uint32_t, const std::string&) override { return true; }
};

struct Expected {
    uint32_t channel;
    uint32_t number;
    std::string name;
    uint32_t slot;
};

// The file at path, opened by a fresh reader, holds exactly these records among the numbers tried.
void ExpectFileHolds(const TempPresetFile& file, const std::vector<Expected>& records) {
    CXMLPrepositionReader reader("Mobotix");
    ASSERT_TRUE(reader.Open(file.Name()));
    for (const Expected& e : records) {
        PrepositionRecord record;
        ASSERT_TRUE(reader.ReadPreposition(e.channel, e.number, record)) << e.channel << "/" << e.number;
        EXPECT_EQ(e.name, record.name);
        EXPECT_EQ(e.slot, record.slot);
    }
}

void ExpectGolden(const TempPresetFile& file, const char* golden) {
    EXPECT_EQ(presettest::ReadFile(presettest::GoldenPath(golden)), file.Read()) << "golden file " << golden;
    EXPECT_TRUE(presettest::XmllintAccepts(file.Path())) << "xmllint refused the file matching " << golden;
}

TEST(CXMLPrepositionReaderTest, XmllintRejectsMalformedFiles) {
    // The well-formedness check used below can fail.
    TempPresetFile file;
    file.Write("<?xml version=\"1.0\" encoding=\"utf-8\"?><Mobotix><A value=\"\x01\"/></Mobotix>");
    EXPECT_FALSE(presettest::XmllintAccepts(file.Path()));
}

TEST(CXMLPrepositionReaderTest, GoldenFileScenario) {
    TempPresetFile file;
    TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Mobotix"));

    // First start: no file yet.
    ASSERT_TRUE(storage->Open(file.Name()));
    EXPECT_TRUE(storage->AutoSave());
    ExpectGolden(file, "first_start.xml");

    AcceptingComm comm;
    CPrepositionList list(0);
    list.SetComm(&comm);
    list.SetCapacity(4);
    ASSERT_TRUE(list.SetStorage(storage));
    EXPECT_EQ(0, list.GetCount());

    // Three presets on channel index 0.
    for (const char* name : {"Alpha", "Beta", "Einfahrt S\xc3\xbc" "d"}) {
        ASSERT_EQ(1, list.AddPreposition(name));
        list.ClearCurrent();  // the camera moved: the next add is a new preset
    }
    ExpectGolden(file, "three_presets.xml");
    ExpectFileHolds(file, {{0, 0, "Alpha", 0}, {0, 1, "Beta", 1}, {0, 2, "Einfahrt S\xc3\xbc" "d", 2}});

    // Removing the middle one renumbers the file.
    ASSERT_TRUE(list.RemovePreposition("Beta"));
    ExpectGolden(file, "middle_removed.xml");
    ExpectFileHolds(file, {{0, 0, "Alpha", 0}, {0, 1, "Einfahrt S\xc3\xbc" "d", 2}});
    PrepositionRecord gone;
    CXMLPrepositionReader check("Mobotix");
    ASSERT_TRUE(check.Open(file.Name()));
    EXPECT_FALSE(check.ReadPreposition(0, 2, gone));

    // Channel indices 9 and 99, preset number 1000.
    EXPECT_EQ("Mobotix/PtzChannel10", storage->ChannelPath(9));
    EXPECT_EQ("Mobotix/PtzChannel100", storage->ChannelPath(99));
    ASSERT_TRUE(storage->WritePreposition(9, 0, {"Nine", 1}));
    ASSERT_TRUE(storage->WritePreposition(99, 0, {"Ninety-nine", 2}));
    ASSERT_TRUE(storage->WritePreposition(0, 1000, {"Thousand", 3}));
    ExpectGolden(file, "wide_numbers.xml");
    ExpectFileHolds(file, {{0, 0, "Alpha", 0},
                           {0, 1, "Einfahrt S\xc3\xbc" "d", 2},
                           {0, 1000, "Thousand", 3},
                           {9, 0, "Nine", 1},
                           {99, 0, "Ninety-nine", 2}});
}

TEST(CXMLPrepositionReaderTest, SlotThatIsNotANumberSkipsOnlyThatPreset) {
    TempPresetFile file;
    {
        CXMLPrepositionReader writer("Mobotix");
        ASSERT_TRUE(writer.Open(file.Name()));
        ASSERT_TRUE(writer.WritePreposition(0, 0, {"First", 0}));
        ASSERT_TRUE(writer.WritePreposition(0, 1, {"Broken", 1}));
        ASSERT_TRUE(writer.WritePreposition(0, 2, {"Third", 2}));
    }
    std::string bytes = file.Read();
    const size_t at = bytes.find("<Slot value=\"1\">");
    ASSERT_NE(std::string::npos, at);
    bytes.replace(at, 16, "<Slot value=\"abc\">");
    file.Write(bytes);

    CXMLPrepositionReader reader("Mobotix");
    ASSERT_TRUE(reader.Open(file.Name()));
    PrepositionRecord record;
    EXPECT_FALSE(reader.ReadPreposition(0, 1, record));
    EXPECT_EQ("Broken", record.name) << "the name is read even when the slot is not";

    AcceptingComm comm;
    CPrepositionList list(0);
    list.SetComm(&comm);
    list.SetCapacity(8);
    TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Mobotix"));
    ASSERT_TRUE(storage->Open(file.Name()));
    list.SetStorage(storage);
    ASSERT_EQ(2, list.GetCount());
    std::string name;
    EXPECT_TRUE(list.GetName(0, name));
    EXPECT_EQ("First", name);
    EXPECT_TRUE(list.GetName(1, name));
    EXPECT_EQ("Third", name);
}

TEST(CXMLPrepositionReaderTest, EmptyOrMissingNameIsNotARecordAndLeavesTheSlot) {
    TempPresetFile file;
    file.Write("<?xml version=\"1.0\" encoding=\"utf-8\"?><Mobotix><PtzChannel01><Preposition000><Name value=\"\"/>"
               "<Slot value=\"4\"/></Preposition000><Preposition001><Slot value=\"5\"/></Preposition001>"
               "</PtzChannel01></Mobotix>");
    CXMLPrepositionReader reader("Mobotix");
    ASSERT_TRUE(reader.Open(file.Name()));
    PrepositionRecord record;
    record.slot = 77;
    EXPECT_FALSE(reader.ReadPreposition(0, 0, record));
    EXPECT_FALSE(reader.ReadPreposition(0, 1, record));
    EXPECT_EQ(77u, record.slot);
}

TEST(CXMLPrepositionReaderTest, SlotTextIsReadAsPercentU) {
    uint32_t value = 0;
    struct Row {
        const wchar_t* text;
        bool ok;
        uint32_t value;
    };
    const Row rows[] = {
        {L"12", true, 12},           // plain
        {L"  7", true, 7},           // leading blanks skipped
        {L"+3", true, 3},            // sign accepted
        {L"9abc", true, 9},          // digits then anything
        {L"-1", true, 0xFFFFFFFFu},  // a minus wraps (never below a capacity)
        {L"abc", false, 0},          // no digits
        {L"", false, 0},             // empty
        {L"-", false, 0},            // lone sign
    };
    for (const Row& row : rows) {
        value = 0;
        EXPECT_EQ(row.ok, velmora::ParseUnsignedLikeScanf(row.text, &value)) << static_cast<int>(row.text[0]);
        if (row.ok) {
            EXPECT_EQ(row.value, value);
        }
    }
}

TEST(CXMLPrepositionReaderTest, StoredNumbersAreExactlyTheReadableOnes) {
    TempPresetFile file;
    file.Write("<?xml version=\"1.0\" encoding=\"utf-8\"?><Mobotix><PtzChannel01>"
               "<Preposition002/><Preposition000/><Preposition0001/><Preposition01/><Preposition1000/>"
               "<Preposition000/><Preposition-01/><PrepositionX/><Other005/><Preposition99999999999/>"
               "</PtzChannel01></Mobotix>");
    CXMLPrepositionReader reader("Mobotix");
    ASSERT_TRUE(reader.Open(file.Name()));
    // 0001 and 01 are not how number 1 is written; duplicates count once; the limit cuts.
    EXPECT_EQ((std::vector<uint32_t>{0, 2, 1000}), reader.StoredNumbers(0, 0xFFFFFFFFu));
    EXPECT_EQ((std::vector<uint32_t>{0, 2}), reader.StoredNumbers(0, 1000));
    EXPECT_TRUE(reader.StoredNumbers(1, 100).empty());
    EXPECT_EQ((std::vector<std::string>{"PtzChannel01"}), reader.Settings().ChildElementNames("Mobotix"));
}

TEST(CXMLPrepositionReaderTest, OnlyMissingOrEmptyFilesAreReplacedAndBrokenOnesAreKeptAside) {
    const std::string fresh = presettest::ReadFile(presettest::GoldenPath("first_start.xml"));
    const std::string stored = fresh.substr(0, fresh.size() - std::string("<Mobotix/>").size()) +
                               "<Mobotix><PtzChannel01><Preposition000><Name value=\"Gate\"/><Slot value=\"1\"/>"
                               "</Preposition000></PtzChannel01></Mobotix>";
    enum class Setup { Missing, Content, ContentWithFirstNameTaken, Unreadable };
    struct Row {
        const char* what;
        Setup setup;
        std::string content;
        bool opened;
        const char* keptAs;       // suffix of the name the old file was kept under; null: none
        const char* noteFragment; // in the reader's message; null: no message
    } rows[] = {
        {"missing", Setup::Missing, "", true, nullptr, nullptr},
        {"empty", Setup::Content, "", true, nullptr, nullptr},
        {"not XML", Setup::Content, "this is not xml", true, ".broken-1", "is not a valid XML file; it was kept as"},
        {"truncated by a crash", Setup::Content, stored.substr(0, stored.size() / 2), true, ".broken-1", "kept as"},
        {"not XML, first name taken", Setup::ContentWithFirstNameTaken, "<Mobotix><Unclosed></Mobotix>", true,
         ".broken-2", "kept as"},
        {"exists but cannot be read", Setup::Unreadable, stored, false, nullptr,
         "exists but cannot be read; it is left unchanged and the channels have no presets"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempPresetFile file;
        const std::string taken = file.Path() + ".broken-1";
        if (row.setup != Setup::Missing) file.Write(row.content);
        if (row.setup == Setup::ContentWithFirstNameTaken) std::ofstream(taken) << "an older broken file";
        CXMLPrepositionReader reader("Mobotix");
        bool opened = false;
        if (row.setup == Setup::Unreadable) {
            ASSERT_TRUE(quillon::test::RunWhileFileUnreadable(file.Path(), [&] { opened = reader.Open(file.Name()); }));
        } else {
            opened = reader.Open(file.Name());
        }
        EXPECT_EQ(row.opened, opened);
        EXPECT_EQ(row.opened, reader.AutoSave());
        const velmora::CResultDef note = reader.OpenResult();
        if (row.noteFragment) {
            EXPECT_EQ(1, note.level);
            EXPECT_EQ(0u, note.message.find("velmora::CXMLPrepositionReader::Open: preset file \"" + file.Path() + "\""))
                << note.message;
            EXPECT_NE(std::string::npos, note.message.find(row.noteFragment)) << note.message;
        } else {
            EXPECT_TRUE(note.message.empty()) << note.message;
        }
        if (row.keptAs) {
            const std::string keptPath = file.Path() + row.keptAs;
            EXPECT_EQ(row.content, presettest::ReadFile(keptPath)) << "the broken file is kept byte for byte";
            EXPECT_NE(std::string::npos, note.message.find("\"" + keptPath + "\"")) << note.message;
            std::remove(keptPath.c_str());
        }
        if (row.setup == Setup::ContentWithFirstNameTaken) {
            EXPECT_EQ("an older broken file", presettest::ReadFile(taken)) << "a kept file is never replaced";
        }
        std::remove(taken.c_str());
        if (row.opened) {
            EXPECT_EQ(fresh, file.Read());
        } else {
            // Left alone: no presets to read, nothing written.
            EXPECT_EQ(row.content, file.Read());
            PrepositionRecord record;
            EXPECT_FALSE(reader.ReadPreposition(0, 0, record));
            EXPECT_FALSE(reader.WritePreposition(0, 0, {"New", 2}));
            EXPECT_EQ(row.content, file.Read());
        }
    }
}

TEST(CXMLPrepositionReaderTest, RewritingAChannelAgainAndAgainKeepsTheFileTheSame) {
    TempPresetFile file;
    AcceptingComm comm;
    for (int session = 0; session < 2; ++session) {  // the second one works on the file as loaded
        TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Mobotix"));
        ASSERT_TRUE(storage->Open(file.Name()));
        CPrepositionList list(0);
        list.SetComm(&comm);
        list.SetCapacity(4);
        ASSERT_TRUE(list.SetStorage(storage));
        if (session == 0) {
            for (const char* name : {"Alpha", "Beta", "Einfahrt S\xc3\xbc" "d"}) {
                ASSERT_EQ(1, list.AddPreposition(name));
                list.ClearCurrent();
            }
            ASSERT_TRUE(list.RemovePreposition("Beta"));
        }
        for (int rewrite = 0; rewrite < 3; ++rewrite) {
            ASSERT_TRUE(list.SaveAll());
            ExpectGolden(file, "middle_removed.xml");
        }
    }
}

TEST(CXMLPrepositionReaderTest, FileThatCannotBeCreatedLeavesReaderClosed) {
    CXMLPrepositionReader reader("Mobotix");
    // A directory that does not exist below the executable's directory cannot take the file.
    EXPECT_FALSE(reader.Open("no_such_directory_for_presets/presets.xml"));
    EXPECT_FALSE(reader.AutoSave());
    PrepositionRecord record;
    EXPECT_FALSE(reader.ReadPreposition(0, 0, record));
    EXPECT_FALSE(reader.WritePreposition(0, 0, {"A", 0}));
}

TEST(CXMLPrepositionReaderTest, AutoSaveOffKeepsChangesInMemoryUntilSwitchedOn) {
    TempPresetFile file;
    CXMLPrepositionReader reader("Mobotix");
    ASSERT_TRUE(reader.Open(file.Name()));
    reader.SetAutoSave(false);
    ASSERT_TRUE(reader.WritePreposition(0, 0, {"Held", 3}));
    EXPECT_EQ(std::string::npos, file.Read().find("Held"));
    reader.SetAutoSave(true);
    EXPECT_NE(std::string::npos, file.Read().find("Held"));
    EXPECT_TRUE(reader.RemoveChannel(0));
    EXPECT_EQ(std::string::npos, file.Read().find("Held"));
    EXPECT_FALSE(reader.RemoveChannel(0));
}

}  // namespace

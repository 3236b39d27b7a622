// Settings file API: open counting, missing and empty files, value paths, element creation with
// indentation text, predicates, removal, saving and wide/narrow text.
#include "Presets/XMLSettingsAPI.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Presets/PruvoFileBase.h"
#include "Presets/WideText.h"
#include "PresetTestFiles.h"

using velmora::CXMLSettingsAPI;
using presettest::TempPresetFile;

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// A settings object opened on a freshly created file with the given root.
struct OpenedFile {
    explicit OpenedFile(const char* root = "Mobotix") {
        EXPECT_EQ(1, api.CreateNewFile(root, file.Name(), true));
        EXPECT_EQ(velmora::kXmlOk, api.Open(file.Name()));
    }
    TempPresetFile file;
    CXMLSettingsAPI api;
};

TEST(CXMLSettingsAPITest, MissingOrEmptyFileFailsAndCreateNewFileWritesDeclarationAndRoot) {
    TempPresetFile file;
    CXMLSettingsAPI api;
    EXPECT_EQ(velmora::kXmlFailed, api.Open(file.Name()));
    file.Write("");
    EXPECT_EQ(velmora::kXmlFailed, api.Open(file.Name()));
    EXPECT_FALSE(api.IsOpen());

    ASSERT_EQ(1, api.CreateNewFile("Mobotix", file.Name(), true));
    EXPECT_EQ(std::string(kDeclaration) + "<Mobotix/>", file.Read());
    EXPECT_FALSE(api.IsOpen()) << "CreateNewFile must not open the document";
    EXPECT_EQ(velmora::kXmlOk, api.Open(file.Name()));
    EXPECT_TRUE(api.IsOpen());
    EXPECT_EQ(velmora::platform::ExecutableDirectory() + file.Name(), api.FullPath());
}

TEST(CXMLSettingsAPITest, CreateNewFileRefusesRootThatIsNotAnElementName) {
    TempPresetFile file;
    CXMLSettingsAPI api;
    EXPECT_EQ(-1, api.CreateNewFile("1abc", file.Name(), true));
    EXPECT_EQ(-1, api.CreateNewFile("a b", file.Name(), false));
    EXPECT_FALSE(file.Exists());
}

TEST(CXMLSettingsAPITest, UnparsableFileFailsToOpen) {
    TempPresetFile file;
    CXMLSettingsAPI api;
    file.Write("<Mobotix><Unclosed></Mobotix>");
    EXPECT_EQ(velmora::kXmlNotParsable, api.Open(file.Name()));
    file.Write("<!-- only a comment -->");
    EXPECT_EQ(velmora::kXmlNotParsable, api.Open(file.Name()));
    EXPECT_FALSE(api.IsOpen());
}

TEST(CXMLSettingsAPITest, SecondOpenCountsWithoutReloadingAndNeedsTwoCloses) {
    OpenedFile f;
    ASSERT_EQ(1, f.api.SetValue(L"in memory", L"Mobotix/A"));
    // The file on disk still has no A; a reload would lose the value.
    EXPECT_EQ(velmora::kXmlOk, f.api.Open(f.file.Name()));
    EXPECT_EQ(2u, f.api.OpenCount());
    EXPECT_EQ(L"in memory", f.api.GetValue(L"Mobotix/A"));
    EXPECT_EQ(1u, f.api.Close());
    EXPECT_TRUE(f.api.IsOpen());
    EXPECT_EQ(0u, f.api.Close());
    EXPECT_FALSE(f.api.IsOpen());
    EXPECT_EQ(0u, f.api.Close()) << "an extra close must not wrap the count";
}

TEST(CXMLSettingsAPITest, ClosedDocumentReadsEmptyAndRefusesChanges) {
    CXMLSettingsAPI api;
    EXPECT_EQ(L"", api.GetValue(L"Mobotix/A"));
    EXPECT_EQ(0, api.SetValue(L"x", L"Mobotix/A"));
    EXPECT_FALSE(api.NodeExists("Mobotix"));
    EXPECT_FALSE(api.RemoveNode("Mobotix/A"));
    EXPECT_FALSE(api.Save());
}

TEST(CXMLSettingsAPITest, SetValueBuildsMissingElementsTopDownWithIndentation) {
    OpenedFile f;
    ASSERT_EQ(1, f.api.SetValue(L"Gate", L"Mobotix/PtzChannel%.2u/Preposition%.3u/Name", 2u, 5u));
    ASSERT_TRUE(f.api.Save());
    // Root depth 0 (no text of its own), then per created element: d tabs before it, a line break
    // and d+1 tabs inside it, a line break and d tabs after it (d = depth of the parent).
    const std::string expected = std::string(kDeclaration) +
                                 "<Mobotix><PtzChannel02>\n\t\t<Preposition005>\n\t\t\t\t<Name value=\"Gate\">\n\t\t\t"
                                 "</Name>\n\t\t</Preposition005>\n\t</PtzChannel02>\n</Mobotix>";
    EXPECT_EQ(expected, f.file.Read());
    // Only the addressed element carries a value.
    EXPECT_EQ(L"", f.api.GetValue(L"Mobotix/PtzChannel02"));
    EXPECT_EQ(L"", f.api.GetValue(L"Mobotix/PtzChannel02/Preposition005"));
    EXPECT_EQ(L"Gate", f.api.GetValue(L"Mobotix/PtzChannel02/Preposition005/Name"));
}

TEST(CXMLSettingsAPITest, ValuesReplaceAndEmptyTextReplacesToo) {
    OpenedFile f;
    ASSERT_EQ(1, f.api.SetValue(L"first", L"Mobotix/Item"));
    ASSERT_EQ(1, f.api.SetValue(L"second", L"Mobotix/Item"));
    EXPECT_EQ(L"second", f.api.GetValue(L"Mobotix/Item"));
    ASSERT_EQ(1, f.api.SetValue(L"", L"Mobotix/Item"));
    EXPECT_EQ(L"", f.api.GetValue(L"Mobotix/Item"));
    ASSERT_EQ(1, f.api.SetValue(L"third", L"Mobotix/Item"));
    ASSERT_TRUE(f.api.Save());
    // One attribute, never a duplicate.
    const std::string bytes = f.file.Read();
    EXPECT_NE(std::string::npos, bytes.find("<Item value=\"third\">"));
    EXPECT_EQ(std::string::npos, bytes.find("value=\"\""));
}

TEST(CXMLSettingsAPITest, ElementWithoutValueAttributeReadsEmpty) {
    TempPresetFile file;
    file.Write("<?xml version='1.0'?><Root><Plain other=\"x\"/></Root>");
    CXMLSettingsAPI api;
    ASSERT_EQ(velmora::kXmlOk, api.Open(file.Name()));
    EXPECT_TRUE(api.NodeExists("Root/Plain"));
    EXPECT_EQ(L"", api.GetValue(L"Root/Plain"));
    EXPECT_EQ(L"", api.GetValue(L"Root/Missing"));
}

TEST(CXMLSettingsAPITest, PredicateStepsBecomeAttributes) {
    OpenedFile f;
    ASSERT_EQ(1, f.api.SetValue(L"v", L"Mobotix/Item[@id=\"7\"][@kind='door']"));
    EXPECT_EQ(L"v", f.api.GetValue(L"Mobotix/Item[@id=\"7\"]"));
    ASSERT_TRUE(f.api.Save());
    EXPECT_NE(std::string::npos, f.file.Read().find("<Item id=\"7\" kind=\"door\" value=\"v\">"));
    // A second predicate value makes a second element, selected by its own predicate.
    ASSERT_EQ(1, f.api.SetValue(L"w", L"Mobotix/Item[@id=\"8\"]"));
    EXPECT_EQ(L"v", f.api.GetValue(L"Mobotix/Item[@id=\"7\"]"));
    EXPECT_EQ(L"w", f.api.GetValue(L"Mobotix/Item[@id=\"8\"]"));
}

TEST(CXMLSettingsAPITest, PathsThatCannotBeBuiltFailWithoutChangingTheDocument) {
    OpenedFile f;
    ASSERT_TRUE(f.api.Save());
    const std::string before = f.file.Read();
    const wchar_t* paths[] = {
        L"Other/Item",            // a second root
        L"Mobotix/Item[1]",       // positional predicate
        L"Mobotix/Item[@id=7]",   // unquoted predicate text
        L"Mobotix/*",             // not a name
        L"Mobotix/../Up",         // parent step
        L"Mobotix/Bad Name",      // blank inside a name
        L"Mobotix/Item[@id=\"7\"",  // unclosed bracket
        L"Mobotix/",              // empty last step
        L"",                      // nothing
    };
    for (const wchar_t* path : paths) EXPECT_EQ(0, f.api.SetValue(L"x", L"%ls", path)) << velmora::xmltext::WideToUtf8(path);
    ASSERT_TRUE(f.api.Save());
    EXPECT_EQ(before, f.file.Read());
}

TEST(CXMLSettingsAPITest, ValuesThatXmlCannotHoldAreRefused) {
    OpenedFile f;
    EXPECT_EQ(0, f.api.SetValue(std::wstring(L"bell\x07"), L"Mobotix/A"));
    EXPECT_EQ(0, f.api.SetValue(std::wstring(1, static_cast<wchar_t>(0xFFFE)), L"Mobotix/A"));
    EXPECT_FALSE(f.api.NodeExists("Mobotix/A")) << "a refused value must not leave an element behind";
    // Characters that need escaping are fine and come back unchanged.
    const std::wstring tricky = L"a&b<c>d\"e'f\tg\nh%s";
    ASSERT_EQ(1, f.api.SetValue(tricky, L"Mobotix/A"));
    ASSERT_TRUE(f.api.Save());
    EXPECT_TRUE(presettest::XmllintAccepts(f.file.Path()));
    CXMLSettingsAPI again;
    ASSERT_EQ(velmora::kXmlOk, again.Open(f.file.Name()));
    EXPECT_EQ(tricky, again.GetValue(L"Mobotix/A"));
}

TEST(CXMLSettingsAPITest, RemoveNodeTakesTheSubtreeButNeverTheRoot) {
    OpenedFile f;
    ASSERT_EQ(1, f.api.SetValue(L"1", L"Mobotix/PtzChannel01/Preposition000/Name"));
    ASSERT_EQ(1, f.api.SetValue(L"2", L"Mobotix/PtzChannel02/Preposition000/Name"));
    EXPECT_TRUE(f.api.RemoveNode("Mobotix/PtzChannel%.2u", 1u));
    EXPECT_FALSE(f.api.NodeExists("Mobotix/PtzChannel01/Preposition000/Name"));
    EXPECT_EQ(L"2", f.api.GetValue(L"Mobotix/PtzChannel02/Preposition000/Name"));
    EXPECT_FALSE(f.api.RemoveNode("Mobotix/PtzChannel01"));
    EXPECT_FALSE(f.api.RemoveNode("Mobotix"));
    EXPECT_TRUE(f.api.NodeExists("Mobotix"));
}

TEST(CXMLSettingsAPITest, ImmediateSaveWritesEveryChange) {
    OpenedFile f;
    f.api.SetImmediateSave(true);
    ASSERT_EQ(1, f.api.SetValue(L"now", L"Mobotix/A"));
    EXPECT_NE(std::string::npos, f.file.Read().find("<A value=\"now\">"));
    ASSERT_TRUE(f.api.RemoveNode("Mobotix/A"));
    EXPECT_EQ(std::string::npos, f.file.Read().find("<A "));
}

TEST(CXMLSettingsAPITest, LoadKeepsWhitespaceAndSaveWritesTheDocumentAsItStands) {
    TempPresetFile file;
    const std::string original =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><Mobotix>\n  <!-- kept -->\n  <A value=\"1\"/>\n\n</Mobotix>";
    file.Write(original);
    CXMLSettingsAPI api;
    ASSERT_EQ(velmora::kXmlOk, api.Open(file.Name()));
    ASSERT_TRUE(api.Save());
    EXPECT_EQ(original, file.Read());
}

TEST(CXMLSettingsAPITest, FileInAnotherEncodingIsWrittenBackAsUtf8AndReadsTheSame) {
    TempPresetFile file;
    file.Write("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Mobotix><A value=\"S\xfc" "d\"/></Mobotix>");
    {
        CXMLSettingsAPI api;
        ASSERT_EQ(velmora::kXmlOk, api.Open(file.Name()));
        EXPECT_EQ(L"S\u00fcd", api.GetValue(L"Mobotix/A"));
        ASSERT_TRUE(api.Save());
    }
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?><Mobotix><A value=\"S\xc3\xbc" "d\"/></Mobotix>", file.Read());
    CXMLSettingsAPI again;
    ASSERT_EQ(velmora::kXmlOk, again.Open(file.Name()));
    EXPECT_EQ(L"S\u00fcd", again.GetValue(L"Mobotix/A"));
}

TEST(CXMLSettingsAPITest, LongPathsAreCutTo1023Characters) {
    OpenedFile f;
    // "Mobotix/" + 1015 letters = 1023 characters: the element name is exactly what fits.
    const std::wstring name(1015 + 50, L'N');
    ASSERT_EQ(1, f.api.SetValue(L"long", L"Mobotix/%ls", name.c_str()));
    EXPECT_EQ(L"long", f.api.GetValue(L"Mobotix/%ls", name.substr(0, 1015).c_str()));
    EXPECT_FALSE(f.api.NodeExists("Mobotix/%s", std::string(1014, 'N').c_str()));
    EXPECT_TRUE(f.api.NodeExists("Mobotix/%s", std::string(1015 + 80, 'N').c_str()));
}

TEST(CXMLSettingsAPITest, BaseDirectoryIsUsedForOpenWithASeparatorAdded) {
    TempPresetFile file;
    CXMLSettingsAPI creator;
    ASSERT_EQ(1, creator.CreateNewFile("Root", file.Name(), true));
    std::string directory = velmora::platform::ExecutableDirectory();
    directory.pop_back();  // without its trailing separator
    CXMLSettingsAPI api;
    api.SetBaseDirectory(directory);
    ASSERT_EQ(velmora::kXmlOk, api.Open(file.Name()));
    EXPECT_EQ(file.Path(), api.FullPath());
}

TEST(CXMLSettingsAPITest, NarrowWideConversionKeepsUtf8AndMapsStrayBytes) {
    using namespace velmora::xmltext;
    EXPECT_EQ(L"S\u00fcd \u20ac \U0001F600", NarrowToWide("S\xc3\xbc" "d \xe2\x82\xac \xf0\x9f\x98\x80"));
    EXPECT_EQ("S\xc3\xbc" "d \xe2\x82\xac \xf0\x9f\x98\x80", WideToUtf8(L"S\u00fcd \u20ac \U0001F600"));
    // A Latin-1 byte is not UTF-8: it is read as that character; an overlong form likewise.
    EXPECT_EQ(L"caf\u00e9", NarrowToWide("caf\xe9"));
    EXPECT_EQ(std::wstring(L"\u00c0\u00af"), NarrowToWide("\xc0\xaf"));
    EXPECT_FALSE(IsXmlText(std::string("a\x01")));
    EXPECT_TRUE(IsXmlText(std::string("a\tb\r\nc")));
}

TEST(CXMLSettingsAPITest, SaveReplacesTheFileInOneStepAndCleansUpAfterAFailure) {
    OpenedFile f;
    const std::string before = f.file.Read();
    // A second name for the old file shows whether the save wrote into it.
    const std::string oldFile = f.file.Path() + ".old";
    std::filesystem::create_hard_link(f.file.Path(), oldFile);
    ASSERT_EQ(1, f.api.SetValue(L"new", L"Mobotix/A"));
    ASSERT_TRUE(f.api.Save());
    // The old file was never written to: a new one took its name in one rename.
    EXPECT_EQ(before, presettest::ReadFile(oldFile));
    std::filesystem::remove(oldFile);
    EXPECT_EQ(std::string(kDeclaration) + "<Mobotix><A value=\"new\">\n\t</A>\n</Mobotix>", f.file.Read());

    // A save that cannot replace the file (a directory took its name) fails and leaves nothing.
    const std::filesystem::path path(f.file.Path());
    std::filesystem::remove(path);
    ASSERT_TRUE(std::filesystem::create_directory(path));
    EXPECT_FALSE(f.api.Save());
    EXPECT_TRUE(std::filesystem::is_directory(path));
    std::filesystem::remove(path);
    const std::string prefix = f.file.Name();
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path()))
        EXPECT_NE(0u, entry.path().filename().string().rfind(prefix, 0)) << "left behind: " << entry.path();
}

TEST(CPruvoFileBaseTest, OpensOnlyExistingFilesAndMeasuresThem) {
    TempPresetFile file;
    velmora::CPruvoFileBase missing(file.Path());
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(0u, missing.Size());
    file.Write("12345");
    velmora::CPruvoFileBase present(file.Path());
    EXPECT_TRUE(present.Open());
    EXPECT_EQ(5u, present.Size());
}

}  // namespace

// PTZ handler: one cached API object per channel, channel bounds, the preset file set up once,
// the two messages of a missing file name, retries after failures, the reader kept on open errors.
#include "PTZ/MobotixPTZHandler.h"

#include <gtest/gtest.h>

#include "../Presets/PresetTestFiles.h"
#include "PtzFakes.h"

using velmora::CMobotixPTZHandler;
using ptztest::FakePtzDriver;

namespace {

constexpr const char* kAbilities = "Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=1; AreaZoom=1; Preset=8";

struct HandlerSetup {
    HandlerSetup() {
        driver.SetDevice("127.0.0.1", 9);  // no command is sent in these tests
        driver.SetParameter(2, file.Name());
        driver.SetParameter(3, kAbilities);
    }
    presettest::TempPresetFile file;
    FakePtzDriver driver;
};

TEST(CMobotixPTZHandlerTest, SameObjectForRepeatedRequestsAndBothInterfaces) {
    HandlerSetup s;
    CMobotixPTZHandler handler(&s.driver, 4);
    velmora::IIPPTZApiEx* first = handler.GetPTZApiEx(1);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, handler.GetPTZApiEx(1));
    velmora::IIPPTZDriver& plain = handler;
    EXPECT_EQ(static_cast<velmora::IIPPTZApi*>(first), plain.GetPTZApi(1));
    // One command thread for the channel.
    auto* control = dynamic_cast<velmora::CBasePTZControl*>(first);
    ASSERT_NE(nullptr, control);
    ASSERT_NE(nullptr, control->Comm());
    EXPECT_EQ("BaseIPPTZThread_Ch2", control->Comm()->Name());
    // Another channel gets its own object on the same file.
    velmora::IIPPTZApiEx* other = handler.GetPTZApiEx(0);
    ASSERT_NE(nullptr, other);
    EXPECT_NE(first, other);
    EXPECT_EQ(3, handler.Storage().HolderCount()) << "handler and two preset lists";
    EXPECT_TRUE(s.file.Exists()) << "the preset file is created on first use";
    EXPECT_TRUE(s.driver.Messages().empty());
}

TEST(CMobotixPTZHandlerTest, ChannelAtOrBeyondTheCountGivesNull) {
    HandlerSetup s;
    CMobotixPTZHandler handler(&s.driver, 4);
    EXPECT_EQ(nullptr, handler.GetPTZApiEx(4));
    EXPECT_EQ(nullptr, handler.GetPTZApi(100));
    EXPECT_TRUE(handler.Storage().Empty()) << "an invalid channel does not touch the preset file";
    CMobotixPTZHandler none(&s.driver, 0);
    EXPECT_EQ(nullptr, none.GetPTZApiEx(0));
    EXPECT_TRUE(s.driver.Messages().empty());
}

TEST(CMobotixPTZHandlerTest, MissingFileNameGivesNullAndBothMessagesEachTime) {
    FakePtzDriver driver;
    driver.SetParameter(3, kAbilities);
    CMobotixPTZHandler handler(&driver, 2);
    for (int request = 1; request <= 3; ++request) {
        EXPECT_EQ(nullptr, handler.GetPTZApiEx(0));
        const auto messages = driver.Messages();
        ASSERT_EQ(2u * static_cast<size_t>(request), messages.size());
        const auto& name = messages[messages.size() - 2];
        const auto& init = messages.back();
        EXPECT_EQ(1, name.level);
        EXPECT_EQ("velmora::CMobotixPTZHandler::GetXMLStorageFileName: operation failed. Preposition file name was "
                  "not specified!",
                  name.text);
        EXPECT_EQ(1, init.level);
        EXPECT_EQ("velmora::CBasePTZHandler::InitializeXMLStorage: PTZ module cannot be initialized! Name of file for "
                  "preset storing was not defined",
                  init.text);
    }
    EXPECT_TRUE(handler.Storage().Empty());
    // Once the host supplies a name, the next request succeeds.
    presettest::TempPresetFile file;
    driver.SetParameter(2, file.Name());
    driver.SetDevice("127.0.0.1", 9);
    EXPECT_NE(nullptr, handler.GetPTZApiEx(0));
}

TEST(CMobotixPTZHandlerTest, FileThatCannotBeOpenedKeepsTheReader) {
    FakePtzDriver driver;
    driver.SetDevice("127.0.0.1", 9);
    driver.SetParameter(2, "no_such_directory_for_presets/presets.xml");
    driver.SetParameter(3, kAbilities);
    CMobotixPTZHandler handler(&driver, 2);
    EXPECT_EQ(nullptr, handler.GetPTZApiEx(0));
    ASSERT_EQ(1u, driver.Messages().size());
    EXPECT_EQ("velmora::CBasePTZHandler::InitializeXMLStorage: cannot initialize CXMLPrepositionReader object with "
              "parameter \"no_such_directory_for_presets/presets.xml\"",
              driver.Messages()[0].text);
    EXPECT_FALSE(handler.Storage().Empty());
    // The next request opens the channel on that reader: an empty list whose writes fail.
    velmora::IIPPTZApiEx* api = handler.GetPTZApiEx(0);
    ASSERT_NE(nullptr, api);
    EXPECT_EQ(1u, driver.Messages().size());
    EXPECT_EQ(0, api->GetPrepositionCount());
}

TEST(CMobotixPTZHandlerTest, BrokenFileIsKeptAsideAndTheHostIsTold) {
    presettest::TempPresetFile file;
    file.Write("<Mobotix><PtzChannel01>");
    FakePtzDriver driver;
    driver.SetDevice("127.0.0.1", 9);
    driver.SetParameter(2, file.Name());
    driver.SetParameter(3, kAbilities);
    CMobotixPTZHandler handler(&driver, 2);
    EXPECT_NE(nullptr, handler.GetPTZApiEx(0));
    const std::string keptPath = file.Path() + ".broken-1";
    EXPECT_EQ("<Mobotix><PtzChannel01>", presettest::ReadFile(keptPath));
    std::remove(keptPath.c_str());
    ASSERT_EQ(1u, driver.Messages().size());
    EXPECT_EQ(1, driver.Messages()[0].level);
    EXPECT_EQ("velmora::CXMLPrepositionReader::Open: preset file \"" + file.Path() +
                  "\" is not a valid XML file; it was kept as \"" + keptPath + "\" and a new preset file was started",
              driver.Messages()[0].text);
}

// A handler whose controls cannot be opened until allowed.
class FlakyHandler : public velmora::CBasePTZHandler {
public:
    FlakyHandler(velmora::IDriver* driver, std::string fileName)
        : CBasePTZHandler(driver, 2, "Mobotix"), fileName_(std::move(fileName)) {}
    ~FlakyHandler() override { DeleteControls(); }
    std::string GetXMLStorageFileName() override { return fileName_; }
    velmora::CBasePTZControl* CreatePTZControl(uint32_t channel) override {
        ++created;
        auto* control = new ptztest::FakeControl(driver_, static_cast<int32_t>(channel), ptztest::AllAbilities());
        control->createComm = allowOpen;
        return control;
    }
    bool InitializeXMLStorage() override {
        ++initialised;
        return CBasePTZHandler::InitializeXMLStorage();
    }
    bool allowOpen = false;
    int created = 0;
    int initialised = 0;

private:
    std::string fileName_;
};

TEST(CBasePTZHandlerTest, ControlThatCannotOpenIsNotCachedAndStorageIsInitialisedOnce) {
    presettest::TempPresetFile file;
    FakePtzDriver driver;
    FlakyHandler handler(&driver, file.Name());
    EXPECT_EQ(nullptr, handler.GetPTZApiEx(1));
    EXPECT_EQ(nullptr, handler.GetPTZApiEx(1));
    EXPECT_EQ(2, handler.created);
    handler.allowOpen = true;
    velmora::IIPPTZApiEx* api = handler.GetPTZApiEx(1);
    ASSERT_NE(nullptr, api);
    EXPECT_EQ(api, handler.GetPTZApiEx(1));
    EXPECT_EQ(3, handler.created);
    EXPECT_EQ(1, handler.initialised);
}

TEST(CBasePTZHandlerTest, EmptyVendorNameGivesNull) {
    FakePtzDriver driver;
    class Nameless : public velmora::CBasePTZHandler {
    public:
        explicit Nameless(velmora::IDriver* d) : CBasePTZHandler(d, 1, "") {}
        std::string GetXMLStorageFileName() override { return "never.xml"; }
        velmora::CBasePTZControl* CreatePTZControl(uint32_t) override { return nullptr; }
    } handler(&driver);
    EXPECT_EQ(nullptr, handler.GetPTZApiEx(0));
    EXPECT_TRUE(handler.Storage().Empty());
}

TEST(CMobotixPTZHandlerTest, DeletingTheHandlerStopsEveryCommandThread) {
    HandlerSetup s;
    auto* handler = new CMobotixPTZHandler(&s.driver, 3);
    velmora::IIPPTZDriverEx* asHost = handler;
    for (uint32_t channel = 0; channel < 3; ++channel) ASSERT_NE(nullptr, asHost->GetPTZApiEx(channel));
    const velmora::TSmartPtr<velmora::CXMLPrepositionReader> watch = handler->Storage();
    EXPECT_EQ(5, watch.HolderCount());
    delete asHost;  // as the driver does: through the newest interface's virtual destructor
    EXPECT_EQ(1, watch.HolderCount()) << "every list and the handler let go of the file";
}

}  // namespace

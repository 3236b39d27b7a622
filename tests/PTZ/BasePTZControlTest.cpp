// PTZ API of a channel: not-open answers, gates passed through, motion flags and the one Stop,
// current-preset clearing, the capability record, name buffers and the IIPParams flags.
#include "PTZ/BasePTZControl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "../Presets/PresetTestFiles.h"
#include "PTZ/MobotixPTZControl.h"
#include "PtzFakes.h"

using velmora::CXMLPrepositionReader;
using velmora::TSmartPtr;
using ptztest::AllAbilities;
using ptztest::FakeControl;
using ptztest::FakePtzDriver;

namespace {

// An opened fake control over a fresh preset file.
struct OpenControl {
    explicit OpenControl(velmora::CPtzCapabilities capabilities = AllAbilities(4)) : control(&driver, 0, capabilities) {
        EXPECT_TRUE(storage->Open(file.Name()));
        EXPECT_TRUE(control.Open(storage));
    }
    // Commands executed so far, once count of them arrived.
    std::vector<ptztest::Executed> Executed(size_t count) {
        EXPECT_TRUE(control.Fake()->WaitExecuted(count));
        return control.Fake()->ExecutedCommands();
    }
    presettest::TempPresetFile file;
    TSmartPtr<CXMLPrepositionReader> storage{new CXMLPrepositionReader("Mobotix")};
    FakePtzDriver driver;
    FakeControl control;
};

TEST(CBasePTZControlTest, EverythingButPresetLookupsNeedsAnOpenChannel) {
    FakePtzDriver driver;
    FakeControl control(&driver, 0, AllAbilities());
    velmora::PTZ_CAPABILITIES record{};
    EXPECT_EQ(-18, control.IsDome());
    EXPECT_EQ(-18, control.Move(1, 1));
    EXPECT_EQ(-18, control.Stop());
    EXPECT_EQ(-18, control.Center(1, 1, 1));
    EXPECT_EQ(-18, control.ZoomPlus(1));
    EXPECT_EQ(-18, control.ZoomMinus(1));
    EXPECT_EQ(-18, control.Unzoom(1));
    EXPECT_EQ(-18, control.AreaZoom(1, 1, 200, 1));
    EXPECT_EQ(-18, control.FocusPlus(1));
    EXPECT_EQ(-18, control.FocusMinus(1));
    EXPECT_EQ(-18, control.IrisPlus(1));
    EXPECT_EQ(-18, control.IrisMinus(1));
    EXPECT_EQ(-18, control.GetCapabilities(&record));
    EXPECT_EQ(0, control.GetPrepositionCount());
    char buffer[16];
    EXPECT_EQ(-23, control.GetPrepositionName(0, buffer, sizeof(buffer)));
    EXPECT_EQ(-18, control.AddPreposition("A"));
    EXPECT_EQ(-23, control.GotoPreposition(1, "A"));
    EXPECT_EQ(-23, control.RemovePreposition("A"));
    EXPECT_EQ(-23, control.GetCurrentPrepositionName(buffer, sizeof(buffer)));
    EXPECT_EQ(0, control.created);
}

TEST(CBasePTZControlTest, OpenNeedsACommandObjectAndStorage) {
    FakePtzDriver driver;
    FakeControl withoutStorage(&driver, 0, AllAbilities());
    EXPECT_FALSE(withoutStorage.Open(TSmartPtr<CXMLPrepositionReader>()));
    EXPECT_EQ(1, withoutStorage.created);
    EXPECT_EQ(nullptr, withoutStorage.Comm()) << "the command object is stopped and deleted again";
    EXPECT_EQ(-18, withoutStorage.Move(1, 1));

    FakeControl withoutComm(&driver, 0, AllAbilities());
    withoutComm.createComm = false;
    TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Mobotix"));
    EXPECT_FALSE(withoutComm.Open(storage));
    withoutComm.Close();
    withoutComm.Close();  // idempotent
}

TEST(CBasePTZControlTest, OpenHandsCommAndCapacityToTheList) {
    OpenControl f(AllAbilities(7));
    EXPECT_TRUE(f.control.Fake()->IsOpen());
    EXPECT_EQ(7u, f.control.Prepositions().GetCapacity());
    EXPECT_EQ(1, f.control.AddPreposition("Door"));
    EXPECT_EQ(1, f.control.GetPrepositionCount());
    EXPECT_EQ(2, f.storage.HolderCount()) << "the list holds a copy of the storage handle";
}

TEST(CBasePTZControlTest, MoveRefusesDirection10AndPostsOthers) {
    OpenControl f;
    EXPECT_EQ(-3, f.control.Move(10, 5));
    EXPECT_EQ(1, f.control.Move(11, 5));
    const auto executed = f.Executed(1);
    ASSERT_EQ(1u, executed.size());
    EXPECT_EQ(11, executed[0].directionOrX);
    EXPECT_EQ(static_cast<IIPParams*>(&f.control), executed[0].parameters);
}

TEST(CBasePTZControlTest, StopEndsWhatWasStartedInOrder) {
    OpenControl f;
    EXPECT_EQ(1, f.control.Stop()) << "nothing started: nothing posted";
    EXPECT_EQ(1, f.control.ZoomPlus(3));
    EXPECT_EQ(1, f.control.Move(2, 3));
    EXPECT_EQ(1, f.control.FocusMinus(3));
    EXPECT_EQ(1, f.control.IrisPlus(3));
    EXPECT_EQ(1, f.control.Stop());
    EXPECT_EQ(1, f.control.Stop()) << "flags were cleared by the posted stops";
    const auto executed = f.Executed(8);
    ASSERT_EQ(8u, executed.size());
    EXPECT_EQ(8, executed[0].directionOrX);  // zoom plus is a move in direction 8
    EXPECT_EQ(velmora::FocusCommand, executed[2].commandId);
    EXPECT_EQ(1, executed[2].subCommand);  // minus: backward
    EXPECT_EQ(3, executed[3].subCommand);  // iris plus: open
    EXPECT_EQ(5, executed[4].subCommand);  // stop moving first
    EXPECT_EQ(6, executed[5].subCommand);  // then zooming
    EXPECT_EQ(8, executed[6].subCommand);  // then iris
    EXPECT_EQ(7, executed[7].subCommand);  // then focus
}

TEST(CBasePTZControlTest, ZoomThroughMoveIsStoppedAsZoom) {
    OpenControl f;
    EXPECT_EQ(1, f.control.Move(9, 3));
    EXPECT_EQ(1, f.control.Stop());
    const auto executed = f.Executed(2);
    ASSERT_EQ(2u, executed.size());
    EXPECT_EQ(6, executed[1].subCommand);
}

TEST(CBasePTZControlTest, MissingCapabilitiesPassThroughAndSetNoFlag) {
    velmora::CPtzCapabilities none;
    none.presetCount = 2;
    OpenControl f(none);
    EXPECT_EQ(-19, f.control.Move(1, 1));
    EXPECT_EQ(-19, f.control.ZoomPlus(1));
    EXPECT_EQ(-19, f.control.FocusPlus(1));
    EXPECT_EQ(-19, f.control.IrisMinus(1));
    EXPECT_EQ(-19, f.control.AreaZoom(1, 1, 200, 1));
    EXPECT_EQ(-19, f.control.Center(1, 1, 1));
    EXPECT_EQ(-19, f.control.Unzoom(1));
    EXPECT_EQ(1, f.control.Stop());
    EXPECT_EQ(0u, f.control.Fake()->PendingCount());
    EXPECT_TRUE(f.control.Fake()->ExecutedCommands().empty());
}

TEST(CBasePTZControlTest, PostedMotionsForgetTheCurrentPreset) {
    OpenControl f;
    using Motion = std::function<int32_t(FakeControl&)>;
    const std::vector<std::pair<const char*, Motion>> motions = {
        {"Move", [](FakeControl& c) { return c.Move(1, 1); }},
        {"Center", [](FakeControl& c) { return c.Center(1, 1, 1); }},
        {"ZoomPlus", [](FakeControl& c) { return c.ZoomPlus(1); }},
        {"ZoomMinus", [](FakeControl& c) { return c.ZoomMinus(1); }},
        {"Unzoom", [](FakeControl& c) { return c.Unzoom(1); }},
        {"AreaZoom", [](FakeControl& c) { return c.AreaZoom(1, 1, 200, 1); }},
        {"FocusPlus", [](FakeControl& c) { return c.FocusPlus(1); }},
        {"FocusMinus", [](FakeControl& c) { return c.FocusMinus(1); }},
        {"IrisPlus", [](FakeControl& c) { return c.IrisPlus(1); }},
        {"IrisMinus", [](FakeControl& c) { return c.IrisMinus(1); }},
    };
    ASSERT_EQ(1, f.control.AddPreposition("Home"));
    char name[16];
    for (const auto& [label, motion] : motions) {
        ASSERT_EQ(1, f.control.GotoPreposition(1, "Home")) << label;
        ASSERT_EQ(1, f.control.GetCurrentPrepositionName(name, sizeof(name))) << label;
        ASSERT_EQ(1, motion(f.control)) << label;
        EXPECT_EQ(-23, f.control.GetCurrentPrepositionName(name, sizeof(name))) << label;
    }
    // Stop does not move the camera away: it keeps the current preset.
    ASSERT_EQ(1, f.control.GotoPreposition(1, "Home"));
    ASSERT_EQ(1, f.control.Stop());
    EXPECT_EQ(1, f.control.GetCurrentPrepositionName(name, sizeof(name)));
}

TEST(CBasePTZControlTest, CapabilityRecordCarriesCapacityAndListCount) {
    OpenControl f(AllAbilities(5));
    ASSERT_EQ(1, f.control.AddPreposition("A"));
    f.control.Prepositions().ClearCurrent();
    ASSERT_EQ(1, f.control.AddPreposition("B"));
    EXPECT_EQ(-3, f.control.GetCapabilities(nullptr));
    velmora::PTZ_CAPABILITIES record{};
    EXPECT_EQ(1, f.control.GetCapabilities(&record));
    EXPECT_EQ(5, record.presetCapacity);
    EXPECT_EQ(2, record.presetCount);
    EXPECT_EQ(1, record.pan);
    EXPECT_EQ(1, record.unzoom);
}

TEST(CBasePTZControlTest, NameBuffersNeedRoomForTheTerminatingZero) {
    OpenControl f;
    ASSERT_EQ(1, f.control.AddPreposition("Gate"));
    char buffer[8];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(-3, f.control.GetPrepositionName(0, buffer, 4)) << "exactly the name's length is too small";
    EXPECT_EQ('x', buffer[0]);
    EXPECT_EQ(-3, f.control.GetPrepositionName(0, nullptr, 8));
    EXPECT_EQ(1, f.control.GetPrepositionName(0, buffer, 5));
    EXPECT_STREQ("Gate", buffer);
    EXPECT_EQ(-23, f.control.GetPrepositionName(1, buffer, 8));
    EXPECT_EQ(-23, f.control.GetPrepositionName(-1, buffer, 8));
    EXPECT_EQ(-3, f.control.GetCurrentPrepositionName(buffer, 4));
    EXPECT_EQ(1, f.control.GetCurrentPrepositionName(buffer, 5));
    EXPECT_STREQ("Gate", buffer);
}

TEST(CBasePTZControlTest, PresetCallsMapListResults) {
    OpenControl f(AllAbilities(1));
    EXPECT_EQ(-3, f.control.AddPreposition(nullptr));
    EXPECT_EQ(-3, f.control.GotoPreposition(1, nullptr));
    EXPECT_EQ(-3, f.control.RemovePreposition(nullptr));
    EXPECT_EQ(-3, f.control.AddPreposition("bad'name"));
    EXPECT_EQ(1, f.control.AddPreposition("Only"));
    f.control.Prepositions().ClearCurrent();
    EXPECT_EQ(-26, f.control.AddPreposition("Second"));
    EXPECT_EQ(-23, f.control.GotoPreposition(1, "Missing"));
    EXPECT_EQ(1, f.control.GotoPreposition(1, "Only"));
    EXPECT_EQ(-23, f.control.RemovePreposition("Missing"));
    EXPECT_EQ(1, f.control.RemovePreposition("Only"));
    EXPECT_EQ(0, f.control.GetPrepositionCount());
}

TEST(CBasePTZControlTest, OptionsAndParameterFlags) {
    OpenControl f;
    EXPECT_TRUE(f.control.IsOptionSupported(1));
    EXPECT_FALSE(f.control.IsOptionSupported(2));
    EXPECT_FALSE(f.control.IsOptionSupported(0));
    EXPECT_EQ(1, f.control.IsDome());
    IIPParams& params = f.control;
    EXPECT_EQ(0, params.GetChannel());
    EXPECT_FALSE(params.GetFlagA());
    EXPECT_FALSE(params.GetFlagB());
    params.SetFlagA(true);
    EXPECT_TRUE(params.GetFlagA());
    EXPECT_FALSE(params.GetFlagB());
    params.SetFlagB(true);
    params.SetFlagA(false);
    EXPECT_FALSE(params.GetFlagA());
    EXPECT_TRUE(params.GetFlagB());
}

TEST(CMobotixPTZControlTest, CommandObjectFollowsTheCapabilityParameter) {
    FakePtzDriver driver;
    driver.SetDevice("127.0.0.1", 9);
    driver.SetParameter(3, "Pan=1; Tilt=0; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=0; AreaZoom=1; Preset=32");
    velmora::CMobotixPTZControl control(&driver, 2);
    std::unique_ptr<velmora::CBasePTZComm> comm(control.CreateComm());
    ASSERT_NE(nullptr, comm);
    EXPECT_TRUE(comm->Capabilities().pan);
    EXPECT_FALSE(comm->Capabilities().tilt);
    EXPECT_TRUE(comm->Capabilities().areaZoom);
    EXPECT_FALSE(comm->Capabilities().unzoom);
    EXPECT_EQ(32u, comm->Capabilities().presetCount);
    EXPECT_EQ(2, comm->Channel());
}

}  // namespace

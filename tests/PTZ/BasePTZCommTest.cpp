// Command engine: command records, capability gates, thread name, posting bound of 16, refused
// posts, the failure throttle and its restart, the capability record and literal messages.
#include "PTZ/BasePTZComm.h"

#include <gtest/gtest.h>

#include <cstring>

#include "PtzFakes.h"

using velmora::CBasePTZComm;
using velmora::CPtzCapabilities;
using velmora::CResultDef;
using ptztest::AllAbilities;
using ptztest::FakeComm;
using ptztest::FakePtzDriver;

namespace {

class FakeParams : public IIPParams {
public:
    int32_t GetChannel() override { return 0; }
    bool GetFlagA() override { return false; }
    void SetFlagA(bool) override {}
    bool GetFlagB() override { return false; }
    void SetFlagB(bool) override {}
};

TEST(CBasePTZCommTest, EachOperationPostsItsRecord) {
    FakePtzDriver driver;
    FakeComm comm(AllAbilities(), &driver);
    ASSERT_TRUE(comm.Open());
    FakeParams params;
    EXPECT_EQ(1, comm.StartMove(&params, 6, 11));
    EXPECT_EQ(1, comm.StartFocus(&params, true, 2));
    EXPECT_EQ(1, comm.StartFocus(&params, false, 3));
    EXPECT_EQ(1, comm.StartIris(&params, true, 4));
    EXPECT_EQ(1, comm.StartIris(&params, false, 5));
    EXPECT_TRUE(comm.StopMoving(&params));
    EXPECT_TRUE(comm.StopZooming(&params));
    EXPECT_TRUE(comm.StopFocusing(&params));
    EXPECT_TRUE(comm.StopIrisChanging(&params));
    EXPECT_EQ(1, comm.AreaZoom(&params, 100, 200, 300, 7));
    EXPECT_EQ(1, comm.Center(&params, 10, 20, 8));
    EXPECT_EQ(1, comm.Unzoom(&params, 9));
    ASSERT_TRUE(comm.WaitExecuted(12));
    const auto executed = comm.ExecutedCommands();
    struct Row {
        int32_t id, sub, speed, x, y, zoom;
    };
    const Row expected[] = {
        {1, 0, 11, 6, 0, 0},      // move: direction in the x field
        {2, 2, 2, 0, 0, 0},       // focus forward
        {2, 1, 3, 0, 0, 0},       // focus backward
        {3, 3, 4, 0, 0, 0},       // iris open
        {3, 4, 5, 0, 0, 0},       // iris close
        {4, 5, 0, 0, 0, 0},       // stop moving
        {4, 6, 0, 0, 0, 0},       // stop zooming
        {4, 7, 0, 0, 0, 0},       // stop focusing
        {4, 8, 0, 0, 0, 0},       // stop iris
        {5, 0, 7, 100, 200, 300}, // area zoom
        {6, 0, 8, 10, 20, 0},     // center
        {7, 0, 9, 0, 0, 0},       // unzoom
    };
    ASSERT_EQ(std::size(expected), executed.size());
    for (size_t i = 0; i < executed.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].id, executed[i].commandId);
        EXPECT_EQ(expected[i].sub, executed[i].subCommand);
        EXPECT_EQ(expected[i].speed, executed[i].speed);
        EXPECT_EQ(expected[i].x, executed[i].directionOrX);
        EXPECT_EQ(expected[i].y, executed[i].y);
        EXPECT_EQ(expected[i].zoom, executed[i].zoomFactor);
        EXPECT_EQ(&params, executed[i].parameters);
    }
    EXPECT_TRUE(driver.Messages().empty());
}

TEST(CBasePTZCommTest, MissingCapabilityRefusesWithoutQueueingOrMessage) {
    FakePtzDriver driver;
    CPtzCapabilities none;
    FakeComm comm(none, &driver);
    ASSERT_TRUE(comm.Open());
    comm.Hold();  // nothing should reach the worker anyway
    EXPECT_EQ(-19, comm.StartMove(nullptr, 1, 5));
    EXPECT_EQ(-19, comm.StartMove(nullptr, 8, 5)) << "zoom motion is gated by pan or tilt";
    EXPECT_EQ(-19, comm.StartFocus(nullptr, true, 5));
    EXPECT_EQ(-19, comm.StartIris(nullptr, true, 5));
    EXPECT_EQ(-19, comm.AreaZoom(nullptr, 1, 1, 200, 5));
    EXPECT_EQ(-19, comm.Center(nullptr, 1, 1, 5));
    EXPECT_EQ(-19, comm.Unzoom(nullptr, 5));
    EXPECT_EQ(0u, comm.PendingCount());
    EXPECT_TRUE(driver.Messages().empty());
    // Stops have no gate.
    EXPECT_TRUE(comm.StopMoving(nullptr));
    // Tilt alone is enough for a move, zoom alone is not.
    CPtzCapabilities tiltOnly;
    tiltOnly.tilt = true;
    FakeComm tilt(tiltOnly, &driver);
    ASSERT_TRUE(tilt.Open());
    EXPECT_EQ(1, tilt.StartMove(nullptr, 9, 5));
    CPtzCapabilities zoomOnly;
    zoomOnly.zoom = true;
    FakeComm zoom(zoomOnly, &driver);
    ASSERT_TRUE(zoom.Open());
    EXPECT_EQ(-19, zoom.StartMove(nullptr, 8, 5));
    comm.Release();
}

TEST(CBasePTZCommTest, PostingToAClosedObjectFailsWithTheCommandId) {
    FakePtzDriver driver;
    FakeComm comm(AllAbilities(), &driver);
    EXPECT_FALSE(comm.StopMoving(nullptr));
    EXPECT_EQ(-18, comm.StartMove(nullptr, 1, 1));
    EXPECT_EQ(-18, comm.Unzoom(nullptr, 1));
    const auto messages = driver.Messages();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(1, messages[0].level);
    EXPECT_EQ("velmora::CBasePTZComm::StopMoving: cannot send message (4) to thread", messages[0].text);
    EXPECT_EQ("velmora::CBasePTZComm::StartMove: cannot send message (1) to thread", messages[1].text);
    EXPECT_EQ("velmora::CBasePTZComm::Unzoom: cannot send message (7) to thread", messages[2].text);
    // After Close the same holds.
    ASSERT_TRUE(comm.Open());
    EXPECT_TRUE(comm.Close());
    EXPECT_FALSE(comm.Close());
    EXPECT_FALSE(comm.StopIrisChanging(nullptr));
    EXPECT_EQ(1u, driver.Count("velmora::CBasePTZComm::StopIrisChanging: cannot send message (4) to thread"));
}

TEST(CBasePTZCommTest, ThreadCarriesTheOneBasedChannelInItsName) {
    FakePtzDriver driver;
    FakeComm first(AllAbilities(), &driver, 0);
    FakeComm fifth(AllAbilities(), &driver, 4);
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(fifth.Open());
    EXPECT_TRUE(first.Open()) << "opening again is harmless";
    EXPECT_EQ("BaseIPPTZThread_Ch1", first.Name());
    EXPECT_EQ("BaseIPPTZThread_Ch5", fifth.Name());
    // The worker itself runs under that name (the OS may shorten it).
    ASSERT_EQ(1, first.StartMove(nullptr, 0, 1));
    ASSERT_TRUE(first.WaitExecuted(1));
    const std::string seen = first.ExecutedCommands()[0].threadName;
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(0u, std::string("BaseIPPTZThread_Ch1").rfind(seen, 0)) << seen;
}

TEST(CBasePTZCommTest, TwentyCommandsWhileBlockedLeaveTheNewest16) {
    FakePtzDriver driver;
    FakeComm comm(AllAbilities(), &driver);
    ASSERT_TRUE(comm.Open());
    comm.Hold();
    ASSERT_EQ(1, comm.StartMove(nullptr, 0, 100));  // the worker takes this one and is held
    ASSERT_TRUE(comm.WaitHeld());
    for (int32_t i = 1; i <= 20; ++i) ASSERT_EQ(1, comm.StartMove(nullptr, 0, i));
    EXPECT_EQ(16u, comm.PendingCount());
    comm.Release();
    ASSERT_TRUE(comm.WaitExecuted(17));
    // A sentinel shows that nothing else was still queued behind the 16.
    ASSERT_TRUE(comm.StopMoving(nullptr));
    ASSERT_TRUE(comm.WaitExecuted(18));
    const auto executed = comm.ExecutedCommands();
    ASSERT_EQ(18u, executed.size());
    EXPECT_EQ(100, executed[0].speed);
    for (int32_t i = 0; i < 16; ++i) EXPECT_EQ(5 + i, executed[1 + i].speed) << "commands 1-4 must be dropped";
    EXPECT_EQ(velmora::StopCommand, executed[17].commandId);
}

TEST(CBasePTZCommTest, ACommandThatThrowsDoesNotStopTheWorker) {
    FakePtzDriver driver;
    FakeComm comm(AllAbilities(), &driver);
    ASSERT_TRUE(comm.Open());
    comm.ThrowOnNext();
    ASSERT_EQ(1, comm.StartMove(nullptr, 1, 1));
    ASSERT_EQ(1, comm.StartMove(nullptr, 2, 2));
    ASSERT_TRUE(comm.WaitExecuted(2));
}

TEST(CBasePTZCommTest, FailureThrottleReportsTheDocumentedRunAndRestartsWithGetCapabilities) {
    FakePtzDriver driver;
    FakeComm comm(AllAbilities(), &driver);
    const CResultDef failure(1, 8, "camera said 100% no");
    // Failure n is reported when the message count grows with it.
    std::vector<uint32_t> reported;
    for (uint32_t n = 1; n <= 600; ++n) {
        const size_t before = driver.Messages().size();
        comm.Fail(failure);
        if (driver.Messages().size() > before) reported.push_back(n);
    }
    std::vector<uint32_t> expected;
    for (uint32_t n = 1; n <= 14; ++n) expected.push_back(n);
    for (uint32_t n = 16; n <= 240; n += 16) expected.push_back(n);
    expected.push_back(256);
    expected.push_back(512);
    EXPECT_EQ(expected, reported);
    EXPECT_EQ(expected.size(), driver.Messages().size());
    // Written as literal text at the result's level.
    EXPECT_EQ("camera said 100% no", driver.Messages()[0].text);
    EXPECT_EQ(1, driver.Messages()[0].level);

    // GetCapabilities restarts the run; a success does not.
    driver.Clear();
    comm.Fail(CResultDef());
    comm.Fail(failure);
    EXPECT_TRUE(driver.Messages().empty()) << "failure 601 is not reported";
    velmora::PTZ_CAPABILITIES record{};
    EXPECT_EQ(1, comm.GetCapabilities(&record));
    EXPECT_EQ(0u, comm.FailureCounter());
    comm.Fail(failure);
    EXPECT_EQ(1u, driver.Messages().size());
}

TEST(CBasePTZCommTest, Level4AndEmptyMessagesCountButAreNeverWritten) {
    FakePtzDriver driver;
    FakeComm comm(AllAbilities(), &driver);
    comm.Fail(CResultDef(4, 8, "offline"));
    comm.Fail(CResultDef(1, 13, ""));
    EXPECT_TRUE(driver.Messages().empty());
    EXPECT_EQ(2u, comm.FailureCounter());
}

TEST(CBasePTZCommTest, GetCapabilitiesFillsTheHostRecord) {
    FakePtzDriver driver;
    CPtzCapabilities c;
    c.pan = true;
    c.zoom = true;
    c.iris = true;
    c.center = true;
    c.presetCount = 64;
    FakeComm comm(c, &driver);
    velmora::PTZ_CAPABILITIES record;
    std::memset(&record, 0x5A, sizeof(record));
    EXPECT_EQ(1, comm.GetCapabilities(&record));
    EXPECT_EQ(0x5A5A5A5A, record.reserved1) << "field 1 is not the driver's";
    EXPECT_EQ(1, record.pan);
    EXPECT_EQ(0, record.tilt);
    EXPECT_EQ(1, record.zoom);
    EXPECT_EQ(0, record.focus);
    EXPECT_EQ(1, record.iris);
    EXPECT_EQ(0, record.reserved7);
    EXPECT_EQ(64, record.presetCapacity);
    EXPECT_EQ(0, record.presetCount);
    EXPECT_EQ(0, record.reserved10);
    EXPECT_EQ(0, record.reserved11);
    EXPECT_EQ(0, record.areaZoom);
    EXPECT_EQ(1, record.center);
    EXPECT_EQ(0, record.unzoom);
}

TEST(CBasePTZCommTest, IsDomeErasePrepositionAndLiteralMessages) {
    FakePtzDriver driver;
    CPtzCapabilities none;
    FakeComm plain(none, &driver);
    EXPECT_FALSE(plain.IsDome());
    CPtzCapabilities irisOnly;
    irisOnly.iris = true;
    FakeComm iris(irisOnly, &driver);
    EXPECT_TRUE(iris.IsDome());
    CPtzCapabilities areaOnly;
    areaOnly.areaZoom = areaOnly.center = areaOnly.unzoom = true;
    FakeComm area(areaOnly, &driver);
    EXPECT_FALSE(area.IsDome());

    EXPECT_TRUE(plain.ErasePreposition(3, "x"));
    // The preset list's messages arrive formatted once: a percent sign in a name survives.
    plain.DebugMessage(3, "%s: name \"%s\"", "Where", "50%s off");
    ASSERT_EQ(1u, driver.Messages().size());
    EXPECT_EQ("Where: name \"50%s off\"", driver.Messages()[0].text);
    EXPECT_EQ(3, driver.Messages()[0].level);
}

}  // namespace

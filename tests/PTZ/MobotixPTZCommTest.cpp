// Mobotix PTZ protocol against the camera simulator: rotor packets on one long-lived POST, the
// direction table and speed mapping, stops, presets, click requests with their checks, area-zoom
// geometry and timing, the display-mode question and the queue bound under a blocked worker.
#include "PTZ/MobotixPTZComm.h"

#include <gtest/gtest.h>

#include <cstring>

#include "PtzFakes.h"
#include "camsim/CameraSimulator.h"
#include "platform/System.h"

using camsim::ClickCommand;
using camsim::RotorPacket;
using velmora::CMobotixPTZComm;
using velmora::CPtzCapabilities;
using ptztest::AllAbilities;
using ptztest::FakePtzDriver;
using ptztest::kWaitMs;

namespace {

constexpr int32_t kTop = 1073741823;
constexpr int32_t kBottom = 26843545;

// A running simulator and a driver pointing at it.
struct Camera {
    Camera() {
        EXPECT_TRUE(sim.Start());
        driver.SetDevice("127.0.0.1", sim.Port());
    }
    std::vector<RotorPacket> Packets(size_t count) {
        EXPECT_TRUE(sim.Camera().WaitForRotorPackets(count, kWaitMs)) << "waiting for " << count << " packets";
        return sim.Camera().RotorPackets();
    }
    std::vector<ClickCommand> Clicks(size_t count) {
        EXPECT_TRUE(sim.Camera().WaitForClicks(count, kWaitMs)) << "waiting for " << count << " clicks";
        return sim.Camera().Clicks();
    }
    std::string CameraName() const { return "127.0.0.1:" + std::to_string(sim.Port()); }

    camsim::CameraSimulator sim;
    FakePtzDriver driver;
};

void ExpectPacket(const RotorPacket& packet, uint32_t code, int32_t first, int32_t second) {
    EXPECT_TRUE(packet.valid);
    EXPECT_EQ(1u, packet.version);
    EXPECT_EQ(code, packet.code);
    EXPECT_EQ(first, packet.value1);
    EXPECT_EQ(second, packet.value2);
    EXPECT_EQ(0u, packet.reserved);
}

TEST(CMobotixPTZCommTest, RotorPacketLayout) {
    const auto packet = CMobotixPTZComm::BuildRotorPacket(6, -2, 0x01020304);
    const uint8_t expected[24] = {0x4D, 0x78, 0x52, 0x00, 1, 0, 0, 0, 6, 0, 0, 0,
                                  0xFE, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, packet.data(), 24));
}

TEST(CMobotixPTZCommTest, DirectionTableAtFullSpeed) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    for (int32_t direction : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, -1}) ASSERT_EQ(1, comm.StartMove(nullptr, direction, 16));
    const auto packets = camera.Packets(12);
    ASSERT_EQ(12u, packets.size());
    struct Row {
        uint32_t code;
        int32_t first, second;
    };
    const Row expected[] = {
        {1, -kTop, 0}, {1, kTop, 0}, {1, 0, kTop}, {1, 0, -kTop},     // left, right, up, down
        {1, -kTop, kTop}, {1, kTop, kTop}, {1, -kTop, -kTop},        // 4, 5, 6 (left down)
        {1, kTop, -kTop},                                            // 7
        {3, kTop, 0}, {3, -kTop, 0},                                 // zoom in, zoom out
        {1, 0, 0}, {1, 0, 0},                                        // unknown directions stop
    };
    for (size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        ExpectPacket(packets[i], expected[i].code, expected[i].first, expected[i].second);
    }
    EXPECT_TRUE(camera.driver.Messages().empty());
}

TEST(CMobotixPTZCommTest, SpeedsAreClampedAndMapped) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    for (int32_t speed : {0, 1, 8, 16, 200, -1}) ASSERT_EQ(1, comm.StartMove(nullptr, 1, speed));
    const auto packets = camera.Packets(6);
    ASSERT_EQ(6u, packets.size());
    const int32_t expected[] = {kBottom, kBottom, 515396075, kTop, kTop, kTop};
    for (size_t i = 0; i < 6; ++i) ExpectPacket(packets[i], 1, expected[i], 0);
}

TEST(CMobotixPTZCommTest, LaterPacketsFollowInTheOpenPostBody) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    ASSERT_EQ(1, comm.StartMove(nullptr, 2, 4));
    camera.Packets(1);
    ASSERT_EQ(1, comm.StartMove(nullptr, 3, 4));
    camera.Packets(2);
    const auto posts = camera.sim.Requests().WithPrefix("/control/rotorcgi");
    ASSERT_EQ(1u, posts.size()) << "the second packet must not open a request of its own";
    EXPECT_EQ("POST", posts[0].method);
    EXPECT_EQ(48u, posts[0].body.size());
    EXPECT_FALSE(posts[0].bodyComplete);
    EXPECT_EQ("multipart/x-mixed-replace,*/*", posts[0].Find("Accept").value_or(""));
    EXPECT_EQ("210000", posts[0].Find("Content-Length").value_or(""));
}

TEST(CMobotixPTZCommTest, StopsPickTheirRotorCode) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    ASSERT_TRUE(comm.StopMoving(nullptr));
    ASSERT_TRUE(comm.StopZooming(nullptr));
    ASSERT_TRUE(comm.StopFocusing(nullptr));
    ASSERT_TRUE(comm.StopIrisChanging(nullptr));
    const auto packets = camera.Packets(4);
    ASSERT_EQ(4u, packets.size());
    ExpectPacket(packets[0], 1, 0, 0);
    ExpectPacket(packets[1], 3, 0, 0);
    ExpectPacket(packets[2], 9, 0, 0);
    ExpectPacket(packets[3], 9, 0, 0);
}

TEST(CMobotixPTZCommTest, PresetsUseCameraNumbersFromOneOnTheCallersThread) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    EXPECT_TRUE(comm.StorePreposition(0, "first"));
    EXPECT_TRUE(comm.RecallPreposition(4, "fifth", 9));
    // Both went out before the calls returned.
    const auto packets = camera.Packets(2);
    ASSERT_EQ(2u, packets.size());
    ExpectPacket(packets[0], 5, 1, 0);
    ExpectPacket(packets[1], 6, 5, 0);
    EXPECT_TRUE(camera.sim.Camera().Preset(1).has_value());
    EXPECT_EQ(1u, camera.sim.Requests().Count("/control/rotorcgi"));
}

TEST(CMobotixPTZCommTest, OfflineCameraFailsPresetsSilently) {
    Camera camera;
    ASSERT_TRUE(camera.sim.SetCameraOff(true));
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    EXPECT_FALSE(comm.StorePreposition(0, "x"));
    EXPECT_FALSE(comm.RecallPreposition(0, "x", 1));
    EXPECT_EQ(2u, comm.FailureCounter()) << "level-4 failures are counted";
    EXPECT_TRUE(camera.driver.Messages().empty()) << "but never written";
    // The next command tries again.
    ASSERT_TRUE(camera.sim.SetCameraOff(false));
    ASSERT_EQ(1, comm.StartMove(nullptr, 1, 1));
    const auto packets = camera.Packets(1);
    ExpectPacket(packets.back(), 1, kBottom, 0);
}

TEST(CMobotixPTZCommTest, BrokenRotorStreamIsReopenedByALaterPacket) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    ASSERT_TRUE(comm.StorePreposition(2, "a"));
    camera.Packets(1);
    // The camera restarts: the open POST is gone.
    ASSERT_TRUE(camera.sim.SetCameraOff(true));
    ASSERT_TRUE(camera.sim.SetCameraOff(false));
    // A write into the dead connection may still be taken by the network stack; a few packets at
    // most are needed until one fails and opens a new POST.
    bool reopened = false;
    for (int attempt = 0; attempt < 5 && !reopened; ++attempt) {
        comm.RecallPreposition(2, "a", 1);
        reopened = camera.sim.Requests().WaitForCount("/control/rotorcgi", 2, 1000);
    }
    ASSERT_TRUE(reopened);
    const auto posts = camera.sim.Requests().WithPrefix("/control/rotorcgi");
    ASSERT_GE(posts.size(), 2u);
    // The packet that found the stream broken is the first one of the new POST.
    const uint64_t secondId = posts[1].id;
    EXPECT_TRUE(camera.sim.Requests().WaitFor(
        [secondId](const camsim::LoggedRequest& r) { return r.id == secondId && r.body.size() >= 24; }, kWaitMs));
}

TEST(CMobotixPTZCommTest, FocusAndIrisAreUnexpectedCommands) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    ASSERT_EQ(1, comm.StartFocus(nullptr, true, 3));
    ASSERT_EQ(1, comm.StartIris(nullptr, false, 3));
    ASSERT_TRUE(camera.driver.WaitFor("unexpected command ID", 2));
    const auto messages = camera.driver.Messages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(1, messages[0].level);
    EXPECT_EQ("velmora::CMobotixPTZComm::HandleWorkItem: unexpected command ID=2", messages[0].text);
    EXPECT_EQ("velmora::CMobotixPTZComm::HandleWorkItem: unexpected command ID=3", messages[1].text);
    EXPECT_EQ(0u, camera.sim.Requests().Count("/control/"));
}

TEST(CMobotixPTZCommTest, HandlersRefuseRecordsOfAnotherCommand) {
    FakePtzDriver driver;
    driver.SetDevice("127.0.0.1", 9);
    CMobotixPTZComm comm(AllAbilities(), &driver, 0);
    const CMobotixPTZComm::CWorkItem unzoom(velmora::UnzoomCommand, 0, nullptr, 1);
    const auto result = comm.ProcessMoveCommand(unzoom);
    EXPECT_EQ(3, result.code);
    EXPECT_EQ(1, result.level);
    EXPECT_EQ("velmora::CMobotixPTZComm::ProcessMoveCommand: Invalid command type (ID=7)", result.message);
    EXPECT_EQ("velmora::CMobotixPTZComm::ProcessCenterCommand: Invalid command type (ID=7)",
              comm.ProcessCenterCommand(unzoom).message);
    const CMobotixPTZComm::CWorkItem move(velmora::MoveCommand, 0, nullptr, 1);
    EXPECT_EQ(3, comm.ProcessUnzoomCommand(move).code);
    EXPECT_EQ(3, comm.ProcessStopCommand(move).code);
    EXPECT_EQ(3, comm.ProcessAreaZoomCommand(move).code);
}

TEST(CMobotixPTZCommTest, AreaZoomCornersAndWaitBeforeZoomRect) {
    Camera camera;
    camera.driver.SetStream(0, {40, 60, 1920, 1080});
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    const uint64_t posted = velmora::platform::MonotonicMilliseconds();
    ASSERT_EQ(1, comm.AreaZoom(nullptr, 0, 0, 200, 5));
    const auto clicks = camera.Clicks(3);
    const uint64_t done = velmora::platform::MonotonicMilliseconds();
    ASSERT_EQ(3u, clicks.size());
    EXPECT_EQ(ClickCommand::Kind::Point, clicks[0].kind);
    EXPECT_EQ(0, clicks[0].x);
    EXPECT_EQ(0, clicks[0].y);
    EXPECT_EQ(1, clicks[0].mode);
    EXPECT_EQ(ClickCommand::Kind::Point, clicks[1].kind);
    EXPECT_EQ(480, clicks[1].x);
    EXPECT_EQ(270, clicks[1].y);
    EXPECT_EQ(0, clicks[1].mode);
    EXPECT_EQ(ClickCommand::Kind::ZoomRect, clicks[2].kind);
    // 40 ms * 1.1 is raised to 220 ms for a picture 1000-1999 pixels wide.
    EXPECT_GE(done - posted, 220u);
    const auto requests = camera.sim.Requests().WithPrefix("/control/click.cgi");
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ("/control/click.cgi?x=0&y=0&mode=1", requests[0].target);
    EXPECT_EQ("/control/click.cgi?x=480&y=270&mode=0", requests[1].target);
    EXPECT_EQ("/control/click.cgi?zoomrect", requests[2].target);
    EXPECT_TRUE(camera.driver.Messages().empty());
}

TEST(CMobotixPTZCommTest, AreaZoomClampsBothCornersIntoThePicture) {
    Camera camera;
    camera.driver.SetStream(0, {10, 60, 640, 480});
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    // hw = trunc(64000 / 400 + 1) div 2 = 80, hh = trunc(48000 / 400 + 1) div 2 = 60.
    ASSERT_EQ(1, comm.AreaZoom(nullptr, 320, 240, 400, 5));
    // Near the far corner the second corner is cut at width - 1 and height - 1.
    ASSERT_EQ(1, comm.AreaZoom(nullptr, 630, 470, 400, 5));
    const auto clicks = camera.Clicks(6);
    ASSERT_EQ(6u, clicks.size());
    EXPECT_EQ(240, clicks[0].x);
    EXPECT_EQ(180, clicks[0].y);
    EXPECT_EQ(400, clicks[1].x);
    EXPECT_EQ(300, clicks[1].y);
    EXPECT_EQ(550, clicks[3].x);
    EXPECT_EQ(410, clicks[3].y);
    EXPECT_EQ(639, clicks[4].x);
    EXPECT_EQ(479, clicks[4].y);
}

TEST(CMobotixPTZCommTest, ZoomRectWithoutOkIsRetriedExactlyOnce) {
    Camera camera;
    camera.driver.SetStream(0, {40, 60, 640, 480});
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    camera.sim.Faults().Add(camsim::FaultRule::Status("/control/click.cgi?zoomrect", 200, "BUSY\r\n").Times(1));
    ASSERT_EQ(1, comm.AreaZoom(nullptr, 100, 100, 200, 5));
    ASSERT_TRUE(camera.sim.Requests().WaitForCount("/control/click.cgi?zoomrect", 2, kWaitMs));
    // A sentinel command: once it arrives the area zoom has finished.
    ASSERT_EQ(1, comm.Unzoom(nullptr, 1));
    ASSERT_TRUE(camera.sim.Requests().WaitForCount("/control/click.cgi?zoom=1000", 1, kWaitMs));
    EXPECT_EQ(2u, camera.sim.Requests().Count("/control/click.cgi?zoomrect"));
    EXPECT_TRUE(camera.driver.Messages().empty()) << "the retry succeeded";

    // Two refusals: still only one retry, and the reply is in the message.
    camera.sim.Requests().Clear();
    camera.sim.Faults().Add(camsim::FaultRule::Status("/control/click.cgi?zoomrect", 200, "BUSY\r\n").Times(2));
    ASSERT_EQ(1, comm.AreaZoom(nullptr, 100, 100, 200, 5));
    ASSERT_TRUE(camera.driver.WaitFor("returns unexpected response"));
    EXPECT_EQ(2u, camera.sim.Requests().Count("/control/click.cgi?zoomrect"));
    const auto messages = camera.driver.Messages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(1, messages[0].level);
    EXPECT_EQ("velmora::CMobotixPTZComm::SendSetHttpRequest: Camera " + camera.CameraName() +
                  " returns unexpected response for request \"/control/click.cgi?zoomrect\". The response content: "
                  "BUSY\r\n",
              messages[0].text);
}

TEST(CMobotixPTZCommTest, AreaZoomNeedsChannelSettingsAndAFactor) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 3);
    ASSERT_TRUE(comm.Open());
    ASSERT_EQ(1, comm.AreaZoom(nullptr, 10, 10, 200, 5));
    ASSERT_TRUE(camera.driver.WaitFor("Cannot receive current settings"));
    EXPECT_EQ("velmora::CMobotixPTZComm::ProcessAreaZoomCommand: Cannot receive current settings of channel 3 for "
              "PTZ camera " +
                  camera.CameraName() + ".",
              camera.driver.Messages()[0].text);

    // A factor of 0 would divide by zero: an invalid command, nothing sent.
    camera.driver.SetStream(3, {40, 60, 640, 480});
    ASSERT_EQ(1, comm.AreaZoom(nullptr, 10, 10, 0, 5));
    ASSERT_TRUE(camera.driver.WaitFor("Invalid zoom factor (0)"));
    const auto messages = camera.driver.Messages();
    EXPECT_EQ(1, messages.back().level);
    EXPECT_EQ(0u, camera.sim.Requests().Count("/control/click.cgi"));
}

TEST(CMobotixPTZCommTest, CenterUnzoomAndTheirFailures) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    ASSERT_EQ(1, comm.Center(nullptr, 12, 34, 5));
    ASSERT_EQ(1, comm.Unzoom(nullptr, 5));
    const auto clicks = camera.Clicks(2);
    ASSERT_EQ(2u, clicks.size());
    EXPECT_EQ(12, clicks[0].x);
    EXPECT_EQ(34, clicks[0].y);
    EXPECT_EQ(0, clicks[0].mode);
    EXPECT_EQ(ClickCommand::Kind::Zoom, clicks[1].kind);
    EXPECT_EQ(1000, clicks[1].zoom);

    camera.sim.Faults().Add(camsim::FaultRule::Status("/control/click.cgi?zoom", 404).Times(1));
    ASSERT_EQ(1, comm.Unzoom(nullptr, 5));
    ASSERT_TRUE(camera.driver.WaitFor("status code"));
    EXPECT_EQ("velmora::CMobotixPTZComm::SendHttpRequest: camera " + camera.CameraName() +
                  " does not process request \"/control/click.cgi?zoom=1000\", status code = 404",
              camera.driver.Messages()[0].text);
}

TEST(CMobotixPTZCommTest, ClickToAnOfflineCameraIsReportedAsNotSent) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    ASSERT_TRUE(camera.sim.SetCameraOff(true));
    ASSERT_EQ(1, comm.Center(nullptr, 1, 2, 5));
    ASSERT_TRUE(camera.driver.WaitFor("can not send request"));
    EXPECT_EQ("velmora::CMobotixPTZComm::SendHttpRequest: can not send request \"/control/click.cgi?x=1&y=2&mode=0\" "
              "to camera " +
                  camera.CameraName(),
              camera.driver.Messages()[0].text);
}

TEST(CMobotixPTZCommTest, IsDomeFollowsTheDisplayMode) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    EXPECT_TRUE(comm.IsDome()) << "lenscorr_l11 allows dome control";
    EXPECT_EQ(1u, camera.sim.Requests().Count("/control/control?read&section=imagecontrol&display_mode"));

    camera.sim.Camera().SetDisplayMode("SurroundL11");
    EXPECT_FALSE(comm.IsDome());
    const auto messages = camera.driver.Messages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(3, messages[0].level);
    EXPECT_EQ("velmora::CMobotixPTZComm::IsDome: Camera works in mode which doesn't allow Dome control. Please set "
              "\"Normal\" display mode using following Web-page: http://" +
                  camera.CameraName() + "/control/general",
              messages[0].text);

    camera.sim.Camera().SetDisplayMode("lenscorr_l11");
    const int refusal = camera.sim.Faults().Add(camsim::FaultRule::Status("/control/control?read", 401));
    EXPECT_FALSE(comm.IsDome()) << "an answer other than 200 means no";
    camera.sim.Faults().Remove(refusal);

    ASSERT_TRUE(camera.sim.SetCameraOff(true));
    EXPECT_TRUE(comm.IsDome()) << "no answer at all counts as a dome";

    CMobotixPTZComm fixed(CPtzCapabilities(), &camera.driver, 0);
    ASSERT_TRUE(camera.sim.SetCameraOff(false));
    camera.sim.Requests().Clear();
    EXPECT_FALSE(fixed.IsDome());
    EXPECT_EQ(0u, camera.sim.Requests().Count("/control/")) << "a camera without motion is not asked";
}

TEST(CMobotixPTZCommTest, TwentyCommandsWhileTheWorkerIsBlockedLeaveTheNewest16) {
    Camera camera;
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    // The worker blocks in a click request whose answer the camera holds back.
    camera.sim.Faults().Add(camsim::FaultRule::Stall("/control/click.cgi", 2000).Times(1));
    ASSERT_EQ(1, comm.Center(nullptr, 5, 5, 1));
    ASSERT_TRUE(camera.sim.Requests().WaitForCount("/control/click.cgi", 1, kWaitMs));
    for (int32_t i = 1; i <= 20; ++i) ASSERT_EQ(1, comm.StartMove(nullptr, i % 2, i));
    EXPECT_EQ(16u, comm.PendingCount());
    ASSERT_TRUE(comm.StopMoving(nullptr));  // sentinel: pushes out the oldest waiting move (5)
    const auto packets = camera.Packets(16);
    ASSERT_EQ(16u, packets.size());
    for (int32_t i = 6; i <= 20; ++i) {
        const int32_t s = static_cast<int32_t>(comm.RotorSpeed(i));
        ExpectPacket(packets[static_cast<size_t>(i - 6)], 1, i % 2 ? s : -s, 0);
    }
    ExpectPacket(packets[15], 1, 0, 0);
}

TEST(CMobotixPTZCommTest, FailureReportsRestartWithGetCapabilities) {
    Camera camera;
    camera.sim.Camera().SetClickReply("ERR\r\n");
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    for (int i = 0; i < 15; ++i) ASSERT_EQ(1, comm.Unzoom(nullptr, 1));
    ASSERT_TRUE(camera.sim.Requests().WaitForCount("/control/click.cgi?zoom=1000", 15, kWaitMs));
    // The 15th failure is being counted now; a sentinel that fails too (16th) marks the end.
    ASSERT_EQ(1, comm.Unzoom(nullptr, 1));
    ASSERT_TRUE(camera.driver.WaitFor("returns unexpected response", 15));
    EXPECT_EQ(15u, camera.driver.Count("returns unexpected response")) << "failures 1-14 and 16";
    EXPECT_EQ(16u, comm.FailureCounter());

    velmora::PTZ_CAPABILITIES record{};
    EXPECT_EQ(1, comm.GetCapabilities(&record));
    ASSERT_EQ(1, comm.Unzoom(nullptr, 1));
    ASSERT_TRUE(camera.driver.WaitFor("returns unexpected response", 16));
    EXPECT_EQ(1u, comm.FailureCounter());
}

TEST(CMobotixPTZCommTest, CloseEndsAPendingAreaZoomWait) {
    Camera camera;
    // A 20 s frame interval makes a 22 s wait before zoomrect.
    camera.driver.SetStream(0, {20000, 60, 640, 480});
    CMobotixPTZComm comm(AllAbilities(), &camera.driver, 0);
    ASSERT_TRUE(comm.Open());
    ASSERT_EQ(1, comm.AreaZoom(nullptr, 10, 10, 200, 5));
    camera.Clicks(2);
    // Without the interruption Close would wait out the 22 s and zoomrect would still be sent.
    EXPECT_TRUE(comm.Close());
    EXPECT_EQ(0u, camera.sim.Requests().Count("/control/click.cgi?zoomrect"));
}

}  // namespace

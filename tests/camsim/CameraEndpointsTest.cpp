// The simulated camera's CGI interface: image control, configuration store, outputs, property pages,
// rotor upload and click requests, as a client sees them over HTTP.
#include "camsim/CameraEndpoints.h"

#include <gtest/gtest.h>

#include "RawHttp.h"
#include "RotorBytes.h"
#include "camsim/CameraSimulator.h"

namespace camsim {
namespace {

using test::RawHttp;
using test::Response;

constexpr uint32_t kWaitMs = 5000;

std::string Packet(uint32_t code, int32_t v1, int32_t v2, const char* magic = "MxR", uint32_t version = 1) {
    return test::RotorPacketBytes(code, v1, v2, magic, version);
}

class CCameraEndpointsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.Start()); }
    Response Get(const std::string& target) { return test::Get(sim.Port(), target); }
    // Opens the long-lived rotor upload as the driver does: declared length 210000, first packet.
    void OpenRotor(RawHttp* http, const std::string& firstPacket) {
        ASSERT_TRUE(http->Connect());
        ASSERT_TRUE(http->Send("POST /control/rotorcgi HTTP/1.1\r\nHost: x\r\nAccept: multipart/x-mixed-replace,*/*\r\n"
                               "Content-Length: 210000\r\n\r\n" + firstPacket));
    }

    CameraSimulator sim;
};

TEST_F(CCameraEndpointsTest, StoresImageControlSettingsAndAnswersOk) {
    Response r = Get("/control/control?set&section=imagecontrol&motionjpeg=disable&size=320x240&quality=40&framerate100=0");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "OK\r\n");
    ImageSettings s = sim.Camera().Image();
    EXPECT_EQ(s.width, 320u);
    EXPECT_EQ(s.height, 240u);
    EXPECT_EQ(s.quality, 40);
    EXPECT_EQ(s.motionjpeg, "disable");
    Get("/control/control?set&section=imagecontrol&motionjpeg=enable&size=1280x960&quality=90&framerate100=0");
    EXPECT_EQ(sim.Camera().Image().motionjpeg, "enable");
    EXPECT_EQ(sim.Camera().Image().width, 1280u);
    EXPECT_EQ(Get("/control/control?read&section=imagecontrol&size&quality").body, "size=1280x960\r\nquality=90\r\n");
}

TEST_F(CCameraEndpointsTest, RefusesBadSettingsWithAnErrLineAndKeepsTheOldOnes) {
    const char* bad[] = {
        "size=0x480", "size=640", "size=640x99999", "quality=0", "quality=101", "quality=x", "motionjpeg=maybe",
    };
    for (const char* item : bad) {
        Response r = Get(std::string("/control/control?set&section=imagecontrol&") + item);
        EXPECT_EQ(r.status, 200) << item;
        EXPECT_EQ(r.body.rfind("ERR:", 0), 0u) << item;
    }
    EXPECT_EQ(sim.Camera().Image().width, ImageSettings().width);
    EXPECT_EQ(sim.Camera().Image().quality, ImageSettings().quality);

    sim.Camera().SetImageControlError("ERR: mode not supported");
    Response r = Get("/control/control?set&section=imagecontrol&size=320x240&quality=40");
    EXPECT_EQ(r.body, "ERR: mode not supported\r\n");
    EXPECT_EQ(sim.Camera().Image().width, ImageSettings().width);
}

TEST_F(CCameraEndpointsTest, ListsRatesAndSizesAndReadsTheDisplayMode) {
    Response list = Get("/control/control?list&section=imagecontrol");
    EXPECT_NE(list.body.find("framerate100="), std::string::npos);
    EXPECT_NE(list.body.find("size="), std::string::npos);
    EXPECT_NE(list.body.find("640x480"), std::string::npos);
    sim.Camera().SetImageControlList("framerate100=50\r\nsize=a#800x600\r\n");
    EXPECT_EQ(Get("/control/control?list&section=imagecontrol").body, "framerate100=50\r\nsize=a#800x600\r\n");

    // The default allows dome control; a test can switch the camera into another mode.
    EXPECT_EQ(Get("/control/control?read&section=imagecontrol&display_mode").body, "display_mode=lenscorr_l11\r\n");
    sim.Camera().SetDisplayMode("surround");
    EXPECT_EQ(Get("/control/control?read&section=imagecontrol&display_mode").body, "display_mode=surround\r\n");
    EXPECT_EQ(Get("/control/control?list&section=other").status, 400);
}

TEST_F(CCameraEndpointsTest, StoresTheConfigurationOrFailsOnDemand) {
    EXPECT_EQ(Get("/admin/rcontrol?action=storeconfig").body, "OK\r\n");
    EXPECT_EQ(sim.Camera().StoreConfigCount(), 1u);
    EXPECT_EQ(Get("/admin/rcontrol?action=reboot").status, 400);
    sim.Faults().Add(FaultRule::CloseAfter("/admin/rcontrol?action=storeconfig", 0).Times(1));
    EXPECT_EQ(Get("/admin/rcontrol?action=storeconfig").status, 0);  // no answer at all
    EXPECT_EQ(sim.Camera().StoreConfigCount(), 2u);  // the camera got the request, the client no reply
}

TEST_F(CCameraEndpointsTest, SwitchesTheSignalOutput) {
    EXPECT_EQ(Get("/control/rcontrol?action=sigouthigh").body, "OK\r\n");
    EXPECT_EQ(sim.Camera().Outputs(), std::vector<bool>({true}));
    EXPECT_EQ(Get("/control/rcontrol?action=sigoutlow").body, "OK\r\n");
    EXPECT_EQ(sim.Camera().Outputs(), std::vector<bool>({false}));
    EXPECT_EQ(sim.Camera().OutputSwitchCount(), 2u);
    EXPECT_EQ(Get("/control/rcontrol?action=sigoutmaybe").status, 400);
}

TEST_F(CCameraEndpointsTest, ReportsBasicInformationVersionPageAndRotorHelp) {
    Response info = Get("/cgi-bin/rinfo?querydata=basic");
    EXPECT_EQ(info.body,
              "features__type_info_full_name=M26B\r\nfeatures__audio=0\r\nfeatures__signalinputs=2\r\n"
              "features__signaloutputs=1\r\nfilesystem__version=MX-V5.2.6.18\r\n");
    Response version = Get("/admin/version");
    size_t label = version.body.find("Ethernet Hardware Address");
    ASSERT_NE(label, std::string::npos);
    EXPECT_NE(version.body.find("00:03:C5:0A:1B:2C", label), std::string::npos);
    Response help = Get("/control/rotorcgi?help");
    size_t ptz = help.body.find("PTZ");
    size_t magic = help.body.find("MxR\\0", ptz);
    ASSERT_NE(ptz, std::string::npos);
    ASSERT_NE(magic, std::string::npos);
    EXPECT_NE(help.body.find("int32_t para1", magic), std::string::npos);

    CameraIdentity id;
    id.typeName.clear();
    id.mac.clear();
    id.ptzHelp = false;
    sim.Camera().SetIdentity(id);
    EXPECT_EQ(Get("/cgi-bin/rinfo?querydata=basic").body.find("features__type_info_full_name"), std::string::npos);
    EXPECT_EQ(Get("/admin/version").body.find("Ethernet Hardware Address"), std::string::npos);
    EXPECT_EQ(Get("/control/rotorcgi?help").body.find("MxR"), std::string::npos);
}

TEST_F(CCameraEndpointsTest, PropertyPagesCanAsk401OrFail) {
    sim.Faults().Add(FaultRule::Status("/cgi-bin/rinfo", 401).Times(1));
    sim.Faults().Add(FaultRule::Status("/admin/version", 500).Times(1));
    EXPECT_EQ(Get("/cgi-bin/rinfo?querydata=basic").status, 401);
    EXPECT_EQ(Get("/admin/version").status, 500);
    EXPECT_EQ(Get("/cgi-bin/rinfo?querydata=basic").status, 200);
    sim.SetAuth(AuthMode::Basic, "admin", "meinsm");
    EXPECT_EQ(Get("/control/rotorcgi?help").status, 401);
    EXPECT_EQ(test::Get(sim.Port(), "/control/rotorcgi?help", {"Authorization: Basic " + Base64Encode("admin:meinsm")})
                  .status,
              200);
}

TEST_F(CCameraEndpointsTest, AppliesRotorPacketsAsTheyArriveAndKeepsPresets) {
    RawHttp http(sim.Port());
    OpenRotor(&http, Packet(rotor::kPanTilt, 0x3FFFFFFF, -0x3FFFFFFF));
    ASSERT_TRUE(sim.Camera().WaitForRotorPackets(1, kWaitMs));
    PtzState moved = sim.Camera().Ptz();
    EXPECT_EQ(moved.pan, 1023);
    EXPECT_EQ(moved.tilt, -1023);
    EXPECT_EQ(moved.panSpeed, 0x3FFFFFFF);

    // A packet split over two sends counts once, when complete.
    std::string store = Packet(rotor::kStorePreset, 1, 0);
    ASSERT_TRUE(http.Send(store.substr(0, 10)));
    ASSERT_TRUE(http.Send(store.substr(10)));
    ASSERT_TRUE(sim.Camera().WaitForRotorPackets(2, kWaitMs));
    ASSERT_TRUE(http.Send(Packet(rotor::kZoom, 0x3FFFFFFF, 0) + Packet(rotor::kStop, 0, 0)));
    ASSERT_TRUE(sim.Camera().WaitForRotorPackets(4, kWaitMs));
    EXPECT_EQ(sim.Camera().Ptz().zoom, 2023);
    EXPECT_EQ(sim.Camera().Ptz().zoomSpeed, 0);
    ASSERT_TRUE(http.Send(Packet(rotor::kRecallPreset, 1, 0)));
    ASSERT_TRUE(sim.Camera().WaitForRotorPackets(5, kWaitMs));
    PtzState recalled = sim.Camera().Ptz();
    EXPECT_EQ(recalled.pan, 1023);
    EXPECT_EQ(recalled.zoom, 1000);
    ASSERT_TRUE(sim.Camera().Preset(1).has_value());
    EXPECT_FALSE(sim.Camera().Preset(2).has_value());
    EXPECT_FALSE(sim.Camera().Preset(257).has_value());

    std::vector<RotorPacket> packets = sim.Camera().RotorPackets();
    ASSERT_EQ(packets.size(), 5u);
    const uint32_t codes[] = {1, 5, 3, 9, 6};
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_TRUE(packets[i].valid);
        EXPECT_EQ(packets[i].code, codes[i]);
    }
    EXPECT_EQ(packets[0].value2, -0x3FFFFFFF);
    EXPECT_EQ(packets[1].value1, 1);

    // The client leaves early, as the driver does when it is closed: what came stays applied.
    http.Close();
    auto entry = sim.Requests().WaitFor([](const LoggedRequest& r) { return r.bodyAborted; }, kWaitMs);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->body.size(), 5u * 24u);
    EXPECT_EQ(entry->Find("Accept").value_or(""), "multipart/x-mixed-replace,*/*");
}

TEST_F(CCameraEndpointsTest, RecordsMalformedPacketsWithoutApplyingThem) {
    RawHttp http(sim.Port());
    OpenRotor(&http, Packet(rotor::kPanTilt, 0x3FFFFFFF, 0, "XxR") + Packet(rotor::kPanTilt, 0x3FFFFFFF, 0, "MxR", 2));
    ASSERT_TRUE(sim.Camera().WaitForRotorPackets(2, kWaitMs));
    for (const RotorPacket& p : sim.Camera().RotorPackets()) EXPECT_FALSE(p.valid);
    EXPECT_EQ(sim.Camera().Ptz(), PtzState());
}

TEST_F(CCameraEndpointsTest, AnswersAFullRotorBodyWithOk) {
    RawHttp http(sim.Port());
    ASSERT_TRUE(http.Connect());
    std::string body = Packet(rotor::kStop, 0, 0) + Packet(rotor::kStop, 0, 0);
    ASSERT_TRUE(http.Send("POST /control/rotorcgi HTTP/1.1\r\nContent-Length: 48\r\n\r\n" + body));
    Response r;
    ASSERT_TRUE(http.ReadResponse(&r));
    EXPECT_EQ(r.body, "OK\r\n");
    EXPECT_EQ(sim.Camera().RotorPackets().size(), 2u);
}

TEST_F(CCameraEndpointsTest, RecordsClickRequestsAndAnswersOkOrWhatTheTestSets) {
    EXPECT_EQ(Get("/control/click.cgi?x=0&y=10&mode=1").body, "OK\r\n");
    EXPECT_EQ(Get("/control/click.cgi?zoomrect").body, "OK\r\n");
    sim.Camera().SetClickReply("ERR: busy\r\n");
    EXPECT_EQ(Get("/control/click.cgi?zoom=1000").body, "ERR: busy\r\n");
    EXPECT_EQ(Get("/control/click.cgi?nothing").status, 400);
    std::vector<ClickCommand> clicks = sim.Camera().Clicks();
    ASSERT_EQ(clicks.size(), 4u);
    EXPECT_EQ(clicks[0].kind, ClickCommand::Kind::Point);
    EXPECT_EQ(clicks[0].y, 10);
    EXPECT_EQ(clicks[0].mode, 1);
    EXPECT_EQ(clicks[1].kind, ClickCommand::Kind::ZoomRect);
    EXPECT_EQ(clicks[2].kind, ClickCommand::Kind::Zoom);
    EXPECT_EQ(clicks[2].zoom, 1000);
    EXPECT_EQ(clicks[3].kind, ClickCommand::Kind::Other);
    // A one-off reply without "OK" through the fault rules.
    sim.Camera().SetClickReply("OK\r\n");
    sim.Faults().Add(FaultRule::Status("/control/click.cgi?zoomrect", 200, "no").Times(1));
    EXPECT_EQ(Get("/control/click.cgi?zoomrect").body, "no");
    EXPECT_EQ(Get("/control/click.cgi?zoomrect").body, "OK\r\n");
}

TEST(CCameraEndpointsParseTest, ReadsSizesAndNumbers) {
    uint32_t w = 0, h = 0;
    EXPECT_TRUE(ParsePictureSize("640x480", &w, &h));
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(h, 480u);
    EXPECT_FALSE(ParsePictureSize("15x480", &w, &h));
    EXPECT_FALSE(ParsePictureSize("640x4097", &w, &h));
    EXPECT_FALSE(ParsePictureSize("640*480", &w, &h));
    EXPECT_FALSE(ParsePictureSize("x480", &w, &h));
    EXPECT_EQ(ParseWholeNumber("+7").value_or(0), 7);
    EXPECT_EQ(ParseWholeNumber("-12").value_or(0), -12);
    EXPECT_FALSE(ParseWholeNumber("").has_value());
    EXPECT_FALSE(ParseWholeNumber("1.5").has_value());
    EXPECT_FALSE(ParseWholeNumber("99999999999").has_value());
}

TEST(CRotorPacketTest, SplitsArbitraryPiecesIntoPackets) {
    std::string stream = Packet(1, -5, 7) + Packet(6, 256, 0) + Packet(9, 0, 0).substr(0, 23);
    for (size_t step = 1; step <= stream.size(); ++step) {
        RotorPacketSplitter splitter;
        std::vector<RotorPacket> all;
        for (size_t at = 0; at < stream.size(); at += step) {
            auto got = splitter.Feed(stream.data() + at, std::min(step, stream.size() - at));
            all.insert(all.end(), got.begin(), got.end());
        }
        ASSERT_EQ(all.size(), 2u) << step;
        EXPECT_EQ(all[0].value1, -5);
        EXPECT_EQ(all[0].value2, 7);
        EXPECT_EQ(all[1].code, 6u);
        EXPECT_EQ(all[1].value1, 256);
        EXPECT_EQ(splitter.Pending(), 23u);
    }
}

}  // namespace
}  // namespace camsim

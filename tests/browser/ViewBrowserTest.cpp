// The live view end to end: a real browser (Debian's chromium through puppeteer-core) drives the
// page against the simulator, and ffmpeg reads an MxPEG camera through /channel/0.mjpg. Run by
// scripts/browser-test.sh, which provides the node modules; skipped with a line saying why when the
// browser, node or ffmpeg is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "TestsDir.h"
#include "camsim/CameraSimulator.h"
#include "host/CapabilityResult.h"
#include "host/Commands.h"
#include "host/LiveView.h"
#include "host/Recorder.h"
#include "host/Session.h"
#include "platform/Process.h"
#include "platform/System.h"

namespace {

using namespace quillon::host;

constexpr uint32_t kChildWaitMs = 120000;
constexpr uint32_t kTickMs = 250;
constexpr uint32_t kCameraWaitMs = 5000;

std::string Env(const char* name, const std::string& fallback = {}) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The simulator, probed as a host does (so that PTZ opens), and a live view of it.
struct ViewRig {
    camsim::CameraSimulator sim;
    CameraConfig config;
    std::unique_ptr<DriverSession> session;
    std::unique_ptr<LiveView> view;

    void Start(int32_t streamType, uint16_t interval) {
        ASSERT_TRUE(sim.Start());
        config.port = sim.Port();
        config.inputs = 2;
        config.outputs = 1;
        config.streamType = streamType;
        DriverModule module;
        CapabilityResult probed;
        std::string error;
        ASSERT_TRUE(module.Load(DriverModule::DefaultPath(), &error)) << error;
        ASSERT_TRUE(ProbeCamera(module, config, 0, &probed, &error)) << error;
        config.parameters = probed.ParameterValues();
        // The driver keeps presets beside the running program: start from none.
        ASSERT_GE(config.parameters.size(), 2u);
        std::remove((velmora::platform::ExecutableDirectory() + config.parameters[1]).c_str());
        session = std::make_unique<DriverSession>(config);
        ASSERT_TRUE(session->Open(&error)) << error;
        RecordSettings settings;
        settings.interval = interval;
        view = std::make_unique<LiveView>(*session, 1, settings, "simulator", streamType == 2 ? "MxPEG" : "Motion-JPEG");
        ASSERT_TRUE(view->Start("127.0.0.1", 0, &error)) << error;
    }

    // Runs the child to its end (bounded), keeping the page's figures fresh meanwhile.
    bool RunChild(velmora::platform::ChildProcess& child) {
        for (uint32_t waited = 0; waited < kChildWaitMs; waited += kTickMs) {
            if (child.Wait(kTickMs)) return true;
            view->Tick();
        }
        child.Stop(2000);
        return false;
    }

    ~ViewRig() {
        if (view) view->Stop();
        if (session) session->Close();
    }
};

TEST(ViewBrowserTest, PageShowsTheCameraAndItsControlsReachIt) {
    const std::string modules = Env("QUILLON_BROWSER_MODULES");
    for (const std::string& need : {std::string("/usr/bin/chromium"), std::string("/usr/bin/node")})
        if (!velmora::platform::FileIsReadableAndNonEmpty(need)) GTEST_SKIP() << "browser test skipped: no " << need;
    if (modules.empty() || !velmora::platform::FileIsReadableAndNonEmpty(modules + "/puppeteer-core/package.json"))
        GTEST_SKIP() << "browser test skipped: QUILLON_BROWSER_MODULES names no puppeteer-core (run scripts/browser-test.sh)";
    const std::string out = Env("QUILLON_BROWSER_OUT", ".");

    ViewRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.Start(1, 100));
    camsim::CameraModel& camera = rig.sim.Camera();
    rig.sim.SetInput(1, true);  // the page must show it
    const unsigned switchesBefore = camera.OutputSwitchCount();
    const size_t packetsBefore = camera.RotorPackets().size();
    const size_t clicksBefore = camera.Clicks().size();

    velmora::platform::ChildProcess node;
    const std::string log = out + "/browser-test.log";
    std::remove(log.c_str());
    ASSERT_TRUE(node.Start({"/usr/bin/node", std::string(QUILLON_TESTS_DIR) + "/browser/view.test.js", rig.view->Url(),
                            modules, out + "/view-screenshot.png"},
                           log));
    ASSERT_TRUE(rig.RunChild(node)) << "the browser run did not end within 120 s\n" << ReadFile(log);
    const std::string text = ReadFile(log);
    ASSERT_EQ(node.ExitCode(), 0) << text;
    EXPECT_NE(text.find("browser-test: 10 checks passed"), std::string::npos) << text;

    // What the page's controls did must have reached the camera.
    EXPECT_GT(camera.OutputSwitchCount(), switchesBefore);
    ASSERT_FALSE(camera.Outputs().empty());
    EXPECT_TRUE(camera.Outputs()[0]) << "output 0 is not high after its switch was turned on";
    EXPECT_TRUE(camera.WaitForRotorPackets(packetsBefore + 1, kCameraWaitMs)) << "no rotor packet from the pan button";
    ASSERT_TRUE(camera.WaitForClicks(clicksBefore + 1, kCameraWaitMs)) << "no click request from the picture";
    std::vector<camsim::ClickCommand> clicks = camera.Clicks();
    auto centring = std::find_if(clicks.begin() + static_cast<long>(clicksBefore), clicks.end(), [](const camsim::ClickCommand& c) {
        return c.kind == camsim::ClickCommand::Kind::Point && c.mode == 0;
    });
    ASSERT_NE(centring, clicks.end());
    // The click landed at three quarters across and a quarter down the 640x480 picture.
    EXPECT_NEAR(centring->x, 480, 8);
    EXPECT_NEAR(centring->y, 120, 8);
    // The dragged rectangle: its two corners (the first marked with mode 1), then the zoom itself.
    ASSERT_TRUE(camera.WaitForClicks(clicksBefore + 4, kCameraWaitMs)) << "no area zoom from the dragged rectangle";
    clicks = camera.Clicks();
    auto corner = std::find_if(clicks.begin() + static_cast<long>(clicksBefore), clicks.end(), [](const camsim::ClickCommand& c) {
        return c.kind == camsim::ClickCommand::Kind::Point && c.mode == 1;
    });
    ASSERT_NE(corner, clicks.end());
    EXPECT_NEAR(corner->x, 160, 8);
    EXPECT_NEAR(corner->y, 120, 8);
    EXPECT_TRUE(std::any_of(corner, clicks.end(), [](const camsim::ClickCommand& c) { return c.kind == camsim::ClickCommand::Kind::ZoomRect; }));
    EXPECT_TRUE(velmora::platform::FileIsReadableAndNonEmpty(out + "/view-screenshot.png"));
}

TEST(ViewStreamTest, FfmpegReadsAnMxpegCameraThroughTheChannelStream) {
    if (!velmora::platform::FileIsReadableAndNonEmpty("/usr/bin/ffmpeg")) GTEST_SKIP() << "stream test skipped: no /usr/bin/ffmpeg";
    const std::string out = Env("QUILLON_BROWSER_OUT", ".");
    ViewRig rig;
    ASSERT_NO_FATAL_FAILURE(rig.Start(2, 40));
    velmora::platform::ChildProcess ffmpeg;
    const std::string log = out + "/ffmpeg-channel0.log";
    std::remove(log.c_str());
    const std::string url = rig.view->Url() + "channel/0.mjpg";
    ASSERT_TRUE(ffmpeg.Start({"/usr/bin/ffmpeg", "-hide_banner", "-nostdin", "-i", url, "-frames:v", "50", "-f", "null", "-"},
                             log));
    ASSERT_TRUE(rig.RunChild(ffmpeg)) << ReadFile(log);
    const std::string text = ReadFile(log);
    ASSERT_EQ(ffmpeg.ExitCode(), 0) << text;
    EXPECT_NE(text.find("Input #0, mpjpeg"), std::string::npos) << text;
    EXPECT_NE(text.find("mjpeg"), std::string::npos) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(frame=\s*50 )"))) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(640x480)"))) << text;
    for (const char* problem : {"corrupt", "Invalid data", "error while decoding"})
        EXPECT_EQ(text.find(problem), std::string::npos) << problem << "\n" << text;
}

}  // namespace

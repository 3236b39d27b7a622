// The reference host's commands against cameras that cannot be used: each ends non-zero with one
// line that names the camera and says what happened, before any driver is opened.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "camsim/CameraSimulator.h"
#include "host/CameraCheck.h"
#include "host/Commands.h"
#include "httpserver/HttpServer.h"

namespace {

using namespace quillon::host;

using Command = int (*)(const Options&, std::ostream&);

struct CommandCase {
    const char* name;
    Command run;
    std::vector<std::string> extra;  // arguments after the URL
};

const std::vector<CommandCase>& Commands() {
    static const std::vector<CommandCase> commands = {
        {"record", RunRecord, {"--seconds", "1"}},
        {"probe", RunProbe, {}},
        {"io", RunIo, {"--seconds", "1"}},
        {"ptz", RunPtz, {"stop", "--param2", "presets.xml", "--param3", "Pan=1"}},
        {"view", RunView, {"--listen", "127.0.0.1:0", "--seconds", "1"}},
    };
    return commands;
}

// One camera that cannot be used. setup prepares the simulator (or whatever answers) and returns
// the URL; expected is the text the line must hold after "camera HOST:PORT: " (or after the
// command name for URL rows).
struct Row {
    const char* what;
    std::function<std::string(camsim::CameraSimulator&, uint16_t freePort, uint16_t notACameraPort)> setup;
    const char* expected;
    bool namesCameraPort;
};

std::string At(const camsim::CameraSimulator& sim, const std::string& credentials) {
    return "http://" + credentials + "127.0.0.1:" + std::to_string(sim.Port());
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"wrong password, Basic",
         [](camsim::CameraSimulator& s, uint16_t, uint16_t) {
             s.SetAuth(camsim::AuthMode::Basic);
             return At(s, "admin:wrong@");
         },
         "the camera refused the credentials of user 'admin' (HTTP 401; it asks for Basic)", true},
        {"wrong password, Digest",
         [](camsim::CameraSimulator& s, uint16_t, uint16_t) {
             s.SetAuth(camsim::AuthMode::Digest);
             return At(s, "admin:wrong@");
         },
         "the camera refused the credentials of user 'admin' (HTTP 401; it asks for Digest)", true},
        {"no credentials, both schemes offered",
         [](camsim::CameraSimulator& s, uint16_t, uint16_t) {
             s.SetAuth(camsim::AuthMode::Both);
             return At(s, "");
         },
         "the camera wants credentials (HTTP 401; it asks for Digest or Basic)", true},
        {"access forbidden",
         [](camsim::CameraSimulator& s, uint16_t, uint16_t) {
             s.Faults().Add(camsim::FaultRule::Status("/", 403));
             return At(s, "viewer:pw@");
         },
         "the camera refused access for user 'viewer' (HTTP 403)", true},
        {"another kind of device",
         [](camsim::CameraSimulator&, uint16_t, uint16_t other) { return "http://127.0.0.1:" + std::to_string(other); },
         "not a camera of this kind (HTTP 404 for /cgi-bin/rinfo?querydata=basic)", true},
        {"nothing listens",
         [](camsim::CameraSimulator&, uint16_t freePort, uint16_t) { return "http://127.0.0.1:" + std::to_string(freePort); },
         "connection refused (nothing listens on that port)", true},
        {"no answer",
         [](camsim::CameraSimulator& s, uint16_t, uint16_t) {
             s.Faults().Add(camsim::FaultRule::Stall("/", 3000));
             return At(s, "") + " --check-timeout-ms 300";
         },
         "no answer within 0.3 s", true},
        {"wrong scheme", [](camsim::CameraSimulator&, uint16_t, uint16_t) { return std::string("ftp://x"); },
         "cannot use the URL 'ftp://x': the scheme must be http://", false},
        {"port out of range",
         [](camsim::CameraSimulator&, uint16_t, uint16_t) { return std::string("http://127.0.0.1:99999"); },
         "cannot use the URL 'http://127.0.0.1:99999': the port '99999' is not a number from 1 to 65535", false},
        {"no host", [](camsim::CameraSimulator&, uint16_t, uint16_t) { return std::string("http://admin:pw@:8080"); },
         "cannot use the URL 'http://admin:pw@:8080': it names no camera host", false},
    };
    return rows;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

uint16_t PortNobodyListensOn() {
    camsim::HttpServer probe;
    if (!probe.Start()) return 0;
    uint16_t port = probe.Port();
    probe.Stop();
    return port;
}

TEST(CameraErrorsTest, EveryCommandNamesTheCameraAndWhatHappenedInOneLine) {
    camsim::HttpServer notACamera;  // answers 404 to every path
    ASSERT_TRUE(notACamera.Start());
    const uint16_t freePort = PortNobodyListensOn();
    ASSERT_NE(freePort, 0);
    for (const Row& row : Rows()) {
        for (const CommandCase& command : Commands()) {
            SCOPED_TRACE(std::string(command.name) + ", " + row.what);
            camsim::CameraSimulator sim;
            ASSERT_TRUE(sim.Start());
            std::vector<std::string> args = Split(row.setup(sim, freePort, notACamera.Port()));
            std::string url = args[0];
            args.insert(args.begin() + 1, command.extra.begin(), command.extra.end());
            Options options;
            std::string error;
            ASSERT_TRUE(ParseOptions(args, &options, &error));
            std::ostringstream out;
            int rc = command.run(options, out);
            const std::string text = out.str();
            EXPECT_NE(rc, 0);
            ASSERT_FALSE(text.empty());
            EXPECT_EQ(text.find('\n'), text.size() - 1) << text;  // exactly one line
            EXPECT_EQ(text.rfind(std::string(command.name) + ": ", 0), 0u) << text;
            EXPECT_NE(text.find(row.expected), std::string::npos) << text;
            if (row.namesCameraPort) {
                const std::string port = url.substr(url.rfind(':') + 1);
                EXPECT_NE(text.find("camera 127.0.0.1:" + port + ": "), std::string::npos) << text;
            }
        }
    }
}

// The check must not stand in the way of a usable camera, whatever authentication it asks for.
TEST(CameraErrorsTest, ACameraThatAcceptsTheCredentialsPassesTheCheck) {
    for (camsim::AuthMode mode : {camsim::AuthMode::None, camsim::AuthMode::Basic, camsim::AuthMode::Digest,
                                  camsim::AuthMode::Both}) {
        camsim::CameraSimulator sim;
        ASSERT_TRUE(sim.Start());
        sim.SetAuth(mode);
        CameraConfig camera;
        camera.port = sim.Port();
        camera.user = "admin";
        camera.password = "meinsm";
        CameraCheck check = CheckCamera(camera, 2000);
        EXPECT_EQ(check.problem, CameraProblem::None) << static_cast<int>(mode) << ": " << check.text;
        EXPECT_EQ(check.status, 200);
        EXPECT_TRUE(check.text.empty());
    }
}

}  // namespace

namespace {

// A camera that passes the host's own look but refuses what the driver asks of it: record names the
// refused request, read from the driver's own lines.
TEST(CameraErrorsTest, RecordWithoutPicturesNamesTheRequestTheCameraRefused) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    sim.Faults().Add(camsim::FaultRule::Status("/control/control?set", 404));
    Options options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"http://127.0.0.1:" + std::to_string(sim.Port()), "--seconds", "2"}, &options, &error));
    std::ostringstream out;
    EXPECT_EQ(RunRecord(options, out), 1);
    std::string text = out.str();
    ASSERT_FALSE(text.empty());
    text.pop_back();
    const std::string last = text.substr(text.rfind('\n') + 1);
    EXPECT_EQ(last.rfind("record: no picture arrived from camera 127.0.0.1:" + std::to_string(sim.Port()) +
                             ": the camera answered HTTP 404 for /control/control?set",
                         0),
              0u)
        << out.str();
}

}  // namespace

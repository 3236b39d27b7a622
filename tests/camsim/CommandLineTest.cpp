// quillon-camsim as a process: URL first, commands from standard input, a clean stop on SIGTERM,
// usage on bad arguments. The program is looked up beside this test's build directory.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "RawHttp.h"
#include "platform/Process.h"
#include "platform/Sync.h"
#include "platform/System.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace camsim {
namespace {

using quillon::test::RunCommand;
using quillon::test::ShellQuote;

std::string Program() {
    return velmora::platform::ExecutableDirectory() + "../tools/camsim/quillon-camsim";
}

class CCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(velmora::platform::FileIsReadableAndNonEmpty(Program())) << "build quillon-camsim: " << Program();
    }
};

TEST_F(CCommandLineTest, PrintsItsUrlAndRunsInputCommands) {
    std::string out;
    int status = RunCommand("printf 'status\\ninput 1 1\\ninputs 10\\nbogus\\nquit\\n' | " + ShellQuote(Program()) +
                                " --inputs 3 --outputs 2 --seed 7 2>/dev/null",
                            &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.rfind("http://127.0.0.1:", 0), 0u) << out;
    size_t first = out.find("inputs 000 outputs 00");
    size_t second = out.find("inputs 010 outputs 00", first);
    size_t third = out.find("inputs 100 outputs 00", second);
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_NE(second, std::string::npos) << out;
    EXPECT_NE(third, std::string::npos) << out;
    EXPECT_NE(out.find("quillon-camsim: stopped"), std::string::npos);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(CCommandLineTest, ServesUntilTerminatedThenStopsCleanly) {
    quillon::test::TempDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string log = dir.File("camsim.out");
    velmora::platform::ChildProcess child;
    ASSERT_TRUE(child.Start({Program(), "--auth", "digest", "--user", "u", "--password", "p"}, log));
    // Standard input is at its end at once; the program keeps serving until the signal.
    std::string out;
    for (int i = 0; i < 1000 && out.find('\n') == std::string::npos; ++i) {
        velmora::platform::SleepMilliseconds(10);
        out = ReadFile(log);
    }
    ASSERT_EQ(out.rfind("http://127.0.0.1:", 0), 0u) << out;
    const std::string url = out.substr(0, out.find('\n'));
    uint16_t port = static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
    EXPECT_EQ(test::Get(port, "/cgi-bin/rinfo?querydata=basic").status, 401);  // digest asked for
    ASSERT_TRUE(child.Stop(5000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_NE(ReadFile(log).find("quillon-camsim: stopped"), std::string::npos);
}

TEST_F(CCommandLineTest, RefusesBadArguments) {
    const char* bad[] = {"--port 70000", "--auth kerberos", "--inputs 27", "--seed", "--colour blue"};
    for (const char* args : bad) {
        std::string out;
        EXPECT_EQ(RunCommand(ShellQuote(Program()) + " " + args + " 2>&1 </dev/null", &out), 2) << args;
        EXPECT_NE(out.find("usage: quillon-camsim"), std::string::npos) << args;
    }
}

}  // namespace
}  // namespace camsim

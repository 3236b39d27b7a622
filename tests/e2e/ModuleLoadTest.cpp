// The built module as a host sees it: loaded with the platform loader through the reference
// host, a driver created, opened, closed and deleted through the exports; and the module's
// dynamic symbol table holding exactly the exported functions.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "host/HostObjects.h"
#include "host/Module.h"
#include "platform/Library.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using quillon::host::CameraConfig;
using quillon::host::DebugLog;
using quillon::host::DriverModule;
using quillon::host::HostConfig;
using quillon::host::SampleAllocator;

TEST(ModuleLoadTest, HostOpensAndClosesADriverThroughTheExports) {
    // No host core module in the current directory: the default version 5.12 applies.
    quillon::test::TempDir dir;
    ASSERT_TRUE(dir.Ok());
    quillon::test::ScopedCurrentDirectory cwd(dir.Path());

    DriverModule module;
    std::string error;
    ASSERT_TRUE(module.Load(DriverModule::DefaultPath(), &error)) << error;
    ASSERT_NE(module.Create, nullptr);
    ASSERT_NE(module.Delete, nullptr);

    CameraConfig camera;
    camera.address = "127.0.0.1";
    camera.port = 8081;
    camera.model = "M26";
    camera.channels = 1;
    camera.streamType = 1;
    camera.parameters = {"0", "(none)", "(none)", "MX-V5.2.1"};
    HostConfig config(camera);
    DebugLog log;
    SampleAllocator allocator;

    velmora::ipcapture::IIPCaptureDriver* driver = module.Create();
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(driver->Open(&log, &allocator, &config));
    ASSERT_NE(driver->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver->GetVideoCapture()->GetChannelCount(), 1u);

    const std::string expected =
        "DRIVER IS OPENED (name: Quillon, device model: M26, FW: MX-V5.2.1, address: 127.0.0.1:8081)";
    int found = 0;
    for (const auto& line : log.Lines()) {
        if (line.text.find("DRIVER IS OPENED") == std::string::npos) continue;
        ++found;
        EXPECT_EQ(line.text, expected);
        EXPECT_EQ(line.level, 3) << "notice level as host core 5.12 expects it";
    }
    EXPECT_EQ(found, 1);

    driver->Close();
    EXPECT_EQ(driver->GetVideoCapture(), nullptr);
    driver->Close();
    module.Delete(driver);
    module.Delete(nullptr);  // allowed, does nothing
}

TEST(ModuleLoadTest, GenerationNamesAreOneFunction) {
    std::string error;
    velmora::platform::LibraryObject* library = velmora::platform::LoadLibraryFile(DriverModule::DefaultPath(), &error);
    ASSERT_NE(library, nullptr) << error;
    auto find = [&](const char* name) { return velmora::platform::FindLibrarySymbol(library, name); };
    void* create = find("CreateIPCapture");
    void* destroy = find("DeleteIPCapture");
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);
    for (const char* name : {"CreateIPCaptureEx", "CreateIPCaptureEx2", "CreateIPCaptureEx3"})
        EXPECT_EQ(find(name), create) << name;
    for (const char* name : {"DeleteIPCaptureEx", "DeleteIPCaptureEx2", "DeleteIPCaptureEx3"})
        EXPECT_EQ(find(name), destroy) << name;
    // A driver made by the newest name is deleted by another generation's name.
    auto createEx3 = reinterpret_cast<CreateIPCaptureFn>(find("CreateIPCaptureEx3"));
    auto deleteEx = reinterpret_cast<DeleteIPCaptureFn>(find("DeleteIPCaptureEx"));
    if (createEx3 && deleteEx) {
        velmora::ipcapture::IIPCaptureDriver* driver = createEx3();
        ASSERT_NE(driver, nullptr);
        EXPECT_EQ(driver->GetVideoCapture(), nullptr) << "not opened yet";
        deleteEx(driver);
    }
    velmora::platform::FreeLibraryObject(library);
}

// Names the module defines in its dynamic symbol table, from `nm -D --defined-only`.
std::set<std::string> ExportedNames(const std::string& path, std::string* raw, int* status) {
    *status = quillon::test::RunCommand("nm -D --defined-only " + quillon::test::ShellQuote(path) + " 2>&1", raw);
    std::set<std::string> names;
    std::istringstream lines(*raw);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        if (words.empty()) continue;
        std::string name = words.back();
        size_t at = name.find('@');  // symbol versions, if any
        if (at != std::string::npos) name.resize(at);
        names.insert(name);
    }
    return names;
}

TEST(ModuleLoadTest, ExportsExactlyTheHostFunctions) {
    if (!quillon::test::ProgramAvailable("nm")) GTEST_SKIP() << "nm is not installed";
    std::string raw;
    int status = -1;
    const std::set<std::string> names = ExportedNames(DriverModule::DefaultPath(), &raw, &status);
    ASSERT_EQ(status, 0) << raw;
    const std::set<std::string> required = {"CreateIPCapture",   "CreateIPCaptureEx", "CreateIPCaptureEx2",
                                            "CreateIPCaptureEx3", "DeleteIPCapture",   "DeleteIPCaptureEx",
                                            "DeleteIPCaptureEx2", "DeleteIPCaptureEx3"};
    const std::set<std::string> optional = {"InitCapabilityQuery", "StartCapabilityQuery", "TerminateCapabilityQuery",
                                            "UninitCapabilityQuery"};
    for (const std::string& name : required) EXPECT_EQ(names.count(name), 1u) << name << " missing in:\n" << raw;
    for (const std::string& name : names)
        EXPECT_TRUE(required.count(name) || optional.count(name)) << "unexpected export " << name;
}

}  // namespace

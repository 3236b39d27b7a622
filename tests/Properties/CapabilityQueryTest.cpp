// The capability query's module-wide state and query thread, through the functions behind the
// exports and, for the whole road, through the exports of the loaded module.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "CapabilityRecorder.h"
#include "HostCoreModuleFile.h"
#include "Properties/CapabilityQuery.h"
#include "camsim/CameraSimulator.h"
#include "host/Module.h"
#include "platform/System.h"

namespace capability = velmora::capability;
using quillon_test::CallbackRecorder;
using quillon_test::HostCoreModuleFile;
using quillon_test::ResultRecorder;

namespace {

constexpr uint32_t kNotificationWaitMs = 20000;
constexpr uint32_t kRequestWaitMs = 10000;
constexpr uint32_t kStallMs = 1500;  // keeps the first request in flight while the test acts

class CCapabilityQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(velmora::platform::FileIsReadableAndNonEmpty(HostCoreModuleFile::Path()));
        ASSERT_TRUE(sim_.Start());
    }
    // Every test leaves the module-wide state idle, whatever it did.
    void TearDown() override { EXPECT_EQ(capability::UninitQuery(), 1); }

    int32_t Start(ResultRecorder* result) {
        return capability::StartQuery("127.0.0.1", sim_.Port(), "", "", result);
    }
    bool WaitForRequest(const std::string& path) {
        return sim_.Requests()
            .WaitFor([&](const camsim::LoggedRequest& r) { return r.path == path; }, kRequestWaitMs)
            .has_value();
    }
    static std::string ParameterValue(const ResultRecorder& result, int index) {
        const std::string prefix = "Entry" + std::to_string(index) + ".SetEntryValue(";
        const auto calls = result.CallsStartingWith(prefix);
        return calls.size() == 1 ? calls[0].substr(prefix.size(), calls[0].size() - prefix.size() - 1) : "";
    }

    camsim::CameraSimulator sim_;
};

void ExpectOneFailure(const CallbackRecorder& callback, int32_t code, const std::string& message) {
    const auto notifications = callback.Notifications();
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_FALSE(notifications[0].succeeded);
    EXPECT_EQ(notifications[0].code, code);
    EXPECT_EQ(notifications[0].message, message);
}

}  // namespace

TEST_F(CCapabilityQueryTest, QuerySucceedsAndWritesTheResults) {
    CallbackRecorder callback;
    ResultRecorder result;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(Start(&result), 1);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    const auto notifications = callback.Notifications();
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_TRUE(notifications[0].succeeded);
    EXPECT_EQ(result.CallsStartingWith("SetCapability(0,"), std::vector<std::string>{"SetCapability(0,1)"});
    EXPECT_EQ(ParameterValue(result, 1), "0");
    EXPECT_EQ(result.CallsStartingWith("Field2"),
              std::vector<std::string>{"Field2.SetText(" + std::to_string(sim_.Port()) + ")"});
}

TEST_F(CCapabilityQueryTest, VideoStandardFlagOneIsWrittenAsOne) {
    CallbackRecorder callback;
    ResultRecorder result;
    ASSERT_EQ(capability::InitQuery(&callback, 1), 1);
    ASSERT_EQ(Start(&result), 1);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    EXPECT_EQ(ParameterValue(result, 1), "1");
}

TEST_F(CCapabilityQueryTest, InitTwiceKeepsTheFirstCallback) {
    CallbackRecorder first;
    CallbackRecorder second;
    ResultRecorder result;
    ASSERT_EQ(capability::InitQuery(&first, 0), 1);
    EXPECT_EQ(capability::InitQuery(&second, 1), 0);
    ASSERT_EQ(Start(&result), 1);
    ASSERT_TRUE(first.WaitForNotification(kNotificationWaitMs));
    EXPECT_TRUE(second.Notifications().empty());
    EXPECT_EQ(ParameterValue(result, 1), "0");  // the refused call changed nothing
}

TEST_F(CCapabilityQueryTest, UninitWithoutQueryAndTwiceLeavesStateIdle) {
    EXPECT_EQ(capability::UninitQuery(), 1);
    EXPECT_EQ(capability::UninitQuery(), 1);
    CallbackRecorder callback;
    EXPECT_EQ(capability::InitQuery(&callback, 0), 1);  // idle again: a callback may be registered
    EXPECT_EQ(capability::UninitQuery(), 1);
    EXPECT_EQ(capability::UninitQuery(), 1);
    EXPECT_EQ(capability::InitQuery(&callback, 0), 1);
}

TEST_F(CCapabilityQueryTest, StartWithoutInitEndsWithoutRequest) {
    ResultRecorder result;
    ASSERT_EQ(Start(&result), 1);
    EXPECT_EQ(capability::UninitQuery(), 1);  // waits for the thread
    EXPECT_TRUE(sim_.Requests().Snapshot().empty());
    EXPECT_TRUE(result.Calls().empty());
}

TEST_F(CCapabilityQueryTest, TerminateDuringFirstRequestSkipsTheRest) {
    sim_.Faults().Add(camsim::FaultRule::Stall("/cgi-bin/rinfo", kStallMs).Times(1));
    CallbackRecorder callback;
    ResultRecorder result;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(Start(&result), 1);
    ASSERT_TRUE(WaitForRequest("/cgi-bin/rinfo"));
    EXPECT_EQ(capability::TerminateQuery(), 1);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    ExpectOneFailure(callback, 3, "Failed to get camera properties");
    // The request in flight was answered; no later query was made.
    const auto requests = sim_.Requests().Snapshot();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_TRUE(result.Calls().empty());
}

TEST_F(CCapabilityQueryTest, TerminateRightAfterStartIsNotLost) {
    // Whether the stop comes before or after the thread made its probe, the probe stops after its
    // first query.
    CallbackRecorder callback;
    ResultRecorder result;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(Start(&result), 1);
    EXPECT_EQ(capability::TerminateQuery(), 1);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    ExpectOneFailure(callback, 3, "Failed to get camera properties");
    EXPECT_LE(sim_.Requests().Snapshot().size(), 1u);
}

TEST_F(CCapabilityQueryTest, TerminateWithoutQueryDoesNothing) {
    EXPECT_EQ(capability::TerminateQuery(), 1);
    CallbackRecorder callback;
    ResultRecorder result;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(Start(&result), 1);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    EXPECT_TRUE(callback.Notifications().at(0).succeeded);
}

TEST_F(CCapabilityQueryTest, SecondStartWhileRunningIsRefused) {
    sim_.Faults().Add(camsim::FaultRule::Stall("/cgi-bin/rinfo", kStallMs).Times(1));
    CallbackRecorder callback;
    ResultRecorder first;
    ResultRecorder second;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(Start(&first), 1);
    ASSERT_TRUE(WaitForRequest("/cgi-bin/rinfo"));
    EXPECT_EQ(Start(&second), 0);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    // The first query ran on and wrote to its own result object only.
    ASSERT_EQ(callback.Notifications().size(), 1u);
    EXPECT_TRUE(callback.Notifications()[0].succeeded);
    EXPECT_FALSE(first.Calls().empty());
    EXPECT_TRUE(second.Calls().empty());
    EXPECT_EQ(sim_.Requests().Count("/cgi-bin/rinfo"), 1u);
}

TEST_F(CCapabilityQueryTest, StartAfterFinishedQueryRunsAnewWithoutUninit) {
    CallbackRecorder callback;
    ResultRecorder first;
    ResultRecorder second;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(Start(&first), 1);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    ASSERT_EQ(Start(&second), 1);  // the finished thread is reclaimed first
    ASSERT_TRUE(callback.WaitForNotifications(2, kNotificationWaitMs));
    EXPECT_TRUE(callback.Notifications().at(1).succeeded);
    EXPECT_EQ(sim_.Requests().Count("/control/rotorcgi"), 2u);
    EXPECT_EQ(first.Calls(), second.Calls());
}

TEST_F(CCapabilityQueryTest, UninitDuringQueryWaitsForTheThread) {
    sim_.Faults().Add(camsim::FaultRule::Stall("/cgi-bin/rinfo", kStallMs).Times(1));
    CallbackRecorder callback;
    ResultRecorder result;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(Start(&result), 1);
    ASSERT_TRUE(WaitForRequest("/cgi-bin/rinfo"));
    EXPECT_EQ(capability::UninitQuery(), 1);
    // By the time Uninit returns, the thread has sent its last notification.
    ExpectOneFailure(callback, 3, "Failed to get camera properties");
    EXPECT_EQ(sim_.Requests().Snapshot().size(), 1u);
    CallbackRecorder next;
    EXPECT_EQ(capability::InitQuery(&next, 0), 1);
}

// A camera that sends a byte every quarter second never runs into the request time-out. Uninit
// aborts the query's request wherever it waits and returns once the thread has ended, with its one
// notification sent: nothing of the query can call the host afterwards.
TEST_F(CCapabilityQueryTest, UninitAbortsARequestThatDripsAndLeavesNoThread) {
    using From = camsim::FaultRule::DripFrom;
    constexpr uint32_t kUninitBoundMs = 10000;  // twice the query's request time-out
    for (From from : {From::Head, From::Body}) {
        const char* where = from == From::Head ? "reply head" : "reply body";
        const int id = sim_.Faults().Add(camsim::FaultRule::Drip("/cgi-bin/rinfo", 250, from));
        sim_.Requests().Clear();
        const uint32_t threadsBefore = velmora::platform::ThreadCount();
        CallbackRecorder callback;
        ResultRecorder result;
        ASSERT_EQ(capability::InitQuery(&callback, 0), 1) << where;
        ASSERT_EQ(Start(&result), 1) << where;
        ASSERT_TRUE(WaitForRequest("/cgi-bin/rinfo")) << where;
        const uint64_t start = velmora::platform::MonotonicMilliseconds();
        EXPECT_EQ(capability::UninitQuery(), 1);
        const uint64_t tookMs = velmora::platform::MonotonicMilliseconds() - start;
        std::printf("[ drip     ] capability query, %s: Uninit took %llu ms\n", where,
                    static_cast<unsigned long long>(tookMs));
        EXPECT_LT(tookMs, kUninitBoundMs) << where;
        ExpectOneFailure(callback, 3, "Failed to get camera properties");
        EXPECT_EQ(sim_.Requests().Snapshot().size(), 1u) << where;
        // The query thread is gone (the simulator's own connection thread ends once it notices).
        sim_.Faults().Remove(id);
        sim_.DropConnections();
        uint32_t threads = velmora::platform::ThreadCount();
        for (int round = 0; round < 100 && threads > threadsBefore; ++round) {
            sim_.Requests().WaitForCount("/never-requested", 1, 50);  // bounded 50 ms wait
            threads = velmora::platform::ThreadCount();
        }
        EXPECT_LE(threads, threadsBefore) << where << ": threads left behind";
    }
}

TEST_F(CCapabilityQueryTest, MissingResultObjectFailsTheSave) {
    CallbackRecorder callback;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(Start(nullptr), 1);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    ExpectOneFailure(callback, 3, "Failed to save capability query results");
}

TEST_F(CCapabilityQueryTest, PortUsesItsLow16Bits) {
    CallbackRecorder callback;
    ResultRecorder result;
    ASSERT_EQ(capability::InitQuery(&callback, 0), 1);
    ASSERT_EQ(capability::StartQuery("127.0.0.1", 0x10000 + sim_.Port(), "", "", &result), 1);
    ASSERT_TRUE(callback.WaitForNotification(kNotificationWaitMs));
    EXPECT_TRUE(callback.Notifications().at(0).succeeded);
}

// The module stays loaded until the process ends: the HTTP layer inside keeps a process-wide
// registry that is not freed on unload, which the leak checker would report.
quillon::host::DriverModule& LoadedModule() {
    static auto* module = new quillon::host::DriverModule;
    static std::string error;
    static const bool loaded = module->Load(quillon::host::DriverModule::DefaultPath(), &error);
    EXPECT_TRUE(loaded) << error;
    return *module;
}

// The exports of the loaded module: their own module-wide state, the host's view.
class CCapabilityQueryExportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(velmora::platform::FileIsReadableAndNonEmpty(HostCoreModuleFile::Path()));
        ASSERT_NE(module_.InitQuery, nullptr);
        ASSERT_NE(module_.StartQuery, nullptr);
        ASSERT_NE(module_.TerminateQuery, nullptr);
        ASSERT_NE(module_.UninitQuery, nullptr);
        ASSERT_TRUE(sim_.Start());
    }
    void TearDown() override {
        if (module_.UninitQuery) {
            EXPECT_EQ(module_.UninitQuery(), 1);
        }
    }

    // One whole cycle; the failure code, or 0 on success.
    int32_t RunQuery(uint8_t videoStandard, ResultRecorder& result) {
        CallbackRecorder callback;
        EXPECT_EQ(module_.InitQuery(&callback, videoStandard), 1);
        EXPECT_EQ(module_.StartQuery("127.0.0.1", sim_.Port(), "admin", "meinsm", &result), 1);
        const bool arrived = callback.WaitForNotification(kNotificationWaitMs);
        EXPECT_EQ(module_.UninitQuery(), 1);
        if (!arrived || callback.Notifications().size() != 1) return -1;
        const auto n = callback.Notifications()[0];
        return n.succeeded ? 0 : n.code;
    }

    quillon::host::DriverModule& module_ = LoadedModule();
    camsim::CameraSimulator sim_;
};

TEST_F(CCapabilityQueryExportsTest, FullQueryThroughTheModule) {
    ResultRecorder result;
    ASSERT_EQ(RunQuery(1, result), 0);
    EXPECT_EQ(result.CallsStartingWith("Entry1.SetEntryValue"), std::vector<std::string>{"Entry1.SetEntryValue(1)"});
    EXPECT_EQ(result.CallsStartingWith("Entry3.SetEntryValue").size(), 1u);
    EXPECT_EQ(result.CallsStartingWith("Field3"), std::vector<std::string>{"Field3.SetText(admin)"});
}

TEST_F(CCapabilityQueryExportsTest, RefusedCredentialsCodeFollowsHostCoreVersion) {
    sim_.Faults().Add(camsim::FaultRule::Status("/cgi-bin/rinfo", 401));
    {
        HostCoreModuleFile newer(5, 11);
        ASSERT_TRUE(newer.Written());
        ResultRecorder result;
        EXPECT_EQ(RunQuery(0, result), 1);
        EXPECT_TRUE(result.Calls().empty());
    }
    {
        HostCoreModuleFile exact(5, 10);
        ASSERT_TRUE(exact.Written());
        ResultRecorder result;
        EXPECT_EQ(RunQuery(0, result), 3);
    }
    EXPECT_FALSE(velmora::platform::FileIsReadableAndNonEmpty(HostCoreModuleFile::Path()));
}

// Fault injection end to end: the module loaded as a host loads it, against the simulator, with the
// simulator's faults on the stream request, for Motion-JPEG and MxPEG channels. Every case checks
// that pictures come back once the fault ends, that every delivered picture decodes cleanly, that
// the camera state lines are the ones the channel owes, that Close returns in bounded time and that
// no sample and no thread is left behind.
#include <cstdio>
#include <future>

#include "FaultSession.h"

namespace quillon::faulttest {
namespace {

using FaultFixture = FaultSession;

TEST_P(FaultFixture, CameraOffAndOnRepeatedly) {
    Open();
    for (size_t cycle = 1; cycle <= 3; ++cycle) {
        const uint64_t lossesBefore = sink.SignalLosses();
        ASSERT_TRUE(sim.SetCameraOff(true));
        ASSERT_TRUE(session->Log().WaitFor(kSignalLostLine, kWaitMs, cycle)) << cycle;
        EXPECT_EQ(ChannelState(), 2) << "signal lost state in cycle " << cycle;
        EXPECT_TRUE(sink.WaitForSignalLost(lossesBefore + 1, kWaitMs)) << "host not told of the loss in cycle " << cycle;
        // By now three attempts failed in a row: the loop waits the long interval.
        ASSERT_TRUE(sim.SetCameraOff(false));
        ExpectPictureWithin(kLongRetryMs);
        EXPECT_TRUE(session->Log().WaitFor(kOnlineLine, kWaitMs, cycle + 1)) << cycle;
        EXPECT_EQ(LogCount(kSignalLostLine), cycle) << "one loss line per outage";
        EXPECT_EQ(LogCount(kOnlineLine), cycle + 1) << "one online line per recovery";
    }
    CloseAndCheck();
}

TEST_P(FaultFixture, StallMidPictureLongerThanRequestTimeout) {
    Open();
    const size_t streams = Streams();
    sim.Faults().Add(camsim::FaultRule::Stall(kStreamPath, 8000, 20000).Times(1));
    // Only a new stream request meets the rule: end the current one.
    sim.DropConnections();
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 1, kWaitMs));
    // The stalled stream is given up after the read time-out, longer than half the stream time-out
    // without a picture: one loss line, then a new stream brings pictures.
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 2, kWaitMs)) << "stalled stream not replaced";
    ExpectResume();
    EXPECT_EQ(LogCount(kSignalLostLine), 1u);
    EXPECT_TRUE(session->Log().WaitFor(kOnlineLine, kWaitMs, 2));
    CloseAndCheck();
}

TEST_P(FaultFixture, ConnectionClosedMidBody) {
    Open();
    const size_t streams = Streams();
    // Each cut stream still carries pictures, so the camera never counts as lost.
    sim.Faults().Add(camsim::FaultRule::CloseAfter(kStreamPath, 30000).Times(3));
    sim.DropConnections();
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 4, 3 * kWaitMs)) << "cut streams not retried";
    ExpectResume();
    EXPECT_EQ(LogCount(kSignalLostLine), 0u);
    CloseAndCheck();
}

TEST_P(FaultFixture, UnauthorizedStorm) {
    Open();
    const size_t streams = Streams();
    sim.Faults().Add(camsim::FaultRule::Status(kStreamPath, 401).Times(5));
    sim.DropConnections();
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 5, 3 * kWaitMs)) << "401 answers not retried";
    // The parameter push keeps working, so the loop waits the short interval after the last 401.
    ExpectPictureWithin(kShortRetryMs);
    ExpectResume();
    // Five failed passes a second apart: more than half the stream time-out without a picture.
    EXPECT_EQ(LogCount(kSignalLostLine), 1u);
    CloseAndCheck();
}

TEST_P(FaultFixture, OneByteTrickle) {
    Open();
    const size_t streams = Streams();
    sim.Faults().Add(camsim::FaultRule::Trickle(kStreamPath, 1, 0).Times(1));
    sim.DropConnections();
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 1, kWaitMs));
    ExpectResume();
    CloseAndCheck();
}

TEST_P(FaultFixture, GarbageInsteadOfResponse) {
    Open();
    const size_t streams = Streams();
    sim.Faults().Add(camsim::FaultRule::Garbage(kStreamPath, 4096).Times(2));
    sim.DropConnections();
    ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 3, 3 * kWaitMs)) << "garbage answers not retried";
    ExpectResume();
    CloseAndCheck();
}

// A response head of 1 MiB is past the HTTP layer's 64 KiB bound on a header block: every stream
// exchange fails while the fault lasts, the camera is reported lost once, and pictures come back
// within the short reconnect wait once the camera answers normally again. Both shapes of head: many
// ordinary lines and one huge line.
TEST_P(FaultFixture, OversizedResponseHead) {
    Open();
    struct Row {
        const char* what;
        size_t lineBytes;
    };
    const Row rows[] = {
        {"1 MiB in lines of 1000 bytes", 1000},
        {"1 MiB in one line", size_t{1} << 20},
    };
    size_t round = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ++round;
        const int id = sim.Faults().Add(camsim::FaultRule::HugeHead(kStreamPath, size_t{1} << 20, row.lineBytes));
        const size_t streams = Streams();
        const uint64_t lossesBefore = sink.SignalLosses();
        sim.DropConnections();
        ASSERT_TRUE(session->Log().WaitFor(kSignalLostLine, kWaitMs, round));
        // Further failed passes while the fault lasts: the host hears of each, the log only once.
        ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, Streams() + 2, kWaitMs));
        EXPECT_GT(Streams(), streams + 2);
        EXPECT_TRUE(sink.WaitForSignalLost(lossesBefore + 2, kWaitMs));
        EXPECT_EQ(LogCount(kSignalLostLine), round);
        sim.Faults().Remove(id);
        // The parameter push works throughout, so the loop waits the short interval.
        ExpectPictureWithin(kShortRetryMs);
        EXPECT_TRUE(session->Log().WaitFor(kOnlineLine, kWaitMs, round + 1));
    }
    CloseAndCheck();
}

// A peer that sends one byte every quarter second never runs into the receive time-out, so only the
// stop's abort and the readers' stop checks can end the capture thread. At each place the channel
// reads, Close must still end within twice the request time-out.
TEST_P(FaultFixture, CloseEndsInTimeAgainstADripAtEveryReadSite) {
    constexpr uint32_t kDripMs = 250;
    constexpr const char* kImageControl = "/control/control?set&section=imagecontrol";
    constexpr const char* kStore = "/admin/rcontrol?action=storeconfig";
    using From = camsim::FaultRule::DripFrom;
    struct Row {
        const char* what;
        const char* prefix;
        From from;
        bool longBody;  // answer with a body long enough that reading it whole would take minutes
    } rows[] = {
        {"image-control reply head", kImageControl, From::Head, false},
        {"image-control reply body, read whole", kImageControl, From::Body, true},
        {"store reply head", kStore, From::Head, false},
        {"stream reply head", kStreamPath, From::Head, false},
        {"stream body", kStreamPath, From::Body, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Open();
        camsim::FaultRule rule = camsim::FaultRule::Drip(row.prefix, kDripMs, row.from);
        if (row.longBody) {
            rule.status = 200;
            rule.body = "OK\r\n" + std::string(2000, 'x') + "\r\n";
        }
        const size_t before = sim.Requests().Count(row.prefix);
        const int id = sim.Faults().Add(rule);
        sim.DropConnections();  // the next pass meets the rule
        ASSERT_TRUE(sim.Requests().WaitForCount(row.prefix, before + 1, kWaitMs));
        const auto start = Clock::now();
        auto closing = std::async(std::launch::async, [this] { session->Close(); });
        const bool ended = closing.wait_for(kCloseBound + std::chrono::seconds(5)) == std::future_status::ready;
        const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        std::printf("[ drip     ] %s, %s: Close took %lld ms\n", IsMjpeg() ? "MJPEG" : "MxPEG", row.what,
                    static_cast<long long>(tookMs));
        sim.Faults().Remove(id);
        if (!ended) {
            sim.DropConnections();  // let the stuck thread go, so the test can end
            closing.wait();
        }
        EXPECT_TRUE(ended) << "Close still running after " << tookMs << " ms";
        EXPECT_LT(Clock::now() - start, kCloseBound);
        CloseAndCheck();
    }
}

// The Authorization scheme word of a logged request, "-" without one.
std::string AuthScheme(const camsim::LoggedRequest& r) {
    const auto value = r.Find("Authorization");
    return value ? value->substr(0, value->find(' ')) : "-";
}

// The Digest nonce and nonce count a request answered with, for the log ("" for other schemes).
std::string DigestUse(const camsim::LoggedRequest& r) {
    const auto value = r.Find("Authorization");
    if (!value || AuthScheme(r) != "Digest") return "";
    auto param = [&](const std::string& name) {
        const size_t at = value->find(name + "=");
        if (at == std::string::npos) return std::string();
        const size_t begin = at + name.size() + 1;
        return value->substr(begin, value->find(',', begin) - begin);
    };
    return " nonce=" + param("nonce") + " nc=" + param("nc");
}

// No credentials leave before the camera asks, and what it asked for is remembered by the driver:
// a Digest-only camera never sees Basic, and either camera answers one 401 per driver, however
// often the channel reconnects.
TEST_P(FaultFixture, CredentialsOnlyAfterAChallengeAndOnce401PerDriverAcrossReconnects) {
    struct Row {
        camsim::AuthMode mode;
        const char* what;
        const char* scheme;  // the only scheme the camera may see
    } rows[] = {
        {camsim::AuthMode::Digest, "Digest-only camera", "Digest"},
        {camsim::AuthMode::Basic, "Basic-only camera", "Basic"},
    };
    user = "admin";
    password = "meinsm";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        sim.Requests().Clear();
        sim.SetAuth(row.mode, user, password);
        Open();
        for (size_t reconnect = 1; reconnect <= 3; ++reconnect) {
            const size_t streams = Streams();
            sim.DropConnections();
            ASSERT_TRUE(sim.Requests().WaitForCount(kStreamPath, streams + 1, kWaitMs)) << reconnect;
            ExpectResume();
        }
        CloseAndCheck();
        size_t challenges = 0;
        for (const camsim::LoggedRequest& r : sim.Requests().Snapshot()) {
            const std::string scheme = AuthScheme(r);
            std::printf("[ auth     ] %s %s: %s%s %s -> %d\n", IsMjpeg() ? "MJPEG" : "MxPEG", row.what,
                        scheme.c_str(), DigestUse(r).c_str(), r.target.c_str(), r.status);
            if (r.status == 401) ++challenges;
            if (scheme != "-") {
                EXPECT_EQ(scheme, row.scheme) << r.target;
            }
        }
        EXPECT_EQ(challenges, 1u) << "one challenge per driver";
        const auto first = sim.Requests().Snapshot().at(0);
        EXPECT_EQ(AuthScheme(first), "-") << "credentials sent before the camera asked";
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, FaultFixture, ::testing::Values(kMjpeg, kMxpeg), StreamName);

}  // namespace
}  // namespace quillon::faulttest

// orvalind without options: it keeps monitoring until SIGINT, SIGTERM or
// SIGHUP ends it in order; a signal during --once has its own status.

#include <signal.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "daemon_checks.h"
#include "orvalind_fixture.h"
#include "support/loopback_server.h"
#include "support/nginx_server.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

class OrvalindMonitorTest : public OrvalindTest, public ::testing::WithParamInterface<int> {};

TEST_P(OrvalindMonitorTest, AStopSignalEndsTheMonitorInOrder) {
    NginxServer nginx;
    SmtpSink sink;
    SetUpMail(sink);
    Monitor(0, nginx.Url());

    OrvalindProcess daemon(folders, {});
    ASSERT_TRUE(daemon.WaitForOutput("\n", 30s)) << daemon.Err();
    const auto printed = PrintedChecks(daemon.Out());
    ASSERT_EQ(printed.count(nginx.Url()), 1u) << daemon.Out();
    EXPECT_EQ(printed.find(nginx.Url())->second.outcome, "success");
    EXPECT_EQ(NumOpen(), 1);

    daemon.Signal(GetParam());
    const auto status = daemon.WaitForExit(5s);
    ASSERT_TRUE(status.has_value()) << "still running after the signal";
    EXPECT_EQ(*status, 0) << daemon.Err();
    EXPECT_EQ(NumOpen(), 0);
    EXPECT_EQ(LogLines(AccessLog()).size(), 1u) << AccessLog();
}

TEST_P(OrvalindMonitorTest, AStopSignalDuringAHangingCheckStillEndsTheMonitor) {
    // The site accepts the request and never answers: the check cannot end.
    LoopbackServer silent(ServerScript::Only(ServerScript::Action::kStaySilent));
    Monitor(0, "http://" + silent.HostAndPort() + "/");

    OrvalindProcess daemon(folders, {});
    ASSERT_TRUE(silent.WaitForRequests(1, 30s));
    daemon.Signal(GetParam());
    // The running check is waited for a while, then left behind.
    const auto status = daemon.WaitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "still running after the signal";
    EXPECT_EQ(*status, 0) << daemon.Err();
    EXPECT_EQ(NumOpen(), 0);
    EXPECT_EQ(daemon.Out(), "");
}

INSTANTIATE_TEST_SUITE_P(StopSignals, OrvalindMonitorTest,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& signal) {
                             return std::string(sigabbrev_np(signal.param));
                         });

TEST_F(OrvalindTest, SitesChangedWithTheSettingsToolWhileItRunsAreTakenOver) {
    NginxServer nginx;
    LoopbackServer slow(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\n", 2s));
    const std::string moved = "http://" + slow.HostAndPort() + "/";
    Monitor(0, nginx.Url());
    OrvalindProcess daemon(folders, {});
    ASSERT_TRUE(daemon.WaitForOutput(nginx.Url(), 30s)) << daemon.Err();

    // A new address, interval and threshold: checked at once, not 15 minutes later.
    ASSERT_EQ(RunSettingsTool(folders, {"site", "1", moved, "2", "700"}).status, 0);
    ASSERT_TRUE(slow.WaitForRequests(1, 10s)) << "the new address was not checked";
    // Removed while that check runs: its result goes nowhere.
    ASSERT_EQ(RunSettingsTool(folders, {"remove-site", "1"}).status, 0);
    std::this_thread::sleep_for(3s);
    daemon.Signal(SIGTERM);
    ASSERT_EQ(daemon.WaitForExit(15s), 0) << daemon.Err();

    EXPECT_EQ(PrintedChecks(daemon.Out()).count(moved), 0u) << daemon.Out();
    EXPECT_EQ(AccessLog().find(moved), std::string::npos) << AccessLog();
    // Nothing of the old copy was written back.
    EXPECT_EQ(store.Read(key::kLastWebsite, 0), "");
    EXPECT_EQ(store.Read(key::kLastWebsiteTitle, 0), "");
    EXPECT_EQ(store.Read(key::kInterval, 0), 2);
    EXPECT_EQ(store.Read(key::kWarn, 0), 700);
    EXPECT_EQ(NumOpen(), 0);
}

TEST_F(OrvalindTest, AnIdleMonitorWakesNoThread) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's own thread wakes ten times a second";
#endif
    NginxServer nginx;
    Monitor(0, nginx.Url());
    OrvalindProcess daemon(folders, {});
    ASSERT_TRUE(daemon.WaitForOutput(nginx.Url(), 30s)) << daemon.Err();
    // The check's thread ends, the instance count lands, the watcher has
    // read the store after it: then nothing is due for 15 minutes.
    std::this_thread::sleep_for(1s);
    const auto before = ThreadSwitches(daemon.Pid());
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(ThreadSwitches(daemon.Pid()), before);
    EXPECT_GE(before.size(), 4u);  // loop, signals, store writer, store watcher
}

TEST_F(OrvalindTest, AnInterruptedRoundReportsNoResult) {
    LoopbackServer silent(ServerScript::Only(ServerScript::Action::kStaySilent));
    Monitor(0, "http://" + silent.HostAndPort() + "/");

    OrvalindProcess daemon(folders, {"--once"});
    ASSERT_TRUE(silent.WaitForRequests(1, 30s));
    daemon.Signal(SIGINT);
    const auto status = daemon.WaitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "still running after the signal";
    EXPECT_EQ(*status, 4) << daemon.Err();  // not 0: nothing was found well
}

}  // namespace
}  // namespace orvalin::test

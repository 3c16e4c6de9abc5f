// orvalind without options: it keeps monitoring until SIGINT, SIGTERM or
// SIGHUP ends it in order; a signal during --once has its own status.

#include <signal.h>

#include <gtest/gtest.h>

#include <string>

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

// orvalind under a service manager: the notifications it sends to a real
// notification socket, and the priorities of its messages when standard
// error is the journal.

#include <signal.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "notify_socket.h"
#include "orvalind_fixture.h"
#include "support/nginx_server.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

class OrvalindServiceTest : public OrvalindTest {
  protected:
    // Slot 0 answers well, slot 1 refuses the connection.
    void MonitorAWellAndAFailingSite() {
        Monitor(0, nginx.Url());
        Monitor(1, "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/");
    }

    std::string Messages() {
        std::string all;
        for (const auto& message : socket.Messages()) {
            all += "[" + message + "]";
        }
        return all;
    }

    NginxServer nginx;
    RefusingPort refusing;
    NotifySocket socket{dir.Path()};
};

TEST_F(OrvalindServiceTest, ItTellsReadyEachChecksStatusFeedsTheWatchdogAndTellsStopping) {
    MonitorAWellAndAFailingSite();
    OrvalindProcess daemon(folders, {}, OrvalindProcess::kBinary,
                           {{socket.Variable(), "WATCHDOG_USEC=400000"}});

    ASSERT_TRUE(socket.WaitFor("STATUS=1 well, 1 failing", 30s)) << Messages() << daemon.Err();
    EXPECT_EQ(socket.Messages().front(), "READY=1\nSTATUS=2 waiting for a check");
    // Every 200 ms, half the period asked for.
    EXPECT_TRUE(socket.WaitFor("WATCHDOG=1", 30s, 4)) << Messages();

    daemon.Signal(SIGTERM);
    ASSERT_EQ(daemon.WaitForExit(15s), 0) << daemon.Err();
    EXPECT_EQ(socket.Messages().back(), "STOPPING=1") << Messages();
    EXPECT_EQ(socket.Count("READY=1"), 1);
}

TEST_F(OrvalindServiceTest, AWatchdogForAnotherProcessIsNotFedAndTheIdleMonitorSleeps) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's own thread wakes ten times a second";
#endif
    Monitor(0, nginx.Url());
    OrvalindProcess daemon(folders, {}, OrvalindProcess::kBinary,
                           {{socket.Variable(), "WATCHDOG_USEC=400000", "WATCHDOG_PID=1"}});
    ASSERT_TRUE(socket.WaitFor("STATUS=1 well", 30s)) << Messages() << daemon.Err();
    std::this_thread::sleep_for(1s);  // the check's thread ends, the store settles
    const auto before = ThreadSwitches(daemon.Pid());
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(ThreadSwitches(daemon.Pid()), before);
    EXPECT_EQ(socket.Count("WATCHDOG=1"), 0) << Messages();
}

TEST_F(OrvalindServiceTest, OneRoundTellsTheServiceManagerNothing) {
    MonitorAWellAndAFailingSite();
    const DaemonRun run =
        RunOrvalind(folders, {"--once"}, 60s, {{socket.Variable(), "WATCHDOG_USEC=400000"}});
    EXPECT_EQ(run.status, kStatusSomeFailing) << run.err;
    EXPECT_EQ(Messages(), "");
}

TEST_F(OrvalindServiceTest, MessagesToTheJournalCarryTheirPriority) {
    MonitorAWellAndAFailingSite();
    // No mail server: the hint is a warning, on every line of it.
    DaemonRun run = RunOrvalind(folders, {"--once"}, 60s, {{}, true});
    EXPECT_EQ(run.err.rfind("<4>Orvalin: Email notices are not set up.", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("\n<4>  orvalin-settings set-string Settings SMTP "), std::string::npos)
        << run.err;

    // A mail server that refuses: the box is an error.
    store.Write(key::kSmtp, "127.0.0.1:" + std::to_string(refusing.Port()));
    store.Write(key::kSmtpEmail, kSender);
    store.Write(key::kSmtpAlert, kAlertRecipient);
    store.Write(key::kSmtpRecovery, kRecoveryRecipient);
    store.Write(key::kWarned, 1, 0);  // the site's failure is news: an alert is due
    run = RunOrvalind(folders, {"--once"}, 60s, {{}, true});
    EXPECT_EQ(run.err.rfind("<3>Orvalin: ERROR: ", 0), 0u) << run.err;

    // A JOURNAL_STREAM inherited by a redirected standard error is not the journal.
    run = RunOrvalind(folders, {"--bogus"}, 20s, {{"JOURNAL_STREAM=1:1"}});
    EXPECT_EQ(run.err.rfind("orvalind: unknown option '--bogus'", 0), 0u) << run.err;
    run = RunOrvalind(folders, {"--bogus"}, 20s, {{}, true});
    EXPECT_EQ(run.err.rfind("<3>orvalind: unknown option '--bogus'\n<3>usage: ", 0), 0u) << run.err;
}

}  // namespace
}  // namespace orvalin::test

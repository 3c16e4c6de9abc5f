// One check of a slot, end to end: the outcome, its log lines, its notices,
// the site's alert state and the panel it leaves.
#include <gtest/gtest.h>

#include <thread>

#include "engine/engine_harness.h"
#include "resources/resource_ids.h"
#include "support/loopback_server.h"
#include "support/nginx_server.h"
#include "support/smtp_servers.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

std::string Body(const ReceivedMail& mail) {
    const auto end = mail.data.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : mail.data.substr(end + 4);
}

std::string Header(const ReceivedMail& mail, const std::string& name) {
    const std::string head = mail.data.substr(0, mail.data.find("\r\n\r\n") + 2);
    const auto at = head.find(name + ": ");
    if (at == std::string::npos) {
        return {};
    }
    const auto start = at + name.size() + 2;
    return head.substr(start, head.find("\r\n", start) - start);
}

class EngineCheck : public ::testing::Test {
  protected:
    // Monitors address in slot 0 as a restarted program would, with Warned0
    // as given and mail to the sink.
    void Monitor(const std::string& address, int warned = 0, bool mail = true) {
        h.StoreSite(0, address);
        h.Store().Write(key::kWarned, 0, warned);
        h.Load();
        if (mail) {
            h.SetMailServer(sink.Address());
        }
        h.ui.Type(0, address);
    }
    int Warned() { return h.Store().Read(key::kWarned, 0); }
    // The first graph point drawn in a slot.
    std::string FirstPoint(int slot) {
        for (const auto& call : h.ui.Calls(slot)) {
            if (call.what == "point") {
                return call.detail;
            }
        }
        return {};
    }

    EngineHarness h;
    SmtpSink sink;
    RefusingPort refusing;
};

TEST_F(EngineCheck, SuccessIsLoggedAndShownGreen) {
    const std::string url = SharedSite().Url();
    Monitor(url);
    const CheckReport report = h.Check(0);

    EXPECT_EQ(report.outcome, CheckOutcome::Success);
    EXPECT_EQ(h.AccessLogText(), std::string(kLogStamp) + "SUCCESS " + url + " 234ms\r\n");
    EXPECT_EQ(h.ErrorLogText(), "");
    const auto update = h.ui.LastUpdate(0);
    ASSERT_TRUE(update);
    EXPECT_EQ(update->lastAccess, std::string("234ms") + kStamp);
    EXPECT_EQ(update->bestAccess, std::string("234ms") + kStamp);
    EXPECT_EQ(update->worstAccess, std::string("234ms") + kStamp);
    EXPECT_EQ(update->scale, 240);
    EXPECT_EQ(update->labels[0], "240ms");
    EXPECT_EQ(update->labels[4], "48ms");

    // The point goes in before the colour; both before the panel texts.
    std::vector<std::string> order;
    for (const auto& call : h.ui.Calls(0)) {
        if (call.what == "point" || call.what == "colour" || call.what == "update") {
            order.push_back(call.what + " " + call.detail);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"point 234/0", "colour 0,255,0",
                                               "update 234ms" + std::string(kStamp)}));
    // Re-armed one second short of the interval; the address is remembered.
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 14u * 60'000 + 59'000);
    EXPECT_EQ(h.Store().Read(key::kLastWebsite, 0), url);
    EXPECT_EQ(h.Store().Read(key::kLastWebsiteTitle, 0), url);
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(EngineCheck, UnreachableSiteAlertsOnceUntilItRecovers) {
    const std::string address = "127.0.0.1:" + std::to_string(refusing.Port()) + "/health";
    Monitor(address);

    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Unreachable);
    EXPECT_EQ(h.ErrorLogText(),
              std::string(kLogStamp) + "Website unreachable: " + address + "\r\n");
    EXPECT_EQ(Warned(), 1);
    EXPECT_EQ(h.Store().Read(key::kLastAlert, 0), kStamp);
    auto mails = sink.WaitForMessages(1, 10s);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"alerts@orvalin.test"});
    EXPECT_EQ(mails[0].mailFrom, "monitor@orvalin.test");
    EXPECT_EQ(Header(mails[0], "Subject"), "Alert - " + address);
    // A refused connection leaves no status text after the two line breaks.
    EXPECT_EQ(Body(mails[0]), std::string("Website unreachable") + kStamp + "\r\n\r\n\r\n");

    const auto failed = h.ui.LastUpdate(0);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->lastAccess, std::string("unavailable") + kStamp);
    EXPECT_FALSE(failed->bestAccess);
    EXPECT_FALSE(failed->worstAccess);
    EXPECT_EQ(failed->scale, 10);
    EXPECT_EQ(failed->labels[4], "2ms");
    EXPECT_EQ(failed->lastAlert, kStamp);

    // Still failing: logged again, but no second alert.
    h.Check(0);
    EXPECT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(Warned(), 1);
    EXPECT_EQ(h.ErrorLogText().size(),
              2 * (std::string(kLogStamp) + "Website unreachable: " + address + "\r\n").size());
}

TEST_F(EngineCheck, RecoveryIsMailedWhenAnAlertIsOutstanding) {
    const std::string url = SharedSite().Url();
    Monitor(url, /*warned=*/1);
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Success);
    auto mails = sink.WaitForMessages(1, 10s);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"recovery@orvalin.test"});
    EXPECT_EQ(Header(mails[0], "Subject"), "Recovery - " + url);
    EXPECT_EQ(Body(mails[0]), std::string("Website recovered") + kStamp + "\r\n");
    EXPECT_EQ(Warned(), 0);
    EXPECT_EQ(h.Store().Read(key::kLastRecovery, 0), kStamp);
    EXPECT_EQ(h.ui.LastUpdate(0)->lastRecovery, kStamp);

    // Well again: nothing more to say.
    h.Check(0);
    EXPECT_EQ(sink.Messages().size(), 1u);
}

TEST_F(EngineCheck, UnexpectedResponseAlertsAndClearsTheLastRecovery) {
    h.Store().Write(key::kLastRecovery, 0, "earlier");
    Monitor(SharedSite().Url("missing"));
    const CheckReport report = h.Check(0);
    EXPECT_EQ(report.outcome, CheckOutcome::UnexpectedResponse);
    EXPECT_EQ(report.statusText, "404");
    EXPECT_EQ(h.ErrorLogText(), std::string(kLogStamp) + "Unexpected response 404 " +
                                    SharedSite().Url("missing") + "\r\n");
    auto mails = sink.WaitForMessages(1, 10s);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(Body(mails[0]), std::string("Unexpected response (404) from site") + kStamp + "\r\n");
    EXPECT_EQ(h.Store().Read(key::kLastRecovery, 0), "");
    EXPECT_EQ(h.ui.LastUpdate(0)->lastRecovery, "");
    // A fast 404 draws a red bar at its height.
    EXPECT_EQ(FirstPoint(0), "234/2");
}

TEST_F(EngineCheck, AResultNamesTheAddressItProbedNotOneEnteredWhileItRan) {
    // A 503 comes a second late; meanwhile a healthy address is entered.
    LoopbackServer busy(ServerScript::Answer("HTTP/1.0 503 Busy\r\n\r\n", 1s));
    const std::string first = busy.HostAndPort();
    Monitor(first);
    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(busy.WaitForRequests(1, 10s));
    h.ui.Type(0, SharedSite().Url());
    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(h.ui.WaitForReports(1));
    EXPECT_EQ(h.ui.Reports()[0].address, first);
    EXPECT_EQ(h.ErrorLogText(),
              std::string(kLogStamp) + "Unexpected response 503 " + first + "\r\n");
    ASSERT_EQ(sink.WaitForMessages(1, 10s).size(), 1u);
    EXPECT_EQ(Header(sink.Messages()[0], "Subject"), "Alert - " + first);

    // The new address is checked right after, from a clean state.
    for (int wait = 0; wait < 500 && h.engine->ActiveChecks() > 0; ++wait) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 100u);
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Success);
    EXPECT_EQ(Warned(), 0);
}

TEST_F(EngineCheck, ControlBytesOfAnAddressReachNoRequestAndNoLog) {
    LoopbackServer site(ServerScript::Answer("HTTP/1.0 200 OK\r\n\r\n"));
    Monitor(site.HostAndPort() + "/a\r\nHost:\x1b[31mx\n", 0, /*mail=*/false);
    h.Check(0);
    ASSERT_TRUE(site.WaitForRequests(1, 10s));
    EXPECT_EQ(site.Requests()[0], "GET /aHost:[31mx HTTP/1.0\r\n\r\n");
    EXPECT_EQ(h.AccessLogText(),
              std::string(kLogStamp) + "SUCCESS " + site.HostAndPort() + "/aHost:[31mx 234ms\r\n");
}

TEST_F(EngineCheck, UnreachableAlertKeepsTheLastRecovery) {
    const std::string address = "127.0.0.1:" + std::to_string(refusing.Port());
    h.Store().Write(key::kLastRecovery, 0, "earlier");
    Monitor(address);
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Unreachable);
    EXPECT_EQ(Warned(), 1);
    EXPECT_EQ(h.Store().Read(key::kLastRecovery, 0), "earlier");
    EXPECT_EQ(h.ui.LastUpdate(0)->lastRecovery, "earlier");
}

TEST_F(EngineCheck, RedirectAndEmptyAnswersAreUnexpected) {
    Monitor(SharedSite().Url("moved"), 0, /*mail=*/false);
    CheckReport report = h.Check(0);
    EXPECT_EQ(report.outcome, CheckOutcome::UnexpectedResponse);
    EXPECT_EQ(report.statusText, "301");

    LoopbackServer silent(ServerScript::Only(ServerScript::Action::kCloseAfterRequest));
    const std::string address = silent.HostAndPort();
    h.ui.Type(1, address);
    report = h.Check(1);
    EXPECT_EQ(report.outcome, CheckOutcome::UnexpectedResponse);
    const std::string log = h.ErrorLogText();
    EXPECT_NE(log.find("Unexpected response  " + address + "\r\n"), std::string::npos) << log;
}

TEST_F(EngineCheck, SlowAnswersWarnEveryTimeAndRecoverAnOutstandingAlert) {
    const std::string url = SharedSite().Url();
    Monitor(url, /*warned=*/1);
    h.clock->probeMs = 12500;
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Slow);
    const std::string line = std::string(kLogStamp) + "WARNING " + url + " 12500ms\r\n";
    EXPECT_EQ(h.AccessLogText(), line);
    EXPECT_EQ(h.ErrorLogText(), line);
    auto mails = sink.WaitForMessages(2, 10s);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(Header(mails[0], "Subject"), "Warning - " + url);
    EXPECT_EQ(Body(mails[0]),
              std::string("Slow response from website (12500ms)") + kStamp + "\r\n");
    EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"alerts@orvalin.test"});
    EXPECT_EQ(Header(mails[1], "Subject"), "Recovery - " + url);
    EXPECT_EQ(Warned(), 0);
    EXPECT_EQ(FirstPoint(0), "12500/1");

    h.Check(0);  // slow again: a warning, no recovery
    mails = sink.WaitForMessages(3, 10s);
    ASSERT_EQ(mails.size(), 3u);
    EXPECT_EQ(Header(mails[2], "Subject"), "Warning - " + url);
}

TEST_F(EngineCheck, ThresholdIsInclusiveAndReadFromTheWarningBox) {
    Monitor(SharedSite().Url(), 0, /*mail=*/false);
    h.ui.TypeWarning(0, "500");
    h.clock->probeMs = 500;
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Success);
    h.clock->probeMs = 501;
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Slow);
    EXPECT_EQ(h.Store().Read(key::kWarn, 0), 500);

    h.ui.TypeWarning(0, "  250 ms");
    h.clock->probeMs = 251;
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Slow);
    EXPECT_EQ(h.engine->WarnMs(0), 250);

    h.ui.TypeWarning(0, "letters");  // reads as 0: anything above 0 ms is slow
    h.clock->probeMs = 1;
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Slow);
    EXPECT_EQ(h.Store().Read(key::kWarn, 0), 0);

    h.ui.TypeWarning(0, "");  // an empty box keeps the threshold
    h.clock->probeMs = 1;
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Slow);
    EXPECT_EQ(h.engine->WarnMs(0), 0);
}

TEST_F(EngineCheck, AnAnswerWithinAMillisecondIsWellAndTakesOne) {
    const std::string url = SharedSite().Url();
    Monitor(url, 0, /*mail=*/false);
    h.clock->probeMs = 0.4;
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Success);
    EXPECT_EQ(h.ui.LastUpdate(0)->lastAccess, std::string("1ms") + kStamp);
    EXPECT_EQ(FirstPoint(0), "1/0");
    EXPECT_EQ(h.AccessLogText(), std::string(kLogStamp) + "SUCCESS " + url + " 1ms\r\n");
    h.clock->probeMs = 233.5;  // whole milliseconds, rounded to the nearest
    h.Check(0);
    EXPECT_EQ(h.ui.LastUpdate(0)->lastAccess, std::string("234ms") + kStamp);
}

// Without a mail server no notice is tried, and nothing says it failed.
TEST_F(EngineCheck, WithoutMailSetUpTheStateMachineStillMoves) {
    const std::string address = "127.0.0.1:" + std::to_string(refusing.Port());
    Monitor(address, 0, /*mail=*/false);
    h.Check(0);
    EXPECT_EQ(h.Store().Read(key::kLastAlert, 0), "(alert not sent, missing email setup)");
    EXPECT_EQ(Warned(), 1);
    h.Check(0);  // still failing: nothing changes
    EXPECT_EQ(Warned(), 1);

    // A new address starts clean: the old alert ends without a recovery.
    h.ui.Type(0, SharedSite().Url());
    h.Check(0);
    EXPECT_EQ(Warned(), 0);
    EXPECT_EQ(h.Store().Read(key::kLastRecovery, 0), "");
    EXPECT_EQ(h.Store().Read(key::kLastAlert, 0), "");

    h.Store().Write(key::kWarned, 0, 1);
    h.Check(0);
    EXPECT_EQ(h.Store().Read(key::kLastRecovery, 0), "(recovery not sent, missing email setup)");
    EXPECT_EQ(Warned(), 0);

    // A slow answer is logged, and its warning is not tried: no box.
    h.clock->probeMs = 12500;
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Slow);
    EXPECT_NE(h.ErrorLogText().find("WARNING " + SharedSite().Url() + " 12500ms\r\n"),
              std::string::npos);
    EXPECT_EQ(h.ui.Warnings(), std::vector<std::string>{});
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(EngineCheck, RefusedNoticesAreTriedAgainAtTheNextCheck) {
    h.Load();
    h.SetMailServer("127.0.0.1:" + std::to_string(refusing.Port()));
    RefusingPort deadSite;
    h.ui.Type(0, "127.0.0.1:" + std::to_string(deadSite.Port()));

    h.Check(0);
    EXPECT_EQ(Warned(), 0);
    EXPECT_EQ(h.ui.Warnings(), std::vector<std::string>{"ERROR: Failed to connect to SMTP server"});
    h.Check(0);
    EXPECT_EQ(h.ui.Warnings().size(), 2u);
    EXPECT_EQ(Warned(), 0);

    // A recovery that cannot be sent leaves the alert outstanding.
    h.ui.Type(0, SharedSite().Url());
    h.Check(0);  // the address change resets the slot first
    h.Store().Write(key::kWarned, 0, 1);
    h.Check(0);
    EXPECT_EQ(Warned(), 1);
    EXPECT_EQ(h.Store().Read(key::kLastRecovery, 0), kStamp);
}

TEST_F(EngineCheck, HistoryIsKeptTo107Records) {
    Monitor(SharedSite().Url(), 0, /*mail=*/false);
    for (int n = 0; n < 110; ++n) {
        h.clock->probeMs = static_cast<std::uint32_t>(n == 0 ? 500 : 100);
        h.Check(0);
    }
    EXPECT_EQ(h.engine->HistorySize(0), kHistoryLength);
    // The 500 ms record has left the history; the full history scales to
    // twice its average of 100 ms.
    EXPECT_EQ(h.ui.LastUpdate(0)->worstAccess, std::string("100ms") + kStamp);
    EXPECT_EQ(h.engine->GraphScale(0), 200);
}

// The machine slept: the gap is logged once, the check that fell due
// meanwhile runs at once, and a failure it finds counts only when the check
// 20 s later fails too (no red panel, no log line, no alert before).
TEST_F(EngineCheck, AfterASleepTheGapIsLoggedAndAFirstFailureIsCheckedAgainBeforeItCounts) {
    const std::string address = "127.0.0.1:" + std::to_string(refusing.Port()) + "/";
    Monitor(address);
    h.engine->OnIntervalDelta(0, 0);  // the next check a whole interval ahead
    h.ui.Forget();

    h.clock->Suspend(8h + 12min + 30s);
    h.engine->OnTimer(ids::kStartupTimer);  // the first timer to fire after it tells
    h.engine->SystemResumed();              // and so may the front end, to no more effect
    EXPECT_EQ(h.ErrorLogText(), std::string(kLogStamp) +
                                    "Resumed after a sleep of 8h 12m; no checks ran meanwhile\r\n");
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 1'000u);

    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::NotChecked);
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 20'000u);
    for (const auto& call : h.ui.Calls(0)) {
        EXPECT_NE(call.what, "colour") << call.detail;
        EXPECT_NE(call.what, "point") << call.detail;
    }
    EXPECT_EQ(Warned(), 0);
    EXPECT_EQ(h.ErrorLogText().find("Website unreachable"), std::string::npos);

    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Unreachable);
    EXPECT_EQ(Warned(), 1);
    EXPECT_EQ(sink.WaitForMessages(1, 10s).size(), 1u);
    EXPECT_NE(h.ErrorLogText().find(std::string(kLogStamp) + "Website unreachable: " + address),
              std::string::npos);

    // A sleep under an hour is told in minutes and seconds; the first
    // failure after it is checked once more, though an alert is outstanding.
    h.clock->Suspend(7min + 3s);
    h.engine->SystemResumed();
    EXPECT_NE(h.ErrorLogText().find(std::string(kLogStamp) +
                                    "Resumed after a sleep of 7m 3s; no checks ran meanwhile\r\n"),
              std::string::npos);
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::NotChecked);
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Unreachable);
}

}  // namespace
}  // namespace orvalin::test

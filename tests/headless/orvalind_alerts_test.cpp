// The alert settings through the real orvalind against scripted sites and a
// real SMTP server: confirmation by re-probes, grouping, one slow warning per
// episode, reminders and the snooze, counted in mails received.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <string>
#include <thread>

#include "daemon_checks.h"
#include "orvalind_fixture.h"
#include "support/loopback_server.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

const std::string k503 = "HTTP/1.0 503 Service Unavailable\r\n\r\n";
const std::string k200 = "HTTP/1.0 200 OK\r\n\r\n";

std::string Address(const LoopbackServer& server) {
    return "http://" + server.HostAndPort() + "/";
}

// Local time some hours ago, as the store keeps an outage's moments.
std::string HoursAgo(int hours) {
    const std::time_t then = std::time(nullptr) - hours * 3600;
    std::tm local{};
    localtime_r(&then, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

class OrvalindAlertsTest : public OrvalindTest {
  protected:
    void SetUp() override {
        SetUpMail(sink);
        store.Write(IntKey{"Settings", "ConfirmSeconds", 0}, 5);
    }
    void Set(const char* name, std::int32_t value) {
        store.Write(IntKey{"Settings", name, 0}, value);
    }

    SmtpSink sink;
};

TEST_F(OrvalindAlertsTest, ABlipGivesNoMailAndAConfirmedOutageOneAlertAndOneRecovery) {
    Set("ConfirmFailures", 3);
    Set("ConfirmRecoveries", 2);
    LoopbackServer blip(ServerScript::Answers({k503, k200}));
    LoopbackServer down(ServerScript::Answers({k503, k503, k503, k200}));
    Monitor(0, Address(blip));
    Monitor(1, Address(down));

    // One round re-probes 5 s apart: the blip is well at its second check,
    // the outage is confirmed at its third.
    DaemonRun run = RunOrvalind(folders, {"--once"});
    EXPECT_EQ(run.status, kStatusSomeFailing) << run.out << run.err;
    EXPECT_EQ(blip.Requests().size(), 2u);
    EXPECT_EQ(down.Requests().size(), 3u);
    EXPECT_EQ(PrintedChecks(run.out).count(Address(down)), 3u) << run.out;
    EXPECT_EQ(LogLines(ErrorLog()).size(), 4u) << ErrorLog();  // every re-probe is logged
    std::vector<ReceivedMail> mails = sink.WaitForMessages(1, 20s);
    std::this_thread::sleep_for(1s);
    mails = sink.Messages();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(Split(mails[0]).headers[4].second, "Alert - " + Address(down));
    EXPECT_EQ(store.Read(key::kWarned, 0), 0);
    EXPECT_EQ(store.Read(key::kWarned, 1), 1);

    // Well again: the recovery waits for the second good answer and says how
    // long the site was down.
    run = RunOrvalind(folders, {"--once"});
    EXPECT_EQ(run.status, kStatusAllWell) << run.out << run.err;
    EXPECT_EQ(down.Requests().size(), 5u);
    mails = sink.WaitForMessages(2, 20s);
    ASSERT_EQ(mails.size(), 2u);
    const SplitMail recovery = Split(mails[1]);
    EXPECT_EQ(recovery.headers[4].second, "Recovery - " + Address(down));
    EXPECT_TRUE(std::regex_match(
        recovery.body, std::regex(std::string("Website recovered") + kStampPattern +
                                  R"(\r?\n\r?\nDown for 0m \d\ds \(since \d\d/\d\d/\d{4} at )"
                                  R"(\d\d:\d\d:\d\d\)\.)")))
        << recovery.body;
    EXPECT_EQ(store.Read(key::kWarned, 1), 0);
}

TEST_F(OrvalindAlertsTest, SitesFailingTogetherGiveOneGroupedMail) {
    Set("GroupSeconds", 30);
    LoopbackServer first(ServerScript::Answers({k503}));
    LoopbackServer second(ServerScript::Answers({k503}));
    Monitor(0, Address(first));
    Monitor(2, Address(second));

    // The round ends before the 30 s are up: what is queued goes out at the end.
    const DaemonRun run = RunOrvalind(folders, {"--once"});
    EXPECT_EQ(run.status, kStatusSomeFailing) << run.err;
    sink.WaitForMessages(1, 20s);
    std::this_thread::sleep_for(1s);
    const std::vector<ReceivedMail> mails = sink.Messages();
    ASSERT_EQ(mails.size(), 1u);
    const SplitMail grouped = Split(mails[0]);
    EXPECT_EQ(grouped.headers[4].second, "Alert - 2 websites");
    const std::size_t firstAt = grouped.body.find("Alert - " + Address(first));
    const std::size_t secondAt = grouped.body.find("Alert - " + Address(second));
    ASSERT_NE(firstAt, std::string::npos) << grouped.body;
    EXPECT_GT(secondAt, firstAt) << grouped.body;
    EXPECT_NE(grouped.body.find("Unexpected response (503) from site"), std::string::npos);
    EXPECT_EQ(store.Read(key::kWarned, 0), 1);
    EXPECT_EQ(store.Read(key::kWarned, 2), 1);
}

TEST_F(OrvalindAlertsTest, OneSlowWarningPerEpisodeAndRemindersWhileDown) {
    Set("SlowWarnings", 1);
    Set("RemindHours", 2);
    LoopbackServer slow(ServerScript::Answer(k200, 300ms));
    LoopbackServer down(ServerScript::Answers({k503}));
    Monitor(0, Address(slow));
    store.Write(key::kWarn, 0, 100);
    // Slot 1 was alerted three hours ago and last reminded about then.
    Monitor(1, Address(down));
    store.Write(key::kWarned, 1, 1);
    store.Write(SiteStringKey{"DownSince", ""}, 1, HoursAgo(3));
    store.Write(SiteStringKey{"RemindedAt", ""}, 1, HoursAgo(3));

    for (int round = 0; round < 3; ++round) {
        const DaemonRun run = RunOrvalind(folders, {"--once"});
        EXPECT_EQ(run.status, kStatusSomeFailing) << run.err;
    }
    sink.WaitForMessages(2, 20s);
    std::this_thread::sleep_for(1s);
    const std::vector<ReceivedMail> mails = sink.Messages();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(Split(OnlyMailWithSubject(mails, "Warning - " + Address(slow)))
                  .body.find("Slow response from website ("),
              0u);
    const std::string reminder =
        Split(OnlyMailWithSubject(mails, "Still unreachable - " + Address(down))).body;
    EXPECT_TRUE(
        std::regex_match(reminder, std::regex(std::string("Website still unreachable") +
                                              kStampPattern + R"(\r?\n\r?\nDown for 3h 0m .*)")))
        << reminder;
}

TEST_F(OrvalindAlertsTest, SnoozeHoldsTheAlertAndReleasesItOnceAtItsEnd) {
    // Bad input is refused and changes nothing.
    for (const char* bad : {"2x", "0m", "-1h", "h", "169h", "tomorrow 9"}) {
        const DaemonRun refused = RunSettingsTool(folders, {"snooze", bad});
        EXPECT_EQ(refused.status, 2) << bad;
    }
    EXPECT_EQ(store.Read(key::kSnoozeUntil), "");
    const DaemonRun snoozed = RunSettingsTool(folders, {"snooze", "1h"});
    ASSERT_EQ(snoozed.status, 0) << snoozed.err;
    EXPECT_TRUE(std::regex_match(snoozed.out,
                                 std::regex(R"(Alerts snoozed until \d{4}-\d\d-\d\d \d\d:\d\d\n)")))
        << snoozed.out;

    LoopbackServer down(ServerScript::Answers({k503}));
    LoopbackServer blip(ServerScript::Answers({k503, k200}));
    Monitor(0, Address(down));
    Monitor(1, Address(blip));
    const DaemonRun round = RunOrvalind(folders, {"--once"});
    EXPECT_EQ(round.status, kStatusSomeFailing) << round.err;

    // The monitor checks on while snoozed; the site that recovered meanwhile
    // gets one log line, no mail.
    OrvalindProcess daemon(folders, {});
    ASSERT_TRUE(down.WaitForRequests(2, 30s));
    ASSERT_TRUE(blip.WaitForRequests(2, 30s));
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_NE(ErrorLog().find("Failed and recovered while alerts were snoozed: " + Address(blip)),
              std::string::npos)
        << ErrorLog();

    // Its end releases the held alert once.
    ASSERT_EQ(RunSettingsTool(folders, {"snooze", "off"}).status, 0);
    const std::vector<ReceivedMail> mails = sink.WaitForMessages(1, 20s);
    std::this_thread::sleep_for(2s);
    ASSERT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(Split(mails[0]).headers[4].second, "Alert - " + Address(down));
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.WaitForExit(15s), 0) << daemon.Err();
}

}  // namespace
}  // namespace orvalin::test

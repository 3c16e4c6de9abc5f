// Reset and removal of a site, a second tick while a check runs, and shutdown;
// the races among them run under ThreadSanitizer too.
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

ServerScript SlowAnswer(std::string answer, std::chrono::milliseconds after) {
    return ServerScript::Answer(std::move(answer), after);
}

bool WaitUntilIdle(CMonitorEngine& engine) {
    for (int wait = 0; wait < 3000; ++wait) {
        if (engine.ActiveChecks() == 0) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

std::vector<std::string> Kinds(const std::vector<PanelCall>& calls) {
    std::vector<std::string> kinds;
    for (const auto& call : calls) {
        kinds.push_back(call.what + (call.detail.empty() ? "" : " " + call.detail));
    }
    return kinds;
}

const std::vector<std::string> kResetCalls = {"colour face",  "cleartexts",
                                              "cleardata",    "labelwidth 50",
                                              "labelcount 5", "labels n/a|n/a|n/a|n/a|n/a|",
                                              "direction 0",  "labelside 0"};

TEST(SiteReset, ClearsPanelStatisticsAndAlertState) {
    EngineHarness h;
    h.StoreSite(0, SharedSite().Url());
    h.Store().Write(key::kLastAlert, 0, "alerted");
    h.Store().Write(key::kLastRecovery, 0, "recovered");
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    h.clock->probeMs = 2500;
    h.Check(0);
    EXPECT_EQ(h.engine->GraphScale(0), 2500);
    h.Store().Write(key::kWarned, 0, 1);

    h.ui.Forget();
    h.engine->ResetSite(0);
    EXPECT_EQ(Kinds(h.ui.Calls(0)), kResetCalls);
    EXPECT_EQ(h.engine->GraphScale(0), 10);
    EXPECT_EQ(h.engine->HistorySize(0), 0u);
    EXPECT_EQ(h.Store().Read(key::kWarned, 0), 0);
    EXPECT_EQ(h.Store().Read(key::kLastAlert, 0), "");
    EXPECT_EQ(h.Store().Read(key::kLastRecovery, 0), "");
    EXPECT_TRUE(h.engine->IsMonitored(0));

    // The forgotten alert gets no recovery; the next check starts the statistics anew.
    h.clock->probeMs = 234;
    h.Check(0);
    EXPECT_EQ(h.Store().Read(key::kLastRecovery, 0), "");
    EXPECT_EQ(h.ui.LastUpdate(0)->labels[0], "240ms");
    EXPECT_EQ(h.ui.LastUpdate(0)->lastAlert, "");
}

TEST(SiteRemoval, AsksThenForgetsTheSite) {
    EngineHarness h;
    h.StoreSite(1, SharedSite().Url());
    h.Store().Write(key::kInterval, 1, 7);
    h.Load();
    h.engine->OnPollButton(1);

    h.ui.answerYes = false;
    h.engine->RemoveSite(1);
    EXPECT_EQ(h.ui.Questions(),
              std::vector<std::string>{"Are you sure you want to stop monitoring " +
                                       SharedSite().Url() + "?"});
    EXPECT_TRUE(h.engine->IsMonitored(1));
    EXPECT_EQ(h.ui.Timers().count(ids::PollTimer(1)), 1u);

    h.ui.answerYes = true;
    h.ui.Forget();
    h.engine->RemoveSite(1);
    EXPECT_FALSE(h.engine->IsMonitored(1));
    EXPECT_EQ(h.ui.Timers().count(ids::PollTimer(1)), 0u);
    EXPECT_EQ(h.Store().Read(key::kLastWebsite, 1), "");
    EXPECT_EQ(h.Store().Read(key::kLastWebsiteTitle, 1), "");
    std::vector<std::string> expected = {"caption Website 2", "address", "focus"};
    expected.insert(expected.end(), kResetCalls.begin(), kResetCalls.end());
    EXPECT_EQ(Kinds(h.ui.Calls(1)), expected);
    EXPECT_EQ(h.ui.layouts, 1);

    // Nothing monitored: a second press asks nothing.
    h.engine->RemoveSite(1);
    EXPECT_EQ(h.ui.Questions().size(), 1u);

    // After a restart the slot is empty and keeps its interval.
    EngineHarness restarted;
    restarted.store = h.store;
    restarted.engine =
        std::make_unique<CMonitorEngine>(FrontEnd{restarted.ui, restarted.ui, restarted.ui,
                                                  restarted.ui, restarted.ui, restarted.ui},
                                         h.store, restarted.clock);
    restarted.Load();
    EXPECT_FALSE(restarted.engine->IsMonitored(1));
    EXPECT_EQ(restarted.engine->IntervalMinutes(1), 7);
}

TEST(CheckRaces, ATickDuringACheckStartsNoSecondCheckButOneAfterIt) {
    EngineHarness h;
    LoopbackServer server(SlowAnswer("HTTP/1.0 200 OK\r\n\r\n", 400ms));
    h.Load();
    h.ui.Type(0, "http://" + server.HostAndPort() + "/");

    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(server.WaitForRequests(1, 10s));
    h.engine->OnPollButton(0);
    h.engine->OnTimer(ids::PollTimer(0));  // due while the check runs
    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(h.ui.WaitForReports(1));
    ASSERT_TRUE(WaitUntilIdle(*h.engine));
    EXPECT_EQ(server.Requests().size(), 1u);
    // The pending tick comes back a tenth of a second after the check.
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 100u);

    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(h.ui.WaitForReports(2));
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 14u * 60'000 + 59'000);
}

TEST(CheckRaces, AResetDuringACheckLetsItFillTheFreshSlot) {
    EngineHarness h;
    LoopbackServer server(SlowAnswer("HTTP/1.0 200 OK\r\n\r\n", 300ms));
    const std::string address = "http://" + server.HostAndPort() + "/";
    h.StoreSite(0, address);
    h.Load();
    h.ui.Type(0, address);
    for (int round = 0; round < 3; ++round) {
        const std::size_t reports = h.ui.Reports().size();
        h.engine->OnTimer(ids::PollTimer(0));
        for (int n = 0; n < 20; ++n) {
            h.engine->ResetSite(0);  // races the running check
        }
        ASSERT_TRUE(h.ui.WaitForReports(reports + 1));
        EXPECT_EQ(h.ui.Reports().back().outcome, CheckOutcome::Success);
        ASSERT_TRUE(WaitUntilIdle(*h.engine));
        EXPECT_LE(h.engine->HistorySize(0), 1u);
    }
}

TEST(CheckRaces, ARemovalDuringACheckDropsItsResults) {
    EngineHarness h;
    SmtpSink sink;
    LoopbackServer server(SlowAnswer("HTTP/1.0 404 Not Found\r\n\r\n", 400ms));
    const std::string address = "http://" + server.HostAndPort() + "/";
    h.StoreSite(0, address);
    h.Load();
    h.SetMailServer(sink.Address());
    h.ui.Type(0, address);

    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(server.WaitForRequests(1, 10s));
    h.ui.Forget();
    h.engine->RemoveSite(0);
    const auto removalCalls = h.ui.Calls(0);
    ASSERT_TRUE(WaitUntilIdle(*h.engine));

    EXPECT_EQ(h.ui.Calls(0).size(), removalCalls.size());  // nothing drawn after the removal
    EXPECT_TRUE(h.ui.Reports().empty());
    EXPECT_EQ(h.ErrorLogText(), "");
    EXPECT_EQ(h.Store().Read(key::kWarned, 0), 0);
    EXPECT_EQ(h.Store().Read(key::kLastAlert, 0), "");
    EXPECT_EQ(h.Store().Read(key::kLastWebsite, 0), "");
    EXPECT_EQ(h.ui.Timers().count(ids::PollTimer(0)), 0u);  // nothing re-arms it
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(sink.Messages().empty());
}

TEST(Shutdown, WaitsForARunningCheckToEnd) {
    EngineHarness h;
    LoopbackServer server(SlowAnswer("HTTP/1.0 200 OK\r\n\r\n", 300ms));
    h.clock->realSleeps = true;
    h.Load();
    h.ui.Type(0, "http://" + server.HostAndPort() + "/");
    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(server.WaitForRequests(1, 10s));

    h.engine->Shutdown();
    EXPECT_EQ(h.engine->ActiveChecks(), 0);
    EXPECT_NE(h.AccessLogText().find("SUCCESS"), std::string::npos);
    EXPECT_TRUE(h.ui.Timers().empty());  // the check's re-arm was refused
}

TEST(Shutdown, ACheckThatOutlivesTheWaitTouchesNothing) {
    TempDir dir;
    auto store = std::make_shared<SettingsStore>(dir / "settings.db");
    store->Write(key::kAccessLogFile, (dir / "access.log").string());
    store->Write(key::kErrorLogFile, (dir / "error.log").string());
    auto clock = std::make_shared<FakeClock>();  // the exit wait passes at once
    LoopbackServer server(ServerScript::Only(ServerScript::Action::kStaySilent));

    auto ui = std::make_unique<RecordingFrontEnd>();
    auto engine =
        std::make_unique<CMonitorEngine>(FrontEnd{*ui, *ui, *ui, *ui, *ui, *ui}, store, clock);
    engine->LoadSettings();
    ui->Type(0, "http://" + server.HostAndPort() + "/");
    engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(server.WaitForRequests(1, 10s));

    engine->Shutdown();
    EXPECT_EQ(engine->ActiveChecks(), 1);
    engine.reset();
    ui.reset();     // the front end is gone while the check still waits
    server.Stop();  // now the probe returns and the check goes on

    // The check holds the clock until it ends.
    for (int wait = 0; wait < 3000 && clock.use_count() > 1; ++wait) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(clock.use_count(), 1);
    EXPECT_EQ(ReadFileBytes(dir / "error.log"), "");
    EXPECT_EQ(store->Read(key::kWarned, 0), 0);
}

}  // namespace
}  // namespace orvalin::test

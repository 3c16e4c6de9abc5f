// The engine under pressure from its surroundings: bad slot numbers, a front
// end that calls back, a store locked by another process, boxes that wait,
// a program ended from inside a dialog, removal racing a tick, no threads.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <future>
#include <thread>

#include "engine/engine_harness.h"
#include "resources/resource_ids.h"
#include "support/nginx_server.h"
#include "support/smtp_servers.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

// Holds the database's write lock from another connection, as a second
// program writing the store would.
class HeldWriteLock {
  public:
    explicit HeldWriteLock(const std::filesystem::path& db) {
        sqlite3_open(db.c_str(), &db_);
        sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        held_ = sqlite3_exec(db_, "INSERT OR REPLACE INTO setting VALUES ('Settings', 'x', 1)",
                             nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~HeldWriteLock() {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }
    bool Held() const { return held_; }

  private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
};

// Starts no thread itself: jobs wait until the test runs them.
struct QueuedThreads {
    std::vector<std::function<void()>> jobs;
    CMonitorEngine::ThreadStarter Starter() {
        return [this](std::function<void()> job) {
            jobs.push_back(std::move(job));
            return true;
        };
    }
    void RunAll() {
        for (auto& job : jobs) {
            job();
        }
        jobs.clear();
    }
};

TEST(EngineGuards, SlotsOutsideZeroToThreeAreRefused) {
    EngineHarness h;
    h.Load();
    for (const int bad : {-1, 4, 99}) {
        EXPECT_FALSE(h.engine->PollNow(bad));
        h.engine->OnPollButton(bad);
        EXPECT_EQ(h.engine->OnIntervalDelta(bad, -1), 0);
        h.engine->ResetSite(bad);
        h.engine->RemoveSite(bad);
        EXPECT_FALSE(h.engine->IsMonitored(bad));
        EXPECT_EQ(h.engine->SiteAddress(bad), "");
    }
    EXPECT_TRUE(h.ui.Timers().empty());
    EXPECT_FALSE(h.Store().Get("Settings", "Interval4"));
}

TEST(EngineGuards, AFrontEndMayAskTheEngineFromInsideAPanelUpdate) {
    EngineHarness h;
    h.Load();
    std::string seen;
    h.ui.onPanelUpdate = [&](int slot) {
        seen = h.engine->IsMonitored(slot) ? h.engine->SiteAddress(slot) : "not monitored";
    };
    h.ui.Type(0, SharedSite().Url());
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Success);
    EXPECT_EQ(seen, SharedSite().Url());
}

TEST(EngineGuards, AStoreLockedByAnotherProgramDoesNotHoldTheFrontEndThread) {
    EngineHarness h;
    RefusingPort refusing;
    const std::string dead = "127.0.0.1:" + std::to_string(refusing.Port());
    h.Load();
    h.ui.TypeWarning(0, "");  // the tick itself then writes nothing
    h.ui.Type(0, dead);
    {
        HeldWriteLock other(h.dir / "settings.db");
        ASSERT_TRUE(other.Held());
        h.engine->OnTimer(ids::PollTimer(0));
        // The new site's check has handed its address to the store's writer.
        std::this_thread::sleep_for(300ms);

        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(h.engine->IsMonitored(0));
        h.engine->OnPollButton(0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }
    ASSERT_TRUE(h.ui.WaitForReports(1));
    // The store's writer held the check's writes until the lock went.
    ASSERT_TRUE(h.Store().WaitForQueuedWrites(10s));
    const SettingsStore other(h.dir / "settings.db");
    EXPECT_EQ(other.Read(key::kLastWebsite, 0), dead);
    EXPECT_EQ(other.Read(key::kLastAlert, 0), "(alert not sent, missing email setup)");
}

TEST(EngineGuards, AResetWhileTheStoreIsLockedIsSeenByTheNextCheckAndLandsLater) {
    EngineHarness h;
    RefusingPort refusing;
    const std::string dead = "127.0.0.1:" + std::to_string(refusing.Port());
    h.StoreSite(0, dead);
    h.Store().Write(key::kWarned, 0, 1);  // this failure streak was alerted already
    h.Load();
    h.ui.Type(0, dead);
    {
        HeldWriteLock other(h.dir / "settings.db");
        ASSERT_TRUE(other.Held());
        const auto start = std::chrono::steady_clock::now();
        h.engine->ResetSite(0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        // The check reads the reset it follows, although it is not written yet.
        EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Unreachable);
        ASSERT_TRUE(h.ui.LastUpdate(0).has_value());
        EXPECT_EQ(h.ui.LastUpdate(0)->lastAlert, "(alert not sent, missing email setup)");
    }
    ASSERT_TRUE(h.Store().WaitForQueuedWrites(10s));
    const SettingsStore after(h.dir / "settings.db");
    EXPECT_EQ(after.Read(key::kWarned, 0), 1);
    EXPECT_EQ(after.Read(key::kLastAlert, 0), "(alert not sent, missing email setup)");
}

TEST(EngineGuards, ShutdownReleasesAWorkerWaitingOnAMessageBox) {
    EngineHarness h;
    RefusingPort refusing;
    h.Load();
    h.SetMailServer("127.0.0.1:" + std::to_string(refusing.Port()));
    h.ui.boxesWaitForClosing = true;
    h.ui.TypeWarning(0, "0");  // every answer is slow: a warning mail, which fails
    h.ui.Type(0, SharedSite().Url());
    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(h.ui.WaitForWarnings(1));

    auto shutdown = std::async(std::launch::async, [&] { h.engine->Shutdown(); });
    ASSERT_EQ(shutdown.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(h.ui.closingNotices, 1);
    EXPECT_EQ(h.engine->ActiveChecks(), 0);
    EXPECT_EQ(h.ui.Warnings().front(), "ERROR: Failed to connect to SMTP server");
}

TEST(EngineGuards, NoTickGoesOnAfterTheProgramEndedInsideTheEmailDialog) {
    EngineHarness h;
    QueuedThreads threads;
    h.engine->SetThreadStarter(threads.Starter());
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    h.ui.onEmailSettings = [&] { h.engine->Shutdown(); };

    EXPECT_FALSE(h.engine->PollNow(0));
    EXPECT_EQ(h.ui.emailPrompts, 1);
    EXPECT_TRUE(threads.jobs.empty());
    EXPECT_EQ(h.engine->ActiveChecks(), 0);
    EXPECT_FALSE(h.Store().Get("Settings", "Warn0"));
}

TEST(EngineGuards, ARemovedSiteDoesNotComeBackFromATickInsideTheQuestion) {
    EngineHarness h;
    QueuedThreads threads;
    h.engine->SetThreadStarter(threads.Starter());
    h.StoreSite(1, SharedSite().Url());
    h.Load();
    h.engine->OnTimer(ids::kStartupTimer);  // the stored address into the box
    // The slot's timer fires while the user reads the question.
    h.ui.onQuestion = [&] { h.engine->OnTimer(ids::PollTimer(1)); };
    h.engine->RemoveSite(1);
    ASSERT_EQ(threads.jobs.size(), 1u);

    threads.RunAll();  // the check that tick started runs after the removal
    EXPECT_FALSE(h.engine->IsMonitored(1));
    EXPECT_EQ(h.Store().Read(key::kLastWebsite, 1), "");
    EXPECT_EQ(h.Store().Read(key::kLastWebsiteTitle, 1), "");
    EXPECT_TRUE(h.ui.Reports().empty());
    EXPECT_EQ(h.AccessLogText(), "");
    EXPECT_EQ(h.ui.Timers().count(ids::PollTimer(1)), 0u);
}

TEST(EngineGuards, ACheckWithoutAThreadIsLoggedAndTriedAgainAfterAnInterval) {
    EngineHarness h;
    h.engine->SetThreadStarter([](std::function<void()>) { return false; });
    h.Load();
    h.ui.Type(2, SharedSite().Url());
    EXPECT_FALSE(h.engine->PollNow(2));
    EXPECT_EQ(h.ErrorLogText(),
              std::string(kLogStamp) +
                  "Check not started (no thread available): " + SharedSite().Url() + "\r\n");
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(2)), 15u * 60'000);
    EXPECT_EQ(h.engine->ActiveChecks(), 0);
    // The slot is not stuck: once threads can start again, the tick checks.
    h.engine->SetThreadStarter(StartDetachedThread);
    EXPECT_EQ(h.Check(2).outcome, CheckOutcome::Success);
}

}  // namespace
}  // namespace orvalin::test

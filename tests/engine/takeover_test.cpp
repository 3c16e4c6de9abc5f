// What another program commits to the store while the engine runs is taken
// over (a slot's address, interval and threshold, the mail and log settings),
// and the engine never writes its own older copy back over it.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "engine/engine_harness.h"
#include "resources/resource_ids.h"
#include "support/smtp_servers.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

bool WaitUntil(const std::function<bool()>& done) {
    for (int wait = 0; wait < 1000 && !done(); ++wait) {
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

bool Has(const std::vector<PanelCall>& calls, const std::string& what) {
    return std::any_of(calls.begin(), calls.end(),
                       [&](const PanelCall& call) { return call.what == what; });
}

// A second program on the same store file, as orvalin-settings is.
class EngineTakeover : public ::testing::Test {
  protected:
    // What `orvalin-settings site` writes for a new address.
    void OtherSetsSite(int slot, const std::string& address) {
        ASSERT_TRUE(other.Write(SettingsBatch()
                                    .Set(key::kWarned, slot, 0)
                                    .Set(key::kLastAlert, slot, "")
                                    .Set(key::kLastRecovery, slot, "")
                                    .Set(key::kLastWebsite, slot, address)
                                    .Set(key::kLastWebsiteTitle, slot, address)));
    }

    EngineHarness h;
    RefusingPort refusing;
    std::string dead = "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/";
    SettingsStore other{h.dir / "settings.db"};
};

TEST_F(EngineTakeover, AChangedAddressIsCheckedAtOnceFromACleanSlotAndNotWrittenBack) {
    h.StoreSite(0, dead);
    h.Load();
    h.engine->Start();
    h.ui.Type(0, dead);
    ASSERT_EQ(h.Check(0).outcome, CheckOutcome::Unreachable);
    ASSERT_EQ(h.engine->HistorySize(0), 1u);
    h.ui.Forget();

    OtherSetsSite(0, SharedSite().Url());
    ASSERT_TRUE(WaitUntil([&] { return h.engine->SiteAddress(0) == SharedSite().Url(); }));
    EXPECT_EQ(h.ui.AddressBoxText(0), SharedSite().Url());
    EXPECT_EQ(h.ui.Caption(0), SharedSite().Url());
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 100u);  // as Enter does
    EXPECT_EQ(h.engine->HistorySize(0), 0u);
    EXPECT_TRUE(Has(h.ui.Calls(0), "cleartexts"));

    const CheckReport report = h.Check(0);
    EXPECT_EQ(report.outcome, CheckOutcome::Success);
    EXPECT_EQ(report.address, SharedSite().Url());
    ASSERT_TRUE(h.Store().WaitForQueuedWrites(10s));
    EXPECT_EQ(other.Read(key::kLastWebsite, 0), SharedSite().Url());
    EXPECT_EQ(other.Read(key::kLastAlert, 0), "");
}

TEST_F(EngineTakeover, IntervalThresholdMailAndLogSettingsAreTakenOver) {
    h.StoreSite(2, dead);
    h.Load();
    h.engine->Start();

    const std::string accessLog = (h.dir / "elsewhere.log").string();
    ASSERT_TRUE(other.Write(SettingsBatch()
                                .Set(key::kInterval, 2, 7)
                                .Set(key::kWarn, 2, 300)
                                .Set(key::kSmtp, "mail.example.org:2525")
                                .Set(key::kSmtpAlert, "ops@example.org")
                                .Set(key::kAccessLogFile, accessLog)
                                .Set(key::kDoErrorLog, 0)));
    ASSERT_TRUE(WaitUntil([&] { return h.engine->IntervalMinutes(2) == 7; }));
    EXPECT_EQ(h.ui.IntervalBoxText(2), "7");
    EXPECT_EQ(h.engine->WarnMs(2), 300);
    EXPECT_EQ(h.ui.WarningBoxText(2), "300");
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(2)), 7u * 60'000u);
    ASSERT_TRUE(WaitUntil([&] { return h.engine->Mail().server == "mail.example.org:2525"; }));
    EXPECT_EQ(h.engine->Mail().alertRecipient, "ops@example.org");
    EXPECT_EQ(h.engine->Logging().accessLogFile, accessLog);
    EXPECT_FALSE(h.engine->Logging().doErrorLog);
    EXPECT_EQ(h.engine->Logging().errorLogFile, h.ErrorLog());
}

TEST_F(EngineTakeover, ATickNeverWritesBackWhatItsBoxesHeldBeforeAnotherProgramsChange) {
    // Nothing is taken over here (the engine was not started): the boxes
    // keep the old site and threshold, and the tick must not store them.
    h.StoreSite(0, SharedSite().Url());
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    OtherSetsSite(0, dead);
    ASSERT_TRUE(other.Write(key::kWarn, 0, 5000));

    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Success);
    ASSERT_TRUE(h.Store().WaitForQueuedWrites(10s));
    EXPECT_EQ(other.Read(key::kWarn, 0), 5000);
    EXPECT_EQ(other.Read(key::kLastWebsite, 0), dead);
    EXPECT_EQ(other.Read(key::kLastWebsiteTitle, 0), dead);
}

}  // namespace
}  // namespace orvalin::test

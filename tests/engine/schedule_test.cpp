// Start-up, poll timers, the Poll button and the interval arrows.
#include <gtest/gtest.h>

#include "engine/engine_harness.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"
#include "support/nginx_server.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

TEST(EngineSchedule, StartArmsTheStartupTimerAndSpreadsTheFirstPolls) {
    EngineHarness h;
    h.Load();
    h.engine->Start();
    EXPECT_EQ(h.ui.Timers(), (std::map<int, std::uint32_t>{
                                 {245, 40}, {312, 300}, {313, 350}, {314, 400}, {315, 450}}));
    EXPECT_FALSE(h.engine->OnTimer(999));  // not ours
}

TEST(EngineSchedule, LoadFillsBoxesAndSlotsFromTheStore) {
    EngineHarness h;
    h.Store().Write(key::kInterval, 1, 3);
    h.Store().Write(key::kWarn, 2, 700);
    h.StoreSite(2, "http://kept.example/");
    // An address without its title: monitored, but with an empty address.
    h.Store().Write(key::kLastWebsite, 1, "http://half.example/");
    h.Store().Write(key::kStartHidden, 1);
    h.Store().Write(key::kAccessLogFile, "");
    h.Load();

    EXPECT_EQ(h.ui.IntervalBoxText(0), "15");
    EXPECT_EQ(h.ui.IntervalBoxText(1), "3");
    EXPECT_EQ(h.ui.WarningBoxText(0), "10000");
    EXPECT_EQ(h.ui.WarningBoxText(2), "700");
    EXPECT_FALSE(h.engine->IsMonitored(0));
    EXPECT_TRUE(h.engine->IsMonitored(1));
    EXPECT_EQ(h.engine->SiteAddress(1), "");
    EXPECT_TRUE(h.engine->IsMonitored(2));
    // An empty log file name becomes the default and is written back.
    const std::string defaultAccess = (h.dir / "state" / "orvalin" / "access.log").string();
    EXPECT_EQ(h.engine->Logs().AccessLogFile(), defaultAccess);
    EXPECT_EQ(h.Store().Read(key::kAccessLogFile), defaultAccess);
    EXPECT_EQ(h.engine->Logs().ErrorLogFile(), h.ErrorLog());

    h.engine->OnTimer(ids::kStartupTimer);
    EXPECT_EQ(h.ui.hides, 1);
    EXPECT_EQ(h.ui.Caption(2), "http://kept.example/");
    EXPECT_EQ(h.ui.AddressBoxText(2), "http://kept.example/");
    EXPECT_EQ(h.ui.AddressBoxText(1), "");
    EXPECT_EQ(h.ui.Timers().count(ids::kStartupTimer), 0u);
}

TEST(EngineSchedule, TickWithoutAnAddressStopsPollingTheSlot) {
    EngineHarness h;
    h.Load();
    for (const std::string& box :
         {std::string(), std::string("   \t"), std::string(text::kAddressPlaceholders[1])}) {
        h.engine->OnPollButton(1);
        h.ui.Type(1, box);
        EXPECT_TRUE(h.engine->OnTimer(ids::PollTimer(1)));
        EXPECT_EQ(h.ui.Timers().count(ids::PollTimer(1)), 0u) << "box: " << box;
        EXPECT_EQ(h.engine->ActiveChecks(), 0);
    }
    // Another slot's placeholder is an address like any other text.
    h.ui.Type(1, std::string(text::kAddressPlaceholders[0]));
    EXPECT_EQ(h.Check(1).outcome, CheckOutcome::Unreachable);
    EXPECT_TRUE(h.ui.Reports().size() == 1u);
}

TEST(EngineSchedule, FirstTickOfSlotZeroOffersTheEmailSettingsOnce) {
    EngineHarness h;
    h.Load();
    h.engine->OnTimer(ids::PollTimer(1));
    EXPECT_EQ(h.ui.emailPrompts, 0);
    h.engine->OnTimer(ids::PollTimer(0));
    h.engine->OnTimer(ids::PollTimer(0));
    EXPECT_EQ(h.ui.emailPrompts, 1);

    EngineHarness configured;
    configured.Store().Write(key::kSmtp, "127.0.0.1");
    configured.Load();
    configured.engine->OnTimer(ids::PollTimer(0));
    EXPECT_EQ(configured.ui.emailPrompts, 0);
}

TEST(EngineSchedule, NewAddressIsProbedRememberedAndShown) {
    EngineHarness h;
    h.Load();
    h.ui.Type(3, "  " + SharedSite().Url() + " ");
    const CheckReport report = h.Check(3);
    EXPECT_EQ(report.outcome, CheckOutcome::Success);
    EXPECT_EQ(report.address, SharedSite().Url());
    EXPECT_TRUE(h.engine->IsMonitored(3));
    EXPECT_EQ(h.Store().Read(key::kLastWebsite, 3), SharedSite().Url());
    EXPECT_EQ(h.Store().Read(key::kLastWebsiteTitle, 3), SharedSite().Url());
    EXPECT_EQ(h.ui.Caption(3), SharedSite().Url());
    EXPECT_EQ(h.Store().Read(key::kWarn, 3), 10000);  // written from the box at the tick
}

TEST(EngineSchedule, ChecksAreReArmedOneSecondShortOfTheInterval) {
    EngineHarness h;
    h.Store().Write(key::kInterval, 0, 1);
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    h.Check(0);
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 59'000u);

    // A stored interval below one minute counts as one minute: never a
    // period of 0 that would poll without pause.
    for (const int stored : {0, -3}) {
        h.Store().Write(key::kInterval, 0, stored);
        h.Load();
        h.Check(0);
        EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 59'000u) << stored;
    }
}

TEST(EngineSchedule, PollButtonArmsATenthOfASecond) {
    EngineHarness h;
    h.Load();
    h.engine->OnPollButton(2);
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(2)), 100u);
}

TEST(EngineSchedule, IntervalArrowsStepTheIntervalWithAFloorOfOne) {
    EngineHarness h;
    h.Load();
    auto arrow = [&](int slot, int delta) {
        EXPECT_EQ(h.engine->OnIntervalDelta(slot, delta), 0);
        return h.ui.IntervalBoxText(slot);
    };
    EXPECT_EQ(arrow(0, -1), "16");  // up
    EXPECT_EQ(h.Store().Read(key::kInterval, 0), 16);
    EXPECT_EQ(h.engine->IntervalMinutes(0), 16);
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(0)), 16u * 60'000);

    h.ui.TypeInterval(1, "1");
    EXPECT_EQ(arrow(1, +1), "1");  // down at 1 stays 1
    h.ui.TypeInterval(1, "");
    EXPECT_EQ(arrow(1, -1), "6");  // an empty box counts as 5
    h.ui.TypeInterval(1, "");
    EXPECT_EQ(arrow(1, +1), "4");
    h.ui.TypeInterval(1, "99");
    EXPECT_EQ(arrow(1, -1), "100");  // no upper bound
    h.ui.TypeInterval(1, "abc");
    EXPECT_EQ(arrow(1, -1), "1");
    h.ui.TypeInterval(1, "2147483647");
    EXPECT_EQ(arrow(1, -1), "2147483647");  // no wrap past the largest number
    EXPECT_EQ(h.ui.Timers().at(ids::PollTimer(1)), 2147483647u);
}

}  // namespace
}  // namespace orvalin::test

// What the front end is shown as notices go out, and the tray while snoozed.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "engine/engine_harness.h"
#include "support/smtp_servers.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;

TEST(Notices, EachAlertAndRecoveryAndTheFirstSlowAnswerAreShownOnceUnlessSwitchedOff) {
    EngineHarness h;
    RefusingPort refusing;
    const std::string dead = "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/";
    // Slot 3 was alerted in an earlier run.
    h.StoreSite(3, SharedSite().Url());
    h.Store().Write(key::kWarned, 3, 1);
    h.Load();                // no email set up: shown all the same
    h.engine->OnTimer(245);  // the stored address into the box

    h.ui.Type(0, dead);
    h.Check(0);
    h.Check(0);  // the same outage
    h.ui.Type(1, SharedSite().Url());
    h.ui.TypeWarning(1, "0");
    h.Check(1);
    h.Check(1);  // the same slow episode
    std::vector<Notice> shown = h.ui.Notices();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].kind, NoticeKind::Alert);
    EXPECT_EQ(shown[0].siteSlots, std::vector<int>{0});
    EXPECT_EQ(shown[0].subject, "Alert - " + dead);
    EXPECT_EQ(shown[1].kind, NoticeKind::SlowWarning);
    EXPECT_EQ(shown[1].subject, "Warning - " + SharedSite().Url());

    h.Check(3);
    shown = h.ui.Notices();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2].kind, NoticeKind::Recovery);
    EXPECT_EQ(shown[2].body.find("Website recovered on "), 0u) << shown[2].body;

    h.Store().Write(IntKey{"Settings", "DesktopNotices", 1}, 0);
    h.ui.Type(2, dead);
    h.Check(2);
    EXPECT_EQ(h.ui.Notices().size(), 3u);
}

TEST(Notices, TheTrayTellsTheSnoozeUntilItIsResumed) {
    EngineHarness h;
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    h.Check(0);
    h.ui.RunDelayed();
    const auto until = std::chrono::system_clock::now() + 3h;
    h.engine->SnoozeAlerts(until);
    const std::time_t end = std::chrono::system_clock::to_time_t(until);
    std::tm local{};
    localtime_r(&end, &local);
    char hhmm[8];
    std::strftime(hhmm, sizeof hhmm, "%H:%M", &local);
    ASSERT_FALSE(h.ui.Tray().empty());
    EXPECT_EQ(h.ui.Tray().back(),
              std::make_pair(128, "Orvalin\n" + SharedSite().Url() + "\nAlerts snoozed until " +
                                      std::string(hhmm)));
    ASSERT_TRUE(h.engine->SnoozedUntil().has_value());

    h.engine->ResumeAlerts();
    EXPECT_EQ(h.ui.Tray().back(), std::make_pair(128, "Orvalin\n" + SharedSite().Url()));
    EXPECT_FALSE(h.engine->SnoozedUntil().has_value());
}

}  // namespace
}  // namespace orvalin::test

// The tray summary after every probe.
#include <gtest/gtest.h>

#include <thread>

#include "engine/engine_harness.h"
#include "resources/resource_ids.h"
#include "support/nginx_server.h"
#include "support/smtp_servers.h"

namespace orvalin::test {
namespace {

using namespace std::chrono_literals;
using Tray = std::vector<std::pair<int, std::string>>;

Tray Animation(const std::string& address) {
    const std::string tip = "Orvalin\n" + address;
    return {{131, tip}, {132, tip}, {133, tip}, {134, tip}, {128, tip}};
}

TEST(TraySummary, AnimatesThenSettlesOnTheNormalIcon) {
    EngineHarness h;
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    h.Check(0);
    EXPECT_EQ(h.ui.Tray(), Animation(SharedSite().Url()));
    EXPECT_EQ(h.clock->Sleeps(), (std::vector<std::uint32_t>{120, 120, 120, 120}));
}

TEST(TraySummary, UnreachableOutranksSlowAndAFast404CountsAsWell) {
    EngineHarness h;
    RefusingPort refusing;
    const std::string dead = "127.0.0.1:" + std::to_string(refusing.Port());
    h.Load();

    h.ui.Type(0, SharedSite().Url("missing"));
    h.Check(0);
    EXPECT_EQ(h.ui.Tray(), Animation(SharedSite().Url("missing")));

    h.ui.Forget();
    h.ui.TypeWarning(1, "0");
    h.ui.Type(1, SharedSite().Url());
    h.Check(1);
    Tray expected = Animation(SharedSite().Url());
    expected.emplace_back(142, "Orvalin\nAt least one website in slow");
    EXPECT_EQ(h.ui.Tray(), expected);

    h.ui.Forget();
    h.ui.Type(2, dead);
    h.Check(2);
    expected = Animation(dead);
    expected.emplace_back(138, "Orvalin\nAt least one website in unreachable");
    EXPECT_EQ(h.ui.Tray(), expected);

    // Once the unreachable site is gone, the next probe shows the slow one.
    h.engine->RemoveSite(2);
    h.ui.Forget();
    h.Check(0);
    expected = Animation(SharedSite().Url("missing"));
    expected.emplace_back(142, "Orvalin\nAt least one website in slow");
    EXPECT_EQ(h.ui.Tray(), expected);
}

TEST(TraySummary, AProbeDuringAnotherSummaryGetsNone) {
    EngineHarness h;
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    h.ui.Type(1, SharedSite().Url("missing"));

    h.clock->HoldSleeps();
    h.engine->OnTimer(ids::PollTimer(0));
    ASSERT_TRUE(h.clock->WaitUntilSleeping(10s));  // slot 0 is animating

    const CheckReport second = h.Check(1);  // runs through while slot 0 animates
    EXPECT_EQ(second.outcome, CheckOutcome::UnexpectedResponse);
    h.clock->ReleaseSleeps();
    ASSERT_TRUE(h.ui.WaitForReports(2));

    for (const auto& [icon, tip] : h.ui.Tray()) {
        EXPECT_EQ(tip.find("missing"), std::string::npos) << icon << " " << tip;
    }
    EXPECT_EQ(h.clock->Sleeps().size(), 4u);
}

}  // namespace
}  // namespace orvalin::test

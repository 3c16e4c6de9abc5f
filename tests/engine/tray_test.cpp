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

// The frames after the first come as timed steps on the front-end thread.
Tray RunAnimation(EngineHarness& h) {
    EXPECT_EQ(h.ui.RunDelayed(), (std::vector<std::uint64_t>{120, 240, 360, 480}));
    return h.ui.Tray();
}

TEST(TraySummary, AnimatesThenSettlesOnTheNormalIcon) {
    EngineHarness h;
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    h.Check(0);
    // The check has ended with only the first frame shown: it never waits.
    const std::string tip = "Orvalin\n" + SharedSite().Url();
    EXPECT_EQ(h.ui.Tray(), (Tray{{131, tip}}));
    EXPECT_EQ(RunAnimation(h), Animation(SharedSite().Url()));
    EXPECT_TRUE(h.clock->Sleeps().empty());
}

TEST(TraySummary, NoTrayNoAnimation) {
    EngineHarness h;
    h.ui.hasTray = false;
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::Success);
    EXPECT_TRUE(h.ui.RunDelayed().empty());
    EXPECT_TRUE(h.ui.Tray().empty());
}

// Any failed check counts as failing, an answer other than 200 as much as no
// answer at all, and failing outranks slow.
TEST(TraySummary, A404CountsAsFailingAndFailingOutranksSlow) {
    EngineHarness h;
    RefusingPort refusing;
    const std::string dead = "127.0.0.1:" + std::to_string(refusing.Port());
    const std::pair<int, std::string> failing{138, "Orvalin\nAt least one website in unreachable"};
    h.Load();

    h.ui.Type(0, SharedSite().Url("missing"));
    EXPECT_EQ(h.Check(0).outcome, CheckOutcome::UnexpectedResponse);
    Tray expected = Animation(SharedSite().Url("missing"));
    expected.push_back(failing);
    EXPECT_EQ(RunAnimation(h), expected);

    h.ui.Forget();
    h.ui.TypeWarning(1, "0");
    h.ui.Type(1, SharedSite().Url());
    EXPECT_EQ(h.Check(1).outcome, CheckOutcome::Slow);
    expected = Animation(SharedSite().Url());
    expected.push_back(failing);
    EXPECT_EQ(RunAnimation(h), expected);

    h.ui.Forget();
    h.ui.Type(2, dead);
    h.Check(2);
    expected = Animation(dead);
    expected.push_back(failing);
    EXPECT_EQ(RunAnimation(h), expected);

    // Once both failing sites are gone, the next probe shows the slow one.
    h.engine->RemoveSite(2);
    h.engine->RemoveSite(0);
    h.ui.Forget();
    h.Check(1);
    expected = Animation(SharedSite().Url());
    expected.emplace_back(142, "Orvalin\nAt least one website in slow");
    EXPECT_EQ(RunAnimation(h), expected);
}

TEST(TraySummary, AProbeDuringTheAnimationGetsNoneAndTheEndShowsTheSitesAsTheyAreThen) {
    EngineHarness h;
    RefusingPort refusing;
    const std::string dead = "127.0.0.1:" + std::to_string(refusing.Port());
    h.Load();
    h.ui.Type(0, SharedSite().Url());
    h.ui.Type(1, dead);

    h.Check(0);  // slot 0's animation begins and is still running
    const CheckReport second = h.Check(1);
    EXPECT_EQ(second.outcome, CheckOutcome::Unreachable);

    // Only slot 0's frames; the end of the animation counts slot 1 as it is now.
    Tray expected = Animation(SharedSite().Url());
    expected.emplace_back(138, "Orvalin\nAt least one website in unreachable");
    EXPECT_EQ(RunAnimation(h), expected);

    // Once the animation has ended, the next probe animates again.
    h.ui.Forget();
    h.Check(1);
    EXPECT_EQ(h.ui.Tray().size(), 1u);
}

}  // namespace
}  // namespace orvalin::test

#include "engine/resume_network.h"

#include "engine/engine_state.h"
#include "engine/poll_periods.h"
#include "engine/system_watch.h"
#include "probe/route_check.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

constexpr std::uint32_t kResumeStaggerMs = 50;
// The system watch looks this long after the next poll falls due: without a
// sleep that poll has re-armed its timer by then, so the look never comes.
constexpr std::chrono::seconds kLookAfterDue{10};
constexpr std::string_view kStatusOk = "200";

bool Monitored(CMonitorEngine::Shared& s, int i) {
    std::lock_guard lock(s.Slot(i).mutex);
    return s.Slot(i).probe != nullptr;
}

void PollSoon(CMonitorEngine::Shared& s, int i, std::uint32_t ms) {
    s.frontEnd.timers.Kill(ids::PollTimer(i));
    s.ArmTimer(ids::PollTimer(i), ms);
}

}  // namespace

std::string SleepLength(std::chrono::nanoseconds slept) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(slept).count();
    constexpr long long kHour = 3600;
    constexpr long long kMinute = 60;
    if (seconds >= kHour) {
        return std::to_string(seconds / kHour) + "h " + std::to_string(seconds % kHour / kMinute) +
               "m";
    }
    return std::to_string(seconds / kMinute) + "m " + std::to_string(seconds % kMinute) + "s";
}

void StartSystemWatch(CMonitorEngine::Shared& s) {
    NoticeResume(s);  // a sleep since the engine was made
    // The watch ends in Shutdown, before the state it posts to does. Its
    // moment is set by the poll timers as they are armed.
    CMonitorEngine::Shared* shared = &s;
    s.systemWatch = std::make_unique<SystemWatch>(
        [shared] {
            shared->PostToUi(
                [self = shared->shared_from_this()](FrontEnd&) { NoticeResume(*self); });
        },
        [shared] {
            shared->PostToUi(
                [self = shared->shared_from_this()](FrontEnd&) { CheckSkippedSites(*self); });
        });
}

void StopSystemWatch(CMonitorEngine::Shared& s) {
    s.systemWatch.reset();
}

void NotePollArmed(CMonitorEngine::Shared& s, int timerId, std::uint32_t ms) {
    const int i = timerId - ids::kFirstPollTimer;
    if (i < 0 || i >= kSlotCount) {
        return;
    }
    const auto now = s.clock->BootTime();
    std::optional<std::chrono::nanoseconds> next;
    {
        std::lock_guard lock(s.wake.mutex);
        s.wake.pollDue[static_cast<std::size_t>(i)] = now + std::chrono::milliseconds(ms);
        for (const auto& due : s.wake.pollDue) {
            if (due && *due > now && (!next || *due < *next)) {
                next = due;
            }
        }
    }
    // A sleep past the next poll's moment wakes the watch at once on resume.
    if (s.systemWatch && next) {
        s.systemWatch->WakeAfter(*next - now + kLookAfterDue);
    }
}

bool NoticeResume(CMonitorEngine::Shared& s) {
    const std::chrono::nanoseconds asleep = s.clock->TimeAsleep();
    const std::chrono::nanoseconds now = s.clock->BootTime();
    std::array<bool, kSlotCount> due{};
    std::chrono::nanoseconds slept{};
    {
        std::lock_guard lock(s.wake.mutex);
        const auto before = s.wake.asleepSeen;
        s.wake.asleepSeen = asleep;
        if (!before || asleep - *before < kShortestSleep) {
            return false;
        }
        slept = asleep - *before;
        s.wake.resumedAt = now;
        for (std::size_t i = 0; i < due.size(); ++i) {
            s.wake.firstAfterResume[i] = true;
            due[i] = s.wake.pollDue[i] && *s.wake.pollDue[i] <= now;
        }
    }
    s.logs.WriteLogLine(std::string(text::kLogResumedOpen) + SleepLength(slept) +
                            std::string(text::kLogResumedClose),
                        s.logs.ErrorLogFile());
    for (int i = 0; i < kSlotCount; ++i) {
        if (due[static_cast<std::size_t>(i)] && Monitored(s, i)) {
            PollSoon(s, i, kResumeCheckMs + kResumeStaggerMs * static_cast<std::uint32_t>(i));
        }
    }
    return true;
}

void CheckSkippedSites(CMonitorEngine::Shared& s) {
    const std::chrono::nanoseconds now = s.clock->BootTime();
    for (int i = 0; i < kSlotCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        bool skipped = false;
        {
            std::lock_guard lock(s.wake.mutex);
            const bool waiting = s.wake.firstAfterResume[at] && s.wake.resumedAt &&
                                 now - *s.wake.resumedAt < kNetworkWaitAfterResume;
            skipped = s.wake.noNetwork[at] || waiting;
        }
        if (skipped && Monitored(s, i)) {
            PollSoon(s, i, kPollButtonMs);
        }
    }
}

bool WaitForNetworkAfterResume(CMonitorEngine::Shared& s, int i, std::uint64_t generation,
                               const std::string& url) {
    const auto at = static_cast<std::size_t>(i);
    {
        std::lock_guard lock(s.wake.mutex);
        if (!s.wake.firstAfterResume[at] || !s.wake.resumedAt ||
            s.clock->BootTime() - *s.wake.resumedAt >= kNetworkWaitAfterResume) {
            return false;
        }
    }
    if (ReachOfSite(url) != SiteReach::kNoNetwork) {
        return false;
    }
    s.FinishCheck(i, generation, kNetworkLookAgainMs,
                  CheckReport{i, {}, url, CheckOutcome::NotChecked, {}, 0.0, {}});
    return true;
}

CheckHold HoldBeforeJudging(CMonitorEngine::Shared& s, int i, const std::string& url, double ms,
                            const std::string& statusText) {
    const auto at = static_cast<std::size_t>(i);
    const bool failed = ms < 0 || statusText != kStatusOk;
    // Only a failure to reach the site at all may be the network's fault.
    if (ms < 0 && ReachOfSite(url) == SiteReach::kNoNetwork) {
        return CheckHold::kNoNetwork;
    }
    std::lock_guard lock(s.wake.mutex);
    s.wake.noNetwork[at] = false;
    const bool first = s.wake.firstAfterResume[at];
    s.wake.firstAfterResume[at] = false;
    return failed && first ? CheckHold::kRecheckAfterResume : CheckHold::kNone;
}

void FinishHeldCheck(CMonitorEngine::Shared& s, int i, std::uint64_t generation,
                     const std::string& url, CheckHold hold) {
    SlotState& slot = s.Slot(i);
    if (hold == CheckHold::kRecheckAfterResume) {
        s.FinishCheck(i, generation, kResumeRecheckMs,
                      CheckReport{i, {}, url, CheckOutcome::NotChecked, {}, 0.0, {}});
        return;
    }
    bool newOutage = false;
    {
        std::lock_guard lock(s.wake.mutex);
        newOutage = !s.wake.noNetwork[static_cast<std::size_t>(i)];
        s.wake.noNetwork[static_cast<std::size_t>(i)] = true;
    }
    if (newOutage) {
        s.WriteLog(
            i, generation,
            std::string(text::kLogNoNetworkOpen) + url + std::string(text::kLogNoNetworkClose),
            s.logs.ErrorLogFile());
    }
    // The panel keeps its figures; only "Last access:" tells, in the standard colour.
    PanelUpdate update;
    update.lastAccess = std::string(text::kNoNetwork) + Stamp(s.clock->LocalNow());
    CheckReport report{i, {}, url, CheckOutcome::NoNetwork, {}, 0.0, update.lastAccess};
    const bool current = s.UpdateIfCurrent(i, generation, [&](SlotState& held) {
        update.scale = held.graphScale;
        update.labels = ScaleLabels(held.graphScale);
        update.lastAlert = held.lastAlert;
        update.lastRecovery = held.lastRecovery;
        report.caption = held.caption;
    });
    if (current) {
        s.PostToSlot(i, generation, [i, update](FrontEnd& fe) {
            fe.panels.SetStatusColour(i, std::nullopt);
            fe.panels.ApplyPanelUpdate(i, update);
        });
        s.UpdateTraySummary(url);
    }
    s.FinishCheck(i, generation, RearmAfterCheckMs(slot.intervalMinutes.load()), std::move(report));
}

bool SkippedForNoNetwork(CMonitorEngine::Shared& s, int i) {
    std::lock_guard lock(s.wake.mutex);
    return s.wake.noNetwork[static_cast<std::size_t>(i)];
}

}  // namespace orvalin

// Which notices a check gives, beyond the classic rule of one alert at the
// first failure and one recovery at the first good answer: confirmation by
// re-probes, one slow warning per episode, reminders, the "Down for" line and
// the snooze. With every alert setting at its default none of it changes a
// byte of what is sent, logged or stored.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/engine_state.h"
#include "engine/poll_periods.h"
#include "resources/resource_ids.h"
#include "resources/strings.h"

namespace orvalin {
namespace {

// A snooze ends on the minute; the timer fires a little after it.
constexpr std::int64_t kSnoozeEndMarginMs = 1'000;
constexpr long kSecondsPerHour = 3'600;
constexpr long kSecondsPerMinute = 60;

std::time_t Seconds(std::tm local) {
    local.tm_isdst = -1;
    return std::mktime(&local);
}

}  // namespace

bool ClassicAlerts(const AlertSettings& alerts) {
    return alerts.confirmFailures == 1 && alerts.confirmRecoveries == 1 &&
           alerts.slowWarnings == 0 && alerts.remindHours == 0 && alerts.groupSeconds == 0;
}

std::string LocalTimeText(const std::tm& local) {
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::optional<std::tm> LocalTimeOf(const std::string& text) {
    std::tm local{};
    char rest = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &local.tm_year, &local.tm_mon,
                    &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec, &rest) != 6) {
        return std::nullopt;
    }
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    if (std::mktime(&local) == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return local;
}

std::string DurationText(long seconds) {
    seconds = std::max(seconds, 0L);
    char text[48];
    if (seconds >= kSecondsPerHour) {
        std::snprintf(text, sizeof text, "%ldh %ldm", seconds / kSecondsPerHour,
                      seconds % kSecondsPerHour / kSecondsPerMinute);
    } else {
        std::snprintf(text, sizeof text, "%ldm %02lds", seconds / kSecondsPerMinute,
                      seconds % kSecondsPerMinute);
    }
    return text;
}

AlertSettings CMonitorEngine::Shared::AlertCopy() const {
    return AlertSettingsOf(store->Cached());
}

bool CMonitorEngine::Shared::Snoozed() {
    // Read from the file at every check: orvalin-settings may have set it.
    return SnoozedUntil(store->Read(key::kSnoozeUntil));
}

bool CMonitorEngine::Shared::SnoozedIn(const SettingsSnapshot& values) {
    return SnoozedUntil(values.Read(key::kSnoozeUntil));
}

bool CMonitorEngine::Shared::SnoozedUntil(const std::string& text) {
    const auto until = SnoozeTime(text);
    return until && std::chrono::system_clock::from_time_t(Seconds(clock->LocalNow())) < *until;
}

bool CMonitorEngine::Shared::FailureConfirmed(int i, std::uint64_t generation,
                                              const AlertSettings& alerts) {
    int streak = 0;
    UpdateIfCurrent(i, generation, [&](SlotState& slot) {
        slot.track.goodStreak = 0;
        streak = ++slot.track.failStreak;
    });
    if (streak == 1 && !ClassicAlerts(alerts) && store->Read(key::kDownSince, i).empty()) {
        const std::string since = LocalTimeText(clock->LocalNow());
        CommitIfCurrent(i, generation,
                        [&] { store->Queue(SettingsBatch().Set(key::kDownSince, i, since)); });
    }
    if (streak < alerts.confirmFailures) {
        UpdateIfCurrent(i, generation, [](SlotState& slot) { slot.track.reprobe = true; });
        return false;
    }
    if (Snoozed()) {
        // Held: the end of the snooze checks the site again and alerts then.
        if (store->Read(key::kAlertHeld, i) == 0) {
            CommitIfCurrent(i, generation,
                            [&] { store->Queue(SettingsBatch().Set(key::kAlertHeld, i, 1)); });
        }
        return false;
    }
    return true;
}

bool CMonitorEngine::Shared::RecoveryConfirmed(int i, std::uint64_t generation,
                                               const std::string& address,
                                               const AlertSettings& alerts) {
    UpdateIfCurrent(i, generation, [](SlotState& slot) { slot.track.failStreak = 0; });
    if (store->Read(key::kWarned, i) == 0) {
        // A blip, or an outage whose alert a snooze held back: over without a notice.
        UpdateIfCurrent(i, generation, [](SlotState& slot) { slot.track.goodStreak = 0; });
        SettingsBatch over;
        if (store->Read(key::kAlertHeld, i) != 0) {
            over.Set(key::kAlertHeld, i, 0);
            WriteLog(i, generation, std::string(text::kLogRecoveredWhileSnoozed) + address,
                     logs.ErrorLogFile());
        }
        if (!store->Read(key::kDownSince, i).empty()) {
            over.Set(key::kDownSince, i, "");
        }
        if (!over.Empty()) {
            CommitIfCurrent(i, generation, [&] { store->Queue(std::move(over)); });
        }
        return false;
    }
    if (Snoozed()) {
        return false;  // the end of the snooze checks the site again
    }
    int streak = 0;
    UpdateIfCurrent(i, generation, [&](SlotState& slot) { streak = ++slot.track.goodStreak; });
    if (streak < alerts.confirmRecoveries) {
        UpdateIfCurrent(i, generation, [](SlotState& slot) { slot.track.reprobe = true; });
        return false;
    }
    UpdateIfCurrent(i, generation, [](SlotState& slot) { slot.track.goodStreak = 0; });
    return true;
}

std::string CMonitorEngine::Shared::DownForLine(int i) {
    const auto since = LocalTimeOf(store->Read(key::kDownSince, i));
    if (!since) {
        return {};
    }
    const long seconds =
        static_cast<long>(std::difftime(Seconds(clock->LocalNow()), Seconds(*since)));
    return std::string(text::kDownForOpen) + DurationText(seconds) +
           std::string(text::kDownForSince) + Stamp(*since).substr(4) +
           std::string(text::kDownForClose);
}

void CMonitorEngine::Shared::RemindIfDue(int i, std::uint64_t generation,
                                         const AlertSettings& alerts) {
    if (alerts.remindHours == 0 || Snoozed()) {
        return;
    }
    const std::string last = store->Read(key::kRemindedAt, i);
    const auto lastTime = LocalTimeOf(last);
    const std::tm now = clock->LocalNow();
    if (!lastTime) {
        // Alerted before reminders were wanted: the first one counts from now.
        CommitIfCurrent(i, generation, [&] {
            store->Queue(SettingsBatch().Set(key::kRemindedAt, i, LocalTimeText(now)));
        });
        return;
    }
    if (std::difftime(Seconds(now), Seconds(*lastTime)) <
        static_cast<double>(alerts.remindHours) * kSecondsPerHour) {
        return;
    }
    std::string address;
    {
        std::lock_guard lock(Slot(i).mutex);
        address = Slot(i).lastUrl;
    }
    std::string body = std::string(text::kBodyStillDown) + Stamp(now);
    if (const std::string downFor = DownForLine(i); !downFor.empty()) {
        body += "\n\n" + downFor;
    }
    const MailSettings mailCopy = MailCopy();
    Deliver({NoticeKind::Reminder, i, generation, mailCopy.alertRecipient,
             std::string(text::kSubjectReminder) + address, body, !mailCopy.server.empty()});
}

void CMonitorEngine::Shared::NoticeSent(const OutgoingNotice& notice) {
    const int i = notice.slot;
    const std::string now = LocalTimeText(clock->LocalNow());
    SettingsBatch batch;
    switch (notice.kind) {
        case NoticeKind::Alert:
            batch.Set(key::kWarned, i, 1);
            if (AlertCopy().remindHours > 0) {
                batch.Set(key::kRemindedAt, i, now);
            }
            break;
        case NoticeKind::Recovery:
            batch.Set(key::kWarned, i, 0);
            if (!store->Read(key::kDownSince, i).empty()) {
                batch.Set(key::kDownSince, i, "");
            }
            break;
        case NoticeKind::Reminder:
            batch.Set(key::kRemindedAt, i, now);
            break;
        case NoticeKind::SlowWarning:
            break;
    }
    CommitIfCurrent(i, notice.generation, [&] { store->Queue(std::move(batch)); });
}

void CMonitorEngine::Shared::SendSlowWarning(int i, std::uint64_t generation,
                                             const std::string& subject, const std::string& body) {
    const AlertSettings alerts = AlertCopy();
    if (Snoozed()) {
        return;
    }
    bool first = false;
    UpdateIfCurrent(i, generation, [&](SlotState& slot) { first = !slot.track.slowEpisode; });
    const bool perEpisode = alerts.slowWarnings == 1;
    if (perEpisode) {
        first = store->Read(key::kSlowWarned, i) == 0;
    }
    if (!perEpisode || first) {
        const MailSettings mailCopy = MailCopy();
        // Only with a mail server set: without one there is nothing to try
        // (the front end has shown its hint that email is not set up).
        const bool sent = !mailCopy.server.empty() &&
                          SendNotice(i, generation, mailCopy.alertRecipient, subject, body) != 0;
        if (perEpisode && (sent || mailCopy.server.empty())) {
            CommitIfCurrent(i, generation,
                            [&] { store->Queue(SettingsBatch().Set(key::kSlowWarned, i, 1)); });
        }
    }
    if (first && alerts.desktopNotices) {
        PostToSlot(i, generation,
                   [notice = Notice{NoticeKind::SlowWarning, {i}, subject, body}](FrontEnd& fe) {
                       fe.tray.ShowNotice(notice);
                   });
    }
}

void CMonitorEngine::Shared::NoteOutcome(int i, std::uint64_t generation, CheckOutcome outcome) {
    if (outcome == CheckOutcome::NotChecked) {
        return;
    }
    const bool slow = outcome == CheckOutcome::Slow;
    UpdateIfCurrent(i, generation, [&](SlotState& slot) { slot.track.slowEpisode = slow; });
    if (!slow && store->Read(key::kSlowWarned, i) != 0) {
        CommitIfCurrent(i, generation,
                        [&] { store->Queue(SettingsBatch().Set(key::kSlowWarned, i, 0)); });
    }
}

bool CMonitorEngine::Shared::TakeReprobe(int i) {
    std::lock_guard lock(Slot(i).mutex);
    return std::exchange(Slot(i).track.reprobe, false);
}

std::uint32_t CMonitorEngine::Shared::ReprobeMs(std::uint32_t rearmMs) const {
    const auto confirmMs = static_cast<std::uint32_t>(AlertCopy().confirmSeconds) * 1000U;
    return std::min(confirmMs, rearmMs);
}

void CMonitorEngine::Shared::SetSummaryTip(int icon, const std::string& tip) {
    summaryIcon = icon;
    summaryTip = tip;
    std::string shown = tip;
    const auto until = SnoozeTime(store->Cached().Read(key::kSnoozeUntil));
    const auto now = std::chrono::system_clock::from_time_t(Seconds(clock->LocalNow()));
    if (until && now < *until) {
        const std::time_t end = std::chrono::system_clock::to_time_t(*until);
        std::tm local{};
        localtime_r(&end, &local);
        char hhmm[8];
        std::strftime(hhmm, sizeof hhmm, "%H:%M", &local);
        shown += std::string(text::kTraySnoozedUntil) + hhmm;
    }
    frontEnd.tray.SetIconAndTip(icon, shown);
}

void CMonitorEngine::Shared::RedrawSummaryTip() {
    // Before the first summary only a snooze has anything to add.
    const bool snoozeLine = SnoozeTime(store->Cached().Read(key::kSnoozeUntil)).has_value();
    if (frontEnd.tray.HasTray() && (summaryIcon != 0 || snoozeLine)) {
        SetSummaryTip(summaryIcon != 0 ? summaryIcon : ids::kIconNormal,
                      summaryTip.empty() ? std::string(text::kAppTitle) : summaryTip);
    }
}

void CMonitorEngine::Shared::ArmSnoozeEnd() {
    RedrawSummaryTip();
    frontEnd.timers.Kill(ids::kSnoozeEndTimer);
    const auto until = SnoozeTime(store->Cached().Read(key::kSnoozeUntil));
    if (!until) {
        return;
    }
    const auto now = std::chrono::system_clock::from_time_t(Seconds(clock->LocalNow()));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*until - now);
    if (left.count() > 0) {
        ArmTimer(ids::kSnoozeEndTimer, TimerPeriod(left.count() + kSnoozeEndMarginMs));
    }
}

void CMonitorEngine::Shared::OnSnoozeEndTimer() {
    frontEnd.timers.Kill(ids::kSnoozeEndTimer);
    if (Snoozed()) {
        ArmSnoozeEnd();  // moved on meanwhile, or longer than one timer reaches
        return;
    }
    RedrawSummaryTip();
    ReleaseSnoozed();
}

void CMonitorEngine::Shared::ReleaseSnoozed() {
    const SettingsSnapshot now = store->Cached();
    for (int i = 0; i < kSlotCount; ++i) {
        bool monitored = false;
        {
            std::lock_guard lock(Slot(i).mutex);
            monitored = Slot(i).probe != nullptr;
        }
        // Checked at once: still failing, its alert goes out now; well again,
        // its recovery.
        if (monitored && (now.Read(key::kAlertHeld, i) != 0 || now.Read(key::kWarned, i) != 0)) {
            frontEnd.timers.Kill(ids::PollTimer(i));
            ArmTimer(ids::PollTimer(i), kPollButtonMs);
        }
    }
}

}  // namespace orvalin

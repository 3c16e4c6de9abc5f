// The alert settings, the snooze and the hints a front end passes on from the
// system: the entry points of the "Alert settings..." dialog and the tray's
// snooze menu.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "engine/engine_state.h"

namespace orvalin {
namespace {

int Clamp(std::int32_t value, int lowest, int highest) {
    return std::clamp(static_cast<int>(value), lowest, highest);
}

}  // namespace

AlertSettings AlertSettingsOf(const SettingsSnapshot& store) {
    AlertSettings alerts;
    alerts.confirmFailures = Clamp(store.Read(key::kConfirmFailures), 1, 10);
    alerts.confirmRecoveries = Clamp(store.Read(key::kConfirmRecoveries), 1, 10);
    alerts.confirmSeconds = Clamp(store.Read(key::kConfirmSeconds), 5, 600);
    alerts.slowWarnings = Clamp(store.Read(key::kSlowWarnings), 0, 1);
    alerts.remindHours = Clamp(store.Read(key::kRemindHours), 0, 168);
    alerts.groupSeconds = Clamp(store.Read(key::kGroupSeconds), 0, 300);
    alerts.desktopNotices = store.Read(key::kDesktopNotices) != 0;
    return alerts;
}

std::string SnoozeText(std::chrono::system_clock::time_point until) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(until);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

std::optional<std::chrono::system_clock::time_point> SnoozeTime(const std::string& text) {
    std::tm local{};
    char rest = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &local.tm_year, &local.tm_mon,
                    &local.tm_mday, &local.tm_hour, &local.tm_min, &rest) != 5) {
        return std::nullopt;
    }
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return std::chrono::system_clock::from_time_t(seconds);
}

AlertSettings CMonitorEngine::Alerts() const {
    return AlertSettingsOf(shared_->store->Cached());
}

void CMonitorEngine::SaveAlertSettings(const AlertSettings& settings) {
    shared_->store->Queue(SettingsBatch()
                              .Set(key::kConfirmFailures, settings.confirmFailures)
                              .Set(key::kConfirmRecoveries, settings.confirmRecoveries)
                              .Set(key::kConfirmSeconds, settings.confirmSeconds)
                              .Set(key::kSlowWarnings, settings.slowWarnings)
                              .Set(key::kRemindHours, settings.remindHours)
                              .Set(key::kGroupSeconds, settings.groupSeconds)
                              .Set(key::kDesktopNotices, settings.desktopNotices ? 1 : 0));
}

void CMonitorEngine::SnoozeAlerts(std::chrono::system_clock::time_point until) {
    shared_->store->Queue(SettingsBatch().Set(key::kSnoozeUntil, SnoozeText(until)));
    shared_->ArmSnoozeEnd();
}

void CMonitorEngine::ResumeAlerts() {
    shared_->store->Queue(SettingsBatch().Set(key::kSnoozeUntil, ""));
    shared_->ArmSnoozeEnd();
    shared_->ReleaseSnoozed();
}

std::optional<std::chrono::system_clock::time_point> CMonitorEngine::SnoozedUntil() const {
    return SnoozeTime(shared_->store->Cached().Read(key::kSnoozeUntil));
}

void CMonitorEngine::CheckAllNow() {
    for (int i = 0; i < kSlotCount; ++i) {
        if (IsMonitored(i)) {
            OnPollButton(i);
        }
    }
}

void CMonitorEngine::SystemResumed() {
    NoticeResume(*shared_);
}

void CMonitorEngine::NetworkChanged() {
    CheckSkippedSites(*shared_);
}

}  // namespace orvalin

// snooze: holds back alert mails and notifications for a while, as the
// desktop program's "Snooze alerts" menu does, or ends a snooze.
#include <chrono>
#include <ctime>
#include <string>

#include "resources/strings.h"
#include "settings/settings_keys.h"
#include "settings_tool/settings_tool.h"
#include "settings_tool/tool_context.h"

namespace orvalin::tool {
namespace {

constexpr std::int32_t kLongestSnoozeMinutes = 7 * 24 * 60;
constexpr int kTomorrowHour = 8;
constexpr std::time_t kMinuteSeconds = 60;

// "30m" or "4h": the minutes it stands for, within a week; nothing otherwise.
std::optional<std::int32_t> SnoozeMinutes(std::string_view text) {
    if (text.size() < 2) {
        return std::nullopt;
    }
    const char unit = text.back();
    const auto number = ParseInt32(text.substr(0, text.size() - 1));
    if (!number || *number < 1 || (unit != 'm' && unit != 'h') || text.front() == '+') {
        return std::nullopt;
    }
    const std::int64_t minutes = unit == 'h' ? std::int64_t{*number} * 60 : *number;
    if (minutes > kLongestSnoozeMinutes) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(minutes);
}

std::string LocalMinute(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

}  // namespace

int RunSnooze(const ToolContext& tool, const Arguments& args) {
    const std::string_view what = args[0];
    if (what == "off") {
        return tool.AfterWrite(tool.store.Write(key::kSnoozeUntil, ""));
    }
    const std::time_t now = std::time(nullptr);
    std::time_t until = 0;
    if (what == "tomorrow") {
        std::tm local{};
        localtime_r(&now, &local);
        local.tm_mday += 1;
        local.tm_hour = kTomorrowHour;
        local.tm_min = 0;
        local.tm_sec = 0;
        local.tm_isdst = -1;
        until = std::mktime(&local);
    } else if (const auto minutes = SnoozeMinutes(what)) {
        // Stored to the minute: rounded up, so that it is never cut short.
        until = now + *minutes * kMinuteSeconds + kMinuteSeconds - 1;
    } else {
        tool.err << text::kToolBadSnooze << '"' << what << "\"\n";
        return kExitUsage;
    }
    const std::string text = LocalMinute(until);
    const int status = tool.AfterWrite(tool.store.Write(key::kSnoozeUntil, text));
    if (status == kExitOk) {
        tool.out << text::kToolSnoozedUntil << text << '\n';
    }
    return status;
}

}  // namespace orvalin::tool

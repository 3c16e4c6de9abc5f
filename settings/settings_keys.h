// The key table of the settings store: every key with its section, type and
// default, defined here and nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvalin {

inline constexpr int kSlotCount = 4;

namespace section {
inline constexpr std::string_view kSettings = "Settings";
inline constexpr std::string_view kLocation = "Location";
}  // namespace section

struct IntKey {
    std::string_view section;
    std::string_view name;
    std::int32_t fallback;
};

struct StringKey {
    std::string_view section;
    std::string_view name;
    std::string_view fallback;
};

// A per-site key: its base name is followed by the slot index (see SiteKey).
struct SiteIntKey {
    std::string_view base;
    std::int32_t fallback;
};

struct SiteStringKey {
    std::string_view base;
    std::string_view fallback;
};

// Base name followed by the slot index in decimal: SiteKey("Warned", 2) is "Warned2".
std::string SiteKey(std::string_view base, int slot);

namespace key {
using section::kSettings;

// Per site
inline constexpr SiteIntKey kInterval{"Interval", 15};
inline constexpr SiteIntKey kWarn{"Warn", 10000};
inline constexpr SiteStringKey kLastWebsite{"lastWebsite", ""};
inline constexpr SiteStringKey kLastWebsiteTitle{"lastWebsiteTitle", ""};
inline constexpr SiteStringKey kLastAlert{"lastAlert", ""};
inline constexpr SiteStringKey kLastRecovery{"lastRecovery", ""};
inline constexpr SiteIntKey kWarned{"Warned", 0};
// 1 while a slow episode's warning has been sent (SlowWarnings 1).
inline constexpr SiteIntKey kSlowWarned{"SlowWarned", 0};
// 1 while a snooze holds back the site's alert.
inline constexpr SiteIntKey kAlertHeld{"AlertHeld", 0};
// Local "YYYY-MM-DD HH:MM:SS": the first failing check of the outage in
// progress, and the last alert or reminder sent for it (kept only when an
// alert setting is not at its default).
inline constexpr SiteStringKey kDownSince{"DownSince", ""};
inline constexpr SiteStringKey kRemindedAt{"RemindedAt", ""};

// Window
inline constexpr IntKey kLocX{kSettings, "LocX", -32};
inline constexpr IntKey kLocY{kSettings, "LocY", -32};
inline constexpr IntKey kCompactMode{kSettings, "CompactMode", 0};
inline constexpr IntKey kViewDetails{kSettings, "ViewDetails", 1};
inline constexpr IntKey kAlwaysOnTop{kSettings, "AOT", 0};
inline constexpr IntKey kStartHidden{kSettings, "Hid", 0};
inline constexpr IntKey kAutoStart{kSettings, "Auto", 1};

// Logs
inline constexpr IntKey kDoAccessLog{kSettings, "DoAccessLog", 1};
inline constexpr IntKey kDoErrorLog{kSettings, "DoErrorLog", 1};
inline constexpr StringKey kAccessLogFile{kSettings, "AccessLogFile", ""};
inline constexpr StringKey kErrorLogFile{kSettings, "ErrorLogFile", ""};

// Mail
inline constexpr StringKey kSmtp{kSettings, "SMTP", ""};
inline constexpr IntKey kSmtpAuth{kSettings, "SMTPAuth", 0};
inline constexpr StringKey kSmtpUsername{kSettings, "SMTPUsername", ""};
inline constexpr StringKey kSmtpPassword{kSettings, "SMTPPassword", ""};
inline constexpr StringKey kSmtpName{kSettings, "SMTPName", "Orvalin"};
inline constexpr StringKey kSmtpEmail{kSettings, "SMTPEmail", ""};
inline constexpr StringKey kSmtpAlert{kSettings, "SMTPAlert", ""};
inline constexpr StringKey kSmtpRecovery{kSettings, "SMTPRecovery", ""};
inline constexpr IntKey kDisableEmails{kSettings, "DisableEmails", 0};

// Tell a friend (the defaults of LastFriendFrom and LastFriendBody are
// computed by their reader)
inline constexpr StringKey kLastFriendFrom{kSettings, "LastFriendFrom", ""};
inline constexpr StringKey kLastFriendSubject{kSettings, "LastFriendSubject", "Check out Orvalin!"};
inline constexpr StringKey kLastFriendBody{kSettings, "LastFriendBody", ""};

// Instances: read with 0 when one is being added, with 1 when one leaves.
inline constexpr IntKey kNumOpen{kSettings, "NumOpen", 0};

// Modern probing and mail. ProbeMode: 0 the classic HTTP/1.0 probe, 1 the
// modern one (HTTP/1.1 with Host, https:// over TLS, IPv6). SMTPTLSVerify: 0
// accepts any certificate from the SMTP server (a local relay of one's own).
inline constexpr IntKey kProbeMode{kSettings, "ProbeMode", 0};
inline constexpr IntKey kSmtpTlsVerify{kSettings, "SMTPTLSVerify", 1};
// The desktop program's metrics file for Prometheus; empty: none.
inline constexpr StringKey kMetricsFile{kSettings, "MetricsFile", ""};

// Alerts. Each default keeps the classic behaviour: an alert at the first
// failure, a recovery at the first good answer, a warning for every slow
// answer, no reminders, one mail per notice. Values outside their ranges are
// clamped when read.
inline constexpr IntKey kConfirmFailures{kSettings, "ConfirmFailures", 1};      // 1..10
inline constexpr IntKey kConfirmRecoveries{kSettings, "ConfirmRecoveries", 1};  // 1..10
inline constexpr IntKey kConfirmSeconds{kSettings, "ConfirmSeconds", 20};       // 5..600
inline constexpr IntKey kSlowWarnings{kSettings, "SlowWarnings", 0};            // 0 or 1
inline constexpr IntKey kRemindHours{kSettings, "RemindHours", 0};              // 0..168
inline constexpr IntKey kGroupSeconds{kSettings, "GroupSeconds", 0};            // 0..300
inline constexpr IntKey kDesktopNotices{kSettings, "DesktopNotices", 1};        // 0 or 1
// Local time "YYYY-MM-DD HH:MM" until which no notice goes out; "" for none.
inline constexpr StringKey kSnoozeUntil{kSettings, "SnoozeUntil", ""};
}  // namespace key

}  // namespace orvalin

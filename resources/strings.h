// Every user-visible text, log text and mail text of Orvalin, defined once.
#pragma once

#include <array>
#include <string_view>

namespace orvalin::text {

inline constexpr std::string_view kAppTitle = "Orvalin";

// Web probe
inline constexpr std::string_view kCouldNotResolveUrl = "Could not resolve url";

// SMTP client message boxes
inline constexpr std::string_view kSmtpContactFailed = "ERROR: Failed to contact SMTP server";
inline constexpr std::string_view kSmtpConnectFailed = "ERROR: Failed to connect to SMTP server";
// Box for a refused reply: prefix + step number (1..6) + suffix, then the reply as received.
inline constexpr std::string_view kSmtpReplyBoxPrefix = "The following was received from SMTP server(";
inline constexpr std::string_view kSmtpReplyBoxSuffix = "):\n\n";

// Log lines written by a check
inline constexpr std::string_view kLogUnreachable = "Website unreachable: ";
inline constexpr std::string_view kLogUnexpected = "Unexpected response ";
inline constexpr std::string_view kLogWarning = "WARNING ";
inline constexpr std::string_view kLogSuccess = "SUCCESS ";
inline constexpr std::string_view kLogMissedEntry = "Missed Entry: ";

// Notices mailed by a check
inline constexpr std::string_view kSubjectAlert = "Alert - ";
inline constexpr std::string_view kSubjectWarning = "Warning - ";
inline constexpr std::string_view kSubjectRecovery = "Recovery - ";
inline constexpr std::string_view kBodyUnreachable = "Website unreachable";
inline constexpr std::string_view kBodyUnexpectedOpen = "Unexpected response (";
inline constexpr std::string_view kBodyUnexpectedClose = ") from site";
inline constexpr std::string_view kBodySlowOpen = "Slow response from website (";
inline constexpr std::string_view kBodySlowClose = "ms)";
inline constexpr std::string_view kBodyRecovered = "Website recovered";
inline constexpr std::string_view kAlertNotSent = "(alert not sent, missing email setup)";
inline constexpr std::string_view kRecoveryNotSent = "(recovery not sent, missing email setup)";

// Panels
inline constexpr std::string_view kMsSuffix = "ms";
inline constexpr std::string_view kUnavailable = "unavailable";
inline constexpr std::string_view kNoLabel = "n/a";
inline constexpr std::string_view kWebsiteCaption = "Website ";  // followed by 1..4
inline constexpr std::array<std::string_view, 4> kAddressPlaceholders = {
    "<Use this box to enter the first url you wish to monitor>",
    "<Use this box to enter the second url you wish to monitor>",
    "<Use this box to enter the third url you wish to monitor>",
    "<Use this box to enter the fourth url you wish to monitor>",
};
inline constexpr std::string_view kConfirmRemovalOpen = "Are you sure you want to stop monitoring ";
inline constexpr std::string_view kConfirmRemovalClose = "?";

// Tray summary
inline constexpr std::string_view kTrayTipPrefix = "Orvalin\n";
inline constexpr std::string_view kTrayTipUnreachable = "Orvalin\nAt least one website in unreachable";
inline constexpr std::string_view kTrayTipSlow = "Orvalin\nAt least one website in slow";

// orvalin-settings, the command-line tool over the settings store
inline constexpr std::string_view kToolUsage =
    "Usage: orvalin-settings list\n"
    "       orvalin-settings get SECTION KEY\n"
    "       orvalin-settings set-int SECTION KEY NUMBER\n"
    "       orvalin-settings set-string SECTION KEY TEXT\n";
inline constexpr std::string_view kToolStoreIs = "Settings store: ";
inline constexpr std::string_view kToolTypeInt = "int";
inline constexpr std::string_view kToolTypeString = "string";
inline constexpr std::string_view kToolNotANumber =
    "orvalin-settings: not a 32-bit integer: ";
inline constexpr std::string_view kToolWriteFailed =
    "orvalin-settings: the value could not be stored in ";

}  // namespace orvalin::text

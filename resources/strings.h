// Every user-visible text, log text and mail text of Orvalin, defined once.
#pragma once

#include <array>
#include <string_view>

namespace orvalin::text {

inline constexpr std::string_view kAppTitle = "Orvalin";
inline constexpr std::string_view kAppVersion = "1.7.3";
// The product's web page: "On the web...", the recommendation mail and its footer.
inline constexpr std::string_view kProductWebPage = "http://www.quenbridge.example/orvalin.html";

// Web probe
inline constexpr std::string_view kCouldNotResolveUrl = "Could not resolve url";

// SMTP client message boxes
inline constexpr std::string_view kSmtpContactFailed = "ERROR: Failed to contact SMTP server";
inline constexpr std::string_view kSmtpConnectFailed = "ERROR: Failed to connect to SMTP server";
// Box for a refused reply: prefix + step number (1..6) + suffix, then the reply as received.
inline constexpr std::string_view kSmtpReplyBoxPrefix =
    "The following was received from SMTP server(";
inline constexpr std::string_view kSmtpReplyBoxSuffix = "):\n\n";

// Log lines written by a check
inline constexpr std::string_view kLogUnreachable = "Website unreachable: ";
inline constexpr std::string_view kLogUnexpected = "Unexpected response ";
inline constexpr std::string_view kLogWarning = "WARNING ";
inline constexpr std::string_view kLogSuccess = "SUCCESS ";
inline constexpr std::string_view kLogMissedEntry = "Missed Entry: ";
// The one entry that stands for missed entries dropped beyond the cap (10000):
// open + the number + close.
inline constexpr std::string_view kLogMissedDroppedOpen = "Older missed entries dropped: ";
inline constexpr std::string_view kLogMissedDroppedClose = " (only the newest 10000 are kept)";

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
// Notices when confirmation, grouping or reminders are in use
inline constexpr std::string_view kSubjectReminder = "Still unreachable - ";
inline constexpr std::string_view kBodyStillDown = "Website still unreachable";
// "Alert - " or "Recovery - " + the number + this, for a grouped mail.
inline constexpr std::string_view kSubjectWebsites = " websites";
// The line after a notice's body: open + "1h 12m" + since + the stamp's date + close.
inline constexpr std::string_view kDownForOpen = "Down for ";
inline constexpr std::string_view kDownForSince = " (since ";
inline constexpr std::string_view kDownForClose = ").";
// Error log: a site whose alert a snooze held back was well again before it ended.
inline constexpr std::string_view kLogRecoveredWhileSnoozed =
    "Failed and recovered while alerts were snoozed: ";

// The email test
inline constexpr std::string_view kTestAlertSubject = "Testing alert recipient settings";
inline constexpr std::string_view kTestRecoverySubject = "Testing recovery recipient settings";
inline constexpr std::string_view kTestBodyOpen = "This test email was sent to: ";
inline constexpr std::string_view kTestAlertBodyClose =
    "\n\nIf you received this email it means that your Alert Settings are correct and you will "
    "receive email alerts from the tool.";
inline constexpr std::string_view kTestRecoveryBodyClose =
    "\n\nIf you received this email it means that your Recovery Settings are correct and you "
    "will receive recovery notices from the tool.";
inline constexpr std::string_view kTestAlertFailed = "Failed Alert Recipient test";
inline constexpr std::string_view kTestAlertPassed =
    "Alert Recipient tested successfully, look for Alert test email.";
inline constexpr std::string_view kTestRecoveryPassed =
    "Recovery Recipient tested successfully, look for Recovery test email.";
inline constexpr std::string_view kTestRecoveryFailed = "Failed Recovery Recipient test";

// A check whose worker thread could not be started (error log)
inline constexpr std::string_view kLogCheckNotStarted = "Check not started (no thread available): ";
// After a sleep, and while the machine has no network of its own.
inline constexpr std::string_view kLogResumedOpen = "Resumed after a sleep of ";
inline constexpr std::string_view kLogResumedClose = "; no checks ran meanwhile";
inline constexpr std::string_view kLogNoNetworkOpen = "No network: ";
inline constexpr std::string_view kLogNoNetworkClose = " not checked";
inline constexpr std::string_view kNoNetwork = "no network";  // Last access, orvalind's outcome
inline constexpr std::string_view kTrayTipNoNetwork = "Orvalin\nNo network";

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
inline constexpr std::string_view kTrayTipUnreachable =
    "Orvalin\nAt least one website in unreachable";
inline constexpr std::string_view kTrayTipSlow = "Orvalin\nAt least one website in slow";
// A line added to the tooltip while alerts are snoozed, followed by HH:MM.
inline constexpr std::string_view kTraySnoozedUntil = "\nAlerts snoozed until ";

// orvalin-settings, the command-line tool over the settings store
// "or:" lines, as help2man reads a synopsis for the manual page.
inline constexpr std::string_view kToolUsage =
    "Usage: orvalin-settings list [--show-secrets]\n"
    "  or:  orvalin-settings get SECTION KEY\n"
    "  or:  orvalin-settings set-int SECTION KEY NUMBER\n"
    "  or:  orvalin-settings set-string SECTION KEY TEXT\n"
    "  or:  orvalin-settings site SLOT ADDRESS [INTERVAL_MINUTES [WARN_MS]]\n"
    "  or:  orvalin-settings remove-site SLOT\n"
    "  or:  orvalin-settings sites\n"
    "  or:  orvalin-settings snooze 30m|1h|4h|tomorrow|off\n";
inline constexpr std::string_view kToolStoreIs = "Settings store: ";
inline constexpr std::string_view kToolTypeInt = "int";
inline constexpr std::string_view kToolTypeString = "string";
inline constexpr std::string_view kToolNotANumber = "orvalin-settings: not a 32-bit integer: ";
inline constexpr std::string_view kToolWriteFailed =
    "orvalin-settings: the value could not be stored in ";

// orvalind, the headless monitor
inline constexpr std::string_view kDaemonUsage =
    "usage: orvalind [--once] [--metrics-file PATH] | --help";
// Its --help, also the manual page's source (help2man): "Usage:", "Options:"
// and indented "TERM  text" lines keep their form there.
inline constexpr std::string_view kDaemonHelp =
    "Usage: orvalind [--once] [--metrics-file PATH]\n"
    "  or:  orvalind --help\n"
    "\n"
    "The Orvalin website monitor without a display. Without options it\n"
    "monitors the sites kept in the Orvalin settings (see orvalin-settings list)\n"
    "like the desktop program: each on its own interval, writing the access and\n"
    "error logs, sending alert, warning and recovery mails once a mail server is\n"
    "set, and printing one line per check, \"ADDRESS: OUTCOME; Last access: TEXT\",\n"
    "with OUTCOME success, slow, unexpected response, unreachable (then the\n"
    "cause in brackets, when known) or no network. SIGINT, SIGTERM or SIGHUP\n"
    "end it in order.\n"
    "Started by systemd as a notify service (orvalind.service), it tells the\n"
    "service manager when it is ready, how its sites fare and when it stops, and\n"
    "feeds the watchdog the manager asks for. A site this machine has no route\n"
    "to is not judged while the network is down (\"no network\"; sites on this\n"
    "machine are always checked), and a sleep of the machine is logged, not\n"
    "taken for failures.\n"
    "\n"
    "Options:\n"
    "  --once   check every configured site once, all at the same time, print a\n"
    "           line for each and exit with the worst result (never a service).\n"
    "           The first line is a monitoring plugin's (Nagios, Icinga), with\n"
    "           OK, WARNING, CRITICAL or UNKNOWN for the exit status 0 to 3, and\n"
    "           each site's time in ms (U: none) with its slow threshold:\n"
    "           ORVALIN OK - 2 sites well | 'site1'=3ms;10000;;0 'site2'=41ms;10000;;0\n"
    "           With ConfirmFailures or ConfirmRecoveries above 1 it re-probes a\n"
    "           site ConfirmSeconds apart within the round until the outcome is\n"
    "           confirmed, and grouped notices go out before it exits.\n"
    "  --metrics-file PATH\n"
    "           after every check, replace PATH (mode 0644) with every site's\n"
    "           metrics in the Prometheus text format, for node_exporter's\n"
    "           textfile collector (name it *.prom in the collector's folder)\n"
    "  --help   show this text\n"
    "\n"
    "Exit status:\n"
    "  0    all sites well (--once), or ended in order by a signal\n"
    "  1    the worst site was slow (--once)\n"
    "  2    a site failed (--once)\n"
    "  3    no site is configured (it ends at once, in both modes), or --once\n"
    "       could judge no site because this machine had no network\n"
    "  4    --once was interrupted by a signal before it had a result\n"
    "  5    the settings store cannot be read (the reason is printed)\n"
    "  6    no thread could be started\n"
    "  64   a wrong option\n";
inline constexpr std::string_view kDaemonNoSite =
    "orvalind: no site is configured (add one with: orvalin-settings site 1 "
    "http://example.org/)";
inline constexpr std::string_view kMetricsFileFailed = "Cannot write the metrics file ";
inline constexpr std::string_view kDaemonNoThread = "orvalind: cannot start a thread: ";
inline constexpr std::string_view kDaemonStoreUnreadable =
    "orvalind: the settings store cannot be read: ";
inline constexpr std::string_view kDaemonEmailHint =
    "Email notices are not set up. Set the mail server and addresses with orvalin-settings, "
    "for example:\n"
    "  orvalin-settings set-string Settings SMTP mail.example.org\n"
    "  orvalin-settings set-string Settings SMTPEmail monitor@example.org\n"
    "  orvalin-settings set-string Settings SMTPAlert me@example.org\n"
    "  orvalin-settings set-string Settings SMTPRecovery me@example.org";
inline constexpr std::string_view kOutcomeSuccess = "success";
inline constexpr std::string_view kOutcomeSlow = "slow";
inline constexpr std::string_view kOutcomeUnexpected = "unexpected response";
inline constexpr std::string_view kOutcomeUnreachable = "unreachable";
inline constexpr std::string_view kOutcomeNotChecked = "not checked";
// orvalind's status line for the service manager: counts joined by ", ",
// each followed by its word ("3 well, 1 failing").
inline constexpr std::string_view kSummaryWell = " well";
inline constexpr std::string_view kSummarySlow = " slow";
inline constexpr std::string_view kSummaryFailing = " failing";
inline constexpr std::string_view kSummaryWaiting = " waiting for a check";
inline constexpr std::string_view kSummaryNoNetwork = " not checked (no network)";
inline constexpr std::string_view kSummaryNoSite = "no site is configured";
inline constexpr std::string_view kDaemonNoNotify =
    "orvalind: the service manager cannot be told: ";

// Settings store problems and orvalin-settings commands (settings store area)
inline constexpr std::string_view kStoreNotADatabase = "file is not a database";
inline constexpr std::string_view kStoreDamaged = "database is damaged";
inline constexpr std::string_view kStoreLocked = "database is locked";
inline constexpr std::string_view kStorePermissionDenied = "permission denied";
inline constexpr std::string_view kStoreNotAFile = "not a regular file";
inline constexpr std::string_view kStoreReadOnly = "the folder or the file is read-only";
inline constexpr std::string_view kToolHelp =
    "\n"
    "Reads and changes the settings of the Orvalin website monitor.\n"
    "\n"
    "  list         every stored value, one per line: SECTION, KEY, TYPE (int or\n"
    "               string) and VALUE, separated by TABs. A backslash, TAB, line\n"
    "               feed or carriage return inside a field is written as \\\\, \\t,\n"
    "               \\n or \\r, so every line is one whole value. The mail password\n"
    "               (SMTPPassword) is shown as ******** unless --show-secrets is given.\n"
    "  get          the value as it is held, unescaped.\n"
    "  set-int      hold an int value, replacing any value of that key.\n"
    "  set-string   hold a string value, replacing any value of that key.\n"
    "               The mail password (Settings SMTPPassword) goes into the\n"
    "               keyring (the Secret Service: GNOME Keyring, KWallet) where\n"
    "               one runs, the store then holding an empty one, and into the\n"
    "               store otherwise; standard error says where. get reads it\n"
    "               from there, and a new SMTP or SMTPUsername takes the\n"
    "               keyring's item along.\n"
    "  site         monitor ADDRESS in slot SLOT, 1 to 4 for the panels Website 1\n"
    "               to Website 4 (keys use SLOT-1, e.g. lastWebsite0). ADDRESS is\n"
    "               http://HOST..., https://HOST... or HOST... (then http), with\n"
    "               blanks at both ends removed and no blank or control character\n"
    "               inside. INTERVAL_MINUTES (1 or more) and WARN_MS (the slow\n"
    "               threshold in ms, 0 or more) are stored when given.\n"
    "               A new address also clears the slot's alert state, as the\n"
    "               desktop program does when it first checks it.\n"
    "  remove-site  stop monitoring slot SLOT: its address, alert state, last\n"
    "               alert and last recovery are cleared; interval and threshold stay.\n"
    "  sites        the four slots, one per line: SLOT, ADDRESS or (none),\n"
    "               INTERVAL_MINUTES and WARN_MS, separated by TABs and escaped as\n"
    "               in list.\n"
    "  snooze       hold back alert, warning and recovery mails and desktop\n"
    "               notifications for a while: NUMBERm or NUMBERh (e.g. 30m, 1h,\n"
    "               4h; at most a week), tomorrow (until 08:00 tomorrow) or off.\n"
    "               Checks and logs go on. When it ends, a site still failing gets\n"
    "               its alert then; the end is printed. Stored in SnoozeUntil.\n"
    "\n"
    "The writes of one command are made together or not at all. A running\n"
    "orvalind or orvalin takes them over at once: a new address is checked\n"
    "straight away, a removed one is no longer checked, and a new interval,\n"
    "threshold, mail or log setting is used from then on.\n"
    "\n"
    "Exit status: 0 done; 1 no such value, or the store dropped the write;\n"
    "2 a wrong call, or a bad number, slot, address, interval or threshold\n"
    "(nothing is changed); 3 the settings store cannot be read (the reason is\n"
    "printed on standard error; nothing is changed).\n"
    "\n";
inline constexpr std::string_view kToolBadSnooze =
    "orvalin-settings: snooze takes NUMBERm or NUMBERh (at most a week), tomorrow or off: ";
inline constexpr std::string_view kToolSnoozedUntil = "Alerts snoozed until ";
inline constexpr std::string_view kToolUnreadable =
    "orvalin-settings: the settings store cannot be read: ";
inline constexpr std::string_view kToolBadSlot =
    "orvalin-settings: the slot must be 1, 2, 3 or 4 (Website 1 to Website 4): ";
inline constexpr std::string_view kToolBadInterval =
    "orvalin-settings: the interval must be a whole number of minutes, 1 or more: ";
inline constexpr std::string_view kToolBadThreshold =
    "orvalin-settings: the warning threshold must be a whole number of ms, 0 or more: ";
inline constexpr std::string_view kToolEmptyAddress = "orvalin-settings: the address is empty";
inline constexpr std::string_view kToolAddressControl =
    "orvalin-settings: the address holds a control character (a line break, TAB or escape): ";
inline constexpr std::string_view kToolAddressBlank =
    "orvalin-settings: the address holds a blank (write one in a path as %20): ";
inline constexpr std::string_view kToolAddressScheme =
    "orvalin-settings: the address must begin with http:// or https://, or with the host name: ";
inline constexpr std::string_view kToolAddressNoHost =
    "orvalin-settings: the address names no host: ";
inline constexpr std::string_view kToolNoSite = "(none)";

// The keyring (the Secret Service) that keeps the mail password, and what
// orvalin-settings says about it on standard error
inline constexpr std::string_view kKeyringLabelBefore = "Orvalin mail password for ";
inline constexpr std::string_view kKeyringLabelBetween = " on ";
inline constexpr std::string_view kKeyringNoBus = "there is no session bus";
inline constexpr std::string_view kKeyringNoLibrary = "libsecret-1.so.0 cannot be loaded";
inline constexpr std::string_view kKeyringNoThread = "no thread could be started";
inline constexpr std::string_view kKeyringTimedOut = "the keyring did not answer in time";
inline constexpr std::string_view kKeyringReadBackDiffers =
    "the keyring gave back another password than the one stored";
inline constexpr std::string_view kToolPasswordInKeyring =
    "orvalin-settings: the mail password is kept in the keyring (Secret Service)";
inline constexpr std::string_view kToolPasswordInStore =
    "orvalin-settings: the mail password is kept in the settings store ";
inline constexpr std::string_view kToolKeyringFailed =
    "orvalin-settings: the keyring could not be used: ";

// Web probe (modern mode) and SMTP client with TLS and login
// A failed TLS handshake of an https:// probe: this prefix and OpenSSL's cause,
// for example "TLS: certificate has expired".
inline constexpr std::string_view kProbeTlsPrefix = "TLS: ";
// Causes of a TLS failure that OpenSSL does not name itself.
inline constexpr std::string_view kTlsSetUpFailed = "no secure connection could be set up";
inline constexpr std::string_view kTlsNameUncheckable = "the server's name cannot be checked";
inline constexpr std::string_view kTlsHandshakeTimedOut = "the handshake did not finish in time";
inline constexpr std::string_view kTlsServerClosed = "the server closed the connection";
inline constexpr std::string_view kTlsHandshakeFailed = "the handshake failed";
inline constexpr std::string_view kTlsNotConnected = "there is no connection";
inline constexpr std::string_view kTlsNotSupported = "this connection cannot carry TLS";
// Boxes of a session with SMTPAuth 1: the first text, the server's host, the
// second text, then the server's reply or the cause of the TLS failure.
inline constexpr std::string_view kSmtpTlsFailedBefore =
    "ERROR: Could not set up a secure connection (TLS) with SMTP server ";
inline constexpr std::string_view kSmtpCertificateBefore = "ERROR: The certificate of SMTP server ";
inline constexpr std::string_view kSmtpCertificateAfter = " was refused:\n\n";
inline constexpr std::string_view kSmtpServerBefore = "ERROR: SMTP server ";
inline constexpr std::string_view kSmtpStartTlsRefusedAfter =
    " refused to start a secure connection (STARTTLS):\n\n";
inline constexpr std::string_view kSmtpNoStartTlsAfter =
    " offers no secure connection (STARTTLS), so the user name and password were not sent. "
    "It answered:\n\n";
inline constexpr std::string_view kSmtpNoLoginMethodAfter =
    " offers no login method Orvalin supports (AUTH PLAIN or AUTH LOGIN). It answered:\n\n";
inline constexpr std::string_view kSmtpLoginRefusedAfter = " refused the login:\n\n";
inline constexpr std::string_view kSmtpLoginTimedOutAfter = " did not answer the login in time.";
inline constexpr std::string_view kSmtpLoginClosedAfter =
    " closed the connection during the login.";
inline constexpr std::string_view kSmtpBoxColon = ":\n\n";

}  // namespace orvalin::text

// Texts of the desktop program: menus, panels, dialogs and the tray, defined
// once. The texts it shares with the core (captions, placeholders, the email
// test's results) stay in strings.h.
#pragma once

#include <string_view>

namespace orvalin::text {

// orvalin --help and --version, printed before any window exists
inline constexpr std::string_view kDesktopHelp =
    "Usage: orvalin [--help | --version]\n"
    "\n"
    "The Orvalin website monitor on the desktop: one window with four website\n"
    "panels and an icon in the notification area. Type an address into a panel\n"
    "and press Enter (or Poll); each site is then checked on its own interval,\n"
    "logged, summarised in the tray icon and, once email is set up, reported by\n"
    "mail. Help, Contents opens the user guide. Exit, ESC and the tray menu's\n"
    "Terminate end it, as do SIGINT, SIGTERM and SIGHUP; the close button and\n"
    "Hide put it away into the tray icon.\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Qt's own options are taken too (for example -platform offscreen); any other\n"
    "argument is ignored. Without a display it cannot start: orvalind monitors\n"
    "the same sites without one.\n"
    "\n"
    "Exit status:\n"
    "  0      it was ended by Exit, ESC, Terminate or a stop signal\n"
    "  other  it could not start, for example without a display (Qt ends it)\n";
inline constexpr std::string_view kDesktopVersionPrefix = "orvalin ";  // followed by kAppVersion

// Menu bar. "&" marks the key letter of a menu or entry, unique within its menu.
inline constexpr std::string_view kMenuOrvalin = "&Orvalin";
inline constexpr std::string_view kMenuShowDetails = "Show &Details";
inline constexpr std::string_view kMenuCompactMode = "&Compact Mode";
inline constexpr std::string_view kMenuStartHidden = "&Start Hidden";
inline constexpr std::string_view kMenuAutoStart = "A&uto Start at Login";
inline constexpr std::string_view kMenuHide = "&Hide";
inline constexpr std::string_view kMenuAlwaysOnTop = "&Always on Top";
inline constexpr std::string_view kMenuExit = "E&xit\tESC";
inline constexpr std::string_view kMenuView = "&View";
inline constexpr std::string_view kMenuAccessLog = "&Access log";
inline constexpr std::string_view kMenuErrorLog = "&Error log";
inline constexpr std::string_view kMenuSetup = "&Setup";
inline constexpr std::string_view kMenuEmailSettings = "&Email settings";
inline constexpr std::string_view kMenuTestEmail = "&Test Email Settings";
inline constexpr std::string_view kMenuLogSettings = "&Log settings";
inline constexpr std::string_view kMenuAlertSettings = "&Alert settings...";
inline constexpr std::string_view kMenuProbeMode = "&Modern probing (HTTPS, Host header)";
// Followed by 1..4, which is also its key letter.
inline constexpr std::string_view kMenuResetWebsite = "Reset Website &";
inline constexpr std::string_view kMenuHelp = "&Help";
inline constexpr std::string_view kMenuContents = "&Contents";
inline constexpr std::string_view kMenuOnTheWeb = "On the &web...";
inline constexpr std::string_view kMenuTellAFriend = "&Tell a friend...";
inline constexpr std::string_view kMenuAbout = "&About";

// Tray menu
inline constexpr std::string_view kTrayOpen = "&Open Orvalin";
inline constexpr std::string_view kTrayAbout = "&About Orvalin...";
inline constexpr std::string_view kTrayTerminate = "&Terminate Orvalin";

// Snooze, in the tray menu and the Setup menu
inline constexpr std::string_view kMenuSnooze = "&Snooze alerts";
inline constexpr std::string_view kSnoozeOneHour = "For &1 hour";
inline constexpr std::string_view kSnoozeFourHours = "For &4 hours";
inline constexpr std::string_view kSnoozeTomorrow = "Until &tomorrow 08:00";
inline constexpr std::string_view kSnoozeResume = "&Resume alerts";

// The actions of a desktop notification
inline constexpr std::string_view kNoticeOpen = "Open Orvalin";
inline constexpr std::string_view kNoticeCheckNow = "Check now";
inline constexpr std::string_view kNoticeSnooze = "Snooze 1 hour";

// Website panels
inline constexpr std::string_view kPromptInitial = "<Enter Text Here>";
inline constexpr std::string_view kPollButton = "Poll";
inline constexpr std::string_view kDelButton = "Del";
inline constexpr std::string_view kPollingInterval = "Polling interval";
inline constexpr std::string_view kMinutes = "minutes";
inline constexpr std::string_view kWarningOver = "Warning over";
inline constexpr std::string_view kLastAccess = "Last access:";
inline constexpr std::string_view kBestAccess = "Best access:";
inline constexpr std::string_view kWorstAccess = "Worst access:";
inline constexpr std::string_view kLastAlert = "Last alert:";
inline constexpr std::string_view kLastRecovery = "Last recovery:";
// Spoken by screen readers for the status label and the arrows.
inline constexpr std::string_view kStatusWell = "well";
inline constexpr std::string_view kStatusSlow = "slow";
inline constexpr std::string_view kStatusFailing = "failing";
inline constexpr std::string_view kGraphName = "Response times";
inline constexpr std::string_view kIntervalUp = "One minute more";
inline constexpr std::string_view kIntervalDown = "One minute less";

// Start with the session
inline constexpr std::string_view kCouldNotRegister = "Could not register Orvalin.";
inline constexpr std::string_view kAutostartComment = "Your 24/7/365 personal website monitor";

// The settings store cannot be read at start-up: the first text, the store's
// path, ": ", the reason, then the second text.
inline constexpr std::string_view kStoreUnreadableOpen = "The settings cannot be read from ";
inline constexpr std::string_view kStoreUnreadableClose =
    ".\n\nOrvalin runs with its default settings and takes over the stored ones as soon as "
    "they can be read. What you change meanwhile is kept and written once that is possible.";

// About dialog
inline constexpr std::string_view kAboutTitle = "About Orvalin";
inline constexpr std::string_view kAboutLine = "Orvalin - Your 24/7/365 personal website monitor";
inline constexpr std::string_view kAboutVersion = "Version: ";  // followed by kAppVersion
inline constexpr std::string_view kOk = "OK";
inline constexpr std::string_view kCancel = "Cancel";

// Email Setup dialog ("&" marks the key letter that moves to a field)
inline constexpr std::string_view kEmailSetupTitle = "Email Setup";
inline constexpr std::string_view kEmailImportant = "Important";
inline constexpr std::string_view kEmailIntro =
    "Use this dialog to enter the information to be used for the Alert and Recovery notices.";
inline constexpr std::string_view kEmailAlertIntro =
    "Alert notices are automatically sent by Orvalin to the email address specified below when "
    "there is a failure reaching a website.";
inline constexpr std::string_view kEmailRecoveryIntro =
    "Recovery notices are automatically sent by Orvalin when there is a successful contact with "
    "a website after a failure had occurred.";
inline constexpr std::string_view kEmailAlertLabel = "&Alert recipient email:";
inline constexpr std::string_view kEmailRecoveryLabel = "&Recovery recipient email:";
inline constexpr std::string_view kEmailReturnLabel = "Re&turn email address:";
inline constexpr std::string_view kEmailServerLabel = "&Outgoing Server (SMTP):";
inline constexpr std::string_view kEmailUsernameLabel = "&Username:";
inline constexpr std::string_view kEmailPasswordLabel = "&Password:";
// The hidden sender-name field, as screen readers name it.
inline constexpr std::string_view kEmailSenderName = "Sender name";
inline constexpr std::string_view kEmailAuthenticate = "&Server requires authentication";
// Under the password: where it is kept (the settings file's path follows)
inline constexpr std::string_view kEmailPasswordInKeyring = "The password is kept in the keyring.";
inline constexpr std::string_view kEmailPasswordInFile =
    "The password is kept in the settings file ";
inline constexpr std::string_view kEmailKeyringFailedOpen = "The keyring could not be used (";
inline constexpr std::string_view kEmailKeyringFailedClose =
    "), so the password is kept in the settings file ";
inline constexpr std::string_view kEmailNeedAlert =
    "Please enter an email address for the recipient of Orvalin alerts.";
inline constexpr std::string_view kEmailNeedRecovery =
    "Please enter an email address for the recipient of Orvalin recovery notices.";
inline constexpr std::string_view kEmailNeedReturn =
    "Please enter a return email address in case some notices are undeliverable.";
inline constexpr std::string_view kEmailNeedServer =
    "Please enter the host name or IP of your SMTP server, if you do not know it, consult your "
    "system administrator.";
inline constexpr std::string_view kEmailRecommendTest =
    "If you have changed your email settings we strongly recommend you run an Email Settings "
    "Test.\n\nPress Yes to run one now.";
inline constexpr std::string_view kEmailTestRunning = "Sending test email\u2026";
// When no worker could take the test (the system gives no thread).
inline constexpr std::string_view kEmailTestNotStarted = "The email test could not be started.";

// Alert settings dialog: each value with its label and a line that explains it
inline constexpr std::string_view kAlertSettingsTitle = "Alert settings";
inline constexpr std::string_view kAlertConfirmGroup = "Before a notice is sent";
inline constexpr std::string_view kAlertFailuresLabel = "&Failures before an alert:";
inline constexpr std::string_view kAlertFailuresHelp =
    "An alert is sent only after this many failed checks in a row (1: at the first).";
inline constexpr std::string_view kAlertRecoveriesLabel = "&Good checks before a recovery:";
inline constexpr std::string_view kAlertRecoveriesHelp =
    "A recovery notice is sent only after this many good checks in a row.";
inline constexpr std::string_view kAlertSecondsLabel = "Seconds between &re-checks:";
inline constexpr std::string_view kAlertSecondsHelp =
    "While a failure or a recovery is being confirmed, the site is checked this often.";
inline constexpr std::string_view kAlertMessagesGroup = "Fewer messages";
inline constexpr std::string_view kAlertSlowOnce = "One &warning per slow period";
inline constexpr std::string_view kAlertSlowHelp =
    "Off: a warning for every slow answer. On: one until the site is well again or fails.";
inline constexpr std::string_view kAlertRemindLabel = "Re&mind every (hours):";
inline constexpr std::string_view kAlertRemindHelp =
    "While a site stays down, a reminder is sent this often (0: never).";
inline constexpr std::string_view kAlertGroupLabel = "Gather notices &within (seconds):";
inline constexpr std::string_view kAlertGroupHelp =
    "Alerts and recoveries of several sites this close together go out as one mail (0: never).";
inline constexpr std::string_view kAlertDesktopGroup = "On this desktop";
inline constexpr std::string_view kAlertDesktopNotices = "Show desktop &notifications";
inline constexpr std::string_view kAlertDesktopHelp =
    "Alerts, recoveries, reminders and a first slow answer also appear as notifications.";
inline constexpr std::string_view kAlertNever = "never";

}  // namespace orvalin::text

// Numeric ids of timers, icons, controls and commands, defined once.
#pragma once

namespace orvalin::ids {

// Timers of the main window
inline constexpr int kStartupTimer = 245;
inline constexpr int kSnoozeEndTimer = 250;    // the end of a snooze: held alerts go out
inline constexpr int kNoticeGroupTimer = 251;  // grouped notices go out together
inline constexpr int kFirstPollTimer = 312;    // slot i polls with timer 312 + i
inline constexpr int PollTimer(int slot) {
    return kFirstPollTimer + slot;
}

// Tray icons
inline constexpr int kIconNormal = 128;
inline constexpr int kIconFrames[] = {131, 132, 133, 134};
inline constexpr int kIconUnreachable = 138;
inline constexpr int kIconSlow = 142;

// Commands
inline constexpr int kCmdEmailSettings = 32771;
inline constexpr int kCmdResetWebsite[] = {32781, 32784, 32785, 32786};

// Per-slot panel controls
inline constexpr int kGroupBox[] = {1040, 1041, 1042, 1043};
inline constexpr int kAddressBox[] = {1052, 1053, 1054, 1055};
inline constexpr int kPollButton[] = {1001, 1005, 1006, 1007};
inline constexpr int kDelButton[] = {1044, 1045, 1046, 1047};
inline constexpr int kIntervalBox[] = {1009, 1010, 1022, 1032};
inline constexpr int kIntervalArrows[] = {1008, 1014, 1023, 1033};
inline constexpr int kWarningBox[] = {1051, 1048, 1049, 1050};

}  // namespace orvalin::ids

// ---- The desktop program: windows, menus, commands and controls ----
namespace orvalin::ids {

// Windows and menus
inline constexpr int kAboutDialog = 100;
inline constexpr int kMainDialog = 102;
inline constexpr int kTrayMenu = 110;
inline constexpr int kTrayIconId = 110;
inline constexpr int kMainMenu = 129;
inline constexpr int kEmailSetupDialog = 196;
inline constexpr int kAlertSettingsDialog = 197;

// Commands of the menu bar and the tray menu
inline constexpr int kCmdOpen = 32772;
inline constexpr int kCmdExit = 32773;
inline constexpr int kCmdHide = 32774;
inline constexpr int kCmdShowDetails = 32775;
inline constexpr int kCmdLogSettings = 32776;
inline constexpr int kCmdAccessLog = 32777;
inline constexpr int kCmdErrorLog = 32778;
inline constexpr int kCmdOnTheWeb = 32779;
inline constexpr int kCmdTellAFriend = 32783;
inline constexpr int kCmdCompactMode = 32787;
inline constexpr int kCmdStartHidden = 32788;
inline constexpr int kCmdAutoStart = 32789;
inline constexpr int kCmdTestEmail = 32790;
inline constexpr int kCmdProbeMode = 32791;
inline constexpr int kCmdAlertSettings = 32792;
inline constexpr int kCmdSnoozeOneHour = 32793;
inline constexpr int kCmdSnoozeFourHours = 32794;
inline constexpr int kCmdSnoozeTomorrow = 32795;
inline constexpr int kCmdResumeAlerts = 32796;
inline constexpr int kCmdAlwaysOnTop = 1116;
inline constexpr int kCmdAbout = 57664;
inline constexpr int kCmdHelpContents = 57670;

// Per-slot panel controls (continued)
inline constexpr int kGraphArea[] = {1000, 1002, 1003, 1004};
inline constexpr int kLastAccessText[] = {1011, 1015, 1026, 1034};
inline constexpr int kBestAccessText[] = {1012, 1016, 1027, 1035};
inline constexpr int kWorstAccessText[] = {1013, 1019, 1028, 1036};
inline constexpr int kLastAlertText[] = {1017, 1020, 1029, 1037};
inline constexpr int kLastRecoveryText[] = {1018, 1021, 1030, 1038};

// Controls of the "Email Setup" dialog
namespace email {
inline constexpr int kServer = 1002;
inline constexpr int kUsername = 1003;
inline constexpr int kPassword = 1004;
inline constexpr int kReturnAddress = 1005;
inline constexpr int kAlertRecipient = 1006;
inline constexpr int kRecoveryRecipient = 1007;
inline constexpr int kSenderName = 1008;
inline constexpr int kAuthenticate = 1113;
inline constexpr int kUsernameLabel = 1114;
inline constexpr int kPasswordLabel = 1115;
}  // namespace email

}  // namespace orvalin::ids

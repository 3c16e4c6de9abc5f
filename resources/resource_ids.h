// Numeric ids of timers, icons, controls and commands, defined once.
#pragma once

namespace orvalin::ids {

// Timers of the main window
inline constexpr int kStartupTimer = 245;
inline constexpr int kFirstPollTimer = 312;  // slot i polls with timer 312 + i
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

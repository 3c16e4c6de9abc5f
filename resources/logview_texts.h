// The texts of the log viewer, the log settings dialog and Tell a friend,
// defined once (their .ui forms hold no text of their own).
#pragma once

#include <array>
#include <string_view>

#include "resources/desktop_texts.h"  // kOk, kCancel

namespace orvalin::text {

// The log viewer ("Log")
inline constexpr std::string_view kLogViewTitle = "Log";
inline constexpr std::string_view kCurrentLogFile = "Current log file:";
inline constexpr std::string_view kRefresh = "Refresh";
inline constexpr std::string_view kClearLog = "Clear Log";
inline constexpr std::string_view kClose = "Close";
// "Could not open log '" + the path asked for + "'", shown in the text area.
inline constexpr std::string_view kCouldNotOpenLogOpen = "Could not open log '";
inline constexpr std::string_view kCouldNotOpenLogClose = "'";
inline constexpr std::string_view kClearLogQuestion =
    "The log will be permanently deleted, Continue?";
// "Could not clear log file'" + path + "'" (no blank before the quote).
inline constexpr std::string_view kCouldNotClearLogOpen = "Could not clear log file'";
inline constexpr std::string_view kCouldNotClearLogClose = "'";
inline constexpr std::string_view kFindLabel = "Find:";
inline constexpr std::string_view kFindNext = "Next";
inline constexpr std::string_view kFindPrevious = "Previous";
inline constexpr std::string_view kFindNotFound = "Not found";
inline constexpr std::string_view kFindFromTop = "Continued from the top";
inline constexpr std::string_view kFindFromBottom = "Continued from the bottom";
inline constexpr std::string_view kFindSearching = "Searching... ";  // followed by "42%"
inline constexpr std::string_view kFindCancelled = "Find cancelled";
inline constexpr std::string_view kNewestLines = "Newest lines";
inline constexpr std::string_view kLinesLoading = "Reading... ";  // followed by the count so far
inline constexpr std::string_view kLinesSuffix = " lines";
inline constexpr std::string_view kOneLine = "1 line";
inline constexpr std::string_view kViewerCopy = "Copy";
inline constexpr std::string_view kViewerSelectAll = "Select All";
// After the shown start of a line longer than the viewer shows:
// "… (long line, " + its length + " bytes)".
inline constexpr std::string_view kLineCutOpen = "\u2026 (long line, ";
inline constexpr std::string_view kLineCutClose = " bytes)";
// The status line when a read failed: "The log could not be read to its end
// (" + the system's reason + "); the lines before are shown."
inline constexpr std::string_view kReadFailedOpen = "The log could not be read to its end (";
inline constexpr std::string_view kReadFailedClose = "); the lines before are shown.";
inline constexpr std::string_view kOutOfMemory = "There was not enough memory to do that.";
// The status line once a read notices that the log changed since it was read.
inline constexpr std::string_view kLogReplaced =
    "The log file has been replaced by another; the lines shown are the old file's. Refresh "
    "reads the new one.";
inline constexpr std::string_view kLogDeleted =
    "The log file has been deleted; the lines shown are the ones it held. Refresh reads the log "
    "again.";
inline constexpr std::string_view kLogChanged =
    "The log file has been cut or rewritten; lines that changed are left blank. Refresh reads it "
    "again.";
// "The log file can no longer be read (" + the system's reason + "). Refresh tries again."
inline constexpr std::string_view kLogUnreadableOpen = "The log file can no longer be read (";
inline constexpr std::string_view kLogUnreadableClose = "). Refresh tries again.";

// The log settings dialog ("Logs")
inline constexpr std::string_view kLogSettingsTitle = "Logs";
inline constexpr std::string_view kAccessLogGroup = "Access Log";
inline constexpr std::string_view kLogAllTransactions = "Log all &transactions";
inline constexpr std::string_view kAccessLogFileName = "&Access log file name";
inline constexpr std::string_view kErrorLogGroup = "Error Log";
inline constexpr std::string_view kLogErrors = "Log &errors";
inline constexpr std::string_view kErrorLogFileName = "E&rror log file name";
inline constexpr std::string_view kBrowse = "Browse";
// Browse: the save form of the file dialog.
inline constexpr std::string_view kSaveAsTitle = "Save As";
inline constexpr std::string_view kAccessLogFilter = "Access Log Files (*.log)";
inline constexpr std::string_view kErrorLogFilter = "Error Log Files (*.log)";
inline constexpr std::string_view kAllFilesFilter = "All Files (*)";
inline constexpr std::string_view kLogSuffix = "log";
inline constexpr std::string_view kFolderMissing = "This folder does not exist:\n";

// Tell a friend
inline constexpr std::string_view kTellFriendTitle = "Tell a friend";
inline constexpr std::string_view kFriendFromLabel = "&From:";
inline constexpr std::string_view kFriendToLabel = "&To:";
inline constexpr std::string_view kFriendSubjectLabel = "&Subject:";
inline constexpr std::string_view kEnterYourEmail = "Please enter your email address";
inline constexpr std::string_view kEnterFriendEmail = "Please enter your friend's email address";
inline constexpr std::string_view kEnterSubject = "Please enter the email's subject";
inline constexpr std::string_view kEnterBody = "Please enter the email's body";
// The default body: these paragraphs, an empty line between two of them,
// with the product's web page after kFriendBodyDownload.
inline constexpr std::array<std::string_view, 3> kFriendBodyOpening = {
    "Hey,",
    "Check out this new website monitor. It's pretty simple, but it does a great job.",
    "It can monitor your websites and send you email alerts if a website becomes unreachable, "
    "or if it returns an invalid response, it can even send a warning if the website becomes "
    "too slow.",
};
inline constexpr std::string_view kFriendBodyDownload = "You can download it at: ";
inline constexpr std::array<std::string_view, 2> kFriendBodyClosing = {
    "Anyway, check it out and let me know what you think.",
    "See ya!",
};
// The footer: three line ends, a rule of 62 "=", a line end, then this
// followed by the product's web page.
inline constexpr std::size_t kFooterRuleLength = 62;
inline constexpr std::string_view kFooterLead = "Check out Orvalin at ";
inline constexpr std::string_view kSendingMessage = "Sending the message...";
// When no worker could take the send (the program is closing, or the system
// gives no thread).
inline constexpr std::string_view kSendNotStarted = "The message could not be sent.";

}  // namespace orvalin::text

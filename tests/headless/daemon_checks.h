// Reading what an orvalind run left behind: its printed check lines, the
// CR LF lines of a log file and the mails a sink received.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/smtp_servers.h"

namespace orvalin::test {

// " on MM/DD/YYYY at HH:MM:SS", the stamp of alert and recovery texts.
inline constexpr const char* kStampPattern = R"( on \d\d/\d\d/\d{4} at \d\d:\d\d:\d\d)";
// "<MM/DD/YYYY HH:MM:SS> ", the stamp that opens every log line.
inline constexpr const char* kLogStampPattern = R"(<\d\d/\d\d/\d{4} \d\d:\d\d:\d\d> )";

std::string EscapeRegex(const std::string& text);
bool MatchesStamp(const std::string& text);

// One line printed after a check: "[CAPTION: ]ADDRESS: OUTCOME[ (CAUSE)];
// Last access: TEXT".
struct PrintedCheck {
    std::string caption;  // the address when the line names no caption
    std::string outcome;
    std::string lastAccess;
    std::string cause;  // in brackets after the outcome, when the check failed with one
};

// The check lines of a run's standard output by address; a line of any other
// form is kept under the key "" so that a test sees it. The first line of a
// --once run, its plugin line, is left out.
std::multimap<std::string, PrintedCheck> PrintedChecks(const std::string& out);

// A monitoring plugin's output line as monitoring systems read it:
// "TEXT | perfdata", perfdata being 'label'=value[UOM];[warn];[crit];[min];[max]
// separated by blanks, a label quoted when needed ('' for a quote inside),
// value U when it could not be determined.
struct PerfValue {
    std::string label;
    std::optional<double> value;  // none: U
    std::string unit;
    std::string warn, crit, min, max;
};
struct PluginOutput {
    std::string text;  // before the bar, without the blanks around it
    std::vector<PerfValue> perf;
};
// Nothing when the line breaks the format.
std::optional<PluginOutput> ParsePluginLine(const std::string& line);
// The first line of out, without its line feed.
std::string FirstLine(const std::string& out);

// The lines of a log file without their CR LF ends. A line feed without its
// carriage return, or bytes after the last line end, make the result hold
// "<malformed>" so that any expectation on it fails.
std::vector<std::string> LogLines(const std::string& bytes);

// A received mail split at its empty line. body loses the one CR LF that the
// end-of-data line claims, so it is the body the program passed on.
struct SplitMail {
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};
SplitMail Split(const ReceivedMail& mail);

// The mail with that subject; fails the test and gives an empty one when
// there is not exactly one.
ReceivedMail OnlyMailWithSubject(const std::vector<ReceivedMail>& mails,
                                 const std::string& subject);

}  // namespace orvalin::test

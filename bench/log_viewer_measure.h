// The measurements of bench/log_viewer, each made in a process of its own
// (this program run again with one of the options below), so that no
// measurement inherits memory from another.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace logview_bench {

// Figures by name, as a measuring process prints them on one line:
// "figures name=value name=value ...".
using Figures = std::map<std::string, double>;

// --measure LOG --empty EMPTY [--screenshot FILE]: an empty log opened in
// the viewer first (the empty viewer's peak memory, "empty_kb"), then LOG:
// "first" (s until the first screen of lines was painted), "indexed" (s until
// every line was indexed), "lines", "end" (s to jump to the newest line and
// paint it), "find" (s to find a word that only the first line holds,
// backward from the last line), "find_wide" (s to look for a word beyond
// ASCII that no line holds), "peak_kb" (the process's peak resident size).
int MeasureViewer(int argc, char** argv, const char* log, const char* empty,
                  const QString& screenshot);

// --long-line LOG: "key" (s for a key press on LOG's long first line and the
// repaint after it, the slowest of End, Left and Right), "peak_kb".
int MeasureLongLine(int argc, char** argv, const char* log);

// --control LOG LINES LIMIT: a QPlainTextEdit fed LOG line by line;
// "seconds" (extrapolated to LINES when it was stopped at LIMIT s),
// "extrapolated" (1 when it was).
int MeasureControl(int argc, char** argv, const char* log, double lines, double limitS);

// Runs self with arguments and reads the figures it prints.
std::optional<Figures> RunMeasurement(const char* self, const std::vector<std::string>& arguments);

// Lines as the log writer writes them: "<%m/%d/%Y %H:%M:%S> " + text + CR LF,
// a mix of success, warning, failure and missed-entry lines; only the first
// names "http://first.example.org/". Returns the file's size.
std::uint64_t WriteLog(const std::filesystem::path& file, std::int64_t lines);

}  // namespace logview_bench

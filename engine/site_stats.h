// Per-site statistics: the access history, its best and worst records, the
// graph scale and the number and time texts shown in the panels.
#pragma once

#include <array>
#include <chrono>
#include <ctime>
#include <deque>
#include <string>

namespace orvalin {

// A failed probe is recorded with this time; readers test for below 0.
inline constexpr double kFailedMs = -99.0;
inline constexpr std::size_t kHistoryLength = 107;
inline constexpr double kInitialGraphScale = 10.0;
inline constexpr double kScaleStep = 10.0;
inline constexpr int kLabelDivisions = 5;

struct AccessRecord {
    double ms = 0.0;   // whole milliseconds, or kFailedMs
    std::string when;  // Stamp of the moment the probe ended
};

using AccessHistory = std::deque<AccessRecord>;

// " on %m/%d/%Y at %H:%M:%S" of the given local time (leading blank included);
// empty when the time cannot be formatted.
std::string Stamp(const std::tm& local);

// x written as printf "%g" writes it in the C locale (234, 2.5, 1.5e+06),
// whatever the process's number locale.
std::string FormatMs(double x);

// Rounds a scale up to the next multiple of the scale step, by its "%g" text
// (read back independently of the locale too).
double RoundUpScale(double x);

// The time of an answer as a check records it: whole milliseconds, rounded
// to the nearest, and at least 1, since 0 means "no time" to every reader.
double AnswerMs(std::chrono::nanoseconds elapsed);

struct HistoryScan {
    AccessRecord best;
    AccessRecord worst;
    double basis = 0.0;  // what the graph scale is rounded up from
};

// Best and worst record of the history, oldest first, and the scale basis:
// the current scale while the history is short, twice its average once full.
HistoryScan ScanHistory(const AccessHistory& history, double graphScale);

// The five axis labels, top to bottom, for a scale.
std::array<std::string, kLabelDivisions> ScaleLabels(double scale);

}  // namespace orvalin

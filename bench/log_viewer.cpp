// How fast the log viewer opens and searches a big log and what memory it
// takes, next to a plain text control fed the same file line by line.
//
// Logs in the log writer's format (stamped lines, CR LF, a mix of success,
// warning, failure and missed-entry lines) are written to a temporary folder
// and each is opened in the real viewer dialog under Qt's "offscreen"
// platform, in a process of its own (see log_viewer_measure.h): first an
// empty log, for the empty viewer's memory, then the big one. A log of one
// 100 MB line shows what a key press costs on it. Then a QPlainTextEdit is
// fed a log line by line with appendPlainText, the way a text control is
// filled a line at a time.
//
// Goals: the first screen within 0.3 s; peak resident memory at most 40 MB
// above the empty viewer's for up to 1,000,000 lines and at most 120 MB
// above it beyond; every line found by a find within 1 s (up to 10,000,000
// lines); indexing at 1 GB/s or more, judged on a log of 600 MB or more (the
// time until every line is indexed, counted from the dialog's start); a key
// press on the 100 MB line within 0.05 s; at least 20 times faster than the
// line-by-line control. Exits 1 when one is missed.
//
// Usage: log_viewer [--quick | --lines N] [--screenshot FILE.png]
//   default: logs of 1,000,000 and 10,000,000 lines (about 65 and 650 MB);
//   --quick: 300,000 lines and a control stopped after 5 s; --lines N: N.
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log_viewer_measure.h"

namespace {

using logview_bench::Figures;

constexpr double kFirstScreenGoalS = 0.3;
constexpr double kMemoryGoalMb = 40;
constexpr double kBigMemoryGoalMb = 120;
constexpr std::int64_t kMemoryGoalLines = 1'000'000;
constexpr double kFindGoalS = 1.0;
constexpr std::int64_t kFindGoalLines = 10'000'000;
constexpr double kIndexGoalGbS = 1.0;
constexpr std::uint64_t kIndexGoalBytes = std::uint64_t{600} << 20;
constexpr double kKeyGoalS = 0.05;
constexpr double kSpeedupGoal = 20.0;

double Get(const Figures& figures, const char* name) {
    const auto found = figures.find(name);
    return found == figures.end() ? -1.0 : found->second;
}

double Mb(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

struct Run {
    std::int64_t lines = 0;
    std::filesystem::path file;
    std::uint64_t bytes = 0;
    Figures viewer;
    bool measured = false;
};

struct Verdicts {
    bool all = true;
    void Say(const char* goal, bool met, const std::string& figure) {
        std::printf("  %-52s %s (%s)\n", goal, met ? "MET" : "NOT MET", figure.c_str());
        all = all && met;
    }
};

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::int64_t onlyLines = 0;
    std::string screenshot;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--measure" && i + 3 < argc && std::strcmp(argv[i + 2], "--empty") == 0) {
            const QString shot = i + 5 < argc ? QString::fromLocal8Bit(argv[i + 5]) : QString();
            return logview_bench::MeasureViewer(argc, argv, argv[i + 1], argv[i + 3], shot);
        } else if (arg == "--long-line" && i + 1 < argc) {
            return logview_bench::MeasureLongLine(argc, argv, argv[i + 1]);
        } else if (arg == "--control" && i + 3 < argc) {
            return logview_bench::MeasureControl(argc, argv, argv[i + 1],
                                                 std::strtod(argv[i + 2], nullptr),
                                                 std::strtod(argv[i + 3], nullptr));
        } else if (arg == "--quick") {
            quick = true;
        } else if (arg == "--lines" && i + 1 < argc) {
            onlyLines = std::strtoll(argv[++i], nullptr, 10);
        } else if (arg == "--screenshot" && i + 1 < argc) {
            screenshot = argv[++i];
        } else {
            std::fprintf(stderr, "usage: log_viewer [--quick | --lines N] [--screenshot FILE]\n");
            return 2;
        }
    }
    if (onlyLines < 0) {
        std::fprintf(stderr, "--lines wants a count of lines\n");
        return 2;
    }

    char pattern[] = "/tmp/orvalin-log-viewer-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::filesystem::path folder = pattern;
    const char* self = "/proc/self/exe";
    const std::vector<std::int64_t> lineCounts =
        onlyLines > 0 ? std::vector<std::int64_t>{onlyLines}
        : quick       ? std::vector<std::int64_t>{300'000}
                      : std::vector<std::int64_t>{1'000'000, 10'000'000};
    const std::filesystem::path empty = folder / "empty.log";
    std::ofstream(empty).close();

    std::vector<Run> runs;
    for (const std::int64_t lines : lineCounts) {
        Run run;
        run.lines = lines;
        run.file = folder / ("access-" + std::to_string(lines) + ".log");
        run.bytes = logview_bench::WriteLog(run.file, lines);
        std::vector<std::string> arguments = {"--measure", run.file.string(), "--empty",
                                              empty.string()};
        if (runs.empty() && !screenshot.empty()) {
            arguments.insert(arguments.end(), {"--screenshot", screenshot});
        }
        const auto figures = logview_bench::RunMeasurement(self, arguments);
        run.measured = figures.has_value();
        run.viewer = figures.value_or(Figures{});
        runs.push_back(run);
        if (run.bytes > (std::uint64_t{200} << 20)) {
            std::filesystem::remove(run.file);  // no more than one big log on disk
        }
    }

    // One line of 100 MB between two short ones.
    const std::filesystem::path longLog = folder / "long-line.log";
    {
        std::ofstream out(longLog, std::ios::binary);
        out << "<03/14/2004 09:05:07> SUCCESS http://a/ 5ms\r\n";
        out << "<03/14/2004 09:05:08> Website unreachable: http://"
            << std::string(std::size_t{100} << 20, 'x') << "/\r\n";
        out << "<03/14/2004 09:05:09> SUCCESS http://a/ 6ms\r\n";
    }
    const auto longLine = logview_bench::RunMeasurement(self, {"--long-line", longLog.string()});
    std::filesystem::remove(longLog);

    // The control: the smallest log, stopped after a while.
    const Run& controlled = runs.front();
    const double limitS = quick ? 5.0 : 30.0;
    if (!std::filesystem::exists(controlled.file)) {
        logview_bench::WriteLog(controlled.file, controlled.lines);
    }
    const auto control = logview_bench::RunMeasurement(
        self, {"--control", controlled.file.string(), std::to_string(controlled.lines),
               std::to_string(limitS)});

    std::printf(
        "Log viewer under the offscreen platform; logs just written (in the page cache).\n\n");
    std::printf("%11s %8s | %9s %9s %9s %9s %9s %9s %9s | %9s %9s\n", "lines", "file MB", "first",
                "indexed", "GB/s", "(CPU s)", "to end", "find", "find wide", "memory", "(empty)");
    for (const Run& run : runs) {
        const Figures& f = run.viewer;
        const double taken = (Get(f, "peak_kb") - Get(f, "empty_kb")) / 1024;
        std::printf(
            "%11lld %8.1f | %7.3f s %7.3f s %9.2f %7.3f s %7.4f s %7.3f s %7.3f s | %6.1f MB %6.1f "
            "MB\n",
            static_cast<long long>(run.lines), Mb(static_cast<double>(run.bytes)), Get(f, "first"),
            Get(f, "indexed"),
            static_cast<double>(run.bytes) / std::max(Get(f, "indexed"), 1e-9) / 1e9,
            Get(f, "indexed_cpu"), Get(f, "end"), Get(f, "find"), Get(f, "find_wide"), taken,
            Get(f, "empty_kb") / 1024);
    }
    const double controlS = control ? Get(*control, "seconds") : 0;
    const double speedup = controlS / std::max(Get(controlled.viewer, "indexed"), 1e-9);
    std::printf(
        "\nfirst: until the first screen of lines was painted; indexed: until every line was\n"
        "indexed (from the dialog's start), with the CPU time all the process's threads took\n"
        "meanwhile; to end: jump to the newest line and paint it; find: a word only the first\n"
        "line holds, searched backwards from the last; find wide: a word beyond ASCII that no\n"
        "line holds; memory: the viewer process's peak resident size above the empty viewer's\n"
        "(in brackets).\n");
    std::printf("A key press on a line of 100 MB, and its repaint: %.4f s.\n",
                longLine ? Get(*longLine, "key") : -1.0);
    std::printf("A QPlainTextEdit fed the %lld-line log line by line: %.2f s%s, %.0f x slower.\n",
                static_cast<long long>(controlled.lines), controlS,
                control && Get(*control, "extrapolated") > 0 ? " (extrapolated)" : "", speedup);

    std::printf("\nGoals:\n");
    Verdicts verdicts;
    for (const Run& run : runs) {
        const Figures& f = run.viewer;
        const std::string name = std::to_string(run.lines) + " lines: ";
        if (!run.measured) {
            verdicts.Say((name + "measured").c_str(), false, "no figures");
            continue;
        }
        const double taken = (Get(f, "peak_kb") - Get(f, "empty_kb")) / 1024;
        const double memoryGoal = run.lines <= kMemoryGoalLines ? kMemoryGoalMb : kBigMemoryGoalMb;
        const double rate =
            static_cast<double>(run.bytes) / std::max(Get(f, "indexed"), 1e-9) / 1e9;
        verdicts.Say((name + "every line indexed").c_str(),
                     static_cast<std::int64_t>(Get(f, "lines")) == run.lines,
                     Format("%.0f", Get(f, "lines")));
        verdicts.Say((name + Format("first screen within %.1f s", kFirstScreenGoalS)).c_str(),
                     Get(f, "first") >= 0 && Get(f, "first") <= kFirstScreenGoalS,
                     Format("%.3f s", Get(f, "first")));
        verdicts.Say((name + Format("memory at most %.0f MB above empty", memoryGoal)).c_str(),
                     taken <= memoryGoal, Format("%.1f MB", taken));
        if (run.lines <= kFindGoalLines) {
            verdicts.Say(
                (name + Format("find through every line within %.1f s", kFindGoalS)).c_str(),
                Get(f, "find") >= 0 && Get(f, "find") <= kFindGoalS,
                Format("%.3f s", Get(f, "find")));
        }
        if (run.bytes >= kIndexGoalBytes) {
            verdicts.Say((name + Format("indexed at %.1f GB/s or more", kIndexGoalGbS)).c_str(),
                         rate >= kIndexGoalGbS, Format("%.2f GB/s", rate));
        }
    }
    const double key = longLine ? Get(*longLine, "key") : -1.0;
    verdicts.Say(Format("a key press on a 100 MB line within %.2f s", kKeyGoalS).c_str(),
                 key >= 0 && key <= kKeyGoalS, Format("%.4f s", key));
    verdicts.Say(Format("at least %.0f x faster than the control", kSpeedupGoal).c_str(),
                 control && speedup >= kSpeedupGoal, Format("%.0f x", speedup));

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return verdicts.all ? 0 : 1;
}

// How fast the log viewer opens a big log, compared with a plain text control
// fed the same file line by line.
//
// Logs in the log writer's format (stamped lines, CR LF, a mix of success,
// warning, failure and missed-entry lines) are written to a temporary folder
// and each is opened in the real viewer dialog under Qt's "offscreen"
// platform, in a process of its own so that no measurement inherits memory
// from another. For each it prints the time until the first screen of lines
// is painted, the time until every line is indexed (the whole log
// browsable), the resident memory the viewer took, and the time to jump to
// the end and to find a word that only the first line holds. Then a
// QPlainTextEdit is fed each file line by line with appendPlainText, the way
// a text control is filled a line at a time.
//
// Goals, for the biggest log (1,000,000 lines; 300,000 with --quick, where the
// dialog's own few megabytes weigh less than on a smaller log): first
// screen within 0.3 s, fully browsable within 1 s, memory taken at most twice
// the file's size, and at least 20 times faster than the line-by-line
// control. Exits 1 when one is not met.
//
// Usage: log_viewer [--quick] [--screenshot FILE.png]
//        log_viewer --viewer LOG [--screenshot FILE.png]   (one measurement)
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "desktop/logview/log_text_view.h"
#include "desktop/logview/log_view_dialog.h"

namespace {

using orvalin::LogTextView;
using orvalin::LogViewDialog;

constexpr double kFirstScreenGoalS = 0.3;
constexpr double kBrowsableGoalS = 1.0;
constexpr double kMemoryGoalFactor = 2.0;
constexpr double kSpeedupGoal = 20.0;
// The control is stopped here and its time for the whole file extrapolated
// from the lines it took (a text control slows down as it fills, so this
// flatters it).
constexpr double kControlLimitS = 120.0;

struct Sizes {
    std::uint64_t rssKb = 0;
    std::uint64_t peakKb = 0;
};

Sizes ReadSizes() {
    Sizes sizes;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            sizes.rssKb = std::strtoull(line.c_str() + 6, nullptr, 10);
        } else if (line.rfind("VmHWM:", 0) == 0) {
            sizes.peakKb = std::strtoull(line.c_str() + 6, nullptr, 10);
        }
    }
    return sizes;
}

// Starts a new peak: VmHWM falls back to the present size.
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

double Mb(std::uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Lines as the log writer writes them: "<%m/%d/%Y %H:%M:%S> " + text + CR LF.
std::uint64_t WriteLog(const std::filesystem::path& file, int lines) {
    static const char* const kSites[] = {"http://www.example.org/", "http://shop.example.com/cart",
                                         "http://intranet.example.net:8080/status",
                                         "http://blog.example.io/feed.xml"};
    std::mt19937 random(20040314);
    std::ofstream out(file, std::ios::binary);
    std::string line;
    char stamp[32];
    std::uint64_t seconds = 9 * 3600;
    for (int i = 0; i < lines; ++i) {
        seconds += 15;
        const std::uint64_t day = seconds / 86400 % 28 + 1;
        std::snprintf(stamp, sizeof stamp,
                      "<03/%02" PRIu64 "/2004 %02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 "> ", day,
                      seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
        // Only the first line names this site: finding it searches the whole log.
        const char* site = i == 0 ? "http://first.example.org/" : kSites[i % 4];
        const auto roll = static_cast<unsigned>(random() % 1000);
        const auto ms = static_cast<unsigned>(40 + random() % 400);
        line = stamp;
        if (roll < 8) {
            line += "Missed Entry: ";
            line += stamp;
        }
        if (roll < 20) {
            line += std::string("Website unreachable: ") + site;
        } else if (roll < 30) {
            line += std::string("Unexpected response 503 ") + site;
        } else if (roll < 70) {
            line += std::string("WARNING ") + site + " " + std::to_string(ms * 40) + "ms";
        } else {
            line += std::string("SUCCESS ") + site + " " + std::to_string(ms) + "ms";
        }
        line += "\r\n";
        out << line;
    }
    out.close();
    return std::filesystem::file_size(file);
}

// Runs the event loop until done() holds or limitMs has passed.
template <typename Done>
bool RunUntil(Done done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

struct ViewerFigures {
    double firstScreenS = -1;
    double browsableS = -1;
    double endScreenS = -1;
    double findS = -1;
    qint64 lines = 0;
    std::uint64_t rssBeforeKb = 0;
    std::uint64_t peakKb = 0;
};

ViewerFigures TimeViewer(const std::filesystem::path& file, const QString& screenshot) {
    ViewerFigures figures;
    figures.rssBeforeKb = ReadSizes().rssKb;
    ResetPeak();

    QElapsedTimer clock;
    clock.start();
    LogViewDialog dialog(QString::fromStdString(file.string()));
    dialog.resize(1000, 640);
    LogTextView* view = dialog.View();
    bool ended = false;
    QObject::connect(&dialog, &LogViewDialog::loadEnded, [&] {
        ended = true;
        figures.browsableS = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    });
    QObject::connect(view, &LogTextView::painted, [&](int drawn) {
        const int wanted = std::max(
            1, std::min<int>(view->RowsOnScreen() - 1, static_cast<int>(view->LineCount())));
        if (figures.firstScreenS < 0 && drawn >= wanted && view->LineCount() > 0) {
            figures.firstScreenS = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        }
    });
    dialog.show();
    RunUntil([&] { return ended && figures.firstScreenS >= 0; }, 60'000);
    figures.lines = view->LineCount();
    figures.peakKb = ReadSizes().peakKb;

    QElapsedTimer step;
    step.start();
    view->JumpToEnd();
    view->viewport()->repaint();
    figures.endScreenS = static_cast<double>(step.nsecsElapsed()) / 1e9;

    // A word that is only in the first line, searched backwards from the
    // last: the search goes through the whole log.
    view->MoveCaret({view->LineCount() - 1, 0}, false);
    step.restart();
    const auto found = view->Find(QStringLiteral("FIRST.example"), true);
    view->viewport()->repaint();
    figures.findS = found ? static_cast<double>(step.nsecsElapsed()) / 1e9 : -1;

    if (!screenshot.isEmpty()) {
        auto* findEdit = dialog.findChild<QLineEdit*>(QStringLiteral("findEdit"));
        findEdit->setText(QStringLiteral("unreachable"));
        view->MoveCaret({view->LineCount() / 2, 0}, false);
        dialog.FindNext(false);
        RunUntil([] { return false; }, 200);
        dialog.grab().save(screenshot);
    }
    dialog.done(QDialog::Accepted);
    return figures;
}

struct ControlFigures {
    double seconds = 0;
    qint64 lines = 0;
    bool extrapolated = false;
};

ControlFigures TimeControl(const std::filesystem::path& file, qint64 totalLines) {
    ControlFigures figures;
    QPlainTextEdit edit;
    edit.setReadOnly(true);
    edit.resize(1000, 600);
    edit.show();
    QCoreApplication::processEvents();
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly)) {
        return figures;
    }
    QElapsedTimer clock;
    clock.start();
    while (!in.atEnd()) {
        QByteArray line = in.readLine();
        while (line.endsWith('\n') || line.endsWith('\r')) {
            line.chop(1);
        }
        edit.appendPlainText(QString::fromUtf8(line));
        ++figures.lines;
        if (figures.lines % 1000 == 0 &&
            static_cast<double>(clock.nsecsElapsed()) / 1e9 > kControlLimitS) {
            break;
        }
    }
    edit.viewport()->repaint();
    figures.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (figures.lines < totalLines && figures.lines > 0) {
        figures.extrapolated = true;
        figures.seconds *= static_cast<double>(totalLines) / static_cast<double>(figures.lines);
    }
    return figures;
}

// Runs this program with --viewer on file and reads the figures it prints.
std::optional<ViewerFigures> MeasureInChild(const char* self, const std::filesystem::path& file,
                                            const std::string& screenshot) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<const char*> args = {self, "--viewer", file.c_str()};
        if (!screenshot.empty()) {
            args.push_back("--screenshot");
            args.push_back(screenshot.c_str());
        }
        args.push_back(nullptr);
        ::execv(self, const_cast<char* const*>(args.data()));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string output;
    char buffer[512];
    ssize_t got = 0;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ViewerFigures f;
    long long lines = 0;
    unsigned long long before = 0;
    unsigned long long peak = 0;
    const std::size_t at = output.find("figures ");
    if (child < 0 || at == std::string::npos ||
        std::sscanf(output.c_str() + at,
                    "figures first=%lf browsable=%lf end=%lf find=%lf lines=%lld before=%llu "
                    "peak=%llu",
                    &f.firstScreenS, &f.browsableS, &f.endScreenS, &f.findS, &lines, &before,
                    &peak) != 7) {
        std::fprintf(stderr, "the measurement of %s gave no figures:\n%s\n", file.c_str(),
                     output.c_str());
        return std::nullopt;
    }
    f.lines = lines;
    f.rssBeforeKb = before;
    f.peakKb = peak;
    return f;
}

// One measurement, in its own process: prints the figures on one line.
int MeasureViewer(int argc, char** argv, const char* file, const QString& screenshot) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const ViewerFigures f = TimeViewer(file, screenshot);
    std::printf(
        "figures first=%.6f browsable=%.6f end=%.6f find=%.6f lines=%lld before=%llu "
        "peak=%llu\n",
        f.firstScreenS, f.browsableS, f.endScreenS, f.findS, static_cast<long long>(f.lines),
        static_cast<unsigned long long>(f.rssBeforeKb), static_cast<unsigned long long>(f.peakKb));
    return 0;
}

double TakenMb(const ViewerFigures& f) {
    return static_cast<double>(f.peakKb - std::min(f.peakKb, f.rssBeforeKb)) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    const char* viewerFile = nullptr;
    std::string screenshot;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--viewer") == 0 && i + 1 < argc) {
            viewerFile = argv[++i];
        } else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = argv[++i];
        } else {
            std::fprintf(stderr, "usage: log_viewer [--quick] [--screenshot FILE.png]\n");
            return 2;
        }
    }
    if (viewerFile != nullptr) {
        return MeasureViewer(argc, argv, viewerFile, QString::fromStdString(screenshot));
    }

    char pattern[] = "/tmp/orvalin-log-viewer-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::filesystem::path folder = pattern;
    const std::vector<int> lineCounts =
        quick ? std::vector<int>{300'000, 30'000} : std::vector<int>{1'000'000, 100'000};

    struct Run {
        int lines;
        std::filesystem::path file;
        std::uint64_t bytes;
        ViewerFigures viewer;
        ControlFigures control;
    };
    std::vector<Run> runs;
    bool measured = true;
    for (const int lines : lineCounts) {
        Run run{lines, folder / ("access-" + std::to_string(lines) + ".log"), 0, {}, {}};
        run.bytes = WriteLog(run.file, lines);
        const std::optional<ViewerFigures> viewer =
            MeasureInChild("/proc/self/exe", run.file, runs.empty() ? screenshot : std::string());
        measured = measured && viewer.has_value();
        run.viewer = viewer.value_or(ViewerFigures{});
        runs.push_back(run);
    }
    std::printf(
        "Log viewer under the offscreen platform; logs just written (in the page cache).\n\n");

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (Run& run : runs) {
        run.control = TimeControl(run.file, run.lines);
    }

    std::printf("%10s %9s | %12s %12s %12s %12s %12s | %12s %9s\n", "lines", "file MB",
                "first screen", "browsable", "to the end", "find", "memory MB", "control",
                "speed-up");
    for (const Run& run : runs) {
        std::printf("%10d %9.1f | %10.3f s %10.3f s %10.4f s %10.3f s %12.1f | %9.2f s%s %8.0fx\n",
                    run.lines, Mb(run.bytes), run.viewer.firstScreenS, run.viewer.browsableS,
                    run.viewer.endScreenS, run.viewer.findS, TakenMb(run.viewer),
                    run.control.seconds, run.control.extrapolated ? "*" : " ",
                    run.control.seconds / std::max(run.viewer.browsableS, 1e-9));
    }
    std::printf(
        "\nfirst screen: until the first screen of lines was painted; browsable: until every "
        "line was indexed;\nto the end: jump to the newest line and paint it; find: a word only "
        "the first line holds, searched\nbackwards from the last; memory: the viewer process's "
        "peak resident size less its size before\nthe dialog was made; control: a QPlainTextEdit "
        "fed the file line by line (* extrapolated from\nthe lines it took in %.0f s).\n",
        kControlLimitS);

    const Run& big = runs.front();
    const double takenBytes = TakenMb(big.viewer) * 1024.0 * 1024.0;
    const bool allLines = big.viewer.lines == big.lines;
    const bool firstOk =
        measured && big.viewer.firstScreenS >= 0 && big.viewer.firstScreenS <= kFirstScreenGoalS;
    const bool browsableOk = measured && allLines && big.viewer.browsableS >= 0 &&
                             big.viewer.browsableS <= kBrowsableGoalS;
    const bool memoryOk =
        measured && takenBytes <= kMemoryGoalFactor * static_cast<double>(big.bytes);
    const double speedup = big.control.seconds / std::max(big.viewer.browsableS, 1e-9);
    const bool speedOk = measured && big.viewer.browsableS > 0 && speedup >= kSpeedupGoal;
    std::printf("\nGoals for %d lines (%.1f MB); the viewer's process peaked at %.1f MB in all:\n",
                big.lines, Mb(big.bytes), static_cast<double>(big.viewer.peakKb) / 1024.0);
    std::printf("  first screen within %.1f s:              %s (%.3f s)\n", kFirstScreenGoalS,
                firstOk ? "MET" : "NOT MET", big.viewer.firstScreenS);
    std::printf("  every line browsable within %.1f s:      %s (%.3f s, %lld of %d lines)\n",
                kBrowsableGoalS, browsableOk ? "MET" : "NOT MET", big.viewer.browsableS,
                static_cast<long long>(big.viewer.lines), big.lines);
    std::printf("  memory at most %.0f x the file:           %s (%.2f x)\n", kMemoryGoalFactor,
                memoryOk ? "MET" : "NOT MET", takenBytes / static_cast<double>(big.bytes));
    std::printf("  at least %.0f x faster than the control:  %s (%.0f x)\n", kSpeedupGoal,
                speedOk ? "MET" : "NOT MET", speedup);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return firstOk && browsableOk && memoryOk && speedOk ? 0 : 1;
}

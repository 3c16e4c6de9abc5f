#include "log_viewer_measure.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "desktop/logview/log_text_view.h"
#include "desktop/logview/log_view_dialog.h"

namespace logview_bench {
namespace {

using orvalin::LogTextView;
using orvalin::LogViewDialog;

std::uint64_t PeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtoull(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

// The CPU time of the whole process so far, all threads.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Seconds(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

// Runs the event loop until done() holds or limitMs has passed. The loop
// sleeps between events, as the program's own does: a loop that polled
// would take a core from the threads being measured.
template <typename Done>
bool RunUntil(Done done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    check.setInterval(2);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > limitMs) {
            loop.quit();
        }
    });
    check.start();
    if (!done()) {
        loop.exec();
    }
    return done();
}

void Print(const Figures& figures) {
    std::printf("figures");
    for (const auto& [name, value] : figures) {
        std::printf(" %s=%.6f", name.c_str(), value);
    }
    std::printf("\n");
}

// Opens log in a viewer dialog and waits until every line is indexed and
// the first screen painted; the times go into figures.
std::unique_ptr<LogViewDialog> OpenViewer(const char* log, Figures& figures) {
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = CpuSeconds();
    auto dialog = std::make_unique<LogViewDialog>(QString::fromLocal8Bit(log));
    dialog->resize(1000, 640);
    LogTextView* view = dialog->View();
    double first = -1;
    double indexed = -1;
    double indexedCpu = -1;
    QObject::connect(dialog.get(), &LogViewDialog::loadEnded, [&] {
        indexed = Seconds(clock);
        indexedCpu = CpuSeconds() - cpuBefore;
    });
    QObject::connect(view, &LogTextView::painted, [&](int drawn) {
        const int wanted = std::max(
            1, std::min<int>(view->RowsOnScreen() - 1, static_cast<int>(view->LineCount())));
        if (first < 0 && drawn >= wanted && view->LineCount() > 0) {
            first = Seconds(clock);
        }
    });
    dialog->show();
    RunUntil([&] { return indexed >= 0 && (first >= 0 || view->LineCount() == 0); }, 120'000);
    QObject::disconnect(view, &LogTextView::painted, nullptr, nullptr);
    figures["first"] = first;
    figures["indexed"] = indexed;
    figures["indexed_cpu"] = indexedCpu;
    figures["lines"] = static_cast<double>(view->LineCount());
    return dialog;
}

}  // namespace

int MeasureViewer(int argc, char** argv, const char* log, const char* empty,
                  const QString& screenshot) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Figures figures;
    {
        Figures ignored;
        const auto dialog = OpenViewer(empty, ignored);
        dialog->done(QDialog::Accepted);
        figures["empty_kb"] = static_cast<double>(PeakKb());
    }
    const auto dialog = OpenViewer(log, figures);
    LogTextView* view = dialog->View();

    QElapsedTimer step;
    step.start();
    view->JumpToEnd();
    view->viewport()->repaint();
    figures["end"] = Seconds(step);

    // A word that only the first line holds, searched backwards from the
    // last: the search goes through the whole log.
    view->MoveCaret({view->LineCount() - 1, 0}, false);
    step.restart();
    auto found = view->Find(QStringLiteral("FIRST.example"), true);
    view->viewport()->repaint();
    figures["find"] = found ? Seconds(step) : -1;
    // A word beyond ASCII that no line holds: every line is looked at.
    step.restart();
    found = view->Find(QString::fromUtf16(u"F\u00DCRST.example"), false);
    figures["find_wide"] = found ? -1 : Seconds(step);

    if (!screenshot.isEmpty()) {
        auto* findEdit = dialog->findChild<QLineEdit*>(QStringLiteral("findEdit"));
        findEdit->setText(QStringLiteral("unreachable"));
        view->MoveCaret({view->LineCount() / 2, 0}, false);
        dialog->FindNext(false);
        RunUntil([] { return false; }, 200);
        dialog->grab().save(screenshot);
    }
    figures["peak_kb"] = static_cast<double>(PeakKb());
    dialog->done(QDialog::Accepted);
    Print(figures);
    return 0;
}

int MeasureLongLine(int argc, char** argv, const char* log) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Figures figures;
    const auto dialog = OpenViewer(log, figures);
    LogTextView* view = dialog->View();
    view->setFocus();
    double slowest = 0;
    for (const Qt::Key key : {Qt::Key_End, Qt::Key_Left, Qt::Key_Right, Qt::Key_Home}) {
        QElapsedTimer step;
        step.start();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &press);
        view->viewport()->repaint();
        slowest = std::max(slowest, Seconds(step));
    }
    figures["key"] = slowest;
    figures["peak_kb"] = static_cast<double>(PeakKb());
    dialog->done(QDialog::Accepted);
    Print(figures);
    return 0;
}

int MeasureControl(int argc, char** argv, const char* log, double lines, double limitS) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QPlainTextEdit edit;
    edit.setReadOnly(true);
    edit.resize(1000, 600);
    edit.show();
    QCoreApplication::processEvents();
    QFile in(QString::fromLocal8Bit(log));
    if (!in.open(QIODevice::ReadOnly)) {
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    double taken = 0;
    while (!in.atEnd()) {
        QByteArray line = in.readLine();
        while (line.endsWith('\n') || line.endsWith('\r')) {
            line.chop(1);
        }
        edit.appendPlainText(QString::fromUtf8(line));
        ++taken;
        if (static_cast<std::int64_t>(taken) % 1000 == 0 && Seconds(clock) > limitS) {
            break;
        }
    }
    edit.viewport()->repaint();
    Figures figures;
    figures["seconds"] = Seconds(clock) * (taken < lines ? lines / std::max(taken, 1.0) : 1.0);
    figures["extrapolated"] = taken < lines ? 1 : 0;
    Print(figures);
    return 0;
}

std::optional<Figures> RunMeasurement(const char* self, const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<const char*> args = {self};
        for (const std::string& argument : arguments) {
            args.push_back(argument.c_str());
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
    const std::size_t at = output.find("figures");
    if (child < 0 || at == std::string::npos) {
        std::fprintf(stderr, "a measurement gave no figures:\n%s\n", output.c_str());
        return std::nullopt;
    }
    Figures figures;
    std::istringstream words(output.substr(at + 7, output.find('\n', at) - at - 7));
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            figures[word.substr(0, equals)] = std::strtod(word.c_str() + equals + 1, nullptr);
        }
    }
    return figures;
}

std::uint64_t WriteLog(const std::filesystem::path& file, std::int64_t lines) {
    static const char* const kSites[] = {"http://www.example.org/", "http://shop.example.com/cart",
                                         "http://intranet.example.net:8080/status",
                                         "http://blog.example.io/feed.xml"};
    std::mt19937 random(20040314);
    std::ofstream out(file, std::ios::binary);
    std::string line;
    char stamp[32];
    std::uint64_t seconds = 9 * 3600;
    for (std::int64_t i = 0; i < lines; ++i) {
        seconds += 15;
        const std::uint64_t day = seconds / 86400 % 28 + 1;
        std::snprintf(stamp, sizeof stamp,
                      "<03/%02" PRIu64 "/2004 %02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 "> ", day,
                      seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
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

}  // namespace logview_bench

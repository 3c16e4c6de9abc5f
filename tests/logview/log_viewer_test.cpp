// The log viewer dialog on real files under the offscreen platform: what it
// shows, Refresh, Clear Log, the loader holding the log writer's lock,
// closing, and selecting, copying, finding and colouring on the real widget.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "desktop/logview/log_text_view.h"
#include "desktop/logview/log_view_dialog.h"
#include "logs/log_file_access.h"
#include "qt_support.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;
using test::AnswerBoxes;
using test::AnswerNextBox;
using test::ReadFileBytes;
using test::WaitFor;

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

QString Numbered(int i) {
    return QStringLiteral("<03/14/2004 09:05:07> SUCCESS http://a/ %1ms").arg(i);
}

// Lines 0 to count - 1 as the writer writes them; the word "needle" in
// the line numbered needle.
std::string NumberedLog(int count, int needle = -1) {
    std::string content;
    for (int i = 0; i < count; ++i) {
        content += (i == needle ? Numbered(i) + " needle" : Numbered(i)).toStdString() + "\r\n";
    }
    return content;
}

// A budget far smaller than the logs of these tests: reads of 4 KiB, groups
// of 16 lines or 1 KiB.
LogLoadOptions SmallBudget() {
    LogLoadOptions options;
    options.budget = LogBudget{4096, 16, 1024, 65536};
    return options;
}

// Holds the loader (or a find) after each read until opened.
class LoaderGate {
  public:
    std::function<void()> Hook() {
        return [this] {
            std::unique_lock lock(mutex_);
            ++reads_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        };
    }
    LogLoadOptions Options(std::size_t firstReadBytes) {
        LogLoadOptions options;
        options.firstReadBytes = firstReadBytes;
        options.afterRead = Hook();
        return options;
    }
    bool WaitForRead() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [this] { return reads_ > 0; });
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // Holds the next reads again.
    void Close() {
        const std::lock_guard lock(mutex_);
        open_ = false;
        reads_ = 0;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int reads_ = 0;
    bool open_ = false;
};

class LogViewerTest : public ::testing::Test {
  protected:
    ~LogViewerTest() override { gate.Open(); }

    std::unique_ptr<LogViewDialog> Open(const std::filesystem::path& file,
                                        LogLoadOptions options = {}) {
        auto dialog = std::make_unique<LogViewDialog>(QString::fromStdString(file.string()),
                                                      nullptr, std::move(options));
        dialog->resize(900, 500);
        dialog->show();
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        return dialog;
    }
    static bool Loaded(LogViewDialog& dialog) {
        return WaitFor([&] { return !dialog.CurrentLoad(); });
    }
    static QStringList Shown(LogViewDialog& dialog) {
        QStringList lines;
        for (qint64 i = 0; i < dialog.View()->LineCount(); ++i) {
            lines << dialog.View()->LineText(i);
        }
        return lines;
    }
    template <typename T>
    static T* Child(LogViewDialog& dialog, const char* name) {
        T* child = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static QString PathBox(LogViewDialog& dialog) {
        return Child<QLineEdit>(dialog, "pathEdit")->text();
    }

    test::TempDir dir;
    std::string log = (dir / "access.log").string();
    LoaderGate gate;
};

TEST_F(LogViewerTest, ShowsEveryLineAndTheFullPath) {
    WriteFile(log,
              "<03/14/2004 09:05:07> SUCCESS http://a/ 5ms\r\n"
              "<03/14/2004 09:06:07> Website unreachable: http://b/\r\n"
              "<03/14/2004 09:07:07> SUCCESS http://a/ 7ms");  // no final line end
    std::filesystem::create_directory(dir / "sub");
    const auto dialog = Open(dir / "sub" / ".." / "access.log");
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(dialog->windowTitle(), "Log");
    EXPECT_EQ(Shown(*dialog), QStringList({"<03/14/2004 09:05:07> SUCCESS http://a/ 5ms",
                                           "<03/14/2004 09:06:07> Website unreachable: http://b/",
                                           "<03/14/2004 09:07:07> SUCCESS http://a/ 7ms"}));
    EXPECT_EQ(PathBox(*dialog), QString::fromStdString(std::filesystem::canonical(log).string()));
    EXPECT_EQ(Child<QLabel>(*dialog, "lineCountLabel")->text(), "3 lines");
    EXPECT_TRUE(dialog->View()->hasFocus());
}

TEST_F(LogViewerTest, AnEmptyLogShowsNothingAndItsPath) {
    WriteFile(log, "");
    const auto dialog = Open(log);
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(dialog->View()->LineCount(), 0);
    EXPECT_EQ(PathBox(*dialog), QString::fromStdString(log));
}

TEST_F(LogViewerTest, AMissingOrHeldLogSaysSoInTheTextAndRefreshTriesAgain) {
    const QString expected = "Could not open log '" + QString::fromStdString(log) + "'";
    const auto dialog = Open(log);
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(Shown(*dialog), QStringList{expected});
    EXPECT_EQ(PathBox(*dialog), "");

    WriteFile(log, "<03/14/2004 09:05:07> SUCCESS http://a/ 5ms\r\n");
    {
        const LogFileReader holder(log);  // another holder of the lock
        ASSERT_TRUE(holder.IsOpen());
        Child<QPushButton>(*dialog, "refreshButton")->click();
        ASSERT_TRUE(Loaded(*dialog));
        EXPECT_EQ(Shown(*dialog), QStringList{expected});
        EXPECT_EQ(PathBox(*dialog), "");
    }
    Child<QPushButton>(*dialog, "refreshButton")->click();
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(Shown(*dialog), QStringList{"<03/14/2004 09:05:07> SUCCESS http://a/ 5ms"});
    EXPECT_EQ(PathBox(*dialog), QString::fromStdString(log));
}

TEST_F(LogViewerTest, OddBytesAndAMegabyteLineKeepEveryLineInPlace) {
    const std::string megabyte(1'000'000, 'm');
    WriteFile(log, "first\r\n" + std::string("nul\0byte\r\n", 10) + "bad \xC0\xAF utf-8\n" +
                       megabyte + "\r\n" + "lone\rcr\r\n" + "last");
    const auto dialog = Open(log);
    ASSERT_TRUE(Loaded(*dialog));
    const QStringList shown = Shown(*dialog);
    ASSERT_EQ(shown.size(), 6);
    EXPECT_EQ(shown[0], "first");
    EXPECT_EQ(shown[1], QString::fromUtf16(u"nul\u2400byte"));
    EXPECT_TRUE(shown[2].startsWith("bad ") && shown[2].endsWith(" utf-8"));
    EXPECT_EQ(shown[3], QString::fromStdString(megabyte.substr(0, 65536)));
    EXPECT_EQ(shown[4], QString::fromUtf16(u"lone\u240Dcr"));
    EXPECT_EQ(shown[5], "last");
    LogTextView* view = dialog->View();
    EXPECT_TRUE(view->LineIsCut(3));
    EXPECT_FALSE(view->LineIsCut(4));

    // The megabyte line's first 64 KiB scroll sideways to their end, where a
    // marker in the alternate row colour tells the line's length.
    const QColor markerBack = view->palette().color(QPalette::AlternateBase);
    ASSERT_NE(markerBack, view->palette().color(QPalette::Base));
    const auto markerPixels = [&] {
        const QImage image = view->viewport()->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                count += image.pixelColor(x, y) == markerBack ? 1 : 0;
            }
        }
        return count;
    };
    EXPECT_LT(markerPixels(), 20);
    view->MoveCaret({3, 0}, false);
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(view->Caret(), (TextPosition{3, 65536}));
    QTest::keyClick(view, Qt::Key_Right);
    EXPECT_EQ(view->Caret(), (TextPosition{4, 0}));
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    EXPECT_GT(view->horizontalScrollBar()->value(), 65536 - 200);
    EXPECT_GT(markerPixels(), 200);
}

TEST_F(LogViewerTest, AReadErrorIsToldInTheStatusLine) {
    // Reading /proc/self/mem from its start fails with EIO, as a failing
    // disk does.
    const auto dialog = Open("/proc/self/mem");
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(Child<QLabel>(*dialog, "logStatus")->text(),
              "The log could not be read to its end (Input/output error); the lines before are "
              "shown.");
    EXPECT_EQ(Child<QLabel>(*dialog, "lineCountLabel")->text(), "0 lines");
}

TEST_F(LogViewerTest, AHugeLineUnderAMemoryLimitShowsItsStart) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
    if (qEnvironmentVariableIsEmpty("ORVALIN_TEST_MEMORY_LIMIT")) {
        // In a process of its own, as the limit cannot be lifted again.
        const QString self = QCoreApplication::applicationFilePath();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORVALIN_TEST_MEMORY_LIMIT", "1");
        environment.insert("MALLOC_ARENA_MAX", "1");  // no 64 MiB reservation per thread
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(self, {"--gtest_filter=LogViewerTest.AHugeLineUnderAMemoryLimitShowsItsStart"});
        ASSERT_TRUE(child.waitForFinished(60'000));
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0);
        return;
    }
    // One line of 512 MiB (a sparse file of NUL bytes), viewed with 96 MiB
    // of address space to spare: the line alone would not fit.
    {
        std::ofstream(log, std::ios::binary).close();
        std::filesystem::resize_file(log, std::uintmax_t{512} << 20);
    }
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &limit), 0);
    limit.rlim_cur = static_cast<rlim_t>(test::VirtualSize() + (std::uint64_t{96} << 20));
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limit), 0);

    const auto dialog = Open(log);
    ASSERT_TRUE(WaitFor([&] { return !dialog->CurrentLoad(); }, 60s));
    LogTextView* view = dialog->View();
    ASSERT_EQ(view->LineCount(), 1);
    EXPECT_EQ(Child<QLabel>(*dialog, "logStatus")->text(), "");
    EXPECT_EQ(view->LineText(0).size(), 65536);
    EXPECT_TRUE(view->LineIsCut(0));
    QTest::keyClick(view, Qt::Key_End);
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().size(), 65536);
    EXPECT_FALSE(view->grab().isNull());
#endif
}

TEST_F(LogViewerTest, ShowsTheRightLinesAtTheTopMiddleAndEndOfALogLargerThanItsBudget) {
    const std::string content = NumberedLog(20'000);
    WriteFile(log, content);
    const auto dialog = Open(log, SmallBudget());
    ASSERT_TRUE(Loaded(*dialog));
    LogTextView* view = dialog->View();
    ASSERT_EQ(view->LineCount(), 20'000);
    int painted = 0;
    QObject::connect(view, &LogTextView::painted, [&](int lines) { painted = lines; });
    const auto screenIsRight = [&] {
        view->viewport()->repaint();
        EXPECT_GT(painted, 10);
        const qint64 first = view->FirstVisibleLine();
        for (qint64 line = first; line < first + painted; ++line) {
            EXPECT_EQ(view->LineText(line), Numbered(static_cast<int>(line)));
        }
        return first;
    };
    EXPECT_EQ(screenIsRight(), 0);
    view->verticalScrollBar()->setValue(10'007);
    EXPECT_EQ(screenIsRight(), 10'007);
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    EXPECT_GE(screenIsRight() + painted, 20'000);
    EXPECT_EQ(view->Caret().line, 19'999);
    // What the viewer holds of the log is its index, not its text.
    EXPECT_LT(view->Text()->IndexBytes() * 10, content.size());
    EXPECT_EQ(Child<QLabel>(*dialog, "logStatus")->text(), "");
}

TEST_F(LogViewerTest, ALogChangedWhileShownIsToldNeverShownAsItsOldLinesAndRefreshOffered) {
    const std::string content = NumberedLog(4000);
    struct Case {
        const char* name;
        std::function<void()> change;
        QString told;
        bool endShown;     // the lines near the end, read after the change
        bool middleShown;  // line 1000, read after the change
    };
    const std::filesystem::path other = dir / "other.log";
    const std::vector<Case> cases = {
        {"deleted", [&] { std::filesystem::remove(log); },
         "The log file has been deleted; the lines shown are the ones it held. Refresh reads the "
         "log again.",
         true, true},
        {"replaced",
         [&] {
             WriteFile(other, NumberedLog(10));
             std::filesystem::rename(other, log);
         },
         "The log file has been replaced by another; the lines shown are the old file's. "
         "Refresh reads the new one.",
         true, true},
        {"cut", [&] { std::filesystem::resize_file(log, content.size() / 2); },
         "The log file has been cut or rewritten; lines that changed are left blank. Refresh "
         "reads it again.",
         false, true},
        {"emptied and written again",
         [&] {
             ASSERT_TRUE(TruncateLogFile(log));
             std::ofstream(log, std::ios::binary | std::ios::app) << NumberedLog(4000, 3);
         },
         "The log file has been cut or rewritten; lines that changed are left blank. Refresh "
         "reads it again.",
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(log, content);
        const auto dialog = Open(log, SmallBudget());
        ASSERT_TRUE(Loaded(*dialog));
        LogTextView* view = dialog->View();
        QLabel* status = Child<QLabel>(*dialog, "logStatus");
        QPushButton* refresh = Child<QPushButton>(*dialog, "refreshButton");
        EXPECT_FALSE(refresh->isDefault());

        c.change();
        view->viewport()->repaint();  // the lines on screen were read before
        EXPECT_EQ(status->text(), "");
        view->verticalScrollBar()->setValue(3950);
        view->viewport()->repaint();  // the next read notices
        EXPECT_EQ(status->text(), c.told);
        EXPECT_TRUE(refresh->isDefault());
        EXPECT_EQ(view->LineText(3960), c.endShown ? Numbered(3960) : QString());
        EXPECT_EQ(view->LineText(1000), c.middleShown ? Numbered(1000) : QString());
        EXPECT_EQ(view->LineText(3), Numbered(3));  // read before the change: the old line

        refresh->click();
        ASSERT_TRUE(Loaded(*dialog));
        EXPECT_EQ(status->text(), "");
        EXPECT_FALSE(refresh->isDefault());
    }
}

TEST_F(LogViewerTest, ALogChangedDuringAFindIsToldAndNeverMatchedInOtherBytes) {
    // The word is in line 3990; the find is held after its first read while
    // the log changes.
    const std::string content = NumberedLog(4000, 3990);
    LogLoadOptions options = SmallBudget();
    options.afterFindRead = gate.Hook();
    struct Case {
        const char* name;
        std::function<void()> change;
        std::optional<qint64> found;
        QString told;
    };
    const std::vector<Case> cases = {
        {"cut", [&] { std::filesystem::resize_file(log, content.size() / 2); }, std::nullopt,
         "The log file has been cut or rewritten; lines that changed are left blank. Refresh "
         "reads it again."},
        {"replaced",
         [&] {
             WriteFile(dir / "other.log", NumberedLog(4000, 10));
             std::filesystem::rename(dir / "other.log", log);
         },
         3990,
         "The log file has been replaced by another; the lines shown are the old file's. "
         "Refresh reads the new one."},
        {"deleted", [&] { std::filesystem::remove(log); }, 3990,
         "The log file has been deleted; the lines shown are the ones it held. Refresh reads the "
         "log again."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(log, content);
        gate.Close();
        const auto dialog = Open(log, options);
        ASSERT_TRUE(Loaded(*dialog));
        LogTextView* view = dialog->View();
        Child<QLineEdit>(*dialog, "findEdit")->setText("NEEDLE");
        dialog->FindNext(false);
        ASSERT_TRUE(gate.WaitForRead());
        EXPECT_TRUE(view->FindRunning());

        c.change();
        gate.Open();
        ASSERT_TRUE(WaitFor([&] { return !view->FindRunning(); }));
        auto* findStatus = Child<QLabel>(*dialog, "findStatus");
        if (c.found) {
            EXPECT_EQ(findStatus->text(), "");
            EXPECT_EQ(view->Caret().line, *c.found);
            EXPECT_EQ(view->SelectedText(), "needle");
        } else {
            EXPECT_EQ(findStatus->text(), "Not found");
            EXPECT_FALSE(view->HasSelection());
        }
        EXPECT_EQ(Child<QLabel>(*dialog, "logStatus")->text(), c.told);
    }
}

TEST_F(LogViewerTest, ALongFindShowsHowFarItHasComeAndCancelStopsIt) {
    WriteFile(log, NumberedLog(4000));
    LogLoadOptions options = SmallBudget();
    options.afterFindRead = gate.Hook();
    const auto dialog = Open(log, options);
    ASSERT_TRUE(Loaded(*dialog));
    auto* findStatus = Child<QLabel>(*dialog, "findStatus");
    auto* cancel = Child<QPushButton>(*dialog, "findCancelButton");
    EXPECT_FALSE(cancel->isVisible());

    Child<QLineEdit>(*dialog, "findEdit")->setText("no such words");
    QTest::keyClick(Child<QLineEdit>(*dialog, "findEdit"), Qt::Key_Return);
    ASSERT_TRUE(gate.WaitForRead());
    EXPECT_TRUE(dialog->View()->FindRunning());
    EXPECT_TRUE(cancel->isVisible());
    EXPECT_EQ(cancel->text(), "Cancel");
    EXPECT_TRUE(findStatus->text().startsWith("Searching... ")) << findStatus->text().toStdString();
    EXPECT_TRUE(findStatus->text().endsWith("%"));

    cancel->click();
    EXPECT_EQ(findStatus->text(), "Find cancelled");
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_FALSE(dialog->View()->FindRunning());
    gate.Open();
    QTest::qWait(100);  // the find's thread ends on its own; nothing more is told
    EXPECT_EQ(findStatus->text(), "Find cancelled");
}

TEST_F(LogViewerTest, RefreshShowsWhatWasLoggedSince) {
    test::EngineFixture engine;
    engine.engine->Logs().WriteLogLine("SUCCESS http://a/ 5ms", engine.AccessLog());
    const auto dialog = Open(engine.AccessLog());
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(Shown(*dialog), QStringList{"<03/14/2004 09:05:07> SUCCESS http://a/ 5ms"});

    engine.clock->Set(2004, 3, 14, 9, 6, 0);
    engine.engine->Logs().WriteLogLine("WARNING http://a/ 12000ms", engine.AccessLog());
    // Once indexed, the open log is not held: the line is written at once.
    EXPECT_NE(ReadFileBytes(engine.AccessLog()).find("WARNING"), std::string::npos);
    Child<QPushButton>(*dialog, "refreshButton")->click();
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(Shown(*dialog), QStringList({"<03/14/2004 09:05:07> SUCCESS http://a/ 5ms",
                                           "<03/14/2004 09:06:00> WARNING http://a/ 12000ms"}));
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(LogViewerTest, ClearLogAsksAndOnlyYesEmptiesTheFile) {
    const std::string content = "<03/14/2004 09:05:07> SUCCESS http://a/ 5ms\r\n";
    WriteFile(log, content);
    const auto dialog = Open(log);
    ASSERT_TRUE(Loaded(*dialog));
    QPushButton* clear = Child<QPushButton>(*dialog, "clearButton");
    EXPECT_EQ(clear->text(), "Clear Log");

    auto question = AnswerNextBox(QMessageBox::No);
    clear->click();
    ASSERT_TRUE(question->seen);
    EXPECT_EQ(question->title, "Orvalin");
    EXPECT_EQ(question->text, "The log will be permanently deleted, Continue?");
    EXPECT_EQ(question->buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(ReadFileBytes(log), content);
    EXPECT_EQ(dialog->View()->LineCount(), 1);

    question = AnswerNextBox(QMessageBox::Yes);
    clear->click();
    ASSERT_TRUE(question->seen);
    EXPECT_TRUE(std::filesystem::exists(log));
    EXPECT_EQ(std::filesystem::file_size(log), 0u);
    EXPECT_EQ(dialog->View()->LineCount(), 0);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(LogViewerTest, WhileTheLoaderHoldsTheFileClearLogFailsAndANewLineIsAMissedEntry) {
    test::EngineFixture engine;
    const std::string& access = engine.AccessLog();
    for (int i = 0; i < 50; ++i) {
        engine.engine->Logs().WriteLogLine("SUCCESS http://a/ " + std::to_string(i) + "ms", access);
    }
    const std::string before = ReadFileBytes(access);
    const auto dialog = Open(access, gate.Options(200));
    ASSERT_TRUE(gate.WaitForRead());
    // The first lines show while the rest is still being read.
    ASSERT_TRUE(WaitFor([&] { return dialog->View()->LineCount() > 0; }));
    EXPECT_LT(dialog->View()->LineCount(), 50);
    EXPECT_TRUE(dialog->CurrentLoad());

    const auto boxes = AnswerBoxes({QMessageBox::Yes, QMessageBox::Ok});
    Child<QPushButton>(*dialog, "clearButton")->click();
    ASSERT_TRUE(boxes[1]->seen);
    EXPECT_EQ(boxes[1]->title, "Orvalin");
    EXPECT_EQ(boxes[1]->icon, QMessageBox::Warning);
    EXPECT_EQ(boxes[1]->text, "Could not clear log file'" + QString::fromStdString(access) + "'");
    EXPECT_EQ(ReadFileBytes(access), before);

    engine.clock->Set(2004, 3, 14, 9, 6, 0);
    engine.engine->Logs().WriteLogLine("Website unreachable: http://b/", access);
    EXPECT_EQ(ReadFileBytes(access), before);  // kept back, not lost

    gate.Open();
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(dialog->View()->LineCount(), 50);
    engine.clock->Set(2004, 3, 14, 9, 7, 0);
    engine.engine->Logs().WriteLogLine("SUCCESS http://a/ 9ms", access);
    Child<QPushButton>(*dialog, "refreshButton")->click();
    ASSERT_TRUE(Loaded(*dialog));
    const QStringList shown = Shown(*dialog);
    ASSERT_EQ(shown.size(), 52);
    EXPECT_EQ(shown[50],
              "<03/14/2004 09:07:00> Missed Entry: <03/14/2004 09:06:00> Website unreachable: "
              "http://b/");
    EXPECT_EQ(shown[51], "<03/14/2004 09:07:00> SUCCESS http://a/ 9ms");
}

TEST_F(LogViewerTest, CloseWaitsAtMostASecondForAHeldLoaderWhichEndsLaterOnItsOwn) {
    std::string content;
    for (int i = 0; i < 100; ++i) {
        content += "<03/14/2004 09:05:07> SUCCESS http://a/ " + std::to_string(i) + "ms\r\n";
    }
    WriteFile(log, content);
    auto dialog = Open(log, gate.Options(100));
    ASSERT_TRUE(gate.WaitForRead());
    const std::shared_ptr<LogLoad> load = dialog->CurrentLoad();
    ASSERT_TRUE(load);

    QElapsedTimer clock;
    clock.start();
    Child<QPushButton>(*dialog, "closeButton")->click();
    const qint64 waited = clock.elapsed();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 3000);
    EXPECT_FALSE(load->Ended());

    dialog.reset();  // the loader outlives the dialog
    gate.Open();
    ASSERT_TRUE(load->WaitUntilEnded(10s));
    EXPECT_EQ(load->Text()->Size(), 100u);  // it stopped before its next read...
    EXPECT_TRUE(TruncateLogFile(log));      // ...and let go of the file
}

TEST_F(LogViewerTest, EscapeAndTheWindowsCloseButtonCloseTheDialog) {
    WriteFile(log, "a\r\n");
    auto dialog = Open(log);
    QTest::keyClick(dialog->View(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);

    dialog = Open(log);
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->CurrentLoad());
}

class LogViewerWidgetTest : public LogViewerTest {
  protected:
    void SetUp() override {
        std::string content;
        for (int i = 0; i < 2000; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "<03/14/2004 09:%02d:%02d> SUCCESS http://a/ %dms\r\n",
                          i / 60 % 60, i % 60, i);
            content += line;
            if (i == 500 || i == 1500) {
                content += "<03/14/2004 10:00:00> Website unreachable: http://b/\r\n";
            }
        }
        WriteFile(log, content);
        dialog = Open(log);
        ASSERT_TRUE(Loaded(*dialog));
        view = dialog->View();
        view->setFocus();
    }
    // Waits until the find under way (it may go on off the GUI thread) has
    // ended.
    bool FindEnded() const {
        return WaitFor([this] { return !view->FindRunning(); });
    }
    QPoint At(TextPosition position) const {
        const QRect cell = view->CellRect(position);
        return {cell.left() + 1, cell.center().y()};
    }
    // Pixels of the painted viewport that pass test.
    int Pixels(const std::function<bool(QColor)>& test) const {
        const QImage image = view->viewport()->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                count += test(image.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return count;
    }

    std::unique_ptr<LogViewDialog> dialog;
    LogTextView* view = nullptr;
};

TEST_F(LogViewerWidgetTest, SelectsWithTheMouseAndShiftArrowsAndCopies) {
    const QString line0 = view->LineText(0);
    const QString line1 = view->LineText(1);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, At({0, 22}));
    QTest::mouseMove(view->viewport(), At({1, 7}));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, At({1, 7}));
    EXPECT_EQ(view->SelectedText(), line0.mid(22) + "\n" + line1.left(7));
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "SUCCESS http://a/ 0ms\n<03/14/");

    QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(view->SelectedText(),
              line0.mid(22) + "\n" + line1 + "\n" + view->LineText(2).left(8));
    QTest::keyClick(view, Qt::Key_Left);  // a plain arrow drops the selection
    EXPECT_FALSE(view->HasSelection());

    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    const QString all = QApplication::clipboard()->text();
    EXPECT_EQ(all.count('\n'), 2001);
    EXPECT_TRUE(all.startsWith(line0 + "\n"));
    EXPECT_TRUE(all.endsWith("SUCCESS http://a/ 1999ms"));
    // Shift+click extends from the anchor.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, At({0, 1}));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, At({0, 3}));
    EXPECT_EQ(view->SelectedText(), "03");
}

TEST_F(LogViewerWidgetTest, FindsWithCtrlFIgnoringCaseAndHighlightsTheMatch) {
    const QColor highlight = view->palette().color(QPalette::Highlight);
    const auto isHighlight = [&](QColor c) { return c == highlight; };
    EXPECT_EQ(Pixels(isHighlight), 0);

    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    auto* find = Child<QLineEdit>(*dialog, "findEdit");
    EXPECT_TRUE(find->hasFocus());
    QTest::keyClicks(find, "UNREACHABLE");
    QTest::keyClick(find, Qt::Key_Return);
    ASSERT_TRUE(FindEnded());
    EXPECT_TRUE(dialog->isVisible());  // Enter finds; it does not close the dialog
    EXPECT_EQ(view->SelectedText(), "unreachable");
    EXPECT_EQ(view->Caret().line, 501);
    const qint64 first = view->FirstVisibleLine();
    EXPECT_TRUE(first <= 501 && 501 < first + view->RowsOnScreen());
    EXPECT_GT(Pixels(isHighlight), 20);

    QTest::keyClick(find, Qt::Key_Return);
    ASSERT_TRUE(FindEnded());
    EXPECT_EQ(view->Caret().line, 1502);
    auto* status = Child<QLabel>(*dialog, "findStatus");
    EXPECT_EQ(status->text(), "");
    QTest::keyClick(find, Qt::Key_Return);
    ASSERT_TRUE(FindEnded());
    EXPECT_EQ(view->Caret().line, 501);
    EXPECT_EQ(status->text(), "Continued from the top");
    QTest::keyClick(find, Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_TRUE(FindEnded());
    EXPECT_EQ(view->Caret().line, 1502);
    EXPECT_EQ(status->text(), "Continued from the bottom");
    QTest::keyClick(view, Qt::Key_F3, Qt::ShiftModifier);
    ASSERT_TRUE(FindEnded());
    EXPECT_EQ(view->Caret().line, 501);

    find->setText("no such words");
    QTest::keyClick(find, Qt::Key_Return);
    ASSERT_TRUE(FindEnded());
    EXPECT_EQ(status->text(), "Not found");
    EXPECT_EQ(view->Caret().line, 501);
}

TEST_F(LogViewerWidgetTest, FailureLinesAreRedWarningsAmberAndMissedEntriesMarked) {
    const auto red = [](QColor c) { return c.red() > 150 && c.green() < 60 && c.blue() < 60; };
    const auto amber = [](QColor c) {
        return c.red() > 130 && c.green() > 70 && c.green() < 150 && c.blue() < 40;
    };
    const auto blue = [](QColor c) { return c.blue() > 180 && c.red() < 90; };
    EXPECT_EQ(Pixels(red), 0);
    EXPECT_EQ(Pixels(amber), 0);
    EXPECT_EQ(Pixels(blue), 0);

    view->SetText(LogText::FromBytes(
        "<03/14/2004 09:05:07> SUCCESS http://a/ 5ms\r\n"
        "<03/14/2004 09:05:07> Website unreachable: http://b/\r\n"
        "<03/14/2004 09:05:07> WARNING http://a/ 12000ms\r\n"
        "<03/14/2004 09:10:00> Missed Entry: <03/14/2004 09:05:07> SUCCESS http://a/ 5ms\r\n"));
    EXPECT_GT(Pixels(red), 20);
    EXPECT_GT(Pixels(amber), 20);
    EXPECT_GT(Pixels(blue), 20);
    EXPECT_EQ(view->LineText(1), "<03/14/2004 09:05:07> Website unreachable: http://b/");
}

TEST_F(LogViewerWidgetTest, CtrlEndAndNewestLinesJumpToTheEnd) {
    EXPECT_EQ(view->FirstVisibleLine(), 0);
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(view->Caret().line, 2001);
    EXPECT_GE(view->FirstVisibleLine() + view->RowsOnScreen(), 2002);
    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(view->FirstVisibleLine(), 0);
    Child<QPushButton>(*dialog, "newestButton")->click();
    EXPECT_GE(view->FirstVisibleLine() + view->RowsOnScreen(), 2002);
    EXPECT_TRUE(view->hasFocus());
}

TEST_F(LogViewerTest, AfterJumpingToTheEndWhileReadingTheViewFollowsTheNewLines) {
    std::string content;
    for (int i = 0; i < 3000; ++i) {
        content += "<03/14/2004 09:05:07> SUCCESS http://a/ " + std::to_string(i) + "ms\r\n";
    }
    WriteFile(log, content);
    const auto dialog = Open(log, gate.Options(1000));
    ASSERT_TRUE(gate.WaitForRead());
    ASSERT_TRUE(WaitFor([&] { return dialog->View()->LineCount() > 0; }));
    QTest::keyClick(dialog->View(), Qt::Key_End, Qt::ControlModifier);
    gate.Open();
    ASSERT_TRUE(Loaded(*dialog));
    EXPECT_EQ(dialog->View()->LineCount(), 3000);
    EXPECT_GE(dialog->View()->FirstVisibleLine() + dialog->View()->RowsOnScreen(), 3000);
}

}  // namespace
}  // namespace orvalin

#include "logs/log_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using test::ReadFileBytes;
using test::TempDir;

constexpr char kStamp1[] = "<03/14/2004 09:05:07> ";
constexpr char kStamp2[] = "<03/14/2004 09:10:00> ";

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

// An outside holder of the file, like the log viewer or another instance.
class OutsideLock {
  public:
    explicit OutsideLock(const std::filesystem::path& file)
        : fd_(::open(file.c_str(), O_RDWR | O_CREAT, 0644)) {
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
    }
    ~OutsideLock() { ::close(fd_); }
    OutsideLock(const OutsideLock&) = delete;
    OutsideLock& operator=(const OutsideLock&) = delete;

  private:
    int fd_;
};

// Runs body in a child process in which no file may grow beyond limit bytes:
// a write that crosses the limit is cut short and the next one fails with
// EFBIG (SIGXFSZ is ignored). Returns body's result as the child's exit code,
// or -1 when the child did not exit normally.
int InChildWithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limits{};
        getrlimit(RLIMIT_FSIZE, &limits);
        limits.rlim_cur = limit;
        _exit(setrlimit(RLIMIT_FSIZE, &limits) == 0 ? body() : 100);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

void LiftFileSizeLimit() {
    rlimit limits{};
    getrlimit(RLIMIT_FSIZE, &limits);
    limits.rlim_cur = limits.rlim_max;
    setrlimit(RLIMIT_FSIZE, &limits);
}

class LogWriterTest : public ::testing::Test {
  protected:
    LogWriterTest() {
        writer.SetAccessLogFile(access);
        writer.SetErrorLogFile(error);
    }

    TempDir dir;
    test::FakeClock clock;
    CLogWriter writer{clock};
    std::string access = (dir / "access.log").string();
    std::string error = (dir / "error.log").string();
};

TEST_F(LogWriterTest, WritesStampTextAndCrLfAppendingEachLine) {
    writer.WriteLogLine("SUCCESS http://x 234ms", access);
    clock.Set(2004, 12, 1, 23, 59, 58);
    writer.WriteLogLine("Website unreachable: http://y", access);

    EXPECT_EQ(ReadFileBytes(access),
              "<03/14/2004 09:05:07> SUCCESS http://x 234ms\r\n"
              "<12/01/2004 23:59:58> Website unreachable: http://y\r\n");
}

TEST_F(LogWriterTest, EmptyTextIsNeitherWrittenNorQueued) {
    writer.WriteLogLine("", access);
    writer.WriteLogLine("", (dir / "missing" / "x.log").string());

    EXPECT_FALSE(std::filesystem::exists(access));
    EXPECT_TRUE(writer.MissedEntries().empty());
}

TEST_F(LogWriterTest, SwitchesSuppressOnlyTheirOwnFile) {
    writer.SetDoAccessLog(false);
    writer.WriteLogLine("WARNING http://x 9000ms", access);
    writer.WriteLogLine("WARNING http://x 9000ms", error);
    EXPECT_FALSE(std::filesystem::exists(access));
    EXPECT_EQ(ReadFileBytes(error), std::string(kStamp1) + "WARNING http://x 9000ms\r\n");

    writer.SetDoAccessLog(true);
    writer.SetDoErrorLog(false);
    writer.WriteLogLine("SUCCESS http://x 1ms", access);
    writer.WriteLogLine("Website unreachable: http://x", error);
    EXPECT_EQ(ReadFileBytes(access), std::string(kStamp1) + "SUCCESS http://x 1ms\r\n");
    EXPECT_EQ(ReadFileBytes(error), std::string(kStamp1) + "WARNING http://x 9000ms\r\n");

    // A file named by neither setting is always written.
    writer.SetDoAccessLog(false);
    const std::string other = (dir / "other.log").string();
    writer.WriteLogLine("text", other);
    EXPECT_EQ(ReadFileBytes(other), std::string(kStamp1) + "text\r\n");
    EXPECT_TRUE(writer.MissedEntries().empty());
}

TEST_F(LogWriterTest, SharedFileNeedsBothSwitchesOn) {
    writer.SetErrorLogFile(access);

    writer.SetDoErrorLog(false);
    writer.WriteLogLine("one", access);
    writer.SetDoErrorLog(true);
    writer.SetDoAccessLog(false);
    writer.WriteLogLine("two", access);
    EXPECT_FALSE(std::filesystem::exists(access));

    writer.SetDoAccessLog(true);
    writer.WriteLogLine("three", access);
    EXPECT_EQ(ReadFileBytes(access), std::string(kStamp1) + "three\r\n");
}

TEST_F(LogWriterTest, LinesForAMissingFolderAreWrittenAsMissedEntriesOnceItExists) {
    const std::filesystem::path folder = dir / "logs";
    const std::string file = (folder / "access.log").string();
    writer.WriteLogLine("SUCCESS http://a 1ms", file);
    writer.WriteLogLine("Website unreachable: http://b", error + ".missing/x");
    EXPECT_EQ(writer.MissedEntries(),
              (std::deque<std::string>{std::string(kStamp1) + "SUCCESS http://a 1ms",
                                       std::string(kStamp1) + "Website unreachable: http://b"}));

    std::filesystem::create_directory(folder);
    clock.Set(2004, 3, 14, 9, 10, 0);
    writer.WriteLogLine("SUCCESS http://a 2ms", file);

    EXPECT_EQ(ReadFileBytes(file),
              "<03/14/2004 09:10:00> Missed Entry: <03/14/2004 09:05:07> SUCCESS http://a 1ms\r\n"
              "<03/14/2004 09:10:00> Missed Entry: <03/14/2004 09:05:07> Website unreachable: "
              "http://b\r\n"
              "<03/14/2004 09:10:00> SUCCESS http://a 2ms\r\n");
    EXPECT_TRUE(writer.MissedEntries().empty());
}

TEST_F(LogWriterTest, ExistingContentIsKeptAndExtendedAfterItsLastByte) {
    WriteFile(access, "old line\r\nno line end");
    writer.WriteLogLine("SUCCESS http://x 5ms", access);

    EXPECT_EQ(ReadFileBytes(access),
              "old line\r\nno line end<03/14/2004 09:05:07> SUCCESS http://x 5ms\r\n");
}

TEST_F(LogWriterTest, FileLockedElsewhereQueuesTheLine) {
    {
        OutsideLock viewer(access);
        writer.WriteLogLine("SUCCESS http://x 5ms", access);
        EXPECT_EQ(writer.MissedEntries().size(), 1u);
    }
    EXPECT_EQ(ReadFileBytes(access), "");

    clock.Set(2004, 3, 14, 9, 10, 0);
    writer.WriteLogLine("SUCCESS http://x 6ms", access);
    EXPECT_EQ(ReadFileBytes(access), std::string(kStamp2) + "Missed Entry: " + kStamp1 +
                                         "SUCCESS http://x 5ms\r\n" + kStamp2 +
                                         "SUCCESS http://x 6ms\r\n");
}

// A file that may not grow: every write to it fails with nothing written.
TEST_F(LogWriterTest, FailedWriteOfThePresentLineQueuesIt) {
    const std::string full = (dir / "full.log").string();
    WriteFile(full, "full\r\n");
    const int result = InChildWithFileSizeLimit(6, [&] {
        writer.WriteLogLine("SUCCESS http://x 5ms", full);
        if (writer.MissedEntries() !=
            std::deque<std::string>{std::string(kStamp1) + "SUCCESS http://x 5ms"}) {
            return 2;
        }
        LiftFileSizeLimit();
        clock.Set(2004, 3, 14, 9, 10, 0);
        writer.WriteLogLine("next", access);
        return 0;
    });

    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFileBytes(full), "full\r\n");
    EXPECT_EQ(ReadFileBytes(access), std::string(kStamp2) + "Missed Entry: " + kStamp1 +
                                         "SUCCESS http://x 5ms\r\n" + kStamp2 + "next\r\n");
}

TEST_F(LogWriterTest, FailedWriteOfAMissedEntryKeepsTheQueueInOrder) {
    const std::string unreachable = (dir / "missing" / "x.log").string();
    const std::string full = (dir / "full.log").string();
    WriteFile(full, "full\r\n");
    writer.WriteLogLine("first", unreachable);
    writer.WriteLogLine("second", unreachable);
    const int result = InChildWithFileSizeLimit(6, [&] {
        writer.WriteLogLine("third", full);
        if (writer.MissedEntries() != std::deque<std::string>{std::string(kStamp1) + "first",
                                                              std::string(kStamp1) + "second",
                                                              std::string(kStamp1) + "third"}) {
            return 2;
        }
        LiftFileSizeLimit();
        clock.Set(2004, 3, 14, 9, 10, 0);
        writer.WriteLogLine("fourth", access);
        return writer.MissedEntries().empty() ? 0 : 3;
    });

    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFileBytes(full), "full\r\n");
    const std::string missed = std::string(kStamp2) + "Missed Entry: " + kStamp1;
    EXPECT_EQ(ReadFileBytes(access), missed + "first\r\n" + missed + "second\r\n" + missed +
                                         "third\r\n" + kStamp2 + "fourth\r\n");
}

// A FIFO or a device is no log: the open fails at once, and the line waits
// for a real file.
TEST_F(LogWriterTest, FileThatIsNotARegularFileQueuesTheLineWithoutBlocking) {
    const std::filesystem::path fifo = dir / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

    // Should the open block on the FIFO, a reader that comes after a while
    // lets it return (the line then goes into the FIFO and is lost).
    std::promise<void> written;
    std::atomic<int> rescueReader{-1};
    std::thread rescuer([&, finished = written.get_future()] {
        if (finished.wait_for(std::chrono::seconds(3)) == std::future_status::timeout) {
            rescueReader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        }
    });
    writer.WriteLogLine("without reader", fifo.string());
    written.set_value();
    rescuer.join();
    EXPECT_EQ(rescueReader.load(), -1) << "the open blocked on a FIFO without a reader";
    if (rescueReader.load() >= 0) {
        ::close(rescueReader.load());
    }

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    writer.WriteLogLine("with reader", fifo.string());
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "the line went into the FIFO";
    ::close(reader);

    writer.WriteLogLine("device", "/dev/null");

    clock.Set(2004, 3, 14, 9, 10, 0);
    writer.WriteLogLine("next", access);
    const std::string missed = std::string(kStamp2) + "Missed Entry: " + kStamp1;
    EXPECT_EQ(ReadFileBytes(access), missed + "without reader\r\n" + missed + "with reader\r\n" +
                                         missed + "device\r\n" + kStamp2 + "next\r\n");
}

// What reached the file stays; only the rest of the line waits, so no byte is
// written twice.
TEST_F(LogWriterTest, ShortWriteOfThePresentLineQueuesOnlyItsUnwrittenRest) {
    WriteFile(access, "old\r\n");
    const int result = InChildWithFileSizeLimit(5 + 30, [this] {
        writer.WriteLogLine("SUCCESS http://x 234ms", access);
        if (writer.MissedEntries() != std::deque<std::string>{"http://x 234ms"}) {
            return 2;
        }
        LiftFileSizeLimit();
        clock.Set(2004, 3, 14, 9, 10, 0);
        writer.WriteLogLine("next", access);
        return writer.MissedEntries().empty() ? 0 : 3;
    });

    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFileBytes(access),
              "old\r\n<03/14/2004 09:05:07> SUCCESS <03/14/2004 09:10:00> Missed Entry: http://x "
              "234ms\r\n<03/14/2004 09:10:00> next\r\n");
}

TEST_F(LogWriterTest, ShortWriteOfAMissedEntryKeepsOnlyItsRestAtTheHead) {
    const std::string unreachable = (dir / "missing" / "x.log").string();
    writer.WriteLogLine("first", unreachable);
    writer.WriteLogLine("second", unreachable);

    // The missed line is stamp (22) + "Missed Entry: " (14) + entry; the limit
    // lets the first two bytes of the entry's own text through.
    const int result = InChildWithFileSizeLimit(22 + 14 + 22 + 2, [this] {
        clock.Set(2004, 3, 14, 9, 10, 0);
        writer.WriteLogLine("third", access);
        if (writer.MissedEntries() != std::deque<std::string>{"rst",
                                                              std::string(kStamp1) + "second",
                                                              std::string(kStamp2) + "third"}) {
            return 2;
        }
        LiftFileSizeLimit();
        clock.Set(2004, 3, 14, 9, 15, 0);
        writer.WriteLogLine("fourth", access);
        return writer.MissedEntries().empty() ? 0 : 3;
    });

    EXPECT_EQ(result, 0);
    const std::string missed = "<03/14/2004 09:15:00> Missed Entry: ";
    EXPECT_EQ(ReadFileBytes(access),
              "<03/14/2004 09:10:00> Missed Entry: <03/14/2004 09:05:07> fi" + missed + "rst\r\n" +
                  missed + kStamp1 + "second\r\n" + missed + kStamp2 + "third\r\n" +
                  "<03/14/2004 09:15:00> fourth\r\n");
}

TEST_F(LogWriterTest, ConcurrentWritersLeaveEveryLineIntactExactlyOnce) {
    constexpr int kThreads = 6;
    constexpr int kLinesEach = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLinesEach; ++i) {
                writer.WriteLogLine("thread " + std::to_string(t) + " line " + std::to_string(i),
                                    t % 2 == 0 ? access : error);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(writer.MissedEntries().empty());

    // Each thread's lines must appear once each and in the order it wrote them.
    std::map<int, int> nextLine;
    for (const std::string& file : {access, error}) {
        const std::string content = ReadFileBytes(file);
        std::size_t start = 0;
        while (start < content.size()) {
            const std::size_t end = content.find("\r\n", start);
            ASSERT_NE(end, std::string::npos);
            const std::string line = content.substr(start, end - start);
            start = end + 2;
            int t = -1;
            int i = -1;
            ASSERT_EQ(std::sscanf(line.c_str(), "<03/14/2004 09:05:07> thread %d line %d", &t, &i),
                      2)
                << line;
            ASSERT_EQ(line, std::string(kStamp1) + "thread " + std::to_string(t) + " line " +
                                std::to_string(i));
            EXPECT_EQ(i, nextLine[t]) << "thread " << t;
            nextLine[t] = i + 1;
        }
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(nextLine[t], kLinesEach) << "thread " << t;
    }
}

// A private folder (0700) holding logs other tools may read (0644).
TEST(DefaultLogPathsTest, UsesAndCreatesTheStateFolder) {
    TempDir dir;
    const std::filesystem::path state = dir / "state";
    test::ScopedEnv env("XDG_STATE_HOME", state.string());

    const LogPaths paths = DefaultLogPaths();

    EXPECT_EQ(paths.accessLog, (state / "orvalin" / "access.log").string());
    EXPECT_EQ(paths.errorLog, (state / "orvalin" / "error.log").string());
    struct stat info {};
    ASSERT_EQ(::stat((state / "orvalin").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const mode_t usual = ::umask(022);
    test::FakeClock clock;
    CLogWriter writer{clock};
    writer.WriteLogLine("SUCCESS http://x 5ms", paths.accessLog);
    ::umask(usual);
    ASSERT_EQ(::stat(paths.accessLog.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

}  // namespace
}  // namespace orvalin

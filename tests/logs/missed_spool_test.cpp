#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "logs/log_writer.h"
#include "logs/missed_entry_spool.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using test::ReadFileBytes;
using test::TempDir;

constexpr char kStamp1[] = "<03/14/2004 09:05:07> ";
constexpr char kMissed2[] = "<03/14/2004 09:10:00> Missed Entry: ";

class MissedSpoolTest : public ::testing::Test {
  protected:
    // One run of the program: its own writer, queue and clock.
    struct Run {
        explicit Run(const std::string& logFile) : log(logFile) {}
        test::FakeClock clock;
        CLogWriter writer{clock};
        std::string log;
    };

    // A line for a folder that does not exist: it is missed.
    void Miss(Run& run, const std::string& text) {
        run.writer.WriteLogLine(text, (dir / "missing" / "x.log").string());
    }

    TempDir dir;
    std::filesystem::path spool = dir / "missed.spool";
    std::string access = (dir / "access.log").string();
};

TEST_F(MissedSpoolTest, MissedLinesOfOneRunAreWrittenByTheNextOnceInOrder) {
    {
        Run first(access);
        Miss(first, "Website unreachable: http://a");
        Miss(first, "odd \\ bytes \r\n\\n inside");
        ASSERT_TRUE(first.writer.SaveMissedEntries(spool));
        EXPECT_TRUE(first.writer.MissedEntries().empty());
        struct stat info {};
        ASSERT_EQ(::stat(spool.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }

    Run second(access);
    Miss(second, "in the second run");
    ASSERT_TRUE(second.writer.RestoreMissedEntries(spool));
    EXPECT_EQ(ReadFileBytes(spool), "");
    second.clock.Set(2004, 3, 14, 9, 10, 0);
    second.writer.WriteLogLine("SUCCESS http://a 12ms", access);

    EXPECT_EQ(ReadFileBytes(access),
              std::string(kMissed2) + kStamp1 + "Website unreachable: http://a\r\n" + kMissed2 +
                  kStamp1 + "odd \\ bytes \r\n\\n inside\r\n" + kMissed2 + kStamp1 +
                  "in the second run\r\n<03/14/2004 09:10:00> SUCCESS http://a 12ms\r\n");

    // Restored once only.
    Run third(access);
    ASSERT_TRUE(third.writer.RestoreMissedEntries(spool));
    EXPECT_TRUE(third.writer.MissedEntries().empty());
}

TEST_F(MissedSpoolTest, InstancesEndingOneAfterTheOtherAddToTheSpool) {
    Run first(access);
    Run second(access);
    Miss(first, "a1");
    Miss(first, "a2");
    Miss(second, "b1");
    ASSERT_TRUE(first.writer.SaveMissedEntries(spool));
    ASSERT_TRUE(second.writer.SaveMissedEntries(spool));

    Run next(access);
    ASSERT_TRUE(next.writer.RestoreMissedEntries(spool));
    EXPECT_EQ(next.writer.MissedEntries(),
              (std::deque<std::string>{std::string(kStamp1) + "a1", std::string(kStamp1) + "a2",
                                       std::string(kStamp1) + "b1"}));
}

TEST_F(MissedSpoolTest, AnUnusableLogKeepsTheNewestTenThousandAndSaysHowManyWent) {
    Run run(access);
    for (int n = 0; n < 10'003; ++n) {
        Miss(run, "line " + std::to_string(n));
    }
    ASSERT_TRUE(run.writer.SaveMissedEntries(spool));
    Run next(access);
    ASSERT_TRUE(next.writer.RestoreMissedEntries(spool));
    next.clock.Set(2004, 3, 14, 9, 10, 0);
    next.writer.WriteLogLine("back", access);
    const std::string log = ReadFileBytes(access);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 10'002);
    EXPECT_TRUE(log.starts_with(std::string(kMissed2) +
                                "Older missed entries dropped: 3 (only the newest 10000 are "
                                "kept)\r\n" +
                                kMissed2 + kStamp1 + "line 3\r\n"));
}

TEST_F(MissedSpoolTest, RunsThatOnlyAppendStillKeepTheSpoolBounded) {
    MissedQueue many;
    for (int n = 0; n < 9'999; ++n) {
        many.Add("old " + std::to_string(n));
    }
    ASSERT_TRUE(AppendToSpool(spool, many));
    ASSERT_TRUE(AppendToSpool(spool, MissedQueue{{"new 0", "new 1", "new 2"}}));

    const std::optional<MissedQueue> taken = TakeFromSpool(spool);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->entries.size(), 10'000u);
    EXPECT_EQ(taken->entries.front(), "old 2");
    EXPECT_EQ(taken->entries.back(), "new 2");
    EXPECT_EQ(taken->dropped, 2u);
}

TEST_F(MissedSpoolTest, NothingMissedLeavesNoSpoolAndAMissingSpoolRestoresNothing) {
    Run run(access);
    EXPECT_TRUE(run.writer.SaveMissedEntries(spool));
    EXPECT_FALSE(std::filesystem::exists(spool));
    EXPECT_TRUE(run.writer.RestoreMissedEntries(spool));
    EXPECT_TRUE(run.writer.MissedEntries().empty());
}

// Another instance in the middle of its start or end holds the spool: this
// one waits a bounded time, then gives up without touching it or losing lines.
TEST_F(MissedSpoolTest, SpoolHeldElsewhereIsNeitherWrittenNorTaken) {
    { std::ofstream(spool) << "<03/14/2004 09:00:00> earlier\n"; }
    const int holder = ::open(spool.c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    Run run(access);
    Miss(run, "kept");
    EXPECT_FALSE(run.writer.SaveMissedEntries(spool));
    EXPECT_FALSE(run.writer.RestoreMissedEntries(spool));
    EXPECT_EQ(ReadFileBytes(spool), "<03/14/2004 09:00:00> earlier\n");
    EXPECT_EQ(run.writer.MissedEntries(), std::deque<std::string>{std::string(kStamp1) + "kept"});

    ::close(holder);
    ASSERT_TRUE(run.writer.RestoreMissedEntries(spool));
    EXPECT_EQ(run.writer.MissedEntries(), (std::deque<std::string>{"<03/14/2004 09:00:00> earlier",
                                                                   std::string(kStamp1) + "kept"}));
}

TEST_F(MissedSpoolTest, SpoolThatIsALinkIsRefused) {
    const std::filesystem::path target = dir / "target";
    { std::ofstream(target) << "x\n"; }
    std::filesystem::create_symlink(target, spool);
    Run run(access);
    Miss(run, "kept");
    EXPECT_FALSE(run.writer.SaveMissedEntries(spool));
    EXPECT_FALSE(run.writer.RestoreMissedEntries(spool));
    EXPECT_EQ(ReadFileBytes(target), "x\n");
    EXPECT_EQ(run.writer.MissedEntries(), std::deque<std::string>{std::string(kStamp1) + "kept"});
}

// Lines planted by someone else must not reach this user's logs.
TEST_F(MissedSpoolTest, SpoolOfAnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user needs root";
    }
    { std::ofstream(spool) << "<03/14/2004 09:00:00> planted\n"; }
    ASSERT_EQ(::chown(spool.c_str(), 65534, 65534), 0);
    Run run(access);
    Miss(run, "kept");
    EXPECT_FALSE(run.writer.RestoreMissedEntries(spool));
    EXPECT_FALSE(run.writer.SaveMissedEntries(spool));
    EXPECT_EQ(ReadFileBytes(spool), "<03/14/2004 09:00:00> planted\n");
    EXPECT_EQ(run.writer.MissedEntries(), std::deque<std::string>{std::string(kStamp1) + "kept"});
}

TEST(DefaultSpoolFileTest, LiesNextToTheLogsInTheStateFolder) {
    TempDir dir;
    const std::filesystem::path state = dir / "state";
    test::ScopedEnv env("XDG_STATE_HOME", state.string());

    EXPECT_EQ(DefaultSpoolFile(), state / "orvalin" / "missed.spool");
    EXPECT_TRUE(std::filesystem::is_directory(state / "orvalin"));
}

}  // namespace
}  // namespace orvalin

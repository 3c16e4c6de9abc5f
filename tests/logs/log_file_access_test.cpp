#include "logs/log_file_access.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "logs/log_writer.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using test::ReadFileBytes;
using test::TempDir;

std::string ReadToEnd(LogFileReader& reader) {
    std::string content;
    char buffer[7];  // small, so a file takes several reads
    ssize_t got = 0;
    while ((got = reader.Read(buffer, sizeof buffer)) > 0) {
        content.append(buffer, static_cast<std::size_t>(got));
    }
    EXPECT_EQ(got, 0);
    return content;
}

class LogFileAccessTest : public ::testing::Test {
  protected:
    LogFileAccessTest() { writer.SetAccessLogFile(access); }

    TempDir dir;
    test::FakeClock clock;
    CLogWriter writer{clock};
    std::string access = (dir / "access.log").string();
};

TEST_F(LogFileAccessTest, LineLoggedWhileAReaderHoldsTheFileIsWrittenAfterItAsAMissedEntry) {
    writer.WriteLogLine("SUCCESS http://a 5ms", access);
    std::filesystem::create_directory(dir / "sub");
    auto reader = std::make_unique<LogFileReader>(dir / "sub" / ".." / "access.log");
    ASSERT_TRUE(reader->IsOpen());
    EXPECT_EQ(reader->FullPath(), std::filesystem::canonical(access));

    writer.WriteLogLine("SUCCESS http://a 6ms", access);
    EXPECT_EQ(writer.MissedEntries(),
              std::deque<std::string>{"<03/14/2004 09:05:07> SUCCESS http://a 6ms"});
    EXPECT_EQ(ReadToEnd(*reader), "<03/14/2004 09:05:07> SUCCESS http://a 5ms\r\n");

    reader.reset();
    clock.Set(2004, 3, 14, 9, 10, 0);
    writer.WriteLogLine("SUCCESS http://a 7ms", access);
    EXPECT_EQ(ReadFileBytes(access),
              "<03/14/2004 09:05:07> SUCCESS http://a 5ms\r\n"
              "<03/14/2004 09:10:00> Missed Entry: <03/14/2004 09:05:07> SUCCESS http://a 6ms\r\n"
              "<03/14/2004 09:10:00> SUCCESS http://a 7ms\r\n");
}

TEST_F(LogFileAccessTest, ReaderOpensOnlyAnExistingRegularFileNobodyHolds) {
    const LogFileReader missing(access);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.FullPath(), std::filesystem::path());
    EXPECT_FALSE(std::filesystem::exists(access));
    char byte = 0;
    EXPECT_EQ(LogFileReader(access).Read(&byte, 1), -1);

    const std::filesystem::path fifo = dir / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(LogFileReader(fifo).IsOpen());
    EXPECT_FALSE(LogFileReader(dir.Path()).IsOpen());

    { std::ofstream(access) << "line\r\n"; }
    const LogFileReader first(access);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_FALSE(LogFileReader(access).IsOpen());

    // Another program that locks the file the same way.
    const int other = ::open((dir / "other.log").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_FALSE(LogFileReader(dir / "other.log").IsOpen());
    ::close(other);
    EXPECT_TRUE(LogFileReader(dir / "other.log").IsOpen());
}

TEST_F(LogFileAccessTest, TruncateEmptiesTheFileOnlyWhenNobodyHoldsIt) {
    { std::ofstream(access) << "<03/14/2004 09:05:07> SUCCESS http://a 5ms\r\n"; }
    {
        const LogFileReader reader(access);
        ASSERT_TRUE(reader.IsOpen());
        EXPECT_FALSE(TruncateLogFile(access));
        EXPECT_EQ(ReadFileBytes(access), "<03/14/2004 09:05:07> SUCCESS http://a 5ms\r\n");
    }
    EXPECT_TRUE(TruncateLogFile(access));
    EXPECT_TRUE(std::filesystem::exists(access));
    EXPECT_EQ(std::filesystem::file_size(access), 0u);

    // Logging goes on in the emptied file.
    writer.WriteLogLine("SUCCESS http://a 6ms", access);
    EXPECT_EQ(ReadFileBytes(access), "<03/14/2004 09:05:07> SUCCESS http://a 6ms\r\n");
}

TEST_F(LogFileAccessTest, TruncateCreatesAMissingFileEmptyAndRefusesWhatIsNoFile) {
    const std::filesystem::path fresh = dir / "fresh.log";
    EXPECT_TRUE(TruncateLogFile(fresh));
    struct stat info {};
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_size, 0);

    const std::filesystem::path fifo = dir / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(TruncateLogFile(fifo));
    EXPECT_FALSE(TruncateLogFile(dir / "missing" / "x.log"));
    EXPECT_FALSE(TruncateLogFile(dir.Path()));
}

TEST_F(LogFileAccessTest, AReaderThatLetsGoOfTheLockReadsOnAndTellsWhatBecameOfItsFile) {
    writer.WriteLogLine("SUCCESS http://a 5ms", access);
    LogFileReader reader(access);
    ASSERT_TRUE(reader.IsOpen());
    reader.Unlock();
    // The writer writes at once again; the reader reads where it likes.
    writer.WriteLogLine("SUCCESS http://a 6ms", access);
    EXPECT_TRUE(writer.MissedEntries().empty());
    char bytes[16] = {};
    EXPECT_EQ(reader.ReadAt(22, bytes, 7), 7);
    EXPECT_EQ(std::string(bytes, 7), "SUCCESS");
    LogFileReader::Standing standing = reader.Look();
    EXPECT_TRUE(standing.pathNamesIt);
    EXPECT_EQ(standing.size,
              2 * std::string("<03/14/2004 09:05:07> SUCCESS http://a 5ms\r\n").size());

    { std::ofstream(dir / "new.log") << "x\n"; }
    std::filesystem::rename(dir / "new.log", access);
    standing = reader.Look();
    EXPECT_TRUE(standing.pathExists);
    EXPECT_FALSE(standing.pathNamesIt);
    EXPECT_EQ(reader.ReadAt(22, bytes, 7), 7);  // still the old file
    EXPECT_EQ(std::string(bytes, 7), "SUCCESS");
    std::filesystem::remove(access);
    EXPECT_FALSE(reader.Look().pathExists);
}

}  // namespace
}  // namespace orvalin

// The settings store against the disk: held connections, the write-ahead
// log and its files, writes that change nothing, batches, snapshots of a
// store that cannot be read, and files deleted or replaced under the store.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "store_fixtures.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using section::kSettings;
using test::ModeOf;
using test::ReadFileBytes;
using test::ScopedUmask;
using test::TempDir;

fs::path Wal(const fs::path& file) {
    return file.string() + "-wal";
}
fs::path Shm(const fs::path& file) {
    return file.string() + "-shm";
}

// The content and modification time of a file, to see whether it was touched.
struct FileMark {
    explicit FileMark(const fs::path& file) : bytes(ReadFileBytes(file)) {
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0) {
            modified = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
        }
    }
    bool operator==(const FileMark&) const = default;

    std::string bytes;
    long long modified = -1;
};

class StoreDiskTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path file = dir / "Quenbridge" / "Orvalin" / "settings.db";
    SettingsStore store{file};
};

TEST_F(StoreDiskTest, WritingTheHeldValuesAgainTouchesNoFile) {
    ASSERT_TRUE(store.WriteInt(kSettings, "Warn0", 10000));
    ASSERT_TRUE(store.WriteString(kSettings, "lastWebsite0", "http://127.0.0.1:8080/"));
    ASSERT_TRUE(store.WriteString(kSettings, "lastAlert0", ""));
    const FileMark database(file);
    const FileMark log(Wal(file));
    ASSERT_FALSE(log.bytes.empty());

    // The same store and a second one with connections of its own.
    SettingsStore other(file);
    for (SettingsStore* writer : {&store, &other}) {
        EXPECT_TRUE(writer->WriteInt(kSettings, "Warn0", 10000));
        EXPECT_TRUE(writer->WriteString(kSettings, "lastWebsite0", "http://127.0.0.1:8080/"));
        EXPECT_TRUE(writer->WriteString(kSettings, "lastAlert0", ""));
        EXPECT_TRUE(
            writer->Write(SettingsBatch()
                              .SetString(kSettings, "lastWebsite0", "changed")
                              .SetInt(kSettings, "Warn0", 10000)
                              .SetString(kSettings, "lastWebsite0", "http://127.0.0.1:8080/")));
    }
    EXPECT_EQ(FileMark(file), database);
    EXPECT_EQ(FileMark(Wal(file)), log);

    // The same digits as text are another value.
    ASSERT_TRUE(other.WriteString(kSettings, "Warn0", "10000"));
    EXPECT_NE(FileMark(Wal(file)).bytes, log.bytes);
    EXPECT_EQ(store.ReadInt(kSettings, "Warn0", -1), -1);
    EXPECT_EQ(store.ReadString(kSettings, "Warn0", ""), "10000");
}

TEST_F(StoreDiskTest, ABatchIsHeldWholeOrNotAtAll) {
    ASSERT_TRUE(store.Write(SettingsBatch()
                                .Set(key::kLastWebsite, 1, "http://a.test/")
                                .Set(key::kWarned, 1, 1)
                                .Set(key::kWarned, 1, 0)));
    EXPECT_EQ(store.ReadString(kSettings, "lastWebsite1", ""), "http://a.test/");
    EXPECT_EQ(store.ReadInt(kSettings, "Warned1", -1), 0);  // the later value wins

    ASSERT_TRUE(test::RunSql(file,
                             "CREATE TRIGGER refuse BEFORE INSERT ON setting"
                             " WHEN NEW.key = 'lastWebsiteTitle1'"
                             " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    EXPECT_FALSE(store.Write(SettingsBatch()
                                 .Set(key::kLastWebsite, 1, "http://b.test/")
                                 .Set(key::kLastWebsiteTitle, 1, "http://b.test/")
                                 .Set(key::kWarned, 1, 1)));
    EXPECT_EQ(store.ReadString(kSettings, "lastWebsite1", ""), "http://a.test/");
    EXPECT_EQ(store.ReadInt(kSettings, "Warned1", -1), 0);
    EXPECT_FALSE(store.Get(kSettings, "lastWebsiteTitle1"));
}

// Reads give defaults, writes are refused, and the file stays as it was.
void ExpectUnreadable(SettingsStore& store, const std::string& problem) {
    const std::string before = ReadFileBytes(store.Path());
    const SettingsSnapshot snapshot = store.Snapshot();
    EXPECT_FALSE(snapshot.Readable());
    EXPECT_EQ(snapshot.Problem(), problem);
    EXPECT_TRUE(snapshot.Values().empty());
    EXPECT_EQ(snapshot.Read(key::kInterval, 0), 15);
    EXPECT_EQ(store.Read(key::kInterval, 0), 15);
    EXPECT_FALSE(store.Write(key::kInterval, 0, 30));
    EXPECT_EQ(ReadFileBytes(store.Path()), before);
}

TEST_F(StoreDiskTest, ASnapshotSaysWhyTheStoreCannotBeRead) {
    // A missing file is a readable, empty store, and stays missing.
    EXPECT_TRUE(store.Snapshot().Readable());
    EXPECT_EQ(store.Snapshot().Problem(), "");
    EXPECT_FALSE(fs::exists(file.parent_path()));

    fs::create_directories(file.parent_path());
    {
        std::ofstream out(file);
        out << "[Settings]\nInterval0=30\n";
    }
    ExpectUnreadable(store, "file is not a database");

    fs::remove(file);
    fs::create_directory(file);
    ExpectUnreadable(store, "not a regular file");
    fs::remove(file);

    TempDir other;
    {
        std::ofstream out(other / "Quenbridge");
        out << "a file where a folder should be";
    }
    SettingsStore blocked(other / "Quenbridge" / "Orvalin" / "settings.db");
    EXPECT_FALSE(blocked.Snapshot().Readable());
    EXPECT_EQ(blocked.Snapshot().Problem(), "not a directory");
}

TEST_F(StoreDiskTest, AStoreLockedByAnotherProcessIsUnreadableUntilReleased) {
    {
        SettingsStore writer(file);
        ASSERT_TRUE(writer.Write(key::kInterval, 0, 30));
    }
    test::ExclusiveLockHolder lock(file);
    ASSERT_TRUE(lock.Holding());
    store.SetBusyTimeout(200ms);
    ExpectUnreadable(store, "database is locked");

    lock.Release();
    const SettingsSnapshot snapshot = store.Snapshot();
    EXPECT_TRUE(snapshot.Readable());
    EXPECT_EQ(snapshot.Read(key::kInterval, 0), 30);
    EXPECT_TRUE(store.Write(key::kInterval, 0, 31));
    EXPECT_EQ(store.Read(key::kInterval, 0), 31);
}

TEST_F(StoreDiskTest, AFileWithoutReadPermissionIsUnreadable) {
    {
        SettingsStore writer(file);
        ASSERT_TRUE(writer.Write(key::kInterval, 0, 30));
    }
    fs::permissions(file, fs::perms::none);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!test::DropRootForFilesUnder(dir.Path(), file.parent_path())) {
            ::_exit(2);
        }
        SettingsStore reader(file);
        const SettingsSnapshot snapshot = reader.Snapshot();
        const bool asDocumented =
            !snapshot.Readable() && snapshot.Problem() == "permission denied" &&
            reader.Read(key::kInterval, 0) == 15 && !reader.Write(key::kInterval, 0, 45);
        ::_exit(asDocumented ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(store.Read(key::kInterval, 0), 30);
}

TEST_F(StoreDiskTest, TheLogAndItsIndexArePrivateWhateverTheUmask) {
    {
        ScopedUmask usual(022);
        ASSERT_TRUE(store.Write(key::kSmtpPassword, "secret"));
    }
    // The write-ahead log is in force: the header's read and write versions are 2.
    const std::string header = ReadFileBytes(file).substr(0, 20);
    ASSERT_EQ(header.size(), 20u);
    EXPECT_EQ(header[18], 2);
    EXPECT_EQ(header[19], 2);
    for (const fs::path& made : {file, Wal(file), Shm(file)}) {
        EXPECT_EQ(ModeOf(made), 0600u) << made;
    }

    // A database made by hand with a looser mode: its log and index are still
    // kept private.
    ScopedUmask usual(022);
    TempDir other;
    const fs::path handMade = other / "settings.db";
    ASSERT_TRUE(test::RunSql(handMade, "")) << "creates the file";
    fs::permissions(handMade, fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::others_read);
    SettingsStore loose(handMade);
    ASSERT_TRUE(loose.Write(key::kSmtpPassword, "secret"));
    EXPECT_EQ(loose.Read(key::kSmtpPassword), "secret");
    EXPECT_EQ(ModeOf(Wal(handMade)), 0600u);
    EXPECT_EQ(ModeOf(Shm(handMade)), 0600u);
}

TEST_F(StoreDiskTest, AnotherProcessSeesEveryCommitAtItsNextRead) {
    constexpr int kRounds = 40;
    int toChild[2];
    int toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    // Forked before this process opens the file: a connection must not cross a fork.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(toChild[1]);
        ::close(toParent[0]);
        SettingsStore mine(file);
        for (int round = 0; round < kRounds; ++round) {
            char go = 0;
            if (::read(toChild[0], &go, 1) != 1 ||
                mine.ReadInt(kSettings, "fromParent", -1) != round ||
                !mine.WriteInt(kSettings, "fromChild", round) ||
                ::write(toParent[1], "c", 1) != 1) {
                ::_exit(1);
            }
        }
        ::_exit(0);
    }
    ::close(toChild[0]);
    ::close(toParent[1]);
    int mismatches = 0;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_TRUE(store.WriteInt(kSettings, "fromParent", round));
        ASSERT_EQ(::write(toChild[1], "p", 1), 1);
        char back = 0;
        if (::read(toParent[0], &back, 1) != 1) {
            break;
        }
        mismatches += store.ReadInt(kSettings, "fromChild", -1) != round ? 1 : 0;
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(store.ReadInt(kSettings, "fromChild", -1), kRounds - 1);
}

TEST_F(StoreDiskTest, ADeletedFileComesBackEmptyAndPrivateAtTheNextWrite) {
    // Another process writes and keeps its connection while the file is deleted.
    int written[2];
    int done[2];
    ASSERT_EQ(::pipe(written), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(written[0]);
        ::close(done[1]);
        SettingsStore holder(file);
        const bool ok = holder.WriteString(kSettings, "old", "value");
        char go = 0;
        if (!ok || ::write(written[1], "w", 1) != 1 || ::read(done[0], &go, 1) != 1) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    ::close(written[1]);
    ::close(done[0]);
    char ready = 0;
    ASSERT_EQ(::read(written[0], &ready, 1), 1);
    ASSERT_EQ(store.ReadString(kSettings, "old", ""), "value");

    fs::remove(file);
    ASSERT_TRUE(fs::exists(Wal(file)));
    EXPECT_EQ(store.ReadString(kSettings, "old", "default"), "default");
    EXPECT_TRUE(store.Snapshot().Readable());
    EXPECT_TRUE(store.Snapshot().Values().empty());
    EXPECT_FALSE(fs::exists(file));

    SettingsStore fresh(file);
    ASSERT_TRUE(fresh.WriteString(kSettings, "new", "here"));
    EXPECT_EQ(ModeOf(file), 0600u);
    // The log the deleted file left behind is not taken as the new file's.
    for (SettingsStore* reader : {&fresh, &store}) {
        EXPECT_FALSE(reader->Get(kSettings, "old"));
        EXPECT_EQ(reader->ReadString(kSettings, "new", ""), "here");
        EXPECT_EQ(reader->List().size(), 1u);
    }
    ASSERT_EQ(::write(done[1], "d", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Deleted again under this process's own connections.
    fs::remove(file);
    ASSERT_TRUE(store.WriteString(kSettings, "third", "3"));
    EXPECT_FALSE(fresh.Get(kSettings, "new"));
    EXPECT_EQ(SettingsStore(file).List().size(), 1u);
}

TEST_F(StoreDiskTest, AFileMovedOverTheStoreIsReadInsteadOfTheOldOne) {
    ASSERT_TRUE(store.WriteString(kSettings, "before", "old file"));
    TempDir other;
    {
        SettingsStore elsewhere(other / "settings.db");
        ASSERT_TRUE(elsewhere.WriteString(kSettings, "moved", "new file"));
    }
    fs::rename(other / "settings.db", file);

    EXPECT_EQ(store.ReadString(kSettings, "moved", ""), "new file");
    EXPECT_FALSE(store.Get(kSettings, "before"));
    ASSERT_TRUE(store.WriteString(kSettings, "after", "written"));
    SettingsStore fresh(file);
    EXPECT_EQ(fresh.ReadString(kSettings, "after", ""), "written");
    EXPECT_EQ(fresh.ReadString(kSettings, "moved", ""), "new file");
    EXPECT_FALSE(fresh.Get(kSettings, "before"));

    // The connections to the old file, with the statements they kept, were
    // closed: nothing holds the replaced file open.
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = fs::read_symlink(fd.path(), error).string();
        EXPECT_FALSE(target.find("settings.db") != std::string::npos &&
                     target.ends_with("(deleted)"))
            << target;
    }
}

}  // namespace
}  // namespace orvalin

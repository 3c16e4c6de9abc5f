#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;
using test::ModeOf;
using test::ReadFileBytes;
using test::ScopedEnv;
using test::ScopedUmask;
using test::TempDir;

using section::kLocation;
using section::kSettings;

void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path file = dir / "Quenbridge" / "Orvalin" / "settings.db";
    SettingsStore store{file};
};

TEST_F(SettingsStoreTest, FreshStoreReadsTheTableDefaultsAndCreatesNothing) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(store.Read(key::kInterval, slot), 15);
        EXPECT_EQ(store.Read(key::kWarn, slot), 10000);
        EXPECT_EQ(store.Read(key::kWarned, slot), 0);
        EXPECT_EQ(store.Read(key::kLastWebsite, slot), "");
        EXPECT_EQ(store.Read(key::kLastAlert, slot), "");
    }
    for (const IntKey& on :
         {key::kViewDetails, key::kAutoStart, key::kDoAccessLog, key::kDoErrorLog}) {
        EXPECT_EQ(store.Read(on), 1) << on.name;
    }
    for (const IntKey& off : {key::kCompactMode, key::kAlwaysOnTop, key::kStartHidden,
                              key::kSmtpAuth, key::kDisableEmails, key::kNumOpen}) {
        EXPECT_EQ(store.Read(off), 0) << off.name;
    }
    EXPECT_EQ(store.Read(key::kSmtpName), "Orvalin");
    EXPECT_EQ(store.Read(key::kSmtp), "");
    EXPECT_EQ(store.Read(key::kSmtpPassword), "");
    EXPECT_FALSE(store.Get(kSettings, key::kSmtpName.name));
    EXPECT_TRUE(store.List().empty());

    // Reads never create the file nor any folder above it.
    EXPECT_FALSE(fs::exists(dir / "Quenbridge"));
    fs::create_directories(file.parent_path());
    EXPECT_EQ(store.Read(key::kSmtpName), "Orvalin");
    EXPECT_TRUE(store.List().empty());
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(SettingsStoreTest, ValuesRoundTripWithTheirTypes) {
    const std::vector<std::int32_t> numbers = {INT32_MIN, INT32_MAX, 0, -1, 1};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        ASSERT_TRUE(store.WriteInt(kSettings, "n" + std::to_string(i), numbers[i]));
    }
    const std::vector<std::string> texts = {"",
                                            "two\nlines\r\n",
                                            "Grüße — 東京 ✓",
                                            std::string("nul\0inside", 10),
                                            std::string(100000, 'x'),
                                            "'; DROP TABLE setting; --"};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_TRUE(store.WriteString(kLocation, "s" + std::to_string(i), texts[i]));
    }
    // An empty view without storage is still an empty name, not a missing one.
    ASSERT_TRUE(store.WriteString(kSettings, std::string_view{}, "no name"));

    for (std::size_t i = 0; i < numbers.size(); ++i) {
        EXPECT_EQ(store.ReadInt(kSettings, "n" + std::to_string(i), 12345), numbers[i]);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(store.ReadString(kLocation, "s" + std::to_string(i), "fallback"), texts[i]);
    }
    EXPECT_EQ(store.ReadString(kSettings, std::string_view{}, "fallback"), "no name");
    // A value held in one section is not seen in the other.
    EXPECT_EQ(store.ReadInt(kLocation, "n0", 3), 3);

    // A second store object on the same file sees every write at once.
    SettingsStore other(file);
    ASSERT_TRUE(other.Write(key::kWarn, 2, 777));
    EXPECT_EQ(store.Read(key::kWarn, 2), 777);
    EXPECT_EQ(store.ReadInt(kSettings, "Warn2", 0), 777);
}

TEST_F(SettingsStoreTest, ReadOfTheOtherTypeGivesTheDefaultAndWritesReplaceAnyType) {
    ASSERT_TRUE(store.WriteString(kSettings, "mixed", "123"));
    EXPECT_EQ(store.ReadInt(kSettings, "mixed", 9), 9);
    EXPECT_EQ(store.ReadString(kSettings, "mixed", "d"), "123");

    ASSERT_TRUE(store.WriteInt(kSettings, "mixed", 42));
    EXPECT_EQ(store.ReadString(kSettings, "mixed", "d"), "d");
    EXPECT_EQ(store.ReadInt(kSettings, "mixed", 9), 42);

    ASSERT_TRUE(store.WriteString(kSettings, "mixed", ""));
    EXPECT_EQ(store.ReadInt(kSettings, "mixed", 9), 9);
    EXPECT_EQ(store.ReadString(kSettings, "mixed", "d"), "");

    const auto all = store.List();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(std::get<std::string>(all[0].value), "");
}

TEST_F(SettingsStoreTest, DefaultPathFollowsXdgAndTheFirstWriteMakesPrivateFiles) {
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    const fs::path expected = dir / "config" / "Quenbridge" / "Orvalin" / "settings.db";
    ASSERT_EQ(SettingsStore::DefaultPath(), expected);

    // Even with a permissive umask, the folders are 0700 and the file 0600.
    ScopedUmask permissive(0);
    SettingsStore user(SettingsStore::DefaultPath());
    ASSERT_TRUE(user.Write(key::kSmtpPassword, "secret"));
    EXPECT_EQ(ModeOf(dir / "config" / "Quenbridge"), 0700u);
    EXPECT_EQ(ModeOf(dir / "config" / "Quenbridge" / "Orvalin"), 0700u);
    EXPECT_EQ(ModeOf(expected), 0600u);
    EXPECT_EQ(user.Read(key::kSmtpPassword), "secret");

    // Beside the database only its write-ahead log and index, private too.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(expected.parent_path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"settings.db", "settings.db-shm", "settings.db-wal"}));
    EXPECT_EQ(ModeOf(expected.string() + "-wal"), 0600u);
    EXPECT_EQ(ModeOf(expected.string() + "-shm"), 0600u);
}

TEST_F(SettingsStoreTest, NoWriteIsLostWhenThreadsAndASecondProcessWriteAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kChildThreads = 2;
    constexpr int kWritesEach = 25;
    ASSERT_TRUE(store.WriteInt(kSettings, "anchor", 77));

    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(gate[1]);
        char go = 0;
        if (::read(gate[0], &go, 1) != 1) {
            ::_exit(3);
        }
        SettingsStore childStore(file);
        std::atomic<int> failures{0};
        std::vector<std::thread> writers;
        for (int t = 0; t < kChildThreads; ++t) {
            writers.emplace_back([&, t] {
                for (int i = 0; i < kWritesEach; ++i) {
                    const std::string name = "child" + std::to_string(t) + "_" + std::to_string(i);
                    if (!childStore.WriteInt(kLocation, name, t * 1000 + i)) {
                        ++failures;
                    }
                }
            });
        }
        for (auto& writer : writers) {
            writer.join();
        }
        ::_exit(failures == 0 ? 0 : 1);
    }
    ::close(gate[0]);

    std::atomic<bool> start{false};
    std::atomic<bool> writing{true};
    std::atomic<int> failedWrites{0};
    std::atomic<int> wrongReads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!start) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kWritesEach; ++i) {
                const std::string name = "thread" + std::to_string(t) + "_" + std::to_string(i);
                if (!store.WriteString(kSettings, name, name)) {
                    ++failedWrites;
                }
            }
        });
    }
    // Reads during the writes must wait for the lock, not fall back to defaults.
    std::thread reader([&] {
        while (!start) {
            std::this_thread::yield();
        }
        while (writing) {
            if (store.ReadInt(kSettings, "anchor", -1) != 77) {
                ++wrongReads;
            }
        }
    });
    start = true;
    ASSERT_EQ(::write(gate[1], "g", 1), 1);
    ::close(gate[1]);
    for (auto& thread : threads) {
        thread.join();
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    writing = false;
    reader.join();

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(wrongReads, 0);
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kWritesEach; ++i) {
            const std::string name = "thread" + std::to_string(t) + "_" + std::to_string(i);
            EXPECT_EQ(store.ReadString(kSettings, name, "lost"), name);
        }
    }
    for (int t = 0; t < kChildThreads; ++t) {
        for (int i = 0; i < kWritesEach; ++i) {
            const std::string name = "child" + std::to_string(t) + "_" + std::to_string(i);
            EXPECT_EQ(store.ReadInt(kLocation, name, -1), t * 1000 + i);
        }
    }
    EXPECT_EQ(store.List().size(),
              static_cast<std::size_t>(1 + (kThreads + kChildThreads) * kWritesEach));
    // All of it under the write-ahead log (header read and write versions 2).
    EXPECT_EQ(ReadFileBytes(file).substr(18, 2), std::string("\x02\x02", 2));
}

TEST_F(SettingsStoreTest, AWriterThatDiedMidWriteDoesNotHideTheHeldValues) {
    {
        // Closed again before the crash below, which needs the file alone.
        SettingsStore writer(file);
        ASSERT_TRUE(writer.WriteInt(kSettings, "kept", 5));
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A database in the rollback-journal mode of older versions: a large
        // uncommitted transaction spills into the file and leaves a hot
        // journal behind when the process ends without committing.
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(
            db,
            "PRAGMA journal_mode = DELETE; PRAGMA cache_size = 1; BEGIN IMMEDIATE;"
            " CREATE TABLE filler(x);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
            " INSERT INTO filler SELECT randomblob(500) FROM n;",
            nullptr, nullptr, nullptr);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(fs::exists(file.string() + "-journal"));

    EXPECT_EQ(store.ReadInt(kSettings, "kept", 0), 5);
    EXPECT_EQ(store.List().size(), 1u);
    EXPECT_TRUE(store.WriteInt(kSettings, "after", 6));
    EXPECT_EQ(store.ReadInt(kSettings, "after", 0), 6);
}

// Reads give defaults, writes are refused, and the file is left exactly as it was.
void ExpectUnusableAndUntouched(SettingsStore& store, const fs::path& file) {
    const std::string before = ReadFileBytes(file);
    EXPECT_EQ(store.Read(key::kInterval, 0), 15);
    EXPECT_EQ(store.Read(key::kSmtpName), "Orvalin");
    EXPECT_FALSE(store.Get(kSettings, "anything"));
    EXPECT_TRUE(store.List().empty());
    EXPECT_FALSE(store.Write(key::kInterval, 0, 30));
    EXPECT_FALSE(store.Write(key::kSmtpName, "changed"));
    EXPECT_EQ(store.Read(key::kInterval, 0), 15);
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_FALSE(fs::exists(file.string() + "-journal"));
}

TEST_F(SettingsStoreTest, AFileThatIsNotADatabaseIsNeverOverwritten) {
    fs::create_directories(file.parent_path());
    std::string binary;
    for (int i = 0; i < 5000; ++i) {
        binary.push_back(static_cast<char>((i * 131 + 7) % 256));
    }
    std::string badHeader("SQLite format 3", 16);
    badHeader.append(1008, '\xff');
    for (const std::string& content :
         {std::string("[Settings]\nInterval0=30\n"), binary, badHeader}) {
        WriteBytes(file, content);
        ExpectUnusableAndUntouched(store, file);
        EXPECT_EQ(ReadFileBytes(file), content);
    }
}

TEST_F(SettingsStoreTest, ACorruptDatabaseIsLeftAsItIs) {
    {
        // Closing the last connection copies the log into the database file.
        SettingsStore writer(file);
        for (int i = 0; i < 50; ++i) {
            ASSERT_TRUE(writer.WriteInt(kSettings, "k" + std::to_string(i), i));
        }
        ASSERT_TRUE(writer.Write(key::kInterval, 0, 20));
    }
    const std::string healthy = ReadFileBytes(file);
    ASSERT_GE(healthy.size(), 8192u);

    // The pages after the schema page hold the values: scramble them.
    std::string scrambled = healthy;
    for (std::size_t i = 4096; i < scrambled.size(); ++i) {
        scrambled[i] = static_cast<char>(0xA5);
    }
    WriteBytes(file, scrambled);
    ExpectUnusableAndUntouched(store, file);

    // A database cut short after its first page.
    WriteBytes(file, healthy.substr(0, 100));
    ExpectUnusableAndUntouched(store, file);
}

TEST_F(SettingsStoreTest, APathThatCannotHoldTheFileDropsWrites) {
    // The database path is taken by a folder.
    fs::create_directories(file);
    EXPECT_EQ(store.Read(key::kInterval, 1), 15);
    EXPECT_FALSE(store.Write(key::kInterval, 1, 3));
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_TRUE(fs::is_empty(file));

    // A folder on the way is taken by a plain file.
    TempDir other;
    WriteBytes(other / "Quenbridge", "not a folder");
    SettingsStore blocked(other / "Quenbridge" / "Orvalin" / "settings.db");
    EXPECT_EQ(blocked.Read(key::kWarn, 0), 10000);
    EXPECT_FALSE(blocked.Write(key::kWarn, 0, 1));
    EXPECT_EQ(ReadFileBytes(other / "Quenbridge"), "not a folder");
}

TEST_F(SettingsStoreTest, AnUnreadableFolderReadsAsEmptyAndKeepsItsValues) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    ASSERT_TRUE(store.Write(key::kInterval, 3, 45));
    const fs::path folder = file.parent_path();
    fs::permissions(folder, fs::perms::none);
    EXPECT_EQ(store.Read(key::kInterval, 3), 15);
    EXPECT_FALSE(store.Write(key::kInterval, 3, 50));
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(store.Read(key::kInterval, 3), 45);

    // A read-only file still reads but takes no writes.
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_EQ(store.Read(key::kInterval, 3), 45);
    EXPECT_FALSE(store.Write(key::kInterval, 3, 50));
    EXPECT_EQ(store.Read(key::kInterval, 3), 45);
}

}  // namespace
}  // namespace orvalin

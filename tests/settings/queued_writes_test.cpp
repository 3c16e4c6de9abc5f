// The spool that keeps queued writes past the end of a program, and the
// changes another connection makes, as the watcher reports them. (Queued
// writes under another program's lock: tests/desktop/store_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "settings/settings_store.h"
#include "settings/store_watcher.h"
#include "store_fixtures.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using section::kSettings;
using test::ExclusiveLockHolder;
using test::ModeOf;
using test::TempDir;

class QueuedWritesTest : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path file = dir / "config" / "settings.db";
    fs::path spool = dir / "state" / "settings.spool";
};

TEST_F(QueuedWritesTest, WhatCannotLandBeforeTheEndIsSpooledAndComesFirstAtTheNextStart) {
    // A second store whose file can never be made shares the spool.
    { std::ofstream(dir / "blocker") << "a file, not a folder"; }
    const fs::path unmakeable = dir / "blocker" / "settings.db";
    {
        SettingsStore blocked(unmakeable, spool);
        blocked.Queue(SettingsBatch().SetString(kSettings, "SMTPAlert", "ops\t@\nexample.org"));
        EXPECT_FALSE(blocked.FinishWrites(100ms));
    }
    {
        SettingsStore store(file, spool);
        ASSERT_TRUE(store.Write(key::kInterval, 0, 15));
        ExclusiveLockHolder lock(file, true);
        ASSERT_TRUE(lock.Holding());
        store.Queue(SettingsBatch().Set(key::kInterval, 0, 3).Set(key::kLocX, -40));
        store.Queue(SettingsBatch().Set(key::kInterval, 0, 4));
        EXPECT_FALSE(store.FinishWrites(300ms));
    }
    EXPECT_EQ(ModeOf(spool), 0600u);
    EXPECT_EQ(SettingsStore(file, spool).Read(key::kInterval, 0), 15);

    {
        SettingsStore next(file, spool);
        next.ResumeSpooledWrites();
        const SettingsSnapshot start = next.Snapshot();  // the first read already sees them
        EXPECT_EQ(start.Read(key::kInterval, 0), 4);
        EXPECT_EQ(start.Read(key::kLocX), -40);
        EXPECT_TRUE(next.WaitForQueuedWrites(10s));
    }
    EXPECT_EQ(SettingsStore(file, spool).Read(key::kInterval, 0), 4);
    // Taken once: the other store's line stays for it, byte for byte.
    SettingsStore blocked(unmakeable, spool);
    blocked.ResumeSpooledWrites();
    EXPECT_EQ(blocked.Read(key::kSmtpAlert), "ops\t@\nexample.org");
    EXPECT_FALSE(blocked.FinishWrites(100ms));
}

TEST_F(QueuedWritesTest, TheWatcherReportsWhatOthersChangedButNotWhatThisStoreWrote) {
    using Keys = std::vector<std::pair<std::string, std::string>>;
    SettingsStore store(file, spool);
    ASSERT_TRUE(store.Write(SettingsBatch()
                                .Set(key::kLastWebsite, 0, "http://a.example/")
                                .Set(key::kInterval, 0, 30)
                                .Set(key::kWarn, 1, 100)));
    ASSERT_TRUE(store.Snapshot().Readable());
    std::mutex mutex;
    Keys seen;
    StoreWatcher watcher(file, [&] {
        if (auto changes = store.ReadChanges(1s)) {
            std::lock_guard lock(mutex);
            seen.insert(seen.end(), changes->keys.begin(), changes->keys.end());
        }
    });
    ASSERT_TRUE(watcher.Watching());
    const auto seenSoFar = [&] {
        std::lock_guard lock(mutex);
        Keys keys = seen;
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        return keys;
    };
    const auto waitUntilSeen = [&](const std::string& key) {
        for (int wait = 0; wait < 500; ++wait) {
            for (const auto& [section, changed] : seenSoFar()) {
                if (changed == key) {
                    return true;
                }
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    };

    SettingsStore other(file, spool);
    ASSERT_TRUE(other.Write(SettingsBatch()
                                .Set(key::kLastWebsite, 0, "http://b.example/")
                                .Set(key::kWarn, 0, 700)
                                .Set(key::kWarn, 1, 200)));
    ASSERT_TRUE(waitUntilSeen("lastWebsite0"));
    // This store's own writes, one of them queued behind another program's lock.
    ExclusiveLockHolder lock(file, true);
    ASSERT_TRUE(lock.Holding());
    store.Queue(SettingsBatch().Set(key::kLocY, 7));
    lock.Release();
    ASSERT_TRUE(store.WaitForQueuedWrites(10s));
    ASSERT_TRUE(store.Write(key::kLocX, 5));
    ASSERT_TRUE(test::RunSql(file, "DELETE FROM setting WHERE key = 'Interval0'"));
    ASSERT_TRUE(waitUntilSeen("Interval0"));
    std::this_thread::sleep_for(300ms);  // a report of this store's own writes would come now

    EXPECT_EQ(seenSoFar(), (Keys{{"Settings", "Interval0"},
                                 {"Settings", "Warn0"},
                                 {"Settings", "Warn1"},
                                 {"Settings", "lastWebsite0"}}));
    const auto now = store.ReadChanges(1s);
    ASSERT_TRUE(now.has_value());
    EXPECT_TRUE(now->Empty());
    EXPECT_EQ(now->now.Read(key::kWarn, 1), 200);
    EXPECT_EQ(now->now.Read(key::kLocY), 7);
    EXPECT_EQ(now->now.Read(key::kInterval, 0), 15);  // removed: the default again
}

}  // namespace
}  // namespace orvalin

#include "platform/instance_lock.h"
#include "settings/instance_count.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "settings/settings_keys.h"
#include "settings/settings_store.h"
#include "support/temp_dir.h"

namespace orvalin {
namespace {

using test::TempDir;

class InstanceLockTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path lockFile = dir / "run" / "instance.lock";
};

TEST_F(InstanceLockTest, SeesOtherInstancesExactlyWhileOneHoldsTheLock) {
    auto first = std::make_unique<InstanceLock>(lockFile);
    EXPECT_FALSE(first->OtherInstanceRunning());

    auto second = std::make_unique<InstanceLock>(lockFile);
    EXPECT_TRUE(second->OtherInstanceRunning());

    first.reset();  // the first one leaves; the second still runs
    EXPECT_TRUE(InstanceLock(lockFile).OtherInstanceRunning());

    second.reset();
    EXPECT_FALSE(InstanceLock(lockFile).OtherInstanceRunning());
}

// Runs a new InstanceLock in a child process and returns what it saw.
bool ChildSeesOtherInstance(const std::filesystem::path& lockFile) {
    const pid_t child = fork();
    if (child == 0) {
        const InstanceLock lock(lockFile);
        _exit(lock.OtherInstanceRunning() ? 1 : 0);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status) == 1;
}

TEST_F(InstanceLockTest, WorksAcrossProcesses) {
    {
        const InstanceLock parent(lockFile);
        EXPECT_TRUE(ChildSeesOtherInstance(lockFile));
    }
    EXPECT_FALSE(ChildSeesOtherInstance(lockFile));

    // A child that holds the lock is seen by the parent until it ends.
    int ready[2];
    int finish[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(finish), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        close(finish[1]);  // else the read below never sees the parent's close
        const InstanceLock lock(lockFile);
        char byte = 1;
        (void)!write(ready[1], &byte, 1);
        (void)!read(finish[0], &byte, 1);
        _exit(0);
    }
    close(ready[1]);
    close(finish[0]);
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_TRUE(InstanceLock(lockFile).OtherInstanceRunning());
    close(finish[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(ready[0]);
    EXPECT_FALSE(InstanceLock(lockFile).OtherInstanceRunning());
}

TEST_F(InstanceLockTest, LockFileThatCannotBeCreatedMeansNoOtherInstance) {
    const std::filesystem::path plainFile = dir / "plain";
    { std::ofstream(plainFile) << "x"; }
    const std::filesystem::path impossible = plainFile / "sub" / "instance.lock";

    const InstanceLock first(impossible);
    const InstanceLock second(impossible);
    EXPECT_FALSE(second.OtherInstanceRunning());
}

TEST_F(InstanceLockTest, DefaultLockFileIsInAPrivateRuntimeFolder) {
    const test::ScopedEnv env("XDG_RUNTIME_DIR", (dir / "runtime").string());
    const std::filesystem::path expected =
        dir / "runtime" / "orvalin" / "CheckIfOrvalinAlreadyRunning.lock";
    EXPECT_EQ(InstanceLock::DefaultLockFile(), expected);

    const InstanceLock lock;
    EXPECT_FALSE(lock.OtherInstanceRunning());
    EXPECT_TRUE(std::filesystem::exists(expected));
    struct stat info {};
    ASSERT_EQ(::stat(expected.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// Clears an environment variable for the lifetime of the object.
class ScopedUnsetEnv {
  public:
    explicit ScopedUnsetEnv(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) {
            oldValue_ = value;
        }
        ::unsetenv(name);
    }
    ~ScopedUnsetEnv() {
        if (oldValue_) {
            ::setenv(name_.c_str(), oldValue_->c_str(), 1);
        }
    }
    ScopedUnsetEnv(const ScopedUnsetEnv&) = delete;
    ScopedUnsetEnv& operator=(const ScopedUnsetEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> oldValue_;
};

TEST_F(InstanceLockTest, WithoutRuntimeDirTheLockFolderIsPerUser) {
    const ScopedUnsetEnv runtime("XDG_RUNTIME_DIR");
    const test::ScopedEnv temp("TMPDIR", dir.Path().string());
    const std::filesystem::path folder = dir / ("orvalin-" + std::to_string(::geteuid()));
    EXPECT_EQ(InstanceLock::DefaultLockFile(), folder / "CheckIfOrvalinAlreadyRunning.lock");

    const InstanceLock first;
    EXPECT_TRUE(InstanceLock().OtherInstanceRunning());
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// A lock folder someone else could reach is not used: no lock is taken, and
// no other instance is seen, as for a lock file that cannot be created.
void ExpectRefused(const std::filesystem::path& lockFile) {
    const InstanceLock first(lockFile);
    EXPECT_FALSE(InstanceLock(lockFile).OtherInstanceRunning());
    EXPECT_FALSE(std::filesystem::exists(lockFile));
}

TEST_F(InstanceLockTest, LockFolderOfAnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a folder to another user needs root";
    }
    const std::filesystem::path folder = lockFile.parent_path();
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    ExpectRefused(lockFile);
}

TEST_F(InstanceLockTest, LockFolderOpenToOthersOrALinkIsRefused) {
    const std::filesystem::path folder = lockFile.parent_path();
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ExpectRefused(lockFile);

    const std::filesystem::path target = dir / "target";
    ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
    const std::filesystem::path link = dir / "link";
    std::filesystem::create_directory_symlink(target, link);
    ExpectRefused(link / "instance.lock");
    EXPECT_FALSE(std::filesystem::exists(target / "instance.lock"));

    // The same folder made private again is used.
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    const InstanceLock first(lockFile);
    EXPECT_TRUE(InstanceLock(lockFile).OtherInstanceRunning());
}

class NumOpenTest : public ::testing::Test {
  protected:
    std::int32_t NumOpen() const {
        return store.ReadInt(key::kNumOpen.section, key::kNumOpen.name, -1);
    }
    void SetNumOpen(std::int32_t value) {
        ASSERT_TRUE(store.WriteInt(key::kNumOpen.section, key::kNumOpen.name, value));
    }

    TempDir dir;
    SettingsStore store{dir / "settings.db"};
};

TEST_F(NumOpenTest, TwoLaunchesCountTwoAndClosingOneLeavesOne) {
    RegisterInstance(store, false);
    EXPECT_EQ(NumOpen(), 1);
    RegisterInstance(store, true);
    EXPECT_EQ(NumOpen(), 2);
    UnregisterInstance(store);
    EXPECT_EQ(NumOpen(), 1);
}

TEST_F(NumOpenTest, LoneInstanceResetsAStaleCount) {
    SetNumOpen(5);  // left behind by instances that crashed
    RegisterInstance(store, false);
    EXPECT_EQ(NumOpen(), 1);
}

TEST_F(NumOpenTest, MissingCountReadsZeroOnStartAndOneOnExit) {
    RegisterInstance(store, true);
    EXPECT_EQ(NumOpen(), 1);

    TempDir other;
    SettingsStore fresh(other / "settings.db");
    UnregisterInstance(fresh);
    EXPECT_EQ(fresh.ReadInt(key::kNumOpen.section, key::kNumOpen.name, -1), 0);
}

}  // namespace
}  // namespace orvalin

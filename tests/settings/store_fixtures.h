// Helpers of the settings tests: raw SQL on a store's file, locks held by
// another process, and a user that file permissions apply to.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace orvalin::test {

// Runs SQL on the database file (made when missing) through a plain SQLite
// connection; false when any statement failed.
bool RunSql(const std::filesystem::path& dbFile, const std::string& sql);

// A sqlite3 shell that holds the database exclusively (no other connection
// may read or write it) until Release() or the end of the object. With
// writesOnly it holds the write lock only, inside BEGIN IMMEDIATE: others
// still read.
class ExclusiveLockHolder {
  public:
    explicit ExclusiveLockHolder(const std::filesystem::path& dbFile, bool writesOnly = false);
    ~ExclusiveLockHolder();
    ExclusiveLockHolder(const ExclusiveLockHolder&) = delete;
    ExclusiveLockHolder& operator=(const ExclusiveLockHolder&) = delete;

    // True once the child holds the lock.
    bool Holding() const { return holding_; }
    void Release();

  private:
    pid_t child_ = -1;
    int release_ = -1;
    int output_ = -1;
    bool holding_ = false;
};

// In a child process: become a user without rights to root's files when
// running as root, so that permission bits apply. Every folder from the
// temporary folder down to dir is opened for others to pass through.
// False when that could not be done.
bool DropRootForFilesUnder(const std::filesystem::path& top, const std::filesystem::path& dir);

}  // namespace orvalin::test

#include "store_fixtures.h"

#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvalin::test {
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

}  // namespace

bool RunSql(const fs::path& dbFile, const std::string& sql) {
    sqlite3* db = nullptr;
    bool ran = sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                               nullptr) == SQLITE_OK;
    if (ran) {
        sqlite3_busy_timeout(db, 5000);
        ran = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close(db);
    return ran;
}

ExclusiveLockHolder::ExclusiveLockHolder(const fs::path& dbFile, bool writesOnly) {
    int ready[2];
    int release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) {
        return;
    }
    child_ = ::fork();
    if (child_ == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        sqlite3* db = nullptr;
        // Exclusive locking mode keeps the lock on the database file itself,
        // so that not even a reader of the write-ahead log gets in.
        const char* lock =
            writesOnly ? "BEGIN IMMEDIATE" : "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;";
        const bool locked =
            sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, lock, nullptr, nullptr, nullptr) == SQLITE_OK;
        const char state = locked ? 'y' : 'n';
        if (::write(ready[1], &state, 1) != 1 || !locked) {
            ::_exit(1);
        }
        char done = 0;
        [[maybe_unused]] const auto got = ::read(release[0], &done, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char state = 0;
    holding_ = child_ > 0 && ::read(ready[0], &state, 1) == 1 && state == 'y';
    ::close(ready[0]);
}

ExclusiveLockHolder::~ExclusiveLockHolder() {
    Release();
}

void ExclusiveLockHolder::Release() {
    if (release_ >= 0) {
        ::close(release_);
        release_ = -1;
    }
    if (child_ > 0) {
        int status = 0;
        ::waitpid(child_, &status, 0);
        child_ = -1;
    }
    holding_ = false;
}

bool DropRootForFilesUnder(const fs::path& top, const fs::path& dir) {
    if (::geteuid() != 0) {
        return true;
    }
    std::error_code error;
    for (fs::path folder = dir;; folder = folder.parent_path()) {
        fs::permissions(
            folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec, error);
        if (error) {
            return false;
        }
        if (folder == top || folder == folder.parent_path()) {
            break;
        }
    }
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNogroup) == 0 && ::setuid(kNobody) == 0;
}

}  // namespace orvalin::test

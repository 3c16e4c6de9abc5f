#include "store_fixtures.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

namespace {

// The sqlite3 shell's full path, found before any fork.
std::string ShellPath() {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) {
            end = folders.size();
        }
        const std::string candidate = folders.substr(start, end - start) + "/sqlite3";
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return "/usr/bin/sqlite3";
}

}  // namespace

ExclusiveLockHolder::ExclusiveLockHolder(const fs::path& dbFile, bool writesOnly) {
    int toShell[2];
    int fromShell[2];
    if (::pipe2(toShell, O_CLOEXEC) != 0 || ::pipe2(fromShell, O_CLOEXEC) != 0) {
        return;
    }
    // Everything the child needs is made before the fork: the test process
    // has threads, so the child may only exec.
    const std::string shell = ShellPath();
    const std::string file = dbFile.string();
    const char* argv[] = {shell.c_str(), "-batch", "-bail", file.c_str(), nullptr};
    child_ = ::fork();
    if (child_ == 0) {
        if (::dup2(toShell[0], STDIN_FILENO) < 0 || ::dup2(fromShell[1], STDOUT_FILENO) < 0) {
            ::_exit(126);
        }
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(toShell[0]);
    ::close(fromShell[1]);
    release_ = toShell[1];
    output_ = fromShell[0];
    if (child_ < 0) {
        return;
    }
    // Exclusive locking mode keeps the lock on the database file itself, so
    // that not even a reader of the write-ahead log gets in. -bail ends the
    // shell at a failed BEGIN, before it says it holds the lock.
    const std::string lock = std::string(".timeout 5000\n") +
                             (writesOnly ? "BEGIN IMMEDIATE;\n"
                                         : "PRAGMA locking_mode = EXCLUSIVE;\nBEGIN EXCLUSIVE;\n") +
                             "SELECT 'held';\n";
    if (::write(release_, lock.data(), lock.size()) != static_cast<ssize_t>(lock.size())) {
        return;
    }
    std::string said;
    char c = 0;
    while (said.find("held\n") == std::string::npos && ::read(output_, &c, 1) == 1) {
        said += c;
    }
    holding_ = said.find("held\n") != std::string::npos;
}

ExclusiveLockHolder::~ExclusiveLockHolder() {
    Release();
}

void ExclusiveLockHolder::Release() {
    // The end of its input ends the shell, and its transaction with it.
    if (release_ >= 0) {
        ::close(release_);
        release_ = -1;
    }
    if (child_ > 0) {
        int status = 0;
        ::waitpid(child_, &status, 0);
        child_ = -1;
    }
    if (output_ >= 0) {
        ::close(output_);
        output_ = -1;
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

#include "settings/store_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/xdg_paths.h"

namespace orvalin::store_file {
namespace fs = std::filesystem;

namespace {

constexpr unsigned kFolderMode = 0700;
// The store holds the SMTP password.
constexpr mode_t kFileMode = 0600;

// Holds an exclusive lock on a folder while one process makes the database in
// it, so that two processes never both clear and create.
class FolderLock {
  public:
    explicit FolderLock(const fs::path& folder)
        : fd_(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_;
};

bool Exists(const fs::path& file, bool& failed) {
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        return true;
    }
    failed = errno != ENOENT;
    return false;
}

// The file is made under a temporary name and linked into place, so it never
// shows looser permissions. No descriptor of the real file is closed here:
// closing one would drop the POSIX locks SQLite holds on it for other threads
// of this process.
bool LinkNewFile(const fs::path& file) {
    const fs::path folder = file.parent_path();
    std::string temp = (folder / (file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    ::fchmod(fd, kFileMode);
    ::close(fd);
    bool created = ::link(temp.c_str(), file.c_str()) == 0 || errno == EEXIST;
    const bool linkUnsupported = !created && (errno == EPERM || errno == ENOTSUP);
    ::unlink(temp.c_str());
    if (linkUnsupported) {
        // A file system without hard links: create the file in place instead.
        const int direct = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
        if (direct >= 0) {
            ::fchmod(direct, kFileMode);
            ::close(direct);
        }
        created = direct >= 0 || errno == EEXIST;
    }
    return created;
}

void MakePrivate(const fs::path& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
        (info.st_mode & 077) != 0) {
        // By name: opening the file to fchmod it and closing that descriptor
        // would drop SQLite's locks on it.
        ::chmod(file.c_str(), kFileMode);
    }
}

}  // namespace

State Inspect(const fs::path& dbFile) {
    State state;
    struct stat info {};
    if (::stat(dbFile.c_str(), &info) != 0) {
        state.kind = errno == ENOENT ? State::Kind::kMissing : State::Kind::kProblem;
        state.error = errno == ENOENT ? 0 : errno;
        return state;
    }
    if (!S_ISREG(info.st_mode)) {
        state.kind = State::Kind::kProblem;
        return state;
    }
    state.kind = State::Kind::kFile;
    state.identity = Identity{info.st_dev, info.st_ino};
    return state;
}

bool CreatePrivateFile(const fs::path& dbFile) {
    bool failed = false;
    if (Exists(dbFile, failed)) {
        return true;
    }
    if (failed) {
        return false;
    }
    const fs::path folder = dbFile.parent_path();
    if (!folder.empty() && !MakeFolders(folder, kFolderMode)) {
        return false;
    }
    FolderLock lock(folder);
    if (Exists(dbFile, failed) || failed) {
        return !failed;
    }
    // A log and index left by a database that was deleted would be taken as
    // this new file's own and replayed into it.
    ::unlink(WalFile(dbFile).c_str());
    ::unlink(ShmFile(dbFile).c_str());
    return LinkNewFile(dbFile);
}

fs::path WalFile(const fs::path& dbFile) {
    return fs::path(dbFile.string() + "-wal");
}

fs::path ShmFile(const fs::path& dbFile) {
    return fs::path(dbFile.string() + "-shm");
}

void MakeSidecarsPrivate(const fs::path& dbFile) {
    MakePrivate(WalFile(dbFile));
    MakePrivate(ShmFile(dbFile));
}

std::vector<Identity> SidecarIdentities(const fs::path& dbFile) {
    std::vector<Identity> files;
    for (const fs::path& sidecar : {WalFile(dbFile), ShmFile(dbFile)}) {
        const State state = Inspect(sidecar);
        if (state.kind == State::Kind::kFile) {
            files.push_back(state.identity);
        }
    }
    return files;
}

void RemoveSidecarsOf(const fs::path& dbFile, const std::vector<Identity>& files) {
    for (const fs::path& sidecar : {WalFile(dbFile), ShmFile(dbFile)}) {
        const State state = Inspect(sidecar);
        if (state.kind == State::Kind::kFile &&
            std::find(files.begin(), files.end(), state.identity) != files.end()) {
            ::unlink(sidecar.c_str());
        }
    }
}

}  // namespace orvalin::store_file

#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/xdg_paths.h"

namespace orvalin {
namespace {

constexpr mode_t kLockFileMode = 0600;

int LockRetryingOnSignal(int fd, int operation) {
    int result = 0;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

}  // namespace

std::filesystem::path InstanceLock::DefaultLockFile() {
    return UserRuntimeFolder("orvalin") / "CheckIfOrvalinAlreadyRunning.lock";
}

InstanceLock::InstanceLock(std::filesystem::path lockFile) {
    // Another user who prepared the folder could hold the lock for good or
    // point it elsewhere: such a folder is not used at all.
    if (!MakePrivateFolder(lockFile.parent_path())) {
        return;
    }
    // Close-on-exec: a program started from here (the browser, the help
    // viewer) must not keep the lock alive after this instance ends.
    fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockFileMode);
    if (fd_ < 0) {
        return;
    }
    // Every running instance holds a shared lock, so an exclusive one is only
    // granted when no other instance runs.
    if (LockRetryingOnSignal(fd_, LOCK_EX | LOCK_NB) == 0) {
        LockRetryingOnSignal(fd_, LOCK_SH);  // converting may briefly release the lock
        return;
    }
    otherRunning_ = errno == EWOULDBLOCK;
    // Others hold the lock shared, or exclusive only for a moment while they start.
    LockRetryingOnSignal(fd_, LOCK_SH);
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

}  // namespace orvalin

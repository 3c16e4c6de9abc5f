#include "logs/log_file_access.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace orvalin {
namespace {

constexpr mode_t kLogFileMode = 0644;

int OpenFlags(LockedLogFile::Access access) {
    switch (access) {
        case LockedLogFile::Access::Append:
            return O_WRONLY | O_APPEND | O_CREAT;
        case LockedLogFile::Access::Read:
            return O_RDONLY;
        case LockedLogFile::Access::Rewrite:
            return O_WRONLY | O_CREAT;
    }
    return O_RDONLY;
}

bool IsRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

bool LockExclusiveNow(int fd) {
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

LockedLogFile::LockedLogFile(const std::filesystem::path& file, Access access) {
    // Looking first keeps the open away from devices, where opening alone can
    // have effects; the check after the open covers a file swapped meanwhile.
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return;
    }
    // Non-blocking, so a FIFO without a reader fails at once instead of
    // waiting for one for good.
    fd_ = ::open(file.c_str(), OpenFlags(access) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, kLogFileMode);
    if (fd_ < 0) {
        return;
    }
    if (!IsRegularFile(fd_) || !LockExclusiveNow(fd_)) {
        Close();
        return;
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        Close();
    }
}

LockedLogFile::~LockedLogFile() {
    Close();
}

void LockedLogFile::Unlock() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
    }
}

void LockedLogFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);  // also drops the lock
        fd_ = -1;
    }
}

LogFileReader::LogFileReader(const std::filesystem::path& file)
    : file_(file, LockedLogFile::Access::Read), path_(file) {
    if (!file_.IsOpen()) {
        return;
    }
    std::error_code ec;
    fullPath_ = std::filesystem::canonical(file, ec);
    if (ec) {
        fullPath_ = std::filesystem::absolute(file, ec);
    }
}

ssize_t LogFileReader::Read(char* buffer, std::size_t size) {
    if (!file_.IsOpen()) {
        return -1;
    }
    ssize_t got = 0;
    do {
        got = ::read(file_.Fd(), buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

ssize_t LogFileReader::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const {
    if (!file_.IsOpen()) {
        return -1;
    }
    ssize_t got = 0;
    do {
        got = ::pread(file_.Fd(), buffer, size, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    return got;
}

LogFileReader::Standing LogFileReader::Look() const {
    Standing standing;
    struct stat open {};
    if (!file_.IsOpen() || ::fstat(file_.Fd(), &open) != 0) {
        standing.error = file_.IsOpen() ? errno : EBADF;
        return standing;
    }
    standing.size = static_cast<std::uint64_t>(open.st_size);
    struct stat named {};
    if (::stat(path_.c_str(), &named) != 0) {
        standing.pathExists = false;
        standing.pathNamesIt = false;
    } else {
        standing.pathNamesIt = named.st_dev == open.st_dev && named.st_ino == open.st_ino;
    }
    return standing;
}

bool TruncateLogFile(const std::filesystem::path& file) {
    const LockedLogFile log(file, LockedLogFile::Access::Rewrite);
    int result = -1;
    do {
        result = log.IsOpen() ? ::ftruncate(log.Fd(), 0) : -1;
    } while (result != 0 && log.IsOpen() && errno == EINTR);
    return result == 0;
}

}  // namespace orvalin
